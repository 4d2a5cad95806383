// integer!: text, conversions, comparison, the math actions with their overflow to float!, power and
// random.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/time.h"
#include "runtime/random.h"
#include "runtime/registry.h"
#include "test_support.h"

using namespace oka;
using test::float_cell;
using test::int_cell;
using test::run;
using test::time_cell;
using test::type_cell;
using test::typed;

namespace {

using Entry = void (*)(const int32_t*);

}  // namespace

TEST(Integer, TextAndConversions) {
    struct Case {
        int32_t value;
        const char* text;
    } cases[] = {{0, "0"}, {-1, "-1"}, {2147483647, "2147483647"}, {INT32_MIN, "-2147483648"}};
    for (const Case& c : cases) {
        EXPECT_EQ(test::form(int_cell(c.value)), c.text);
        EXPECT_EQ(test::mold_all(int_cell(c.value)), c.text);
    }
    Cell t = type_cell(Type::Integer);
    EXPECT_EQ(integer::get(run(actions::to_s, {t, float_cell(-1.9)})), -1);
    EXPECT_EQ(integer::get(run(actions::make_s, {t, logic::true_value})), 1);
    EXPECT_EQ(integer::get(run(actions::to_s, {t, test::char_cell('a')})), 97);
    EXPECT_EQ(integer::get(run(actions::to_s, {t, time_cell(89.5)})), 90);
    EXPECT_EQ(test::error_of([&] { run(actions::to_s, {t, float_cell(2147483648.0)}); }), Err::script_type_limit);
    EXPECT_EQ(test::error_of([&] { run(actions::to_s, {t, float_cell(std::nan(""))}); }), Err::script_type_limit);
    EXPECT_EQ(test::error_of([&] { run(actions::to_s, {t, none::value}); }), Err::script_bad_to_arg);
}

TEST(Integer, CompareAndUnaryOperations) {
    Cell one = int_cell(1), two = int_cell(2), ch = test::char_cell(1), one_float = float_cell(1.0);
    EXPECT_TRUE(actions::compare(&one, &two, kCompareLesser));
    EXPECT_TRUE(actions::compare(&one, &ch, kCompareEqual));
    EXPECT_FALSE(actions::compare(&one, &ch, kCompareStrictEqual));  // == does not mix types
    EXPECT_TRUE(actions::compare(&one, &one_float, kCompareEqual));
    EXPECT_FALSE(actions::compare(&one, &one_float, kCompareStrictEqual));
    EXPECT_FALSE(actions::compare(&one, &one_float, kCompareFind));
    EXPECT_EQ(integer::get(run(actions::negate_s, {int_cell(5)})), -5);
    EXPECT_EQ(integer::get(run(actions::absolute_s, {int_cell(-5)})), 5);
    EXPECT_EQ(integer::get(run(actions::complement_s, {int_cell(0)})), -1);
    EXPECT_TRUE(logic::get(run(actions::even_q_s, {int_cell(-4)})));
    EXPECT_TRUE(logic::get(run(actions::odd_q_s, {int_cell(-3)})));
    for (auto entry : {actions::negate_s, actions::absolute_s})
        EXPECT_EQ(test::error_of([&] { run(entry, {int_cell(INT32_MIN)}); }), Err::math_overflow);
}

TEST(Integer, MathLeavesTheRangeAsAnExactFloat) {
    struct Case {
        Entry entry;
        Cell left, right;
        const char* expected;
    } cases[] = {
        {actions::add_s, int_cell(2147483647), int_cell(1), "float! 2147483648.0"},
        {actions::add_s, int_cell(-2147483647), int_cell(-1), "integer! -2147483648"},
        {actions::subtract_s, int_cell(INT32_MIN), int_cell(1), "float! -2147483649.0"},
        {actions::subtract_s, int_cell(0), int_cell(INT32_MIN), "float! 2147483648.0"},
        {actions::multiply_s, int_cell(65536), int_cell(65536), "float! 4294967296.0"},
        {actions::multiply_s, int_cell(-65536), int_cell(32768), "integer! -2147483648"},
        {actions::multiply_s, int_cell(INT32_MIN), int_cell(INT32_MIN), "float! 4.611686018427388e18"},
        {actions::divide_s, int_cell(7), int_cell(2), "float! 3.5"},
        {actions::divide_s, int_cell(6), int_cell(3), "integer! 2"},
        {actions::divide_s, int_cell(-7), int_cell(2), "float! -3.5"},
        {actions::divide_s, int_cell(INT32_MIN), int_cell(2), "integer! -1073741824"},
        {actions::remainder_s, int_cell(-7), int_cell(2), "integer! -1"},
        {actions::remainder_s, int_cell(7), int_cell(-2), "integer! 1"},
        {actions::and__s, int_cell(12), int_cell(10), "integer! 8"},
        {actions::or__s, int_cell(12), int_cell(10), "integer! 14"},
        {actions::xor__s, int_cell(12), int_cell(-1), "integer! -13"},
        {actions::add_s, int_cell(1), test::char_cell('a'), "integer! 98"},
        // Any other number on the right makes it the float math, with that number's type.
        {actions::add_s, int_cell(1), float_cell(0.5), "float! 1.5"},
        {actions::subtract_s, int_cell(1), float_cell(0.5), "float! 0.5"},
        {actions::multiply_s, int_cell(2), time_cell(90), "time! 0:03:00"},
        {actions::remainder_s, int_cell(7), float_cell(2.5), "float! 2.0"},
    };
    for (const Case& c : cases) EXPECT_EQ(typed(run(c.entry, {c.left, c.right})), c.expected) << c.expected;
}

TEST(Integer, MathErrors) {
    struct Case {
        Entry entry;
        Cell left, right;
        Err expected;
    } cases[] = {
        {actions::divide_s, int_cell(1), int_cell(0), Err::math_zero_divide},
        {actions::remainder_s, int_cell(1), int_cell(0), Err::math_zero_divide},
        {actions::divide_s, int_cell(INT32_MIN), int_cell(-1), Err::math_overflow},
        {actions::remainder_s, int_cell(INT32_MIN), int_cell(-1), Err::math_overflow},
        {actions::add_s, int_cell(1), none::value, Err::script_invalid_type},
        {actions::and__s, int_cell(1), float_cell(1.0), Err::script_cannot_use},
        {actions::power_s, int_cell(2), none::value, Err::script_expect_arg},
    };
    for (const Case& c : cases) EXPECT_EQ(test::error_of([&] { run(c.entry, {c.left, c.right}); }), c.expected);
    test::error_of([] { run(actions::add_s, {int_cell(1), none::value}); });
    EXPECT_EQ(error::raised.args[0].named_type(), Type::None);  // invalid-type names the right datatype
}

TEST(Integer, PowerStaysExactWhileItFits) {
    struct Case {
        Cell base, exponent;
        const char* expected;
    } cases[] = {
        {int_cell(3), int_cell(4), "integer! 81"},
        {int_cell(0), int_cell(0), "integer! 1"},
        {int_cell(-2), int_cell(31), "integer! -2147483648"},
        {int_cell(2), int_cell(30), "integer! 1073741824"},
        {int_cell(2), int_cell(31), "float! 2147483648.0"},
        {int_cell(65536), int_cell(2), "float! 4294967296.0"},
        {int_cell(2), int_cell(-1), "float! 0.5"},
        {int_cell(4), float_cell(0.5), "float! 2.0"},
    };
    for (const Case& c : cases) EXPECT_EQ(typed(run(actions::power_s, {c.base, c.exponent})), c.expected);
}

TEST(Integer, RandomDrawsBetweenOneAndTheValue) {
    EXPECT_EQ(typed(run(actions::random_s, {int_cell(0)})), "integer! 0");
    for (int32_t n : {1, -3, 6, INT32_MIN}) {
        for (int i = 0; i < 200; i++) {
            for (bool secure : {false, true}) {
                int32_t r = integer::get(run(actions::random_s, {int_cell(n)}, {-1, secure ? 0 : -1}));
                EXPECT_TRUE(n > 0 ? r >= 1 && r <= n : r >= n && r <= -1) << n << " gave " << r;
            }
        }
    }
    // Seeding answers unset and fixes what follows.
    EXPECT_EQ(run(actions::random_s, {int_cell(7)}, {0}).type(), Type::Unset);
    int32_t first = integer::get(run(actions::random_s, {int_cell(1000000)}));
    run(actions::random_s, {int_cell(7)}, {0});
    EXPECT_EQ(integer::get(run(actions::random_s, {int_cell(1000000)})), first);
}
