// Case mapping (the maps below U+10000, the supplementary lists, strings changed in place) and the
// terminal width of code points.
#include "runtime/case_folding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <span>
#include <string>

#include "runtime/memory.h"
#include "runtime/unicode_tables.inc"
#include "test_support.h"

namespace oka {
namespace {

using case_folding::CasePair;
using case_folding::change_char;
using char_width::CodeRange;

constexpr bool kUpper = true;
constexpr bool kLower = false;

Node make_buffer(std::u32string_view text, uint32_t unit) {
    Node node = test::keep_series(alloc::alloc_codepoints(uint32_t(text.size()), unit));
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    for (size_t i = 0; i < text.size(); i++) std::memcpy(mem::ptr(b->offset) + i * unit, &text[i], unit);
    b->tail = b->offset + uint32_t(text.size()) * unit;
    return node;
}

std::u32string text_of(Node node) {
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    std::u32string out(b->length(), U'\0');
    for (size_t i = 0; i < out.size(); i++) std::memcpy(&out[i], mem::ptr(b->offset) + i * b->unit(), b->unit());
    return out;
}

// ---- Case mapping

TEST(CaseFolding, ChangesSingleCodePoints) {
    struct Case {
        uint32_t code_point;
        bool upper;
        uint32_t expected;
    };
    const Case cases[] = {
        {0x61, kUpper, 0x41},       {0x41, kLower, 0x61},       {0x31, kUpper, 0x31},
        {0x31, kLower, 0x31},       {0x41, kUpper, 0x41},       {0x00, kUpper, 0x00},
        {0xFF, kUpper, 0x178},      {0xB5, kUpper, 0x39C},      {0xDF, kUpper, 0xDF},  // no single upper ß
        {0x1E9E, kLower, 0xDF},     {0x3A3, kLower, 0x3C3},     {0xFF5A, kUpper, 0xFF3A},
        {0x1E922, kUpper, 0x1E900}, {0x1E900, kLower, 0x1E922}, {0x10428, kUpper, 0x10400},
        {0x10400, kLower, 0x10428}, {0x1E943, kUpper, 0x1E921}, {0x1E921, kLower, 0x1E943},
        {0x1E921, kUpper, 0x1E921}, {0x1F600, kUpper, 0x1F600}, {0x10FFFF, kLower, 0x10FFFF},
    };
    for (const Case& c : cases)
        EXPECT_EQ(change_char(c.code_point, c.upper), c.expected) << std::hex << c.code_point << " " << c.upper;
}

// The maps below U+10000 against the lists they are built from: every listed code point maps as its
// pair says, and every other one, in the blocks the lists use or not, maps to itself.
TEST(CaseFolding, BmpMapsAgreeWithTheListsForEveryCodePoint) {
    for (bool upper : {kUpper, kLower}) {
        std::map<uint32_t, uint32_t> listed;
        for (const CasePair& pair : upper ? std::span<const CasePair>(case_folding::kToUpperBmp)
                                          : std::span<const CasePair>(case_folding::kToLowerBmp))
            listed[pair.from] = pair.to;
        uint32_t wrong = 0;
        for (uint32_t c = 0; c < 0x10000; c++) {
            auto pair = listed.find(c);
            uint32_t expected = pair == listed.end() ? c : pair->second;
            if (change_char(c, upper) != expected && wrong++ < 5)
                ADD_FAILURE() << std::hex << c << " " << upper << " gives " << change_char(c, upper);
        }
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(CaseFolding, TablesAreSortedWithTheirExpectedEnds) {
    auto sorted_pairs = [](std::span<const CasePair> pairs) {
        return std::adjacent_find(pairs.begin(), pairs.end(),
                                  [](CasePair a, CasePair b) { return a.from >= b.from; }) == pairs.end();
    };
    for (std::span<const CasePair> pairs :
         {std::span<const CasePair>(case_folding::kToUpperBmp), std::span<const CasePair>(case_folding::kToLowerBmp),
          std::span<const CasePair>(case_folding::kToUpperSupplementary),
          std::span<const CasePair>(case_folding::kToLowerSupplementary)})
        EXPECT_TRUE(sorted_pairs(pairs));

    auto ends = [](std::span<const CasePair> pairs) {
        return std::array{pairs.front().from, pairs.front().to, pairs.back().from, pairs.back().to};
    };
    EXPECT_EQ(ends(case_folding::kToUpperBmp), (std::array<uint32_t, 4>{0x61, 0x41, 0xFF5A, 0xFF3A}));
    EXPECT_EQ(ends(case_folding::kToLowerBmp), (std::array<uint32_t, 4>{0x41, 0x61, 0xFF3A, 0xFF5A}));
    EXPECT_EQ(ends(case_folding::kToUpperSupplementary), (std::array<uint32_t, 4>{0x10428, 0x10400, 0x1E943, 0x1E921}));
    EXPECT_EQ(ends(case_folding::kToLowerSupplementary), (std::array<uint32_t, 4>{0x10400, 0x10428, 0x1E921, 0x1E943}));

    for (std::span<const CodeRange> ranges :
         {std::span<const CodeRange>(char_width::kZeroWidth), std::span<const CodeRange>(char_width::kWide)}) {
        for (size_t i = 0; i < ranges.size(); i++) {
            EXPECT_LE(ranges[i].first, ranges[i].last);
            if (i > 0) {
                EXPECT_GT(ranges[i].first, ranges[i - 1].last + 1) << "ranges not merged";
            }
        }
    }
    EXPECT_EQ(char_width::kZeroWidth[0].first, 0x300u);
    EXPECT_EQ(char_width::kZeroWidth[0].last, 0x36Fu);
    EXPECT_EQ(std::end(char_width::kZeroWidth)[-1].first, 0xE0100u);
    EXPECT_EQ(std::end(char_width::kZeroWidth)[-1].last, 0xE01EFu);
    EXPECT_EQ(char_width::kWide[0].first, 0x1100u);
    EXPECT_EQ(char_width::kWide[0].last, 0x115Fu);
    EXPECT_EQ(std::end(char_width::kWide)[-1].first, 0x30000u);
    EXPECT_EQ(std::end(char_width::kWide)[-1].last, 0x3FFFDu);
}

// Every pair of the data holds through change_char, and maps back: exactly where the mapping is one
// to one (its target has this one source and a mapping of its own), and otherwise to a code point
// with the same target (ǅ upper-cases to Ǆ, which lower-cases to ǆ, which upper-cases to Ǆ again).
TEST(CaseFolding, EveryPairMapsForwardAndBack) {
    auto check = [](bool upper, std::span<const CasePair> bmp, std::span<const CasePair> supplementary) {
        std::map<uint32_t, int> sources_of;
        for (auto pairs : {bmp, supplementary})
            for (CasePair p : pairs) sources_of[p.to]++;
        int one_to_one = 0;
        for (auto pairs : {bmp, supplementary}) {
            for (CasePair p : pairs) {
                ASSERT_EQ(change_char(p.from, upper), p.to) << std::hex << p.from;
                uint32_t back = change_char(p.to, !upper);
                if (sources_of[p.to] == 1 && back != p.to) {
                    EXPECT_EQ(back, p.from) << std::hex << p.from;
                    one_to_one++;
                } else {
                    EXPECT_EQ(change_char(back, upper), p.to) << std::hex << p.from;
                }
            }
        }
        EXPECT_GT(one_to_one, int(bmp.size() + supplementary.size()) * 9 / 10);
    };
    check(kUpper, case_folding::kToUpperBmp, case_folding::kToUpperSupplementary);
    check(kLower, case_folding::kToLowerBmp, case_folding::kToLowerSupplementary);
}

TEST(CaseFolding, ChangesStringsInPlace) {
    struct Case {
        std::u32string text;
        uint32_t unit, index, count;
        bool upper;
        std::u32string expected;
        uint32_t expected_unit;
    };
    const Case cases[] = {
        {U"abc", 1, 0, 0, kUpper, U"abc", 1},
        {U"abc", 1, 1, 1, kUpper, U"aBc", 1},
        {U"Stra\u00DFe", 1, 0, 6, kUpper, U"STRA\u00DFE", 1},
        {U"\u00FF", 1, 0, 1, kUpper, U"\u0178", 2},
        // The walk goes on at the same place in the widened buffer.
        {U"a\u00FFb\u00B5c", 1, 0, 5, kUpper, U"A\u0178B\u039CC", 2},
        {U"x\u00FFy", 1, 2, 1, kUpper, U"x\u00FFY", 1},
        {U"\u0391\u0392\u20AC", 2, 0, 3, kLower, U"\u03B1\u03B2\u20AC", 2},
        {U"\U0001E900\U0001E901a", 4, 0, 3, kLower, U"\U0001E922\U0001E923a", 4},
        {U"\U0001E922b", 4, 0, 2, kUpper, U"\U0001E900B", 4},
    };
    for (const Case& c : cases) {
        Node node = make_buffer(c.text, c.unit);
        case_folding::change_part(node, c.index, c.count, c.upper);
        EXPECT_EQ(text_of(node), c.expected);
        EXPECT_EQ(mem::buffer(node)->unit(), c.expected_unit);
    }
}

// ---- Width

TEST(CaseFoldingWidth, ColumnsOfSampleCharacters) {
    const std::pair<uint32_t, int> cases[] = {
        {0x00, 0},    {0x0A, 1},    {0x1F, 1},    {0x20, 1},    {0x41, 1},    {0x7F, 1},     {0x9F, 1},
        {0xAD, 1},    {0xE9, 1},    {0x300, 0},   {0x301, 0},   {0x36F, 0},   {0x370, 1},    {0x1160, 0},
        {0x200B, 0},  {0xFE0F, 0},  {0x1100, 2},  {0x4E00, 2},  {0xAC00, 2},  {0xFF01, 2},   {0x1F600, 2},
        {0x20000, 2}, {0x3FFFD, 2}, {0x3FFFE, 1}, {0xE0100, 0}, {0xE01EF, 0}, {0x10FFFF, 1},
    };
    for (auto [code_point, width] : cases) EXPECT_EQ(char_width_q(code_point), width) << std::hex << code_point;
}

TEST(CaseFoldingWidth, InRanges) {
    const CodeRange ranges[] = {{0x10, 0x1F}, {0x30, 0x30}, {0x40, 0x4F}};
    const std::pair<uint32_t, bool> cases[] = {{0x0F, false}, {0x10, true},  {0x1F, true}, {0x20, false},
                                               {0x30, true},  {0x31, false}, {0x4F, true}, {0x50, false}};
    for (auto [code_point, inside] : cases)
        EXPECT_EQ(char_width::in_ranges_q(code_point, ranges), inside) << std::hex << code_point;
    EXPECT_FALSE(char_width::in_ranges_q(0x10, {}));
}

}  // namespace
}  // namespace oka
