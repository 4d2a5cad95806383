/* The run-time's own LZ codec: a bit-packed stream of literals and matches, unrelated to DEFLATE.

   A packed block is an 8-byte header (the payload's length P and the unpacked length N, u32
   little-endian) and chunks: each a u32 chunk length L (1 to 1 MiB, every chunk a full 1 MiB but the
   last) and its token stream, least significant bit first, padded to a byte. A token is a 0 bit and a
   byte, or a 1 bit, a length code (3 to 566 bytes) and a distance code (1 to 256 KiB back, never
   before the chunk's start). Each chunk is coded on its own.

   The packer finds matches through a 3-byte hash table and 4-byte hash chains (at most 256 steps) and
   keeps a match only when it pays for its distance. Nothing here touches the language memory. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace oka::compressor {

// Packs `count` bytes into `destination`, which holds `count` bytes; the block's size, or nothing when
// the input is under 128 bytes or the block would not be smaller than the input.
std::optional<size_t> compress(const uint8_t* source, size_t count, uint8_t* destination);

// The bytes of a packed block of `size` bytes, or nothing when it is not a sound block: a chunk length
// out of range, a match before its chunk's start or past its end, a stream that runs past the
// payload, a payload past the input, or more bytes than the header's N. N is not trusted for more
// than a hint: what is allocated is what the chunks hold.
std::optional<std::vector<uint8_t>> decompress(const uint8_t* block, size_t size);

}  // namespace oka::compressor
