/* The data stack: one fixed block of value cells through which every call passes its arguments and
   its result.

   The cells of the current frame run from `frame_base` up to (not including) `top`. A native or an
   action reads argument k at frame_base + k and leaves its result in the cell at frame_base (the
   result slot). The block is a fixed series: it never moves, so pointers into it stay valid across
   allocations; the cells it holds are roots for the collector up to `top`. */
#pragma once

#include "runtime/cell.h"

namespace oka::stack {

inline constexpr uint32_t kDataStackCells = 20000;
inline constexpr uint32_t kOverflowReserve = 5;  // cells released to the error machinery on overflow

inline Cell* bottom = nullptr;  // first cell of the block
inline Cell* end = nullptr;     // just past the block
inline Cell* frame_base = nullptr;
inline Cell* top = nullptr;  // next free cell

// Takes the data-stack block (a fixed series of kDataStackCells cells).
void init(Node data_stack);

inline Cell* arguments() { return frame_base; }

// Reserves the cell at top and returns it (contents unchanged). The last cell of the block is never
// handed out; reaching it raises internal stack-overflow.
Cell* push_next();
Cell* push(const Cell& value);
void pop(uint32_t n);
Type top_type();
Cell* get_top();
Cell* set_last(const Cell& value);
Cell* set_last_keep(const Cell& value);
Cell* reset();
Cell* keep();
void collapse_top();

}  // namespace oka::stack
