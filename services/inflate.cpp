// The DEFLATE inflater: stored, fixed and dynamic blocks.
//
// Codes are looked up in a table indexed by the next bits of the stream (10 for literals and lengths,
// 8 for distances); the rare longer codes are found by their canonical order. Where the source has 16
// bytes left and the destination room for the longest match, a symbol is decoded with one refill of
// the bit buffer and no further checks; elsewhere every read is checked against the end of the source.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "services/deflate.h"
#include "services/deflate_tables.h"

namespace oka::deflate {

namespace {

constexpr int kMaxCodeLength = 15;

// A table entry: the code's length in bits 0-3 (0 in the root table: the code is longer than the
// root), its kind in bits 4-5, the count of extra bits in bits 8-12 and the value (a byte, a base
// length or distance, a code length) in bits 16-31. 0 stands for no code.
enum Kind : uint32_t { kValue = 0, kBase = 1 << 4, kEnd = 2 << 4, kInvalid = 3 << 4 };

constexpr uint32_t entry(Kind kind, uint32_t value, uint32_t extra = 0) { return kind | extra << 8 | value << 16; }
constexpr uint32_t code_length(uint32_t e) { return e & 15; }
constexpr Kind kind_of(uint32_t e) { return Kind(e & 0x30); }
constexpr uint32_t extra_of(uint32_t e) { return (e >> 8) & 31; }
constexpr uint32_t value_of(uint32_t e) { return e >> 16; }

// What each symbol of the three alphabets stands for. Literal/length symbols 286 and 287 and distance
// codes 30 and 31 have codes but no meaning: a stream that uses one is bad data.
constexpr std::array<uint32_t, 288> kLiteralEntries = [] {
    std::array<uint32_t, 288> t{};
    for (uint32_t s = 0; s < 288; s++)
        t[s] = s < 256    ? entry(kValue, s)
               : s == 256 ? entry(kEnd, 0)
               : s <= 285 ? entry(kBase, kLengthBases[s - 257].base, kLengthBases[s - 257].extra)
                          : entry(kInvalid, 0);
    return t;
}();
constexpr std::array<uint32_t, 32> kDistanceEntries = [] {
    std::array<uint32_t, 32> t{};
    for (uint32_t s = 0; s < 32; s++)
        t[s] = s < 30 ? entry(kBase, kDistanceBases[s].base, kDistanceBases[s].extra) : entry(kInvalid, 0);
    return t;
}();
constexpr std::array<uint32_t, 19> kCodeLengthEntries = [] {
    std::array<uint32_t, 19> t{};
    for (uint32_t s = 0; s < 19; s++) t[s] = entry(kValue, s);
    return t;
}();

// The order in which a dynamic block gives the lengths of the code-length code.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A canonical Huffman code over an alphabet of `Symbols`, decoded through a root table of RootBits.
template <int RootBits, int Symbols>
class Huffman {
public:
    static constexpr uint64_t kRootMask = (1u << RootBits) - 1;

    // Builds the code of the symbols' lengths (0: no code); false when the lengths ask for more codes
    // than there are bit patterns. A code with patterns left over is taken: a pattern without a code
    // decodes as no code.
    bool build(const uint8_t* lengths, int count, const uint32_t* entries) {
        counts_.fill(0);
        for (int s = 0; s < count; s++) counts_[lengths[s]]++;
        counts_[0] = 0;
        int32_t left = 1;
        for (int length = 1; length <= kMaxCodeLength; length++) {
            left = 2 * left - counts_[length];
            if (left < 0) return false;
        }
        // The codes of each length follow those of the shorter lengths, in the order of the symbols.
        std::array<uint16_t, kMaxCodeLength + 1> next{};
        uint16_t rank = 0;
        uint32_t code = 0;
        for (int length = 1; length <= kMaxCodeLength; length++) {
            first_index_[length] = next[length] = rank;
            first_code_[length] = code;
            rank = uint16_t(rank + counts_[length]);
            code = (code + counts_[length]) << 1;
        }
        root_.fill(0);
        for (int s = 0; s < count; s++) {
            int length = lengths[s];
            if (length == 0) continue;
            uint16_t symbol_rank = next[length]++;
            canonical_[symbol_rank] = entries[s] | uint32_t(length);
            if (length > RootBits) continue;
            uint32_t reversed = reverse(first_code_[length] + (symbol_rank - first_index_[length]), length);
            for (uint32_t i = reversed; i <= kRootMask; i += 1u << length) root_[i] = entries[s] | uint32_t(length);
        }
        return true;
    }

    // The entry of the code at the front of `bits` (stream order), 0 when no code starts there.
    uint32_t decode(uint64_t bits) const {
        uint32_t e = root_[bits & kRootMask];
        return code_length(e) ? e : decode_long(bits);
    }

private:
    static uint32_t reverse(uint32_t code, int length) {
        uint32_t r = 0;
        for (int i = 0; i < length; i++) r |= ((code >> i) & 1) << (length - 1 - i);
        return r;
    }

    // A code longer than the root: the code of each length is tried in turn, most significant bit
    // first as canonical codes are numbered.
    uint32_t decode_long(uint64_t bits) const {
        uint32_t prefix = reverse(uint32_t(bits & 0x7FFF), kMaxCodeLength);
        for (int length = RootBits + 1; length <= kMaxCodeLength; length++) {
            uint32_t offset = (prefix >> (kMaxCodeLength - length)) - first_code_[length];
            if (offset < counts_[length]) return canonical_[first_index_[length] + offset];
        }
        return 0;
    }

    std::array<uint32_t, size_t(1) << RootBits> root_;
    std::array<uint16_t, kMaxCodeLength + 1> counts_;
    std::array<uint16_t, kMaxCodeLength + 1> first_index_;
    std::array<uint32_t, kMaxCodeLength + 1> first_code_;
    std::array<uint32_t, Symbols> canonical_;  // the symbols' entries, by code length then symbol
};

using LiteralCode = Huffman<10, 288>;
using DistanceCode = Huffman<8, 32>;
using CodeLengthCode = Huffman<7, 19>;

// The codes of a fixed block.
struct FixedCodes {
    LiteralCode literals;
    DistanceCode distances;

    FixedCodes() {
        uint8_t lengths[288];
        for (int s = 0; s < 288; s++) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        literals.build(lengths, 288, kLiteralEntries.data());
        std::memset(lengths, 5, 32);
        distances.build(lengths, 32, kDistanceEntries.data());
    }
};

// What decoding a block's data came to: the block's end, or a failure.
enum class Step { more, block_end, failed };

// The longest match and the over-copy of the 8-byte match copy: the room the quick loop needs.
constexpr size_t kQuickRoom = 258 + 8;
// The source bytes the quick loop needs: one refill gives every bit of a length and distance pair.
constexpr ptrdiff_t kQuickInput = 16;

class Inflater {
public:
    Inflater(uint8_t* out, size_t capacity, const uint8_t* in, size_t length)
        : in_(in), end_(in + length), out_(out), capacity_(out ? capacity : 0) {}

    Result run() {
        for (;;) {
            // Only the padding of the last byte left: no block can follow.
            if (in_ == end_ && bits_held_ < 8) return finish(Result::ok);
            uint32_t header;
            if (!read(3, header)) return finish(Result::bad_data);
            Result result = Result::ok;
            switch (header >> 1) {
            case 0: result = stored_block(); break;
            case 1: result = fixed_block(); break;
            case 2: result = dynamic_block(); break;
            default: result = Result::bad_block_type;
            }
            if (result != Result::ok || header & 1) return finish(result);
        }
    }

    // The bytes produced, or counted past the capacity.
    size_t produced() const { return produced_; }

private:
    Result finish(Result result) { return result == Result::ok && produced_ > capacity_ ? Result::too_small : result; }

    // ---- the bit buffer: bits_ holds bits_held_ bits of the stream, the first in bit 0 ----

    void refill_quick() {
        uint64_t word;
        std::memcpy(&word, in_, 8);
        if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
        bits_ |= word << bits_held_;
        in_ += (63 - bits_held_) >> 3;
        bits_held_ |= 56;
    }
    void refill() {
        if (end_ - in_ >= 8) return refill_quick();
        for (; bits_held_ <= 56 && in_ < end_; bits_held_ += 8) bits_ |= uint64_t(*in_++) << bits_held_;
    }
    void consume(uint32_t n) {
        bits_ >>= n;
        bits_held_ -= n;
    }
    uint32_t take(uint32_t n) {
        uint32_t value = uint32_t(bits_ & ((uint64_t(1) << n) - 1));
        consume(n);
        return value;
    }
    // Reads n bits (at most 32); false when the source ends first.
    bool read(uint32_t n, uint32_t& value) {
        if (bits_held_ < n) refill();
        if (bits_held_ < n) return false;
        value = take(n);
        return true;
    }
    // Decodes a symbol's entry; 0 for no code, or when the source ends inside the code.
    template <class Code>
    uint32_t read_symbol(const Code& code) {
        if (bits_held_ < kMaxCodeLength) refill();
        uint32_t e = code.decode(bits_);
        if (e == 0 || code_length(e) > bits_held_) return 0;
        consume(code_length(e));
        return e;
    }

    // ---- blocks ----

    Result stored_block() {
        // The block starts at the next byte: the whole bytes still held go back to the source.
        consume(bits_held_ & 7);
        in_ -= bits_held_ >> 3;
        bits_ = 0;
        bits_held_ = 0;
        if (end_ - in_ < 4) return Result::bad_data;
        size_t length = size_t(in_[0]) | size_t(in_[1]) << 8;  // the complement that follows is not checked
        in_ += 4;
        if (length > size_t(end_ - in_)) return Result::stored_overrun;
        if (produced_ < capacity_) std::memcpy(out_ + produced_, in_, std::min(length, capacity_ - produced_));
        produced_ += length;
        in_ += length;
        return Result::ok;
    }

    Result fixed_block() {
        static const FixedCodes fixed;
        return block_data(fixed.literals, fixed.distances);
    }

    Result dynamic_block() {
        uint32_t literals, distances, code_lengths;
        if (!read(5, literals) || !read(5, distances) || !read(4, code_lengths)) return Result::bad_data;
        literals += 257;
        distances += 1;
        code_lengths += 4;
        uint8_t lengths[288 + 32] = {};
        for (uint32_t i = 0; i < code_lengths; i++) {
            uint32_t length;
            if (!read(3, length)) return Result::bad_data;
            lengths[kCodeLengthOrder[i]] = uint8_t(length);
        }
        CodeLengthCode code_length_code;
        if (!code_length_code.build(lengths, 19, kCodeLengthEntries.data())) return Result::bad_data;
        std::memset(lengths, 0, 19);
        if (!read_code_lengths(code_length_code, lengths, literals + distances)) return Result::bad_data;
        LiteralCode literal_code;
        DistanceCode distance_code;
        if (!literal_code.build(lengths, int(literals), kLiteralEntries.data()) ||
            !distance_code.build(lengths + literals, int(distances), kDistanceEntries.data()))
            return Result::bad_data;
        return block_data(literal_code, distance_code);
    }

    // The code lengths of a dynamic block's two codes: lengths, repeats of the previous one (16) and
    // runs of zeros (17, 18), which may not run past the count.
    bool read_code_lengths(const CodeLengthCode& code, uint8_t* lengths, uint32_t count) {
        for (uint32_t i = 0; i < count;) {
            uint32_t e = read_symbol(code);
            if (e == 0) return false;
            uint32_t symbol = value_of(e), repeat = 0, length = 0;
            if (symbol < 16) {
                lengths[i++] = uint8_t(symbol);
                continue;
            }
            bool ok = symbol == 16 ? i > 0 && read(2, repeat) : symbol == 17 ? read(3, repeat) : read(7, repeat);
            if (!ok) return false;
            repeat += symbol == 18 ? 11 : 3;
            if (symbol == 16) length = lengths[i - 1];
            if (repeat > count - i) return false;
            std::memset(lengths + i, int(length), repeat);
            i += repeat;
        }
        return true;
    }

    Result block_data(const LiteralCode& literals, const DistanceCode& distances) {
        for (;;) {
            Step step = Step::more;
            if (end_ - in_ >= kQuickInput) {
                if (produced_ + kQuickRoom <= capacity_)
                    step = quick_symbols<true>(literals, distances);
                else if (produced_ >= capacity_)
                    step = quick_symbols<false>(literals, distances);
            }
            if (step == Step::more) step = checked_symbol(literals, distances);
            if (step == Step::block_end) return Result::ok;
            if (step == Step::failed) return failure_;
        }
    }

    Step fail(Result result) {
        failure_ = result;
        return Step::failed;
    }

    // Decodes symbols while the source holds a whole symbol pair and the destination has room for the
    // longest match (Write), or while everything goes past the capacity and is only counted.
    template <bool Write>
    Step quick_symbols(const LiteralCode& literals, const DistanceCode& distances) {
        while (end_ - in_ >= kQuickInput && (Write ? produced_ + kQuickRoom <= capacity_ : true)) {
            refill_quick();
            uint32_t e = literals.decode(bits_);
            consume(code_length(e));
            if (kind_of(e) == kValue && e != 0) {
                if constexpr (Write) out_[produced_] = uint8_t(value_of(e));
                produced_++;
                continue;
            }
            if (kind_of(e) != kBase) return kind_of(e) == kEnd ? Step::block_end : fail(Result::bad_data);
            uint32_t length = value_of(e) + take(extra_of(e));
            uint32_t d = distances.decode(bits_);
            consume(code_length(d));
            if (kind_of(d) != kBase) return fail(Result::bad_data);
            size_t distance = value_of(d) + take(extra_of(d));
            if (distance > produced_) return fail(Result::distance_too_far);
            if constexpr (Write) copy_match(out_ + produced_, distance, length);
            produced_ += length;
        }
        return Step::more;
    }

    // One symbol, with every read checked.
    Step checked_symbol(const LiteralCode& literals, const DistanceCode& distances) {
        uint32_t e = read_symbol(literals);
        if (e == 0 || kind_of(e) == kInvalid) return fail(Result::bad_data);
        if (kind_of(e) == kEnd) return Step::block_end;
        if (kind_of(e) == kValue) {
            if (produced_ < capacity_) out_[produced_] = uint8_t(value_of(e));
            produced_++;
            return Step::more;
        }
        uint32_t extra;
        if (!read(extra_of(e), extra)) return fail(Result::bad_data);
        size_t length = value_of(e) + extra;
        uint32_t d = read_symbol(distances);
        if (d == 0 || kind_of(d) != kBase || !read(extra_of(d), extra)) return fail(Result::bad_data);
        size_t distance = value_of(d) + extra;
        if (distance > produced_) return fail(Result::distance_too_far);
        // Only what lies below the capacity is written; it is copied from below it too.
        for (size_t i = produced_; i < std::min(produced_ + length, capacity_); i++) out_[i] = out_[i - distance];
        produced_ += length;
        return Step::more;
    }

    // Copies a match forward, so that a match longer than its distance repeats its start. It may write
    // up to 7 bytes past its end.
    static void copy_match(uint8_t* to, size_t distance, size_t length) {
        const uint8_t* from = to - distance;
        if (distance >= 8) {
            for (size_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
        } else if (distance == 1) {
            std::memset(to, *from, length);
        } else {
            for (size_t i = 0; i < length; i++) to[i] = from[i];
        }
    }

    const uint8_t* in_;
    const uint8_t* end_;
    uint64_t bits_ = 0;
    uint32_t bits_held_ = 0;
    uint8_t* out_;
    size_t capacity_;
    size_t produced_ = 0;
    Result failure_ = Result::ok;
};

}  // namespace

Result uncompress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length) {
    Inflater inflater(destination, capacity, source, length);
    Result result = inflater.run();
    capacity = inflater.produced();
    return result;
}

}  // namespace oka::deflate
