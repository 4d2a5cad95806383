// The math natives: the sign tests, NaN?, max and min, shift, trigonometry, logarithms, exp and
// square-root, and the constructors of pairs, points and money. Each works on its arguments in the
// frame and leaves its result in the result slot.
#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "evaluator/refinements.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::natives {

namespace {

constexpr double kPi = std::numbers::pi;

// ---- signs ----

// -1, 0 or 1 for an integer!, float!, percent!, time! or money! (a NaN counts as 0); any other value raises
// script expect-arg, as the interpreter's own check would.
int32_t sign_of(const Cell& number) {
    switch (number.type()) {
    case Type::Integer: {
        int32_t value = integer::get(number);
        return (value > 0) - (value < 0);
    }
    case Type::Float:
    case Type::Percent:
    case Type::Time: {
        double value = float_::get(number);
        return (value > 0.0) - (value < 0.0);
    }
    case Type::Money: return money::sign_q(number);
    default: error::fire_in_function(Err::script_expect_arg, number.type());
    }
}

bool float_kind_q(const Cell& value) { return value.is(Type::Float) || value.is(Type::Percent); }

bool nan_q(const Cell& value) { return float_kind_q(value) && std::isnan(float_::get(value)); }

// ---- max and min ----

bool number_q(const Cell& value) { return value.is(Type::Integer) || float_kind_q(value); }

// The greater (max) or lesser (min) of two; on equality max keeps a and min takes b.
template <class T>
T chosen(T a, T b, bool max) {
    return (a < b) == max ? b : a;
}
// The same for point coordinates, where a NaN is the answer whichever side it is on.
float chosen_coordinate(float a, float b, bool max) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) ? a : b;
    return chosen(a, b, max);
}

// A number made a value of the type of `coordinates` (a pair or a point) with the number in every
// coordinate. A float that no 32-bit integer holds, against a pair, makes both of them points.
void spread(Cell* coordinates, Cell* number) {
    double value = float_::number_of(*number);
    if (coordinates->is(Type::Pair)) {
        if (!integer::overflow_q(value)) {
            pair::make_at(number, int32_t(value), int32_t(value));
            return;
        }
        pair::to_point2D(coordinates);
    }
    point::Coordinates c = point::coordinates_of(*coordinates);
    c.at.fill(float(value));
    point::make_at(number, c);
}

// max and min coordinate by coordinate, when a pair or point meets a number or another pair or point:
// a number counts in each coordinate, a pair against a point2D! counts as a point. False for other
// values, and for points of two kinds, which the ordering then refuses.
bool max_min_coordinates(Cell* value1, Cell* value2, bool max) {
    bool coordinates1 = point::coordinates_q(value1->type()), coordinates2 = point::coordinates_q(value2->type());
    if (!coordinates1 && !coordinates2) return false;
    if (coordinates1 != coordinates2) {
        if (!number_q(coordinates1 ? *value2 : *value1)) return false;
        if (coordinates2) std::swap(*value1, *value2);
        spread(value1, value2);
    }
    if (value1->is(Type::Pair) && value2->is(Type::Point2D)) pair::to_point2D(value1);
    if (value2->is(Type::Pair) && value1->is(Type::Point2D)) pair::to_point2D(value2);
    if (value1->type() != value2->type()) return false;
    if (value1->is(Type::Pair)) {
        pair::make_at(value1, chosen(pair::x_of(*value1), pair::x_of(*value2), max),
                      chosen(pair::y_of(*value1), pair::y_of(*value2), max));
        return true;
    }
    point::Coordinates a = point::coordinates_of(*value1), b = point::coordinates_of(*value2);
    for (uint32_t i = 0; i < a.count; i++) a.at[i] = chosen_coordinate(a.at[i], b.at[i], max);
    point::make_at(value1, a);
    return true;
}

// The greater (max) or lesser (min) of the two arguments; on equality max keeps value1 and min takes
// value2. A NaN number against a number is the answer whichever side it is on, where the ordering
// alone would let the side decide.
void max_min(bool max) {
    Cell* value1 = stack::arguments();
    Cell* value2 = value1 + 1;
    if (max_min_coordinates(value1, value2, max)) return;
    if (is_a(value1->type(), TypeClass::number) && is_a(value2->type(), TypeClass::number) &&
        (nan_q(*value1) || nan_q(*value2))) {
        if (!nan_q(*value1)) *value1 = *value2;
        return;
    }
    if (actions::compare(value1, value2, kCompareLesser) == max) *value1 = *value2;
}

// ---- shift ----

// No shift by 32 or more reaches the processor: its result is fixed by the sign alone.
int32_t shifted(int32_t data, int32_t bits, bool left, bool logical) {
    bits = bits < 0 ? 0 : bits;
    if (left) return bits > 31 ? 0 : int32_t(uint32_t(data) << bits);
    if (logical) return bits > 31 ? 0 : int32_t(uint32_t(data) >> bits);
    if (bits > 31) return data < 0 ? -1 : 0;
    return data >> bits;
}

// ---- the float functions ----

// Makes an integer! or percent! argument the equal float! in place and answers its double.
double arg_to_float(Cell* value) {
    if (value->is(Type::Integer)) float_::make_at(value, integer::get(*value));
    value->set_type(Type::Float);
    return float_::get(*value);
}

// The folding mode of sys::degrees_to_radians for the function that follows.
enum class Trig : int32_t { tangent = 0, cosine = 1, sine = 2 };

// The angle argument in radians: as it is with /radians, else read as degrees.
template <Slot S>
double radians_of_arg(const int32_t* positions, Trig function) {
    double angle = arg_to_float(stack::arguments());
    return Refinements<S>(positions).given("radians") ? angle : sys::degrees_to_radians(angle, int32_t(function));
}

// A sine or cosine closer to zero than the double epsilon is the rounding left over from pi, not a
// value: sine 180 is 0.0.
double cleaned(double value) { return std::fabs(value) < DBL_EPSILON ? 0.0 : value; }

double tangent_of(double radians) {
    if (radians == kPi / 2) return std::numeric_limits<double>::infinity();
    if (radians == -kPi / 2) return -std::numeric_limits<double>::infinity();
    return std::tan(radians);
}

// The result of an inverse function, in degrees unless /radians was given.
template <Slot S>
void arc_result(const int32_t* positions, double radians) {
    float_::box(Refinements<S>(positions).given("radians") ? radians : radians * 180.0 / kPi);
}

// The result of a math function of one double on the argument made a float.
void apply(double (*function)(double)) { float_::box(function(arg_to_float(stack::arguments()))); }

double log_2(double x) { return std::log(x) / std::numbers::ln2; }
double exp_e(double x) { return std::pow(std::numbers::e, x); }
// The library's overloads cannot be taken by address; these pick the double ones.
double log_10(double x) { return std::log10(x); }
double log_e(double x) { return std::log(x); }
double square_root(double x) { return std::sqrt(x); }

}  // namespace

void negative_q_s(const int32_t*) { logic::box(sign_of(*stack::arguments()) < 0); }
void positive_q_s(const int32_t*) { logic::box(sign_of(*stack::arguments()) > 0); }
void sign_q_s(const int32_t*) { integer::box(sign_of(*stack::arguments())); }

void zero_q_s(const int32_t*) {
    const Cell& value = *stack::arguments();
    switch (value.type()) {
    case Type::Integer:
    case Type::Char: logic::box(integer::get(value) == 0); break;
    case Type::Float:
    case Type::Percent:
    case Type::Time: logic::box(float_::get(value) == 0.0); break;
    case Type::Money: logic::box(money::sign_q(value) == 0); break;
    case Type::Tuple: logic::box(tuple::zero_q(value)); break;
    case Type::Pair: logic::box(pair::x_of(value) == 0 && pair::y_of(value) == 0); break;
    case Type::Point2D:
    case Type::Point3D: logic::box(point::zero_q(value)); break;
    default: error::fire_in_function(Err::script_expect_arg, value.type());
    }
}

// An integer is never a NaN.
void NaN_q_s(const int32_t*) { logic::box(nan_q(*stack::arguments())); }

void max_s(const int32_t*) { max_min(true); }
void min_s(const int32_t*) { max_min(false); }

void shift_s(const int32_t* positions) {
    Refinements<shift_slot> refinements(positions);
    Cell* args = stack::arguments();
    integer::box(
        shifted(integer::get(args[0]), integer::get(args[1]), refinements.given("left"), refinements.given("logical")));
}

void sine_s(const int32_t* positions) {
    float_::box(cleaned(std::sin(radians_of_arg<sine_slot>(positions, Trig::sine))));
}
void cosine_s(const int32_t* positions) {
    float_::box(cleaned(std::cos(radians_of_arg<cosine_slot>(positions, Trig::cosine))));
}
void tangent_s(const int32_t* positions) {
    float_::box(tangent_of(radians_of_arg<tangent_slot>(positions, Trig::tangent)));
}

void arcsine_s(const int32_t* positions) {
    arc_result<arcsine_slot>(positions, std::asin(arg_to_float(stack::arguments())));
}
void arccosine_s(const int32_t* positions) {
    arc_result<arccosine_slot>(positions, std::acos(arg_to_float(stack::arguments())));
}
void arctangent_s(const int32_t* positions) {
    arc_result<arctangent_slot>(positions, std::atan(arg_to_float(stack::arguments())));
}
void arctangent2_s(const int32_t* positions) {
    Cell* args = stack::arguments();
    double y = arg_to_float(args), x = arg_to_float(args + 1);
    arc_result<arctangent2_slot>(positions, std::atan2(y, x));
}

void log_2_s(const int32_t*) { apply(log_2); }
void log_10_s(const int32_t*) { apply(log_10); }
void log_e_s(const int32_t*) { apply(log_e); }
void exp_s(const int32_t*) { apply(exp_e); }
void square_root_s(const int32_t*) { apply(square_root); }

void as_pair_s(const int32_t*) {
    Cell* args = stack::arguments();
    pair::make_at(args, pair::get_int(args[0]), pair::get_int(args[1]));
}

void as_point2D_s(const int32_t*) {
    Cell* args = stack::arguments();
    point2D::make_at(args, float(float_::number_of(args[0])), float(float_::number_of(args[1])));
}

void as_point3D_s(const int32_t*) {
    Cell* args = stack::arguments();
    point3D::make_at(args, float(float_::number_of(args[0])), float(float_::number_of(args[1])),
                     float(float_::number_of(args[2])));
}

void as_money_s(const int32_t*) {
    Cell* args = stack::arguments();
    money::as_money(args, Cell(args[0]), Cell(args[1]));
}

}  // namespace oka::natives
