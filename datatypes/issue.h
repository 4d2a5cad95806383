/* issue!: a name written after "#" (#abc), a literal that is never evaluated. A child of word!, it has
   the word cell layout (payload word 1 the context node, word 2 the symbol id, word 3 the position in
   the context) and takes word!'s form; the issues made here are bound to the global context with
   position -1. The name keeps its letter case: = ignores the case of ASCII letters, == does not.

   Making an issue interns its name, which may allocate; names come as UTF-8 from outside the series
   buffers. */
#pragma once

#include <string_view>

#include "runtime/stack.h"

namespace oka::issue {

void init();

// An issue of a UTF-8 name, made at `cell` or at the tail of a block.
Cell* make_at(Cell* cell, std::string_view name);
Cell* make_in(const Cell& block, std::string_view name);
// The loader's constructor: during start-up the issue is kept in the root block, afterwards pushed on
// the data stack.
Cell* load(std::string_view name);
// Pushes a copy of a word-family cell as an issue!.
Cell* push(const Cell& word);

// The name read as at most 8 hexadecimal digits; anything else raises script invalid-data with the
// issue.
int32_t from_hex(const Cell& issue);

}  // namespace oka::issue
