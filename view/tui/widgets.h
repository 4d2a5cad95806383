/* Widgets: the back end's record behind every shown face, and the windows they belong to.

   A widget holds its face's rectangle in cells (relative to its parent; a window's own offset is 0x0),
   its state bits, a copy of the face, the text that replaces the face's text when drawn (`ui`), and
   what its face type keeps (a window's record, a field's cursor, a text-list's first visible line,
   image cells, styled cells). Widgets form the tree of the faces: a widget's children are the widgets
   of the faces in its face's pane. What each face type draws and does with events and updates is one
   row of a table of kinds.

   A face reaches its widget through the handle! in slot 1 of its state: the handle's value holds the
   widget's index and the generation of its slot, so a handle that outlives its widget finds nothing.

   Windows: the window list, the active window (the one drawn), and per window its focused widget; the
   back end's focused widget is the active window's.

   Rules: widgets live in one C++ table that grows as they are made: never keep a Widget* across
   anything that may make a widget or run language code (an actor, a change handler); keep the WidgetId
   and look it up again. The collector keeps each widget's face and ui string (a mark callback).
   Dispatching an event may run any code, which may destroy the widget it was sent to. */
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "view/tui/screen.h"

namespace oka::gui {

// A widget's handle: its index + 1 in bits 0-19, its slot's generation in bits 20-30; 0 is none.
using WidgetId = uint32_t;
inline constexpr WidgetId kNoWidget = 0;

enum WidgetFlag : uint32_t {
    kSizeIsPair = 0x10000,
    kWidgetHidden = 0x20000,
    kWidgetDisabled = 0x40000,  // receives no events
    kAllOverEvents = 0x100000,  // gets over on every pointer move
    kShowsCursor = 0x200000,    // shows the terminal's text cursor when focused
    kFocusable = 0x400000,
    kPointerInside = 0x1000000,
    kHasFocus = 0x2000000,
    kMaskedText = 0x10000000,
    kFullscreenWindow = 0x40000000,
    kCaretHost = 0x80000000,  // a base that only places the cursor of another face
};

struct WindowRecord {
    WidgetId focused = kNoWidget;
    int cursor_widgets = 0;  // widgets in it that show a text cursor
    float content[4] = {};   // left, top, right, bottom: grows to cover every child
};

// A field's cursor: the character index, the cell column, and the text's width in cells.
struct FieldCursor {
    uint32_t index = 0;
    int column = 0;
    int width = 0;
};

struct WidgetKind;

struct Widget {
    uint32_t generation = 0;
    bool live = false;
    const WidgetKind* kind = nullptr;
    uint32_t flags = 0;
    float left = 0, top = 0, right = 0, bottom = 0;
    WidgetId parent = kNoWidget;
    Cell face{};  // a copy of the face
    Cell ui{};    // none, or a string drawn in place of the face's text
    WindowRecord window;
    FieldCursor field;
    int first_line = 0;                   // a text-list's first visible line
    std::vector<ScreenCell> image_cells;  // an image face's cells, image_width a row
    int image_width = 0;
    std::vector<ScreenCell> styled_cells;  // a rich-text face's text
    Cell caret_face{};                     // a caret host's face that shows the cursor

    int width() const { return int(right - left); }
    int height() const { return int(bottom - top); }
};

// The widget of a handle, or null when it is gone (or the handle is none).
Widget* widget(WidgetId id);
// The widget of a face (from its state), kNoWidget when it has none.
WidgetId face_handle(const Cell& face);
// The handle! of a widget, made at `cell`.
Cell* make_handle(Cell* cell, WidgetId id);

// The window widget a widget belongs to (itself for a window).
WidgetId window_of(WidgetId id);
const std::vector<WidgetId>& windows();
WidgetId active_window();
WidgetId focused_widget();
// The widget of the face with the caret that `host` (a caret host) places, kNoWidget when none.
WidgetId caret_target(WidgetId host);

// ---- what the platform routines do

WidgetId make_view(const Cell& face, WidgetId parent);
void update_view(const Cell& face);
void update_facet(const Cell& owner, const Cell& word, const Cell& value, const Cell& action, const Cell* new_value,
                  int32_t index, int32_t part);
void destroy_view(const Cell& face, bool empty);
void show_window(WidgetId window);
// Marks the screen dirty when the widget belongs to the active window.
void redraw(WidgetId id);

// Moves the focus to `id`: the old focused widget gets unfocus, the new one focus.
void set_focus(WidgetId id);
bool has_focus_q(WidgetId id);
// Stores `string` (a string! or none) as the widget's ui text.
void set_widget_ui(WidgetId id, const Cell& string);

// Frees every widget and window (the end of the outermost event loop).
void release_all();

// The events of a widget's own handling and of the event loop.
struct EventData {
    int32_t x = 0, y = 0;                       // the offset, relative to the widget
    int32_t key = 0;                            // a code point, or a negative special key code
    Cell picked{uint8_t(Type::None), 0, 0, 0};  // an integer!, or the wheel's delta as a float!; none for 0
    uint32_t flags = 0;                         // event flag bits; 0x1 for a named key
};

// What a face type does: how it draws (its text flags), its own handling of events (true when it
// handled the event), and what it rebuilds after each update.
struct WidgetKind {
    uint32_t text_flags;
    uint32_t focused_text_flags;  // the text flags while it has the focus
    bool (*on_event)(WidgetId id, int type, const EventData& event);
    void (*update)(WidgetId id);
    void (*render)(int x, int y, WidgetId id, const Rect& clip);
};

}  // namespace oka::gui
