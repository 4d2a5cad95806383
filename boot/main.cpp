/* The oka program: the process entry. Everything runs on one thread with a large stack, inside the
   outermost protected call.

       oka                 the console
       oka script [args]   runs the script */
#include <cctype>
#include <cstdint>
#include <exception>
#include <string>

#include "boot/boot.h"
#include "boot/startup.h"
#include "console/repl.h"
#include "console/terminal.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/words.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "platform/os.h"
#include "platform/signals.h"
#include "platform/thread_stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace {

using namespace oka;

constexpr size_t kStackBytes = size_t(512) << 20;
constexpr size_t kLongestScript = UINT32_MAX;  // the lexer counts a text's bytes in 32 bits

// Command-line text is bytes that are mostly UTF-8, but a name made under another encoding is not: a
// byte that starts no valid sequence stands for its Latin-1 character, so that every argument reaches
// the script.
std::string as_utf8(const char* bytes) {
    std::string text;
    for (const auto* p = reinterpret_cast<const uint8_t*>(bytes); *p;) {
        int32_t code_point;
        const uint8_t* next = unicode::fast_decode_utf8_char(p, code_point);
        if (code_point < 0) {
            code_point = *p;
            next = p + 1;
        }
        uint8_t encoded[4];
        text.append(reinterpret_cast<const char*>(encoded), unicode::cp_to_utf8(uint32_t(code_point), encoded));
        p = next;
    }
    return text;
}

Cell text_value(const char* bytes) {
    std::string text = as_utf8(bytes);
    Node node = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    return Cell{uint8_t(Type::String), 0, node, 0};
}

// The header starts where "Oka", an optional "/System", white space and "[" follow each other; any text
// before it (a shell line, say) is not part of the script.
size_t header_start(std::string_view text) {
    for (size_t at = text.find("Oka"); at != text.npos; at = text.find("Oka", at + 1)) {
        size_t next = at + 3;
        if (text.substr(next, 7) == "/System") next += 7;
        while (next < text.size() && std::isspace(static_cast<unsigned char>(text[next]))) next++;
        if (next < text.size() && text[next] == '[') return at;
    }
    return text.npos;
}

bool has_header(const Cell& code) {
    if (series::rs_length_q(code) < 2) return false;
    Cell first = *block::rs_abs_at(code, code.data1), second = *block::rs_abs_at(code, code.data1 + 1);
    // Compared case ignored, as words are: which spelling of a name was made first (the currency code
    // OKA, say) must not matter.
    return first.is(Type::Word) && symbol::resolve(first.data2) == symbol::resolve(words::id(Sym::Oka)) &&
           second.is(Type::Block);
}

bool mentions_system_code(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("oka/system") != lower.npos;
}

// A script that cannot run is a failed run, like a script whose error nothing catches.
[[noreturn]] void refuse(const char* why) {
    sys::print_items({"*** Error: ", why});
    std::exit(-2);
}

// The value cell of an object's field, by name.
BufPtr<Cell> field_of(const Cell& object, std::string_view name) {
    int32_t position = object::find_word(object, symbol::make(name));
    OKA_ASSERT(position >= 0);
    return BufPtr<Cell>(object::get_values(object).get() + position);
}

// Sets system/<holder>/<field>. The holder object is copied out of its field first: naming a field may
// add a symbol, which may move the buffer that field lies in.
void set_field(const Cell& system, std::string_view holder, std::string_view field, const Cell& value) {
    Cell object = *field_of(system, holder);
    *field_of(object, field) = value;
}

// The arguments from `first` on as one line of text, separated by spaces; an argument holding a blank,
// or none at all, is quoted, so that the line splits back into the same arguments.
std::string one_line(int first) {
    std::string line;
    for (int i = first; i < sys::arg_count; i++) {
        std::string_view argument = sys::args[i];
        bool quoted = argument.empty() || argument.find_first_of(" \t") != argument.npos;
        std::string quote = quoted ? "\"" : "";
        line += (i > first ? " " : "") + quote + std::string(argument) + quote;
    }
    return line;
}

// Hands the program's path to system/options/boot and the script the arguments after its name:
// system/options/args as a block of strings, system/script/args as one line of them (both none without
// a script).
void publish_arguments(int first) {
    Cell system = *_context::get_in(symbol::make("system"), _context::global);
    if (sys::arg_count > 0) {
        Cell* boot = stack::push(text_value(sys::args[0]));
        set_field(system, "options", "boot", *boot);
        stack::pop(1);
    }
    if (first > sys::arg_count) return;
    Cell* list = block::push_only_s(sys::arg_count - first + 1);
    for (int i = first; i < sys::arg_count; i++) {
        Cell* argument = stack::push(text_value(sys::args[i]));
        block::rs_append(*list, *argument);
        stack::pop(1);
    }
    Cell* text = stack::push(text_value(one_line(first).c_str()));
    set_field(system, "options", "args", *list);
    set_field(system, "script", "args", *text);
    stack::pop(2);
}

void run_script(const char* path) {
    std::string text;
    if (!platform::read_file(path, text, kLongestScript)) {
        Cell* name = stack::push(text_value(path));  // held while the error is built
        fire(Err::access_cannot_open, name);
    }
    size_t start = header_start(text);
    if (start == text.npos) refuse("Oka header not found!");
    Cell* code = lexer::load(std::string_view(text).substr(start));
    if (!has_header(*code)) {
        refuse(mentions_system_code(text) ? "contains Oka/System code which requires compilation!"
                                          : "not a Oka program!");
    }
    code->data1 += 2;
    interpreter::eval_block(*code, false);
}

void start_and_run() {
    runtime::init();
    boot::finish_start_up();
    collector::on = true;
    terminal::init();
    console::set_size(terminal::size());
    if (sys::arg_count > 1) {
        publish_arguments(2);
        run_script(sys::args[1]);
    } else {
        publish_arguments(sys::arg_count + 1);
        console::run();
    }
}

// A std::bad_alloc that reaches this far (the script's text, a console line) is the no-memory error,
// which nothing catches here; any other C++ exception is a runtime error.
int run(void*) {
    platform::prepare_thread_for_faults();
    try {
        no_memory_for_bad_alloc(start_and_run);
    } catch (const Throw& t) {
        sys::top_handler(t.code);
    } catch (...) {
        sys::on_escaped_exception();
    }
    sys::quit(0, 0);
}

}  // namespace

int main(int argc, char** argv) {
    std::set_terminate(oka::sys::on_terminate);
    oka::platform::install_fatal_handlers(oka::sys::on_fatal_signal);
    oka::mem::reserve();
    oka::sys::get_args(argc, argv);
    return oka::platform::run_with_stack(kStackBytes, run, nullptr);
}
