/* char!: one Unicode code point, 0 to 10FFFFh, in payload word 2. A child of integer!, it takes the
   integer arithmetic and checks that a result is a code point again. Chars compare by code point
   alone: case never folds, so the characters a and A differ under every op. */
#pragma once

#include "runtime/stack.h"

namespace oka::char_ {

void init();

inline uint32_t get(const Cell& cell) { return cell.code_point(); }

inline Cell* make_at(Cell* cell, uint32_t code_point) {
    *cell = Cell::of(Type::Char).set_code_point(code_point);
    return cell;
}
inline Cell* push(uint32_t code_point) { return make_at(stack::push_next(), code_point); }
Cell* make_in(const Cell& block, uint32_t code_point);

}  // namespace oka::char_
