/* The typed print and the end of the process.

   The typed print writes raw C++ values (truth values, numbers, bytes, C text, code addresses) through
   the console writer; the run-time uses it for its own reports. A fatal runtime error ends the
   process with its number as the exit status, after the report

       *** Runtime Error <number>: <message of runtime/fatal_errors.def>
       *** at: <code address as eight hex digits>h

   Code addresses are offsets from the program's load address (platform::code_offset), so the same
   fault reports the same address from run to run. */
#pragma once

#include <cstdint>
#include <initializer_list>

#include "platform/signals.h"

// The code address that the running function returns to, as a runtime error report shows it.
#define OKA_CALLER_ADDRESS() ::oka::platform::code_offset(uintptr_t(__builtin_return_address(0)))

namespace oka::sys {

// One value of the typed print. Built implicitly from bool, int32_t, char (a byte), float, double and
// C text; a code address is built with PrintItem::address.
struct PrintItem {
    enum class Kind : uint8_t { Logic, Integer, Byte, Float32, Float64, String, Address };

    PrintItem(bool value) : kind(Kind::Logic), logic(value) {}
    PrintItem(int32_t value) : kind(Kind::Integer), integer(value) {}
    PrintItem(char value) : kind(Kind::Byte), byte(value) {}
    PrintItem(float value) : kind(Kind::Float32), float32(value) {}
    PrintItem(double value) : kind(Kind::Float64), float64(value) {}
    PrintItem(const char* value) : kind(Kind::String), string(value) {}
    static PrintItem address(uint32_t value) {
        PrintItem item(false);
        item.kind = Kind::Address;
        item.code_address = value;
        return item;
    }

    Kind kind;
    union {
        bool logic;
        int32_t integer;
        char byte;
        float float32;
        double float64;
        const char* string;
        uint32_t code_address;
    };
};

// Prints the items one after another; with `spaced` a space follows every item but the last, unless
// the item just printed ends in a space, LF, CR or tab.
void prin_items_with(std::initializer_list<PrintItem> items, bool spaced);
void prin_items(std::initializer_list<PrintItem> items);
// prin_items, then a line feed.
void print_items(std::initializer_list<PrintItem> items);
void prin_char(char byte);

// Ends the process with `status`; a status other than 0 first prints the runtime error report with
// `address` as the place of the error. Frees the tracked heap on the way out.
[[noreturn]] void quit(int status, uint32_t address);

// The handler of the outermost protected call: a quit request (kThrowQuit) ends the process with
// status 0, any other code that reached it is runtime error 95.
[[noreturn]] void top_handler(uint32_t code);

// Called in a catch block that a C++ exception other than Throw reached (a std::bad_alloc became the
// no-memory error long before): reports runtime error 99, after a line on standard error with what the
// exception says of itself.
[[noreturn]] void on_escaped_exception();
// The handler that std::terminate calls (an exception thrown where none may pass, out of a noexcept
// function, say): the same report.
[[noreturn]] void on_terminate();

// The fatal-signal handler (platform::install_fatal_handlers): reports runtime error `number` at
// `address` and exits with it. It runs in signal context, so it neither allocates nor takes locks.
[[noreturn]] void on_fatal_signal(int number, uint32_t address);

}  // namespace oka::sys
