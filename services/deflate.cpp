// The DEFLATE compressor: one final block of fixed Huffman codes.
#include <array>
#include <cstring>

#include "services/deflate.h"
#include "services/deflate_tables.h"

namespace oka::deflate {

namespace {

constexpr size_t kBuckets = 1024;
constexpr size_t kSlots = 4;
constexpr size_t kWindow = 32768;
constexpr size_t kMinMatch = 3;

// A fixed Huffman code as it is written: its bits in stream order (the code reversed) and its length.
struct Code {
    uint16_t bits;
    uint8_t length;
};

constexpr uint32_t reversed(uint32_t code, int length) {
    uint32_t r = 0;
    for (int i = 0; i < length; i++) r |= ((code >> i) & 1) << (length - 1 - i);
    return r;
}

// The fixed literal/length codes: 0-143 eight bits from 0x30, 144-255 nine bits from 0x190, 256-279
// seven bits from 0, 280-287 eight bits from 0xC0.
constexpr std::array<Code, 288> make_literal_codes() {
    std::array<Code, 288> codes{};
    for (uint32_t s = 0; s < 288; s++) {
        uint32_t code = s < 144 ? 0x30 + s : s < 256 ? 0x190 + s - 144 : s < 280 ? s - 256 : 0xC0 + s - 280;
        int length = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        codes[s] = {uint16_t(reversed(code, length)), uint8_t(length)};
    }
    return codes;
}
constexpr std::array<Code, 288> kLiteralCodes = make_literal_codes();

// A match length as it is written: its code, then its extra bits.
struct LengthCode {
    uint32_t bits;
    uint8_t length;
};

constexpr std::array<LengthCode, 259> make_length_codes() {
    std::array<LengthCode, 259> codes{};
    for (uint32_t symbol = 257; symbol <= 285; symbol++) {
        const Base& base = kLengthBases[symbol - 257];
        uint32_t last = symbol == 284 ? 257 : base.base + (1u << base.extra) - 1;  // 258 has a symbol of its own
        for (uint32_t length = base.base; length <= last; length++) {
            Code code = kLiteralCodes[symbol];
            codes[length] = {code.bits | (length - base.base) << code.length, uint8_t(code.length + base.extra)};
        }
    }
    return codes;
}
constexpr std::array<LengthCode, 259> kLengthCodes = make_length_codes();

// The bit writer: bits go out least significant first. Bytes past the capacity are counted, not written.
class BitWriter {
public:
    BitWriter(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}

    // At most 56 bits at a time.
    void put(uint64_t value, int count) {
        accumulator_ |= value << pending_;
        pending_ += count;
        while (pending_ >= 8) emit();
    }
    // Pads the last byte with zero bits; the bytes produced.
    size_t finish() {
        if (pending_ > 0) emit();
        return produced_;
    }

private:
    void emit() {
        if (produced_ < capacity_) out_[produced_] = uint8_t(accumulator_);
        produced_++;
        accumulator_ >>= 8;
        pending_ -= 8;
    }

    uint8_t* out_;
    size_t capacity_;
    size_t produced_ = 0;
    uint64_t accumulator_ = 0;
    int pending_ = 0;
};

void put_literal(BitWriter& writer, uint8_t byte) {
    Code code = kLiteralCodes[byte];
    writer.put(code.bits, code.length);
}

// The distance code of RFC 1951: codes 0-3 stand for distances 1-4; above, each pair of codes doubles
// the range, with e extra bits.
void put_match(BitWriter& writer, size_t length, size_t distance) {
    LengthCode length_code = kLengthCodes[length];
    uint32_t d = uint32_t(distance - 1), symbol = d, extra_bits = 0, extra = 0;
    if (d >= 4) {
        extra_bits = uint32_t(31 - __builtin_clz(d)) - 1;
        symbol = 2 * (extra_bits + 1) + ((d >> extra_bits) & 1);
        extra = d & ((1u << extra_bits) - 1);
    }
    uint64_t distance_code = reversed(symbol, 5) | uint64_t(extra) << 5;
    writer.put(length_code.bits | distance_code << length_code.length, length_code.length + 5 + int(extra_bits));
}

// The three bytes at p as one number; the bytes past the end count as zeros (they only choose a slot
// that no later step looks at).
uint32_t three_bytes(const uint8_t* p, const uint8_t* end) {
    uint32_t v = 0;
    for (int i = 0; i < 3; i++) v = v << 8 | (p + i < end ? p[i] : 0);
    return v;
}

uint32_t bucket_of(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v & (kBuckets - 1);
}

// The slot a step's start replaces, chosen by the three bytes where the next step starts.
uint32_t replace_slot(uint32_t v) { return ((v >> 14) - v) & (kSlots - 1); }

// The length of the match of p with the earlier position c, at least 3 bytes known equal, at most 258.
size_t match_length(const uint8_t* c, const uint8_t* p, const uint8_t* end) {
    size_t length = kMinMatch;
    while (length < 258 && p + length < end && c[length] == p[length]) length++;
    return length;
}

}  // namespace

Result compress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length) {
    // A slot holds a position plus one: 0 is empty.
    std::array<std::array<uint32_t, kSlots>, kBuckets> slots{};
    BitWriter writer(destination, capacity);
    writer.put(1, 1);  // the last block
    writer.put(1, 2);  // of fixed codes
    const uint8_t* end = source + length;
    for (size_t p = 0; p < length;) {
        size_t start = p;
        std::array<uint32_t, kSlots>& bucket = slots[bucket_of(three_bytes(source + p, end))];
        bool matched = false;
        if (p >= kMinMatch && length - p >= kMinMatch) {
            for (uint32_t slot : bucket) {
                if (slot == 0) continue;
                size_t c = slot - 1;
                if (c >= p || p - c >= kWindow || std::memcmp(source + c, source + p, kMinMatch) != 0) continue;
                size_t match = match_length(source + c, source + p, end);
                put_match(writer, match, p - c);
                p += match;
                matched = true;
                break;
            }
        }
        if (!matched) put_literal(writer, source[p++]);
        bucket[replace_slot(three_bytes(source + p, end))] = uint32_t(start + 1);
    }
    writer.put(0, 7);  // the end of the block
    size_t produced = writer.finish();
    bool fits = produced <= capacity;
    capacity = produced;
    return fits ? Result::ok : Result::too_small;
}

}  // namespace oka::deflate
