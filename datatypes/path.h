/* The path family: path!, lit-path!, set-path! and get-path!, the steps of a path expression such as
   a/b/c. A path is a block with another type id: it shares the block cell and buffer
   (datatypes/block.h) and inherits most of block!'s actions; it makes, converts, forms and molds
   itself. Its four types differ only in how they are molded: 'a/b, a/b:, :a/b.

   Making a path allocates. */
#pragma once

#include "runtime/memory.h"

namespace oka::path {

// Registers path!, lit-path!, set-path! and get-path!.
void init();

// Gives a block-like cell the path type `type` (its other header flags cleared) and pushes a copy.
Cell* push(Cell* cell, Type type);
// Makes `cell` an empty path! with room for `capacity` cells (1 when below 1).
Cell* make_at(Cell* cell, int32_t capacity);

}  // namespace oka::path
