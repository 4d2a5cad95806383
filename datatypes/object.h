/* object!: a context of named fields (datatypes/context.h) plus a class id, and an optional record of
   change handlers. error! and port! share the cell:

       word 1  context node (kind object, values on the heap, self flag; the self cell holds a copy of
               the object value)
       word 2  class id: equal ids mean the same words in the same order
       word 3  node of the change-handler record, or 0

   Making an object allocates. */
#pragma once

#include "runtime/memory.h"

namespace oka::object {

void init();

// The next class id of the one global counter (the first id is 1).
uint32_t get_new_id();

// Makes the cell an empty object with room for `size` fields: class id 0, no handlers.
Cell* make_at(Cell* cell, uint32_t size);
// Pushes an object for an existing context (a context whose values block is still empty first gets
// one unset value per word) and copies it into the self cell.
Cell* push(Node context, uint32_t class_id);

// The position of a field (case ignored), or -1.
int32_t find_word(const Cell& object, uint32_t symbol);
// The value cell of a field, or the shared none value when the object has no such field.
const Cell* rs_select(const Cell& object, uint32_t symbol);
BufPtr<Cell> get_word(Node context, uint32_t position);
BufPtr<Cell> get_values(const Cell& object);
uint32_t get_size(const Cell& object);

// A copy of an object with its own context and a copy of each field value (series shared), the same
// class id and no handlers. Pushed on the data stack.
Cell* copy_shallow(const Cell& object);

}  // namespace oka::object
