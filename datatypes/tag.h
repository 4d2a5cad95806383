/* tag!: markup text written between angle brackets (<b>, </a>, <a href="x">). A child of string! with
   its layout: the text is stored without the brackets, and both form and mold write them around it.
   It takes string!'s series actions, but not sort, trim or random.

   Rules: as string!'s (datatypes/string.h): form and mold allocate. */
#pragma once

#include "runtime/cell.h"

namespace oka::tag {

// Registers tag! (after string!).
void init();

}  // namespace oka::tag
