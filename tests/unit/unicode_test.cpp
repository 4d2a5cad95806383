// Unicode text: the UTF-8 automaton and the validating decoder, the encoders, UTF-16LE, widening in
// place and loading into the narrowest unit.
#include "runtime/unicode.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "datatypes/error.h"

#include "runtime/error.h"
#include "runtime/throw.h"
#include "test_support.h"

namespace oka {
namespace {

// ---- Helpers

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string hex(const uint8_t* bytes, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; i++) out += "0123456789ABCDEF"[bytes[i] >> 4], out += "0123456789ABCDEF"[bytes[i] & 15];
    return out;
}
std::string hex(const std::string& s) { return hex(bytes_of(s), s.size()); }

// `text` as little-endian 16-bit units.
std::string utf16(std::u16string_view text) {
    std::string out;
    for (char16_t u : text) out += char(u & 0xFF), out += char(u >> 8);
    return out;
}

// A new buffer holding `text` in `unit`-byte units, room for `room` units in all; kept for the test.
Node make_buffer(std::u32string_view text, uint32_t unit, uint32_t room = 0) {
    Node node = alloc::alloc_codepoints(std::max(room, uint32_t(text.size())), unit);
    test::keep(Cell::of(Type::Binary).set_node(node));
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    for (size_t i = 0; i < text.size(); i++) std::memcpy(mem::ptr(b->offset) + i * unit, &text[i], unit);
    b->tail = b->offset + uint32_t(text.size()) * unit;
    return node;
}

Cell make_string(std::u32string_view text, uint32_t unit, uint32_t head = 0) {
    return Cell::of(Type::String).set_head(head).set_node(make_buffer(text, unit));
}

std::u32string text_of(Node node) {
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    std::u32string out(b->length(), U'\0');
    for (size_t i = 0; i < out.size(); i++) std::memcpy(&out[i], mem::ptr(b->offset) + i * b->unit(), b->unit());
    return out;
}

uint32_t unit_of(Node node) { return mem::buffer(node)->unit(); }

// Runs `body`, which must raise an error, and returns the error's id.
template <class F>
Err raised_by(F&& body) {
    EXPECT_TRUE(error::trap(body));
    return error::raised.id;
}

// The bytes of the raised error's binary! argument, as hex.
std::string raised_binary() {
    const Cell& arg = error::raised.args[0];
    EXPECT_EQ(arg.type(), Type::Binary);
    BufPtr<SeriesBuffer> b = mem::buffer(arg.node());
    return hex(mem::ptr(b->offset), b->used_bytes());
}

// ---- UTF-8 decoding

TEST(UnicodeDecoding, EveryCodePointRoundTripsThroughBothDecoders) {
    for (uint32_t cp = 0; cp <= unicode::kMaxCodePoint; cp++) {
        if (cp == 0xD800) cp = 0xE000;
        std::array<uint8_t, 5> form{};
        uint32_t length = unicode::cp_to_utf8(cp, form.data());
        ASSERT_EQ(length, unicode::utf8_char_length(cp));

        int32_t fast = -1;
        const uint8_t* end = unicode::fast_decode_utf8_char(form.data(), fast);
        ASSERT_EQ(fast, int32_t(cp));
        ASSERT_EQ(end, form.data() + length);

        uint32_t available = 4;
        ASSERT_EQ(unicode::decode_utf8_checked(form.data(), available), int32_t(cp));
        ASSERT_EQ(available, length);
    }
}

// Together with the round trip above this pins the automaton down: what it accepts is exactly the
// shortest forms of the valid code points. Sequences of up to three bytes are tried exhaustively,
// four-byte ones over every second byte.
TEST(UnicodeDecoding, AcceptsOnlyShortestFormsOfValidCodePoints) {
    auto check = [](std::array<uint8_t, 5> input) {
        int32_t cp;
        const uint8_t* end = unicode::fast_decode_utf8_char(input.data(), cp);
        if (cp < 0) return;
        ASSERT_TRUE(cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) << hex(input.data(), 4);
        std::array<uint8_t, 4> form{};
        uint32_t length = unicode::cp_to_utf8(uint32_t(cp), form.data());
        ASSERT_EQ(hex(input.data(), end - input.data()), hex(form.data(), length));
    };
    for (uint32_t b0 = 0; b0 < 256; b0++)
        for (uint32_t b1 = 0; b1 < 256; b1++) {
            check({uint8_t(b0), uint8_t(b1)});
            if (b0 >= 0xE0)
                for (uint32_t b2 = 0; b2 < 256; b2++) check({uint8_t(b0), uint8_t(b1), uint8_t(b2)});
            if (b0 >= 0xF0)
                for (uint8_t b2 : {0x00, 0x41, 0x80, 0xBF, 0xC0})
                    for (uint8_t b3 : {0x00, 0x41, 0x80, 0xBF, 0xC0}) check({uint8_t(b0), uint8_t(b1), b2, b3});
        }
}

TEST(UnicodeDecoding, InvalidSequencesAreRejected) {
    struct Case {
        const char* what;
        std::string input;
        uint32_t fast_consumed;   // bytes the fast decoder reads before rejecting
        std::string error_bytes;  // the validating decoder's invalid-utf8 argument
    };
    const Case cases[] = {
        {"overlong NUL", "\xC0\x80xyz", 1, "C0807879"},
        {"overlong 2-byte", "\xC1\xBF", 1, "C1BF"},
        {"overlong 3-byte", "\xE0\x80\x80", 2, "E08080"},
        {"overlong U+7FF", "\xE0\x9F\xBF", 2, "E09FBF"},
        {"overlong 4-byte", "\xF0\x8F\xBF\xBF", 2, "F08FBFBF"},
        {"surrogate D800", "\xED\xA0\x80", 2, "EDA080"},
        {"surrogate DC00", "\xED\xB0\x80", 2, "EDB080"},
        {"surrogate DFFF", "\xED\xBF\xBF", 2, "EDBFBF"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 2, "F4908080"},
        {"lead F5", "\xF5\x80\x80\x80", 1, "F5808080"},
        {"lead FF", "\xFF", 1, "FF"},
        {"lone continuation", "\x80z", 1, "807A"},
        {"bad continuation", "\xE2Z\x82", 2, "E25A82"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int32_t cp = 0;
        const uint8_t* in = bytes_of(c.input);
        EXPECT_EQ(unicode::fast_decode_utf8_char(in, cp), in + c.fast_consumed);
        EXPECT_EQ(cp, -1);

        uint32_t available = uint32_t(c.input.size());
        EXPECT_EQ(raised_by([&] { unicode::decode_utf8_checked(in, available); }), Err::access_invalid_utf8);
        EXPECT_EQ(raised_binary(), c.error_bytes);
    }
}

TEST(UnicodeDecoding, SequenceCutShortByTheEnd) {
    for (const std::string input : {"\xE2\x82", "\xF0\x9F\x98", "\xC3"}) {
        uint32_t available = uint32_t(input.size());
        EXPECT_EQ(unicode::decode_utf8_checked(bytes_of(input), available), -1) << hex(input);
        // The NUL that ends fast-decoded text rejects the unfinished sequence.
        int32_t cp = 0;
        unicode::fast_decode_utf8_char(bytes_of(input), cp);
        EXPECT_EQ(cp, -1) << hex(input);
    }
    uint32_t none = 0;
    EXPECT_EQ(unicode::decode_utf8_checked(bytes_of("a"), none), -1);
}

TEST(UnicodeDecoding, CountsAndSkipsSequences) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xFFz";  // a é € 😀, a bad byte, z
    const uint8_t* start = bytes_of(text);
    const uint8_t* end = start + text.size();
    EXPECT_EQ(unicode::count_utf8_chars(start, end), 6u);
    EXPECT_EQ(unicode::skip_utf8_chars(start, end, 2), start + 3);
    EXPECT_EQ(unicode::skip_utf8_chars(start, end, 5), end - 1);
    EXPECT_EQ(unicode::skip_utf8_chars(start, end, 99), end);
    EXPECT_EQ(unicode::skip_utf8_chars(start, start + 2, 2), start + 2);  // never past the end
}

TEST(UnicodeDecoding, LeadLengthFromTopBits) {
    const std::pair<uint8_t, uint32_t> cases[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC3, 2}, {0xDF, 2},
                                                  {0xE2, 3}, {0xEF, 3}, {0xF0, 4}, {0xF8, 4}, {0xFF, 4}};
    for (auto [byte, length] : cases) EXPECT_EQ(unicode::utf8_lead_length(byte), length) << int(byte);
}

// ---- UTF-8 encoding

TEST(UnicodeEncoding, AboveU10FFFFIsAnInvalidChar) {
    uint8_t out[8];
    auto refused = [](auto body) {
        EXPECT_EQ(raised_by(body), Err::script_invalid_char);
        EXPECT_EQ(error::raised.args[0].type(), Type::Integer);
        EXPECT_EQ(error::raised.args[0].int32(), 0x110000);
    };
    refused([] { unicode::utf8_char_length(0x110000); });
    refused([&] { unicode::cp_to_utf8(0x110000, out); });
    refused([&] { unicode::cp_to_utf8_limited(0x110000, out, 8); });
    uint32_t units[] = {0x41, 0x110000};
    refused([&] { unicode::utf8_size(reinterpret_cast<uint8_t*>(units), reinterpret_cast<uint8_t*>(units + 2), 4); });
}

TEST(UnicodeEncoding, LimitedFormIsCutAtTheRoom) {
    uint8_t out[4] = {};
    EXPECT_EQ(unicode::cp_to_utf8_limited(0x20AC, out, 2), 2u);
    EXPECT_EQ(hex(out, 3), "E28200");
    EXPECT_EQ(unicode::cp_to_utf8_limited(0x20AC, out, 9), 3u);
    EXPECT_EQ(unicode::cp_to_utf8_limited(0x41, out, 0), 0u);
}

TEST(UnicodeEncoding, Utf8SizeOfEveryUnit) {
    const std::u32string text = U"a\u00E9\u20AC";
    EXPECT_EQ(unicode::utf8_size(nullptr, nullptr, 2), 0u);
    for (uint32_t unit : {2u, 4u}) {
        Node node = make_buffer(text, unit);
        BufPtr<SeriesBuffer> b = mem::buffer(node);
        EXPECT_EQ(unicode::utf8_size(mem::ptr(b->offset), mem::ptr(b->tail), unit), 6u) << unit;
    }
    Node latin1 = make_buffer(U"a\u00E9\u00FF", 1);
    BufPtr<SeriesBuffer> b = mem::buffer(latin1);
    EXPECT_EQ(unicode::utf8_size(mem::ptr(b->offset), mem::ptr(b->tail), 1), 5u);
}

TEST(UnicodeEncoding, ToUtf8FromTheHead) {
    struct Case {
        std::u32string text;
        uint32_t unit, head;
        int32_t limit;
        bool crlf;
        std::string expected;
    };
    const Case cases[] = {
        {U"caf\u00E9", 1, 0, -1, false, "caf\xC3\xA9"},
        {U"a\nb", 1, 0, -1, true, "a\r\nb"},
        {U"x\u20AC\ny", 2, 1, -1, true, "\xE2\x82\xAC\r\ny"},
        {U"x\u20AC\ny", 2, 1, 1, false, "\xE2\x82\xAC"},
        {U"\U0001F600!", 4, 0, 5, false, "\xF0\x9F\x98\x80!"},
        {U"abc", 1, 7, -1, false, ""},  // a head past the tail has nothing after it
    };
    for (const Case& c : cases) {
        Cell string = make_string(c.text, c.unit, c.head);
        int32_t length = c.limit;
        BufPtr<char> out = unicode::to_utf8_part(&string, length, c.crlf);
        EXPECT_EQ(std::string(out.get()), c.expected);
        EXPECT_EQ(length, int32_t(c.expected.size()));
    }
}

TEST(UnicodeEncoding, ScratchBufferIsKeptInTheCell) {
    Cell string = make_string(U"short", 1);
    int32_t all = -1;
    unicode::to_utf8(&string, all);
    Node scratch = test::keep(string).scratch();  // the cell now names its scratch buffer too

    ASSERT_NE(scratch, 0u);
    all = -1;
    unicode::to_utf8(&string, all);
    EXPECT_EQ(string.scratch(), scratch);

    // A longer text enlarges the same scratch series.
    Cell longer = make_string(std::u32string(100, U'\u20AC'), 2);
    longer.set_scratch(scratch);
    all = -1;
    BufPtr<char> out = unicode::to_utf8(&longer, all);
    EXPECT_EQ(longer.scratch(), scratch);
    EXPECT_EQ(all, 300);
    EXPECT_EQ(out.get(), mem::ptr<char>(mem::buffer(scratch)->data_start()));
}

TEST(UnicodeEncoding, ToUtf8IntoTheCallersBuffer) {
    Cell string = make_string(U"a\u20ACb", 2);
    uint8_t out[8];

    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(unicode::to_utf8_buffer(&string, out, -1, true), 5u);
    EXPECT_EQ(hex(out, 6), "61E282AC6200");
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(unicode::to_utf8_buffer(&string, out, 1, false), 1u);
    EXPECT_EQ(hex(out, 2), "61EE");

    // Within the room, the NUL included: the euro sign is cut after its first byte.
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(unicode::to_utf8_binary(&string, out, 3, 0, true), 2u);
    EXPECT_EQ(hex(out, 4), "61E200EE");
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(unicode::to_utf8_binary(&string, out, 8, 2, false), 4u);
    EXPECT_EQ(hex(out, 5), "61E282ACEE");
    EXPECT_EQ(unicode::to_utf8_binary(&string, out, 0, 0, true), 0u);
}

// ---- UTF-16LE

TEST(UnicodeUtf16, CodePointToUnits) {
    const std::pair<uint32_t, std::string> cases[] = {
        {0x41, "4100"},        {0xFFFF, "FFFF"},       {0x10000, "00D800DC"},
        {0x1F600, "3DD800DE"}, {0x10FFFF, "FFDBFFDF"}, {0x110000, ""},
    };
    for (const auto& [cp, expected] : cases) {
        uint8_t out[4];
        uint32_t units = unicode::cp_to_utf16(cp, out);
        EXPECT_EQ(hex(out, 2 * units), expected) << std::hex << cp;
    }
}

TEST(UnicodeUtf16, ToUtf16) {
    Cell string = make_string(U"\U00010000\n", 4);
    BufPtr<uint8_t> out = unicode::to_utf16(&string);
    EXPECT_EQ(hex(out.get(), 10), "00D800DC0D000A000000");

    Cell latin1 = make_string(U"ab\n\u00E9", 1, 1);
    int32_t length = -1;
    out = unicode::to_utf16_part(&latin1, length, false);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(hex(out.get(), 8), "62000A00E9000000");

    Cell invalid = make_string(std::u32string{U'a', char32_t(0x110000)}, 4);
    length = -1;
    EXPECT_FALSE(unicode::to_utf16_part(&invalid, length, false));
    EXPECT_EQ(length, 0);
}

TEST(UnicodeUtf16, UnitSizeAndLoading) {
    struct Case {
        std::u16string units;
        uint32_t unit;
        std::u32string text;
    };
    const Case cases[] = {
        {u"", 1, U""},
        {u"abc\u00FF", 1, U"abc\u00FF"},
        {u"a\u0100", 2, U"a\u0100"},
        {u"a\xD83D\xDE00z", 4, U"a\U0001F600z"},
        {u"\xDBFF\xDFFF", 4, U"\U0010FFFF"},
    };
    for (const Case& c : cases) {
        std::string bytes = utf16(c.units);
        auto count = uint32_t(c.units.size());
        EXPECT_EQ(unicode::utf16_unit_size(bytes_of(bytes), count), c.unit);
        Node node = unicode::load_utf16(bytes_of(bytes), count, 0, false);
        EXPECT_EQ(unit_of(node), c.unit);
        EXPECT_EQ(text_of(node), c.text);
    }
}

TEST(UnicodeUtf16, UnpairedHalvesRaiseInvalidData) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"a\xD800", "00D8"},           // high half at the end
        {u"\xD800xy", "00D87800"},      // high half before a non-surrogate
        {u"\xD800\xD801", "00D801D8"},  // two high halves
        {u"x\xDC00z", "00DC7A00"},      // low half alone
        {u"\xDC00\xD800", "00DC00D8"},  // a reversed pair
    };
    for (const auto& c : cases) {
        std::string bytes = utf16(c.first);
        auto load = [&] { unicode::load_utf16(bytes_of(bytes), uint32_t(c.first.size()), 0, false); };
        EXPECT_EQ(raised_by(load), Err::script_invalid_data);
        EXPECT_EQ(raised_binary(), c.second);
    }
}

// ---- Widening in place

TEST(UnicodeWidening, EveryWideningKeepsTheText) {
    struct Case {
        uint32_t from, to;
        std::u32string text;
    };
    // Each text fills the 16 bytes of its buffer when no room is added.
    const Case cases[] = {
        {1, 2, U"abcdefghijklm\u0080\u00E9\u00FF"},
        {1, 4, U"abcdefghijklm\u0080\u00E9\u00FF"},
        {2, 4, U"a\u00E9\u20AC\uFFFFbcde"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " to " + std::to_string(c.to));
        ASSERT_EQ(c.text.size() * c.from, 16u);
        // A buffer with room is converted where it lies; a full one moves.
        for (uint32_t room : {128u, 0u}) {
            Node node = make_buffer(c.text, c.from, room);
            Addr before = mem::buffer_addr(node);
            BufPtr<SeriesBuffer> b = unicode::widen(node, c.to);
            EXPECT_EQ(b.get(), mem::buffer(node).get());
            EXPECT_EQ(room > 0, mem::buffer_addr(node) == before);
            EXPECT_EQ(b->unit(), c.to);
            EXPECT_EQ(text_of(node), c.text);
            EXPECT_GE(b->data_end() - b->tail, c.to);  // room for the character that asked for the widening
        }
    }
}

// Room from the first used unit is what counts: a buffer whose text starts halfway must move even when
// its capacity would hold the wider text.
TEST(UnicodeWidening, TextStartingHalfwayMoves) {
    Node node = test::keep_series(alloc::alloc_series(64, 1, alloc::kHeadRoom));
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    const std::string text(24, 'x');
    std::memcpy(mem::ptr(b->offset), text.data(), text.size());
    b->tail = b->offset + uint32_t(text.size());
    Addr before = mem::buffer_addr(node);

    b = unicode::latin1_to_ucs2(node);
    EXPECT_NE(mem::buffer_addr(node), before);
    EXPECT_EQ(text_of(node), std::u32string(24, U'x'));
    EXPECT_LE(b->tail, b->data_end());
}

TEST(UnicodeWideningDeathTest, UnknownUnitSizeIsRuntimeError101) {
    Node node = make_buffer(U"ab", 1);
    mem::buffer(node)->flags = (mem::buffer(node)->flags & ~kSeriesUnitMask) | 3;
    Cell string = Cell::of(Type::String).set_node(node);
    int32_t all = -1;
    EXPECT_EXIT(unicode::to_utf8(&string, all), testing::ExitedWithCode(101), "");
    mem::buffer(node)->flags = (mem::buffer(node)->flags & ~kSeriesUnitMask) | 1;  // sound again for the heap check
}

// ---- Loading

TEST(UnicodeLoading, PicksTheNarrowestUnitAndWidensAsWiderCharactersCome) {
    struct Case {
        std::string input;
        uint32_t unit;
        std::u32string text;
    };
    const std::string ascii(1000, 'a');
    const Case cases[] = {
        {"abc", 1, U"abc"},
        {"caf\xC3\xA9 \xC3\xBF", 1, U"caf\u00E9 \u00FF"},
        {ascii + "\xE2\x82\xAC", 2, std::u32string(1000, U'a') + U"\u20AC"},
        {ascii + "\xE2\x82\xACx\xF0\x9F\x98\x80y", 4, std::u32string(1000, U'a') + U"\u20ACx\U0001F600y"},
        {"\xF0\x9F\x98\x80" + ascii, 4, U"\U0001F600" + std::u32string(1000, U'a')},
        {"", 1, U""},
    };
    for (const Case& c : cases) {
        uint32_t remaining = 99;
        Node node = unicode::load_utf8(bytes_of(c.input), uint32_t(c.input.size()), 0, &remaining, false);
        EXPECT_EQ(unit_of(node), c.unit) << c.input.size();
        EXPECT_EQ(text_of(node), c.text) << c.input.size();
        EXPECT_EQ(remaining, 0u);
    }
}

TEST(UnicodeLoading, ByteOrderMarkAndCutSequence) {
    struct Case {
        std::string input;
        std::u32string text;
        uint32_t remaining;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBF", U"", 0}, {"\xEF\xBB\xBFz", U"z", 0},   {"\xEF\xBB", U"", 2},
        {"a\xE2\x82", U"a", 2},   {"ab\xF0\x9F\x98", U"ab", 3},
    };
    for (const Case& c : cases) {
        uint32_t remaining = 99;
        Node node = unicode::load_utf8(bytes_of(c.input), uint32_t(c.input.size()), 0, &remaining, false);
        EXPECT_EQ(text_of(node), c.text) << hex(c.input);
        EXPECT_EQ(remaining, c.remaining) << hex(c.input);
    }
    EXPECT_EQ(text_of(unicode::load_utf8_new(bytes_of("a\xE2\x82"), 3)), U"a");
}

TEST(UnicodeLoading, LineEnds) {
    struct Case {
        std::string utf8;
        bool crlf;
        std::u32string from_utf8, from_utf16;
    };
    const Case cases[] = {
        {"a\r\nb", true, U"a\nb", U"a\nb"},
        {"a\rb", true, U"a\nb", U"ab"},
        {"a\r", true, U"a\n", U"a"},
        {"ab\r\r\ncd\r", true, U"ab\n\ncd\n", U"ab\ncd"},
        {"a\r\nb\r", false, U"a\r\nb\r", U"a\r\nb\r"},
    };
    for (const Case& c : cases) {
        auto size = uint32_t(c.utf8.size());
        EXPECT_EQ(text_of(unicode::load_utf8(bytes_of(c.utf8), size, 0, nullptr, c.crlf)), c.from_utf8);
        std::string units = utf16(std::u16string(c.utf8.begin(), c.utf8.end()));
        EXPECT_EQ(text_of(unicode::load_utf16(bytes_of(units), size, 0, c.crlf)), c.from_utf16);
    }
}

TEST(UnicodeLoading, IntoATargetReplacesItsText) {
    // UTF-8 keeps the target's unit; UTF-16 gives it the unit its text needs.
    Cell string = make_string(U"old text \u20AC", 2, 3);
    EXPECT_EQ(unicode::load_utf8_into(bytes_of("new"), 3, &string, nullptr), string.node());
    EXPECT_EQ(unit_of(string.node()), 2u);
    EXPECT_EQ(text_of(string.node()), U"new");

    Node target = make_buffer(U"\U0001F600", 4);
    std::string units = utf16(u"much longer than before");
    EXPECT_EQ(unicode::load_utf16(bytes_of(units), 23, target, false), target);
    EXPECT_EQ(unit_of(target), 1u);
    EXPECT_EQ(text_of(target), U"much longer than before");
}

TEST(UnicodeLoading, InvalidUtf8RaisesWithTheBytesFromTheBadSequence) {
    const std::string input = "ok\xED\xA0\x80 and more";
    EXPECT_EQ(raised_by([&] { unicode::load_utf8_new(bytes_of(input), uint32_t(input.size())); }),
              Err::access_invalid_utf8);
    EXPECT_EQ(raised_binary(), "EDA08020");
}

TEST(UnicodeLoading, EncodingsByNumber) {
    EXPECT_EQ(text_of(unicode::load_encoded(bytes_of("h\xC3\xA9"), 3, unicode::kUtf8)), U"h\u00E9");
    std::string units = utf16(u"h\u00E9");
    EXPECT_EQ(text_of(unicode::load_encoded(bytes_of(units), 2, unicode::kUtf16le)), U"h\u00E9");

    EXPECT_EQ(raised_by([] { unicode::load_encoded(bytes_of("x"), 1, 7); }), Err::script_invalid_data);
    EXPECT_EQ(error::raised.args[0].type(), Type::Integer);
    EXPECT_EQ(error::raised.args[0].int32(), 7);
}

}  // namespace
}  // namespace oka
