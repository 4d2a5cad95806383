// char!: construction, integer arithmetic kept within the code points, comparison, form and mold.
#include <gtest/gtest.h>

#include "datatypes/char.h"
#include "string_testing.h"

using namespace oka;
using test::binary_of;
using test::char_cell;
using test::error_of;
using test::float_cell;
using test::int_cell;
using test::run;
using test::str;
using test::type_cell;
using test::utf8;

TEST(Char, MakeAndTo) {
    struct Case {
        Cell spec;
        uint32_t code_point;
    } cases[] = {
        {int_cell(1114111), 0x10FFFF},
        {int_cell(0), 0},
        {char_cell('z'), 'z'},
        {float_cell(97.9), 'a'},
        {float_cell(-0.5), 0},
        {str("abc"), 'a'},
        {test::at_head(str("a\u20AC"), 1), 0x20AC},
        {binary_of("\xE2\x82\xAC"), 0x20AC},
        {binary_of("A"), 'A'},
    };
    for (const Case& c : cases) {
        for (auto entry : {actions::make_s, actions::to_s}) {
            Cell made = run(entry, {type_cell(Type::Char), c.spec});
            EXPECT_EQ(made.type(), Type::Char);
            EXPECT_EQ(made.code_point(), c.code_point);
        }
    }
}

TEST(Char, MakeRefusals) {
    struct Case {
        Cell spec;
        Err error;
    } cases[] = {
        {int_cell(1114112), Err::script_out_of_range},
        {int_cell(-1), Err::script_out_of_range},
        {float_cell(1114112.0), Err::script_out_of_range},
        {float_cell(-1.0), Err::script_out_of_range},
        {float_cell(1e300), Err::script_out_of_range},
        {str(""), Err::script_bad_to_arg},
        {test::at_head(str("ab"), 2), Err::script_bad_to_arg},
        {binary_of(""), Err::script_bad_to_arg},
        {binary_of("\xE2\x82"), Err::access_invalid_utf8},
        {binary_of("\x82"), Err::access_invalid_utf8},
        {none::value, Err::script_bad_to_arg},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { run(actions::make_s, {type_cell(Type::Char), c.spec}); }), c.error);
}

TEST(Char, ArithmeticStaysWithinTheCodePoints) {
    struct Case {
        void (*entry)(const int32_t*);
        Cell left, right;
        uint32_t code_point;
    } cases[] = {
        {actions::add_s, char_cell('a'), int_cell(1), 'b'},
        {actions::add_s, char_cell('a'), char_cell(1), 'b'},
        {actions::subtract_s, char_cell('b'), char_cell('a'), 1},
        {actions::multiply_s, char_cell(0x21), float_cell(2.9), 0x42},
        {actions::divide_s, char_cell('d'), int_cell(3), 33},
        {actions::remainder_s, char_cell('d'), int_cell(3), 1},
        {actions::and__s, char_cell('a'), int_cell(0x5F), 'A'},
        {actions::or__s, char_cell('A'), int_cell(0x20), 'a'},
        {actions::xor__s, char_cell('a'), int_cell(0x20), 'A'},
        {actions::add_s, char_cell(0x10FFFE), int_cell(1), 0x10FFFF},
    };
    for (const Case& c : cases) {
        Cell result = run(c.entry, {c.left, c.right});
        EXPECT_EQ(result.type(), Type::Char);
        EXPECT_EQ(result.code_point(), c.code_point);
    }
    struct Refusal {
        void (*entry)(const int32_t*);
        Cell left, right;
        Err error;
    } refusals[] = {
        {actions::subtract_s, char_cell('a'), int_cell(98), Err::math_overflow},
        {actions::add_s, char_cell(0x10FFFF), int_cell(1), Err::math_overflow},
        {actions::multiply_s, char_cell(0x10000), int_cell(0x10000), Err::math_overflow},
        {actions::divide_s, char_cell('a'), int_cell(0), Err::math_zero_divide},
        {actions::add_s, char_cell('a'), str("x"), Err::script_invalid_type},
    };
    for (const Refusal& r : refusals) EXPECT_EQ(error_of([&] { run(r.entry, {r.left, r.right}); }), r.error);
    EXPECT_TRUE(run(actions::even_q_s, {char_cell('b')}).truth());
}

TEST(Char, ComparesCodePointsWithoutFolding) {
    Cell a = char_cell('a'), upper = char_cell('A'), b = char_cell('b'), n97 = int_cell(97), text = str("a");
    EXPECT_FALSE(actions::compare(&a, &upper, kCompareEqual));
    EXPECT_FALSE(actions::compare(&a, &upper, kCompareStrictEqual));
    EXPECT_TRUE(actions::compare(&a, &n97, kCompareEqual));
    EXPECT_FALSE(actions::compare(&a, &n97, kCompareStrictEqual));
    EXPECT_FALSE(actions::compare(&a, &n97, kCompareFind));
    EXPECT_TRUE(actions::compare(&a, &b, kCompareLesser));
    EXPECT_EQ(actions::compare_value(&b, &a, kCompareSort), 1);
    EXPECT_FALSE(actions::compare(&a, &text, kCompareEqual));
    EXPECT_EQ(error_of([&] { actions::compare(&a, &text, kCompareLesser); }), Err::script_invalid_compare);
}

TEST(Char, FormAndMold) {
    struct Case {
        uint32_t code_point;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {'a', "#\"a\"", "#\"a\""},           {'\t', "#\"^-\"", "#\"^-\""},
        {'"', "#\"^\"\"", "#\"^\"\""},       {'^', "#\"^^\"", "#\"^^\""},
        {0, "#\"^@\"", "#\"^@\""},           {0x1E, "#\"^(1E)\"", "#\"^(1E)\""},
        {0x7F, "#\"^~\"", "#\"^~\""},        {0x85, "#\"^(85)\"", "#\"^(85)\""},
        {0xE9, "#\"\u00E9\"", "#\"^(E9)\""}, {0x1F600, "#\"\U0001F600\"", "#\"^(1F600)\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf8(run(actions::mold_s, {char_cell(c.code_point)})), c.mold);
        EXPECT_EQ(utf8(run(actions::mold_s, {char_cell(c.code_point)}, {-1, 0})), c.mold_all);
    }
    EXPECT_EQ(utf8(run(actions::form_s, {char_cell(0x20AC)})), "\u20AC");
    EXPECT_EQ(utf8(run(actions::form_s, {char_cell('"')})), "\"");
}
