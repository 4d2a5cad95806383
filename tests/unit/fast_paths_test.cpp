// The operator fast paths: every form gives the answer of the ordinary action, integers overflow to
// float!, and block navigation stays within the block.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/time.h"
#include "evaluator/fast_paths.h"
#include "runtime/registry.h"
#include "series_testing.h"
#include "test_support.h"

using namespace oka;
using integer::MathOp;
using test::float_cell;
using test::int_cell;

namespace {

const Cell kName = none::value;

std::string typed(const Cell& value) {
    return std::string(datatype::type_name(value.type()).name) + " " + test::mold(value);
}

Cell time_cell(double seconds) {
    Cell c;
    return *time::make_at(&c, seconds);
}

// Runs `body` and puts both stacks back as they were, also when it raises an error (which a protected
// call of the language would do); answers the error raised, Err(0) for none.
template <class F>
Err restoring_stacks(F body) {
    Cell *base = stack::frame_base, *top = stack::top;
    stack::CallFrame* call_top = stack::call_top;
    Err raised = test::error_of(body);
    stack::frame_base = base;
    stack::top = top;
    stack::call_top = call_top;
    return raised;
}

}  // namespace

TEST(FastPaths, MathInEveryFormAgreesWithTheActions) {
    struct Case {
        MathOp op;
        Cell a, b;
        const char* expected;
    } cases[] = {
        {MathOp::add, int_cell(2147483647), int_cell(1), "float! 2147483648.0"},
        {MathOp::subtract, int_cell(INT32_MIN), int_cell(1), "float! -2147483649.0"},
        {MathOp::multiply, int_cell(65536), int_cell(65536), "float! 4294967296.0"},
        {MathOp::multiply, int_cell(-7), int_cell(6), "integer! -42"},
        {MathOp::and_, int_cell(12), int_cell(10), "integer! 8"},
        {MathOp::or_, int_cell(12), int_cell(10), "integer! 14"},
        {MathOp::xor_, int_cell(12), int_cell(10), "integer! 6"},
        {MathOp::add, float_cell(1.5), float_cell(2.25), "float! 3.75"},
        {MathOp::multiply, float_cell(0.1), float_cell(3.0), "float! 0.30000000000000004"},
        {MathOp::add, float_cell(1.5), int_cell(2), "float! 3.5"},
        {MathOp::subtract, time_cell(90), int_cell(30), "time! 0:01:00"},
        {MathOp::add, int_cell(1), time_cell(60), "time! 0:01:01"},
    };
    for (const Case& c : cases) {
        Cell* top = stack::top;
        EXPECT_EQ(typed(*actions::math_cells(c.op, kName, c.a, c.b)), c.expected);
        EXPECT_EQ(stack::top, top + 1);  // the result, pushed
        stack::push(c.a);
        EXPECT_EQ(typed(*actions::math_top_cell(c.op, kName, c.b)), c.expected);
        EXPECT_EQ(stack::top, top + 2);  // written over the operand
        if (c.b.is(Type::Integer)) {
            EXPECT_EQ(typed(*actions::math_int(c.op, kName, c.a, integer::get(c.b))), c.expected);
            stack::push(c.a);
            EXPECT_EQ(typed(*actions::math_top_int(c.op, kName, integer::get(c.b))), c.expected);
        }
        stack::top = top;
    }
    EXPECT_EQ(restoring_stacks([] { actions::math_cells(MathOp::add, kName, float_cell(1.0), none::value); }),
              Err::script_invalid_type);
    EXPECT_EQ(restoring_stacks([] { actions::math_int(MathOp::add, kName, none::value, 1); }), Err::script_expect_arg);
}

TEST(FastPaths, ComparisonInEveryForm) {
    struct Case {
        CompareOp op;
        Cell a, b;
        bool expected;
    } cases[] = {
        {kCompareEqual, int_cell(3), int_cell(3), true},
        {kCompareStrictEqual, int_cell(3), int_cell(3), true},
        {kCompareNotEqual, int_cell(3), int_cell(3), false},
        {kCompareLesser, int_cell(INT32_MIN), int_cell(INT32_MAX), true},
        {kCompareLesserEqual, int_cell(4), int_cell(3), false},
        {kCompareGreater, int_cell(4), int_cell(3), true},
        {kCompareGreaterEqual, int_cell(3), int_cell(3), true},
        // Mixed types keep the datatypes' rules.
        {kCompareEqual, int_cell(1), float_cell(1.0), true},
        {kCompareStrictEqual, int_cell(1), float_cell(1.0), false},
        {kCompareEqual, float_cell(0.1 + 0.2), float_cell(0.3), true},
        {kCompareLesser, float_cell(std::nan("")), int_cell(1), false},
        {kCompareGreaterEqual, time_cell(60), int_cell(60), true},
    };
    for (const Case& c : cases) {
        Cell* top = stack::top;
        Cell saved_result = *stack::arguments();
        EXPECT_EQ(logic::get(*actions::compare_cells_push(c.op, kName, c.a, c.b)), c.expected);
        EXPECT_EQ(stack::top, top + 1);
        stack::top = top;
        EXPECT_EQ(actions::compare_cells_test(c.op, kName, c.a, c.b, true), !c.expected);
        EXPECT_EQ(actions::compare_cells_test(c.op, kName, c.a, c.b, false), c.expected);
        EXPECT_EQ(stack::top, top);
        EXPECT_EQ(actions::compare_cells_set(c.op, kName, c.a, c.b), c.expected);
        EXPECT_EQ(logic::get(*stack::arguments()), c.expected);
        stack::push(c.a);
        actions::compare_top_cell(c.op, kName, c.b);
        EXPECT_EQ(logic::get(*stack::get_top()), c.expected);
        EXPECT_EQ(stack::top, top + 1);
        stack::top = top;
        if (c.b.is(Type::Integer)) {
            int32_t b = integer::get(c.b);
            EXPECT_EQ(logic::get(*actions::compare_int_push(c.op, kName, c.a, b)), c.expected);
            EXPECT_EQ(actions::compare_int_test(c.op, kName, c.a, b, false), c.expected);
            EXPECT_EQ(actions::compare_int_set(c.op, kName, c.a, b), c.expected);
            stack::top = top;
            stack::push(c.a);
            actions::compare_top_int(c.op, kName, b);
            EXPECT_EQ(logic::get(*stack::get_top()), c.expected);
        }
        stack::top = top;
        *stack::arguments() = saved_result;
    }
    EXPECT_EQ(restoring_stacks([] { actions::compare_int_test(kCompareLesser, kName, none::value, 1, true); }),
              Err::script_invalid_compare);
}

TEST(FastPaths, BlockPickAndNavigation) {
    Cell block = test::at_head(test::ints({10, 20, 30}), 1);
    Cell* top = stack::top;
    EXPECT_EQ(typed(*actions::pick_fast(block, 1, kName)), "integer! 20");
    EXPECT_EQ(typed(*actions::pick_fast(block, 2, kName)), "integer! 30");
    for (int32_t outside : {0, 3, -1, INT32_MIN})
        EXPECT_TRUE(actions::pick_fast(block, outside, kName)->is(Type::None));
    EXPECT_EQ(typed(*actions::pick_fast(time_cell(3661), 2, kName)), "integer! 1");  // a path selection

    using actions::SeriesOp;
    struct Case {
        uint32_t head;
        SeriesOp op;
        const char* expected;
    } cases[] = {
        {1, SeriesOp::length_q, "integer! 2"},    {1, SeriesOp::index_q, "integer! 2"},
        {0, SeriesOp::head_q, "logic! true"},     {1, SeriesOp::head_q, "logic! false"},
        {3, SeriesOp::tail_q, "logic! true"},     {1, SeriesOp::next, "block! [30]"},
        {3, SeriesOp::next, "block! []"},         {1, SeriesOp::back, "block! [10 20 30]"},
        {0, SeriesOp::back, "block! [10 20 30]"}, {2, SeriesOp::head, "block! [10 20 30]"},
        {1, SeriesOp::tail, "block! []"},         {5, SeriesOp::length_q, "integer! 0"},
    };
    for (const Case& c : cases) {
        Cell* result = actions::series_fast_op(test::at_head(block, c.head), c.op, kName);
        EXPECT_EQ(typed(*result), c.expected);
    }
    EXPECT_EQ(actions::series_fast_op(test::at_head(block, 1), SeriesOp::next, kName)->data1, 2u);
    EXPECT_EQ(actions::series_fast_op(test::at_head(block, 0), SeriesOp::tail, kName)->data1, 3u);
    EXPECT_TRUE(actions::series_fast_op(none::value, SeriesOp::length_q, kName)->is(Type::None));
    stack::top = top;
}

TEST(FastPathsDeathTest, UnknownOpCodesEndTheProcess) {
    EXPECT_EXIT(actions::math_int(MathOp::divide, kName, int_cell(1), 1), testing::ExitedWithCode(101), "");
    EXPECT_EXIT(actions::compare_int_test(kCompareSort, kName, int_cell(1), 1, true), testing::ExitedWithCode(101), "");
    EXPECT_EXIT(actions::series_fast_op(none::value, actions::SeriesOp(9), kName), testing::ExitedWithCode(101), "");
}
