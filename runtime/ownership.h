/* Ownership links: an object with change handlers owns the series and objects in its fields, and a
   modification of an owned value in place is reported to the owner.

   Every action that modifies a series calls `check` before the change with the action's event word
   and, when that reports the series as owned, again after the change with the past-tense word. */
#pragma once

#include "runtime/cell.h"
#include "runtime/words.h"

namespace oka::ownership {

// Reports a change of `value` to its owner when it has one; returns whether it did. `index` and
// `count` locate the changed part (0-based unit index from the buffer start, unit count).
bool check(const Cell& value, Word action, const Cell* new_value, int32_t index, int32_t count);

}  // namespace oka::ownership
