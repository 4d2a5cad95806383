#include "evaluator/routines.h"

#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace oka::routines {

namespace {

const Entry* table = nullptr;
uint32_t rows = 0;

}  // namespace

void install(const Entry* entries, uint32_t count) {
    table = entries;
    rows = count;
}

uint32_t count() { return rows; }

void call(const Cell& routine) {
    Cell index = *function::extra(routine, function::kCode);
    uint32_t row = index.is(Type::Integer) ? uint32_t(integer::get(index)) : rows;
    if (row >= rows) fire(Err::internal_feature_na);
    if (stack::top == stack::frame_base) stack::push_next();
    table[row](stack::frame_base);
}

}  // namespace oka::routines
