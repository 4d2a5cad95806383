#include "services/crypto.h"

#include <array>
#include <bit>
#include <cstring>

namespace oka::crypto {

namespace {

// Eight tables, so that CRC-32 takes eight bytes a step: table 0 is the byte-wise table, and table k
// gives the CRC of a byte followed by k zero bytes.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables make_crc_tables() {
    CrcTables t{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = c & 1 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][n] = c;
    }
    for (size_t k = 1; k < t.size(); k++)
        for (uint32_t n = 0; n < 256; n++) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}

constexpr CrcTables kCrc = make_crc_tables();

uint32_t load_le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

// The largest run of bytes whose Adler-32 sums cannot overflow 32 bits before they are reduced.
constexpr size_t kAdlerRun = 5552;
constexpr uint32_t kAdlerBase = 65521;

}  // namespace

uint32_t crc32(const uint8_t* bytes, size_t count, uint32_t crc) {
    uint32_t c = ~crc;
    for (; count >= 8; count -= 8, bytes += 8) {
        uint32_t low = load_le32(bytes) ^ c, high = load_le32(bytes + 4);
        c = kCrc[7][low & 0xFF] ^ kCrc[6][(low >> 8) & 0xFF] ^ kCrc[5][(low >> 16) & 0xFF] ^ kCrc[4][low >> 24] ^
            kCrc[3][high & 0xFF] ^ kCrc[2][(high >> 8) & 0xFF] ^ kCrc[1][(high >> 16) & 0xFF] ^ kCrc[0][high >> 24];
    }
    for (; count > 0; count--) c = (c >> 8) ^ kCrc[0][(c ^ *bytes++) & 0xFF];
    return ~c;
}

uint32_t adler32(const uint8_t* bytes, size_t count, uint32_t adler) {
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (count > 0) {
        size_t run = count < kAdlerRun ? count : kAdlerRun;
        count -= run;
        for (; run > 0; run--) {
            a += *bytes++;
            b += a;
        }
        a %= kAdlerBase;
        b %= kAdlerBase;
    }
    return b << 16 | a;
}

uint16_t tcp_checksum(const uint8_t* bytes, size_t count) {
    // 64 bits hold the sum of any input a series can hold without a carry lost.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < count; i += 2) sum += uint32_t(bytes[i]) << 8 | bytes[i + 1];
    if (i < count) sum += bytes[i];
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return uint16_t(~sum);
}

}  // namespace oka::crypto
