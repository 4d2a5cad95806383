/* pair!: two signed 32-bit integers written NxM (10x20): sizes and offsets. The cell holds x in
   payload word 2 and y in word 3.

   Rules:
   - Arithmetic never wraps: a result beyond the 32-bit range, a quotient with a fraction and a
     product or quotient by a float make the whole result a point2D! (datatypes/point.h), computed
     again in floats from the operands as they were. Division and remainder by zero, and the smallest
     integer divided by -1, are math errors as for integers.
   - Pairs order by x, then y, under every comparison op; a point2D! on the other side compares the
     pair as a point.
   - A float becomes a coordinate truncated toward zero; NaN, an infinity or a value beyond the 32-bit
     range is script invalid-arg.
   - Nothing here allocates but the writers of text and the conversions from text. */
#pragma once

#include "datatypes/integer.h"

namespace oka::pair {

void init();

inline int32_t x_of(const Cell& pair) { return pair.x(); }
inline int32_t y_of(const Cell& pair) { return pair.y(); }

inline Cell* make_at(Cell* cell, int32_t x, int32_t y) {
    *cell = Cell::of(Type::Pair).set_x(x).set_y(y);
    return cell;
}
inline Cell* push(int32_t x, int32_t y) { return make_at(stack::push_next(), x, y); }

// An integer!, or a float!, percent! or time! truncated toward zero: a coordinate. Script invalid-arg
// with the number when no 32-bit integer holds it.
int32_t get_int(const Cell& number);

// Turns the pair in `cell` into the point2D! of its coordinates.
Cell* to_point2D(Cell* cell);

// The body of the math actions: the pair in the result slot, the right operand after it (a pair!,
// point2D!, integer!, float! or percent!); the result replaces the pair.
void do_math(integer::MathOp op);

}  // namespace oka::pair
