/* Address space for the language memory.

   The run-time addresses its memory with 32-bit offsets, so all of it lives in one reservation of
   4 GiB made at start-up (no pages committed). Ranges of whole pages are then committed on demand and
   released back to the reservation. This layer knows nothing of cells or series: it hands out page
   ranges by offset, and offset 0 (the first pages) is never handed out, so 0 can mean null.

   The space lies at a fixed address, so that the run-time turns offsets into pointers with a constant
   rather than a variable it would load first: below 2 GiB, where the constant fits an instruction's
   displacement, above a static program, its heap and what profilers map there. AddressSanitizer keeps
   its shadow memory in the low addresses, so sanitizer builds place the space high up instead. */
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace oka::platform {

#if defined(__SANITIZE_ADDRESS__)
#define OKA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OKA_ADDRESS_SANITIZER 1
#endif
#endif

#if OKA_ADDRESS_SANITIZER
inline constexpr uintptr_t kSpaceAddress = 0x300000000000;
#else
inline constexpr uintptr_t kSpaceAddress = 0x60000000;
#endif

// Reserves the 4 GiB space at kSpaceAddress, once; a process that cannot have it ends with a message.
void reserve_space();

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

// A committed range: its offset and size in bytes, whole pages.
struct CommittedRange {
    uint32_t offset;
    uint32_t bytes;
};
// The ranges committed now, by offset.
std::vector<CommittedRange> committed_ranges();

// Pages that a range adopts: `bytes` (whole pages) at `from`, copied to `offset` of the space.
struct PageRun {
    uint32_t offset;
    uint32_t bytes;
    const uint8_t* from;
};
// Releases every committed range and commits `ranges` (by offset, whole pages, apart) instead, on large
// pages where the system has them: zero pages but for `runs` (by offset, each inside a range), whose
// pages are copied in. False, with nothing committed, when a range lies outside the space or the
// system refuses.
bool adopt_ranges(std::span<const CommittedRange> ranges, std::span<const PageRun> runs);

}  // namespace oka::platform
