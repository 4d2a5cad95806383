/* The checksums the run-time computes itself: CRC-32, Adler-32 and the 16-bit internet checksum.

   CRC-32 is the reflected one of gzip and PNG (polynomial 0xEDB88320, all ones in and out), computed
   by carry-less multiplication where the processor has it and by tables elsewhere; Adler-32
   is zlib's; the internet checksum adds big-endian 16-bit words in ones' complement and takes the
   complement, an odd last byte counting as a low-order byte. The digests (MD5, SHA-1, SHA-2) and HMAC
   come from the platform (platform/crypto.h). Nothing here allocates or raises. */
#pragma once

#include <cstddef>
#include <cstdint>

namespace oka::crypto {

// The CRC-32 of `count` bytes; `crc`, the CRC of the bytes before them, continues a running one.
uint32_t crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0);
// The Adler-32 sum of `count` bytes; `adler`, the sum of the bytes before them, continues a running one.
uint32_t adler32(const uint8_t* bytes, size_t count, uint32_t adler = 1);
uint16_t tcp_checksum(const uint8_t* bytes, size_t count);

}  // namespace oka::crypto
