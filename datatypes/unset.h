/* unset!: the value of nothing, what an empty evaluation returns. It carries no payload. */
#pragma once

#include "runtime/stack.h"

namespace oka::unset {

inline constexpr Cell value = Cell::of(Type::Unset);

void init();

inline Cell* make_at(Cell* cell) { return copy_cell(&value, cell); }
inline Cell* box() { return make_at(stack::arguments()); }
inline Cell* push() { return make_at(stack::push_next()); }
Cell* make_in(const Cell& block);

// The compare of unset! and none!: equal to their own kind under every equality op, unordered.
int32_t compare_payloadless(Cell* value1, Cell* value2, int32_t op);

}  // namespace oka::unset
