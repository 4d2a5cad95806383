/* integer!: a 32-bit signed integer held in payload word 2. */
#pragma once

#include "evaluator/stack.h"

namespace oka::integer {

inline int32_t get(const Cell& cell) { return int32_t(cell.data2); }

inline Cell* make_at(Cell* cell, int32_t value) {
    *cell = Cell{uint8_t(Type::Integer), 0, uint32_t(value), 0};
    return cell;
}
inline Cell* box(int32_t value) { return make_at(stack::arguments(), value); }
inline Cell* push(int32_t value) { return make_at(stack::push_next(), value); }

}  // namespace oka::integer
