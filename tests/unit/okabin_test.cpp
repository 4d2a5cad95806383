// The serialised form of values: the exact bytes of small values in both record forms, round trips of
// values of every datatype in both forms with and without compression (sharing, cycles and positions
// kept), and data that breaks one rule each, which must raise an error and leave nothing half made.
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/native.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "natives_testing.h"
#include "runtime/collector.h"
#include "runtime/root.h"
#include "services/okabin.h"

using namespace oka;
using namespace oka::test;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(std::string_view text) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(uint8_t(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    return bytes;
}

std::string hex_of(const Bytes& bytes) {
    std::string text;
    for (uint8_t b : bytes) text += string::byte_to_hex(b);
    return text;
}

// The value of code written in the language, kept for the test.
Cell value_of(std::string_view code) {
    Cell block = keep(*lexer::load(code));
    interpreter::eval_block(block, false);
    return keep(stack::top[-1]);
}

Bytes bytes_of(const Cell& binary) {
    string::Text text = string::text_of(binary);
    return Bytes(text.data.get(), text.data.get() + text.length);
}

Bytes encoded(const Cell& value, bool compact, bool compress = false) {
    return bytes_of(keep(*okabin::encode(value, {compact, compress})));
}

// The block of the values decoded from the bytes, or the id of the error raised (with its argument
// when it is an integer: the position of a malformed record).
struct Decoded {
    Cell block;
    std::string error;
};

// The id of the error the code raises, with its first argument when that is an integer (the position
// of a malformed record); empty when it raises none.
template <class F>
std::string raised(F&& body) {
    Cell error;
    if (!error::trap(body, &error)) return "";
    std::string id = error::info(Err(integer::get(*error::field(error, error::kCode)))).word;
    Cell arg = *error::field(error, error::kArg1);
    if (arg.is(Type::Integer)) id += " " + std::to_string(integer::get(arg));
    return id;
}

Decoded decode(const Bytes& bytes) {
    Cell target = keep(*block::make_at(stack::push_next(), 1));
    stack::pop(1);
    std::string error = raised([&] { okabin::decode(bytes.data(), bytes.size(), target, okabin::Mode::codec); });
    // A failed decode leaves no value half made: the data below holds one root.
    if (!error.empty()) {
        EXPECT_EQ(series::rs_length_q(target), 0u) << error;
    }
    return {target, error};
}

Cell decode_one(const Bytes& bytes) {
    Decoded d = decode(bytes);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(series::rs_length_q(d.block), 1u);
    Cell value = *block::rs_abs_at(d.block, 0);  // kept from a copy: keeping may move the block
    return keep(value);
}

Bytes container(uint8_t flags, const Bytes& rest) {
    Bytes bytes = {'O', 'K', 'A', 'B', 'I', 'N', 2, flags};
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

class Okabin : public CodeTest {};

// The record forms: compact, plain.
constexpr bool kForms[] = {true, false};

}  // namespace

TEST_F(Okabin, CompactBytesOfSmallValues) {
    struct Case {
        const char* code;
        const char* bytes;  // after the magic and version
    };
    for (const Case& c : std::initializer_list<Case>{
             {"63", "010101BF"},
             {"0", "01010180"},
             {"64", "0101030B8001"},
             {"-1", "0101020B01"},
             {"1.0", "0101024C02"},
             {"0.5", "0101090C000000000000E03F"},
             {"-0.0", "0101090C0000000000000080"},
             {"12.5%", "01010926000000000000C03F"},
             {"25%", "0101026632"},
             {"0%", "0101026600"},
             {"true", "010101C2"},
             {"none", "01010103"},
             {"#\"a\"", "0101020A61"},
             {"\"abc\"", "010105070C616263"},
             {"next \"abc\"", "01010647010C616263"},
             {"#{0102}", "01010429020102"},
             {"[a]",
              "05010401020000000061"
              "0005010F00"},
             {"1x-2", "010103250203"},
             {"1.2.3", "01010427010203"},
             // An image: its sides, then each pixel's bytes as they lie (blue, green, red, alpha).
             {"make image! [1x1 #{0A0B0C}]",
              "010107350101"
              "0C0B0AFF"},
             {"next make image! [1x1 #{0A0B0C}]",
              "01010875010101"
              "0C0B0AFF"},
             {"make image! 0x3",
              "0101033500"
              "03"},
         }) {
        std::string expected = std::string("4F4B4142494E02") + c.bytes;
        EXPECT_EQ(hex_of(encoded(value_of(c.code), true)), expected) << c.code;
    }
}

TEST_F(Okabin, PlainBytesOfSmallValues) {
    struct Case {
        const char* code;
        const char* bytes;  // after the magic and version
    };
    for (const Case& c : std::initializer_list<Case>{
             {"1",
              "00"
              "01000000"
              "08000000"
              "0B000000"
              "01000000"},
             // A float after an odd number of words comes after a zero padding word.
             {"[1.5]",
              "00"
              "01000000"
              "1C000000"
              "05000000"
              "00000000"
              "01000000"
              "00000000"
              "0C000000"
              "0000F83F"
              "00000000"},
             {"\"abc\"",
              "00"
              "01000000"
              "10000000"
              "07010000"
              "00000000"
              "03000000"
              "61626300"},
             // An image: its header and head, the size word (height << 16 | width), then its pixels.
             {"make image! [1x2 #{0A0B0C 0D0E0F}]",
              "00"
              "01000000"
              "14000000"
              "35000000"
              "00000000"
              "01000200"
              "0C0B0AFF"
              "0F0E0DFF"},
             // A global word: header with bit 25, symbol index, then its position in the global context.
             {"[a]",
              "04"
              "01000000"
              "18000000"
              "01000000"
              "08000000"
              "00000000"
              "6100000000000000"
              "05000000"
              "00000000"
              "01000000"
              "0F000002"
              "00000000"
              "*"},
         }) {
        std::string expected = std::string("4F4B4142494E02") + c.bytes,
                    actual = hex_of(encoded(value_of(c.code), false));
        if (expected.back() == '*') {
            expected.pop_back();
            EXPECT_EQ(actual.size(), expected.size() + 8) << c.code;
            actual.resize(std::min(actual.size(), expected.size()));
        }
        EXPECT_EQ(actual, expected) << c.code;
    }
}

// Every datatype that has a record, in both forms, packed and not: the value decoded molds as the one
// encoded.
TEST_F(Okabin, RoundTripsOfEveryDatatype) {
    for (const char* code : {
             "[1 -1 63 64 2147483647 -2147483648 1.5 -0.0 1e300 3.0 12.5% 25% -150% 1:02:03 -0:00:01.5]",
             "[#\"a\" #\"^(FF)\" #\"^(10FFFF)\" \"abc\" \"caf^(E9)\" \"^(4E2D)x\" \"^(1F600)\" {}]",
             "[<tag> me@example.com @ref #issue a 'b :c d: /e]",
             "[a/b 'a/b :a/b a/b: (1 + 2) [] [[[nested]]]]",
             "[#{} #{00FF80}]",
             "reduce [make bitset! [#\"a\" - #\"z\"] complement make bitset! [1 2]]",
             "[1x2 -3x-4 (1.5, 2) (1, 2, 3) 1.2.3.4.5.6.7.8.9.10.11.12 0.0.0]",
             "[$1.50 -EUR$2.00001 $0 1-Jan-2000 29-Feb-2024/10:20:30+02:00 1-Jan-1/0:00-12:00]",
             "reduce [integer! series! any-word! none true false ()]",
             "reduce [make vector! [integer! 16 [1 -2 3]] make vector! [float! 64 [1.5 2.5]]]",
             "reduce [make vector! [char! 32 [#\"a\"]] make vector! [percent! 64 [50%]] make vector! [integer! 8 []]]",
             "make object! [a: 1 b: \"x\" c: [1 2] d: none]",
             "make object! [a: none]",
             "reduce [make hash! [a 1 b 2 \"c\" [3]] make map! [a 1 \"k\" [2] 3 none] make map! []]",
             "m: make map! [a 1 b 2 c 3] remove/key m 'b m",
             "func [a [integer!] b /c d \"doc\" /local e] [e: a + b either c [d] [e]]",
             "reduce [:append :add :+ :if :either]",
             "try [1 / 0]",
             "b: copy [] loop 60 [append b copy \"a string of some length\"] b",
             "reduce [make image! [2x1 #{FF0000 00FF00}] make image! 0x3 next make image! 2x2]",
         }) {
        Cell value = value_of(code);
        std::string expected = mold_all(value);
        for (bool compact : kForms)
            for (bool compress : {false, true})
                EXPECT_EQ(mold_all(decode_one(encoded(value, compact, compress))), expected)
                    << code << (compact ? " compact" : " plain") << (compress ? " packed" : "");
    }
}

TEST_F(Okabin, PackingTakesEffectWhereItPays) {
    Cell big = value_of("b: copy [] loop 60 [append b copy \"a string of some length\"] b");
    EXPECT_EQ(encoded(big, true, true)[7], okabin::kCompact | okabin::kCompressed);
    EXPECT_EQ(encoded(value_of("1"), true, true)[7], okabin::kCompact);
}

// What is shared stays shared, in both forms: one series, one context, a block inside itself.
TEST_F(Okabin, SharingCyclesAndPositionsAreKept) {
    for (bool compact : kForms) {
        Cell two = decode_one(encoded(value_of("s: next \"abc\" reduce [s s \"abc\"]"), compact));
        Cell s1 = *block::rs_abs_at(two, 0), s2 = *block::rs_abs_at(two, 1), s3 = *block::rs_abs_at(two, 2);
        EXPECT_EQ(s1.node(), s2.node());
        EXPECT_NE(s1.node(), s3.node());
        EXPECT_EQ(s2.head(), 1u);

        Cell self = decode_one(encoded(value_of("b: next [1 2] append/only b b b"), compact));
        EXPECT_EQ(self.head(), 1u);
        EXPECT_EQ(block::rs_abs_at(self, 2)->node(), self.node());

        Cell images = decode_one(encoded(value_of("i: make image! 2x2 reduce [i next i]"), compact));
        EXPECT_EQ(block::rs_abs_at(images, 0)->node(), block::rs_abs_at(images, 1)->node());
        EXPECT_EQ(block::rs_abs_at(images, 1)->head(), 1u);

        Cell objects = decode_one(encoded(value_of("o: make object! [a: 1] reduce [o o]"), compact));
        EXPECT_EQ(block::rs_abs_at(objects, 0)->context(), block::rs_abs_at(objects, 1)->context());

        Cell bound =
            decode_one(encoded(value_of("o: make object! [a: 42 b: 'a] o/b: in o 'a reduce [in o 'a o]"), compact));
        Cell word = *block::rs_abs_at(bound, 0), object = *block::rs_abs_at(bound, 1);
        EXPECT_EQ(word.context(), object.context());
        EXPECT_EQ(mold(*_context::get(word, word.context())), "42");
        EXPECT_EQ(_context::get(word, word.context())[1].context(),
                  object.context());  // the field b holds the word again

        // A word bound to an error's field travels with the error, as one bound to an object does.
        Cell in_error = decode_one(encoded(value_of("e: try [1 / 0] reduce [in e 'id e]"), compact));
        Cell id = *block::rs_abs_at(in_error, 0), error = *block::rs_abs_at(in_error, 1);
        EXPECT_TRUE(error.is(Type::Error));
        EXPECT_EQ(id.context(), error.context());
        EXPECT_EQ(mold(*_context::get(id, id.context())), "zero-divide");
    }
}

// Every bare word of one symbol takes the same global binding, and each keeps the spelling written.
TEST_F(Okabin, BareWordsOfOneSymbolShareTheirGlobalBinding) {
    value_of("shared-word: 7");
    for (bool compact : kForms) {
        Cell words = decode_one(encoded(value_of("[shared-word SHARED-word shared-word 'shared-word]"), compact));
        EXPECT_EQ(mold(words), "[shared-word SHARED-word shared-word 'shared-word]");
        for (uint32_t i = 0; i < 4; i++) {
            Cell word = *block::rs_abs_at(words, i);
            EXPECT_EQ(mold(*_context::get(word, word.context())), "7") << i;
        }
    }
}

// Decoding allocates, and any allocation may move a series buffer (the collector's stress mode moves
// them all): data that lies in one must be read from a copy.
TEST_F(Okabin, DataInASeriesBufferIsReadFromACopy) {
    Cell value = value_of("b: copy [] loop 40 [append b reduce [copy \"text\" 'word 1.5 [1]]] b");
    std::string expected = mold(value);
    for (bool compact : kForms) {
        Cell binary = keep(*okabin::encode(value, {compact, false}));
        Cell target = keep(*block::make_at(stack::push_next(), 1));
        stack::pop(1);
        const uint8_t* bytes = series::unit_at(binary, 0).get();
        okabin::decode(bytes, series::rs_length_q(binary), target, okabin::Mode::codec);
        EXPECT_EQ(mold(*block::rs_abs_at(target, 0)), expected);
    }
}

TEST_F(Okabin, DecodedFunctionsRunAndNativesAreTheBuiltIns) {
    for (bool compact : kForms) {
        Cell f = decode_one(encoded(value_of("func [x /twice] [either twice [x + x] [x + 1]]"), compact));
        Cell name = word::load("decoded-f");
        word::set_value(&name, f);
        EXPECT_EQ(mold(value_of("reduce [decoded-f 41 decoded-f/twice 21]")), "[42 42]");
        Cell natives = decode_one(encoded(value_of("reduce [:if :append :+]"), compact));
        Cell built_in = value_of("reduce [:if :append :+]");
        for (uint32_t i = 0; i < 3; i++) {
            EXPECT_EQ(block::rs_abs_at(natives, i)->header, block::rs_abs_at(built_in, i)->header);
            EXPECT_EQ(block::rs_abs_at(natives, i)->entry(), block::rs_abs_at(built_in, i)->entry());
        }
    }
}

TEST_F(Okabin, DecodeOfAScriptGivesTheOneValueOrTheBlock) {
    Cell one = keep(*okabin::decode_binary(keep(*okabin::encode_compact(value_of("[1 2]")))));
    EXPECT_EQ(mold(one), "[1 2]");
    Cell short_data = keep(*binary::load(hex("4F4B4142494E0201").data(), 8));
    EXPECT_EQ(raised([&] { okabin::decode_binary(short_data); }), "invalid-data");
}

// Data that breaks one rule each: a malformed record at its 1-based position, a type without a
// record, and what only the boot data may hold.
TEST_F(Okabin, MalformedDataRaisesAnErrorAtItsPosition) {
    const Bytes symbol_a = {1, 2, 0, 0, 0, 0, 'a', 0};  // one symbol, "a"
    auto with_a = [&](const Bytes& payload) {
        Bytes rest = {1, uint8_t(payload.size())};
        rest.insert(rest.end(), symbol_a.begin(), symbol_a.end());
        rest.insert(rest.end(), payload.begin(), payload.end());
        return container(okabin::kCompact | okabin::kSymbols, rest);
    };
    struct Case {
        const char* what;
        Bytes data;
        const char* error;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"payload past the end", container(1, {1, 5, 0x0B}), "ob-invalid-record 10"},
             {"text past the end", container(1, {1, 3, 0x07, 0x28, 'a'}), "ob-invalid-record 12"},
             {"cells past the end", container(1, {1, 2, 0x05, 0x7F}), "ob-invalid-record 12"},
             {"varint of 33 bits", container(1, {1, 6, 0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F}), "ob-invalid-record 12"},
             {"varint cut", container(1, {1, 2, 0x0B, 0x80}), "ob-invalid-record 12"},
             {"text unit 3", container(1, {1, 3, 0x07, 0x07, 'a'}), "ob-invalid-record 12"},
             {"surrogate in text", container(1, {1, 4, 0x07, 0x05, 0x00, 0xD8}), "ob-invalid-record 12"},
             {"code point too high", container(1, {1, 5, 0x0A, 0x80, 0x80, 0xC4, 0x00}), "ob-invalid-record 12"},
             {"type id 0", container(1, {1, 1, 0x00}), "ob-invalid-record 11"},
             {"symbol! has no record", container(1, {1, 1, 0x0D}), "ob-invalid-record 11"},
             {"long type id", container(1, {1, 2, 0x3F, 0x70}), "ob-invalid-record 11"},
             {"triple! has no codec", container(1, {1, 1, 0x1F}), "no-codec"},
             {"reference before a small integer", container(1, {1, 2, 0xC1, 0x81}), "ob-invalid-record 12"},
             {"set-word outside the boot data", with_a({0xC4, 0x0F, 0x00, 0x81}), "ob-invalid-record 19"},
             {"standalone context", with_a({0x0E, 0x0A, 0x01, 0x00}), "ob-invalid-record 19"},
             {"symbol index out of range", with_a({0x0F, 0x01}), "ob-invalid-record 20"},
             {"strings area not ended", container(5, {1, 2, 1, 2, 0, 0, 0, 0, 'a', 'b', 0x0F, 0x00}),
              "ob-invalid-record 18"},
             {"symbol table past the end", container(5, {1, 2, 9, 2, 0, 0, 0, 0, 'a', 0}), "ob-invalid-record 11"},
             {"symbol not UTF-8", container(5, {1, 2, 1, 2, 0, 0, 0, 0, 0xC3, 0, 0x0F, 0x00}), "ob-invalid-record 20"},
             {"path of no index", container(1, {1, 2, 0xFF, 0x00}), "ob-invalid-record 12"},
             {"path to nothing", container(1, {1, 3, 0xFF, 0x01, 0x05}), "ob-invalid-record 11"},
             {"date of 31 February", container(1, {1, 5, 0x2F, 0x80, 0x2F, 0x00, 0x00}), "ob-invalid-record 12"},
             {"money digit above 9", container(1, {1, 13, 0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0}),
              "ob-invalid-record 12"},
             {"tuple of 13 bytes", container(1, {1, 3, 0x67, 13, 1}), "ob-invalid-record 12"},
             {"typeset of 13 bytes", container(1, {1, 2, 0x21, 13}), "ob-invalid-record 12"},
             {"vector of blocks", container(1, {1, 3, 0x23, 0x14, 0x00}), "ob-invalid-record 12"},
             {"image side above 65535", container(1, {1, 5, 0x35, 0x80, 0x80, 0x04, 0x01}), "ob-invalid-record 12"},
             {"image head past its pixels", container(1, {1, 4, 0x75, 0x02, 0x01, 0x01}), "ob-invalid-record 13"},
             {"image pixels missing", container(1, {1, 6, 0x35, 0x01, 0x01, 0, 0, 0}), "ob-invalid-record 14"},
             {"error code unknown", container(1, {1, 2, 0x22, 0x63}), "ob-invalid-record 12"},
         }) {
        EXPECT_EQ(decode(c.data).error, c.error) << c.what;
    }
}

// A reference takes only a value of the storage its record makes: cells for cells, text for text, a
// binary for a binary, and the owner it names.
TEST_F(Okabin, AReferenceTakesOnlyTheStorageOfItsRecord) {
    struct Case {
        const char* what;
        Bytes payload;  // a block holding a string, then the record under test
    };
    for (const Case& c : std::initializer_list<Case>{
             {"block over text", {0xC1, 0x05, 0x02, 0x00, 0x00}},
             {"binary over text", {0xC1, 0x29, 0x02, 0x00, 0x00}},
             {"bitset over text", {0xC1, 0x1E, 0x02, 0x00, 0x00}},
             {"vector over text", {0xC1, 0x23, 0x02, 0x00, 0x00}},
             {"object over text", {0xC1, 0x20, 0x02, 0x00, 0x00}},
             {"function over text", {0xC1, 0x18, 0x02, 0x00, 0x00}},
             {"text over a block", {0xC1, 0x07, 0x01, 0x00}},
             {"integer as a reference", {0xC1, 0x0B, 0x01, 0x00}},
         }) {
        Bytes payload = {0x05, 0x02, 0x07, 0x08, 'a', 'b'};
        payload.insert(payload.end(), c.payload.begin(), c.payload.end());
        Bytes data = container(1, {1, uint8_t(payload.size())});
        data.insert(data.end(), payload.begin(), payload.end());
        EXPECT_EQ(decode(data).error, "ob-invalid-record 18") << c.what;
    }
}

bool malformed_q(const std::string& error) { return error.rfind("ob-invalid-record ", 0) == 0; }

// Values forged in memory, as no script can make them, and encoded as they stand: the decoder must
// refuse what they claim.
TEST_F(Okabin, ForgedNativesWordsAndFunctionsAreRefused) {
    Cell native = value_of(":if");
    EXPECT_EQ(decode(encoded(native, true)).error, "");
    for (const char* spec : {"[cond]", "[then-blk [block!] cond [any-type!]]", "[cond [any-type!] then-blk [string!]]",
                             "[cond [any-type!] then-blk [block!] extra]"}) {
        Cell forged = native;
        forged.set_spec(value_of(spec).node());
        EXPECT_TRUE(malformed_q(decode(encoded(forged, true)).error)) << spec;
    }
    // A spec that differs in its doc strings only is the built-in's: the decoded value takes the table's.
    Cell documented = native;
    documented.set_spec(value_of("[\"doc\" cond [any-type!] then-blk [block!]]").node());
    EXPECT_EQ(mold(decode_one(encoded(documented, true))), mold(native));
    for (uint32_t entry : {0u, uint32_t(native::kTableSize + 1)}) {
        Cell forged = native;
        forged.set_entry(entry);
        EXPECT_TRUE(malformed_q(decode(encoded(forged, true)).error)) << entry;
    }

    Cell word = value_of("o: make object! [a: 1 b: 2] in o 'b");
    EXPECT_EQ(decode(encoded(word, true)).error, "");
    for (auto forge : std::initializer_list<void (*)(Cell&)>{
             [](Cell& w) { w.set_position(2); }, [](Cell& w) { w.set_position(0x7FFFFFFF); },
             [](Cell& w) { w.set_position(-2); }, [](Cell& w) { w.set_position(0); }}) {
        Cell forged = word;
        forge(forged);
        EXPECT_TRUE(malformed_q(decode(encoded(forged, true)).error)) << forged.position();
    }

    Cell function = value_of("func [a] [a]");
    Cell forged = function;
    forged.set_spec(value_of("[a b]").node());
    EXPECT_TRUE(malformed_q(decode(encoded(forged, true)).error));
}

// Data from outside may hold only names that the lexer reads back as the same value, so that no
// decoded word molds as code, and no head past its series (a head of 2147483647 would overflow index?).
// Such data is forged: what the writer writes decodes, a head past the tail of a series cut since
// written at its tail.
TEST_F(Okabin, NamesThatDoNotReadBackAndHeadsPastTheirSeriesAreRefused) {
    struct Name {
        const char* name;
        Type type;
        bool refused;
    };
    for (const Name& n : std::initializer_list<Name>{
             {"print \"INJECTED\" quote", Type::Word, true},
             {"a b", Type::Word, true},
             {"[a]", Type::SetWord, true},
             {"a;b", Type::GetWord, true},
             {"1a", Type::Word, true},
             {"a:", Type::Word, true},
             {"", Type::Refinement, true},
             {"a b", Type::Issue, true},
             {"+", Type::Word, false},
             {"//", Type::LitWord, false},
             {"<=", Type::Word, false},
             {"\xC3\xA9t\xC3\xA9", Type::SetWord, false},
             {"123", Type::Issue, false},
             {"FF00", Type::Issue, false},
         }) {
        uint32_t symbol = symbol::make(n.name);
        Cell value = n.type == Type::Issue
                         ? Cell::of(Type::Issue).set_context(_context::global).set_symbol(symbol).set_position(-1)
                         : _context::add_global_word(symbol, _context::Spelling::any_case);
        value.header = uint8_t(n.type);
        for (bool compact : kForms)
            EXPECT_EQ(malformed_q(decode(encoded(value, compact)).error), n.refused) << n.name << " " << compact;
    }

    struct Head {
        const char* what;
        Bytes payload;
        bool refused;
    };
    for (const Head& h : std::initializer_list<Head>{
             {"block head at its length", {0x45, 0x01, 0x01, 0x81}, false},
             {"block head past its length", {0x45, 0x02, 0x01, 0x81}, true},
             {"block head of 2^31 - 1", {0x45, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x01, 0x81}, true},
             {"text head past its length", {0x47, 0x03, 0x08, 'a', 'b'}, true},
             {"binary head past its length", {0x69, 0x03, 0x02, 0x00, 0x00}, true},
             {"reference at the tail", {0x05, 0x02, 0x07, 0x08, 'a', 'b', 0xC1, 0x47, 0x02, 0x02, 0x00, 0x00}, false},
             {"reference past the tail", {0x05, 0x02, 0x07, 0x08, 'a', 'b', 0xC1, 0x47, 0x03, 0x02, 0x00, 0x00}, true},
         }) {
        Bytes data = container(1, {1, uint8_t(h.payload.size())});
        data.insert(data.end(), h.payload.begin(), h.payload.end());
        EXPECT_EQ(malformed_q(decode(data).error), h.refused) << h.what;
    }

    for (bool compact : kForms) {
        Cell cut = decode_one(encoded(value_of("a: [1 2 3] b: skip a 3 clear a b"), compact));
        EXPECT_EQ(cut.head(), 0u);
        // a block that holds itself at its tail, which its records reach only after that value
        Cell cycle = decode_one(encoded(value_of("a: [1 2 3] poke a 3 skip a 3 a"), compact));
        EXPECT_EQ(block::rs_abs_at(cycle, 2)->head(), 3u);
        EXPECT_EQ(block::rs_abs_at(cycle, 2)->node(), cycle.node());
    }
}

// A word is never rebound by a round trip: a binding that no record carries is refused when encoding.
TEST_F(Okabin, AWordWhoseBindingHasNoRecordIsNotEncoded) {
    Node context = _context::create(1, 0, 0, _context::kObject);
    keep(Cell::of(Type::Block).set_node(context));
    int32_t position;
    _context::add_word(context, word::load("a").symbol(), true, position);
    Cell word = Cell::of(Type::Word).set_context(context).set_symbol(word::load("a").symbol());
    EXPECT_EQ(raised([&] { okabin::encode_compact(word); }), "no-codec");
    Cell unbound = Cell::of(Type::Word).set_symbol(word::load("a").symbol()).set_position(-1);
    EXPECT_EQ(raised([&] { okabin::encode_compact(unbound); }), "no-codec");
    EXPECT_EQ(raised([&] { okabin::encode_compact(value_of("null-handle")); }), "no-codec");
}

// Every cut of a valid encoding, and every byte of it changed, raises at most an error: never a
// crash, never a value half made. Under the collector's stress mode its thousand decodes collect at
// every 16th step of the mode only: at every one they took minutes, and buffers still move between reads.
TEST_F(Okabin, CutAndChangedDataOnlyRaisesErrors) {
    struct StressStep {
        uint32_t saved = collector::stress_interval;
        StressStep() { collector::stress_interval *= 16; }
        ~StressStep() { collector::stress_interval = saved; }
    } step;
    Cell value = value_of(
        "o: make object! [a: 1 f: func [x] [x + a] s: \"abc\" b: [1.5 #{00}]] "
        "reduce [o in o 'a o/s o/b next o/b 25% 1-Jan-2000 $1 :append try [1 / 0]]");
    for (bool compact : kForms) {
        Bytes data = encoded(value, compact);
        for (size_t length = 0; length < data.size(); length++) {
            Bytes cut(data.begin(), data.begin() + long(length));
            EXPECT_NE(decode(cut).error, "") << length;
        }
        for (size_t i = okabin::kPrefixSize; i < data.size(); i++) {
            for (uint8_t change : {uint8_t(1), uint8_t(0xFF)}) {
                Bytes changed = data;
                changed[i] ^= change;
                decode(changed);
            }
        }
    }
}

TEST_F(Okabin, BootDataThatIsNotSoundEndsTheProcess) {
    Bytes not_okabin = hex("4F4B4142494F02050000");
    EXPECT_EXIT(okabin::decode(not_okabin.data(), not_okabin.size(), runtime::root, okabin::Mode::boot),
                testing::ExitedWithCode(1), "Not a Okabin file");
    Bytes corrupt = container(1, {1, 5, 0x0B});
    EXPECT_EXIT(okabin::boot_load(corrupt.data(), corrupt.size()), testing::ExitedWithCode(1), "corrupted");
}

// Nesting deeper than the run-time's walks follow is refused both ways, before the C++ stack runs out.
TEST_F(Okabin, NestingBeyondTheCycleStackIsRefused) {
    Bytes payload;
    for (int i = 0; i < 5000; i++) payload.push_back(0x05), payload.push_back(0x01);
    payload.push_back(0x80);
    Bytes rest = {1, uint8_t(0x80 | (payload.size() & 0x7F)), uint8_t(payload.size() >> 7)};
    rest.insert(rest.end(), payload.begin(), payload.end());
    EXPECT_EQ(decode(container(1, rest)).error, "too-deep");
    Cell deep = value_of("b: [] loop 1200 [b: reduce [b]] b");
    EXPECT_EQ(raised([&] { okabin::encode_compact(deep); }), "too-deep");
    EXPECT_EQ(raised([&] { okabin::encode_plain(deep); }), "too-deep");
}
