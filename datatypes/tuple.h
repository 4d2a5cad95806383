/* tuple!: 3 to 12 bytes written with dots (1.2.3, 255.0.0.128): colours, versions, network addresses.
   The value lives in its cell: header bits 19-22 hold the byte count, payload words 1 to 3 the bytes in
   memory order (byte 1 is the lowest byte of word 1).

   Rules: every constructor writes at least 3 bytes and leaves the bytes past the count zero, so that
   a tuple compares, as it reads, with the missing bytes of the shorter one taken as 0 (1.2.3 equals
   1.2.3.0). Byte-wise arithmetic never wraps: each result byte is clamped to 0..255. Nothing here
   allocates but the conversions from text. */
#pragma once

#include "datatypes/integer.h"

namespace oka::tuple {

inline constexpr uint32_t kMinBytes = 3;
inline constexpr uint32_t kMaxBytes = 12;

void init();

inline uint32_t length_of(const Cell& tuple) { return tuple.header >> 19 & 0xF; }

// A tuple of `count` bytes (at least 3: zeros are added) made at `cell`; count is at most kMaxBytes.
Cell* make_at(Cell* cell, const uint8_t* bytes, uint32_t count);

// True when every byte is 0: the zero? native.
bool zero_q(const Cell& tuple);

// The body of the math actions when either operand is a tuple: the left operand in the result slot,
// the right one after it. A number on the left changes places with the tuple, except for subtract
// and divide, which it refuses.
void do_math(integer::MathOp op);

}  // namespace oka::tuple
