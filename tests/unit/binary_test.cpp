// binary! where scripts cannot reach in bulk: every base's encoder and decoder over byte strings of
// every length up to a few lines, decoding from text held in units of 1, 2 and 4 bytes, and the mold of
// binaries of every length, at several indentations, read back by the lexer.
#include <random>

#include "datatypes/binary.h"
#include "evaluator/lexer.h"
#include "string_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

std::vector<uint8_t> random_bytes(std::mt19937& random, uint32_t length) {
    std::vector<uint8_t> bytes(length);
    for (uint8_t& b : bytes) b = uint8_t(random());
    // Leading zero bytes, which base 58 writes apart from the number.
    for (uint32_t i = 0; i < length && i < length % 3; i++) bytes[i] = 0;
    return bytes;
}

// The text in units of `unit` bytes.
std::vector<uint8_t> widened(const std::string& text, uint32_t unit) {
    std::vector<uint8_t> units(text.size() * unit);
    for (size_t i = 0; i < text.size(); i++) unicode::set_unit_at(units.data(), unit, uint32_t(i), uint8_t(text[i]));
    return units;
}

}  // namespace

TEST(BinaryCodecs, EveryBaseReadsBackWhatItWroteFromUnitsOfAnySize) {
    std::mt19937 random(41);
    for (int32_t base : {2, 16, 58, 64}) {
        for (uint32_t length = 0; length <= 100; length++) {
            std::vector<uint8_t> bytes = random_bytes(random, length);
            std::string text = binary::enbase(base, bytes.data(), length);
            EXPECT_LE(text.size(), binary::enbase_room(base, length)) << base << " " << length;
            for (uint32_t unit : {1u, 2u, 4u}) {
                std::vector<uint8_t> units = widened(text, unit);
                for (bool literal : {false, true}) {
                    auto back = binary::debase(base, {units.data(), unit, uint32_t(text.size())}, literal);
                    ASSERT_TRUE(back) << base << " " << length << " " << unit;
                    EXPECT_EQ(*back, bytes) << base << " " << length << " " << unit;
                }
            }
        }
    }
}

// Beyond ASCII, base 16 outside literals reads a code point by its low seven bits; the other bases, and
// literals, refuse it, whatever its low bits.
TEST(BinaryCodecs, CodePointsBeyondAscii) {
    struct Case {
        int32_t base;
        std::u32string text;
        bool literal;
        std::optional<std::vector<uint8_t>> bytes;
    };
    const Case cases[] = {
        {16, U"\u00B1\u00B2", false, std::vector<uint8_t>{0x12}},
        {16, U"\u00B1\u00B2", true, std::nullopt},
        {16, U"1\U0001F632", false, std::vector<uint8_t>{0x12}},
        {64, U"TWF\u00F5", false, std::nullopt},  // F5h & 7Fh is "u"
        {58, U"\u00B1", false, std::nullopt},     // B1h & 7Fh is "1"
        {2, U"0000000\u00B1", false, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto* units = reinterpret_cast<const uint8_t*>(c.text.data());
        EXPECT_EQ(binary::debase(c.base, {units, 4, uint32_t(c.text.size())}, c.literal), c.bytes) << c.base;
    }
}

TEST(BinaryMold, EveryLengthLoadsBackAtEveryIndentation) {
    std::mt19937 random(5);
    for (uint32_t length = 0; length <= 100; length++) {
        std::vector<uint8_t> bytes = random_bytes(random, length);
        Cell binary = keep(*binary::load(bytes.data(), length));
        for (int32_t indent : {0, 1, 3}) {
            Cell* text = string::rs_make_at(stack::push_next(), 16);
            actions::call<Act::mold>(&binary, text, MoldOptions{}, 0x7FFFFFFF, indent);
            Cell loaded = keep(*lexer::load(utf8(*text)));
            ASSERT_EQ(series::rs_length_q(loaded), 1u) << length;
            EXPECT_EQ(string::text_of(*block::rs_head(&loaded)).length, length);
            Cell first = *block::rs_head(&loaded);
            EXPECT_TRUE(actions::compare(&first, &binary, kCompareStrictEqual)) << length;
            stack::pop(2);
        }
    }
}
