#include "view/tui/routines.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "library/routines.h"
#include "runtime/error.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"
#include "view/tui/draw.h"
#include "view/tui/events.h"
#include "view/tui/faces.h"
#include "view/tui/render.h"
#include "view/tui/screen.h"
#include "view/tui/text.h"
#include "view/tui/widgets.h"
#include "view/tui/words.h"

namespace oka::gui {

namespace {

constexpr library::RoutineRow kRows[] = {
#define OKA_ROUTINE(Name, target, spec) {target, spec, &Name##_r},
#include "view/tui/routines.def"
};
static_assert(std::size(kRows) == 4 + 27 + 3,
              "the globals, the routines of the platform object, and the routines of TUI-helpers");

WidgetId handle_widget(const Cell& handle) { return handle.handle_value(); }

[[noreturn]] void raise_invalid_type(const Cell& value) {
    fire(Err::script_invalid_type, datatype::push(value.type()));
}

// Calls TUI-helpers/<name> on the routine's arguments; its result becomes the routine's.
void call_helper(const char* name, Cell* arguments, uint32_t count) {
    BufPtr<Cell> found = library::find_field_cell(std::string("TUI-helpers/") + name);
    if (!found || !found->is(Type::Function)) {
        none::make_at(arguments);
        return;
    }
    Cell* function = stack::push(*found);
    Cell* copies = stack::top;
    for (uint32_t i = 0; i < count; i++) stack::push(arguments[i]);
    interpreter::call_function(*function, copies, count, word::load(name));
    *arguments = *copies;
}

// The wrap width of a rich-text face: its width in cells, or none (-1) without a size.
int wrap_width_of(const Cell& face) {
    Cell size = facet(face, GuiWord::size);
    if (size.is(Type::Pair)) return pair::x_of(size);
    if (size.is(Type::Point2D)) return int(point::get(size, 0));
    return -1;
}

// The point (column, line) of an index from 1 into the text's places; past the end, where the next
// character would go.
void point_of(const std::vector<TextPlace>& places, int32_t index, int lines_lower, Cell* result) {
    size_t at = size_t(std::clamp<int64_t>(int64_t(index) - 1, 0, int64_t(places.size()) - 1));
    point2D::make_at(result, float(places[at].column), float(places[at].line + lines_lower));
}

// The index from 1 of the character at (or, for a caret, before) column x of line y.
int32_t index_at(const std::vector<TextPlace>& places, int x, int y, bool caret) {
    int32_t last_on_line = -1;
    for (size_t i = 0; i + 1 < places.size(); i++) {
        const TextPlace& place = places[i];
        if (place.line < y || place.width == 0) continue;
        if (place.line > y) break;
        int edge = caret ? place.column + (place.width + 1) / 2 : place.column + place.width;
        if (x < edge) return int32_t(i) + 1;
        last_on_line = int32_t(i);
    }
    if (last_on_line < 0) return caret ? int32_t(places.size()) : int32_t(places.size()) - 1;
    return caret ? last_on_line + 2 : last_on_line + 1;
}

void text_box_metrics(const Cell& face, const Cell& text, const Cell& argument, int32_t type, Cell* result) {
    std::vector<TextPlace> places = place_text(text_run_of(text), wrap_width_of(face));
    switch (type) {
    case 0: point_of(places, argument.is(Type::Integer) ? integer::get(argument) : 1, 0, result); return;
    case 6: point_of(places, argument.is(Type::Integer) ? integer::get(argument) : 1, 1, result); return;
    case 1:
    case 5: {
        int x = 0, y = 0;
        if (argument.is(Type::Pair)) {
            x = pair::x_of(argument);
            y = pair::y_of(argument);
        } else if (argument.is(Type::Point2D)) {
            x = int(point::get(argument, 0));
            y = int(point::get(argument, 1));
        }
        integer::make_at(result, index_at(places, x, y, type == 1));
        return;
    }
    case 2: float_::make_at(result, 1.0); return;
    case 3: {
        TextSize size = measure_text(text_run_of(text), wrap_width_of(face));
        point2D::make_at(result, float(size.width), float(size.lines));
        return;
    }
    case 4: integer::make_at(result, places.back().line + 1); return;
    default: none::make_at(result);
    }
}

}  // namespace

void add_routines() {
    make_words();
    library::add_routines(kRows);
    io::set_wait_hook(wait_events);
}

// ---- globals

void event_q_r(Cell* arguments) { logic::make_at(arguments, arguments->is(Type::Event)); }

// Events cannot be posted to a terminal.
void send_event_os_r(Cell* arguments) { logic::make_at(arguments, false); }

void find_flag_q_r(Cell* arguments) {
    const Cell& facet = arguments[0];
    uint32_t flag = arguments[1].symbol();
    bool found = false;
    if (facet.is(Type::Word)) {
        found = same_word_q(facet.symbol(), flag);
    } else if (facet.is(Type::Block)) {
        for (uint32_t i = facet.head(); i < series::rs_buffer_length_q(facet) && !found; i++) {
            Cell value = *block::rs_abs_at(facet, i);
            found = (value.is(Type::Word) || value.is(Type::LitWord)) && same_word_q(value.symbol(), flag);
        }
    }
    logic::make_at(arguments, found);
}

// The colour depth and the platform's version.
void gui_init_r(Cell* arguments) {
    Cell* saved = stack::top;
    Cell* depth = stack::push(none::value);
    call_helper("check-color-support", depth, 0);
    screen().colour_depth =
        depth->is(Type::Integer) && integer::get(*depth) == kDepthTrueColour ? kDepthTrueColour : kDepth256;
    const uint8_t version[] = {10, 10, 10};
    if (BufPtr<Cell> field = library::find_field_cell("system/view/platform/version"))
        tuple::make_at(&*field, version, 3);
    if (BufPtr<Cell> field = library::find_field_cell("system/view/platform/build")) integer::make_at(&*field, 1000);
    if (BufPtr<Cell> field = library::find_field_cell("system/view/platform/product")) integer::make_at(&*field, 0);
    stack::top = saved;
    none::make_at(arguments);
}

// ---- the platform object

void make_null_handle_r(Cell* arguments) { handle::make_at(arguments, 0, HandleClass::null); }

// Text mode has one screen.
void fetch_all_screens_r(Cell* arguments) { none::make_at(arguments); }

void get_screen_size_r(Cell* arguments) {
    read_console_size();
    pair::make_at(arguments, screen().console_width, screen().console_height);
}

void size_text_r(Cell* arguments) {
    const Cell& face = arguments[0];
    const Cell& value = arguments[1];
    Cell text;
    if (value.is(Type::String))
        text = value;
    else if (value.is(Type::None))
        text = facet(face, GuiWord::text);
    else
        raise_invalid_type(value);
    if (!text.is(Type::String)) {
        none::make_at(arguments);
        return;
    }
    TextSize size = measure_text(text_run_of(text), -1);
    point2D::make_at(arguments, float(size.width), float(size.lines));
}

void on_change_facet_r(Cell* arguments) {
    const Cell* new_value = arguments[4].is(Type::None) ? nullptr : &arguments[4];
    update_facet(arguments[0], arguments[1], arguments[2], arguments[3], new_value, integer::get(arguments[5]),
                 integer::get(arguments[6]));
    none::make_at(arguments);
}

// Nothing is done in text mode.
void update_text_r(Cell* arguments) { none::make_at(arguments); }

// A change of a font's name, size, style or angle, or of its anti-aliasing, drops its cached state.
void update_font_r(Cell* arguments) {
    int32_t kind = integer::get(arguments[1]);
    if ((kind >= 0 && kind <= 3) || kind == 5) set_facet_quiet(arguments[0], GuiWord::state, none::value);
    none::make_at(arguments);
}

// A change of the paragraph settings makes the next update redraw the face.
void update_para_r(Cell* arguments) {
    Cell state = facet(arguments[0], GuiWord::state);
    if (state.is(Type::Block) && series::rs_length_q(state) >= 2) {
        BufPtr<Cell> bits = block::rs_abs_at(state, state.head() + 1);
        if (bits->is(Type::Integer)) integer::make_at(&*bits, integer::get(*bits) | int32_t(kChangedPara));
    }
    none::make_at(arguments);
}

void destroy_view_r(Cell* arguments) {
    destroy_view(arguments[0], logic::get(arguments[1]));
    none::make_at(arguments);
}

// Images keep no owner here: there is nothing to drop but what the value itself may carry.
void detach_image_r(Cell* arguments) {
    ownership::unbind(arguments[0]);
    none::make_at(arguments);
}

void update_view_r(Cell* arguments) {
    Cell value = arguments[0];
    if (value.is(Type::Block)) {
        for (uint32_t i = value.head(); i < series::rs_buffer_length_q(value); i++)
            if (Cell face = *block::rs_abs_at(value, i); !face.is(Type::Object)) raise_invalid_type(face);
        for (uint32_t i = value.head(); i < series::rs_buffer_length_q(value); i++) {
            Cell face = *block::rs_abs_at(value, i);
            if (facet(face, GuiWord::state).is(Type::Block)) update_view(face);
        }
    } else if (value.is(Type::Object)) {
        if (!face_type_q(value, GuiWord::screen)) update_view(value);
    } else {
        raise_invalid_type(value);
    }
    none::make_at(arguments);
}

void refresh_window_r(Cell* arguments) {
    redraw(handle_widget(arguments[0]));
    none::make_at(arguments);
}

void redraw_r(Cell* arguments) {
    redraw(face_handle(arguments[0]));
    none::make_at(arguments);
}

void show_window_r(Cell* arguments) {
    show_window(handle_widget(arguments[0]));
    none::make_at(arguments);
}

void make_view_r(Cell* arguments) {
    WidgetId id = make_view(arguments[0], handle_widget(arguments[1]));
    make_handle(arguments, id);
}

void draw_image_r(Cell* arguments) {
    const Cell& image = arguments[0];
    if (image::width_of(image) > 0 && image::height_of(image) > 0) {
        // text mode leaves an image's pixels as they are: its block is checked only
        draw::Target no_cells;
        draw::do_draw(no_cells, arguments[1]);
    }
    none::make_at(arguments);
}

// A face's draw block is drawn with the face (render_face).
void draw_face_r(Cell* arguments) {
    get_flags(arguments[0]);
    none::make_at(arguments);
}

void do_event_loop_r(Cell* arguments) { logic::make_at(arguments, do_events(logic::get(arguments[0]))); }

void exit_event_loop_r(Cell* arguments) {
    post_quit_msg();
    none::make_at(arguments);
}

void request_font_r(Cell*) {}  // the font given is the answer

void request_file_r(Cell* arguments) { call_helper("request-file", arguments, 5); }

void request_dir_r(Cell* arguments) { call_helper("request-dir", arguments, 5); }

void text_box_metrics_r(Cell* arguments) {
    const Cell& box = arguments[0];
    if (!face_type_q(box, GuiWord::rich_text)) {
        Cell type = facet(box, GuiWord::type);
        fire(Err::script_face_type, &type);
    }
    Cell text = facet(box, GuiWord::text);
    if (!text.is(Type::String)) {
        none::make_at(arguments);
        return;
    }
    text_box_metrics(box, text, arguments[1], integer::get(arguments[2]), arguments);
}

void update_scroller_r(Cell* arguments) { none::make_at(arguments); }
void set_dark_mode_r(Cell* arguments) { none::make_at(arguments); }
void support_dark_mode_q_r(Cell* arguments) { logic::make_at(arguments, false); }
void toggle_GPU_r(Cell* arguments) { none::make_at(arguments); }

// ---- TUI-helpers

void focused_q_r(Cell* arguments) { logic::make_at(arguments, has_focus_q(face_handle(arguments[0]))); }

void widget_data_r(Cell* arguments) {
    Widget* w = widget(face_handle(arguments[0]));
    integer::make_at(arguments, w ? w->first_line : 0);
}

void set_face_ui_r(Cell* arguments) {
    set_widget_ui(face_handle(arguments[0]), arguments[1]);
    none::make_at(arguments);
}

}  // namespace oka::gui
