/* The symbol table: every name the language has met, interned once for the life of the process.

   `table` is a block of symbol! cells, the cell of id n at position n - 1; `index` is its hash table
   (kind kNames) over the names. A symbol cell holds its alias in word 1 (-1 for a canonical entry,
   else the id of the letter-case variant of its name met first), the node of its string form in word 2
   (0 until built) and in word 3 the node of its UTF-8 name, NUL-terminated, the tail at the NUL.
   Entries are only ever appended, so ids never change; only ASCII letters fold.

   Start-up makes both series; both are roots of the collector. Interning may allocate. */
#pragma once

#include "runtime/cell.h"

namespace oka::symbol {

inline Node table = 0;
inline Node index = 0;

// Makes the symbol block and its index.
void init_table();
// Keeps what this module holds of the language memory in every heap image (runtime/image_state.h).
void keep_in_images();

// The id of a UTF-8 name (bytes outside the series buffers), interned when new: see
// hashtable::symbol_lookup.
uint32_t lookup(const uint8_t* name, uint32_t length, bool ignore_case);

// The canonical id of a symbol: its alias when it has one, else the id itself. Two ids name the same
// word, case ignored, exactly when they resolve alike.
uint32_t resolve(uint32_t id);

}  // namespace oka::symbol
