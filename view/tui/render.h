/* Faces drawn into the screen: the widget tree of the active window, each face with its background,
   image cells, ui text, own text (aligned, or a dim hint in its place) and draw block, clipped to its
   parent; the look of the face types that have one of their own (fields with the text cursor, group
   boxes with their frame, caret hosts); and the redraw of the screen once per loop cycle. A face's draw
   block is drawn by the draw dialect (view/tui/draw.h), and the styled cells of a rich-text face are
   made by the rich-text styles (view/tui/rich_text.h).

   Rules: rendering reads faces and writes cells; the draw dialect and the rich-text styles may raise
   an error, so no Widget* is kept across them (view/tui/widgets.h). */
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "view/tui/screen.h"
#include "view/tui/widgets.h"

namespace oka::gui {

// Renders the active window when a redraw is due and the screen is shown, and writes it to a terminal.
void refresh_screen();

// The widget's rectangle with its top-left corner at (x, y), clipped to `within`.
Rect clip_rect(int x, int y, const Widget& w, const Rect& within);
// Draws a face at (x, y) with the text flags of view/tui/text.h.
void render_face(int x, int y, WidgetId id, uint32_t text_flags, const Rect& clip);

// The render procedures of the widget kinds.
void render_nothing(int x, int y, WidgetId id, const Rect& clip);
void render_face_widget(int x, int y, WidgetId id, const Rect& clip);
void render_field(int x, int y, WidgetId id, const Rect& clip);
void render_base(int x, int y, WidgetId id, const Rect& clip);
void render_group_box(int x, int y, WidgetId id, const Rect& clip);

// The cells of an image scaled to `width` x 2 `height` pixels: each cell shows two pixels, the upper
// as its background and the lower as its foreground of a lower half block.
void make_image_cells(const Cell& image, int width, int height, std::vector<ScreenCell>& cells);
// Rebuilds the styled cells of a rich-text widget.
void build_styled_cells(WidgetId id);

}  // namespace oka::gui
