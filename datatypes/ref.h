/* ref!: a reference written with a leading "@" (@name). A child of string! with its layout: the text
   is stored without the "@". It forms as its text and molds with the "@"; it takes string!'s
   series actions but append, put, sort and trim (insert works), and no path access.

   Rules: as string!'s (datatypes/string.h): mold allocates. */
#pragma once

#include "runtime/cell.h"

namespace oka::ref {

// Registers ref! (after string!).
void init();

}  // namespace oka::ref
