/* Text in character cells: drawn into the screen (view/tui/screen.h) with clipping, alignment,
   wrapping and double-width characters, measured, and its embedded SGR escape sequences interpreted.

   A text is a TextRun: the characters of a string, read from its storage in its own unit width, or a
   run of styled cells (rich text, image cells) that bring their own colours and attributes. Lines end at
   a line feed. Every character takes the cells that char_width_q gives it (0, 1 or 2); one of width 0
   takes none.

   Escape sequences (Esc "[" parameters final) inside a string drawn with kTextEscapes set change the
   colours and attributes of the characters after them and take no cells: SGR ("m") sets them, the
   cursor and erase finals (A B C D H f J K s u) are swallowed, any other final ends the sequence
   without effect. measure_text never counts a sequence's characters as cells.

   Rules: a TextRun points into a series buffer or a C++ array: nothing between making it and the last
   use of it may allocate (nothing here does). */
#pragma once

#include <cstdint>
#include <vector>

#include "view/tui/screen.h"

namespace oka {
struct Cell;
}

namespace oka::gui {

struct TextRun {
    const uint8_t* units = nullptr;  // a string's code points, `unit` bytes each
    uint32_t unit = 1;
    const ScreenCell* cells = nullptr;  // or styled cells
    uint32_t length = 0;

    uint32_t at(uint32_t i) const;
    bool styled() const { return cells != nullptr; }
};

// The characters of a string! from its head.
TextRun text_run_of(const Cell& string);
TextRun styled_run_of(const ScreenCell* cells, uint32_t count);

// The text flags of a drawing: the low bits are cell attributes (CellAttribute) that every cell drawn
// receives, the others say how to draw.
enum TextFlag : uint32_t {
    kCellAttributeMask = 0xFFF,
    kTextEscapes = 0x1000,  // escape sequences inside the text are interpreted
    kNoFaceText = 0x2000,   // a face's own text is not drawn (its widget draws it otherwise)
};

// Paragraph flags: alignment and wrapping.
enum ParaFlag : uint32_t {
    kAlignRight = 0x1,
    kAlignCenter = 0x2,
    kAlignMiddle = 0x4,
    kAlignBottom = 0x8,
    kWrap = 0x20,
};

struct TextAttributes {
    uint32_t text_flags = 0;
    uint32_t para_flags = 0;
    uint32_t fg = 0, bg = 0;  // colour values of a string's characters
};

// Draws `text` with its first character at (x, y): cells outside `clip` (which lies inside the screen)
// are left as they are; a character that does not fit before the clip's right edge moves to the next
// row with kWrap, and ends its line without.
void draw_text(const TextRun& text, int x, int y, const Rect& clip, const TextAttributes& attributes);

struct TextSize {
    int width;  // of the widest line
    int lines;
};
// The cells of `text` when lines wrap at `max_width` (negative: never); an empty text is one line of
// width 0. A character wider than `max_width` on a line of its own ends the walk.
TextSize measure_text(const TextRun& text, int max_width);

// Where each character of `text` goes when lines wrap at `max_width` (negative: never), as
// measure_text wraps them: the column and line of character i (from 0), its width in cells (0 for a
// line feed or a character of an escape sequence), and after the last one where the next would go.
struct TextPlace {
    int column, line, width;
};
std::vector<TextPlace> place_text(const TextRun& text, int max_width);

struct Offset {
    int x, y;
};
// Where text of `size` goes in a box of `box_width` x `box_height` cells by the paragraph flags: (0, 0)
// unless it is narrower (or has fewer lines) and is centred, or aligned right (bottom).
Offset align_text(const TextSize& size, int box_width, int box_height, uint32_t para_flags);

}  // namespace oka::gui
