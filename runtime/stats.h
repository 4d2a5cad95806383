/* Memory statistics, read with the collector held off so that the figures describe one state. */
#pragma once

#include "runtime/cell.h"

namespace oka::stats {

// The bytes in use: node slots, the carved part of every series frame and every big block.
double memory_in_use();
// The same as `stats` answers it: an integer!, or a float! beyond the integer range.
Cell in_use();

// A block of five items: per node frame [free used capacity], per series frame [free used payload],
// the big blocks' footprints, the bytes of all regions held, and the tracked heap's total.
Cell memory_block();

// Appends a byte total to a block: integer!, or float! when it exceeds the integer range.
void push_size(const Cell& block, uint64_t bytes);

}  // namespace oka::stats
