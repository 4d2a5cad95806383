/* OKABIN: the run-time's own serialised form of values.

   One container carries any graph of values the datatypes allow (shared series, cycles, words bound
   to objects and functions, objects, functions, natives and actions by table index) in one of two
   record forms: the compact form (one-byte record headers, LEB128 varints), which the boot data also
   uses, and the plain form (32-bit record headers and fields). The container is the magic "OKABIN", a
   version byte (2 when written here, never read), a flags byte (1 compact, 2 compressed with the LZ
   codec, 4 a symbol table follows), a form header, the symbol table and the records.

   A record names a value written before it by a reference path: the indexes that lead from the block
   receiving the decoded values to it, cell by cell, field by field.

   Rules:
   - Data decoded in codec mode comes from scripts and files and is trusted in nothing: every length,
     count, index and path is checked before it is used, a reference only takes a value of the storage
     its record makes, a native or action takes its spec from its table, and a function's context must
     hold its spec's words. Malformed data raises script ob-invalid-record with the 1-based position of
     the read that failed (counted as if the data were not compressed), never a crash. Boot mode trusts
     the data's shape but still ends the process with a message and a non-zero status when it is not
     sound.
   - What is shared stays shared: a series, an object's, an error's or a function's context met again
     is written as a reference, and a word bound to an object, error or function carries its owner.
   - The encoders raise access no-codec for a value that has no record (routine!, triple!, handle!,
     port!, event!) and for a word whose binding cannot be written: a word is never silently rebound.
   - Encoding reads the value and allocates nothing in the language memory until it makes the result;
     decoding builds the values straight into the target block, which the caller keeps rooted.
   - Nesting deeper than the cycle stack allows (datatypes/cycles.h) raises internal too-deep in both
     directions, so no input exhausts the C++ stack. */
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace oka::okabin {

enum class Mode { boot = 0, codec = 1 };

// The container's flags.
inline constexpr uint8_t kCompact = 1;
inline constexpr uint8_t kCompressed = 2;
inline constexpr uint8_t kSymbols = 4;

// The size of the magic and version that start every container, and of those with the flags.
inline constexpr uint32_t kMagicSize = 6;
inline constexpr uint32_t kPrefixSize = 8;

struct EncodeOptions {
    bool compact = true;
    bool compress = false;  // pack the rest of the container with the LZ codec when that makes it smaller
};

// Pushes a new binary! holding the encoded value.
Cell* encode(const Cell& value, EncodeOptions options);
inline Cell* encode_compact(const Cell& value, bool compress = false) { return encode(value, {true, compress}); }
inline Cell* encode_plain(const Cell& value, bool compress = false) { return encode(value, {false, compress}); }

// Decodes `length` bytes, appending each root record's value to `target` (a block! the caller keeps
// rooted). Bytes that lie in a series buffer are copied first, as decoding may move them; others are
// read where they are. Codec mode raises errors; boot mode ends the process on any fault.
void decode(const uint8_t* data, size_t length, const Cell& target, Mode mode);

// What a script's decode gives for a binary!: the one value it holds, or a block of all of them when
// it holds another number. Data of 10 bytes or fewer raises script invalid-data with the binary.
// Pushed on the data stack.
Cell* decode_binary(const Cell& binary);

// Decodes the boot data into the root block with the collector held off; returns the position of the
// first decoded value in the root block.
uint32_t boot_load(const uint8_t* data, size_t length);

}  // namespace oka::okabin
