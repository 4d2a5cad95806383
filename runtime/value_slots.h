/* The value-slot table: a block in which native code parks values by number for as long as it needs
   them; whatever sits in a slot lives until the slot is released.

   Slots are numbered from 1. A free slot holds an integer! whose payload word 2 is the 0-based index
   of the next free slot, -1 at the end of the chain; released slots are reused first. The block hangs
   in the root block, is made by the first store and doubles when no slot is free, so a store may
   allocate; a slot handed out by get is valid until the next allocation. */
#pragma once

#include "runtime/memory.h"

namespace oka::value_slots {

inline constexpr uint32_t kInitialSlots = 100;

inline Node table = 0;  // the block of slots; every cell up to its capacity is a slot

// Makes the block with kInitialSlots free slots, in the root block (afresh when called again).
void init();
// Copies the value into the first free slot and returns its number. Allocates.
uint32_t store(const Cell& value);
BufPtr<Cell> get(uint32_t index);
// Frees a slot; slot 0 is no slot and is ignored.
void release(uint32_t index);
// Makes every cell from the 0-based `start` to the capacity a free slot, chained in order, and the
// first of them the next slot handed out.
void link_free(uint32_t start);

}  // namespace oka::value_slots
