/* The collector's switch and entry points used by the allocator.

   The collector is off until start-up has built the boot environment; while it is off the allocator
   never starts a cycle. */
#pragma once

#include <cstdint>

namespace oka::collector {

inline bool on = false;
inline uint32_t cycles = 0;  // collections run so far

inline bool collecting = false;      // set while a cycle runs
inline bool node_compaction = true;  // a cycle may move the live nodes of sparse frames
inline uint32_t node_cycles = 0;     // cycles that moved nodes

// Runs a collection cycle when the collector is switched on (the allocator calls it when no frame
// has room).
void do_cycle_if_on();

}  // namespace oka::collector
