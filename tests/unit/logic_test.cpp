// unset!, none! and logic!: construction, text, comparison, truth and the logic operations.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/unset.h"
#include "test_support.h"

using namespace oka;
using test::float_cell;
using test::int_cell;
using test::run;
using test::type_cell;

namespace {

const Cell yes = logic::true_value, no = logic::false_value, nothing = none::value, unset_value = unset::value;

}  // namespace

TEST(Logic, TextOfTheThreeTypes) {
    struct Case {
        Cell value;
        const char* form;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {unset_value, "", "unset", "#(unset)"},
        {nothing, "none", "none", "#(none)"},
        {yes, "true", "true", "#(true)"},
        {no, "false", "false", "#(false)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(test::form(c.value), c.form);
        EXPECT_EQ(test::mold(c.value), c.mold);
        EXPECT_EQ(test::mold_all(c.value), c.mold_all);
    }
}

TEST(Logic, MakeAndTo) {
    struct Case {
        void (*entry)(const int32_t*);
        Cell spec;
        bool expected;
    } cases[] = {
        {actions::make_s, int_cell(0), false},
        {actions::make_s, int_cell(-1), true},
        {actions::make_s, float_cell(0.0), false},
        {actions::make_s, float_cell(std::nan("")), true},
        {actions::make_s, nothing, false},
        {actions::make_s, yes, true},
        {actions::to_s, int_cell(0), true},
        {actions::to_s, nothing, false},
        {actions::to_s, no, false},
        {actions::to_s, type_cell(Type::None), true},
    };
    for (const Case& c : cases) {
        Cell result = run(c.entry, {type_cell(Type::Logic), c.spec});
        ASSERT_EQ(result.type(), Type::Logic);
        EXPECT_EQ(logic::get(result), c.expected);
    }
    EXPECT_EQ(run(actions::make_s, {type_cell(Type::None), int_cell(3)}).type(), Type::None);
    EXPECT_EQ(run(actions::to_s, {type_cell(Type::Unset), int_cell(3)}).type(), Type::Unset);
}

TEST(Logic, ComparisonIsEqualityOnlyButSortsFalseFirst) {
    Cell a = yes, b = no, n1 = nothing, n2 = nothing, u1 = unset_value, u2 = unset_value, i = int_cell(1);
    EXPECT_TRUE(actions::compare(&n1, &n2, kCompareEqual));
    EXPECT_TRUE(actions::compare(&u1, &u2, kCompareStrictEqual));
    EXPECT_FALSE(actions::compare(&a, &b, kCompareEqual));
    EXPECT_TRUE(actions::compare(&a, &i, kCompareNotEqual));  // other types are simply unequal
    EXPECT_EQ(test::error_of([&] { actions::compare(&b, &a, kCompareLesser); }), Err::script_invalid_compare);
    EXPECT_EQ(test::error_of([&] { actions::compare(&n1, &n2, kCompareLesser); }), Err::script_invalid_compare);
    EXPECT_EQ(actions::compare_value(&b, &a, kCompareSort), -1);
    EXPECT_EQ(actions::compare_value(&a, &b, kCompareSort), 1);
}

TEST(Logic, OperationsAndTheirArgumentCheck) {
    struct Case {
        void (*entry)(const int32_t*);
        Cell left, right;
        bool expected;
    } cases[] = {
        {actions::and__s, yes, no, false}, {actions::and__s, yes, yes, true},  {actions::or__s, no, yes, true},
        {actions::or__s, no, no, false},   {actions::xor__s, yes, yes, false}, {actions::xor__s, yes, no, true},
    };
    for (const Case& c : cases) EXPECT_EQ(logic::get(run(c.entry, {c.left, c.right})), c.expected);
    EXPECT_FALSE(logic::get(run(actions::complement_s, {yes})));
    EXPECT_EQ(test::error_of([&] { run(actions::and__s, {yes, int_cell(1)}); }), Err::script_expect_arg);
}

TEST(Logic, TruthOfValues) {
    for (const Cell& v : {nothing, no}) EXPECT_FALSE(logic::true_q(v));
    for (const Cell& v : {yes, int_cell(0), unset_value, float_cell(0.0)}) EXPECT_TRUE(logic::true_q(v));
    EXPECT_EQ(test::error_of([&] { logic::true_q(unset_value, true); }), Err::script_no_value);
}

TEST(None, SeriesActionsAnswerNone) {
    EXPECT_EQ(run(actions::length_q_s, {nothing}).type(), Type::None);
    EXPECT_EQ(run(actions::find_s, {nothing, int_cell(1)}).type(), Type::None);
    EXPECT_EQ(run(actions::select_s, {nothing, int_cell(1)}).type(), Type::None);
    EXPECT_EQ(run(actions::take_s, {nothing}).type(), Type::None);
    EXPECT_EQ(run(actions::clear_s, {nothing}).type(), Type::None);
    EXPECT_EQ(run(actions::remove_s, {nothing}).type(), Type::None);
}
