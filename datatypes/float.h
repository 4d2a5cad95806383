/* float!: an IEEE 754 double held in payload words 2 and 3, and the conversions between doubles and
   decimal text.

   The float arithmetic here also serves percent! and time!, its children, which keep their double in
   the same place: a result is a time! when either operand is one, else a percent! when the left one
   is, else a float!. The arithmetic gives the IEEE infinities and NaN, never an error; only rounding
   and the conversions to a 32-bit integer raise math overflow.

   Text: a molded double is the shortest digit string that reads back to the same bits; a formed one
   is printf-style text with the clean-up of `pretty_print_q`. Both return text in a buffer of their
   own that stays valid until the next call of the same routine. */
#pragma once

#include "datatypes/integer.h"
#include "runtime/action_options.h"
#include "runtime/stack.h"

namespace oka::float_ {

void init();

inline double get(const Cell& cell) { return cell.f64(); }

inline Cell* make_at(Cell* cell, double value) { return store_whole(cell, Cell::of(Type::Float).set_f64(value)); }
inline Cell* box(double value) { return make_at(stack::arguments(), value); }
inline Cell* push(double value) { return make_at(stack::push_next(), value); }
Cell* make_in(const Cell& block, double value);

// The value truncated toward zero; NaN and values beyond the 32-bit range raise math overflow.
int32_t to_int32(double value);
// An integer!'s value, or a float! truncated toward zero: the conversion of sizes and counts given as
// either. NaN and floats beyond the 32-bit range raise script out-of-range with the value.
int32_t to_integer_checked(const Cell& number);

// The amount of a value of the amount class (runtime/types.h: integer!, char!, float!, percent!,
// time!): a char counts as its code point, a time as its seconds.
double number_of(const Cell& cell);

// True when neither is NaN and the two lie within 10 units in the last place (or closer than the
// double epsilon): the equality of = and <>.
bool almost_equal_q(double a, double b);
// The same for single-precision values, without the epsilon; an infinity is equal to itself alone.
bool almost_equal_single_q(float a, float b);

// The printf-style forms, by the datatype (or element) that shows the double.
enum class FormatKind : uint8_t {
    single,          // 7 digits, with ".0": single-precision elements
    float_,          // 16 digits, with ".0": the form of float!
    single_percent,  // 7 digits, with "%"
    percent,         // 13 digits, with "%": the form of percent!
    seconds,         // 6 digits, nothing added: the seconds of time!
    coordinate,      // 7 digits, nothing added: point coordinates
};

// With it, doubles closer to zero than the epsilon form as zero and 16-digit forms that end in a
// rounding tail (...01, ...99) are formed again with fewer digits. On at start-up.
inline bool pretty_print_q = true;

// The text of `value` in the form of `kind`; infinities and NaN give "1.#INF", "-1.#INF", "1.#NaN".
const char* format(double value, FormatKind kind);
// The coordinate form of a single-precision value with as many digits as reading the text back to the
// same single takes, seven at least and nine at most; a zero of either sign is "0". What a molded
// point holds, so that it loads as it was.
const char* format_single_exactly(float value);

// x op y for add, subtract, multiply, divide and remainder (fmod: the sign of x); any other op
// raises script cannot-use.
double do_math_op(double x, double y, integer::MathOp op);
// The body of the math actions when either operand is a float!, percent! or time! and the other a
// number: the left operand in the result slot, the right one after it; the result replaces the left.
// A money! on the right hands the operation to the money math (datatypes/money.h), a tuple! to the
// tuple math (datatypes/tuple.h), a vector! to the vector's scalar math (datatypes/vector.h), a pair!,
// point2D! or point3D! to theirs (datatypes/point.h).
void do_math(integer::MathOp op);

// The power action: the base in the result slot, the exponent, an integer! or float!, after it.
void power();

// A random double between 0 and `value`.
double random_value(double value, bool secure);

// The choice the refinements of round make between the two multiples of the scale next to a value that
// is none of them: true to take the multiple away from zero. `half` is -1, 0 or 1 as the value lies
// nearer the multiple toward zero, halfway, or nearer the other one; `toward_even` tells whether the
// multiple toward zero is the even one. Shared by the round actions of every number type.
bool away_q(const RoundOptions& how, bool negative, int half, bool toward_even);

// The round action of float! and percent!, which integer! and time! build on: rounds the value in
// place to a multiple of the scale, 1.0 by default (a percent! rounds to hundredths and reads its
// scale as a percent). An integer! scale makes the result an integer!, raising math overflow beyond
// the 32-bit range; any other scale gives the result the scale's type.
void round(Cell* value, const RoundOptions& options);

}  // namespace oka::float_

namespace oka::sys {

// The decimal text of a double: the shortest digits that read back to it when `precision` is 0 or
// less, else at most `precision` (up to 17) correctly rounded significant digits. Exponent form
// ("1.0e17", "1.5e-8") when those digits are worth 1e17 or more, or less than 1e-7; plain otherwise
// ("10000000000000000.0", "0.00000015"). With `point_zero`, a whole number ends in ".0".
// Infinities and NaN give "1.#INF", "-1.#INF" and "1.#NaN".
const char* form_float(double value, int32_t precision, bool point_zero);

// Reads the number token from `start` to `end`, correctly rounded, with its decimal exponent moved
// by `shift` (-2 reads a percent as a fraction). Reads "1.#INF", "-1.#INF" and "1.#NaN" back. Too
// large a number gives an infinity, too small a zero; `left` receives the count of characters after
// the part that was read.
double strtod(const char* start, const char* end, int32_t shift, int32_t* left);

// An angle in degrees as radians, first folded into the range where the function that follows gives
// its most exact results: `mode` 2 for sine (into [-90, 90] by sin(180 - d) = sin d), 1 for cosine
// (into [-180, 180]), 0 for tangent (into [-90, 90] by its period of 180).
double degrees_to_radians(double angle, int32_t mode);

}  // namespace oka::sys
