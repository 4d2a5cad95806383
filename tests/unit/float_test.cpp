// float!: decimal text both ways, the printf-style forms, comparison, the math actions, rounding,
// conversions and random.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/time.h"
#include "evaluator/refinements.h"
#include "runtime/registry.h"
#include "series_testing.h"
#include "test_support.h"

using namespace oka;
using test::float_cell;
using test::int_cell;
using test::run;
using test::type_cell;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

// The result's type and text, so that a failing case shows what it got. percent! has no actions of its
// own yet: its double is shown as a float! molds.
std::string typed(const Cell& value) {
    if (value.is(Type::Percent)) return std::string("percent! ") + sys::form_float(float_::get(value), 0, true);
    return std::string(datatype::type_name(value.type()).name) + " " + test::mold(value);
}

Cell typed_cell(Type type, double value) {
    Cell c = float_cell(value);
    c.set_type(type);
    return c;
}
Cell percent_cell(double value) { return typed_cell(Type::Percent, value); }
Cell time_cell(double seconds) { return typed_cell(Type::Time, seconds); }

double read(const char* text, int32_t shift = 0, int32_t* left = nullptr) {
    int32_t ignored;
    return sys::strtod(text, text + std::strlen(text), shift, left ? left : &ignored);
}

using Entry = void (*)(const int32_t*);

// The float math as the math actions of float!'s children run it, with any left operand.
template <integer::MathOp Op>
void float_math(const int32_t*) {
    float_::do_math(Op);
}

}  // namespace

TEST(FloatText, MoldIsTheShortestRoundTripInPlainOrExponentForm) {
    struct Case {
        double value;
        const char* mold;
    } cases[] = {
        {0.1, "0.1"},           {1.0, "1.0"},
        {-2.5, "-2.5"},         {123.456, "123.456"},
        {123000.0, "123000.0"}, {1e16, "10000000000000000.0"},  // the point 17 digits right of the first: plain
        {1e17, "1.0e17"},                                       // 18: exponent form
        {1.5e17, "1.5e17"},     {1e20, "1.0e20"},
        {1e-7, "0.0000001"},                       // the point 6 places left of the first digit: plain
        {1.5e-7, "0.00000015"}, {1e-8, "1.0e-8"},  // 7 places: exponent form
        {1.5e-8, "1.5e-8"},     {0.1 + 0.2, "0.30000000000000004"},
        {0.0, "0.0"},           {-0.0, "-0.0"},
        {5e-324, "5.0e-324"},   {1.7976931348623157e308, "1.7976931348623157e308"},
        {kInf, "1.#INF"},       {-kInf, "-1.#INF"},
        {kNaN, "1.#NaN"},       {-kNaN, "1.#NaN"},
    };
    for (const Case& c : cases) EXPECT_EQ(test::mold(float_cell(c.value)), c.mold);
    // Without ".0" and with fewer digits, as money and the seconds of times ask for them.
    EXPECT_STREQ(sys::form_float(1e20, 0, false), "1e20");
    EXPECT_STREQ(sys::form_float(123000.0, 0, false), "123000");
    EXPECT_STREQ(sys::form_float(-0.0, 0, false), "-0");
    EXPECT_STREQ(sys::form_float(1.0 / 3, 6, false), "0.333333");
    EXPECT_STREQ(sys::form_float(123456789.0, 6, true), "123457000.0");
    EXPECT_STREQ(sys::form_float(0.1, 40, true), "0.10000000000000001");  // no more than 17 digits
}

TEST(FloatText, EveryMoldedDoubleReadsBackToTheSameBits) {
    std::mt19937_64 bits_source(20261209);
    auto check = [](double value) {
        const char* text = sys::form_float(value, 0, true);
        double parsed = 0, ours = read(text);
        std::from_chars(text, text + std::strlen(text), parsed);
        ASSERT_EQ(std::bit_cast<uint64_t>(parsed), std::bit_cast<uint64_t>(value)) << text;
        ASSERT_EQ(std::bit_cast<uint64_t>(ours), std::bit_cast<uint64_t>(value)) << text;
    };
    for (double edge : {0.0, -0.0, 5e-324, -5e-324, 2.2250738585072009e-308, 2.2250738585072014e-308,
                        1.7976931348623157e308, 9007199254740993.0, 0.1, 1e23, 8.41e21, 5e-310})
        check(edge);
    for (int i = 0; i < 300000; i++) {
        uint64_t bits = bits_source();
        if (i % 3 == 1) bits &= 0x800FFFFFFFFFFFFFull;  // subnormals
        if (i % 3 == 2) bits = (bits & 0x800FFFFFFFFFFFFFull) | uint64_t(bits_source() % 2046 + 1) << 52;
        double value = std::bit_cast<double>(bits);
        if (std::isfinite(value)) check(value);
    }
}

// A point's coordinate molds so that the lexer, which reads it as a double and rounds that to a single,
// gets the same single back; with the seven digits of its form where those suffice.
TEST(FloatText, EveryMoldedSingleReadsBackToTheSameSingle) {
    std::mt19937 bits_source(20250611);
    auto check = [](float value) {
        const char* text = float_::format_single_exactly(value);
        ASSERT_EQ(std::bit_cast<uint32_t>(float(read(text))), std::bit_cast<uint32_t>(value)) << text;
        std::string form = float_::format(value, float_::FormatKind::coordinate);
        bool form_reads_back = float(read(form.c_str())) == value && std::fabs(value) >= 2.220446049250313e-16;
        if (form_reads_back) {
            EXPECT_EQ(form, text);
        }
    };
    for (float edge : {1.0f, 0.1f, 1.0000001f, 16777216.0f, 2147483648.0f, 3.4028235e38f, -1.1754944e-38f, 1.4e-45f,
                       -1.4e-45f, 1e10f, 123456789.0f})
        check(edge);
    for (int i = 0; i < 300000; i++) {
        uint32_t bits = bits_source();
        if (i % 3 == 1) bits &= 0x807FFFFFu;  // subnormals
        float value = std::bit_cast<float>(bits);
        if (std::isfinite(value) && value != 0.0f) check(value);
    }
    EXPECT_STREQ(float_::format_single_exactly(-0.0f), "0");
    EXPECT_STREQ(float_::format_single_exactly(-std::numeric_limits<float>::infinity()), "-1.#INF");
}

TEST(FloatText, ReadingNumberTokens) {
    struct Case {
        const char* text;
        int32_t shift;
        double expected;
        int32_t left;
    } cases[] = {
        {"1.5", 0, 1.5, 0},
        {"+7", 0, 7.0, 0},
        {"-000", 0, 0.0, 0},  // a zero written with a sign is positive...
        {"-0", 0, 0.0, 0},
        {"-0.0", 0, -0.0, 0},  // ...unless more than zeros follow
        {"0.000123", 0, 0.000123, 0},
        {"1.5e", 0, 1.5, 1},
        {"2E+3", 0, 2000.0, 0},
        {"12.5", -2, 0.125, 0},
        {"123456789012345678901234567890", 0, 1.2345678901234568e29, 0},
        {"2.2250738585072011e-308", 0, 2.225073858507201e-308, 0},
        {"0.000000000000000000000000000001e30", 0, 1.0, 0},
        {"1e99999999999", 0, kInf, 0},
        {"-1e400", 0, -kInf, 0},
        {"1e-99999999999", 0, 0.0, 0},
        {"-1e-400", 0, -0.0, 0},
        {"1.#INF", 0, kInf, 0},
        {"-1.#INF", 0, -kInf, 0},
    };
    for (const Case& c : cases) {
        int32_t left = -1;
        double value = read(c.text, c.shift, &left);
        EXPECT_EQ(std::bit_cast<uint64_t>(value), std::bit_cast<uint64_t>(c.expected)) << c.text << " read " << value;
        EXPECT_EQ(left, c.left) << c.text;
    }
    EXPECT_TRUE(std::isnan(read("1.#NaN")));
    EXPECT_TRUE(std::isnan(read("1.#nan")));
}

TEST(FloatText, FormIsPrintfStyleWithTheCleanUp) {
    using K = float_::FormatKind;
    struct Case {
        double value;
        K kind;
        const char* text;
    } cases[] = {
        {1.0, K::float_, "1.0"},
        {1e20, K::float_, "1.0e20"},
        {1.5e-7, K::float_, "1.5e-7"},
        {-1.0 / 3, K::float_, "-0.3333333333333333"},
        {0.1 + 0.2, K::float_, "0.3"},
        {4.35 * 100, K::float_, "435.0"},  // 434.99999999999994: a rounding tail
        {1.0000000000000002, K::float_, "1.0"},
        {1e-300, K::float_, "0.0"},  // closer to zero than the epsilon
        {-1e-20, K::float_, "0.0"},
        {123456789.0, K::float_, "123456789.0"},
        {1e300, K::float_, "1.0e300"},
        {kInf, K::float_, "1.#INF"},
        {-kInf, K::percent, "-1.#INF"},
        {kNaN, K::seconds, "1.#NaN"},
        {3.0, K::single, "3.0"},
        {1.0 / 3, K::single, "0.3333333"},
        {3.0, K::coordinate, "3"},
        {1e-20, K::coordinate, "0"},
        {12.5, K::percent, "12.5%"},
        {1e-20, K::single_percent, "0%"},
        {100.0 / 3, K::single_percent, "33.33333%"},
        {30.0, K::seconds, "30"},
        {1.5, K::seconds, "1.5"},
        {0.000001, K::seconds, "0.000001"},
    };
    for (const Case& c : cases) EXPECT_STREQ(float_::format(c.value, c.kind), c.text) << c.text;
    EXPECT_EQ(test::form(float_cell(1e-7)), "1.0e-7");

    float_::pretty_print_q = false;
    EXPECT_STREQ(float_::format(1e-300, K::float_), "1.0e-300");
    EXPECT_STREQ(float_::format(4.35 * 100, K::float_), "434.9999999999999");
    EXPECT_STREQ(float_::format(-0.0, K::float_), "-0.0");
    float_::pretty_print_q = true;
}

TEST(FloatCompare, NearEqualityExactEqualityAndNaN) {
    struct Case {
        Cell a, b;
        int32_t op;
        bool expected;
    } cases[] = {
        {float_cell(0.1 + 0.2), float_cell(0.3), kCompareEqual, true},
        {float_cell(0.1 + 0.2), float_cell(0.3), kCompareStrictEqual, false},
        {float_cell(0.1 + 0.2), float_cell(0.3), kCompareNotEqual, false},
        {float_cell(1.0), float_cell(1.0 + 10 * 2.220446049250313e-16), kCompareEqual, true},
        {float_cell(1.0), float_cell(1.0 + 11 * 2.220446049250313e-16), kCompareEqual, false},
        {float_cell(1e-300), float_cell(-1e-300), kCompareEqual, true},  // closer than the epsilon
        {float_cell(-1.0), float_cell(1.0), kCompareLesser, true},
        {float_cell(2.0), int_cell(2), kCompareEqual, true},
        {float_cell(2.0), int_cell(2), kCompareStrictEqual, false},
        {float_cell(2.0), int_cell(2), kCompareFind, false},
        {float_cell(2.0), int_cell(3), kCompareLesser, true},
        {float_cell(60.0), time_cell(60.0), kCompareEqual, true},
        {float_cell(60.0), time_cell(60.0), kCompareStrictEqual, false},
        {float_cell(0.0), float_cell(-0.0), kCompareStrictEqual, true},
        {float_cell(0.0), float_cell(-0.0), kCompareSame, false},
        {float_cell(1.0), test::char_cell(1), kCompareEqual, false},
    };
    for (Case& c : cases)
        EXPECT_EQ(actions::compare(&c.a, &c.b, c.op), c.expected) << test::mold(c.a) << " op " << c.op;

    // NaN equals nothing, itself included, and stands in no order.
    Cell nan = float_cell(kNaN), one = float_cell(1.0);
    for (int32_t op : {kCompareEqual, kCompareStrictEqual, kCompareStrictEqualWord, kCompareEqualWord, kCompareFind,
                       kCompareLesser, kCompareLesserEqual, kCompareGreater, kCompareGreaterEqual}) {
        EXPECT_FALSE(actions::compare(&nan, &nan, op)) << op;
        EXPECT_FALSE(actions::compare(&nan, &one, op)) << op;
        EXPECT_FALSE(actions::compare(&one, &nan, op)) << op;
    }
    EXPECT_TRUE(actions::compare(&nan, &nan, kCompareNotEqual));
    Cell integer_one = int_cell(1);
    EXPECT_FALSE(actions::compare(&integer_one, &nan, kCompareEqual));
    EXPECT_EQ(actions::compare_value(&nan, &one, kCompareSort), 0);
    Cell block = test::block_of({});
    EXPECT_EQ(test::error_of([&] { actions::compare(&one, &block, kCompareLesser); }), Err::script_invalid_compare);
}

// Singles are near-equal within 10 units in the last place, across zero too; an infinity only equals
// itself, though the largest finite single lies one unit below it.
TEST(FloatCompare, SinglesNearEqualWithinTenUnits) {
    auto units_up = [](float value, uint32_t n) { return std::bit_cast<float>(std::bit_cast<uint32_t>(value) + n); };
    constexpr float kMax = std::numeric_limits<float>::max(), kInfinity = std::numeric_limits<float>::infinity();
    struct Case {
        float a, b;
        bool expected;
    } cases[] = {
        {1.0f, units_up(1.0f, 10), true},
        {1.0f, units_up(1.0f, 11), false},
        {0.0f, -0.0f, true},
        {std::bit_cast<float>(5u), -std::bit_cast<float>(5u), true},  // ten units apart, across zero
        {std::bit_cast<float>(6u), -std::bit_cast<float>(5u), false},
        {kMax, kInfinity, false},
        {kInfinity, kInfinity, true},
        {-kInfinity, kInfinity, false},
        {std::nanf(""), std::nanf(""), false},
        {std::nanf(""), 1.0f, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(float_::almost_equal_single_q(c.a, c.b), c.expected) << c.a << " " << c.b;
        EXPECT_EQ(float_::almost_equal_single_q(c.b, c.a), c.expected) << c.b << " " << c.a;
    }
}

TEST(FloatMath, ResultTypesAndIeeeValues) {
    struct Case {
        Entry entry;
        Cell left, right;
        const char* expected;
    } cases[] = {
        {actions::add_s, float_cell(1.5), int_cell(1), "float! 2.5"},
        {actions::subtract_s, float_cell(1.5), test::char_cell(1), "float! 0.5"},
        {actions::multiply_s, float_cell(2.0), percent_cell(0.5), "float! 1.0"},
        {float_math<integer::MathOp::multiply>, percent_cell(0.5), float_cell(2.0), "percent! 1.0"},
        {float_math<integer::MathOp::add>, percent_cell(0.5), int_cell(1), "percent! 1.5"},
        {actions::add_s, float_cell(1.0), time_cell(60.0), "time! 0:01:01"},
        {float_math<integer::MathOp::add>, percent_cell(0.5), time_cell(60.0), "time! 0:01:00.5"},
        {actions::divide_s, float_cell(1.0), float_cell(0.0), "float! 1.#INF"},
        {actions::divide_s, float_cell(-1.0), int_cell(0), "float! -1.#INF"},
        {actions::divide_s, float_cell(0.0), float_cell(0.0), "float! 1.#NaN"},
        {actions::remainder_s, float_cell(5.5), int_cell(2), "float! 1.5"},
        {actions::remainder_s, float_cell(-5.5), int_cell(2), "float! -1.5"},
        {actions::remainder_s, float_cell(5.0), float_cell(kInf), "float! 5.0"},
        {actions::remainder_s, float_cell(kInf), float_cell(2.0), "float! 1.#NaN"},
        {actions::remainder_s, float_cell(kInf), float_cell(kInf), "float! 1.#NaN"},
        {actions::remainder_s, float_cell(5.0), float_cell(kNaN), "float! 1.#NaN"},
        {actions::power_s, float_cell(2.0), int_cell(10), "float! 1024.0"},
        {actions::power_s, float_cell(2.0), float_cell(-1.0), "float! 0.5"},
    };
    for (const Case& c : cases) EXPECT_EQ(typed(run(c.entry, {c.left, c.right})), c.expected) << c.expected;

    EXPECT_EQ(typed(run(actions::negate_s, {float_cell(0.0)})), "float! 0.0");
    EXPECT_EQ(typed(run(actions::absolute_s, {float_cell(-2.5)})), "float! 2.5");

    struct Failure {
        Entry entry;
        Cell left, right;
        Err expected;
    } failures[] = {
        {actions::add_s, float_cell(1.0), none::value, Err::script_invalid_type},
        {float_math<integer::MathOp::add>, percent_cell(1.0), test::char_cell(1), Err::script_invalid_type},
        {actions::add_s, time_cell(1.0), test::char_cell(1), Err::script_invalid_type},
        {float_math<integer::MathOp::or_>, float_cell(1.0), float_cell(1.0), Err::script_cannot_use},
        {actions::power_s, float_cell(1.0), time_cell(1.0), Err::script_expect_arg},
        {actions::and__s, float_cell(1.0), float_cell(1.0), Err::script_expect_arg},  // float! has no and~
    };
    for (const Failure& f : failures) EXPECT_EQ(test::error_of([&] { run(f.entry, {f.left, f.right}); }), f.expected);
}

TEST(FloatMath, EvenOddAndConversionsCheckTheIntegerRange) {
    EXPECT_TRUE(logic::get(run(actions::even_q_s, {float_cell(2.9)})));
    EXPECT_TRUE(logic::get(run(actions::odd_q_s, {float_cell(-3.5)})));
    for (double beyond : {kNaN, 2147483648.0, -2147483649.0, kInf})
        for (Entry entry : {actions::even_q_s, actions::odd_q_s})
            EXPECT_EQ(test::error_of([&] { run(entry, {float_cell(beyond)}); }), Err::math_overflow) << beyond;

    Cell f = type_cell(Type::Float);
    EXPECT_EQ(typed(run(actions::to_s, {f, int_cell(3)})), "float! 3.0");
    EXPECT_EQ(typed(run(actions::to_s, {f, percent_cell(0.5)})), "float! 0.5");
    EXPECT_EQ(typed(run(actions::make_s, {f, time_cell(90.0)})), "float! 90.0");
    EXPECT_EQ(typed(run(actions::to_s, {f, test::block_of({int_cell(15), int_cell(-1)})})), "float! 1.5");
    EXPECT_EQ(typed(run(actions::to_s, {f, test::block_of({float_cell(1.5), int_cell(3)})})), "float! 1500.0");
    EXPECT_EQ(test::error_of([&] { run(actions::to_s, {f, test::block_of({int_cell(1)})}); }), Err::script_bad_to_arg);
    EXPECT_EQ(test::error_of([&] {
                  run(actions::to_s, {f, test::block_of({none::value, int_cell(1)})});
              }),
              Err::script_bad_to_arg);
    EXPECT_EQ(test::error_of([&] { run(actions::to_s, {f, none::value}); }), Err::script_bad_to_arg);
}

TEST(FloatRound, EveryModeOnIntegersFloatsAndPercents) {
    using Round = RefinementName<Act::round>;
    enum Mode {
        kNearest = -1,
        kEven = Round("even").index,
        kDown = Round("down").index,
        kHalfDown = Round("half-down").index,
        kFloor = Round("floor").index,
        kCeiling = Round("ceiling").index,
        kHalfCeiling = Round("half-ceiling").index,
    };
    struct Case {
        Cell value;
        Cell scale;  // none: no /to
        Mode mode;
        const char* expected;
    } cases[] = {
        {float_cell(2.5), none::value, kNearest, "float! 3.0"},
        {float_cell(-2.5), none::value, kNearest, "float! -3.0"},
        {float_cell(2.4999999999999996), none::value, kNearest, "float! 2.0"},
        {float_cell(2.5), none::value, kEven, "float! 2.0"},
        {float_cell(3.5), none::value, kEven, "float! 4.0"},
        {float_cell(2.5), none::value, kHalfDown, "float! 2.0"},
        {float_cell(-2.5), none::value, kHalfCeiling, "float! -2.0"},
        {float_cell(2.5), none::value, kHalfCeiling, "float! 3.0"},
        {float_cell(-2.7), none::value, kDown, "float! -2.0"},
        {float_cell(-2.1), none::value, kFloor, "float! -3.0"},
        {float_cell(-2.0), none::value, kFloor, "float! -2.0"},
        {float_cell(2.1), none::value, kCeiling, "float! 3.0"},
        {float_cell(-0.4), none::value, kNearest, "float! 0.0"},
        {float_cell(1.2345), float_cell(0.01), kNearest, "float! 1.23"},
        {float_cell(1.235), float_cell(-0.01), kNearest, "float! 1.24"},
        {float_cell(2.6), int_cell(1), kNearest, "integer! 3"},
        {float_cell(7.0), float_cell(2.5), kNearest, "float! 7.5"},
        {float_cell(1e300), float_cell(1.0), kNearest, "float! 1.0e300"},  // already a multiple
        {float_cell(1.5), float_cell(0.0), kNearest, "float! 1.5"},
        {float_cell(1.5), float_cell(5e-324), kNearest, "float! 1.5"},
        {float_cell(kNaN), none::value, kNearest, "float! 1.#NaN"},
        {int_cell(17), int_cell(5), kNearest, "integer! 15"},
        {int_cell(18), int_cell(5), kNearest, "integer! 20"},
        {int_cell(-17), int_cell(5), kNearest, "integer! -15"},
        {int_cell(25), int_cell(10), kNearest, "integer! 30"},
        {int_cell(25), int_cell(10), kEven, "integer! 20"},
        {int_cell(35), int_cell(10), kEven, "integer! 40"},
        {int_cell(25), int_cell(10), kHalfDown, "integer! 20"},
        {int_cell(-25), int_cell(10), kHalfCeiling, "integer! -20"},
        {int_cell(-19), int_cell(10), kDown, "integer! -10"},
        {int_cell(-11), int_cell(10), kFloor, "integer! -20"},
        {int_cell(-20), int_cell(10), kFloor, "integer! -20"},
        {int_cell(11), int_cell(10), kCeiling, "integer! 20"},
        {int_cell(15), int_cell(-10), kNearest, "integer! 20"},
        {int_cell(5), int_cell(0), kNearest, "integer! 5"},
        {int_cell(7), none::value, kFloor, "integer! 7"},
        {int_cell(2147483647), int_cell(INT32_MIN), kDown, "integer! 0"},
        {int_cell(-2147483647), int_cell(2), kCeiling, "integer! -2147483646"},
        {int_cell(7), float_cell(2.5), kNearest, "float! 7.5"},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> refinements(7, -1);
        if (!c.scale.is(Type::None)) refinements[Round("to").index] = 1;
        if (c.mode != kNearest) refinements[c.mode] = 0;
        EXPECT_EQ(typed(run(actions::round_s, {c.value, c.scale}, refinements)), c.expected) << c.expected;
    }

    struct Failure {
        Cell value, scale;
        Err expected;
    } failures[] = {
        {float_cell(kNaN), int_cell(1), Err::math_overflow},
        {float_cell(3e9), int_cell(1), Err::math_overflow},
        {float_cell(-kInf), int_cell(1), Err::math_overflow},
        {float_cell(1e300), int_cell(1), Err::math_overflow},
        {float_cell(1.7e308), float_cell(1e308), Err::math_overflow},
        {int_cell(2147483647), int_cell(10), Err::math_overflow},
        {int_cell(INT32_MIN), int_cell(10), Err::math_overflow},
        {float_cell(1.0), Cell{uint8_t(Type::Money), 0, 0, 0}, Err::script_not_related},
        {int_cell(1), Cell{uint8_t(Type::Money), 0, 0, 0}, Err::script_not_related},
    };
    for (const Failure& f : failures)
        EXPECT_EQ(test::error_of([&] {
                      run(actions::round_s, {f.value, f.scale}, {1});
                  }),
                  f.expected)
            << typed(f.value);

    // A percent rounds to hundredths, and a scale is read as a percent of it.
    struct PercentCase {
        Cell scale;  // none: no /to
        const char* expected;
    } percent_cases[] = {
        {none::value, "percent! 0.12"},
        {percent_cell(0.1), "percent! 0.123"},
        {float_cell(5.0), "float! 0.1"},
    };
    for (PercentCase& c : percent_cases) {
        Cell value = percent_cell(0.12345);
        float_::round(&value, RoundOptions{.scale = c.scale.is(Type::None) ? nullptr : &c.scale});
        EXPECT_EQ(typed(value), c.expected);
    }
}

TEST(FloatRandom, DrawsLieBetweenZeroAndTheValue) {
    run(actions::random_s, {float_cell(1.5)}, {0});
    for (int i = 0; i < 2000; i++) {
        for (bool secure : {false, true}) {
            double r = float_::get(run(actions::random_s, {float_cell(1.0)}, {-1, secure ? 0 : -1}));
            ASSERT_TRUE(r >= 0.0 && r <= 1.0) << r;
            double negative = float_::get(run(actions::random_s, {float_cell(-4.0)}, {-1, secure ? 0 : -1}));
            ASSERT_TRUE(negative <= 0.0 && negative >= -4.0) << negative;
        }
    }
    EXPECT_EQ(run(actions::random_s, {time_cell(60.0)}).type(), Type::Time);
    // Seeding answers unset and fixes what follows.
    EXPECT_EQ(run(actions::random_s, {float_cell(1.5)}, {0}).type(), Type::Unset);
    double first = float_::get(run(actions::random_s, {float_cell(1.0)}));
    run(actions::random_s, {float_cell(1.5)}, {0});
    EXPECT_EQ(float_::get(run(actions::random_s, {float_cell(1.0)})), first);
}

TEST(FloatConversions, CheckedIntegerTruncatesInsideTheRangeOnly) {
    EXPECT_EQ(float_::to_integer_checked(int_cell(-7)), -7);
    EXPECT_EQ(float_::to_integer_checked(float_cell(2147483647.0)), INT32_MAX);
    EXPECT_EQ(float_::to_integer_checked(float_cell(-2147483648.0)), INT32_MIN);
    EXPECT_EQ(float_::to_integer_checked(float_cell(-0.5)), 0);
    // The range ends where the integers do, at both ends alike: a fraction past either end is beyond it.
    for (double beyond : {2147483647.5, 2147483648.0, -2147483648.5, -2147483649.0, kInf, kNaN})
        EXPECT_EQ(test::error_of([&] { float_::to_integer_checked(float_cell(beyond)); }), Err::script_out_of_range)
            << beyond;
}

TEST(FloatConversions, DegreesFoldIntoTheRangeOfTheFunctionThatFollows) {
    enum { kTangent, kCosine, kSine };
    struct Case {
        double degrees;
        int32_t mode;
        double folded;  // in degrees
    };
    const Case cases[] = {
        {270, kSine, -90},    {135, kTangent, -45}, {180, kSine, 0},     {-180, kSine, 0},
        {100, kSine, 80},     {-100, kSine, -80},   {270, kCosine, -90}, {200, kCosine, -160},
        {-135, kTangent, 45}, {450, kTangent, 90},  {-721, kCosine, -1}, {45, kSine, 45},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sys::degrees_to_radians(c.degrees, c.mode), c.folded * 3.141592653589793 / 180.0)
            << c.degrees << " mode " << c.mode;
    EXPECT_EQ(sys::degrees_to_radians(90, kTangent), 3.141592653589793 / 2);  // tangent 90 is infinite
    EXPECT_TRUE(std::isnan(sys::degrees_to_radians(kInf, kSine)));
}
