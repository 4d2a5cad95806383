#include "runtime/fatal.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <string_view>

#include "platform/signals.h"
#include "platform/terminal.h"
#include "runtime/base.h"
#include "runtime/cell.h"
#include "runtime/console_output.h"
#include "runtime/memory.h"
#include "runtime/print_hooks.h"
#include "runtime/throw.h"

namespace oka {

namespace sys {

namespace {

void prin_item(const PrintItem& item) {
    switch (item.kind) {
    case PrintItem::Kind::Logic: prin_cstring(item.logic ? "true" : "false"); break;
    case PrintItem::Kind::Integer: console::prin_int(item.integer); break;
    case PrintItem::Kind::Byte: prin_char(item.byte); break;
    case PrintItem::Kind::Float32: console::prin_float32(item.float32); break;
    case PrintItem::Kind::Float64: console::prin_float64(item.float64); break;
    case PrintItem::Kind::String: prin_cstring(item.string); break;
    case PrintItem::Kind::Address: console::prin_hex8(item.code_address); break;
    }
}

// Only a byte or C text can end in a blank.
bool ends_in_blank(const PrintItem& item) {
    std::string_view text;
    if (item.kind == PrintItem::Kind::Byte) text = {&item.byte, 1};
    if (item.kind == PrintItem::Kind::String) text = item.string;
    return !text.empty() && std::string_view(" \n\r\t").find(text.back()) != std::string_view::npos;
}

void prin_all(std::initializer_list<PrintItem> items, bool spaced) {
    const PrintItem* previous = nullptr;
    for (const PrintItem& item : items) {
        if (spaced && previous && !ends_in_blank(*previous)) prin_char(' ');
        prin_item(item);
        previous = &item;
    }
}

constexpr char kUnknownErrorMessage[] = "unknown error code!";

const char* runtime_error_message(int number) {
    switch (number) {
#define OKA_FATAL(n, message) \
    case n:                   \
        return message;
#include "runtime/fatal_errors.def"
#undef OKA_FATAL
    }
    return kUnknownErrorMessage;
}

constexpr size_t kLongestMessage = std::max({sizeof(kUnknownErrorMessage)
#define OKA_FATAL(n, message) , sizeof(message)
#include "runtime/fatal_errors.def"
#undef OKA_FATAL
});

// The runtime error report, composed without allocating or locking so that the fatal-signal handler
// can build it as well as quit.
class Report {
public:
    Report(int number, uint32_t address) {
        put("\n*** Runtime Error ");
        end_ = std::to_chars(end_, std::end(text_), number).ptr;
        put(": ");
        put(runtime_error_message(number));
        put("\n*** at: ");
        for (int shift = 28; shift >= 0; shift -= 4) *end_++ = "0123456789ABCDEF"[address >> shift & 0xF];
        put("h\n");
        *end_ = '\0';
    }

    const char* text() const { return text_; }
    size_t length() const { return size_t(end_ - text_); }

private:
    void put(const char* s) {
        while (*s) *end_++ = *s++;
    }

    static constexpr size_t kRoom =
        sizeof("\n*** Runtime Error -2147483648: ") + kLongestMessage + sizeof("\n*** at: 00000000h\n");
    char text_[kRoom];
    char* end_ = text_;
};

constexpr int kEscapedException = 99;

// What the exception says of itself, valid while `e` holds it.
const char* exception_text(const std::exception_ptr& e) {
    if (!e) return "terminate called with no exception";
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& known) {
        return known.what();
    } catch (...) {
        return "an exception of no standard type";
    }
}

[[noreturn]] void report_exception(uint32_t address) {
    std::exception_ptr e = std::current_exception();
    std::fprintf(stderr, "C++ exception: %s\n", exception_text(e));
    quit(kEscapedException, address);
}

}  // namespace

void prin_items_with(std::initializer_list<PrintItem> items, bool spaced) {
    io::PrintScope scope;
    prin_all(items, spaced);
}

void prin_items(std::initializer_list<PrintItem> items) { prin_items_with(items, false); }

void print_items(std::initializer_list<PrintItem> items) {
    io::PrintScope scope;
    prin_all(items, false);
    prin_char('\n');
}

void prin_char(char byte) {
    const char text[] = {byte, '\0'};
    prin_cstring(text);
}

void quit(int status, uint32_t address) {
    // A report is written where the user will see it: not on a view's alternate screen, not raw.
    if (status != 0) {
        platform::restore_terminal();
        prin_items({Report(status, address).text()});
    }
    release_heap();
    std::exit(status);
}

void top_handler(uint32_t code) {
    if (code == kThrowQuit) quit(0, 0);
    quit(95, platform::code_offset(uintptr_t(&top_handler)));
}

void on_escaped_exception() { report_exception(OKA_CALLER_ADDRESS()); }

void on_terminate() { report_exception(OKA_CALLER_ADDRESS()); }

void on_fatal_signal(int number, uint32_t address) {
    Report report(number, address);
    platform::restore_terminal();
    // One write, no locks: the heap or a stdio stream may be what just broke. A failed write changes nothing.
    [[maybe_unused]] ssize_t written = ::write(1, report.text(), report.length());
    _exit(number);
}

}  // namespace sys

void assertion_failed(const char* expression, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, expression);
    sys::quit(98, OKA_CALLER_ADDRESS());
}

namespace payload {

constexpr const char* kFieldNames[] = {
#define OKA_FIELD(name, word, type) #name,
#include "runtime/type_layouts.def"
};

void field_refused(Field field, uint8_t type, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: a cell of type %u has no payload field %s\n", file, line, type,
                 kFieldNames[uint8_t(field)]);
    sys::quit(98, OKA_CALLER_ADDRESS());
}

void content_refused(uint8_t type, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: a cell of type %u names nodes: its content is not its payload words\n", file, line,
                 type);
    sys::quit(98, OKA_CALLER_ADDRESS());
}

}  // namespace payload

}  // namespace oka
