/* triple!: three signed 32-bit integers in payload words 1, 2 and 3. The datatype has no constructor:
   the code that needs a triple fills the cell itself. Only form and mold are supported. */
#pragma once

#include "runtime/cell.h"

namespace oka::triple {

// Registers triple!.
void init();

}  // namespace oka::triple
