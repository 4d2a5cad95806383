#include "view/tui/render.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/image.h"
#include "datatypes/series.h"
#include "runtime/image_store.h"
#include "view/tui/draw.h"
#include "view/tui/faces.h"
#include "view/tui/rich_text.h"
#include "view/tui/text.h"

namespace oka::gui {

namespace {

constexpr uint32_t kLowerHalfBlock = 0x2584;
constexpr uint32_t kUpperHalfBlock = 0x2580;

Rect intersect(const Rect& a, const Rect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

// A face colour as a colour value: the default for none.
uint32_t colour_of(const Cell& value) {
    uint32_t colour;
    return colour_word(value, colour) ? rgb_to_xterm256(colour) : 0;
}

uint32_t font_colour(const Cell& face) {
    Cell font = facet(face, GuiWord::font);
    return font.is(Type::Object) ? colour_of(facet(font, GuiWord::color)) : 0;
}

bool non_empty_string_q(const Cell& value) { return value.is(Type::String) && series::rs_length_q(value) > 0; }

// Draws the widget, then the widgets of its face's pane within its clip.
void render_tree(WidgetId id, int x, int y, const Rect& within) {
    Widget* w = widget(id);
    if (!w || (w->flags & kWidgetHidden)) return;
    Rect clip = clip_rect(x, y, *w, within);
    Cell face = w->face;
    w->kind->render(x, y, id, clip);
    if (clip.empty()) return;
    Cell pane = facet(face, GuiWord::pane);
    if (!pane.is(Type::Block)) return;
    for (uint32_t i = pane.head(); i < series::rs_buffer_length_q(pane); i++) {
        WidgetId child = face_handle(*block::rs_abs_at(pane, i));
        Widget* c = widget(child);
        if (c) render_tree(child, x + int(c->left), y + int(c->top), clip);
    }
}

void draw_image_cells(const Widget& w, int x, int y, const Rect& clip) {
    if (w.image_width <= 0) return;
    int rows = int(w.image_cells.size()) / w.image_width;
    for (int row = 0; row < rows; row++)
        draw_text(styled_run_of(&w.image_cells[size_t(row * w.image_width)], uint32_t(w.image_width)), x, y + row, clip,
                  {});
}

}  // namespace

Rect clip_rect(int x, int y, const Widget& w, const Rect& within) {
    return intersect({x, y, x + w.width(), y + w.height()}, intersect(within, screen_rect()));
}

void render_face(int x, int y, WidgetId id, uint32_t text_flags, const Rect& clip) {
    Widget* w = widget(id);
    if (!w || clip.empty()) return;
    Cell face = w->face;
    TextAttributes attributes = {text_flags, para_flags(face), font_colour(face),
                                 colour_of(facet(face, GuiWord::color))};
    if (w->flags & kMaskedText) attributes.text_flags |= kMasked;
    fill_rect(clip, attributes.bg);
    draw_image_cells(*w, x, y, clip);
    if (w->ui.is(Type::String)) draw_text(text_run_of(w->ui), x, y, clip, attributes);
    if (!(text_flags & kNoFaceText)) {
        Cell text = facet(face, GuiWord::text);
        TextRun run;
        if (!w->styled_cells.empty()) {
            run = styled_run_of(w->styled_cells.data(), uint32_t(w->styled_cells.size()));
        } else if (non_empty_string_q(text)) {
            run = text_run_of(text);
        } else if (Cell hint = option(face, GuiWord::hint); hint.is(Type::String)) {
            run = text_run_of(hint);
            attributes.text_flags |= kDim;
        }
        int wrap_width = (attributes.para_flags & kWrap) ? w->width() : -1;
        Offset at = align_text(measure_text(run, wrap_width), w->width(), w->height(), attributes.para_flags);
        draw_text(run, x + at.x, y + at.y, clip, attributes);
    }
    draw::Target target = {x, y, clip, text_flags, attributes.bg, {}};
    draw::do_draw(target, facet(face, GuiWord::draw));
}

void render_nothing(int, int, WidgetId, const Rect&) {}

void render_face_widget(int x, int y, WidgetId id, const Rect& clip) {
    Widget* w = widget(id);
    if (!w) return;
    render_face(x, y, id, (w->flags & kHasFocus) ? w->kind->focused_text_flags : w->kind->text_flags, clip);
}

void render_field(int x, int y, WidgetId id, const Rect& clip) {
    render_face_widget(x, y, id, clip);
    Widget* w = widget(id);
    if (w && (w->flags & kHasFocus) && focused_widget() == id) {
        screen().cursor_x = x + w->field.column;
        screen().cursor_y = y;
    }
}

// A base that places another face's cursor is not drawn: it shows the cursor while that face has the
// focus.
void render_base(int x, int y, WidgetId id, const Rect& clip) {
    Widget* w = widget(id);
    if (!w || !(w->flags & kCaretHost)) {
        render_face_widget(x, y, id, clip);
        return;
    }
    WidgetId target = caret_target(id);
    if (Widget* shown = widget(target)) shown->flags |= kShowsCursor;
    if (target && target == focused_widget()) {
        screen().cursor_x = x;
        screen().cursor_y = y;
    }
}

void render_group_box(int x, int y, WidgetId id, const Rect& clip) {
    Widget* w = widget(id);
    if (!w) return;
    render_face(x, y, id, kNoFaceText, clip);
    Cell face = w->face;
    bool round = word_is_q(option(face, GuiWord::border_corners), GuiWord::round);
    uint32_t colour = 0;
    colour_word(option(face, GuiWord::border_color), colour);
    uint32_t frame_fg = option(face, GuiWord::border_color).is(Type::Tuple) ? rgb_to_xterm256(colour) : 0;
    uint32_t bg = colour_of(facet(face, GuiWord::color));
    int right = x + w->width() - 1, bottom = y + w->height() - 1;
    auto put = [&](int cx, int cy, uint32_t ch) {
        if (cx >= clip.left && cx < clip.right && cy >= clip.top && cy < clip.bottom)
            put_cell(cx, cy, {ch, bg, frame_fg, 0});
    };
    for (int cx = x + 1; cx < right; cx++) {
        put(cx, y, 0x2500);
        put(cx, bottom, 0x2500);
    }
    for (int cy = y + 1; cy < bottom; cy++) {
        put(x, cy, 0x2502);
        put(right, cy, 0x2502);
    }
    put(x, y, round ? 0x256D : 0x250C);
    put(right, y, round ? 0x256E : 0x2510);
    put(x, bottom, round ? 0x2570 : 0x2514);
    put(right, bottom, round ? 0x256F : 0x2518);
    Cell title = facet(face, GuiWord::text);
    if (title.is(Type::String)) {
        Rect line = intersect(clip, {x + 1, y, right, y + 1});
        draw_text(text_run_of(title), x + 1, y, line, {kTextEscapes, 0, font_colour(face), bg});
    }
}

void make_image_cells(const Cell& image, int width, int height, std::vector<ScreenCell>& cells) {
    cells.assign(size_t(width) * size_t(height), ScreenCell{});
    const os_image::Record& record = os_image::record(image::pixels_of(image));
    if (record.width == 0 || record.height == 0) return;
    auto pixel = [&](int px, int py) {
        uint32_t sx = uint32_t(int64_t(px) * record.width / width);
        uint32_t sy = uint32_t(int64_t(py) * record.height / (2 * height));
        return record.pixels[size_t(sy) * record.width + sx];
    };
    for (int row = 0; row < height; row++) {
        for (int x = 0; x < width; x++) {
            uint32_t upper = pixel(x, 2 * row), lower = pixel(x, 2 * row + 1);
            ScreenCell& cell = cells[size_t(row) * size_t(width) + size_t(x)];
            bool upper_shows = upper >> 24 != 0, lower_shows = lower >> 24 != 0;
            if (!upper_shows && !lower_shows) {
                cell = {' ', 0, 0, 0};
            } else if (!lower_shows) {
                cell = {kUpperHalfBlock, 0, pixel_colour(upper), 0};
            } else if (!upper_shows) {
                cell = {kLowerHalfBlock, 0, pixel_colour(lower), 0};
            } else {
                cell = {kLowerHalfBlock, pixel_colour(upper), pixel_colour(lower), 0};
            }
        }
    }
}

void build_styled_cells(WidgetId id) {
    Widget* w = widget(id);
    if (!w) return;
    std::vector<ScreenCell> cells = draw::rich_text_cells(w->face);
    if ((w = widget(id))) w->styled_cells = std::move(cells);
}

void refresh_screen() {
    Screen& s = screen();
    if (!s.fullscreen && s.top_row + s.height > s.console_height) s.top_row = std::max(s.console_height - s.height, 0);
    if (!s.dirty || !s.in_screen) return;
    WidgetId window = active_window();
    Widget* w = widget(window);
    if (!w) {
        s.dirty = false;
        return;
    }
    size_screen_buffer(w->width(), w->height());
    clear_screen_buffer();
    s.cursor_x = s.cursor_y = -1;
    render_tree(window, 0, 0, screen_rect());
    // Without a terminal the frame is built all the same (its cells are the view's state) but not written:
    // standard output gets no escape sequence.
    if (!s.terminal) {
        s.dirty = false;
        return;
    }
    if (s.cursor_x < 0) hide_cursor();
    flush_screen();
    if (s.cursor_x >= 0) show_cursor();
}

}  // namespace oka::gui
