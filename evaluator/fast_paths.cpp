#include "evaluator/fast_paths.h"

#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/fatal.h"

namespace oka::actions {

namespace {

using integer::MathOp;

// Runs an action on a native frame holding `args`; its result is left pushed.
template <class Run>
Cell* run_on_frame(const Cell& name, std::initializer_list<Cell> args, Run run) {
    Cell* result = stack::top;
    stack::mark_native(name);
    for (const Cell& arg : args) stack::push(arg);
    run();
    stack::unwind();
    return result;
}

// The actions called here take no refinements.
Cell* call_on_frame(StackEntry entry, const Cell& name, std::initializer_list<Cell> args) {
    return run_on_frame(name, args, [entry] { entry(nullptr); });
}

Cell integer_cell(int32_t value) {
    Cell c;
    integer::make_at(&c, value);
    return c;
}

// ---- math ----

StackEntry math_entry(MathOp op) {
    switch (op) {
    case MathOp::add: return add_s;
    case MathOp::subtract: return subtract_s;
    case MathOp::multiply: return multiply_s;
    case MathOp::or_: return or__s;
    case MathOp::and_: return and__s;
    case MathOp::xor_: return xor__s;
    default: sys::quit(101, OKA_CALLER_ADDRESS());
    }
}

// Two integers, or two floats under add, subtract and multiply, are computed here into `result`
// (which may be a's own cell); false leaves it to the action.
bool math_here(MathOp op, const Cell& a, const Cell& b, Cell* result) {
    if (a.is(Type::Integer) && b.is(Type::Integer)) {
        integer::do_math_op(integer::get(a), integer::get(b), op, result);
        return true;
    }
    bool float_op = op == MathOp::add || op == MathOp::subtract || op == MathOp::multiply;
    if (!float_op || !a.is(Type::Float) || !b.is(Type::Float)) return false;
    float_::make_at(result, float_::do_math_op(float_::get(a), float_::get(b), op));
    return true;
}

Cell* pushed_math(MathOp op, const Cell& name, const Cell& a, const Cell& b) {
    StackEntry entry = math_entry(op);
    Cell result;
    if (math_here(op, a, b, &result)) return stack::push(result);
    return call_on_frame(entry, name, {a, b});
}

Cell* top_math(MathOp op, const Cell& name, const Cell& b) {
    StackEntry entry = math_entry(op);
    Cell* a = stack::get_top();
    if (math_here(op, *a, b, a)) return a;
    call_on_frame(entry, name, {*a, b});
    stack::collapse_top();
    return a;
}

// ---- comparison ----

// The truth of `a op b`; nothing is left on the stack.
bool compared(CompareOp op, const Cell& name, const Cell& a, const Cell& b) {
    if (op < kCompareEqual || op > kCompareGreaterEqual) sys::quit(101, OKA_CALLER_ADDRESS());
    if (a.is(Type::Integer) && b.is(Type::Integer)) return integers_compared(integer::get(a), integer::get(b), op);
    Cell* answer = run_on_frame(name, {a, b}, [op] { compare_s(op); });
    stack::pop(1);
    return logic::get(*answer);
}

// ---- blocks ----

StackEntry series_entry(SeriesOp op) {
    switch (op) {
    case SeriesOp::length_q: return length_q_s;
    case SeriesOp::index_q: return index_q_s;
    case SeriesOp::head_q: return head_q_s;
    case SeriesOp::tail_q: return tail_q_s;
    case SeriesOp::next: return next_s;
    case SeriesOp::back: return back_s;
    case SeriesOp::head: return head_s;
    case SeriesOp::tail: return tail_s;
    default: sys::quit(101, OKA_CALLER_ADDRESS());
    }
}

Cell* push_at(const Cell& block, uint32_t head) {
    Cell* moved = stack::push(block);
    moved->data1 = head;
    return moved;
}

}  // namespace

Cell* math_cells(MathOp op, const Cell& name, const Cell& a, const Cell& b) { return pushed_math(op, name, a, b); }

Cell* math_int(MathOp op, const Cell& name, const Cell& a, int32_t b) {
    return pushed_math(op, name, a, integer_cell(b));
}

Cell* math_top_cell(MathOp op, const Cell& name, const Cell& b) { return top_math(op, name, b); }
Cell* math_top_int(MathOp op, const Cell& name, int32_t b) { return top_math(op, name, integer_cell(b)); }

Cell* compare_cells_push(CompareOp op, const Cell& name, const Cell& a, const Cell& b) {
    return logic::push(compared(op, name, a, b));
}

Cell* compare_int_push(CompareOp op, const Cell& name, const Cell& a, int32_t b) {
    return compare_cells_push(op, name, a, integer_cell(b));
}

bool compare_cells_test(CompareOp op, const Cell& name, const Cell& a, const Cell& b, bool expected) {
    return compared(op, name, a, b) != expected;
}

bool compare_int_test(CompareOp op, const Cell& name, const Cell& a, int32_t b, bool expected) {
    return compare_cells_test(op, name, a, integer_cell(b), expected);
}

bool compare_cells_set(CompareOp op, const Cell& name, const Cell& a, const Cell& b) {
    return logic::get(*logic::box(compared(op, name, a, b)));
}

bool compare_int_set(CompareOp op, const Cell& name, const Cell& a, int32_t b) {
    return compare_cells_set(op, name, a, integer_cell(b));
}

void compare_top_cell(CompareOp op, const Cell& name, const Cell& b) {
    Cell* a = stack::get_top();
    logic::make_at(a, compared(op, name, *a, b));
}

void compare_top_int(CompareOp op, const Cell& name, int32_t b) { compare_top_cell(op, name, integer_cell(b)); }

bool floats_in_place(MathOp op, const Cell& a, const Cell& b, Cell* result) {
    return !a.is(Type::Integer) && math_here(op, a, b, result);
}

Cell* pick_fast(const Cell& series, int32_t index, const Cell& name) {
    if (!series.is(Type::Block)) return call_on_frame(eval_path_s, name, {series, integer_cell(index)});
    if (index < 1 || uint32_t(index) > block::rs_length_q(series)) return none::push();
    return stack::push(*block::rs_abs_at(series, series.data1 + uint32_t(index) - 1));
}

Cell* series_fast_op(const Cell& series, SeriesOp op, const Cell& name) {
    StackEntry entry = series_entry(op);
    if (!series.is(Type::Block)) return call_on_frame(entry, name, {series});
    uint32_t head = series.data1, n = block::rs_length_q(series);
    switch (op) {
    case SeriesOp::length_q: return integer::push(int32_t(n));
    case SeriesOp::index_q: return integer::push(int32_t(head + 1));
    case SeriesOp::head_q: return logic::push(head == 0);
    case SeriesOp::tail_q: return logic::push(n < 1);
    case SeriesOp::next: return push_at(series, n > 0 ? head + 1 : head);
    case SeriesOp::back: return push_at(series, head > 0 ? head - 1 : 0);
    case SeriesOp::head: return push_at(series, 0);
    default: return push_at(series, head + n);
    }
}

}  // namespace oka::actions
