/* Dynamic arrays: growable arrays of bytes, 32-bit integers or 32-bit addresses, kept in ordinary
   series buffers for the run-time's own bookkeeping.

   An array is a node whose buffer has unit 1 (bytes) or 4 (integers, addresses); its items run from
   the buffer's offset to its tail. Appending may allocate (the buffer doubles when full), so the caller
   roots the node like any other series. Items are picked by 1-based position. */
#pragma once

#include "runtime/base.h"

namespace oka::array {

Node make(uint32_t count, uint32_t unit);
uint32_t length_q(Node array);
void clear(Node array);
// Keeps n - 1 items.
void set_length(Node array, uint32_t n);
Node copy(Node array);
uint32_t flags(Node array);

void append_byte(Node array, uint8_t byte);
void append_bytes(Node array, const void* bytes, uint32_t n);
void append_int(Node array, int32_t value);
void append_ptr(Node array, Addr pointer);

uint8_t pick_byte(Node array, uint32_t i);
int32_t pick_int(Node array, uint32_t i);
Addr pick_ptr(Node array, uint32_t i);
void poke_ptr(Node array, uint32_t i, Addr pointer);

// Byte offset of the first equal item from the first item, or -1.
int32_t find_int(Node array, int32_t value);
int32_t find_ptr(Node array, Addr pointer);

// Inserts before the item at `position` (counted in items from the first, 0 = at the front).
void insert_int(Node array, int32_t value, uint32_t position);
void remove_ptr(Node array, Addr pointer);
void remove_at(Node array, uint32_t byte_offset, uint32_t n);

}  // namespace oka::array
