// The run-time's own LZ codec, which no script reaches: the packer's exact block for a run, its chunks,
// round trips, and blocks that break the format one rule at a time.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "services/compressor.h"

using namespace oka;

namespace {

using Bytes = std::vector<uint8_t>;

std::optional<Bytes> pack(const Bytes& source) {
    Bytes out(source.size());
    std::optional<size_t> size = compressor::compress(source.data(), source.size(), out.data());
    if (!size) return std::nullopt;
    out.resize(*size);
    return out;
}

// Unpacks a block held in memory of exactly its size, so that a sanitizer sees a read past it.
std::optional<Bytes> unpack(const Bytes& block) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[block.size()]);
    if (!block.empty()) std::memcpy(copy.get(), block.data(), block.size());
    return compressor::decompress(copy.get(), block.size());
}

// Text that repeats enough to be packed, with a counter so that it is not one run.
Bytes sample_text(size_t length) {
    std::string text;
    for (int i = 0; text.size() < length; i++) text += "entry " + std::to_string(i * 7919 % 10007) + ", ";
    text.resize(length);
    return Bytes(text.begin(), text.end());
}

void put_le32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
}

// A block of one chunk whose token stream is `tokens`, least significant bit first.
Bytes block_of(uint32_t unpacked, uint32_t chunk_length, const std::vector<std::pair<uint32_t, int>>& tokens) {
    Bytes stream;
    uint64_t bits = 0;
    int held = 0;
    for (auto [value, count] : tokens) {
        bits |= uint64_t(value) << held;
        for (held += count; held >= 8; held -= 8, bits >>= 8) stream.push_back(uint8_t(bits));
    }
    if (held > 0) stream.push_back(uint8_t(bits));
    Bytes block;
    put_le32(block, uint32_t(stream.size() + 4));
    put_le32(block, unpacked);
    put_le32(block, chunk_length);
    block.insert(block.end(), stream.begin(), stream.end());
    return block;
}

// Tokens: a literal; a match of length 3 to 6 (prefix 1, two bits) at a distance of 1 to 8 (4-bit
// field 0, three bits).
std::vector<std::pair<uint32_t, int>> literal(uint8_t byte) { return {{0, 1}, {byte, 8}}; }
std::vector<std::pair<uint32_t, int>> short_match(uint32_t length, uint32_t distance) {
    return {{1, 1}, {1, 1}, {length - 3, 2}, {0, 4}, {distance - 1, 3}};
}
template <class... T>
std::vector<std::pair<uint32_t, int>> tokens(T... parts) {
    std::vector<std::pair<uint32_t, int>> all;
    (all.insert(all.end(), parts.begin(), parts.end()), ...);
    return all;
}

}  // namespace

TEST(Compressor, PacksARunAsALiteralAndAMatch) {
    EXPECT_FALSE(pack(Bytes(127, 'a')));  // too short to pay
    // P 8, N 128, L 128; the literal a, then a match of 127 (prefix 00000, 9 bits 72) at distance 1.
    Bytes expected = {8, 0, 0, 0, 128, 0, 0, 0, 128, 0, 0, 0, 0xC2, 0x02, 0x24, 0x00};
    EXPECT_EQ(pack(Bytes(128, 'a')), expected);
    EXPECT_EQ(unpack(expected), Bytes(128, 'a'));
}

TEST(Compressor, RoundTripsInChunksOfOneMebibyte) {
    for (size_t length : {128, 1000, 300000, (1 << 20) + 1}) {
        Bytes source = sample_text(length);
        std::optional<Bytes> block = pack(source);
        ASSERT_TRUE(block) << length;
        EXPECT_EQ(unpack(*block), source) << length;
        if (length == (1 << 20) + 1) {
            // The second chunk, of one byte, follows the first chunk's stream.
            uint32_t first_length, payload;
            std::memcpy(&payload, block->data(), 4);
            std::memcpy(&first_length, block->data() + 8, 4);
            EXPECT_EQ(first_length, 1u << 20);
            Bytes last(block->end() - 6, block->end());
            EXPECT_EQ(last, (Bytes{1, 0, 0, 0, uint8_t(source.back() << 1), uint8_t(source.back() >> 7)}));
            EXPECT_EQ(payload + 8, block->size());
        }
    }
    // Bytes that do not repeat do not pack.
    Bytes noise(4096);
    uint32_t x = 1;
    for (uint8_t& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 16);
    EXPECT_FALSE(pack(noise));
}

TEST(Compressor, UnpacksOnlySoundBlocks) {
    struct Case {
        const char* what;
        Bytes block;
        std::optional<Bytes> out;
    } cases[] = {
        {"no payload", {0, 0, 0, 0, 5, 0, 0, 0}, Bytes{}},
        {"a match of distance 1 repeats", block_of(5, 5, tokens(literal('a'), short_match(4, 1))), Bytes(5, 'a')},
        {"a match of distance 2", block_of(6, 6, tokens(literal('a'), literal('b'), short_match(4, 2))),
         Bytes{'a', 'b', 'a', 'b', 'a', 'b'}},
        {"a chunk of length 0", block_of(5, 0, tokens(literal('a'))), std::nullopt},
        {"a chunk over 1 MiB", block_of(1 << 21, (1 << 20) + 1, tokens(literal('a'))), std::nullopt},
        {"a match before the chunk", block_of(5, 5, tokens(literal('a'), short_match(4, 2))), std::nullopt},
        {"a match past the chunk's end", block_of(4, 4, tokens(literal('a'), short_match(4, 1))), std::nullopt},
        {"a stream that ends early", block_of(3, 3, tokens(literal('a'), literal('b'))), std::nullopt},
        {"more bytes than the header says", block_of(4, 5, tokens(literal('a'), short_match(4, 1))), std::nullopt},
        {"a header alone, cut", {8, 0, 0, 0, 5, 0, 0}, std::nullopt},
        {"a payload past the input", {9, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0}, std::nullopt},
        {"a chunk length cut", {2, 0, 0, 0, 5, 0, 0, 0, 1, 0}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(unpack(c.block), c.out) << c.what;
}

// N is a hint: a block that claims 4 GiB but holds nothing allocates nothing.
TEST(Compressor, TheHeaderSizeDrivesNoAllocation) {
    std::optional<Bytes> out = unpack({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(out);
    EXPECT_EQ(out->capacity(), 0u);
}

// Every cut and every changed byte of a packed block ends in an answer (sanitizer builds check that
// nothing is read past the block).
TEST(Compressor, CutAndDamagedBlocksEndInAnAnswer) {
    Bytes block = *pack(sample_text(2000));
    for (size_t cut = 0; cut < block.size(); cut++) unpack(Bytes(block.begin(), block.begin() + ptrdiff_t(cut)));
    for (size_t i = 0; i < block.size(); i++) {
        Bytes damaged = block;
        damaged[i] ^= uint8_t(0xA5 >> (i % 5));
        unpack(damaged);
    }
}
