/* Address space for the language memory.

   The run-time addresses its memory with 32-bit offsets, so all of it lives in one reservation of
   4 GiB made at start-up (no pages committed). Ranges of whole pages are then committed on demand and
   released back to the reservation. This layer knows nothing of cells or series: it hands out page
   ranges by offset, and offset 0 (the first pages) is never handed out, so 0 can mean null. */
#pragma once

#include <cstdint>

namespace oka::platform {

// Reserves the 4 GiB space once; returns its base. Later calls return the same base.
uint8_t* reserve_space();
uint8_t* space_base();

uint32_t page_size();

// Commits a read/write range of `bytes` rounded up to whole pages and returns its offset, or 0 when
// the space or the system refuses.
uint32_t alloc_virtual(uint32_t bytes);

// Releases a range made by alloc_virtual (its size is remembered). Returns false for an offset that
// is not the start of such a range.
bool free_virtual(uint32_t offset);

// True when `offset` is the start of a range made by alloc_virtual and not yet released.
bool is_range_start(uint32_t offset);

// Total bytes of the ranges currently committed.
uint64_t committed_bytes();

}  // namespace oka::platform
