// The parse dialect's text matching (evaluator/parse_internal.h): the same answers for every unit size
// of the input, and no match ever reaching past `end`, the tail or the /part limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "datatypes/char.h"
#include "evaluator/parse_internal.h"
#include "string_testing.h"

using namespace oka;
using parse::kNoMatch;
using parse::kUnbounded;
using test::str;
using test::text_of_unit;

namespace {

// The narrowest unit that holds every code point of the text, and the wider ones.
std::vector<uint32_t> units_for(const std::u32string& text) {
    char32_t widest = 0;
    for (char32_t c : text) widest = std::max(widest, c);
    if (widest > 0xFFFF) return {4};
    if (widest > 0xFF) return {2, 4};
    return {1, 2, 4};
}

Cell literal_char(char32_t c) {
    Cell cell;
    return *char_::make_at(&cell, c);
}

struct MatchCase {
    const char* what;
    std::u32string input;
    uint32_t index, end;
    Cell literal;
    bool case_;
    int64_t expected;  // the index after the match, or kNoMatch
};

TEST(ParseMatch, LiteralsMatchAlikeInEveryUnitAndStopAtTheEnd) {
    Cell tag = test::with_type(str("b"), Type::Tag);
    const MatchCase cases[] = {
        {"char, folded", U"abc", 0, 3, literal_char(U'A'), false, 1},
        {"char, case kept", U"abc", 0, 3, literal_char(U'A'), true, kNoMatch},
        {"wide char folded", U"xŒ", 1, 2, literal_char(U'œ'), false, 2},
        {"char at the end", U"abc", 3, 3, literal_char(U'a'), false, kNoMatch},
        {"text", U"abcd", 1, 4, str("BC"), false, 3},
        {"text cut by the limit", U"abcd", 1, 2, str("bc"), false, kNoMatch},
        {"empty text", U"ab", 1, 2, str(""), false, 1},
        {"wide text", U"a€€b", 1, 4, str("€€"), false, 3},
        {"tag with its brackets", U"a<b>c", 1, 5, tag, false, 4},
        {"tag cut by the limit", U"a<b>c", 1, 3, tag, false, kNoMatch},
    };
    for (const MatchCase& c : cases)
        for (uint32_t unit : units_for(c.input))
            EXPECT_EQ(parse::match_literal(text_of_unit(c.input, unit), c.index, c.end, c.literal, c.case_), c.expected)
                << c.what << ", unit " << unit;
}

struct RepeatCase {
    const char* what;
    std::u32string input;
    uint32_t end;
    Cell literal;
    uint32_t min, max;
    int64_t expected;
};

TEST(ParseMatch, CountedMatchesKeepTheirBounds) {
    const RepeatCase cases[] = {
        {"as many as match", U"aaab", 4, literal_char(U'a'), 1, kUnbounded, 3},
        {"up to the maximum", U"aaab", 4, literal_char(U'a'), 0, 2, 2},
        {"below the minimum", U"aaab", 4, literal_char(U'a'), 4, kUnbounded, kNoMatch},
        {"none, none needed", U"bbb", 3, literal_char(U'a'), 0, 1, 0},
        {"stopped by the limit", U"aaaa", 2, literal_char(U'a'), 1, kUnbounded, 2},
        {"fewer left than the minimum", U"aaaa", 2, literal_char(U'a'), 3, kUnbounded, kNoMatch},
        {"texts", U"ababa", 5, str("ab"), 2, kUnbounded, 4},
        {"an empty text, as often as asked", U"x", 1, str(""), 3, 3, 0},
        {"wide chars", U"ŒœŒx", 4, literal_char(U'œ'), 1, kUnbounded, 3},
    };
    for (const RepeatCase& c : cases)
        for (uint32_t unit : units_for(c.input))
            EXPECT_EQ(parse::match_repeated(text_of_unit(c.input, unit), 0, c.end, c.literal, false, c.min, c.max),
                      c.expected)
                << c.what << ", unit " << unit;
}

TEST(ParseMatch, SearchesStopBeforeOrAfterTheMatchWithinTheEnd) {
    std::u32string input = U"ab€cd€";
    for (uint32_t unit : units_for(input)) {
        Cell text = text_of_unit(input, unit);
        EXPECT_EQ(parse::find_literal(text, 0, 6, literal_char(U'€'), false, false), 2) << unit;
        EXPECT_EQ(parse::find_literal(text, 0, 6, literal_char(U'€'), false, true), 3) << unit;
        EXPECT_EQ(parse::find_literal(text, 3, 6, str("D€"), false, true), 6) << unit;
        EXPECT_EQ(parse::find_literal(text, 3, 5, str("d€"), false, false), kNoMatch) << unit;
        EXPECT_EQ(parse::find_literal(text, 4, 4, str(""), false, false), 4) << unit;
    }
}

}  // namespace
