#include "evaluator/fast_paths.h"

#include "datatypes/float.h"

namespace oka::actions {

namespace {

// The amount of an integer! or a float!, or nothing for any other value.
OKA_ALWAYS_INLINE bool number_of(const Cell& value, double& number) {
    if (value.is(Type::Float))
        number = float_::get(value);
    else if (value.is(Type::Integer))
        number = integer::get(value);
    else
        return false;
    return true;
}

}  // namespace

bool floats_in_place(integer::MathOp op, const Cell& a, const Cell& b, Cell* result) {
    double x, y;
    if (!number_of(a, x) || !number_of(b, y)) return false;
    float_::make_at(result, float_::do_math_op(x, y, op));
    return true;
}

bool integer_in_place(const Cell& type, const Cell& value, Cell* result) {
    if (!type.is(Type::Datatype) || type.named_type() != Type::Integer) return false;
    double number;
    if (!number_of(value, number) || integer::overflow_q(number)) return false;
    integer::make_at(result, int32_t(number));
    return true;
}

bool logic_in_place(integer::MathOp op, const Cell& a, const Cell& b, Cell* result) {
    if (!a.is(Type::Logic) || !b.is(Type::Logic)) return false;
    bool x = logic::get(a), y = logic::get(b);
    logic::make_at(result, op == integer::MathOp::and_ ? x && y : op == integer::MathOp::or_ ? x || y : x != y);
    return true;
}

}  // namespace oka::actions
