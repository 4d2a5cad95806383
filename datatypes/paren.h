/* paren!: a block evaluated in place, written between parentheses. It shares the block cell and
   buffer (datatypes/block.h) and all of block!'s actions but the molding. */
#pragma once

#include "runtime/memory.h"

namespace oka::paren {

// Registers paren!.
void init();

// Gives a block-like cell the type paren! (its other header flags cleared) and pushes a copy.
Cell* push(Cell* cell);

}  // namespace oka::paren
