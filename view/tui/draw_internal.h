/* What the draw dialect, its raster and the rich-text styles share: the keywords of both dialects, points,
   and the raster's drawing of each shape. */
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace oka::draw {

struct Point {
    int32_t x, y;
};

enum class Keyword : uint8_t {
    none,
#define OKA_DRAW_WORD(Name, text) Name,
#include "view/tui/draw_words.def"
};

// Makes the symbols of the keywords, once; interning allocates, so it runs before a walk begins.
void learn_keywords();

// The keyword a value of type `type` (word! by default) spells, letter case ignored; none for another
// value or word.
Keyword keyword_of(const Cell& value, Type type = Type::Word);

// A colour tuple as a face colour word: R, G and B in its low bytes, the alpha byte (255 fully
// transparent) on top; 0 for the bytes a tuple lacks.
uint32_t colour_of(const Cell& tuple);

// The value of a word, or an unset! cell for a word that has none (unbound, or of a function that is
// not running): a dialect looks words up without raising the language's errors.
Cell value_of_word(const Cell& word);

// ---- the raster: each shape drawn with the target's pens, inside its clip rectangle

struct Target;

namespace raster {
void line(const Target& target, Point from, Point to);
// The two corners in any order, both included.
void box(const Target& target, Point corner1, Point corner2);
void triangle(const Target& target, Point a, Point b, Point c);
// Radii across and down, at least 0: a circle is an ellipse twice as wide as high, as a cell is about
// twice as high as wide.
void ellipse(const Target& target, Point centre, int64_t across, int64_t down);
void text(const Target& target, Point at, const Cell& string);
// A face's text, placed in the face's size at `at` by its paragraph settings and kept inside that size.
void face_text(const Target& target, Point at, const Cell& face);
}  // namespace raster

}  // namespace oka::draw
