/* block!: the series of value cells. A block cell holds its head index in payload word 1 and its node
   in word 2. */
#pragma once

#include "runtime/cell.h"

namespace oka::block {

inline Cell* make_at(Cell* cell, Node node, uint32_t head = 0) {
    *cell = Cell{uint8_t(Type::Block), head, node, 0};
    return cell;
}

}  // namespace oka::block
