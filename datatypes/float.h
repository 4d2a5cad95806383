/* float!: an IEEE 754 double held in payload words 2 and 3. */
#pragma once

#include "evaluator/stack.h"

namespace oka::float_ {

inline Cell* make_at(Cell* cell, double value) {
    *cell = Cell{uint8_t(Type::Float), 0, 0, 0};
    cell->set_f64(value);
    return cell;
}
inline Cell* box(double value) { return make_at(stack::arguments(), value); }
inline Cell* push(double value) { return make_at(stack::push_next(), value); }

}  // namespace oka::float_
