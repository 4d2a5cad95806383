/* Faces drawn into the screen: the widget tree of the active window, each face with its background,
   image cells, ui text, own text (aligned, or a dim hint in its place) and draw block, clipped to its
   parent; the look of the face types that have one of their own (fields with the text cursor, group
   boxes with their frame, caret hosts); and the redraw of the screen once per loop cycle.

   Three seams let the draw dialect and the rich-text styles in: face_drawer runs a face's draw block
   into the screen within its clip, image_drawer runs a draw block on an image, and styled_text_builder
   makes the styled cells of a rich-text face. While they are not set, a draw block draws nothing and a
   rich-text face shows its text plainly.

   Rules: rendering reads faces and writes cells; a seam may run language code, so no Widget* is kept
   across one (view/tui/widgets.h). */
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "view/tui/screen.h"
#include "view/tui/widgets.h"

namespace oka::gui {

// Renders the active window and flushes it, when a redraw is due and the screen is shown.
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
// Rebuilds the styled cells of a rich-text widget (through styled_text_builder).
void build_styled_cells(WidgetId id);

using FaceDrawer = void (*)(WidgetId id, int x, int y, const Rect& clip);
using StyledTextBuilder = void (*)(const Cell& face, std::vector<ScreenCell>& cells);
using ImageDrawer = void (*)(const Cell& image, const Cell& commands);
inline FaceDrawer face_drawer = nullptr;
inline StyledTextBuilder styled_text_builder = nullptr;
inline ImageDrawer image_drawer = nullptr;

}  // namespace oka::gui
