/* hash!: a block whose values are indexed by a hash table, so that find and select do not scan.

   A hash cell is a block cell (head index in word 1, the node of the block in word 2) that names in
   word 3 a table of runtime/hashtable.h of kind kValues: every cell of the block is a key, at its
   position. hash! inherits the series and block actions; its own are those that must build or copy
   the table: make, to, copy and mold ("make hash! " before the block's mold).

   Invariant: every cell of the block is in the index, at its current position. The block and series
   actions that change a block's cells call `changed` after each change of a hash!, so the invariant
   holds after every action whatever it did. A change whose re-indexing fails (no memory) leaves the
   index stale instead: empty, left alone by later changes, rebuilt from the block by the next search
   (hashtable::mark_stale). find and select (and the path and put that use them)
   ask the index through `find_indexed` for the values whose equality it answers exactly.

   Rules: the routines here may allocate (the table grows); a cell they are given is read before
   that, so it may lie anywhere. A hash cell whose word 3 is 0 (a bare copy of the cell made by code
   that knows no tables) is served as a plain block. */
#pragma once

#include "runtime/cell.h"
#include "runtime/types.h"

namespace oka::hash {

// Registers hash!; block! must be registered before.
void init();

// The table of a hash!, 0 for any other series.
inline Node table_of(const Cell& series) { return series.is(Type::Hash) ? series.table() : 0; }

// Keeps the index of `series` (when it is a hash!) in step with a change of its block: the `removed`
// cells at index `at` were replaced by `added` cells now there, the cells behind them moving along.
// A change in place (a sort, a reverse, a store) is the same number of cells removed and added.
void changed(const Cell& series, uint32_t at, uint32_t removed, uint32_t added);

// The same after a swap exchanged the cell at `at1` of `series1` with the one at `at2` of `series2`,
// which may be of one block.
void swapped(const Cell& series1, uint32_t at1, const Cell& series2, uint32_t at2);

// What find_indexed answers for a key whose equality the index cannot tell: search the cells instead.
inline constexpr int64_t kNotIndexed = -2;

// The position of the first cell of the hash! from `start` on, every `skip` cells, equal to `key`
// (fixed) under the compare op `op` of a search (find's equality, ==, or same?), as block find
// compares it; -1 when there is none; kNotIndexed for a key that the index does not answer for
// (blocks, objects and the like, which hash by identity; numbers that compare within a tolerance).
int64_t find_indexed(const Cell& hash, const Cell* key, uint32_t start, uint32_t skip, int32_t op);

}  // namespace oka::hash
