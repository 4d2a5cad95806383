// The arithmetic of vector!: every element with a scalar, in place, or the elements of two vectors
// pairwise, into a new vector. The results are computed outside the series buffers before any element
// changes, so that an operation refused halfway (a division by zero) leaves the vector as it was.
#include <vector>

#include "datatypes/float.h"
#include "datatypes/vector_internal.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace oka::vector {

namespace {

using integer::MathOp;

// a op b on integer elements: a sum, difference or product wraps to 32 bits, a quotient is truncated
// toward zero; a division by 0 (or of -2147483648 by -1) raises its math error.
int64_t int_op(int64_t a, int64_t b, MathOp op) {
    auto x = int32_t(a), y = int32_t(b);
    switch (op) {
    case MathOp::add: return int32_t(uint32_t(x) + uint32_t(y));
    case MathOp::subtract: return int32_t(uint32_t(x) - uint32_t(y));
    case MathOp::multiply: return int32_t(uint32_t(x) * uint32_t(y));
    case MathOp::or_: return x | y;
    case MathOp::and_: return x & y;
    case MathOp::xor_: return x ^ y;
    default: break;
    }
    if (!integer::divisible(x, y)) integer::refuse_division(y);
    return op == MathOp::remainder ? x % y : x / y;
}

// One operand of an element-wise operation: the elements of a vector from its head, read in place, or
// one number for every element.
struct Operand {
    const uint8_t* data = nullptr;  // null for a number
    uint32_t size = 0;
    Type element = Type::Integer;
    int64_t integer = 0;
    double number = 0;

    int64_t integer_at(uint32_t i) const { return data ? read_int(data + i * size, size, element) : integer; }
    double number_at(uint32_t i) const { return data ? read_float(data + i * size, size) : number; }
};

// Valid until the next allocation.
Operand elements_of(const Cell& vector) {
    return {element_at(vector, clamped_head(vector)).get(), element_size(vector), element_type(vector)};
}

// A scalar for elements of the given type: an integer! or char! as its value, a float! or percent!
// as its value (truncated toward zero for integer elements); any other value raises internal not-done.
Operand number_of(const Cell& scalar, Type element) {
    Operand number;
    switch (scalar.type()) {
    case Type::Integer:
    case Type::Char:
        number.integer = integer::get(scalar);
        number.number = double(number.integer);
        break;
    case Type::Float:
    case Type::Percent:
        number.number = scalar.f64();
        if (!floating_q(element)) number.integer = float_::to_int32(number.number);
        break;
    default: fire(Err::internal_not_done);
    }
    return number;
}

// Adding or subtracting 0, multiplying or dividing by 1 changes nothing; with the scalar on the left
// only adding 0 and multiplying by 1 do.
bool identity_q(MathOp op, double scalar, bool scalar_left) {
    if (scalar == 0) return op == MathOp::add || (op == MathOp::subtract && !scalar_left);
    if (scalar == 1) return op == MathOp::multiply || (op == MathOp::divide && !scalar_left);
    return false;
}

// The `count` elements of left op right, of the element type at `size` bytes each. A char element of 4
// bytes must hold a code point (else math overflow); narrower ones keep their low bits, as integers do.
std::vector<uint8_t> combine(Type element, uint32_t size, uint32_t count, const Operand& left, const Operand& right,
                             MathOp op) {
    std::vector<uint8_t> out(size_t(count) * size);
    for (uint32_t i = 0; i < count; i++) {
        uint8_t* at = out.data() + size_t(i) * size;
        if (floating_q(element)) {
            write_float(at, size, float_::do_math_op(left.number_at(i), right.number_at(i), op));
            continue;
        }
        int64_t result = int_op(left.integer_at(i), right.integer_at(i), op);
        if (element == Type::Char && size == 4 && (result < 0 || result > unicode::kMaxCodePoint))
            fire(Err::math_overflow);
        write_int(at, size, result);
    }
    return out;
}

}  // namespace

void do_math_scalar(MathOp op, int vector_at) {
    Cell* args = stack::arguments();
    const Cell& vector = args[vector_at];
    Type element = element_type(vector);
    Operand scalar = number_of(args[1 - vector_at], element);
    bool scalar_left = vector_at == 1;
    double amount = floating_q(element) ? scalar.number : double(scalar.integer);
    uint32_t count = series::rs_length_q(vector);
    if (count > 0 && !identity_q(op, amount, scalar_left)) {
        uint32_t size = element_size(vector);
        Operand elements = elements_of(vector);
        std::vector<uint8_t> out = scalar_left ? combine(element, size, count, scalar, elements, op)
                                               : combine(element, size, count, elements, scalar, op);
        std::memcpy(element_at(vector, clamped_head(vector)).get(), out.data(), out.size());
    }
    stack::set_last(vector);
}

// Two vectors of one element type give a new vector as long as the shorter from its head, its elements
// as wide as the wider operand's.
void do_math(MathOp op) {
    Cell* args = stack::arguments();
    if (!args[1].is(Type::Vector)) return do_math_scalar(op, 0);
    Type element = element_type(args[0]);
    if (element_type(args[1]) != element) fire(Err::script_not_same_type);
    uint32_t count = std::min(series::rs_length_q(args[0]), series::rs_length_q(args[1]));
    uint32_t size = std::max(element_size(args[0]), element_size(args[1]));
    Cell* result = make_at(stack::push_next(), count, element, size);
    std::vector<uint8_t> out = combine(element, size, count, elements_of(args[0]), elements_of(args[1]), op);
    if (count > 0) std::memcpy(alloc::alloc_tail_bytes(result->node(), count * size).get(), out.data(), out.size());
    stack::set_last(*result);
}

}  // namespace oka::vector
