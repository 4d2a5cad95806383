/* The checksums the run-time computes itself: CRC-32, CRC-32C, Adler-32 and the 16-bit internet
   checksum.

   CRC-32 is the reflected one of gzip and PNG (polynomial 0xEDB88320, all ones in and out), computed
   by carry-less multiplication where the processor has it and by tables elsewhere; CRC-32C is the
   same with Castagnoli's polynomial (0x82F63B78), computed by the processor's crc32 instruction where
   it has one and by tables elsewhere (the same values either way); Adler-32
   is zlib's; the internet checksum adds big-endian 16-bit words in ones' complement and takes the
   complement, an odd last byte counting as a low-order byte. The digests (MD5, SHA-1, SHA-2) and HMAC
   come from the platform (platform/crypto.h). Nothing here allocates or raises. */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace oka::crypto {

// The CRC-32 of `count` bytes; `crc`, the CRC of the bytes before them, continues a running one.
uint32_t crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0);
// The CRC-32C of `count` bytes; `crc` continues a running one as for crc32.
uint32_t crc32c(const uint8_t* bytes, size_t count, uint32_t crc = 0);
// The CRC-32C of each third of `count` bytes, computed side by side, the fastest way to sum a large
// buffer: the first two thirds are `count` / 3 rounded down to whole eight-byte words, the last the rest.
std::array<uint32_t, 3> crc32c_of_thirds(const uint8_t* bytes, size_t count);
// The Adler-32 sum of `count` bytes; `adler`, the sum of the bytes before them, continues a running one.
uint32_t adler32(const uint8_t* bytes, size_t count, uint32_t adler = 1);
uint16_t tcp_checksum(const uint8_t* bytes, size_t count);

}  // namespace oka::crypto
