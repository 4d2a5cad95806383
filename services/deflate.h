/* DEFLATE, raw and in its gzip and zlib wrappers: the run-time's own compressor and inflater.

   The compressor is small and quick: one final block of fixed Huffman codes, matches found through a
   hash of 3-byte strings with four slots a bucket, the first hit taken (no lazy matching), at most
   32,767 bytes back. Its output bytes are part of the contract. The inflater reads stored, fixed and
   dynamic blocks.

   Every entry point has one shape: (destination, capacity, source, length) → Result. On entry
   `capacity` holds the destination's size; on return the bytes produced or, with too_small, the bytes
   needed. Bytes beyond the capacity are never written but are counted, so a null destination with
   capacity 0 measures; an inflater that measures only counts, and never reads the destination. The
   source is read within its length and nowhere else, whatever it holds.

   Failures are results only: nothing is printed, nothing allocated, nothing thrown. */
#pragma once

#include <cstddef>
#include <cstdint>

namespace oka::deflate {

enum class Result : uint8_t {
    ok,
    too_small,         // the destination is too small: capacity holds the size needed
    bad_data,          // bad or truncated data, header or trailer, a checksum that does not match
    stored_overrun,    // a stored block runs past the source
    bad_block_type,    // block type 3
    distance_too_far,  // a match reaches before the start of the output
};

// A raw DEFLATE stream.
Result compress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length);
Result uncompress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length);

// The most bytes a DEFLATE stream of `length` bytes can stand for: a match of 258 bytes takes at least
// two bits.
inline uint64_t most_expanded(size_t length) { return uint64_t(length) * 1032 + 258; }

}  // namespace oka::deflate

// The gzip wrapper: a 10-byte header (ID 1F 8B, method 8, no flags, level and system bytes 04 04), the
// stream, the CRC-32 and the length of the data, little-endian. The compressor passes data that
// already starts with a gzip header through as it is. The reader skips the optional header fields and
// checks the header's own CRC when it has one; it answers a measuring call from the length in the
// trailer, which it checks against the stream first when the stream could not expand that much
// without being unusually repetitive.
namespace oka::gzip {
using deflate::Result;
Result compress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length);
Result uncompress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length);
}  // namespace oka::gzip

// The zlib wrapper: the header 78 01, the stream, the Adler-32 of the data, big-endian. The reader
// takes any valid header without a preset dictionary (78 9C, 78 DA ...).
namespace oka::zlib {
using deflate::Result;
Result compress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length);
Result uncompress(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length);
}  // namespace oka::zlib
