/* Unicode text: every conversion between string buffers and the text outside.

   Inside, a string buffer holds code points in units of 1 (Latin-1), 2 (UCS-2) or 4 bytes, stored
   as native little-endian units, and a line ends with LF alone. Outside, text is UTF-8 or UTF-16LE;
   the routines that take a `crlf` flag turn CR LF into LF on the way in and LF into CR LF on the way
   out. Valid code points run from 0 to U+10FFFF; the UTF-8 decoders also refuse overlong forms and
   surrogates, so no invalid text gets into a string.

   A string cell holds its head index in payload word 1, its node in word 2, and caches in word 3 the
   node of the scratch buffer that the to_utf8 and to_utf16 families encode into.

   Who allocates: the loaders, the widening routines, the scratch-buffer encoders and everything that
   raises an error. The decoders, the counters, cp_to_utf8/cp_to_utf16 and to_utf8_buffer/binary
   never allocate. Hence:
   - bytes handed to a loader must not lie in a movable series buffer (copy them out first);
   - a string cell handed to a scratch-buffer encoder must not lie in a series buffer either (a
     data-stack slot will do): its word 3 is written after an allocation;
   - a BufPtr returned here is valid until the next allocation.

   Errors: a code point above U+10FFFF met by the UTF-8 encoders raises script invalid-char with it;
   invalid UTF-8 raises access invalid-utf8 with a binary! of the next four bytes (fewer at the end);
   an unpaired UTF-16 surrogate or an unknown input encoding raises script invalid-data with the bad
   units or the encoding. A unit size other than 1, 2 or 4 ends the process with runtime error 101. */
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "runtime/memory.h"

namespace oka::unicode {

inline constexpr uint32_t kMaxCodePoint = 0x10FFFF;
// What stands for a character that cannot be read or written as it is.
inline constexpr uint32_t kReplacementCharacter = 0xFFFD;

// The code points that UTF-16 pairs and that no UTF-8 text holds.
constexpr bool surrogate_q(uint32_t code_point) { return code_point >= 0xD800 && code_point <= 0xDFFF; }

// The value of a hexadecimal digit, or -1: only the ASCII digits and letters are digits, so a unit of a
// wider code point is never taken for one.
constexpr int32_t hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int32_t(c - '0');
    if (c >= 'A' && c <= 'F') return int32_t(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int32_t(c - 'a' + 10);
    return -1;
}

// The white space above ASCII that trim drops and the lexer takes as a blank between tokens: the
// spaces, separators and line ends that show as room. The zero-width characters (U+200B, U+200C and
// their like) are not among them: they join or break text without a gap.
constexpr bool space_q(uint32_t code_point) {
    switch (code_point) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x180E:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000: return true;
    default: return code_point >= 0x2000 && code_point <= 0x200A;
    }
}

// ---- Units of a string buffer

// Ends the process with runtime error 101: a buffer's unit size is not 1, 2 or 4.
[[noreturn]] void fail_unit_size();

// The narrowest unit, in bytes, that holds a code point.
constexpr uint32_t unit_for(uint32_t code_point) { return code_point < 0x100 ? 1 : code_point < 0x10000 ? 2 : 4; }

// Calls `body` with a value of the unit's C++ type (uint8_t, uint16_t or uint32_t) and returns its
// result, so that one generic loop serves every unit size.
template <class F>
decltype(auto) with_unit(uint32_t unit, F&& body) {
    switch (unit) {
    case 1: return body(uint8_t{});
    case 2: return body(uint16_t{});
    case 4: return body(uint32_t{});
    default: fail_unit_size();
    }
}

// The code point in unit i of `data`, and its store (truncated to the unit).
template <class Unit>
uint32_t unit_at(const uint8_t* data, uint32_t i) {
    Unit value;
    std::memcpy(&value, data + i * sizeof(Unit), sizeof value);
    return value;
}
template <class Unit>
void set_unit_at(uint8_t* data, uint32_t i, uint32_t code_point) {
    Unit value = Unit(code_point);
    std::memcpy(data + i * sizeof(Unit), &value, sizeof value);
}
inline uint32_t unit_at(const uint8_t* data, uint32_t unit, uint32_t i) {
    return with_unit(unit, [&]<class Unit>(Unit) { return unit_at<Unit>(data, i); });
}
inline void set_unit_at(uint8_t* data, uint32_t unit, uint32_t i, uint32_t code_point) {
    with_unit(unit, [&]<class Unit>(Unit) { set_unit_at<Unit>(data, i, code_point); });
}

// Each widens a string buffer in place: every unit is converted and the head indexes stay valid. The
// buffer moves when its room from the first used unit is below the widened size plus one unit. The
// buffer is returned; the caller goes on through it.
BufPtr<SeriesBuffer> latin1_to_ucs2(Node node);
BufPtr<SeriesBuffer> latin1_to_ucs4(Node node);
BufPtr<SeriesBuffer> ucs2_to_ucs4(Node node);
// The one of the three that takes the buffer to `unit`, which must be wider than its own.
BufPtr<SeriesBuffer> widen(Node node, uint32_t unit);

// ---- UTF-8 decoding

// Decodes the sequence at `p` in NUL-terminated text (the NUL rejects an unfinished sequence) with
// the published table-driven automaton. Returns the pointer past the bytes read; `code_point` is -1
// when the sequence is invalid, the pointer then being past the byte that made it so.
const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t& code_point);
// Sequences that fast_decode_utf8_char finds from `start` up to `end`.
uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end);
// `p` advanced by n sequences, never past `end`.
const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n);
// The sequence length that a lead byte announces by its top bits: 2, 3 or 4 (for any of F0h-FFh), else 0.
uint32_t utf8_lead_length(uint8_t byte);
// The bytes as valid UTF-8: each invalid sequence (a cut final one too) is handed to `replace`, which
// appends what stands for it; the byte that showed a sequence invalid starts the next one.
using Replacer = void (*)(std::string& out, std::string_view invalid);
std::string replace_invalid_utf8(const std::string& bytes, Replacer replace);
// The bytes with every invalid UTF-8 sequence replaced by U+FFFD.
std::string valid_utf8(const std::string& bytes);

// Decodes the sequence at `p`, `length` bytes being available. Returns the code point and sets
// `length` to the sequence's length, or returns -1 when the input ends inside a valid beginning.
// Anything else invalid raises access invalid-utf8.
int32_t decode_utf8_checked(const uint8_t* p, uint32_t& length);

// ---- UTF-8 encoding

// 1 below U+80, 2 below U+800, 3 below U+10000, else 4.
uint32_t utf8_char_length(uint32_t code_point);
// The UTF-8 size of the `unit`-byte units from `start` up to `end`.
uint32_t utf8_size(const uint8_t* start, const uint8_t* end, uint32_t unit);
// Writes the UTF-8 form of a code point; returns its length.
uint32_t cp_to_utf8(uint32_t code_point, uint8_t* out);
// Writes as much of the UTF-8 form as fits in `room` bytes; returns the bytes written.
uint32_t cp_to_utf8_limited(uint32_t code_point, uint8_t* out, uint32_t room);

// A NUL-terminated UTF-8 copy, in the scratch buffer, of the string from its head: at most `length`
// characters (-1: all). `length` is then the bytes written, the NUL left out. to_utf8_part writes LF
// as CR LF when `crlf` is set.
BufPtr<char> to_utf8(Cell* string, int32_t& length);
BufPtr<char> to_utf8_part(Cell* string, int32_t& length, bool crlf);
// The string from its head as UTF-8 in the caller's buffer: at most `limit` characters (-1: all),
// then a NUL when `terminate` is set. Returns the bytes written, the NUL left out.
uint32_t to_utf8_buffer(const Cell* string, uint8_t* out, int32_t limit, bool terminate);
// The same within `room` bytes, the NUL included (the last sequence may be cut short); here a limit
// of 0 or less means all.
uint32_t to_utf8_binary(const Cell* string, uint8_t* out, uint32_t room, int32_t limit, bool terminate);

// ---- UTF-16LE (any alignment; `count` counts 16-bit units)

// 4 when any unit is a surrogate, else 2 when any is above FFh, else 1.
uint32_t utf16_unit_size(const uint8_t* units, uint32_t count);
// Writes a code point as one unit below U+10000, as a surrogate pair up to U+10FFFF. Returns the units
// written: 0 above U+10FFFF.
uint32_t cp_to_utf16(uint32_t code_point, uint8_t* out);
// A copy, in the scratch buffer and ended by a zero unit, of the string from its head: at most `length`
// characters (-1: all). `length` is then the units written, the zero left out. An empty BufPtr when a
// code point above U+10FFFF is met. to_utf16 copies it all with LF written as CR LF.
BufPtr<uint8_t> to_utf16(Cell* string);
BufPtr<uint8_t> to_utf16_part(Cell* string, int32_t& length, bool crlf);

// ---- Loading external text
//
// A load writes a new buffer (target 0) or replaces the text of the target buffer from its first
// used unit, picking the narrowest unit that holds every character and widening as wider ones come.
// It returns the buffer's node; making a string! of it is the caller's business.

// Loads UTF-8, a leading byte-order mark skipped. A target keeps its unit. A sequence cut short by the
// end stops the load; `remaining` (when given) receives the bytes not consumed, so that a caller
// reading in blocks can carry them over. With `crlf`, CR LF loads as LF and a lone CR as LF.
Node load_utf8(const uint8_t* bytes, uint32_t length, Node target, uint32_t* remaining, bool crlf);
// load_utf8 into the string's own buffer, or into a new one; no CR LF conversion.
Node load_utf8_into(const uint8_t* bytes, uint32_t length, const Cell* string, uint32_t* remaining);
Node load_utf8_new(const uint8_t* bytes, uint32_t length);

// Loads UTF-16LE: surrogate pairs combine, an unpaired half raises invalid-data. A target takes the
// unit of utf16_unit_size. With `crlf`, every CR is dropped.
Node load_utf16(const uint8_t* units, uint32_t count, Node target, bool crlf);

// The input encodings, numbered as callers of load_encoded name them.
enum Encoding : int32_t { kUtf8 = 0, kUtf16le = -1 };
// Loads `length` units of the encoding into a new buffer, without CR LF conversion.
Node load_encoded(const uint8_t* text, uint32_t length, int32_t encoding);

// ---- Scratch buffers

// The data of the string's scratch buffer (cached in the cell's word 3), made or enlarged to `bytes`.
BufPtr<uint8_t> scratch_buffer(Cell* string, uint64_t bytes);

}  // namespace oka::unicode
