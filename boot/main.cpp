/* The oka program: the process entry. Everything runs on one thread with a large stack, inside the
   outermost protected call. The console's launcher decides what runs:

       oka                          the console
       oka [--catch] script [args]  runs the script (and then the console, with --catch) */
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "boot/boot.h"
#include "boot/image_start.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
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

Cell text_value(const char* bytes, Type type = Type::String) {
    std::string text = as_utf8(bytes);
    Node node = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    return Cell::of(type).set_node(node);
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

// The arguments after the program's path as one line of text, separated by spaces; an argument holding
// a blank, or none at all, is quoted, so that the line splits back into the same arguments.
std::string arguments_line() {
    std::string line;
    for (int i = 1; i < sys::arg_count; i++) {
        std::string_view argument = sys::args[i];
        bool quoted = argument.empty() || argument.find_first_of(" \t") != argument.npos;
        std::string quote = quoted ? "\"" : "";
        line += (i > 1 ? " " : "") + quote + std::string(argument) + quote;
    }
    return line;
}

// Hands the program's path to system/options/boot and the arguments after it to the console's launcher:
// system/options/args as a block of strings, system/script/args as one line of them (both none when
// there are none).
void publish_arguments() {
    Cell system = *_context::get_in(symbol::make("system"), _context::global);
    if (sys::arg_count > 0) {
        Cell* boot = stack::push(text_value(sys::args[0]));
        set_field(system, "options", "boot", *boot);
        stack::pop(1);
    }
    if (sys::arg_count < 2) return;
    Cell* list = block::push_only_s(sys::arg_count);
    for (int i = 1; i < sys::arg_count; i++) {
        Cell* argument = stack::push(text_value(sys::args[i]));
        block::rs_append(*list, *argument);
        stack::pop(1);
    }
    Cell* text = stack::push(text_value(arguments_line().c_str()));
    set_field(system, "options", "args", *list);
    set_field(system, "script", "args", *text);
    stack::pop(2);
}

// The console takes over: its launcher reads the settings, sets up the terminal, and runs the script
// that the arguments name or the loop, which ends the program itself.
void launch_console() {
    Cell* code = stack::push_next();
    *code = *lexer::load("cli-console-ctx/launch");
    alloc::set_series_flag(code->node(), kSeriesLibrary);  // the console's code, as the library's
    interpreter::eval_block(*code, false);
}

int argument_count;
char** arguments;

// With OKA_MAKE_HEAP_IMAGE set to a path, the program starts from the boot data, writes the image of
// its memory there and ends: the build's last step.
void make_heap_image(const char* path) {
    std::string failure = boot::write_heap_image(path);
    if (!failure.empty()) std::fprintf(stderr, "*** %s\n", failure.c_str());
    std::_Exit(failure.empty() ? 0 : 1);
}

void start_and_run() {
    runtime::init();
    const char* image_out = platform::get_env("OKA_MAKE_HEAP_IMAGE");
    if (image_out || !boot::start_from_heap_image()) boot::build_start_up();
    if (image_out) make_heap_image(image_out);
    boot::start_run();
    // The arguments go to the tracked heap only now: an image takes the place of what was there.
    sys::get_args(argument_count, arguments);
    collector::on = true;
    publish_arguments();
    launch_console();
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
    argument_count = argc;
    arguments = argv;
    return oka::platform::run_with_stack(kStackBytes, run, nullptr);
}
