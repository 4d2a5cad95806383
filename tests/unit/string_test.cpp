// string!: storage in the narrowest unit, loading, the widening writers, make and to, form and mold,
// comparison and path access.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/word.h"
#include "runtime/root.h"
#include "string_testing.h"

using namespace oka;
using test::at_head;
using test::binary_of;
using test::block_of;
using test::char_cell;
using test::code_points;
using test::error_of;
using test::float_cell;
using test::given;
using test::int_cell;
using test::run;
using test::str;
using test::text_of_unit;
using test::type_cell;
using test::unit_of;
using test::utf8;

namespace {

std::string molded(const Cell& value, std::vector<int32_t> refinements = {}) {
    return utf8(run(actions::mold_s, {value}, std::move(refinements)));
}

}  // namespace

TEST(StringLoad, TakesTheNarrowestUnitAndWidensAsWiderCodePointsCome) {
    struct Case {
        std::string bytes;
        int32_t encoding;
        std::u32string text;
        uint32_t unit;
    } cases[] = {
        {"abc", unicode::kUtf8, U"abc", 1},
        {"caf\xC3\xA9", unicode::kUtf8, U"caf\u00E9", 1},
        {std::string(1000, 'a') + "\xE2\x82\xAC", unicode::kUtf8, std::u32string(1000, 'a') + U"\u20AC", 2},
        {"a\xE2\x82\xAC\xF0\x9F\x98\x80", unicode::kUtf8, U"a\u20AC\U0001F600", 4},
        {"\xEF\xBB\xBF"
         "a",
         unicode::kUtf8, U"a", 1},
        {std::string("a\0b\0", 4), unicode::kUtf16le, U"ab", 1},
        {std::string("\xAC\x20z\0", 4), unicode::kUtf16le, U"\u20ACz", 2},
        {std::string("\x3D\xD8\x00\xDEx\0", 6), unicode::kUtf16le, U"\U0001F600x", 4},
    };
    for (const Case& c : cases) {
        // A UTF-16 length counts 16-bit units.
        uint32_t length = uint32_t(c.encoding == unicode::kUtf8 ? c.bytes.size() : c.bytes.size() / 2);
        Cell loaded = *string::load(reinterpret_cast<const uint8_t*>(c.bytes.data()), length, c.encoding);
        EXPECT_TRUE(code_points(loaded) == c.text) << c.bytes;
        EXPECT_EQ(unit_of(loaded), c.unit) << c.bytes;
        EXPECT_EQ(loaded.type(), Type::String);
    }
}

TEST(StringLoad, IntoABlockAndTheRootBlock) {
    Cell block = block_of({});
    const uint8_t text[] = {'h', 'i'};
    string::load_in(text, 2, block, unicode::kUtf8);
    EXPECT_EQ(test::mold(block), "[\"hi\"]");
    uint32_t roots = series::rs_buffer_length_q(runtime::root);
    string::load_in_root(text, 1, unicode::kUtf8);
    EXPECT_EQ(series::rs_buffer_length_q(runtime::root), roots + 1);
    EXPECT_EQ(utf8(*block::rs_abs_at(runtime::root, roots)), "h");
}

TEST(StringLoad, CheckedUtf8RefusesInvalidAndCutSequences) {
    const uint8_t good[] = {'a', 0xC3, 0xA9};
    EXPECT_EQ(utf8(*string::load_utf8_checked(good, 3)), "a\u00E9");
    const uint8_t cut[] = {'a', 0xE2, 0x82};
    const uint8_t bad[] = {'a', 0xFF, 'b'};
    for (const uint8_t* bytes : {cut, bad})
        EXPECT_EQ(error_of([&] { string::load_utf8_checked(bytes, 3); }), Err::access_invalid_utf8);
}

TEST(StringWriters, AppendingWidensFrom128PositioningOnlyAbove255) {
    struct Case {
        const char* what;
        void (*write)(Node node);
        std::u32string text;
        uint32_t unit;
    } cases[] = {
        {"append 200", [](Node n) { string::append_char(n, 200); }, U"ab\u00C8", 2},
        {"append 127", [](Node n) { string::append_char(n, 127); }, U"ab\u007F", 1},
        {"append 10000h", [](Node n) { string::append_char(n, 0x10000); }, U"ab\U00010000", 4},
        {"overwrite 200", [](Node n) { string::overwrite_char(n, 0, 200); }, U"\u00C8b", 1},
        {"overwrite past the tail", [](Node n) { string::overwrite_char(n, 3, 'z'); }, std::u32string(U"ab\0z", 4), 1},
        {"overwrite 100h", [](Node n) { string::overwrite_char(n, 1, 0x100); }, U"a\u0100", 2},
        {"insert 200", [](Node n) { string::insert_char(n, 1, 200); }, U"a\u00C8b", 1},
        {"insert 10000h", [](Node n) { string::insert_char(n, 0, 0x10000); }, U"\U00010000ab", 4},
        {"write 2000h", [](Node n) { string::write_char(n, 1, 0x2000); }, U"a\u2000", 2},
        {"remove", [](Node n) { string::remove_char(n, 0); }, U"b", 1},
        {"remove past the tail", [](Node n) { string::remove_part(n, 1, 5); }, U"a", 1},
    };
    for (const Case& c : cases) {
        Cell s = str("ab");
        c.write(s.node());
        EXPECT_TRUE(code_points(s) == c.text) << c.what << ": " << utf8(s);
        EXPECT_EQ(unit_of(s), c.unit) << c.what;
    }
}

TEST(StringWriters, ConcatenateInEachModeAndFromItself) {
    struct Case {
        Cell destination, source;
        int32_t part;
        uint32_t offset;
        string::Mode mode;
        const char* expected;
    } cases[] = {
        {str("ab"), str("cde"), -1, 0, string::Mode::append, "abcde"},
        {str("ab"), str("cde"), 2, 0, string::Mode::append, "abcd"},
        {at_head(str("abcd"), 1), str("XY"), -1, 1, string::Mode::insert, "abXYcd"},
        {str("abcd"), str("XY"), -1, 3, string::Mode::overwrite, "abcXY"},
        {str("abcd"), at_head(str("xyz"), 2), -1, 1, string::Mode::overwrite, "azcd"},
    };
    for (const Case& c : cases) {
        string::concatenate(c.destination, c.source, c.part, c.offset, c.mode);
        EXPECT_EQ(utf8(at_head(c.destination, 0)), c.expected);
    }
    Cell self = str("abc");
    string::concatenate(at_head(self, 1), self, -1, 0, string::Mode::insert);
    EXPECT_EQ(utf8(self), "aabcbc");
}

TEST(StringWriters, AWiderSourceWidensTheDestinationButANarrowerOneIsLeftAlone) {
    Cell narrow = str("ab"), wide = text_of_unit(U"\u03B1", 2);
    string::concatenate(wide, narrow, -1, 0, string::Mode::append);
    EXPECT_TRUE(code_points(wide) == U"\u03B1ab");
    EXPECT_EQ(unit_of(narrow), 1u);
    string::concatenate(narrow, wide, -1, 0, string::Mode::append);
    EXPECT_TRUE(code_points(narrow) == U"ab\u03B1ab");
    EXPECT_EQ(unit_of(narrow), 2u);
}

TEST(StringPositions, HeadPastTheTailIsClampedAndResetEmpties) {
    Cell s = at_head(str("abc"), 7);
    EXPECT_EQ(string::rs_head(&s).get(), string::rs_tail(s).get());
    EXPECT_EQ(s.head(), 3u);
    Cell wide = text_of_unit(U"\u0100\u0101", 2);
    string::rs_reset(&wide);
    EXPECT_EQ(unit_of(wide), 1u);
    EXPECT_EQ(series::rs_buffer_length_q(wide), 0u);
}

TEST(StringHex, FullAndMinimalForms) {
    EXPECT_STREQ(string::to_hex(255, false), "000000FF");
    EXPECT_STREQ(string::to_hex(-1, false), "FFFFFFFF");
    EXPECT_STREQ(string::to_hex(0x1E, true), "1E");
    EXPECT_STREQ(string::to_hex(0x20AC, true), "20AC");
    EXPECT_STREQ(string::to_hex(0, true), "00");
    EXPECT_STREQ(string::byte_to_hex(0xAB), "AB");
}

TEST(StringMakeTo, NumbersAreCapacitiesOtherValuesAreFormed) {
    Cell refinement = refinement::make_in_root("ref");
    struct Case {
        void (*entry)(const int32_t*);
        Type target;
        Cell spec;
        const char* expected;
    } cases[] = {
        {actions::make_s, Type::String, float_cell(2.7), ""},
        {actions::make_s, Type::String, int_cell(10), ""},
        {actions::make_s, Type::String, str("abc"), "abc"},
        {actions::to_s, Type::String, block_of({int_cell(1), str("a"), char_cell('b')}), "1ab"},
        {actions::to_s, Type::String, refinement, "ref"},
        {actions::to_s, Type::String, at_head(test::with_type(str("a.txt"), Type::File), 2), "txt"},
        {actions::to_s, Type::String, test::with_type(str("b"), Type::Tag), "b"},
        {actions::to_s, Type::String, binary_of("\xE2\x82\xAC!"), "\u20AC!"},
        {actions::to_s, Type::String, int_cell(-12), "-12"},
        {actions::to_s, Type::String, char_cell(0xE9), "\u00E9"},
    };
    for (const Case& c : cases) {
        Cell result = run(c.entry, {type_cell(c.target), c.spec});
        EXPECT_EQ(result.type(), c.target) << c.expected;
        EXPECT_EQ(result.head(), 0u);
        EXPECT_EQ(utf8(result), c.expected);
    }
    Cell spec = str("abc");
    EXPECT_NE(run(actions::make_s, {type_cell(Type::String), spec}).node(), spec.node());
    // The children take the same entry: a refinement is molded for them.
    Cell proto = type_cell(Type::File);
    const Cell* file = datatype::action<Act::to>(Type::String)(&proto, &refinement, Type::File);
    EXPECT_EQ(file->type(), Type::File);
    EXPECT_EQ(utf8(*file), "/ref");
}

TEST(StringMakeTo, Refusals) {
    struct Case {
        void (*entry)(const int32_t*);
        Cell spec;
        Err error;
    } cases[] = {
        {actions::make_s, int_cell(-1), Err::script_out_of_range},
        {actions::to_s, none::value, Err::script_bad_to_arg},
        {actions::to_s, binary_of("a\xFF"), Err::access_invalid_utf8},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { run(c.entry, {type_cell(Type::String), c.spec}); }), c.error);
}

TEST(StringMold, QuotesOrBracesWithEscapes) {
    struct Case {
        std::string text;
        const char* mold;
    } cases[] = {
        {"abc", "\"abc\""},
        {"a\"b", "{a\"b}"},
        {std::string(49, 'x'), "\"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\""},
        {std::string(50, 'x'), "{xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx}"},
        {"a\n\nb", "\"a^/^/b\""},
        {"a\n\n\nb", "{a^/^/^/b}"},
        {"\t^\x1E\x7F", "\"^-^^^(1E)^~\""},
        {std::string("\0\x01\x1B\x1C\x1D\x1F", 6), "\"^@^A^[^\\^]^_\""},
        {"\xC2\x85\xC3\xA9", "\"^(85)\u00E9\""},
        {"{a}\"", "{{a}\"}"},
        {"\"a{b", "{\"a^{b}"},
        {"\"{a}{b", "{\"{a}^{b}"},
        {"a}b\"", "{a^}b\"}"},
        {"\"\n", "{\"^/}"},
    };
    for (const Case& c : cases) EXPECT_EQ(molded(str(c.text)), c.mold) << c.text;
}

TEST(StringMold, AllPartAndPositions) {
    EXPECT_EQ(molded(str("\u00E9\u20AC"), given({{1, 0}})), "\"^(E9)^(20AC)\"");
    EXPECT_EQ(molded(at_head(str("abc"), 9)), "\"\"");
    EXPECT_EQ(molded(at_head(str("abc"), 1)), "\"bc\"");
    // The choice of braces counts the whole text, not the part that is molded.
    EXPECT_EQ(utf8(run(actions::mold_s, {str(std::string(60, 'a')), int_cell(5)}, given({{3, 1}}))), "{aaaa");
    EXPECT_EQ(utf8(run(actions::mold_s, {str("abcdef"), int_cell(4)}, given({{3, 1}}))), "\"abc");
    EXPECT_EQ(test::mold(block_of({str("a"), str("b\"")})), "[\"a\" {b\"}]");
}

TEST(StringForm, TheTextUnchangedOrCut) {
    EXPECT_EQ(utf8(run(actions::form_s, {str("a\"b{\n")})), "a\"b{\n");
    EXPECT_EQ(utf8(run(actions::form_s, {str("abcdef"), int_cell(3)}, given({{0, 1}}))), "abc");
    EXPECT_EQ(utf8(run(actions::form_s, {block_of({str("ab"), str("cd")})})), "ab cd");
}

TEST(StringCompare, CaseFoldsUnlessStrictAndTypesMeetOnlyForEquality) {
    Cell file = test::with_type(str("abc"), Type::File);
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t expected;
    } cases[] = {
        {str("abc"), str("ABC"), kCompareEqual, 0},
        {str("abc"), str("ABC"), kCompareStrictEqual, 1},
        {str("abc"), str("abd"), kCompareSort, -1},
        {str("ab"), str("abc"), kCompareSort, -1},
        {str("b"), str("abc"), kCompareSort, 1},
        {str("abc"), str("ABC"), kCompareCaseSort, 1},
        {str("abc"), file, kCompareEqual, 0},
        {str("abc"), file, kCompareStrictEqual, kNotComparable},
        {str("abc"), file, kCompareSort, kNotComparable},
        {str("a"), int_cell(1), kCompareEqual, kNotComparable},
        {str("caf\u00E9"), text_of_unit(U"CAF\u00C9", 2), kCompareEqual, 0},
        {text_of_unit(U"\U0001F600a", 4), text_of_unit(U"\U0001F600A", 4), kCompareEqual, 0},
        // One fold for every unit, to lower case for order: "_" sorts before "a" as before "A".
        {str("a"), str("_"), kCompareSort, 1},
        {str("A"), str("_"), kCompareLesser, 1},
        {text_of_unit(U"a", 2), text_of_unit(U"_", 4), kCompareSort, 1},
        {text_of_unit(U"_", 4), str("A"), kCompareSort, -1},
        {str(""), str(""), kCompareEqual, 0},
        {str(""), str("a"), kCompareSort, -1},
    };
    for (const Case& c : cases) {
        Cell a = c.a, b = c.b;
        EXPECT_EQ(string::compare(&a, &b, c.op), c.expected) << utf8(c.a) << " " << c.op;
    }
}

TEST(StringCompare, SameAndBoundedViews) {
    Cell s = str("abcdef"), copy = str("abcdef");
    EXPECT_TRUE(actions::compare(&s, &s, kCompareSame));
    EXPECT_FALSE(actions::compare(&s, &copy, kCompareSame));
    Cell view = s;
    view.header = kBoundedStringType;
    view.set_limit(3);
    Cell abc = str("ABC");
    EXPECT_EQ(string::compare(&abc, &view, kCompareEqual), 0);
    EXPECT_EQ(string::compare(&s, &view, kCompareEqual), 1);
}

TEST(StringCompare, MatchModeAndTheParseTests) {
    Cell abc = str("abc"), ab = str("AB"), empty = str("");
    EXPECT_EQ(string::equal_q(abc, ab, kCompareEqual, true), 0);
    EXPECT_EQ(string::equal_q(abc, ab, kCompareStrictEqual, true), 1);
    EXPECT_EQ(string::equal_q(ab, abc, kCompareEqual, true), 1);
    EXPECT_EQ(string::equal_q(abc, empty, kCompareEqual, true), 0);
    EXPECT_EQ(string::equal_q(abc, empty, kCompareFind, true), 1);

    Cell tagged = str("<b>x"), tag = test::with_type(str("B"), Type::Tag);
    EXPECT_TRUE(string::tag_delimited_q(tagged, tag));
    EXPECT_TRUE(string::match_value_q(tagged, tag, kCompareEqual));
    EXPECT_FALSE(string::match_value_q(tagged, tag, kCompareStrictEqual));
    EXPECT_TRUE(string::match_value_q(abc, char_cell('A'), kCompareEqual));
    EXPECT_FALSE(string::match_value_q(abc, char_cell('A'), kCompareStrictEqual));
    EXPECT_TRUE(string::match_value_q(abc, str("aB"), kCompareEqual));
    EXPECT_FALSE(string::match_value_q(abc, int_cell(1), kCompareEqual));
    EXPECT_TRUE(string::match_q(abc, "ab"));
    EXPECT_FALSE(string::match_q(abc, "abcd"));
    EXPECT_EQ(string::rs_find_char(at_head(str("abcabc"), 1), 'a'), 3);
    EXPECT_EQ(string::rs_find_char(abc, 'z'), -1);
    EXPECT_TRUE(string::find_char_step(str("a1B2"), 'b', 2, false));
    EXPECT_FALSE(string::find_char_step(str("a1B2"), 'b', 2, true));
    EXPECT_FALSE(string::find_char_step(str("a1B2"), '1', 2, false));
}

TEST(StringPath, PicksPokesSelectsAndSetsAfterAKey) {
    Cell s = str("abc");
    EXPECT_EQ(run(actions::eval_path_s, {s, int_cell(2)}).code_point(), uint32_t('b'));
    run(actions::set_path_s, {s, int_cell(2), char_cell(0x3A9)});
    EXPECT_EQ(utf8(s), "a\u03A9c");
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(run(actions::eval_path_s, {s, char_cell('a')}).code_point(), 0x3A9u);
    EXPECT_TRUE(run(actions::eval_path_s, {s, char_cell('c')}).is(Type::None));
    run(actions::set_path_s, {s, str("a"), char_cell('Z')});
    EXPECT_EQ(utf8(s), "aZc");
    EXPECT_EQ(error_of([&] {
                  run(actions::set_path_s, {s, char_cell('q'), char_cell('Z')});
              }),
              Err::script_bad_path_set);
    Cell word = word::load("foo");
    EXPECT_EQ(error_of([&] { run(actions::eval_path_s, {s, word}); }), Err::script_invalid_path);
}

TEST(StringSeriesActions, PokeWidensAndMoveCrossesUnits) {
    Cell s = str("abc");
    run(actions::poke_s, {s, int_cell(1), char_cell(0x1F600)});
    EXPECT_TRUE(code_points(s) == U"\U0001F600bc");
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(error_of([&] { run(actions::poke_s, {s, int_cell(1), int_cell(65)}); }), Err::script_invalid_arg);

    Cell origin = text_of_unit(U"\u03B1\u03B2\u03B3", 2), target = str("xy");
    run(actions::move_s, {origin, at_head(target, 1), int_cell(2)}, given({{0, 2}}));
    EXPECT_TRUE(code_points(target) == U"x\u03B1\u03B2y");
    EXPECT_TRUE(code_points(origin) == U"\u03B3");
    Cell narrow = str("ab"), wide = text_of_unit(U"\u03B1", 2);
    run(actions::move_s, {narrow, wide});
    EXPECT_TRUE(code_points(wide) == U"a\u03B1");
    EXPECT_EQ(utf8(narrow), "b");
}

TEST(StringSeriesActions, TakeGivesACharOrAString) {
    Cell s = str("abc");
    EXPECT_EQ(run(actions::take_s, {s}).code_point(), uint32_t('a'));
    EXPECT_EQ(utf8(s), "bc");
    EXPECT_EQ(run(actions::take_s, {s}, given({{2, 0}})).code_point(), uint32_t('c'));
    Cell taken = run(actions::take_s, {str("abcd"), int_cell(2)}, given({{0, 1}}));
    EXPECT_EQ(taken.type(), Type::String);
    EXPECT_EQ(utf8(taken), "ab");
}
