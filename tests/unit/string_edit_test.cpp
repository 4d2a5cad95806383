// string!: append, insert, change, swap, trim, the set operations and the change of letter case.
#include <gtest/gtest.h>

#include <optional>

#include "evaluator/refinements.h"
#include "string_testing.h"

using namespace oka;
using test::at_head;
using test::block_of;
using test::char_cell;
using test::code_points;
using test::error_of;
using test::given;
using test::int_cell;
using test::ints;
using test::run;
using test::str;
using test::text_of_unit;
using test::unit_of;
using test::utf8;

namespace {

// The refinements of append, insert and change, which have the same ones.
using EditName = RefinementName<Act::change>;
enum { kPart = EditName("part").index, kOnly = EditName("only").index, kDup = EditName("dup").index };

// An edit: the arguments of /part and /dup follow the value in the frame when given.
struct Edit {
    void (*entry)(const int32_t*);
    Cell series, value;
    std::optional<int32_t> part = std::nullopt, dup = std::nullopt;
    bool only = false;
};

Cell edit(const Edit& e) {
    std::vector<int32_t> refinements(16, -1);
    if (e.part) refinements[kPart] = 2;
    if (e.only) refinements[kOnly] = 0;
    if (e.dup) refinements[kDup] = 3;
    return run(e.entry, {e.series, e.value, int_cell(e.part.value_or(0)), int_cell(e.dup.value_or(0))}, refinements);
}

Cell tag(const char* text) { return test::with_type(str(text), Type::Tag); }

// The set operation that run_set_op performs on the strings of its frame.
bool set_case = false;
int32_t set_skip = 1;
string::SetOp set_op = string::SetOp::union_;
void run_set_op(const int32_t*) { string::do_set_op(set_case, set_skip, set_op); }

}  // namespace

TEST(StringEdit, AppendInsertAndChange) {
    auto append = actions::append_s, insert = actions::insert_s, change = actions::change_s;
    struct Case {
        Edit edit;
        const char* text;  // from the buffer start
        uint32_t head;     // of the result
    } cases[] = {
        {{append, str("x"), ints({1, 2})}, "x12", 0},
        {{append, at_head(str("ab"), 1), tag("b")}, "ab<b>", 0},
        {{append, str("abc"), str("def"), 2}, "abcde", 0},
        {{append, str("a"), str("xy"), std::nullopt, 3}, "axyxyxy", 0},
        {{append, str(""), ints({123, 456}), 4}, "1234", 0},
        {{append, str("a"), tag("bcd"), 3}, "a<bc", 0},
        {{append, str("a"), block_of({str("b"), char_cell('c')}), std::nullopt, std::nullopt, true}, "ab c", 0},
        {{append, at_head(str("ab"), 1), str("")}, "ab", 1},
        {{insert, at_head(str("abc"), 1), str("XY")}, "aXYbc", 3},
        {{insert, at_head(str("x"), 1), str("ab"), std::nullopt, 3}, "xababab", 7},
        {{insert, str("abc"), ints({1, 2})}, "12abc", 2},
        {{insert, at_head(str("abc"), 2), char_cell('-'), std::nullopt, 2}, "ab--c", 4},
        {{insert, at_head(str("abc"), 9), str("d")}, "abcd", 4},
        {{change, str("abcdef"), str("XY")}, "XYcdef", 2},
        {{change, str("abcdef"), str("XY"), 4}, "XYef", 2},
        {{change, str("abcdef"), str("XY"), 0}, "XYabcdef", 2},
        {{change, str("abc"), str("x"), std::nullopt, 2}, "xxc", 2},
        {{change, at_head(str("ab"), 2), str("cd")}, "abcd", 4},
        {{change, str("abc"), int_cell(12)}, "12c", 2},
        {{change, str("abc"), char_cell('Z')}, "Zbc", 1},
        {{change, at_head(str("abc"), 1), tag("t")}, "a<t>", 4},
    };
    for (const Case& c : cases) {
        Cell result = edit(c.edit);
        EXPECT_EQ(utf8(at_head(c.edit.series, 0)), c.text);
        EXPECT_EQ(result.head(), c.head) << c.text;
        EXPECT_EQ(result.node(), c.edit.series.node());
    }
}

TEST(StringEdit, UnitsGrowWithTheValueWritten) {
    struct Case {
        Edit edit;
        std::u32string text;
        uint32_t unit;
    } cases[] = {
        {{actions::append_s, str("ab"), char_cell(0xE9)}, U"ab\u00E9", 2},
        {{actions::append_s, str("ab"), char_cell('c')}, U"abc", 1},
        {{actions::insert_s, str("ab"), char_cell(0xE9)}, U"\u00E9ab", 2},
        {{actions::append_s, str("ab"), str("\u00E9")}, U"ab\u00E9", 1},
        {{actions::change_s, str("ab"), text_of_unit(U"\U0001F600", 4)}, U"\U0001F600b", 4},
        {{actions::insert_s, at_head(text_of_unit(U"\u03B1\u03B2", 2), 1), str("xy")}, U"\u03B1xy\u03B2", 2},
        {{actions::append_s, str("a"), block_of({char_cell(0x20AC), int_cell(1)})}, U"a\u20AC1", 2},
    };
    for (const Case& c : cases) {
        edit(c.edit);
        EXPECT_TRUE(code_points(at_head(c.edit.series, 0)) == c.text) << utf8(c.edit.series);
        EXPECT_EQ(unit_of(c.edit.series), c.unit) << utf8(c.edit.series);
    }
}

TEST(StringEdit, TheStringItselfAsTheValue) {
    Cell s = str("ab");
    edit({actions::append_s, s, s});
    EXPECT_EQ(utf8(s), "abab");
    Cell t = str("abc");
    edit({actions::insert_s, at_head(t, 1), at_head(t, 1)});
    EXPECT_EQ(utf8(t), "abcbc");
    Cell u = str("abc");
    edit({actions::change_s, at_head(u, 1), u, std::nullopt, 2});
    EXPECT_EQ(utf8(u), "aabcabc");
}

TEST(StringEdit, SizesBeyondABufferAreRefused) {
    Cell s = str("ab");
    EXPECT_EQ(error_of([&] {
                  edit({actions::append_s, s, str("xy"), std::nullopt, 0x40000000});
              }),
              Err::internal_no_memory);
    EXPECT_EQ(utf8(s), "ab");
}

TEST(StringSwap, ExchangesTheHeadCodePoints) {
    Cell a = str("abc"), b = text_of_unit(U"\U0001F600yz", 4);
    run(actions::swap_s, {a, b});
    EXPECT_TRUE(code_points(a) == U"\U0001F600bc");
    EXPECT_EQ(utf8(b), "ayz");
    Cell tail = at_head(str("q"), 1);
    run(actions::swap_s, {a, tail});
    EXPECT_TRUE(code_points(a) == U"\U0001F600bc");
    EXPECT_EQ(error_of([&] { run(actions::swap_s, {a, ints({1})}); }), Err::script_invalid_arg);
}

TEST(StringTrim, EachRoutine) {
    using Trim = RefinementName<Act::trim>;
    enum {
        kHead = Trim("head").index,
        kTail = Trim("tail").index,
        kAuto = Trim("auto").index,
        kLines = Trim("lines").index,
        kAll = Trim("all").index,
        kWith = Trim("with").index,
    };
    struct Case {
        const char* text;
        std::vector<int> flags;
        std::optional<Cell> with;
        const char* trimmed;
    } cases[] = {
        {"  a  b  ", {}, std::nullopt, "a  b"},
        {"  a  b  ", {kLines}, std::nullopt, "a b"},
        {"  a  b  ", {kAll}, std::nullopt, "ab"},
        {"  ab  ", {kHead}, std::nullopt, "ab  "},
        {"  ab  ", {kTail}, std::nullopt, "  ab"},
        {"  ab  ", {kHead, kTail}, std::nullopt, "ab"},
        {"ab  \n", {}, std::nullopt, "ab\n"},
        {"ab  \n", {kTail}, std::nullopt, "ab"},
        {"ab\n\n\n", {kHead}, std::nullopt, "ab\n\n\n"},
        {" a  \n\t b c \n  d", {}, std::nullopt, "a\nb c\nd"},
        {"\xE3\x80\x80"
         "a\xC2\xA0\xE2\x80\x8A",
         {},
         std::nullopt,
         "a"},
        {"a\t\r\n b\r\n", {kLines}, std::nullopt, "a b"},
        {"abcab", {}, str("b"), "aca"},
        {"abcab", {kAll}, char_cell('a'), "bcb"},
        {"a b\tc", {kAll}, int_cell(' '), "ab\tc"},
        {"a\u00E9b", {}, str("\u00E9"), "ab"},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> refinements(16, -1);
        for (int flag : c.flags) refinements[flag] = 0;
        if (c.with) refinements[kWith] = 1;
        Cell s = str(c.text);
        run(actions::trim_s, {s, c.with.value_or(none::value)}, refinements);
        EXPECT_EQ(utf8(s), c.trimmed) << c.text;
    }
    Cell s = at_head(str(" a "), 1);
    run(actions::trim_s, {s});
    EXPECT_EQ(utf8(at_head(s, 0)), " a");
    EXPECT_EQ(error_of([] { run(actions::trim_s, {str(" a ")}, given({{kAuto, 0}})); }), Err::internal_not_done);
}

TEST(StringSetOps, RecordsByTheirFirstCodePoint) {
    struct Case {
        string::SetOp op;
        const char* first;
        const char* second;
        int32_t skip;
        bool case_;
        const char* result;
    } cases[] = {
        {string::SetOp::union_, "abc", "bcd", 1, false, "abcd"},
        {string::SetOp::intersect, "abc", "bcd", 1, false, "bc"},
        {string::SetOp::exclude, "abc", "bcd", 1, false, "a"},
        {string::SetOp::difference, "abc", "bcd", 1, false, "ad"},
        {string::SetOp::unique, "abBcaC", "", 1, false, "abc"},
        {string::SetOp::unique, "abBcaC", "", 1, true, "abBcC"},
        {string::SetOp::union_, "aA", "Ab", 1, false, "ab"},
        {string::SetOp::union_, "a1b2", "a3c4", 2, false, "a1b2c4"},
        {string::SetOp::intersect, "a1b2", "b1", 2, false, "b2"},
        {string::SetOp::intersect, "a1b2", "1b", 2, false, ""},
    };
    for (const Case& c : cases) {
        set_case = c.case_;
        set_skip = c.skip;
        set_op = c.op;
        Cell result = run(run_set_op, {str(c.first), str(c.second)});
        EXPECT_EQ(result.type(), Type::String);
        EXPECT_EQ(result.head(), 0u);
        EXPECT_EQ(utf8(result), c.result) << c.first << " " << c.second;
    }
}

// unique has one set: whatever lies on the data stack past its argument is no second set to read.
TEST(StringSetOps, UniqueReadsOnlyItsOneSet) {
    set_op = string::SetOp::unique;
    set_skip = 1;
    for (bool case_ : {false, true}) {
        set_case = case_;
        stack::top[1] = none::value;  // the cell a second argument would take: no series
        EXPECT_EQ(utf8(run(run_set_op, {str("aAa")})), case_ ? "aA" : "a");
    }
    set_case = false;
}

TEST(StringCase, ChangesInPlaceWideningWhenNeeded) {
    Cell s = str("\u00FFab");
    case_folding::change_case(&s, nullptr, true);
    EXPECT_TRUE(code_points(s) == U"\u0178AB");
    EXPECT_EQ(unit_of(s), 2u);

    struct Case {
        Cell value;
        std::optional<Cell> part;
        const char* lowered;
    } cases[] = {
        {str("ABC"), int_cell(2), "abC"},
        {str("ABC"), int_cell(0), "ABC"},
        {str("ABC"), int_cell(-1), "ABC"},
        {at_head(str("ABC"), 1), std::nullopt, "Abc"},
        {at_head(str("ABC"), 7), std::nullopt, "ABC"},
    };
    for (Case c : cases) {
        Cell part = c.part.value_or(none::value);
        case_folding::change_case(&c.value, c.part ? &part : nullptr, false);
        EXPECT_EQ(utf8(at_head(c.value, 0)), c.lowered);
    }
    Cell word = str("ABCD");
    Cell position = at_head(word, 3);
    case_folding::change_case(&word, &position, false);
    EXPECT_EQ(utf8(word), "abcD");
    Cell other = str("AB");
    EXPECT_EQ(error_of([&] { case_folding::change_case(&word, &other, true); }), Err::script_invalid_refine_arg);

    Cell c = char_cell('q');
    EXPECT_EQ(case_folding::change_case(&c, nullptr, true)->code_point(), uint32_t('Q'));
}
