// DEFLATE, gzip and zlib where scripts cannot look: the compressor's exact bytes, the result codes and
// sizes of the entry points, short destinations and measuring, and hand-made streams that break the
// rules one at a time. Streams made by other tools are checked by tests/oracles/codecs.py (python3's zlib).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "services/crypto.h"
#include "services/deflate.h"

using namespace oka;
using deflate::Result;

namespace {

using Bytes = std::vector<uint8_t>;
using Entry = Result (*)(uint8_t*, size_t&, const uint8_t*, size_t);

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Runs an entry point into a destination of exactly `capacity` bytes (heap memory of that size, so
// that a sanitizer sees a write past it); `out` receives what it produced.
Result run(Entry entry, const Bytes& source, size_t capacity, Bytes& out, size_t& reported) {
    // The source, too, sits in memory of exactly its size.
    std::unique_ptr<uint8_t[]> in(new uint8_t[source.size()]);
    if (!source.empty()) std::memcpy(in.get(), source.data(), source.size());
    std::unique_ptr<uint8_t[]> destination(new uint8_t[capacity]);
    std::memset(destination.get(), 0xEE, capacity);
    reported = capacity;
    Result result = entry(capacity ? destination.get() : nullptr, reported, in.get(), source.size());
    out.assign(destination.get(), destination.get() + capacity);
    return result;
}

// The whole output of an entry point, from a first call with room for `first` bytes (a measuring call
// by default) and, when that was too small, a second at the size it asked for.
Bytes full(Entry entry, const Bytes& source, Result* result = nullptr, size_t first = 0) {
    Bytes out;
    size_t size = first;
    Result measured = run(entry, source, first, out, size);
    Result r = measured == Result::too_small || measured == Result::ok ? run(entry, source, size, out, size) : measured;
    if (result) *result = r;
    out.resize(r == Result::ok ? size : 0);
    return out;
}

// The compressed form, from a first call with the room the compress native gives.
Bytes packed(Entry compress, const Bytes& source) { return full(compress, source, nullptr, source.size() + 32); }

// Text that repeats enough to be compressed, with a counter so that it is not one run.
Bytes sample_text(size_t length) {
    std::string text;
    for (int i = 0; text.size() < length; i++) text += "line " + std::to_string(i % 97) + " of the sample text\n";
    text.resize(length);
    return bytes_of(text);
}

// A hand-made stream: fields least significant bit first, Huffman codes most significant bit first,
// as DEFLATE packs them.
class Stream {
public:
    Stream& bits(uint32_t value, int count) {
        for (int i = 0; i < count; i++) put((value >> i) & 1);
        return *this;
    }
    Stream& code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; i--) put((code >> i) & 1);
        return *this;
    }
    // Whole bytes, from the next byte boundary.
    Stream& bytes(const Bytes& more) {
        used_ = 0;
        out_.insert(out_.end(), more.begin(), more.end());
        return *this;
    }
    // Fixed codes: literal bytes 0-143, the end of the block, lengths 257-279 and 280-287.
    Stream& literal(uint8_t byte) { return code(0x30 + byte, 8); }
    Stream& end_of_block() { return code(0, 7); }
    Stream& length_symbol(uint32_t symbol) {
        return symbol < 280 ? code(symbol - 256, 7) : code(0xC0 + symbol - 280, 8);
    }
    const Bytes& done() const { return out_; }

private:
    void put(uint32_t bit) {
        if (used_ % 8 == 0) out_.push_back(0), used_ = 0;
        out_.back() |= uint8_t(bit << used_++);
    }
    Bytes out_;
    int used_ = 0;
};

// The headers of a final block of each type.
Stream stored(bool final = true) { return Stream().bits(final, 1).bits(0, 2); }
Stream fixed() { return Stream().bits(1, 1).bits(1, 2); }
Stream dynamic() { return Stream().bits(1, 1).bits(2, 2); }

}  // namespace

// The compressor's output is part of its contract, byte for byte.
TEST(Deflate, CompressorWritesExactlyItsFixedBlock) {
    struct Case {
        Entry entry;
        std::string source;
        Bytes expected;
    } cases[] = {
        // the end code alone
        {deflate::compress, "", {0x03, 0x00}},
        // three literals, then a match of 3 at distance 1 (no position before the fourth is looked up)
        {deflate::compress, "aaaaaa", {0x4B, 0x4C, 0x4C, 0x04, 0x02, 0x00}},
        {gzip::compress, "", {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}},
        {zlib::compress, "", {0x78, 0x01, 0x03, 0x00, 0, 0, 0, 1}},
        // gzip data is passed through
        {gzip::compress, "\x1F\x8B\x08xyz", bytes_of("\x1F\x8B\x08xyz")},
    };
    for (const Case& c : cases) EXPECT_EQ(packed(c.entry, bytes_of(c.source)), c.expected) << c.source;
    // A run: three literals (24 bits) and a match of 258 at distance 1 (13 bits); from then on the slot
    // holds the start of the step before, so two matches of 258 (20 bits each) and one of 223 (25 bits)
    // come from distance 258. With the 3 bits of the header and the 7 of the end code: 112 bits.
    EXPECT_EQ(packed(deflate::compress, Bytes(1000, 'a')).size(), 14u);
}

TEST(Deflate, EveryEntryRoundTrips) {
    struct Pair {
        Entry compress, uncompress;
    } pairs[] = {{deflate::compress, deflate::uncompress},
                 {gzip::compress, gzip::uncompress},
                 {zlib::compress, zlib::uncompress}};
    for (const Pair& pair : pairs)
        for (size_t length : {0, 1, 2, 3, 4, 257, 258, 259, 40000, 100000}) {
            Bytes source = sample_text(length);
            EXPECT_EQ(full(pair.uncompress, packed(pair.compress, source)), source) << length;
            EXPECT_EQ(full(pair.uncompress, packed(pair.compress, Bytes(length, 0))), Bytes(length, 0)) << length;
        }
}

// Bytes past the capacity are counted and never written; a measuring call only counts.
TEST(Deflate, ShortDestinationsAreCountedNotWritten) {
    Bytes source = sample_text(5000);
    for (auto [compress, uncompress] : {std::pair<Entry, Entry>{deflate::compress, deflate::uncompress},
                                        {gzip::compress, gzip::uncompress},
                                        {zlib::compress, zlib::uncompress}}) {
        Bytes whole = packed(compress, source), out;
        size_t size;
        EXPECT_EQ(run(compress, source, whole.size() - 1, out, size), Result::too_small);
        EXPECT_EQ(size, whole.size());
        EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 10, out.begin()));

        EXPECT_EQ(run(uncompress, whole, 0, out, size), Result::too_small);
        EXPECT_EQ(size, source.size());
        if (uncompress == gzip::uncompress) continue;  // the gzip reader answers short calls from its trailer
        EXPECT_EQ(run(uncompress, whole, 1000, out, size), Result::too_small);
        EXPECT_EQ(size, source.size());
        EXPECT_TRUE(std::equal(out.begin(), out.end(), source.begin()));
    }
}

TEST(Inflate, HandMadeStreams) {
    const Bytes abc = bytes_of("abc");
    struct Case {
        const char* what;
        Bytes stream;
        Result result;
        Bytes out;
    } cases[] = {
        {"no block at all", {}, Result::ok, {}},
        {"a stored block whose complement is wrong", stored().bytes({3, 0, 0, 0}).bytes(abc).done(), Result::ok, abc},
        {"a stored block past the source",
         stored().bytes({4, 0, 0xFB, 0xFF}).bytes(abc).done(),
         Result::stored_overrun,
         {}},
        {"a stored block without its lengths", stored().bytes({3, 0}).done(), Result::bad_data, {}},
        {"a block of type 3", Stream().bits(1, 1).bits(3, 2).done(), Result::bad_block_type, {}},
        {"a last block missing: what came is the output", stored(false).bytes({3, 0, 0xFC, 0xFF}).bytes(abc).done(),
         Result::ok, abc},
        {"a block cut short", fixed().literal('a').done(), Result::bad_data, {}},
        {"a match before the output", fixed().length_symbol(257).code(0, 5).done(), Result::distance_too_far, {}},
        {"a match of distance 1 repeats", fixed().literal('a').length_symbol(258).code(0, 5).end_of_block().done(),
         Result::ok, bytes_of("aaaaa")},
        {"length symbol 286",
         fixed().literal('a').length_symbol(286).code(0, 5).end_of_block().done(),
         Result::bad_data,
         {}},
        {"length symbol 287",
         fixed().literal('a').length_symbol(287).code(0, 5).end_of_block().done(),
         Result::bad_data,
         {}},
        {"distance code 30",
         fixed().literal('a').length_symbol(257).code(30, 5).end_of_block().done(),
         Result::bad_data,
         {}},
        {"distance code 31",
         fixed().literal('a').length_symbol(257).code(31, 5).end_of_block().done(),
         Result::bad_data,
         {}},
        // Dynamic headers: 257 literal/length and 1 distance lengths, then 4 code-length lengths (for
        // 16, 17, 18 and 0).
        {"a repeat with nothing to repeat",
         dynamic().bits(0, 5).bits(0, 5).bits(0, 4).bits(1, 3).bits(0, 3).bits(0, 3).bits(1, 3).code(1, 1).done(),
         Result::bad_data,
         {}},
        {"more codes than patterns",
         dynamic().bits(0, 5).bits(0, 5).bits(0, 4).bits(1, 3).bits(1, 3).bits(1, 3).bits(0, 3).done(),
         Result::bad_data,
         {}},
        {"zeros past the lengths",
         dynamic()
             .bits(0, 5)
             .bits(0, 5)
             .bits(0, 4)
             .bits(0, 3)
             .bits(0, 3)
             .bits(1, 3)
             .bits(1, 3)
             .code(1, 1)
             .bits(127, 7)
             .code(1, 1)
             .bits(127, 7)
             .code(1, 1)
             .bits(127, 7)
             .done(),
         Result::bad_data,
         {}},
    };
    for (const Case& c : cases) {
        Result result;
        Bytes out = full(deflate::uncompress, c.stream, &result);
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(out, c.out) << c.what;
    }
}

// A dynamic block that python3's zlib made (level 9) of 335 bytes of words.
const Bytes kDynamicBlock = {0x55, 0x90, 0x51, 0x0E, 0x80, 0x20, 0x0C, 0x43, 0xAF, 0xC2, 0xD5, 0x66, 0x58, 0x84, 0x38,
                             0x84, 0x44, 0xFC, 0xF1, 0xF4, 0xE2, 0x3A, 0x04, 0x7E, 0x96, 0xD1, 0x95, 0xB7, 0x82, 0x67,
                             0xA9, 0xE4, 0x0E, 0x2A, 0x85, 0x5C, 0xCC, 0xAD, 0xDD, 0x29, 0x25, 0x72, 0x0F, 0xFF, 0x6A,
                             0x0D, 0x5F, 0x2F, 0x94, 0x36, 0xDF, 0xA5, 0x6D, 0x4C, 0x49, 0x4A, 0xE8, 0x1E, 0x2E, 0x57,
                             0x94, 0x7C, 0x82, 0xE3, 0x15, 0x8C, 0x9A, 0x6E, 0x73, 0xE8, 0x44, 0x8B, 0xDD, 0x18, 0x64,
                             0xEC, 0x85, 0x7F, 0x91, 0xD4, 0xCE, 0xA0, 0x60, 0x9B, 0x8D, 0x35, 0x05, 0x3C, 0x73, 0x96,
                             0x9E, 0x62, 0x3D, 0x61, 0x1F, 0x7C, 0x0D, 0x64, 0x3C, 0x1E, 0xE8, 0xF9, 0xB1, 0xD3, 0x1F,
                             0xE8, 0x12, 0xA0, 0xA0, 0xC2, 0x81, 0x9C, 0x1D, 0x6E, 0x81, 0xDA, 0xE0, 0x05};

TEST(Inflate, DynamicBlock) {
    Bytes text = full(deflate::uncompress, kDynamicBlock);
    EXPECT_EQ(text.size(), 335u);
    EXPECT_EQ(crypto::crc32(text.data(), text.size()), 0xCA2B7408u);
}

// Every cut of a stream of each block type, and every byte of it changed, ends in a result: the
// inflater reads nothing past its source and writes nothing past its destination (sanitizer builds
// check both on the exact-size buffers of `run`).
TEST(Inflate, CutAndDamagedStreamsEndInAResult) {
    Bytes hello_stored = stored().bytes({5, 0, 0xFA, 0xFF}).bytes(bytes_of("hello")).done();
    for (const Bytes& stream : {packed(deflate::compress, sample_text(3000)), hello_stored, kDynamicBlock}) {
        for (size_t cut = 0; cut < stream.size(); cut++)
            full(deflate::uncompress, Bytes(stream.begin(), stream.begin() + ptrdiff_t(cut)));
        for (size_t i = 0; i < stream.size(); i++) {
            Bytes damaged = stream;
            damaged[i] ^= uint8_t(0x5A >> (i % 5));
            full(deflate::uncompress, damaged);
        }
    }
}

TEST(Zlib, Headers) {
    Bytes hello = packed(zlib::compress, bytes_of("hello"));
    Result result;
    // Any header that checks and names deflate without a dictionary is taken.
    for (uint8_t second : {0x01, 0x5E, 0x9C, 0xDA}) {
        Bytes other = hello;
        other[1] = second;
        EXPECT_EQ(full(zlib::uncompress, other, &result), bytes_of("hello")) << int(second);
    }
    struct Bad {
        const char* what;
        Bytes stream;
    } bad[] = {
        {"the check bits", {0x78, 0x02, 0x03, 0x00, 0, 0, 0, 1}},
        {"a preset dictionary", {0x78, 0xBB, 0x03, 0x00, 0, 0, 0, 1}},
        {"another method", {0x79, 0x5C, 0x03, 0x00, 0, 0, 0, 1}},
        {"a window over 32 KiB", {0x88, 0x1C, 0x03, 0x00, 0, 0, 0, 1}},
        {"the Adler-32", {0x78, 0x01, 0x03, 0x00, 0, 0, 0, 2}},
    };
    for (const Bad& b : bad) {
        full(zlib::uncompress, b.stream, &result);
        EXPECT_EQ(result, Result::bad_data) << b.what;
    }
    // Shorter than header and trailer: nothing to read.
    for (size_t length = 0; length < 6; length++) {
        full(zlib::uncompress, Bytes(hello.begin(), hello.begin() + ptrdiff_t(length)), &result);
        EXPECT_EQ(result, Result::bad_data) << length;
    }
}

TEST(Gzip, HeaderFieldsAndTrailer) {
    Bytes data = bytes_of("gzip data");
    Bytes whole = packed(gzip::compress, data);
    Bytes stream(whole.begin() + 10, whole.end());
    auto with_header = [&](Bytes header) {
        header.insert(header.end(), stream.begin(), stream.end());
        return header;
    };
    Bytes named = with_header({0x1F, 0x8B, 8, 8 | 16, 0, 0, 0, 0, 0, 3, 'n', 0, 'c', 0});
    Bytes extra = with_header({0x1F, 0x8B, 8, 4, 0, 0, 0, 0, 0, 3, 2, 0, 'x', 'y'});
    Bytes checked = with_header({0x1F, 0x8B, 8, 2, 0, 0, 0, 0, 0, 3});
    uint32_t crc = crypto::crc32(checked.data(), 10);
    checked.insert(checked.begin() + 10, {uint8_t(crc), uint8_t(crc >> 8)});
    Result result;
    for (const Bytes& good : {named, extra, checked}) EXPECT_EQ(full(gzip::uncompress, good, &result), data);

    auto changed = [](Bytes b, size_t at, uint8_t value) {
        b[at] = value;
        return b;
    };
    struct Bad {
        const char* what;
        Bytes stream;
    } bad[] = {
        {"the header's CRC", changed(checked, 10, uint8_t(crc + 1))},
        {"a reserved flag", changed(whole, 3, 0x20)},
        {"the method", changed(whole, 2, 7)},
        {"the ID", changed(whole, 1, 0x8C)},
        {"a name without its end", with_header({0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 3, 'n', 'n'})},
        {"the data's CRC", changed(whole, whole.size() - 8, uint8_t(whole[whole.size() - 8] + 1))},
        {"a size larger than the data", changed(whole, whole.size() - 4, uint8_t(data.size() + 1))},
        {"a size smaller than the data", changed(whole, whole.size() - 4, uint8_t(data.size() - 1))},
        {"too short", Bytes(whole.begin(), whole.begin() + 17)},
    };
    for (const Bad& b : bad) {
        full(gzip::uncompress, b.stream, &result);
        EXPECT_EQ(result, Result::bad_data) << b.what;
    }
}

// The size in the trailer is data: one the stream cannot reach is refused before anyone allocates for
// it, and a large one is checked against the stream, so a measuring call answers only true sizes.
TEST(Gzip, MeasuringAnswersOnlySizesTheStreamReaches) {
    Bytes zeros(1 << 20, 0);  // compresses about 250 to 1: past what is believed unchecked
    Bytes whole = packed(gzip::compress, zeros), out;
    size_t size;
    EXPECT_EQ(run(gzip::uncompress, whole, 0, out, size), Result::too_small);
    EXPECT_EQ(size, zeros.size());

    for (uint32_t claimed : {uint32_t(zeros.size() + 1), 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes lying = whole;
        for (int i = 0; i < 4; i++) lying[lying.size() - 4 + size_t(i)] = uint8_t(claimed >> (8 * i));
        EXPECT_EQ(run(gzip::uncompress, lying, 0, out, size), Result::bad_data) << claimed;
    }
}
