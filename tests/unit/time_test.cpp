// time!: text, construction, the hour, minute and second fields, arithmetic and rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/time.h"
#include "runtime/registry.h"
#include "series_testing.h"
#include "test_support.h"

using namespace oka;
using test::block_of;
using test::float_cell;
using test::int_cell;
using test::run;
using test::time_cell;
using test::typed;

namespace {

const Cell kDate{uint8_t(Type::Date), 0, 0, 0};

using Entry = void (*)(const int32_t*);

}  // namespace

TEST(Time, FormAndMold) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {
        {5400, "1:30:00"},          {3661.5, "1:01:01.5"}, {-5400, "-1:30:00"},
        {90000, "25:00:00"},        {90, "0:01:30"},       {0.0000001, "0:00:00"},
        {0.5, "0:00:00.5"},         {59.25, "0:00:59.25"}, {-0.000002, "-0:00:00.000002"},
        {1e13, "2777777777:46:40"}, {1.0 / 0.0, "1.#INF"}, {59.9999999, "0:01:00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(test::form(time_cell(c.seconds)), c.text);
        EXPECT_EQ(test::mold(time_cell(c.seconds)), c.text);
    }
}

TEST(Time, MakeFromNumbersAndBlocks) {
    Cell t = test::type_cell(Type::Time);
    struct Case {
        Cell spec;
        const char* expected;
    } cases[] = {
        {int_cell(90), "time! 0:01:30"},
        {float_cell(1.5), "time! 0:00:01.5"},
        {time_cell(60), "time! 0:01:00"},
        {block_of({int_cell(1), int_cell(30)}), "time! 1:30:00"},
        {block_of({int_cell(-1), int_cell(30), int_cell(0)}), "time! -1:30:00"},
        {block_of({int_cell(1), int_cell(2), float_cell(3.5)}), "time! 1:02:03.5"},
        {block_of({}), "time! 0:00:00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(typed(run(actions::make_s, {t, c.spec})), c.expected);
        EXPECT_EQ(typed(run(actions::to_s, {t, c.spec})), c.expected);
    }
    for (Cell spec : {block_of({int_cell(1), int_cell(-30), int_cell(0)}),
                      block_of({int_cell(1), int_cell(2), int_cell(3), int_cell(4)}), block_of({float_cell(1.5)}),
                      block_of({int_cell(1), float_cell(2.0)}), none::value})
        EXPECT_EQ(test::error_of([&] { run(actions::make_s, {t, spec}); }), Err::script_bad_to_arg);
}

TEST(Time, FieldsReadAndSet) {
    auto eval_path = datatype::action<Act::eval_path>(Type::Time);
    auto field = [&](double seconds, int32_t index) {
        Cell time = time_cell(seconds), element = int_cell(index);
        return typed(*eval_path(&time, &element, nullptr, EvalPathOptions{.get = true, .last = true}));
    };
    EXPECT_EQ(field(-5400, 1), "integer! -1");
    EXPECT_EQ(field(-5400, 2), "integer! 30");
    EXPECT_EQ(field(3661.5, 3), "float! 1.5");
    EXPECT_EQ(field(-3661.5, 3), "float! -1.5");
    EXPECT_EQ(typed(run(actions::pick_s, {time_cell(3661.5), int_cell(2)})), "integer! 1");

    struct Case {
        double seconds;
        int32_t index;
        Cell value;
        const char* expected;
    } cases[] = {
        {5400, 2, int_cell(45), "1:45:00"},       {5400, 1, int_cell(3), "3:30:00"},
        {5400, 3, float_cell(15.5), "1:30:15.5"}, {-5400, 1, int_cell(-2), "-2:30:00"},
        {-5400, 2, int_cell(45), "-1:45:00"},     {-5410, 3, int_cell(-15), "-1:30:15"},
    };
    for (Case& c : cases) {
        Cell time = time_cell(c.seconds), element = int_cell(c.index);
        eval_path(&time, &element, &c.value, EvalPathOptions{.last = true});
        EXPECT_EQ(test::mold(time), c.expected);
    }

    Cell time = time_cell(5400), hour = int_cell(1), fourth = int_cell(4), half = float_cell(0.5);
    EXPECT_EQ(test::error_of([&] { eval_path(&time, &fourth, nullptr, EvalPathOptions{.get = true, .last = true}); }),
              Err::script_invalid_path);
    EXPECT_EQ(test::error_of([&] { eval_path(&time, &hour, &half, EvalPathOptions{.last = true}); }),
              Err::script_invalid_arg);
    EXPECT_EQ(test::error_of([&] { run(actions::pick_s, {time_cell(1), int_cell(0)}); }), Err::script_out_of_range);
    EXPECT_EQ(test::error_of([&] { field(1e20, 1); }), Err::math_overflow);
    EXPECT_EQ(test::error_of([&] { field(std::nan(""), 2); }), Err::math_overflow);
}

TEST(Time, ArithmeticKeepsTimeWhereItMeansTime) {
    struct Case {
        Entry entry;
        Cell left, right;
        const char* expected;
    } cases[] = {
        {actions::add_s, time_cell(3600), int_cell(30), "time! 1:00:30"},
        {actions::add_s, time_cell(3600), time_cell(1800), "time! 1:30:00"},
        {actions::subtract_s, time_cell(3600), time_cell(5400), "time! -0:30:00"},
        {actions::multiply_s, time_cell(3600), float_cell(1.5), "time! 1:30:00"},
        {actions::multiply_s, int_cell(2), time_cell(3600), "time! 2:00:00"},
        {actions::divide_s, time_cell(3600), int_cell(2), "time! 0:30:00"},
        {actions::divide_s, time_cell(3600), time_cell(1800), "float! 2.0"},
        {actions::remainder_s, time_cell(5400), time_cell(3600), "time! 0:30:00"},
        {actions::subtract_s, float_cell(10.0), time_cell(5), "time! 0:00:05"},
    };
    for (const Case& c : cases) EXPECT_EQ(typed(run(c.entry, {c.left, c.right})), c.expected) << c.expected;
    EXPECT_EQ(typed(run(actions::negate_s, {time_cell(90)})), "time! -0:01:30");
    EXPECT_EQ(typed(run(actions::absolute_s, {time_cell(-90)})), "time! 0:01:30");

    struct Failure {
        Entry entry;
        Cell right;
        Err expected;
    } failures[] = {
        {actions::multiply_s, time_cell(2), Err::script_not_related},
        {actions::subtract_s, kDate, Err::script_not_related},
        {actions::add_s, none::value, Err::script_invalid_type},
        {actions::power_s, int_cell(2), Err::script_expect_arg},  // time! has no power
    };
    for (const Failure& f : failures)
        EXPECT_EQ(test::error_of([&] { run(f.entry, {time_cell(60), f.right}); }), f.expected);

    Cell hour = time_cell(3600), seconds = int_cell(3600), as_float = float_cell(3600.0);
    EXPECT_TRUE(actions::compare(&hour, &seconds, kCompareEqual));
    EXPECT_FALSE(actions::compare(&hour, &as_float, kCompareStrictEqual));
    EXPECT_TRUE(actions::compare(&seconds, &hour, kCompareLesserEqual));
}

TEST(Time, EvenOddAndRound) {
    struct Parity {
        double seconds;
        bool even;
    } parities[] = {{2, true}, {3, false}, {60, true}, {-3, false}, {1.9999999, true}, {61.5, false}};
    for (const Parity& p : parities) {
        EXPECT_EQ(logic::get(run(actions::even_q_s, {time_cell(p.seconds)})), p.even) << p.seconds;
        EXPECT_EQ(logic::get(run(actions::odd_q_s, {time_cell(p.seconds)})), !p.even) << p.seconds;
    }
    EXPECT_EQ(test::error_of([] { run(actions::even_q_s, {time_cell(std::nan(""))}); }), Err::math_overflow);

    struct Case {
        double seconds;
        Cell scale;  // none: no /to
        const char* expected;
    } cases[] = {
        {4050, time_cell(900), "time! 1:15:00"},
        {5445, int_cell(60), "time! 1:31:00"},
        {5445.5, none::value, "time! 1:30:46"},
        {5445, float_cell(3600), "time! 2:00:00"},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> refinements{c.scale.is(Type::None) ? -1 : 1};
        EXPECT_EQ(typed(run(actions::round_s, {time_cell(c.seconds), c.scale}, refinements)), c.expected);
    }
    Cell money{uint8_t(Type::Money), 0, 0, 0};
    EXPECT_EQ(test::error_of([&] { run(actions::round_s, {time_cell(1), money}, {1}); }), Err::script_not_related);
}
