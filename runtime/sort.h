/* Sorting: in-place sorts of a run of fixed-width elements under a caller's comparison.

   The comparison gets the addresses of two elements and the two user values the caller passed
   through; a result of 1 or more means the first element sorts after the second, any other result
   that it does not. Elements are at least one byte wide; those whose width is a multiple of 4 move 32
   bits at a time, others byte by byte.

   merge_sort is stable and borrows a buffer of count / 2 elements from the C++ heap; qsort is unstable
   and needs no memory. Both survive a comparison that throws (the run is left a permutation of its
   input and nothing leaks) and one that answers inconsistently (they stay inside the run, terminate
   and leave a permutation).

   Rule for callers: elements move as raw bytes, the sort holds raw pointers into the run across every
   comparison, and merge_sort parks up to half of the elements in a buffer the collector does not see.
   A comparison that may allocate must run with the collector held off. */
#pragma once

#include <cstdint>

namespace oka {

using SortCompare = int (*)(const void* a, const void* b, intptr_t user1, intptr_t user2);

namespace sort {

// Exchanges the `width` bytes at a and b, 32 bits at a time unless `bytewise`.
void swap_bytes(uint8_t* a, uint8_t* b, uint32_t width, bool bytewise);

// Returns the end of the sorted run that starts at `start` (below `end`). A run whose first pair is
// descending extends while each element sorts strictly after the next and is then reversed in place,
// so that equal elements never change their order.
uint8_t* find_run(uint8_t* start, uint8_t* end, uint32_t width, intptr_t user1, intptr_t user2, SortCompare compare);

// Merges the adjacent sorted runs [start, middle) and [middle, end) stably. The shorter run is parked
// in `temp`, which must hold its bytes.
void merge(uint8_t* start, uint8_t* middle, uint8_t* end, uint8_t* temp, uint32_t width, intptr_t user1, intptr_t user2,
           SortCompare compare);

// Stable sort of `count` elements at `base`. Raises too-long when its buffer would need more than
// 2^31 - 1 bytes, and no-memory when the buffer cannot be had, before any element moves.
void merge_sort(void* base, uint32_t count, uint32_t width, intptr_t user1, intptr_t user2, SortCompare compare);

// Unstable sort of `count` elements at `base` in O(n log n) comparisons and bounded stack depth.
void qsort(void* base, uint32_t count, uint32_t width, intptr_t user1, intptr_t user2, SortCompare compare);

// Stable sort of `count` 64-bit items by their high 32 bits read as unsigned, in linear time and with
// no comparison: one counting pass per 16-bit digit, skipped where every item has the same digit. It
// borrows a buffer of `count` items from the C++ heap.
void radix_sort(uint64_t* items, uint32_t count);

}  // namespace sort

}  // namespace oka
