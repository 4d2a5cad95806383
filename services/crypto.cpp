#include "services/crypto.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace oka::crypto {

namespace {

// Eight tables, so that a CRC takes eight bytes a step: table 0 is the byte-wise table, and table k
// gives the CRC of a byte followed by k zero bytes. `polynomial` is the reflected one.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables make_crc_tables(uint32_t polynomial) {
    CrcTables t{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = c & 1 ? (c >> 1) ^ polynomial : c >> 1;
        t[0][n] = c;
    }
    for (size_t k = 1; k < t.size(); k++)
        for (uint32_t n = 0; n < 256; n++) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}

constexpr CrcTables kCrc = make_crc_tables(0xEDB88320u);
constexpr CrcTables kCrc32c = make_crc_tables(0x82F63B78u);

uint32_t load_le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

// A CRC eight bytes a step through its tables; `c` is the register (the CRC complemented).
uint32_t crc_by_tables(const CrcTables& t, const uint8_t* bytes, size_t count, uint32_t c) {
    for (; count >= 8; count -= 8, bytes += 8) {
        uint32_t low = load_le32(bytes) ^ c, high = load_le32(bytes + 4);
        c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
            t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
    for (; count > 0; count--) c = (c >> 8) ^ t[0][(c ^ *bytes++) & 0xFF];
    return c;
}

#if defined(__x86_64__)
// CRC-32 by carry-less multiplication, where the processor has it: the data is a polynomial over GF(2)
// and the register its remainder modulo the CRC's polynomial P. Four 128-bit lanes are folded forward
// 512 bits at a time (multiplying by x^n mod P for the distance moved), then folded into one lane, and
// the last 128 bits reduced to 32 (Barrett). The constants are those powers of x modulo P, in the
// bit-reflected order of this CRC, and P and its Barrett quotient.
constexpr size_t kFoldBlock = 64;

__attribute__((target("pclmul"))) __m128i fold(__m128i lane, __m128i constants, __m128i next) {
    __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00), high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul"))) __m128i load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The register after `count` bytes, a multiple of 16 and at least kFoldBlock.
__attribute__((target("pclmul"))) uint32_t crc32_by_folding(const uint8_t* bytes, size_t count, uint32_t c) {
    const __m128i by512 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i by128 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i by64 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_set_epi32(0, -1, 0, -1);
    __m128i lanes[4];
    for (int i = 0; i < 4; i++) lanes[i] = load128(bytes + 16 * i);
    lanes[0] = _mm_xor_si128(lanes[0], _mm_cvtsi32_si128(int(c)));
    size_t at = kFoldBlock;
    for (; count - at >= kFoldBlock; at += kFoldBlock)
        for (int i = 0; i < 4; i++) lanes[i] = fold(lanes[i], by512, load128(bytes + at + 16 * i));
    __m128i x = lanes[0];
    for (int i = 1; i < 4; i++) x = fold(x, by128, lanes[i]);
    for (; at < count; at += 16) x = fold(x, by128, load128(bytes + at));
    // 128 bits to 64, then to 32 bits followed by the 32 zero bits of the reflected remainder.
    x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, by128, 0x10));
    x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, low32), by64, 0x00));
    __m128i quotient = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10), low32);
    x = _mm_xor_si128(x, _mm_clmulepi64_si128(quotient, barrett, 0x00));
    return uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(x, 4)));
}

bool has_carryless_multiply() {
    static const bool has = [] {
        __builtin_cpu_init();  // a static initializer may run before the library's own has
        return __builtin_cpu_supports("pclmul");
    }();
    return has;
}

// CRC-32C by the processor's crc32 instruction, where it has one.
bool has_crc32c_instruction() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse4.2");
    }();
    return has;
}

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// The registers of three runs of `words` eight-byte words each, advanced side by side: the instruction
// takes three cycles to answer but starts one a cycle, so three independent runs keep it busy.
__attribute__((target("sse4.2"))) void crc32c_three_by_instruction(const uint8_t* const runs[3], size_t words,
                                                                   uint32_t registers[3]) {
    uint64_t a = registers[0], b = registers[1], c = registers[2];
    for (size_t i = 0; i < words * 8; i += 8) {
        a = _mm_crc32_u64(a, load64(runs[0] + i));
        b = _mm_crc32_u64(b, load64(runs[1] + i));
        c = _mm_crc32_u64(c, load64(runs[2] + i));
    }
    registers[0] = uint32_t(a), registers[1] = uint32_t(b), registers[2] = uint32_t(c);
}

__attribute__((target("sse4.2"))) uint32_t crc32c_by_instruction(const uint8_t* bytes, size_t count, uint32_t c) {
    uint64_t wide = c;
    for (; count >= 8; count -= 8, bytes += 8) wide = _mm_crc32_u64(wide, load64(bytes));
    c = uint32_t(wide);
    for (; count > 0; count--) c = _mm_crc32_u8(c, *bytes++);
    return c;
}
#endif

// The largest run of bytes whose Adler-32 sums cannot overflow 32 bits before they are reduced.
constexpr size_t kAdlerRun = 5552;
constexpr uint32_t kAdlerBase = 65521;

}  // namespace

uint32_t crc32(const uint8_t* bytes, size_t count, uint32_t crc) {
    uint32_t c = ~crc;
#if defined(__x86_64__)
    if (count >= kFoldBlock && has_carryless_multiply()) {
        size_t folded = count & ~size_t(15);
        c = crc32_by_folding(bytes, folded, c);
        bytes += folded;
        count -= folded;
    }
#endif
    return ~crc_by_tables(kCrc, bytes, count, c);
}

uint32_t crc32c(const uint8_t* bytes, size_t count, uint32_t crc) {
#if defined(__x86_64__)
    if (has_crc32c_instruction()) return ~crc32c_by_instruction(bytes, count, ~crc);
#endif
    return ~crc_by_tables(kCrc32c, bytes, count, ~crc);
}

std::array<uint32_t, 3> crc32c_of_thirds(const uint8_t* bytes, size_t count) {
    size_t third = count / 3 / 8 * 8;
    const uint8_t* runs[3] = {bytes, bytes + third, bytes + 2 * third};
    uint32_t registers[3] = {~0u, ~0u, ~0u};
#if defined(__x86_64__)
    if (has_crc32c_instruction()) {
        crc32c_three_by_instruction(runs, third / 8, registers);
        return {~registers[0], ~registers[1], crc32c(runs[2] + third, count - 3 * third, ~registers[2])};
    }
#endif
    return {crc32c(runs[0], third), crc32c(runs[1], third), crc32c(runs[2], count - 2 * third)};
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
