#include "console/line_input.h"

#include <iterator>
#include <string>

#include "console/terminal.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "library/routines.h"
#include "platform/os.h"

namespace oka {

namespace {

bool set_up = false;
bool input_ended = false;  // the last edit found the end of the input

// True when every value of the block from its position is text the editor can show.
bool candidates_q(const Cell& block) {
    for (uint32_t i = block.head(); i < series::rs_buffer_length_q(block); i++)
        if (!is_a(block::rs_abs_at(block, i)->type(), TypeClass::any_string)) return false;
    return true;
}

// Completion on Tab: what the global word oka-complete-input gives for a copy of the line (at the
// cursor) and console? true. It is looked up at each Tab, so that a script may replace it. When it
// raises an error or throws, is no function, or gives anything but a block of strings, the
// completion fails: the editor then leaves the line as it was.
void complete_line(const Cell& line, Cell* result) {
    Cell name = word::load("oka-complete-input");
    Cell function = *word::get_cell(name);
    if (!function.is(Type::Function)) return;
    Cell answer = none::value;
    error::trap([&] {
        Cell* held = stack::push(function);  // should the function set the word anew, it runs on
        Cell whole = line;
        whole.set_head(0);
        Cell* arguments = string::rs_make_at(stack::push_next(), string::rs_abs_length_q(line));
        string::concatenate(*arguments, whole, -1, 0, string::Mode::append);
        arguments->set_head(line.head());
        logic::push(true);
        interpreter::call_function(*held, arguments, 2, name);
        answer = *arguments;
    });
    if (answer.is(Type::Block) && candidates_q(answer)) *result = answer;
}

// What the console shows (results, help, listings) is cut to system/console/size, which follows the
// window.
void publish_size(terminal::Size size) {
    pair::make_at(&*library::field_cell("system/console/size"), size.columns, size.rows);
}

void listen_to_editor() {
    terminal::set_completer(complete_line);
    terminal::set_size_listener(publish_size);
    set_up = true;
}

void set_up_editor() {
    if (set_up) return;
    terminal::init();
    terminal::init_globals();
    listen_to_editor();
}

}  // namespace

void line_input::init_console(const char* title) {
    terminal::Size size = terminal::console_init(title);
    listen_to_editor();
    publish_size(size);
}

namespace {

// ---- the routines

void _set_buffer_history_r(Cell* arguments) {
    set_up_editor();
    terminal::setup(arguments[0], arguments[1]);
    none::make_at(arguments);
}

void _read_input_r(Cell* arguments) {
    set_up_editor();
    input_ended = !terminal::edit(arguments[0], logic::get(arguments[1]));
    none::make_at(arguments);
}

void _input_ended_q_r(Cell* arguments) { logic::make_at(arguments, input_ended); }

void _terminate_console_r(Cell* arguments) { none::make_at(arguments); }

// The report of what ended a script run from the command line goes where failures go, not among the
// script's output.
void _print_error_r(Cell* arguments) {
    std::string text = binary::utf8_of(arguments[0]) + "\n";
    platform::write_all(2, text.data(), text.size());
    none::make_at(arguments);
}

void input_stdin_r(Cell* arguments) { terminal::input_stdin(arguments); }

void read_stdin_r(Cell* arguments) {
    terminal::read_stdin(arguments[0], integer::get(arguments[1]));
    none::make_at(arguments);
}

void console_init_r(Cell* arguments) {
    line_input::init_console(binary::utf8_of(arguments[0]).c_str());
    none::make_at(arguments);
}

constexpr library::RoutineRow kRows[] = {
#define OKA_ROUTINE(Name, target, spec) {target, spec, &Name##_r},
#include "console/routines.def"
};
static_assert(std::size(kRows) == 8, "the routines of line input");

}  // namespace

void line_input::add_routines() { library::add_routines(kRows); }

}  // namespace oka
