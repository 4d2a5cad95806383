/* percent!: a float! shown as a percentage. The cell holds the fraction as float! holds its double
   (50% is 0.5); every action but form and mold is float!'s, which also gives the type of mixed
   results: a percent on the left keeps its type.

   Rules: the cell is float!'s (the double in payload words 2 and 3), so that float! code reads a
   percent as it reads a float. Nothing here allocates but the writers of text. */
#pragma once

#include "runtime/cell.h"

namespace oka::percent {

// Registers percent! (after float!).
void init();

inline Cell* make_at(Cell* cell, double fraction) {
    *cell = Cell::of(Type::Percent);
    cell->set_f64(fraction);
    return cell;
}

}  // namespace oka::percent
