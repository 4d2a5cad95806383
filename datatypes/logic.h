/* logic!: true or false, held in payload word 1 (1 or 0), and the truth tests of conditions: every
   value is true but none and false. */
#pragma once

#include "runtime/stack.h"

namespace oka::logic {

inline constexpr Cell true_value = Cell::of(Type::Logic).set_truth(1);
inline constexpr Cell false_value = Cell::of(Type::Logic);

void init();

inline Cell* make_at(Cell* cell, bool flag) { return copy_cell(flag ? &true_value : &false_value, cell); }
inline Cell* box(bool flag) { return make_at(stack::arguments(), flag); }
inline Cell* push(bool flag) { return make_at(stack::push_next(), flag); }
Cell* make_in(const Cell& block, bool flag);
inline bool get(const Cell& cell) { return cell.truth(); }

// False for none and false, true for every other value; with `check`, an unset value raises script
// no-value with `name`.
bool true_q(const Cell& value, bool check = false, const Cell* name = nullptr);
// The truth of the last value pushed, or of the result slot when nothing lies above it.
bool top_true_q();
bool top_false_q();
// The truth of the result slot; an unset result raises script no-return.
bool check_q();
// True when the result slot holds none or false.
bool false_q();

}  // namespace oka::logic
