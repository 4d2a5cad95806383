// The routines of the base environment, the call-stack test of system/state/interpreted? and the
// collector statistics of system/state/GC.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/trace.h"
#include "library/routines.h"
#include "platform/files.h"
#include "platform/os.h"
#include "platform/os_info.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/types.h"
#include "runtime/unicode.h"

namespace oka::library {

namespace {

Cell* make_string_at(Cell* cell, const std::string& text) {
    Node node = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    *cell = Cell::of(Type::String).set_node(node);
    return cell;
}

// The routines that give nothing leave unset as their result.
void give_nothing(Cell* arguments) { unset::make_at(arguments); }

// The shift native's entry, its refinement /left or /logical given as the direction asks (their
// position is that of the frame's result slot: they take no argument).
enum class Shift : uint8_t { right, left, right_logical };
void shift(Shift direction) {
    int32_t positions[2] = {direction == Shift::left ? 0 : -1, direction == Shift::right_logical ? 0 : -1};
    natives::shift_s(positions);
}

// A tuple of the components' low bytes, in order; script invalid-arg for the first negative one.
void pack_tuple(Cell* arguments, uint32_t count) {
    uint8_t bytes[4];
    for (uint32_t i = 0; i < count; i++) {
        int32_t component = integer::get(arguments[i]);
        if (component < 0) error::fire_with_integer(Err::script_invalid_arg, component);
        bytes[i] = uint8_t(component);
    }
    tuple::make_at(arguments, bytes, count);
}

// A data-stack cell is handed to a script only when it is a value the language knows: the run-time
// keeps cells of its own kinds there (symbols, contexts, triples, unfilled cells) that no action takes.
bool script_value_q(const Cell& cell) {
    Type type = cell.type();
    return datatype::registered_q(type) && type != Type::Symbol && type != Type::Context && type != Type::Triple;
}

BufPtr<Cell> field_of(const Cell& object, const char* name) {
    int32_t position = object::find_word(object, symbol::make(name));
    OKA_ASSERT(position >= 0);
    return BufPtr<Cell>(object::get_values(object).get() + position);
}

}  // namespace

void quit_return_r(Cell* arguments) {
    int status = integer::get(arguments[0]);
    std::fflush(nullptr);
    std::exit(status);
}

void set_quiet_r(Cell* arguments) {
    Cell* word = &arguments[0];
    if (!is_a(word->type(), TypeClass::any_word)) error::fire_in_function(Err::script_expect_arg, word->type());
    if (!word->context()) fire(Err::script_not_defined, word);
    Cell value = arguments[1];
    _context::set_in(word, value, word->context(), false);
    arguments[0] = value;
}

void set_slot_quiet_r(Cell* arguments) {
    Cell series = arguments[0];
    bool cells = is_a(series.type(), TypeClass::any_block) && !series.is(Type::Hash);
    // The error names the type it was given, so that a caller sees what it passed.
    if (!cells) error::fire_in_function(Err::script_expect_arg, series.type());
    if (!series::rs_tail_q(series)) *block::rs_abs_at(series, series.head()) = arguments[1];
    give_nothing(arguments);
}

void shift_right_r(Cell*) { shift(Shift::right); }
void shift_left_r(Cell*) { shift(Shift::left); }
void shift_logical_r(Cell*) { shift(Shift::right_logical); }

void get_current_dir_r(Cell* arguments) {
    std::string path = platform::get_current_dir();
    if (path.empty() || path.back() != '/') path += '/';
    make_string_at(arguments, path);
}

void set_current_dir_r(Cell* arguments) {
    if (!platform::set_current_dir(file::os_path_checked(arguments[0]).c_str()))
        fire(Err::access_cannot_open, &arguments[0]);
    give_nothing(arguments);
}

void create_dir_r(Cell* arguments) {
    if (!platform::make_directory(file::os_path_checked(arguments[0]).c_str()))
        fire(Err::access_no_create, &arguments[0]);
    give_nothing(arguments);
}

void exists_q_r(Cell* arguments) {
    logic::make_at(arguments, platform::path_exists(file::os_path_checked(arguments[0]).c_str()));
}

void os_info_r(Cell* arguments) {
    platform::OsInfo info = platform::os_info();
    interpreter::eval_block(*lexer::load("make object! [name: arch: version: build: none]"), true);
    Cell* object = stack::push(arguments[0]);
    Cell* name = make_string_at(stack::push_next(), info.name);
    *field_of(*object, "name") = *name;
    Cell arch = word::load(info.architecture);
    *field_of(*object, "arch") = arch;
    uint8_t version[3] = {uint8_t(info.version[0]), uint8_t(info.version[1]), uint8_t(info.version[2])};
    tuple::make_at(&*field_of(*object, "version"), version, 3);
    integer::make_at(&*field_of(*object, "build"), info.build);
    arguments[0] = *object;
}

void as_color_r(Cell* arguments) { pack_tuple(arguments, 3); }
void as_ipv4_r(Cell* arguments) { pack_tuple(arguments, 4); }
void as_rgba_r(Cell* arguments) { pack_tuple(arguments, 4); }

// The bytes are copied out first: a sequence cut short at the end is read up to a NUL, never past it.
void count_chars_r(Cell* arguments) {
    const Cell& start = arguments[0];
    uint32_t from = start.head(), to = std::min(arguments[1].head(), series::rs_buffer_length_q(start));
    uint32_t count = 0;
    if (to > from) {
        const uint8_t* bytes = mem::ptr<uint8_t>(mem::buffer(start.node())->offset);
        std::string text(reinterpret_cast<const char*>(bytes) + from, to - from);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(text.c_str());
        count = unicode::count_utf8_chars(p, p + text.size());
    }
    integer::make_at(arguments, int32_t(count));
}

void stack_size_q_r(Cell* arguments) { integer::make_at(arguments, int32_t(stack::top - stack::bottom)); }

void pick_stack_r(Cell* arguments) {
    int32_t index = integer::get(arguments[0]);
    Cell picked = none::value;
    if (index > 0 && index < stack::top - stack::bottom && script_value_q(stack::bottom[index - 1]))
        picked = stack::bottom[index - 1];
    arguments[0] = picked;
}

// The frame of the routine's caller: a routine looks at the code that called it, not at its own frame.
Cell* caller_base() { return mem::ptr<Cell>(stack::get_ctop()->saved_base); }

// The frame base of the innermost function call around the routine's (the blocks, parens and natives
// the call sits in are passed over); the bottom of the stack when there is none.
Cell* function_base() {
    Cell* base = interpreter::running_body_base();
    return base ? base : stack::bottom;
}

void frame_index_q_r(Cell* arguments) { integer::make_at(arguments, int32_t(function_base() - stack::bottom)); }

void collect_calls_r(Cell* arguments) {
    stack::collect_calls(arguments[0], stack::get_ctop(), caller_base());
    give_nothing(arguments);
}

// True while a do/trace evaluation runs, also inside library code, whose bodies fire no events: the
// tools ask it to learn whether a trace is under way.
void tracing_q_r(Cell* arguments) { logic::make_at(arguments, trace::trace_mode); }

void _set_tracing_r(Cell* arguments) {
    trace::switch_for_caller(logic::get(arguments[0]));
    give_nothing(arguments);
}

void write_stdout_r(Cell* arguments) {
    std::vector<uint8_t> bytes = binary::encode(&arguments[0], -1, {.forms_others = true});
    platform::write_all(1, bytes.data(), bytes.size());
    give_nothing(arguments);
}

// Any frame that the interpreter pushed: an interpreted function or native call, or a block evaluation.
void interpreted_q_r(Cell* arguments) {
    bool interpreted = false;
    for (const stack::CallFrame* frame = stack::call_bottom; frame < stack::call_top; frame++)
        interpreted = interpreted || (frame->header & stack::kFrameInterpreted);
    logic::make_at(arguments, interpreted);
}

// The switch of system/options/float/pretty?: the clean-up steps of the float formatting.
void set_float_pretty_r(Cell* arguments) {
    float_::pretty_print_q = logic::get(arguments[0]);
    give_nothing(arguments);
}

void gc_active_q_r(Cell* arguments) { logic::make_at(arguments, collector::on); }
void gc_series_cycles_r(Cell* arguments) { integer::make_at(arguments, int32_t(collector::cycles)); }
void gc_nodes_cycles_r(Cell* arguments) { integer::make_at(arguments, int32_t(collector::node_cycles)); }

}  // namespace oka::library
