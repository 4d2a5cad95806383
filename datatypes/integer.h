/* integer!: a 32-bit signed integer held in payload word 2. Arithmetic never wraps (results that
   leave the range become float!); no operation here relies on signed overflow. */
#pragma once

#include "evaluator/stack.h"

namespace oka::integer {

void init();

inline int32_t get(const Cell& cell) { return int32_t(cell.data2); }

inline Cell* make_at(Cell* cell, int32_t value) {
    *cell = Cell{uint8_t(Type::Integer), 0, uint32_t(value), 0};
    return cell;
}
inline Cell* box(int32_t value) { return make_at(stack::arguments(), value); }
inline Cell* push(int32_t value) { return make_at(stack::push_next(), value); }
Cell* make_in(const Cell& block, int32_t value);

// Decimal text of a value, in a buffer valid until the next call.
const char* form_signed(int32_t value);
// True when a double cannot be held by an integer: beyond the 32-bit range, or NaN.
bool overflow_q(double value);

}  // namespace oka::integer
