/* logic!: true or false, held in payload word 1 (1 or 0). */
#pragma once

#include "evaluator/stack.h"

namespace oka::logic {

inline Cell* make_at(Cell* cell, bool value) {
    *cell = Cell{uint8_t(Type::Logic), value ? 1u : 0u, 0, 0};
    return cell;
}
inline Cell* box(bool value) { return make_at(stack::arguments(), value); }
inline Cell* push(bool value) { return make_at(stack::push_next(), value); }

}  // namespace oka::logic
