// issue!: construction, form and mold, comparison, and the hexadecimal reading of to integer!.
#include <gtest/gtest.h>

#include "datatypes/context.h"
#include "datatypes/issue.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/root.h"
#include "string_testing.h"

using namespace oka;
using test::char_cell;
using test::error_of;
using test::int_cell;
using test::run;
using test::str;
using test::type_cell;
using test::utf8;

namespace {

Cell issue_of(const char* name) {
    Cell issue;
    return *issue::make_at(&issue, name);
}

}  // namespace

TEST(Issue, MakeToFormAndMold) {
    Cell foo = word::load("Foo");
    struct Case {
        Cell spec;
        const char* mold;
        const char* form;
    } cases[] = {
        {str("abc"), "#abc", "abc"}, {test::at_head(str("xabc"), 1), "#abc", "abc"},
        {char_cell('x'), "#x", "x"}, {char_cell(0xE9), "#\u00E9", "\u00E9"},
        {foo, "#Foo", "Foo"},        {issue_of("a-b"), "#a-b", "a-b"},
    };
    for (const Case& c : cases) {
        Cell made = run(actions::to_s, {type_cell(Type::Issue), c.spec});
        ASSERT_EQ(made.type(), Type::Issue);
        EXPECT_EQ(utf8(run(actions::mold_s, {made})), c.mold);
        EXPECT_EQ(utf8(run(actions::form_s, {made})), c.form);
    }
    Cell from_word = run(actions::to_s, {type_cell(Type::Issue), foo});
    EXPECT_EQ(from_word.context(), foo.context());  // the binding stays
    EXPECT_EQ(from_word.position(), foo.position());
    Cell made = run(actions::make_s, {type_cell(Type::Issue), str("abc")});
    EXPECT_EQ(made.context(), _context::global);
    EXPECT_EQ(made.position(), -1);
    EXPECT_EQ(error_of([] { run(actions::to_s, {type_cell(Type::Issue), int_cell(1)}); }), Err::script_bad_to_arg);
}

// A symbol's own text never reaches script code: the text that form and to give out is a copy.
TEST(Issue, TheTextGivenOutIsACopy) {
    Cell abc = issue_of("abc");
    Cell text = run(actions::to_s, {type_cell(Type::String), abc});
    EXPECT_NE(text.node(), symbol::get_string(abc.symbol()));
    run(actions::poke_s, {text, int_cell(1), char_cell('X')});
    run(actions::append_s, {text, str("!")});
    EXPECT_EQ(utf8(text), "Xbc!");
    EXPECT_EQ(utf8(run(actions::form_s, {abc})), "abc");
    EXPECT_EQ(utf8(run(actions::mold_s, {issue_of("abc")})), "#abc");
}

TEST(Issue, ComparesOnlyWithIssues) {
    Cell abc = issue_of("abc"), upper = issue_of("ABC"), abd = issue_of("abd"), word = word::load("abc");
    EXPECT_TRUE(actions::compare(&abc, &upper, kCompareEqual));
    EXPECT_FALSE(actions::compare(&abc, &upper, kCompareStrictEqual));
    EXPECT_TRUE(actions::compare(&abc, &abd, kCompareLesser));
    EXPECT_EQ(actions::compare_value(&abd, &upper, kCompareSort), 1);
    EXPECT_EQ(actions::call<Act::compare>(&abc, &word, kCompareEqual), kNotComparable);
    EXPECT_EQ(actions::call<Act::compare>(&word, &abc, kCompareEqual), kNotComparable);
}

TEST(Issue, ToIntegerReadsHexadecimalDigitsOnly) {
    struct Case {
        const char* name;
        int32_t value;
    } cases[] = {{"FF", 255}, {"ff", 255}, {"0", 0}, {"7FFFFFFF", 0x7FFFFFFF}, {"FFFFFFFF", -1}, {"00000001", 1}};
    for (const Case& c : cases) {
        Cell value = run(actions::to_s, {type_cell(Type::Integer), issue_of(c.name)});
        EXPECT_EQ(integer::get(value), c.value) << c.name;
    }
    // Letters beyond ASCII never count as digits, whatever their low bits: U+00C1 and U+0146 end in
    // the bits of "A" and "F", U+0661 is an Arabic-Indic digit one.
    for (const char* name : {"123456789", "G1", "1 2", "\u00C1", "\u0146", "\u0661", "\u00E4bc"})
        EXPECT_EQ(error_of([&] {
                      run(actions::to_s, {type_cell(Type::Integer), issue_of(name)});
                  }),
                  Err::script_invalid_data)
            << name;
}

TEST(Issue, LoadKeepsIssuesInTheRootBlockDuringStartUp) {
    bool collecting = _context::collecting_new_words;
    for (bool starting : {true, false}) {
        _context::collecting_new_words = starting;
        uint32_t roots = series::rs_buffer_length_q(runtime::root);
        Cell* top = stack::top;
        Cell loaded = *issue::load("loaded");
        EXPECT_EQ(utf8(run(actions::mold_s, {loaded})), "#loaded");
        EXPECT_EQ(series::rs_buffer_length_q(runtime::root), roots + (starting ? 1 : 0));
        EXPECT_EQ(stack::top, top + (starting ? 0 : 1));
        stack::top = top;
    }
    _context::collecting_new_words = collecting;
}

TEST(Issue, PushAndMakeIn) {
    Cell* pushed = issue::push(word::load("w"));
    EXPECT_EQ(pushed->type(), Type::Issue);
    stack::pop(1);
    Cell block = test::block_of({});
    issue::make_in(block, "in");
    EXPECT_EQ(test::mold(block), "[#in]");
}
