/* The routines: the C++ functions of the routine table and the making of their routine! values at
   start-up. The library's rows (library/routines.def) come first; each layer above adds its own rows
   from a table of its own (add_routines) before the boot environment is built.

   A row's target is a global word or the path of an object field. A global word's routine is bound
   before the boot scripts run; a field's is bound as soon as a boot script has made the object that
   holds the field, so that a later script can call it.

   Rules: the table's order is the order the boot environment binds the routines in, and a routine!
   value holds its row's index. Each routine reads its arguments in the cells of its frame and writes
   its result into the first (evaluator/routines.h); a type test neither allocates nor raises for any
   argument. */
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "evaluator/routines.h"
#include "runtime/memory.h"

namespace oka::library {

// Installs the library's rows in the interpreter and starts watching the output for last-lf?.
void init();

// A row of a layer's table: its target, its spec text (with its brackets) and its C++ function.
struct RoutineRow {
    std::string_view target;
    std::string_view spec;
    routines::Entry entry;
};
// Adds a layer's rows after those already in the table (after init, before the routines are bound).
void add_routines(std::span<const RoutineRow> rows);

// The targets of the rows: a global word, or the path of an object field.
uint32_t routine_count();
std::string_view routine_target(uint32_t row);
// The spec text of a row, with its brackets.
std::string routine_spec(uint32_t row);

// Makes the routine! of every row whose target is a global word and binds it.
void bind_global_routines();
// Stores the routine! of every row whose target is an object field into that field, once the object
// exists: run after each boot script. Answers how many rows are still waiting for their object.
uint32_t bind_field_routines();

// The value cell of the object field at the end of a path from a global word
// ("system/state/GC/active?"); every step must name a field of an object or a word key of a map
// ("system/codecs/png/encode").
BufPtr<Cell> field_cell(std::string_view path);
// The same, or null while a step of the path names no such object or field.
BufPtr<Cell> find_field_cell(std::string_view path);

#define OKA_ROUTINE(Name, target, spec) void Name##_r(Cell* arguments);
#include "library/routines.def"

}  // namespace oka::library
