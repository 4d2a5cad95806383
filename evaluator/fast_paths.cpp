#include "evaluator/fast_paths.h"

#include "datatypes/float.h"

namespace oka::actions {

bool floats_in_place(integer::MathOp op, const Cell& a, const Cell& b, Cell* result) {
    if (!a.is(Type::Float) || !b.is(Type::Float)) return false;
    float_::make_at(result, float_::do_math_op(float_::get(a), float_::get(b), op));
    return true;
}

bool logic_in_place(integer::MathOp op, const Cell& a, const Cell& b, Cell* result) {
    if (!a.is(Type::Logic) || !b.is(Type::Logic)) return false;
    bool x = logic::get(a), y = logic::get(b);
    logic::make_at(result, op == integer::MathOp::and_ ? x && y : op == integer::MathOp::or_ ? x || y : x != y);
    return true;
}

}  // namespace oka::actions
