/* The roots of the language memory that C++ code owns.

   The root block keeps alive whatever it holds for the life of the process; start-up makes it (a
   fixed buffer) and hangs in it the stacks, the symbol table and the run-time's own words. C++ globals
   that hold a value (a cell naming a series or a context) register themselves once, and the collector
   marks them like the root block's cells; so do C++ globals that hold the node of a series of cells
   (the global context). */
#pragma once

#include <span>

#include "runtime/cell.h"

namespace oka::runtime {

inline Cell root;

// Makes the collector keep the value held in `cell`, a C++ global, from now on.
void register_root(Cell* cell);
std::span<Cell* const> registered_roots();
// Makes the collector keep the series of cells whose node `node`, a C++ global, holds, from now on.
void register_root(Node* node);
std::span<Node* const> registered_nodes();

}  // namespace oka::runtime
