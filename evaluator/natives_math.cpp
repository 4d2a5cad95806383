// The math natives: the sign tests, NaN?, max and min, shift, trigonometry, logarithms, exp and
// square-root. Each works on its arguments in the frame and leaves its result in the result slot.
#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
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

// The greater (max) or lesser (min) of the two arguments; on equality max keeps value1 and min takes
// value2. A NaN number against a number is the answer whichever side it is on, where the ordering
// alone would let the side decide.
void max_min(bool max) {
    Cell* value1 = stack::arguments();
    Cell* value2 = value1 + 1;
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

void as_money_s(const int32_t*) {
    Cell* args = stack::arguments();
    money::as_money(args, Cell(args[0]), Cell(args[1]));
}

}  // namespace oka::natives
