/* Calls computed in place: the interpreter answers math and comparisons on two numbers it already
   holds without a call frame, where the answer cannot differ from the function's own and no error can
   arise. in_place_of tells which functions qualify, compute_in_place computes or declines, and every
   case it declines goes to the ordinary call, so the language's rules stay in one place. */
#pragma once

#include <optional>

#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "evaluator/actions.h"
#include "evaluator/natives.h"

namespace oka::actions {

// The functions that calls may be computed in place for: the comparison natives, by their compare
// op, the math and bitwise actions below, by their math op, power, and to (of which only the
// conversion of a number to integer! is computed so).
struct InPlace {
    enum Kind { kNone, kCompare, kMath, kPower, kTo } kind;
    int32_t op;

    // Whether the function is one of those.
    bool computes() const { return kind != kNone; }
};

OKA_ALWAYS_INLINE InPlace in_place_of(const Cell& function) {
    if (function.is(Type::Native)) {
        switch (function.entry()) {
        case natives::equal_q_slot: return {InPlace::kCompare, kCompareEqual};
        case natives::not_equal_q_slot: return {InPlace::kCompare, kCompareNotEqual};
        case natives::strict_equal_q_slot: return {InPlace::kCompare, kCompareStrictEqual};
        case natives::lesser_q_slot: return {InPlace::kCompare, kCompareLesser};
        case natives::lesser_or_equal_q_slot: return {InPlace::kCompare, kCompareLesserEqual};
        case natives::greater_q_slot: return {InPlace::kCompare, kCompareGreater};
        case natives::greater_or_equal_q_slot: return {InPlace::kCompare, kCompareGreaterEqual};
        default: return {InPlace::kNone, 0};
        }
    }
    if (!function.is(Type::Action)) return {InPlace::kNone, 0};
    switch (Act(function.entry())) {
    case Act::add: return {InPlace::kMath, int32_t(integer::MathOp::add)};
    case Act::subtract: return {InPlace::kMath, int32_t(integer::MathOp::subtract)};
    case Act::multiply: return {InPlace::kMath, int32_t(integer::MathOp::multiply)};
    case Act::divide: return {InPlace::kMath, int32_t(integer::MathOp::divide)};
    case Act::remainder: return {InPlace::kMath, int32_t(integer::MathOp::remainder)};
    case Act::and_: return {InPlace::kMath, int32_t(integer::MathOp::and_)};
    case Act::or_: return {InPlace::kMath, int32_t(integer::MathOp::or_)};
    case Act::xor_: return {InPlace::kMath, int32_t(integer::MathOp::xor_)};
    case Act::power: return {InPlace::kPower, 0};
    case Act::to: return {InPlace::kTo, 0};
    default: return {InPlace::kNone, 0};
    }
}

OKA_ALWAYS_INLINE bool integers_compared(int32_t a, int32_t b, CompareOp op) {
    switch (op) {
    case kCompareEqual:
    case kCompareStrictEqual: return a == b;
    case kCompareNotEqual: return a != b;
    case kCompareLesser: return a < b;
    case kCompareLesserEqual: return a <= b;
    case kCompareGreater: return a > b;
    default: return a >= b;
    }
}

// add, subtract, multiply, divide or remainder (`op` is one of them) on two numbers, float! or
// integer!, at least one of them a float!, into `result`; false for other values. Such math gives a
// float!, never an error: a division by zero gives an infinity or NaN.
bool floats_in_place(integer::MathOp op, const Cell& a, const Cell& b, Cell* result);
// to integer! of an integer! or of a float! that fits, into `result`; false for anything else.
bool integer_in_place(const Cell& type, const Cell& value, Cell* result);
// and, or or xor (`op` is one of them) on two logic values, into `result`; false for other values.
bool logic_in_place(integer::MathOp op, const Cell& a, const Cell& b, Cell* result);

// The result of the function that `how` describes on `a` and `b` when it can be had without calling
// it, which is then the same as the call's and can raise no error: add, subtract, multiply, divide and
// remainder on two integers (but by 0, and -2147483648 by -1) or on two numbers of which a float, and,
// or and xor on two integers or two logic values, power of two integers whose answer is an integer,
// the comparisons = <> == < <= > >= on two integers, to integer! of a number that fits. False leaves
// the call to the function. The interpreter computes operators and calls this way on every evaluation
// step where it can, hence inline.
OKA_ALWAYS_INLINE bool compute_in_place(InPlace how, const Cell& a, const Cell& b, Cell* result) {
    if (!how.computes()) return false;
    auto op = integer::MathOp(how.op);
    if (!a.is(Type::Integer) || !b.is(Type::Integer)) {
        if (how.kind == InPlace::kTo) return integer_in_place(a, b, result);
        if (how.kind != InPlace::kMath) return false;
        return op <= integer::MathOp::remainder ? floats_in_place(op, a, b, result) : logic_in_place(op, a, b, result);
    }
    int32_t x = integer::get(a), y = integer::get(b);
    switch (how.kind) {
    case InPlace::kCompare: logic::make_at(result, integers_compared(x, y, CompareOp(how.op))); return true;
    case InPlace::kTo: return false;  // `to` with an integer for its type: not a conversion done here
    case InPlace::kPower: {
        std::optional<int32_t> power = y >= 0 ? integer::exact_power(x, y) : std::nullopt;
        if (power) integer::make_at(result, *power);
        return power.has_value();
    }
    default: {
        bool dividing = op == integer::MathOp::divide || op == integer::MathOp::remainder;
        if (dividing && !integer::divisible(x, y)) return false;
        integer::do_math_op(x, y, op, result);
        return true;
    }
    }
}

// compute_in_place for a native!, an action! or any other value.
OKA_ALWAYS_INLINE bool call_in_place(const Cell& function, const Cell& a, const Cell& b, Cell* result) {
    return compute_in_place(in_place_of(function), a, b, result);
}

}  // namespace oka::actions
