/* datatype!: a value naming a type. Payload word 1 holds the type id it names. */
#pragma once

#include "runtime/cell.h"

namespace oka::datatype {

void init();

Cell* make_at(Cell* cell, Type type);
Cell* push(Type type);
Cell* make_in(const Cell& block, Type type);

}  // namespace oka::datatype
