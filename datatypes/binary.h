/* binary!: the series of raw bytes, a child of string!, written as "#{" hexadecimal digits "}".

   A binary cell holds its head index in payload word 1 and its node in word 2, a buffer of unit 1; word
   3 is 0. Several values may share a node at different heads. The series actions of string! and series!
   that read or move units serve it as they are (a byte reads as an integer!); its own are those that
   give bytes a meaning: conversions, the editing actions (binary_edit.cpp), comparison, the bitwise
   actions, form and mold, and the text codecs of base 2, 16, 58 and 64 (binary_codecs.cpp).

   What a value stands for among bytes (encode): a char! its UTF-8 bytes, an integer! one byte
   (-128 to 255), a binary! its bytes, a tuple! its components, a text its UTF-8 encoding, a block its
   values one after the other. A text compared with or sought in bytes is its UTF-8 encoding too, so
   that finding and parsing agree with `to binary!`; a char! stands for the byte of its code point.

   Rules: any routine may allocate unless it says otherwise; the cells it is given are read before it
   allocates, and a cell it writes after allocating must be fixed (on the data stack, or a lexer slot).
   An editing action builds the bytes it writes outside the series buffers before it changes anything,
   so that no pointer into a buffer lives across the buffer's growth, and a value refused (an integer
   beyond a byte, a datatype without bytes) leaves the series as it was. */
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "datatypes/string.h"

namespace oka::binary {

// Registers binary!; string! must be registered before.
void init();

// ---- constructors ----

// Makes `cell` an empty binary! with room for `capacity` bytes (16 when 0).
Cell* make_at(Cell* cell, uint32_t capacity);
// A new binary! holding a copy of `length` bytes, at `cell` or pushed on the data stack. The bytes must
// not lie in a series buffer.
Cell* load_at(Cell* cell, const uint8_t* bytes, uint32_t length);
Cell* load(const uint8_t* bytes, uint32_t length);

// ---- bytes of values ----

// What a number that is no byte stands for when a binary is searched or parsed: a unit no byte holds,
// so that it matches nothing.
inline constexpr uint32_t kNoByte = 0x100;

// The byte a poke stores: the low 8 bits of an integer! or a char!; any other value raises script
// invalid-arg.
uint8_t get_byte(const Cell& value);
// The UTF-8 encoding of the text of a string-like value from its head: of its first `characters`
// characters when that is not negative.
std::string utf8_of(const Cell& string, int32_t characters = -1);
// The bytes a value stands for, as insert, append and change write them (see the header). `part`, when
// not negative, limits them: to that many values of a block, characters of a text, bytes of anything
// else; with `only`, a block's part is a budget of bytes shared by its values. A value of a datatype
// that has no bytes is formed when `forms_others` (change does so), else refused with script bad-to-arg.
// The value must be fixed.
struct Encoding {
    bool only = false;
    bool forms_others = false;
};
std::vector<uint8_t> encode(Cell* value, int32_t part, Encoding how);

// ---- the actions written in other files ----

void append(Cell* series, Cell* value, const EditOptions& options, bool append);
void change(Cell* series, Cell* value, const EditOptions& options);
void trim(Cell* series, const TrimOptions& options);

// ---- base 2, 16, 58 and 64 text ----

// The bases the codecs read and write.
bool base_q(int32_t base);
// Code points to decode, in units of 1, 2 or 4 bytes, read in place.
struct CodeUnits {
    const uint8_t* data;
    uint32_t unit;
    uint32_t count;
};
// The text of `count` bytes in a base, digits only: base 64 in groups of four with "=" padding, base 58
// in the Bitcoin alphabet, base 16 in upper-case digits, base 2 eight digits a byte. Never allocates a
// series.
std::string enbase(int32_t base, const uint8_t* bytes, uint32_t count);
// The characters enbase may need for `count` bytes, an upper bound computed without overflow.
uint64_t enbase_room(int32_t base, uint32_t count);
// The bytes of text in a base, or nothing when the text is not valid in it. Blanks are skipped, and ";"
// comments up to the end of their line. `literal` asks for the rules of a #{...} literal, which admit
// no character beyond ASCII and no digits left over at the end; otherwise base 16 reads a code point by
// its low seven bits and drops an odd last digit, and base 64 drops the digits of an unfinished group.
// Never allocates a series.
std::optional<std::vector<uint8_t>> debase(int32_t base, const CodeUnits& text, bool literal);

}  // namespace oka::binary
