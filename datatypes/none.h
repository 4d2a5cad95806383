/* none! and unset!: the values that stand for nothing. Neither carries a payload. */
#pragma once

#include "evaluator/stack.h"

namespace oka {

namespace none {
inline Cell* make_at(Cell* cell) {
    *cell = Cell{uint8_t(Type::None), 0, 0, 0};
    return cell;
}
inline Cell* box() { return make_at(stack::arguments()); }
inline Cell* push() { return make_at(stack::push_next()); }
}  // namespace none

namespace unset {
inline Cell* make_at(Cell* cell) {
    *cell = Cell{uint8_t(Type::Unset), 0, 0, 0};
    return cell;
}
inline Cell* box() { return make_at(stack::arguments()); }
inline Cell* push() { return make_at(stack::push_next()); }
}  // namespace unset

}  // namespace oka
