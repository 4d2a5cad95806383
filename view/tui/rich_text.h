/* Rich text on character cells: the text of a rich-text face as a run of styled cells, one per
   character, on the face's background, with the styles of its data applied (the records that
   rtd-layout makes: a pair of start and length, then colours, bold, italic, underline, strike, backdrop
   and a colour; font names and sizes change nothing on cells).

   Rules: a run is a C++ array of plain cells: it holds nothing the collector must see. A style block is
   read through its node at each step; its errors are the draw dialect's (draw-invalid). */
#pragma once

#include <vector>

#include "runtime/cell.h"
#include "view/tui/screen.h"

namespace oka::draw {

// The styled cells of a rich-text face: none when its text is not a string!, is empty, or its data is
// not a block!.
std::vector<gui::ScreenCell> rich_text_cells(const Cell& face);

// Applies a style block from its head to the cells of a text, one cell per character: a range (a
// pair! of 1-based start and length, cut to the text) and then the styles given to it.
void parse_rich_text(std::vector<gui::ScreenCell>& cells, const Cell& styles);

}  // namespace oka::draw
