#include "console/repl.h"

#include "console/terminal.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/system_objects.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "library/routines.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace oka::console {

namespace {

// Bound to the console's object; the input takes the place of the word `input`. The console is the one
// start-up made, whatever the word system holds by then.
constexpr std::string_view kEvaluate = "append clear buffer input do-command";
constexpr uint32_t kInputPosition = 3;

void print_text(const Cell& string) { io::call_print_hooks(&string, true); }

// The error may be held by nothing else: it waits on the data stack while its report is made.
void print_report(const Cell& error) {
    Cell* item = stack::push(error);
    Cell* text = string::rs_make_at(stack::push_next(), 64);
    actions::call<Act::form>(item, text, nullptr, 0x7FFFFFFF);
    print_text(*text);
    string::rs_make_at(text, 1);
    print_text(*text);
}

// Making the report allocates. Should that raise an error (memory ran out), the report of that error
// takes its place; should that fail too, the run-time's record of the last error raised is printed.
void print_error(const Cell& error) {
    Cell failure;
    if (error::trap([&] { print_report(error); }, &failure) && error::trap([&] { print_report(failure); }))
        error::print_raised();
}

void evaluate(std::string_view input) {
    Cell* code = stack::push_next();
    *code = *lexer::load(kEvaluate);
    alloc::set_series_flag(code->node(), kSeriesLibrary);  // the console's code, as the library's
    _context::bind(*code, system_objects::references.console.context(), false);
    Node text = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(input.data()), uint32_t(input.size()));
    *block::rs_abs_at(*code, kInputPosition) = Cell::of(Type::String).set_node(text);
    interpreter::eval_block(*code, false);
}

}  // namespace

void use_size_without_terminal() {
    pair::make_at(&*library::field_cell("system/console/size"), terminal::kNoSize.columns, terminal::kNoSize.rows);
}

void do_command(std::string_view input) {
    Cell* saved = stack::top;
    Cell error;
    if (error::trap([&] { evaluate(input); }, &error)) print_error(error);
    stack::top = saved;
}

}  // namespace oka::console
