// The draw dialect's raster on character cells: lines and outlines are full blocks in the pen colour,
// fills are blanks on the fill colour, boxes are framed with box-drawing characters, text is the text
// drawer's (a face's text aligned in the face's size). Every shape is placed from the target's origin
// and clipped to its clip rectangle.
#include <algorithm>

#include "datatypes/pair.h"
#include "view/tui/draw.h"
#include "view/tui/draw_geometry.h"
#include "view/tui/draw_internal.h"
#include "view/tui/faces.h"
#include "view/tui/text.h"

namespace oka::draw::raster {

namespace {

constexpr uint32_t kFullBlock = 0x2588;
enum Frame : uint32_t {
    kTopLeft = 0x250C,
    kTopRight = 0x2510,
    kBottomLeft = 0x2514,
    kBottomRight = 0x2518,
    kVertical = 0x2502,
    kHorizontal = 0x2500,
};

geometry::Rect area(const Target& target) {
    return {target.clip.left, target.clip.top, target.clip.right, target.clip.bottom};
}

// A point of the target as an absolute cell.
int64_t at_x(const Target& target, Point p) { return geometry::near(int64_t(target.x) + p.x); }
int64_t at_y(const Target& target, Point p) { return geometry::near(int64_t(target.y) + p.y); }

// The cell under the pen: a full block in its colour.
void pen_cell(const Target& target, int64_t x, int64_t y) {
    gui::ScreenCell* cell = gui::cell_at(int(x), int(y));
    cell->ch = kFullBlock;
    cell->fg = target.pens.pen;
}

// Cells from..to (included) of a row inside the area become blanks on the fill colour.
void fill_span(const Target& target, int64_t y, int64_t from, int64_t to) {
    gui::fill_rect({int(from), int(y), int(to) + 1, int(y) + 1}, target.pens.fill);
}

void frame_cell(const Target& target, int64_t x, int64_t y, uint32_t ch) {
    gui::ScreenCell* cell = gui::cell_at(int(x), int(y));
    cell->ch = ch;
    cell->fg = target.pens.pen;
}

// Text in the font's colour when a font gave one, else in the pen's while the pen is on, on the face's
// background.
gui::TextAttributes text_attributes(const Target& target, uint32_t para_flags) {
    const Pens& pens = target.pens;
    uint32_t fg = pens.font_colour ? pens.text_colour : pens.pen_on ? pens.pen : 0;
    return {target.text_flags | gui::kTextEscapes, para_flags, fg, target.background};
}

}  // namespace

void line(const Target& target, Point from, Point to) {
    if (!target.pens.pen_on) return;
    geometry::line(at_x(target, from), at_y(target, from), at_x(target, to), at_y(target, to), area(target),
                   [&](int64_t x, int64_t y) { pen_cell(target, x, y); });
}

void box(const Target& target, Point corner1, Point corner2) {
    int64_t left = std::min(at_x(target, corner1), at_x(target, corner2));
    int64_t right = std::max(at_x(target, corner1), at_x(target, corner2));
    int64_t top = std::min(at_y(target, corner1), at_y(target, corner2));
    int64_t bottom = std::max(at_y(target, corner1), at_y(target, corner2));
    geometry::Rect clip = area(target);
    geometry::Rect shown = {std::max(left, clip.left), std::max(top, clip.top), std::min(right + 1, clip.right),
                            std::min(bottom + 1, clip.bottom)};
    if (shown.empty()) return;
    if (target.pens.fill_on) {
        gui::fill_rect({int(shown.left), int(shown.top), int(shown.right), int(shown.bottom)}, target.pens.fill);
    }
    if (!target.pens.pen_on) return;
    // The frame runs along the box's own edges: an edge cut off by the clip rectangle is not drawn.
    for (int64_t y = shown.top; y < shown.bottom; y++) {
        bool edge_row = y == top || y == bottom;
        for (int64_t x = shown.left; x < shown.right; x++) {
            bool edge_column = x == left || x == right;
            if (!edge_row && !edge_column) {
                x = std::max(x, right - 1);  // on to the right edge
                continue;
            }
            uint32_t ch = !edge_row      ? kVertical
                          : !edge_column ? kHorizontal
                          : y == top     ? (x == left ? kTopLeft : kTopRight)
                                         : (x == left ? kBottomLeft : kBottomRight);
            frame_cell(target, x, y, ch);
        }
    }
}

void triangle(const Target& target, Point a, Point b, Point c) {
    if (target.pens.fill_on) {
        geometry::triangle_rows(at_x(target, a), at_y(target, a), at_x(target, b), at_y(target, b), at_x(target, c),
                                at_y(target, c), area(target),
                                [&](int64_t y, int64_t from, int64_t to) { fill_span(target, y, from, to); });
    }
    line(target, a, b);
    line(target, b, c);
    line(target, c, a);
}

void ellipse(const Target& target, Point centre, int64_t across, int64_t down) {
    int64_t cx = at_x(target, centre), cy = at_y(target, centre);
    across = std::min(across, geometry::kFar);
    down = std::min(down, geometry::kFar);
    geometry::Rect clip = area(target);
    if (cx + across < clip.left || cx - across >= clip.right || cy + down < clip.top || cy - down >= clip.bottom)
        return;
    geometry::ellipse(cx, cy, across, down, [&](int64_t x, int64_t y) {
        if (target.pens.pen_on && clip.contains(x, y)) pen_cell(target, x, y);
        // the fill runs from the point, left out, to the centre column
        if (target.pens.fill_on && y >= clip.top && y < clip.bottom && x != cx) {
            int64_t from = std::max(x < cx ? x + 1 : cx, clip.left);
            int64_t to = std::min(x < cx ? cx : x - 1, clip.right - 1);
            if (from <= to) fill_span(target, y, from, to);
        }
    });
}

void text(const Target& target, Point at, const Cell& string) {
    gui::draw_text(gui::text_run_of(string), int(at_x(target, at)), int(at_y(target, at)), target.clip,
                   text_attributes(target, 0));
}

void face_text(const Target& target, Point at, const Cell& face) {
    Cell string = gui::facet(face, gui::GuiWord::text);
    Cell size = gui::facet(face, gui::GuiWord::size);
    if (!string.is(Type::String) || !size.is(Type::Pair)) return;
    int64_t x = at_x(target, at), y = at_y(target, at);
    int64_t width = geometry::near(std::max(pair::x_of(size), 0)),
            height = geometry::near(std::max(pair::y_of(size), 0));
    gui::Rect clip = {int(std::max<int64_t>(x, target.clip.left)), int(std::max<int64_t>(y, target.clip.top)),
                      int(std::min<int64_t>(x + width, target.clip.right)),
                      int(std::min<int64_t>(y + height, target.clip.bottom))};
    if (clip.empty()) return;
    gui::TextAttributes attributes = text_attributes(target, gui::para_flags(face));
    gui::TextRun run = gui::text_run_of(string);
    int wrap_width = (attributes.para_flags & gui::kWrap) ? int(width) : -1;
    gui::Offset offset =
        gui::align_text(gui::measure_text(run, wrap_width), int(width), int(height), attributes.para_flags);
    gui::draw_text(run, int(x) + offset.x, int(y) + offset.y, clip, attributes);
}

}  // namespace oka::draw::raster
