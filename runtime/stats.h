/* Memory statistics, read off the frames; reading them allocates no language memory, so the figures
   describe one state. The `stats` and `recycle` natives (evaluator/natives_memory.cpp) give them to
   scripts as values. */
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace oka::stats {

// The bytes in use: node slots, the carved part of every series frame and every big block.
double memory_in_use();

struct MemoryFigures {
    struct Frame {
        uint32_t free, used, capacity;  // node slots, or the payload bytes of a series frame
    };
    std::vector<Frame> node_frames;
    std::vector<Frame> series_frames;
    std::vector<uint64_t> big_blocks;  // each one's footprint
    uint64_t regions = 0;              // the bytes of all regions held
    uint64_t heap_total = 0;           // the tracked heap's total
};
MemoryFigures memory_figures();

}  // namespace oka::stats
