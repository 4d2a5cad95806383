#include "console/repl.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <string>

#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/system_objects.h"
#include "datatypes/words.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "platform/os.h"
#include "runtime/console_output.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace oka::console {

namespace {

constexpr int kDefaultWidth = 80;
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

// The delimiters that the lines read so far leave open. Each line added continues the scan where the
// last one stopped, so that an input of many lines costs one pass over it.
class Delimiters {
public:
    // Reads the input on from where the last call stopped (the input only grows between calls). True
    // when a block, paren, braced or raw string is still open: more lines belong to the input. A closer
    // that matches no opener is no reason to wait: the input is complete and its load reports the error.
    bool open_q(std::string_view input) {
        for (; next_ < input.size(); next_++)
            if (!read(input, next_)) return false;
        return in_ == In::braced || in_ == In::raw || !blocks_.empty();
    }

private:
    enum class In { code, comment, quoted, braced, raw };

    // Reads the character at `at`, and moves `at` over the ones that go with it (an escaped character,
    // the % signs of a raw string). False at a closer that matches no opener.
    bool read(std::string_view input, size_t& at) {
        char c = input[at];
        switch (in_) {
        case In::code: return read_code(input, at);
        case In::comment:
            if (c == '\n') in_ = In::code;
            break;
        case In::quoted:  // a line end cuts it short: its load reports that
            if (c == '^')
                at++;
            else if (c == '"' || c == '\n')
                in_ = In::code;
            break;
        case In::braced:
            if (c == '^')
                at++;
            else if (c == '{')
                braces_++;
            else if (c == '}' && --braces_ == 0)
                in_ = In::code;
            break;
        case In::raw:  // no escapes and no nesting: the first brace with as many % signs ends it
            if (c == '}' && input.substr(at + 1, percents_) == std::string(percents_, '%')) {
                at += percents_;
                in_ = In::code;
            }
            break;
        }
        return true;
    }

    bool read_code(std::string_view input, size_t& at) {
        char c = input[at];
        if (c == ';') {
            in_ = In::comment;
        } else if (c == '"') {
            in_ = In::quoted;
        } else if (c == '{') {
            in_ = In::braced;
            braces_ = 1;
        } else if (c == '%' && token_start_q(input, at)) {
            read_percents(input, at);
        } else if (c == '[' || c == '(') {
            blocks_ += c;
        } else if (c == ']' || c == ')') {
            if (blocks_.empty() || blocks_.back() != (c == ']' ? '[' : '(')) return false;
            blocks_.pop_back();
        }
        return true;
    }

    // A token starts at the input's start, and after a blank, a block or paren delimiter or the end of
    // a string.
    static bool token_start_q(std::string_view input, size_t at) {
        return at == 0 || std::string_view(" \t\r\n[]()}\"").find(input[at - 1]) != input.npos;
    }

    // % signs at a token's start: a raw string when a brace follows them.
    void read_percents(std::string_view input, size_t& at) {
        size_t after = std::min(input.find_first_not_of('%', at), input.size());
        if (after < input.size() && input[after] == '{') {
            in_ = In::raw;
            percents_ = after - at;
            at = after;
        } else {
            at = after - 1;
        }
    }

    In in_ = In::code;
    std::string blocks_;   // the openers of the blocks and parens not closed yet, innermost last
    int braces_ = 0;       // the depth of the braced string
    size_t percents_ = 0;  // the % signs of the raw string
    size_t next_ = 0;      // the first character not read yet
};

}  // namespace

void set_size(terminal::Size size) {
    const Cell& console = system_objects::references.console;
    int32_t position = console.is(Type::Object) ? object::find_word(console, words::id(Sym::size)) : -1;
    if (position >= 0) pair::make_at(object::get_values(console).get() + position, size.columns, size.rows);
}

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

void run() {
    bool terminal = isatty(0);
    std::string buffer, line;
    Delimiters delimiters;
    for (;;) {
        if (terminal) sys::prin_cstring(buffer.empty() ? kPrompt : "    ");
        if (!std::getline(std::cin, line)) break;
        if (buffer.empty() && line.empty()) continue;
        buffer += line;
        buffer += '\n';
        if (delimiters.open_q(buffer)) continue;
        do_command(buffer, kDefaultWidth);
        buffer.clear();
        delimiters = {};
    }
    // An input that the end of the input cut short is not dropped: its load reports what it misses.
    if (!buffer.empty()) do_command(buffer, kDefaultWidth);
}

}  // namespace oka::console
