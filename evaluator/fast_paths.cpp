#include "evaluator/fast_paths.h"

#include "datatypes/float.h"

namespace oka::actions {

bool floats_in_place(integer::MathOp op, const Cell& a, const Cell& b, Cell* result) {
    if (!a.is(Type::Float) || !b.is(Type::Float)) return false;
    float_::make_at(result, float_::do_math_op(float_::get(a), float_::get(b), op));
    return true;
}

}  // namespace oka::actions
