/* point2D! and point3D!: vectors of two and three single-precision floats, written (1.5, 2) and
   (1, 2, 3). Pair arithmetic becomes point2D! arithmetic where its result needs a fraction or leaves
   the 32-bit range (datatypes/pair.h). The cell holds x, y (and z for a point3D!) as IEEE singles in
   payload words 1, 2 (and 3); a point2D!'s word 3 is 0.

   The two types are one family: every action serves both, and point3D! only meets its own kind.

   Rules:
   - Arithmetic runs in doubles; each coordinate is rounded to a single when stored.
   - = and <> take coordinates within 10 units in the last place as equal; == and same? want the same
     type and coordinates exactly equal (same?: the same bits); the orderings take x, then y, then z.
   - form shows 7 significant digits; mold as many as reading the text back to the same single takes.
   - Nothing here allocates but the writers of text and the conversions from text. */
#pragma once

#include <array>
#include <cstddef>
#include <cstring>

#include "datatypes/integer.h"

namespace oka::point {

// Registers point2D! and point3D!.
void init();

// True for pair!, point2D! and point3D!: the values whose math applies a number to each coordinate.
inline bool coordinates_q(Type type) { return type == Type::Pair || type == Type::Point2D || type == Type::Point3D; }

// The coordinates of a point, x first; those past the count are 0.
struct Coordinates {
    std::array<float, 3> at{};
    uint32_t count = 2;
};

// The coordinate of index i (0 for x) of a point2D! or point3D!.
inline float get(const Cell& point, uint32_t i) { return point.coordinates()[i]; }
Coordinates coordinates_of(const Cell& point);
// A point2D! (count 2) or point3D! (count 3) of the coordinates, made at `cell`.
Cell* make_at(Cell* cell, const Coordinates& c);

// True when every coordinate is zero: the zero? native.
bool zero_q(const Cell& point);

// The body of the math actions of both types: the point in the result slot, the right operand after
// it (a point of the same type, an integer!, float! or percent!, and for a point2D! a pair!); the
// result replaces the point.
void do_math(integer::MathOp op);

// The math of an integer!, float!, percent! or time! on the left with a pair!, point2D! or point3D! on
// the right, which the integer and float math hand over: the two change places, so that the pair's or
// point's math applies the number to each coordinate, and an integer taken away adds the negated pair
// or point. Only an integer may be the left side of a subtraction, and no number that of a division
// or remainder: script not-related, with integer! or the right operand's type.
void do_math_with_number_left(integer::MathOp op);

}  // namespace oka::point

namespace oka::point2D {

inline Cell* make_at(Cell* cell, float x, float y) { return point::make_at(cell, {{x, y, 0.0f}, 2}); }

}  // namespace oka::point2D

namespace oka::point3D {

inline Cell* make_at(Cell* cell, float x, float y, float z) { return point::make_at(cell, {{x, y, z}, 3}); }

}  // namespace oka::point3D
