/* bitset!: a set of non-negative integers, above all a character set, held as a byte buffer.

   A bitset cell holds its node in payload word 2. Bit n lies in byte n >> 3 of the buffer (from its
   first used byte) under the mask 0x80 >> (n & 7); the used bytes are the stored bits. A buffer with
   the negated flag (kSeriesNegated) stands for the complement of a finite set: every integer beyond the
   stored bytes is a member. Every change keeps that meaning: bytes added when a bitset grows take the
   value the bits beyond had (0xFF when negated, 0x00 otherwise), and each operation derives the flag
   of its result from its operands' flags as it derives the bits.

   Specs (make, to, pick, poke, append, remove) name bits by an integer, char or float (truncated), by
   the characters of a string, or by a block of these in which `low - high` names a range.

   Rules: making and growing a bitset allocate; the cells given to those routines must be fixed (on the
   data stack). has_codepoint and negated_q never allocate. */
#pragma once

#include "datatypes/typeset.h"

namespace oka::bitset {

// Registers bitset!; series! must be registered before.
void init();

// True when the code point is a member: its stored bit, or the negated flag beyond the stored bytes.
bool has_codepoint(const Cell& bits, uint32_t codepoint);
// True when the bitset is held as the complement of its stored bits.
bool negated_q(const Cell& bits);

// The operation on the bitsets in frame arguments 1 and 2 (any other value in argument 2 raises script
// invalid-type): a new bitset, as long as the longer operand (and~ keeps only the common bytes when the
// shorter operand is not negated), becomes the result.
void do_bitwise(typeset::Op op);

}  // namespace oka::bitset
