// The gzip wrapper of DEFLATE.
#include <cstring>
#include <initializer_list>

#include "services/crypto.h"
#include "services/deflate.h"

namespace oka::gzip {

namespace {

constexpr uint8_t kMagic[] = {0x1F, 0x8B, 0x08};
// ID, method, flags, modification time, extra flags, operating system.
constexpr uint8_t kHeader[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
constexpr size_t kHeaderSize = sizeof kHeader;
constexpr size_t kTrailerSize = 8;

enum Flag : uint8_t { kHeaderCrc = 2, kExtra = 4, kName = 8, kComment = 16, kReserved = 0xE0 };

// A claimed size up to this many times the stream, and 64 KiB more, is believed without a look at the
// stream; a larger one is checked by measuring the stream before anyone allocates for it.
constexpr uint64_t kBelievedRatio = 16;
constexpr uint64_t kBelievedExtra = 65536;

uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void store_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// The offset of the stream after the header and its optional fields, 0 when the header is bad.
size_t stream_offset(const uint8_t* source, size_t length) {
    uint8_t flags = source[3];
    if (std::memcmp(source, kMagic, 2) != 0 || source[2] != 8 || flags & kReserved) return 0;
    size_t at = kHeaderSize;
    if (flags & kExtra) {
        size_t extra = size_t(source[at]) | size_t(source[at + 1]) << 8;
        if (extra > length - 12) return 0;
        at += 2 + extra;
    }
    for (Flag text : {kName, kComment}) {
        if (!(flags & text)) continue;
        const void* nul = at < length ? std::memchr(source + at, 0, length - at) : nullptr;
        if (!nul) return 0;
        at = size_t(static_cast<const uint8_t*>(nul) - source) + 1;
    }
    if (flags & kHeaderCrc) {
        if (at + 2 > length ||
            (uint32_t(source[at]) | uint32_t(source[at + 1]) << 8) != (crypto::crc32(source, at) & 0xFFFF))
            return 0;
        at += 2;
    }
    return at + kTrailerSize <= length ? at : 0;
}

}  // namespace

Result compress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length) {
    if (length > 2 && std::memcmp(source, kMagic, 3) == 0) {
        bool fits = length <= capacity;
        if (fits) std::memcpy(destination, source, length);
        capacity = length;
        return fits ? Result::ok : Result::too_small;
    }
    if (capacity < kHeaderSize + kTrailerSize) {
        capacity = length + kHeaderSize + kTrailerSize;
        return Result::bad_data;
    }
    std::memcpy(destination, kHeader, kHeaderSize);
    size_t room = capacity - kHeaderSize;
    deflate::compress(destination + kHeaderSize, room, source, length);
    size_t total = kHeaderSize + room + kTrailerSize;
    bool fits = total <= capacity;
    if (fits) {
        uint8_t* trailer = destination + total - kTrailerSize;
        store_le32(trailer, crypto::crc32(source, length));
        store_le32(trailer + 4, uint32_t(length));
    }
    capacity = total;
    return fits ? Result::ok : Result::too_small;
}

Result uncompress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length) {
    if (length < kHeaderSize + kTrailerSize) return Result::bad_data;
    size_t start = stream_offset(source, length);
    if (start == 0) return Result::bad_data;
    const uint8_t* stream = source + start;
    size_t stream_length = length - kTrailerSize - start;
    uint32_t size = load_le32(source + length - 4);
    if (size > deflate::most_expanded(stream_length)) return Result::bad_data;
    if (size > capacity) {
        // Measuring: a size the stream could only reach by being unusually repetitive is checked first.
        if (size > stream_length * kBelievedRatio + kBelievedExtra) {
            size_t measured = 0;
            Result result = deflate::uncompress(nullptr, measured, stream, stream_length);
            if ((result != Result::ok && result != Result::too_small) || measured != size) return Result::bad_data;
        }
        capacity = size;
        return Result::too_small;
    }
    Result result = deflate::uncompress(destination, capacity, stream, stream_length);
    if (result == Result::too_small) return Result::bad_data;  // more than the size: the capacity holds that
    if (result != Result::ok) return result;
    // The size must be the stream's, and so must the CRC-32 of the bytes.
    if (capacity != size || crypto::crc32(destination, size) != load_le32(source + length - 8)) return Result::bad_data;
    return Result::ok;
}

}  // namespace oka::gzip
