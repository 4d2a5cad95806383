#include "console/repl.h"

#include <string>

#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "runtime/console_output.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace oka::console {

namespace {

constexpr const char* kPrompt = ">> ";
constexpr const char* kResultPrefix = "==";

void print_text(const Cell& string) { io::call_print_hooks(&string, true); }

// The text of a value as the console shows it: formed for a float, molded otherwise, with at most
// `limit` + 5 characters.
Cell* push_shown(const Cell& value, int32_t limit) {
    Cell* item = stack::push(value);
    Cell* text = string::rs_make_at(stack::push_next(), 16);
    Cell part;
    integer::make_at(&part, limit + 5);
    if (value.is(Type::Float))
        actions::call<Act::form>(item, text, &part, limit + 5);
    else
        actions::call<Act::mold>(item, text, MoldOptions{.limit = &part}, limit + 5, 0);
    string::clip_tail(text, limit + 5);
    return text;
}

// A result too long for the console keeps its first characters and ends with "...".
void cut_to_width(Cell* text, int32_t limit) {
    int32_t keep = limit - int32_t(std::char_traits<char>::length(kPrompt)) - 1;
    if (int32_t(mem::buffer(text->data2)->length()) <= limit) return;
    string::clip_tail(text, keep);
    string::concatenate_literal(text, "...", 3);
}

void print_result(const Cell& value, int width) {
    int32_t limit = width - 3;
    Cell* saved = stack::top;
    Cell* text = push_shown(value, limit);
    cut_to_width(text, limit);
    Cell* line = string::rs_make_at(stack::push_next(), 16);
    string::concatenate_literal(line, kResultPrefix, 2);
    string::concatenate_literal(line, " ", 1);
    string::concatenate(*line, *text, -1, 0, string::Mode::append);
    print_text(*line);
    stack::top = saved;
}

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

}  // namespace

void do_command(std::string_view input, int width) {
    Cell* saved = stack::top;
    Cell error;
    Cell* code = stack::push_next();  // holds the code while it runs: trap drops what the load pushes
    if (error::trap([&] { *code = *lexer::load(input); }, &error)) {
        print_error(error);
        stack::top = saved;
        return;
    }
    Cell block = *code;
    Cell result;
    bool failed = error::trap(
        [&] {
            interpreter::eval_block(block, false);
            result = stack::top[-1];
        },
        &error);
    stack::top = saved;
    if (!failed && result.is(Type::Error)) {
        error = result;
        failed = true;
    }
    if (failed) {
        print_error(error);
        return;
    }
    if (result.is(Type::Unset)) return;
    if (error::trap([&] { print_result(result, width); }, &error)) print_error(error);
    stack::top = saved;
}

}  // namespace oka::console
