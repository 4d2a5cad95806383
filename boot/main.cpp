/* The oka program: the process entry. Everything runs on one thread with a large stack, inside the
   outermost protected call.

       oka                 the console
       oka script [args]   runs the script */
#include <fstream>
#include <sstream>
#include <string>

#include "boot/boot.h"
#include "boot/startup.h"
#include "console/repl.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "platform/signals.h"
#include "platform/thread_stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace {

using namespace oka;

constexpr size_t kStackBytes = size_t(512) << 20;

Cell text_value(std::string_view text) {
    Node node = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    return Cell{uint8_t(Type::String), 0, node, 0};
}

// A script is Oka text that begins with its header: the word Oka and a block.
bool has_header(const Cell& code) {
    if (series::rs_length_q(code) < 2) return false;
    Cell first = *block::rs_abs_at(code, code.data1), second = *block::rs_abs_at(code, code.data1 + 1);
    return first.is(Type::Word) && symbol::name(symbol::resolve(first.data2)) == "Oka" && second.is(Type::Block);
}

void run_script(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        Cell name = text_value(path);
        fire(Err::access_cannot_open, &name);
    }
    std::stringstream text;
    text << file.rdbuf();
    Cell* code = lexer::load(text.str());
    if (!has_header(*code)) {
        Cell name = text_value(path);
        fire(Err::syntax_no_header, &name);
    }
    code->data1 += 2;
    interpreter::eval_block(*code, false);
}

int run(void*) {
    platform::prepare_thread_for_faults();
    try {
        runtime::init();
        boot::define_built_ins();
        boot::run_library();
        _context::collecting_new_words = false;
        collector::on = true;
        if (sys::arg_count > 1) run_script(sys::args[1]);
        else console::run();
    } catch (const Throw& t) {
        sys::top_handler(t.code);
    }
    sys::quit(0, 0);
}

}  // namespace

int main(int argc, char** argv) {
    oka::platform::install_fatal_handlers(oka::sys::on_fatal_signal);
    oka::mem::reserve();
    oka::sys::get_args(argc, argv);
    return oka::platform::run_with_stack(kStackBytes, run, nullptr);
}
