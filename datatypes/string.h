/* string!: the text series. A string cell holds its head index in payload word 1 and its node in
   word 2; the buffer stores code points in units of 1, 2 or 4 bytes (flags bits 0-4).

   The routines here take string cells; any of them may allocate, so a cell passed in must be rooted
   (on the data stack or in a rooted block) and no buffer pointer is kept across them. */
#pragma once

#include "runtime/cell.h"

namespace oka::string {

// Makes `cell` an empty unit-1 string! with room for `size` code points (1 when 0 is given).
Cell* rs_make_at(Cell* cell, uint32_t size);

// Appends the bytes of an ASCII literal, one code point each.
void concatenate_literal(Cell* string, const char* text, uint32_t length);

// Appends a token's text and returns the budget left; with `all` the text is written in construction
// syntax, between "#(" and ")".
int32_t write_token(Cell* buffer, const char* text, bool all, int32_t part);

// Lowers the tail to the unit index `limit` (counted from the buffer's first unit) when that lies
// below the capacity; never raises it.
void clip_tail(Cell* string, int32_t limit);

}  // namespace oka::string
