#include "console/line_input.h"

#include <string>

#include "console/terminal.h"
#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "library/routines.h"

namespace oka {

namespace {

bool set_up = false;
bool input_ended = false;  // the last edit found the end of the input

void set_up_editor() {
    if (set_up) return;
    terminal::init();
    terminal::init_globals();
    set_up = true;
}

}  // namespace

void line_input::init_console(const char* title) {
    terminal::Size size = terminal::console_init(title);
    set_up = true;
    pair::make_at(&*library::field_cell("system/console/size"), size.columns, size.rows);
}

namespace library {

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

void input_stdin_r(Cell* arguments) { terminal::input_stdin(arguments); }

void read_stdin_r(Cell* arguments) {
    terminal::read_stdin(arguments[0], integer::get(arguments[1]));
    none::make_at(arguments);
}

void console_init_r(Cell* arguments) {
    line_input::init_console(binary::utf8_of(arguments[0]).c_str());
    none::make_at(arguments);
}

}  // namespace library

}  // namespace oka
