/* The draw dialect: a block of commands (pen red box 0x0 4x2 ...) that draws on a face or an image.

   The dialect checks every command and its arguments whatever the target; the text-mode raster draws
   the commands that make sense on character cells (lines, boxes, triangles, circles, ellipses, text
   and the pens) into the screen buffer, and accepts every other command without effect. An image
   target draws nothing: its block is checked only.

   Rules: a run reads its block through the block's node at each step (nothing it holds points into a
   buffer across an allocation); no user code runs during a run. A draw-invalid or draw-infinite error
   ends the whole run. A block met again inside itself is draw-infinite; the nesting depth is bounded by
   the cycle stack (datatypes/cycles.h). */
#pragma once

#include "runtime/cell.h"
#include "view/tui/screen.h"

namespace oka::draw {

// Pen, fill and text settings: what push, the transforms and clip save around their blocks. Colours are
// screen colour values (0: the terminal's default).
struct Pens {
    bool pen_on = true;
    uint32_t pen = 0;
    bool fill_on = false;
    uint32_t fill = 0;
    uint32_t text_colour = 0;
    bool font_colour = false;  // a font with a colour set the text colour: the pen leaves it alone
};

// The target of one run: a face's widget on the screen, or nothing (an image, whose block is checked
// only). Points are relative to the origin; nothing is written outside the clip rectangle.
struct Target {
    int x = 0, y = 0;         // the origin: the absolute cell of the widget's top left corner
    gui::Rect clip;           // the widget's rectangle clipped to its parent and the screen; empty: no drawing
    uint32_t text_flags = 0;  // the cell attributes text gets
    uint32_t background = 0;  // the colour value the widget's background was filled with, under text
    Pens pens;
};

// Runs a draw block on a target: the pens start anew (pen on in the default colour, fill off, no font
// colour). A value that is no block, or an empty block, draws nothing.
void do_draw(Target& target, const Cell& commands);

// Interprets the commands of a block from its head (nested blocks recursively).
void parse_draw(Target& target, const Cell& commands);

// Raises draw-infinite when `value` is the block being interpreted or one that holds it, else
// draw-invalid; the error's argument is `block` (the rest of the draw block from the offending value).
[[noreturn]] void throw_error(const Cell& block, const Cell& value);

}  // namespace oka::draw
