/* The routine table as the interpreter sees it: a routine! value names a row by its index, and a call
   runs that row's C++ function on the arguments of the routine's frame.

   The rows themselves (library/routines.def) live above the evaluator; the library installs them at
   start-up, before any routine! value exists.

   Rules: a routine's arguments are the cells of its frame, from the result slot on, checked against
   its spec's types before the call. An entry reads them there and writes its result into the first
   cell; a routine of no arguments finds that cell pushed for it, holding unset. A routine has no
   refinements and no locals. An entry may allocate and may throw. */
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace oka::routines {

using Entry = void (*)(Cell* arguments);

// The table: `count` entries, row i (from 0) at entries[i]. Kept, not copied.
void install(const Entry* entries, uint32_t count);
uint32_t count();

// Runs the routine! `routine` on the arguments of the current frame. An index outside the table raises
// internal feature-na.
void call(const Cell& routine);

}  // namespace oka::routines
