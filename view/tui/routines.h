/* The routines of the text-mode back end (view/tui/routines.def): what the view engine and scripts call
   of it, added to the run-time's routine table at start-up.

   Rules: each routine reads its arguments in the cells of its frame and writes its result into the
   first (evaluator/routines.h); it may allocate and may raise. */
#pragma once

#include "runtime/cell.h"

namespace oka::gui {

// Adds the back end's rows to the routine table and interns its words; runs once at start-up, after
// the library's rows are in.
void add_routines();

#define OKA_ROUTINE(Name, target, spec) void Name##_r(Cell* arguments);
#include "view/tui/routines.def"

}  // namespace oka::gui
