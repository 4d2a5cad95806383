/* The library's routines: the C++ functions of the routine table (library/routines.def) and the
   making of their routine! values at start-up.

   Rules: the table's order is the order the boot environment binds the routines in, and a routine!
   value holds its row's index. Each routine reads its arguments in the cells of its frame and writes
   its result into the first (evaluator/routines.h); a type test neither allocates nor raises for any
   argument. */
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/memory.h"

namespace oka::library {

// Installs the table in the interpreter and starts watching the output for last-lf?.
void init();

// The targets of the rows: a global word, or the path of an object field.
uint32_t routine_count();
std::string_view routine_target(uint32_t row);
// The spec text of a row, with its brackets.
std::string routine_spec(uint32_t row);

// Makes the routine! of every row whose target is a global word and binds it.
void bind_global_routines();
// Stores the routine! of every row whose target is an object field into that field: run once the boot
// scripts have made the objects.
void bind_field_routines();

// The value cell of the object field at the end of a path from a global word
// ("system/state/GC/active?"); every step must name a field of an object or a word key of a map
// ("system/codecs/png/encode").
BufPtr<Cell> field_cell(std::string_view path);

#define OKA_ROUTINE(Name, target, spec) void Name##_r(Cell* arguments);
#include "library/routines.def"

}  // namespace oka::library
