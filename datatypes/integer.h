/* integer!: a 32-bit signed integer held in payload word 2. Arithmetic never wraps: a sum, difference
   or product that leaves the range, and a quotient that is not exact, becomes a float!. No operation
   here relies on signed overflow. An integer added to a date counts days (datatypes/date.h). */
#pragma once

#include <optional>

#include "runtime/stack.h"

namespace oka::integer {

void init();

inline int32_t get(const Cell& cell) { return cell.int32(); }

inline Cell* make_at(Cell* cell, int32_t value) { return store_whole(cell, Cell::of(Type::Integer).set_int32(value)); }
inline Cell* box(int32_t value) { return make_at(stack::arguments(), value); }
inline Cell* push(int32_t value) { return make_at(stack::push_next(), value); }
Cell* make_in(const Cell& block, int32_t value);

// Decimal text of a value, in a buffer valid until the next call.
const char* form_signed(int32_t value);
// True when a double cannot be held by an integer: beyond the 32-bit range, or NaN.
bool overflow_q(double value);

// The codes of the math actions, shared by the float math and the operator fast paths.
enum class MathOp : int32_t { add, subtract, multiply, divide, remainder, or_, and_, xor_ };

// A float! made in `result`: the answer of integer math that leaves the integers.
Cell* make_float_at(Cell* result, double value);
// A sum, difference or product of two integers, exact in 64 bits, made in `result`: an integer! when
// it fits, else the float!.
OKA_ALWAYS_INLINE Cell* make_exact_at(Cell* result, int64_t value) {
    return value == int32_t(value) ? make_at(result, int32_t(value)) : make_float_at(result, double(value));
}
// Whether a divided by b has an integer quotient and remainder: all have but those by 0 and
// -2147483648 by -1.
inline bool divisible(int32_t a, int32_t b) { return b != 0 && !(b == -1 && a == INT32_MIN); }
// The error of a division that is not divisible: math zero-divide by 0, else math overflow.
[[noreturn]] void refuse_division(int32_t b);

// base^exponent (exponent >= 0) when it fits in 32 bits, else nothing.
std::optional<int32_t> exact_power(int32_t base, int32_t exponent);

// a op b, made in `result`: an integer!, or the exact float! when a sum, difference or product leaves
// the 32-bit range and the float! quotient when a division leaves a remainder. The math on numbers
// at hand computes with it at every step, hence inline.
OKA_ALWAYS_INLINE Cell* do_math_op(int32_t a, int32_t b, MathOp op, Cell* result) {
    switch (op) {
    case MathOp::add: return make_exact_at(result, int64_t(a) + b);
    case MathOp::subtract: return make_exact_at(result, int64_t(a) - b);
    case MathOp::multiply: return make_exact_at(result, int64_t(a) * b);
    case MathOp::or_: return make_at(result, a | b);
    case MathOp::and_: return make_at(result, a & b);
    case MathOp::xor_: return make_at(result, a ^ b);
    default: break;
    }
    if (!divisible(a, b)) refuse_division(b);
    if (op == MathOp::remainder) return make_at(result, a % b);
    return a % b ? make_float_at(result, double(a) / b) : make_at(result, a / b);
}
// The body of the math actions: the left operand in the result slot, the right one after it; the
// right operand's type decides who computes (a vector! on the right takes the integer as its scalar).
void do_math(MathOp op);

}  // namespace oka::integer
