#include "services/compressor.h"

#include <algorithm>
#include <cstring>

namespace oka::compressor {

namespace {

constexpr size_t kChunk = 1 << 20;
constexpr size_t kMinInput = 128;
constexpr size_t kHeaderSize = 8;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 566;
constexpr int32_t kWindow = 0x40000;
constexpr int32_t kFarForShortMatch = 0x10000;  // a 3-byte match further back costs more than its bytes
constexpr int kChainTries = 256;
// The hash heads: 3-byte hashes first, then the 4-byte chains' heads.
constexpr size_t kHash3Entries = 0x80000;
constexpr size_t kHash4Entries = 0x100000;
constexpr int32_t kEmpty = -1;
// The most bytes a byte of stream stands for: a match of 566 bytes takes 22 bits.
constexpr uint64_t kMostExpanded = 206;

uint32_t hash3_step(uint32_t h, uint8_t byte) { return ((h << 7) + byte) & 0x7FFFF; }
uint32_t hash4_step(uint32_t h, uint8_t byte) { return ((h << 5) + byte) & 0xFFFFF; }

// How many times a must be shifted right by 3 until it is no longer greater than b.
int32_t distance_penalty(int32_t a, int32_t b) {
    int32_t n = 0;
    for (; a > b; a >>= 3) n++;
    return n;
}

uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void store_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// The writer's bit stream into a destination of fixed capacity; once a write does not fit it stays
// failed.
class BitWriter {
public:
    BitWriter(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}

    uint8_t* reserve(size_t n) {
        if (failed_ || capacity_ - used_ < n) {
            failed_ = true;
            return nullptr;
        }
        used_ += n;
        return out_ + used_ - n;
    }
    void write(int n, uint32_t value) {
        accumulator_ |= uint64_t(value) << pending_;
        pending_ += n;
        for (; pending_ >= 8; pending_ -= 8, accumulator_ >>= 8) {
            uint8_t* byte = reserve(1);
            if (!byte) return;
            *byte = uint8_t(accumulator_);
        }
    }
    // Pushes out a partly filled last byte, and starts the next chunk's bits afresh.
    void end_chunk() {
        write(7, 0);
        accumulator_ = 0;
        pending_ = 0;
    }
    bool failed() const { return failed_; }
    size_t used() const { return used_; }

private:
    uint8_t* out_;
    size_t capacity_;
    size_t used_ = 0;
    uint64_t accumulator_ = 0;
    int pending_ = 0;
    bool failed_ = false;
};

// X = length - 3, after a prefix that picks the range X falls in.
void write_length(BitWriter& w, uint32_t length) {
    struct Range {
        uint32_t first;
        int prefix_bits;
        uint32_t prefix;  // in stream order, least significant bit first
        int bits;
    };
    static constexpr Range kRanges[] = {{0, 1, 1, 2},  {4, 2, 2, 2},   {8, 3, 4, 2},
                                        {12, 4, 8, 3}, {20, 5, 16, 5}, {52, 5, 0, 9}};
    uint32_t x = length - kMinMatch;
    const Range* r = std::end(kRanges) - 1;
    while (x < r->first) r--;
    w.write(r->prefix_bits, r->prefix);
    w.write(r->bits, x - r->first);
}

// D = distance - 1, as k - 2 in 4 bits, then D in 3 bits (k = 2) or D - 2^k in k bits, where k is
// the smallest number from 2 with D < 2^(k+1).
void write_distance(BitWriter& w, uint32_t distance) {
    uint32_t d = distance - 1;
    int k = d < 8 ? 2 : 31 - __builtin_clz(d);
    w.write(4, uint32_t(k - 2));
    if (k == 2)
        w.write(3, d);
    else
        w.write(k, d - (1u << k));
}

// The match finder's tables, made once for a whole input.
struct Tables {
    std::vector<int32_t> heads = std::vector<int32_t>(kHash3Entries + kHash4Entries);
    std::vector<int32_t> chain = std::vector<int32_t>(kWindow);
    // The chunk and room past its end for the hashes' look-ahead and the longest match's compare.
    std::vector<uint8_t> chunk = std::vector<uint8_t>(kChunk + kMaxMatch);
};

struct Match {
    int32_t length, distance;
};

int32_t common_length(const uint8_t* a, const uint8_t* b, int32_t most) {
    int32_t n = 0;
    while (n < most && a[n] == b[n]) n++;
    return n;
}

// The best match for the bytes at pos: the quick candidate of the 3-byte table, then up to 256 steps
// along the 4-byte chain, where a further match must be longer by its distance's penalty.
Match find_match(const Tables& t, const uint8_t* buf, int32_t pos, int32_t length, uint32_t h3, uint32_t h4) {
    Match best{2, kWindow};
    int32_t most = std::min<int32_t>(kMaxMatch, length - pos), low = std::max(0, pos - kWindow);
    int32_t c = t.heads[h3];
    if (c >= low && buf[c] == buf[pos]) {
        int32_t n = common_length(buf + c, buf + pos, most);
        if (n > best.length) best = {n, pos - c};
    }
    if (best.length < int32_t(kMaxMatch)) {
        c = t.heads[kHash3Entries + h4];
        for (int tries = kChainTries; tries > 0 && c >= low; tries--, c = t.chain[c & (kWindow - 1)]) {
            if (buf[c + best.length] != buf[pos + best.length] || buf[c] != buf[pos]) continue;
            int32_t n = common_length(buf + c, buf + pos, most);
            if (n > best.length + distance_penalty((pos - c) >> 4, best.distance)) best = {n, pos - c};
            if (n == most) break;
        }
    }
    if (best.length == 3 && best.distance > kFarForShortMatch) best.length = 0;
    return best;
}

void compress_chunk(Tables& t, int32_t length, BitWriter& w) {
    const uint8_t* buf = t.chunk.data();
    std::fill(t.heads.begin(), t.heads.end(), kEmpty);
    uint32_t h3 = 0, h4 = 0;
    for (int i = 0; i < 3; i++) h3 = hash3_step(h3, buf[i]);
    for (int i = 0; i < 4; i++) h4 = hash4_step(h4, buf[i]);
    for (int32_t pos = 0; pos < length && !w.failed();) {
        Match m = find_match(t, buf, pos, length, h3, h4);
        int32_t step = m.length;
        if (m.length >= int32_t(kMinMatch)) {
            w.write(1, 1);
            write_length(w, uint32_t(m.length));
            write_distance(w, uint32_t(m.distance));
        } else {
            w.write(9, uint32_t(buf[pos]) << 1);
            step = 1;
        }
        for (; step > 0; step--) {
            t.heads[h3] = pos;
            t.chain[pos & (kWindow - 1)] = t.heads[kHash3Entries + h4];
            t.heads[kHash3Entries + h4] = pos;
            pos++;
            h3 = hash3_step(h3, buf[pos + 2]);
            h4 = hash4_step(h4, buf[pos + 3]);
        }
    }
    w.end_chunk();
}

// The reader's bit stream, bounded by the payload's end.
class BitReader {
public:
    BitReader(const uint8_t* at, const uint8_t* end) : at_(at), end_(end) {}

    // n bits (at most 24); false when the payload ends first.
    bool read(int n, uint32_t& value) {
        for (; pending_ < n; pending_ += 8) {
            if (at_ == end_) return false;
            accumulator_ |= uint32_t(*at_++) << pending_;
        }
        value = accumulator_ & ((1u << n) - 1);
        accumulator_ >>= n;
        pending_ -= n;
        return true;
    }
    // The next chunk starts at the next whole byte.
    const uint8_t* next_byte() const { return at_; }

private:
    const uint8_t* at_;
    const uint8_t* end_;
    uint32_t accumulator_ = 0;
    int pending_ = 0;
};

bool read_length(BitReader& r, uint32_t& length) {
    static constexpr struct {
        uint32_t first;
        int bits;
    } kRanges[] = {{0, 2}, {4, 2}, {8, 2}, {12, 3}, {20, 5}, {52, 9}};
    uint32_t bit = 0, x;
    int range = 0;
    for (; range < 5; range++) {
        if (!r.read(1, bit)) return false;
        if (bit) break;
    }
    if (!r.read(kRanges[range].bits, x)) return false;
    length = kRanges[range].first + x + kMinMatch;
    return true;
}

bool read_distance(BitReader& r, uint32_t& distance) {
    uint32_t field, d;
    if (!r.read(4, field)) return false;
    int j = 2 + int(field);
    if (!r.read(j > 2 ? j : 3, d)) return false;
    distance = (j > 2 ? d + (1u << j) : d) + 1;
    return true;
}

// Decodes one chunk of `length` bytes into out; false on a bad token or a stream that ends early.
bool decompress_chunk(BitReader& r, uint8_t* out, uint32_t length) {
    for (uint32_t i = 0; i < length;) {
        uint32_t flag, value, distance;
        if (!r.read(1, flag)) return false;
        if (!flag) {
            if (!r.read(8, value)) return false;
            out[i++] = uint8_t(value);
            continue;
        }
        if (!read_length(r, value) || !read_distance(r, distance)) return false;
        if (distance > i || value > length - i) return false;
        for (uint32_t end = i + value; i < end; i++) out[i] = out[i - distance];
    }
    return true;
}

}  // namespace

std::optional<size_t> compress(const uint8_t* source, size_t count, uint8_t* destination) {
    if (count < kMinInput || count > UINT32_MAX) return std::nullopt;
    Tables tables;
    BitWriter w(destination + kHeaderSize, count - kHeaderSize);
    for (size_t done = 0; done < count && !w.failed(); done += kChunk) {
        size_t length = std::min(count - done, kChunk);
        std::memcpy(tables.chunk.data(), source + done, length);
        // Clear past the chunk, so that the look-ahead of the hashes reads the same whatever came before.
        std::fill(tables.chunk.begin() + ptrdiff_t(length), tables.chunk.end(), uint8_t(0));
        if (uint8_t* header = w.reserve(4)) store_le32(header, uint32_t(length));
        compress_chunk(tables, int32_t(length), w);
    }
    if (w.failed()) return std::nullopt;
    store_le32(destination, uint32_t(w.used()));
    store_le32(destination + 4, uint32_t(count));
    return w.used() + kHeaderSize;
}

std::optional<std::vector<uint8_t>> decompress(const uint8_t* block, size_t size) {
    if (size < kHeaderSize) return std::nullopt;
    uint32_t payload = load_le32(block), unpacked = load_le32(block + 4);
    if (payload > size - kHeaderSize) return std::nullopt;
    const uint8_t* at = block + kHeaderSize;
    const uint8_t* end = at + payload;
    std::vector<uint8_t> out;
    out.reserve(std::min<uint64_t>(unpacked, payload * kMostExpanded));
    while (at < end) {
        if (end - at < 4) return std::nullopt;
        uint32_t length = load_le32(at);
        at += 4;
        if (length < 1 || length > kChunk || length > unpacked - out.size()) return std::nullopt;
        size_t start = out.size();
        out.resize(start + length);
        BitReader r(at, end);
        if (!decompress_chunk(r, out.data() + start, length)) return std::nullopt;
        at = r.next_byte();
    }
    return out;
}

}  // namespace oka::compressor
