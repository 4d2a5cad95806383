/* none!: the explicit "no value". It carries no payload. */
#pragma once

#include "datatypes/unset.h"
#include "runtime/stack.h"

namespace oka::none {

inline constexpr Cell value = Cell::of(Type::None);

void init();

inline Cell* make_at(Cell* cell) { return copy_cell(&value, cell); }
inline Cell* box() { return make_at(stack::arguments()); }
inline Cell* push() { return make_at(stack::push_next()); }
Cell* make_in(const Cell& block);

}  // namespace oka::none
