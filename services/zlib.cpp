// The zlib wrapper of DEFLATE.
#include "services/crypto.h"
#include "services/deflate.h"

namespace oka::zlib {

namespace {

// Deflate with a 32 KiB window, no preset dictionary, the fastest level: a multiple of 31.
constexpr uint8_t kHeader[2] = {0x78, 0x01};
constexpr size_t kHeaderSize = 2;
constexpr size_t kTrailerSize = 4;

bool header_ok(const uint8_t* h) {
    bool method_deflate = (h[0] & 0x0F) == 8, window_ok = (h[0] >> 4) <= 7, no_dictionary = !(h[1] & 0x20);
    return (h[0] * 256 + h[1]) % 31 == 0 && method_deflate && window_ok && no_dictionary;
}

uint32_t load_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

Result compress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length) {
    if (capacity < kHeaderSize + kTrailerSize) {
        capacity = length + kHeaderSize + kTrailerSize;
        return Result::bad_data;
    }
    destination[0] = kHeader[0];
    destination[1] = kHeader[1];
    size_t room = capacity - kHeaderSize;
    deflate::compress(destination + kHeaderSize, room, source, length);
    size_t total = kHeaderSize + room + kTrailerSize;
    bool fits = total <= capacity;
    if (fits) {
        uint32_t adler = crypto::adler32(source, length);
        for (int i = 0; i < 4; i++) destination[total - 4 + i] = uint8_t(adler >> (24 - 8 * i));
    }
    capacity = total;
    return fits ? Result::ok : Result::too_small;
}

Result uncompress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length) {
    if (length < kHeaderSize + kTrailerSize || !header_ok(source)) return Result::bad_data;
    Result result =
        deflate::uncompress(destination, capacity, source + kHeaderSize, length - kHeaderSize - kTrailerSize);
    if (result != Result::ok) return result;
    if (crypto::adler32(destination, capacity) != load_be32(source + length - kTrailerSize)) return Result::bad_data;
    return Result::ok;
}

}  // namespace oka::zlib
