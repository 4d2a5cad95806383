#include "view/tui/widgets.h"

#include <algorithm>
#include <iterator>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "library/routines.h"
#include "runtime/case_folding.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "view/tui/events.h"
#include "view/tui/faces.h"
#include "view/tui/render.h"
#include "view/tui/text.h"

namespace oka::gui {

namespace {

constexpr uint32_t kIndexBits = 20;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr uint32_t kGenerationMask = 0x7FF;

std::vector<Widget> slots;
std::vector<uint32_t> free_slots;
std::vector<WidgetId> window_list;
WidgetId active = kNoWidget;
WidgetId last_window = kNoWidget;
// The widget being made: its face has no state yet, but what make_view runs (the focus events, the
// helpers that build its ui) finds the widget through the face.
WidgetId being_made = kNoWidget;
bool marking_registered = false;

// The collector keeps what the widgets hold.
void mark_widgets() {
    for (const Widget& w : slots) {
        if (!w.live) continue;
        collector::mark_value(w.face);
        collector::mark_value(w.ui);
        collector::mark_value(w.caret_face);
    }
}

WidgetId id_of(uint32_t index) { return (slots[index].generation & kGenerationMask) << kIndexBits | (index + 1); }

WidgetId new_widget() {
    if (!marking_registered) {
        collector::register_(mark_widgets);
        marking_registered = true;
    }
    uint32_t index;
    if (!free_slots.empty()) {
        index = free_slots.back();
        free_slots.pop_back();
    } else {
        index = uint32_t(slots.size());
        slots.emplace_back();
        slots.back().generation = 1;
    }
    uint32_t generation = slots[index].generation;
    slots[index] = Widget{};
    slots[index].generation = generation;
    slots[index].live = true;
    slots[index].face = slots[index].ui = slots[index].caret_face = none::value;
    return id_of(index);
}

void free_widget(WidgetId id) {
    uint32_t index = (id & kIndexMask) - 1;
    Widget& w = slots[index];
    uint32_t generation = w.generation % kGenerationMask + 1;  // 1 to 2047, never 0
    w = Widget{};
    w.generation = generation;
    free_slots.push_back(index);
}

// Frees a widget and lets go of every reference to it: the pointer's, the timers', the window list's.
void drop_widget(WidgetId id) {
    forget_widget(id);
    std::erase(window_list, id);
    if (active == id) active = kNoWidget;
    if (last_window == id) last_window = kNoWidget;
    free_widget(id);
}

// ---- reading faces

float coordinate(const Cell& value, uint32_t axis) {
    if (value.is(Type::Pair)) return float(axis == 0 ? pair::x_of(value) : pair::y_of(value));
    if (value.is(Type::Point2D)) return point::get(value, axis);
    return 0;
}

bool true_q(const Cell& value) { return value.is(Type::Logic) && logic::get(value); }

// The widget flags that follow the face's flags facet.
uint32_t flags_from_face(uint32_t face_flags) {
    uint32_t flags = 0;
    if (face_flags & kFlagAllOver) flags |= kAllOverEvents;
    if (face_flags & kFlagFocusable) flags |= kFocusable;
    if (face_flags & kFlagPassword) flags |= kMaskedText;
    if (face_flags & kFlagFullscreen) flags |= kFullscreenWindow;
    return flags;
}

// ---- TUI-helpers

// Calls TUI-helpers/<name> on the face; its result stays on the data stack at the returned cell
// (none when there is no such helper).
Cell* call_helper(std::string_view name, const Cell& face) {
    std::string path = "TUI-helpers/" + std::string(name);
    Cell* result = stack::push(face);
    BufPtr<Cell> found = library::find_field_cell(path);
    if (!found || !found->is(Type::Function)) {
        none::make_at(result);
        return result;
    }
    Cell* function = stack::push(*found);
    Cell* arguments = stack::push(face);
    interpreter::call_function(*function, arguments, 1, word::load(name));
    *result = *arguments;
    stack::top = result + 1;
    return result;
}

void run_helper(std::string_view name, WidgetId id) {
    Widget* w = widget(id);
    if (!w) return;
    Cell* saved = stack::top;
    call_helper(name, w->face);
    stack::top = saved;
}

// ---- the kinds of widgets

void update_progress(WidgetId id) { run_helper("make-progress-ui", id); }
void update_check(WidgetId id) { run_helper("make-checkbox-ui", id); }
void update_radio(WidgetId id) { run_helper("make-radio-ui", id); }
void update_text_list(WidgetId id) { run_helper("make-text-list-ui", id); }
void update_rich_text(WidgetId id) { build_styled_cells(id); }

bool no_events(WidgetId, int, const EventData&) { return false; }

bool button_event(WidgetId id, int type, const EventData& event) {
    if (type != int(EventType::key) || event.key != ' ' || (event.flags & kNamedKey)) return false;
    dispatch_event(id, EventType::click, EventData{});
    return true;
}

// Space or a click toggles a check box (none becomes true, any other value but a logic! false) and
// sets a radio button; the face then gets change.
bool toggle_event(WidgetId id, int type, const EventData& event, bool radio) {
    bool space = type == int(EventType::key) && event.key == ' ' && !(event.flags & kNamedKey);
    if (!space && type != int(EventType::click)) return false;
    Widget* w = widget(id);
    if (!w) return false;
    Cell face = w->face;
    Cell data = facet(face, GuiWord::data);
    bool on = radio || data.is(Type::None) || (data.is(Type::Logic) && !logic::get(data));
    set_facet_quiet(face, GuiWord::data, on ? logic::true_value : logic::false_value);
    (radio ? update_radio : update_check)(id);
    redraw(id);
    dispatch_event(id, EventType::change, EventData{});
    return true;
}

bool check_event(WidgetId id, int type, const EventData& event) { return toggle_event(id, type, event, false); }
bool radio_event(WidgetId id, int type, const EventData& event) { return toggle_event(id, type, event, true); }

// ---- fields

// The characters of the face's text, from its head (a new empty string when it is none).
Cell field_text(const Cell& face) {
    Cell text = facet(face, GuiWord::text);
    if (text.is(Type::String)) return text;
    Cell* made = string::rs_make_at(stack::push_next(), 16);
    set_facet_quiet(face, GuiWord::text, *made);
    text = *made;
    stack::top--;
    return text;
}

int text_width(const Cell& text, uint32_t from, uint32_t to) {
    int width = 0;
    for (uint32_t i = from; i < to; i++) width += char_width_q(string::rs_abs_at(text, text.head() + i));
    return width;
}

// Brings the field's cursor record in step with its text, the cursor kept inside it.
void measure_field(Widget& w, const Cell& text) {
    uint32_t length = series::rs_length_q(text);
    w.field.index = std::min(w.field.index, length);
    w.field.column = text_width(text, 0, w.field.index);
    w.field.width = text_width(text, 0, length);
}

bool field_event(WidgetId id, int type, const EventData& event) {
    Widget* w = widget(id);
    if (!w) return false;
    Cell face = w->face;
    if (type == int(EventType::click)) {
        Cell text = field_text(face);
        w = widget(id);
        uint32_t length = series::rs_length_q(text);
        uint32_t index = 0;
        for (int column = 0; index < length; index++) {
            column += char_width_q(string::rs_abs_at(text, text.head() + index));
            if (column > event.x) break;
        }
        w->field.index = index;
        measure_field(*w, text);
        redraw(id);
        return true;
    }
    if (type != int(EventType::key)) return false;
    int32_t key = event.key;
    bool named = event.flags & kNamedKey;
    if (!named && (key == 0 || key == 9 || key == 13)) return false;  // the script's handlers take them
    Cell text = field_text(face);
    w = widget(id);
    uint32_t length = series::rs_length_q(text);
    uint32_t& index = w->field.index;
    if ((named && key == kKeyLeft) || (!named && key == 2)) {
        if (index > 0) index--;
    } else if ((named && key == kKeyRight) || (!named && key == 6)) {
        if (index < length) index++;
    } else if (named && key == kKeyHome) {
        index = 0;
    } else if (named && key == kKeyEnd) {
        index = length;
    } else if (!named && (key == 8 || key == 127)) {
        if (index == 0) return true;
        index--;
        string::remove_char(text.node(), text.head() + index);
    } else if (named && key == kKeyDelete) {
        if (index < length) string::remove_char(text.node(), text.head() + index);
    } else if (named || key < 32) {
        return !named;  // other control characters are swallowed; other named keys go on
    } else {
        // the field does not scroll: its text keeps within its width
        if (w->field.width + char_width_q(uint32_t(key)) > w->width()) return true;
        uint32_t at = text.head() + index;
        index++;
        string::insert_char(text.node(), at, uint32_t(key));
        w = widget(id);
    }
    measure_field(*w, text);
    redraw(id);
    return true;
}

// ---- text-lists

uint32_t list_length(const Cell& face) {
    Cell data = facet(face, GuiWord::data);
    return data.is(Type::Block) || data.is(Type::Hash) || data.is(Type::Map) ? series::rs_length_q(data) : 0;
}

// Selects line `line` (from 1): select goes to the face (picked: the line), and change unless select
// was stopped.
void select_line(WidgetId id, int32_t line, int32_t old) {
    Widget* w = widget(id);
    if (!w || line == old) return;
    Cell face = w->face;
    EventData select;
    integer::make_at(&select.picked, line);
    bool stopped = dispatch_event(id, EventType::select, select);
    w = widget(id);
    if (!w) return;
    Cell selected = facet(face, GuiWord::selected);
    if (selected.is(Type::Integer) && integer::get(selected) == old) {
        Cell value;
        set_facet_quiet(face, GuiWord::selected, *integer::make_at(&value, line));
        update_text_list(id);
    }
    redraw(id);
    if (!stopped) dispatch_event(id, EventType::change, EventData{});
}

bool text_list_event(WidgetId id, int type, const EventData& event) {
    Widget* w = widget(id);
    if (!w) return false;
    Cell face = w->face;
    int32_t count = int32_t(list_length(face));
    Cell selected = facet(face, GuiWord::selected);
    int32_t old = selected.is(Type::Integer) ? integer::get(selected) : 0;
    int32_t line = old;
    int visible = std::max(w->height(), 1);
    if (type == int(EventType::click)) {
        line = std::min(w->first_line + event.y + 1, count);
        if (!selected.is(Type::Integer)) {
            Cell value;
            set_facet_quiet(face, GuiWord::selected, *integer::make_at(&value, old));
        }
    } else if (type == int(EventType::key) && (event.flags & kNamedKey) && event.key == kKeyUp) {
        line = std::max(old - 1, 1);
        if (line - 1 < w->first_line) w->first_line = line - 1;
    } else if (type == int(EventType::key) && (event.flags & kNamedKey) && event.key == kKeyDown) {
        line = std::min(old + 1, count);
        if (line - 1 >= w->first_line + visible) w->first_line = line - visible;
    } else {
        return false;
    }
    if (line < 1) return true;
    select_line(id, line, old);
    return true;
}

// Redraws a widget whose look depends on the focus.
bool redraw_on_focus(WidgetId id, int type, const EventData&) {
    if (type == int(EventType::focus) || type == int(EventType::unfocus)) redraw(id);
    return false;
}

bool check_events(WidgetId id, int type, const EventData& event) {
    return redraw_on_focus(id, type, event) || check_event(id, type, event);
}
bool radio_events(WidgetId id, int type, const EventData& event) {
    return redraw_on_focus(id, type, event) || radio_event(id, type, event);
}
bool text_list_events(WidgetId id, int type, const EventData& event) {
    if (type == int(EventType::focus)) update_text_list(id);  // the selection shows once it has the focus
    return redraw_on_focus(id, type, event) || text_list_event(id, type, event);
}

struct KindRow {
    GuiWord type;
    WidgetKind kind;
};

constexpr uint32_t kFaceText = kTextEscapes;
constexpr uint32_t kOwnText = kTextEscapes | kNoFaceText;

const KindRow kKinds[] = {
    {GuiWord::window, {0, 0, no_events, nullptr, render_nothing}},
    {GuiWord::base, {kFaceText, kFaceText, no_events, nullptr, render_base}},
    {GuiWord::field, {kFaceText, kFaceText, field_event, nullptr, render_field}},
    {GuiWord::button, {kFaceText, kFaceText | kReverse, button_event, nullptr, render_face_widget}},
    {GuiWord::check, {kOwnText, kOwnText | kReverse, check_events, update_check, render_face_widget}},
    {GuiWord::radio, {kOwnText, kOwnText | kReverse, radio_events, update_radio, render_face_widget}},
    {GuiWord::progress, {0, 0, no_events, update_progress, render_face_widget}},
    {GuiWord::text_list, {kFaceText, kFaceText, text_list_events, update_text_list, render_face_widget}},
    {GuiWord::group_box, {kNoFaceText, kNoFaceText, no_events, nullptr, render_group_box}},
    {GuiWord::rich_text, {kFaceText, kFaceText, no_events, update_rich_text, render_face_widget}},
};
const WidgetKind kDefaultKind = {kFaceText, kFaceText, no_events, nullptr, render_face_widget};

const WidgetKind* kind_of_face(const Cell& face) {
    uint32_t type = face_type(face);
    for (const KindRow& row : kKinds)
        if (type && same_word_q(type, id(row.type))) return &row.kind;
    return &kDefaultKind;
}

bool kind_q(const Widget& w, GuiWord type) {
    for (const KindRow& row : kKinds)
        if (row.type == type) return w.kind == &row.kind;
    return false;
}

// ---- windows and focus

WindowRecord* record_of(WidgetId window) {
    Widget* w = widget(window);
    return w && kind_q(*w, GuiWord::window) ? &w->window : nullptr;
}

void grow_content(WidgetId window, const Widget& child) {
    WindowRecord* record = record_of(window);
    if (!record) return;
    record->content[0] = std::min(record->content[0], child.left);
    record->content[1] = std::min(record->content[1], child.top);
    record->content[2] = std::max(record->content[2], child.right);
    record->content[3] = std::max(record->content[3], child.bottom);
}

void remove_from_parent_block(const Cell& sub, const Cell& face) {
    Cell parents = facet(sub, GuiWord::parent);
    if (!parents.is(Type::Block)) return;
    for (uint32_t i = parents.head(); i < series::rs_buffer_length_q(parents); i++) {
        Cell entry = *block::rs_abs_at(parents, i);
        if (entry.is(Type::Object) && entry.context() == face.context()) {
            series::resize_range(parents.node(), i, 1, 0);
            return;
        }
    }
}

// Frees the widget of a face and those of its pane, depth first.
void destroy_tree(const Cell face) {
    Cell pane = facet(face, GuiWord::pane);
    if (pane.is(Type::Block)) {
        for (uint32_t i = pane.head(); i < series::rs_buffer_length_q(pane); i++) {
            Cell child = *block::rs_abs_at(pane, i);
            if (child.is(Type::Object)) destroy_tree(child);
        }
    }
    WidgetId id = face_handle(face);
    if (!widget(id)) return;
    remove_timer(id);
    remove_from_parent_block(facet(face, GuiWord::font), face);
    remove_from_parent_block(facet(face, GuiWord::para), face);
    drop_widget(id);
    set_facet_quiet(face, GuiWord::state, none::value);
}

// The image cells of an image face.
void fill_image_cells(WidgetId id) {
    Widget* w = widget(id);
    if (!w) return;
    Cell image = facet(w->face, GuiWord::image);
    if (!image.is(Type::Image)) {
        w->image_cells.clear();
        w->image_width = 0;
        return;
    }
    make_image_cells(image, std::max(w->width(), 0), std::max(w->height(), 0), w->image_cells);
    w->image_width = std::max(w->width(), 0);
}

void start_timer(WidgetId id) {
    Widget* w = widget(id);
    if (!w) return;
    Cell rate = facet(w->face, GuiWord::rate);
    remove_timer(id);
    if (!rate.is(Type::None)) add_timer(id, rate_millis(rate));
}

void read_rect(Widget& w, const Cell& face, bool window) {
    Cell offset = facet(face, GuiWord::offset);
    Cell size = facet(face, GuiWord::size);
    if (size.is(Type::Pair)) w.flags |= kSizeIsPair;
    w.left = window ? 0 : coordinate(offset, 0);
    w.top = window ? 0 : coordinate(offset, 1);
    w.right = w.left + coordinate(size, 0);
    w.bottom = w.top + coordinate(size, 1);
}

}  // namespace

// ---- handles

Widget* widget(WidgetId id) {
    uint32_t index = (id & kIndexMask) - 1;
    if (id == kNoWidget || index >= slots.size()) return nullptr;
    Widget& w = slots[index];
    return w.live && (w.generation & kGenerationMask) == id >> kIndexBits ? &w : nullptr;
}

WidgetId face_handle(const Cell& face) {
    if (Widget* w = widget(being_made); w && face.is(Type::Object) && w->face.context() == face.context())
        return being_made;
    Cell state = facet(face, GuiWord::state);
    if (!state.is(Type::Block) || series::rs_length_q(state) < 1) return kNoWidget;
    Cell handle = *block::rs_abs_at(state, state.head());
    if (!handle.is(Type::Handle) || handle.handle_class() != uint32_t(HandleClass::window)) return kNoWidget;
    WidgetId id = handle.handle_value();
    Widget* w = widget(id);
    return w && w->face.context() == face.context() ? id : kNoWidget;
}

Cell* make_handle(Cell* cell, WidgetId id) { return handle::make_at(cell, int32_t(id), HandleClass::window); }

WidgetId window_of(WidgetId id) {
    for (int depth = 0; depth < 1000; depth++) {
        Widget* w = widget(id);
        if (!w) return kNoWidget;
        if (kind_q(*w, GuiWord::window)) return id;
        id = w->parent;
    }
    return kNoWidget;
}

const std::vector<WidgetId>& windows() { return window_list; }
WidgetId active_window() { return active; }

WidgetId focused_widget() {
    WindowRecord* record = record_of(active);
    return record && widget(record->focused) ? record->focused : kNoWidget;
}

WidgetId caret_target(WidgetId host) {
    Widget* w = widget(host);
    return w && (w->flags & kCaretHost) ? face_handle(w->caret_face) : kNoWidget;
}

// ---- focus

bool has_focus_q(WidgetId id) {
    Widget* w = widget(id);
    return w && (w->flags & kHasFocus);
}

namespace {

// The script hears of a focus change, and then the widget itself: a text-list shows its selection.
void tell_focus(WidgetId id, EventType type) {
    dispatch_event(id, type, EventData{});
    if (Widget* w = widget(id)) w->kind->on_event(id, int(type), EventData{});
}

}  // namespace

void set_focus(WidgetId id) {
    WidgetId window = window_of(id);
    WindowRecord* record = record_of(window);
    if (!record || record->focused == id) return;
    WidgetId old = record->focused;
    record->focused = id;
    if (Widget* w = widget(old)) {
        w->flags &= ~kHasFocus;
        tell_focus(old, EventType::unfocus);
    }
    if (Widget* w = widget(id)) {
        w->flags |= kHasFocus;
        tell_focus(id, EventType::focus);
    }
    redraw(id);
}

void set_widget_ui(WidgetId id, const Cell& string) {
    if (Widget* w = widget(id)) w->ui = string.is(Type::String) ? string : none::value;
}

void redraw(WidgetId id) {
    if (window_of(id) != kNoWidget && window_of(id) == active) screen().dirty = true;
}

// ---- making, updating, destroying

WidgetId make_view(const Cell& face, WidgetId parent) {
    uint32_t face_flags = get_flags(face);
    bool window = face_type_q(face, GuiWord::window);
    WidgetId id = new_widget();
    // A widget whose making raised (a rate that is no rate, an error in a helper) is freed again.
    struct BeingMade {
        WidgetId id, outer;
        bool made = false;
        ~BeingMade() {
            being_made = outer;
            if (!made && widget(id)) drop_widget(id);
        }
    } making{id, being_made};
    being_made = id;
    Widget& w = *widget(id);
    w.face = face;
    w.kind = kind_of_face(face);
    w.flags = flags_from_face(face_flags);
    if (!true_q(facet(face, GuiWord::visible_q))) w.flags |= kWidgetHidden;
    if (!true_q(facet(face, GuiWord::enabled_q))) w.flags |= kWidgetDisabled;
    read_rect(w, face, window);
    w.parent = widget(parent) ? parent : kNoWidget;
    if (kind_q(w, GuiWord::field)) {
        w.bottom = w.top + 1;
        w.flags |= kShowsCursor;
        Cell text = facet(face, GuiWord::text);
        if (text.is(Type::String)) {
            w.field.index = series::rs_length_q(text);
            measure_field(w, text);
        }
    }
    if (kind_q(w, GuiWord::base)) {
        Cell target = option(face, GuiWord::caret);
        if (target.is(Type::Object)) {
            w.flags |= kCaretHost;
            w.caret_face = target;
            if (Widget* shown = widget(face_handle(target))) shown->flags |= kShowsCursor;
        }
    }
    if (window) {
        window_list.push_back(id);
        last_window = id;
        if (w.flags & kFullscreenWindow) screen().fullscreen = true;
        w.window.content[2] = w.right;
        w.window.content[3] = w.bottom;
    }
    WidgetId window_id = window_of(id);
    if (parent && !window) {
        Widget child = *widget(id);
        grow_content(window_id, child);
        if (WindowRecord* record = record_of(window_id)) {
            if (child.flags & kShowsCursor) record->cursor_widgets++;
            if (!widget(record->focused) && (child.flags & kFocusable) &&
                !(child.flags & (kWidgetHidden | kWidgetDisabled)))
                set_focus(id);
        }
    }
    fill_image_cells(id);
    start_timer(id);
    if (Widget* made = widget(id); made && made->kind->update) made->kind->update(id);
    making.made = true;
    return id;
}

void update_view(const Cell& face) {
    WidgetId id = face_handle(face);
    if (!widget(id)) return;
    Cell state = facet(face, GuiWord::state);
    Cell bits_cell = series::rs_length_q(state) >= 2 ? *block::rs_abs_at(state, state.head() + 1) : none::value;
    uint32_t bits = bits_cell.is(Type::Integer) ? uint32_t(integer::get(bits_cell)) : 0;
    bool window = face_type_q(face, GuiWord::window);
    if (bits & kChangedRate) start_timer(id);
    Widget* w = widget(id);
    if (!w) return;
    if (bits & kChangedOffset && !window) {
        Cell offset = facet(face, GuiWord::offset);
        float width = w->right - w->left, height = w->bottom - w->top;
        w->left = coordinate(offset, 0);
        w->top = coordinate(offset, 1);
        w->right = w->left + width;
        w->bottom = w->top + height;
    }
    if (bits & kChangedSize) {
        Cell size = facet(face, GuiWord::size);
        w->right = w->left + coordinate(size, 0);
        w->bottom = kind_q(*w, GuiWord::field) ? w->top + 1 : w->top + coordinate(size, 1);
        if (window && id == active) size_screen_buffer(w->width(), w->height());
    }
    if ((bits & kChangedSelected) && window) {
        Cell selected = facet(face, GuiWord::selected);
        WidgetId target = selected.is(Type::Object) ? face_handle(selected) : id;
        if (widget(target)) set_focus(target);
    }
    w = widget(id);
    if (!w) return;
    if (bits & kChangedEnabled) {
        w->flags &= ~kWidgetDisabled;
        if (!true_q(facet(face, GuiWord::enabled_q))) w->flags |= kWidgetDisabled;
    }
    if (bits & kChangedVisible) {
        w->flags &= ~kWidgetHidden;
        if (!true_q(facet(face, GuiWord::visible_q))) w->flags |= kWidgetHidden;
    }
    if (bits & kChangedFlags) {
        uint32_t face_flags = get_flags(face);
        w = widget(id);
        w->flags &= ~(kAllOverEvents | kMaskedText);
        w->flags |= flags_from_face(face_flags) & (kAllOverEvents | kMaskedText);
    }
    if (bits & kChangedImage) fill_image_cells(id);
    if (kind_q(*widget(id), GuiWord::field)) {
        Cell text = facet(face, GuiWord::text);
        if (text.is(Type::String)) measure_field(*widget(id), text);
    }
    if (auto update = widget(id)->kind->update) {
        BufPtr<Cell> auto_sync = library::find_field_cell("system/view/auto-sync?");
        Cell saved = auto_sync ? *auto_sync : none::value;
        struct Restore {
            Cell saved;
            ~Restore() {
                if (BufPtr<Cell> cell = library::find_field_cell("system/view/auto-sync?")) *cell = saved;
            }
        } restore{saved};
        if (auto_sync) *auto_sync = logic::false_value;
        update(id);
    }
    redraw(id);
    if (series::rs_length_q(state) >= 2) {
        Cell zero;
        block::rs_store(state, state.head() + 1, *integer::make_at(&zero, 0));
    }
}

void update_facet(const Cell& owner, const Cell& word, const Cell&, const Cell& action, const Cell*, int32_t index,
                  int32_t part) {
    WidgetId id = face_handle(owner);
    Widget* w = widget(id);
    if (!w) return;
    if (word_is_q(word, GuiWord::data) && kind_q(*w, GuiWord::text_list) && action.is(Type::Word)) {
        if (index < w->first_line) w->first_line = index;
        if (index == 0 && part >= int32_t(list_length(owner))) w->first_line = 0;
    }
    if ((face_type_q(owner, GuiWord::drop_list) || face_type_q(owner, GuiWord::drop_down)) && part == 0) return;
    update_view(owner);
}

void destroy_view(const Cell& face_given, bool) {
    Cell face = face_given;  // it may be a widget's own copy, which goes with the widget
    WidgetId id = face_handle(face);
    bool window = widget(id) && kind_q(*widget(id), GuiWord::window);
    Cell state = facet(face, GuiWord::state);
    bool owns_loop = window && series::rs_length_q(state) >= 4 && true_q(*block::rs_abs_at(state, state.head() + 3));
    destroy_tree(face);
    if (window && !widget(active) && !window_list.empty()) show_window(window_list.back());
    // Only a window that a blocking loop runs for ends that loop: a face removed from a panel does not.
    if (owns_loop) post_quit_msg();
    if (window_list.empty()) {
        show_cursor();
        screen().cursor_x = screen().cursor_y = -1;
    } else {
        screen().dirty = true;
    }
}

void show_window(WidgetId id) {
    if (!record_of(id)) return;
    active = id;
    Widget& w = *widget(id);
    if (w.flags & kFullscreenWindow) screen().fullscreen = true;
    WindowRecord* record = record_of(id);
    if (Widget* focused = widget(record->focused)) focused->flags |= kHasFocus;
    if (record->cursor_widgets == 0 && screen().in_screen) hide_cursor();
    forget_pointer();
    size_screen_buffer(w.width(), w.height());
    screen().dirty = true;
}

void release_all() {
    for (uint32_t i = 0; i < slots.size(); i++)
        if (slots[i].live) free_widget(id_of(i));
    window_list.clear();
    active = last_window = kNoWidget;
    forget_pointer();
    clear_timers();
}

}  // namespace oka::gui
