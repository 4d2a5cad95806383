/* The root block: whatever it holds lives as long as the process. Start-up makes it (a fixed buffer)
   and hangs in it the stacks, the symbol table and the run-time's own words. */
#pragma once

#include "runtime/cell.h"

namespace oka::runtime {

inline Cell root;

}  // namespace oka::runtime
