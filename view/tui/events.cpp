#include "view/tui/events.h"

#include <termios.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "library/routines.h"
#include "platform/terminal.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/throw.h"
#include "view/tui/faces.h"
#include "view/tui/render.h"
#include "view/tui/screen.h"
#include "view/tui/words.h"

namespace oka::gui {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCycleMillis = 33;
constexpr int kDoubleClickMillis = 500;
constexpr int kClickClockLimit = 800;

// ---- the loop's state

int level = 0;          // the nesting level: each blocking loop raises it
int loops_running = 0;  // loops on the C++ stack
bool input_ended = false;
std::string input;  // bytes read and not yet decoded
Clock::time_point last_cycle;
bool clock_started = false;

// ---- the pointer's state

enum ClickState { kNoClick = 0, kClickEnded = 2, kDoubleClickEnded = 10 };
ClickState click_state = kNoClick;
int click_clock = 0;
bool button_pressed = false;
WidgetId hovered = kNoWidget;
WidgetId captured = kNoWidget;
std::vector<WidgetId> pressed;
int pointer_x = 0, pointer_y = 0;

// ---- events as values

// The word of a special key's code, none for a code outside the table.
Cell key_word(int32_t code) {
    int32_t index = -code - 20;  // -20 up ... -29 page-down, -31 F1 ... -42 F12
    if (code == -30 || index < 0 || index > 22) return none::value;
    if (index > 10) index--;
    Cell word;
    return *word::make_at(id(GuiWord(int(GuiWord::key_up) + index)), &word);
}

// Pushes the event! value of an event to the widget's face: its data is a copy, a block of five
// cells [face window offset picked key].
Cell* push_event(const Cell& face, EventType type, const EventData& data) {
    Cell* block = block::push_only_s(5);
    block::rs_append(*block, face);
    block::rs_append(*block, none::value);
    Cell cell;
    block::rs_append(*block, *pair::make_at(&cell, data.x, data.y));
    block::rs_append(*block, data.picked.is(Type::None) ? *integer::make_at(&cell, 0) : data.picked);
    if (type == EventType::key || type == EventType::key_down || type == EventType::key_up) {
        if (data.flags & kNamedKey)
            block::rs_append(*block, key_word(data.key));
        else
            block::rs_append(*block, *char_::make_at(&cell, uint32_t(data.key)));
    } else {
        block::rs_append(*block, none::value);
    }
    *block = Cell::of(Type::Event, kEventHoldsSeries)
                 .set_event_type(uint32_t(type))
                 .set_event_block(block->node())
                 .set_key_flags(data.flags);
    return block;
}

// Runs `body` where no error or throw but quit leaves it: the stacks are put back as they were. Answers
// the code of what it caught (0 for none).
template <class F>
uint32_t guarded(F&& body) {
    Cell* base = stack::frame_base;
    Cell* top = stack::top;
    stack::CallFrame* calls = stack::call_top;
    stack::mark_try_all(words::word(Word::try_));
    uint32_t code = sys::protect(kCatchAll, [&] { no_memory_for_bad_alloc(body); });
    stack::frame_base = base;
    stack::top = top;
    stack::call_top = calls;
    if (code == kThrowQuit) sys::throw_(code);
    return code;
}

// ---- pointer delivery

struct Hit {
    WidgetId id;
    int32_t x, y;  // relative to it
};

bool inside_q(const Widget& w, int32_t x, int32_t y) {
    return float(x) >= w.left && float(x) < w.right && float(y) >= w.top && float(y) < w.bottom;
}

// The deepest widget under (x, y) of the window: each level's pane tested from its last face to its
// first, hidden ones passed over.
Hit hit_test(WidgetId window, int32_t x, int32_t y) {
    Hit hit = {window, x, y};
    for (bool deeper = true; deeper;) {
        deeper = false;
        Widget* w = widget(hit.id);
        if (!w) break;
        Cell pane = facet(w->face, GuiWord::pane);
        if (!pane.is(Type::Block)) break;
        for (uint32_t i = series::rs_buffer_length_q(pane); i-- > pane.head();) {
            Widget* child = widget(face_handle(*block::rs_abs_at(pane, i)));
            if (!child || (child->flags & kWidgetHidden) || !inside_q(*child, hit.x, hit.y)) continue;
            hit = {face_handle(*block::rs_abs_at(pane, i)), hit.x - int32_t(child->left), hit.y - int32_t(child->top)};
            deeper = true;
            break;
        }
    }
    return hit;
}

bool ancestor_q(WidgetId ancestor, WidgetId id) {
    for (Widget* w = widget(id); w; w = widget(w->parent))
        if (w->parent == ancestor) return true;
    return false;
}

// (x, y) of the window in the widget's own cells.
void relative_to(WidgetId id, int32_t& x, int32_t& y) {
    for (Widget* w = widget(id); w && w->parent; w = widget(w->parent)) {
        x -= int32_t(w->left);
        y -= int32_t(w->top);
    }
}

// A pointer event goes to the deepest widget under the pointer alone: system/view/awake takes it on to
// the face's parents.
void deliver(const Hit& hit, EventType type, EventData data) {
    data.x = hit.x;
    data.y = hit.y;
    dispatch_event(hit.id, type, data);
}

void send_over(WidgetId id, uint32_t flags) {
    int32_t x = pointer_x, y = pointer_y;
    relative_to(id, x, y);
    EventData data;
    data.x = x;
    data.y = y;
    data.flags = flags;
    dispatch_event(id, EventType::over, data);
}

void pointer_moved(const Hit& hit, uint32_t modifiers) {
    WidgetId old = hovered;
    if (hit.id != old) {
        // The widget left gets away, the one entered over; moving into a child leaves its parent hovered.
        if (Widget* w = widget(old); w && !ancestor_q(old, hit.id)) {
            w->flags &= ~kPointerInside;
            send_over(old, modifiers | kFlagAway);
        }
        hovered = hit.id;
        if (Widget* w = widget(hit.id); w && !ancestor_q(hit.id, old)) {
            w->flags |= kPointerInside;
            send_over(hit.id, modifiers);
        }
    } else if (Widget* w = widget(hit.id); w && (w->flags & kAllOverEvents)) {
        send_over(hit.id, modifiers);
    }
    if (Widget* w = widget(captured); w && button_pressed && captured != hit.id && (w->flags & kAllOverEvents))
        send_over(captured, modifiers | kFlagDown);
}

void pointer_released(const Hit& hit) {
    WidgetId target = hit.id;
    bool was_pressed = std::find(pressed.begin(), pressed.end(), target) != pressed.end();
    if (was_pressed && widget(target)) {
        EventData data;
        data.x = hit.x;
        data.y = hit.y;
        bool twice = click_state == kClickEnded && click_clock < kDoubleClickMillis;
        bool stopped = dispatch_event(target, EventType::click, data);
        if (Widget* w = widget(target); w && !stopped) w->kind->on_event(target, int(EventType::click), data);
        if (twice && widget(target)) {
            dispatch_event(target, EventType::dbl_click, data);
            click_state = kDoubleClickEnded;
        }
    }
    if (Widget* w = widget(target); w && (w->flags & kFocusable) && !(w->flags & kHasFocus)) set_focus(target);
    captured = kNoWidget;
    pressed.clear();
    click_state = click_state == kDoubleClickEnded ? kNoClick : kClickEnded;
    click_clock = 0;
}

uint32_t mouse_modifiers(int32_t button) {
    uint32_t flags = 0;
    if (button & 4) flags |= kFlagShift;
    if (button & 8) flags |= kFlagAlt;
    if (button & 16) flags |= kFlagControl;
    return flags;
}

// ---- timers

struct Timer {
    WidgetId id;
    int rate;  // milliseconds
    int elapsed = 0;
    bool fired = false;
    bool one_shot = false;
};
std::vector<Timer> timers;

// ---- the loop

// The first screen face gets the console's size.
void size_screen_face() {
    BufPtr<Cell> screens = library::find_field_cell("system/view/screens");
    if (!screens || !screens->is(Type::Block) || series::rs_length_q(*screens) < 1) return;
    Cell first = *block::rs_abs_at(*screens, screens->head());
    Cell size;
    set_facet_quiet(first, GuiWord::size, *pair::make_at(&size, screen().console_width, screen().console_height));
}

bool mouse_wanted() {
    BufPtr<Cell> flag = library::find_field_cell("system/view/platform/mouse-event?");
    return flag && flag->is(Type::Logic) && flag->truth();
}

// A change of the console's size: every window gets resize.
void resized() {
    read_console_size();
    size_screen_face();
    std::vector<WidgetId> all = windows();
    for (WidgetId window : all) {
        if (Widget* w = widget(window)) w->kind->on_event(window, int(EventType::resize), EventData{});
        dispatch_event(window, EventType::resize, EventData{});
    }
    clear_alt_screen();
    screen().dirty = true;
}

void begin_outermost() {
    input_ended = false;
    input.clear();
    enter_screen();
    enter_alt_screen();
    mouse_tracking(mouse_wanted());
    size_screen_face();
    screen().dirty = true;
}

void end_outermost() {
    move_below_ui();
    mouse_tracking(false);
    leave_alt_screen();
    show_cursor();
    if (screen().raw) tcflush(0, TCIFLUSH);  // keys typed for the view are not the console's
    leave_screen();
    input.clear();
    release_all();
    Screen& s = screen();
    s.fullscreen = false;
    s.width = s.height = 0;
    s.rows_above = 0;
    s.drawn = s.dirty = false;
    s.cursor_x = s.cursor_y = -1;
}

// Reads the input there is, waiting up to `wait_millis` for some; false when it ended.
void read_input(int wait_millis) {
    if (input_ended) return;
    platform::Wait wait = platform::wait_input(0, wait_millis);
    if (wait == platform::Wait::resized || platform::take_resize()) resized();
    if (wait == platform::Wait::failed) {
        input_ended = true;
        return;
    }
    if (platform::read_available(0, input) < 0) input_ended = true;
}

int millis_since(Clock::time_point then) {
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - then).count());
}

// One cycle: input (waiting up to `wait_millis`), timers by the time that passed, events, a redraw.
// Answers whether input came.
bool cycle(int wait_millis) {
    size_t before = input.size();
    read_input(wait_millis);
    bool seen = input.size() > before;
    Clock::time_point now = Clock::now();
    int elapsed = clock_started ? millis_since(last_cycle) : 0;
    last_cycle = now;
    clock_started = true;
    // what escapes the handling of the events ends the innermost loop
    uint32_t caught = guarded([&] {
        run_timers(elapsed);
        decode_input();
        refresh_screen();
    });
    if (caught) post_quit_msg();
    advance_click_clock(elapsed);
    return seen;
}

}  // namespace

// ---- dispatch

bool dispatch_event(WidgetId id, EventType type, const EventData& data) {
    Widget* w = widget(id);
    if (!w || !w->face.is(Type::Object) || (w->flags & kWidgetDisabled)) return false;
    BufPtr<Cell> awake = library::find_field_cell("system/view/awake");
    if (!awake || !(awake->is(Type::Function) || awake->is(Type::Routine))) return false;
    Cell* saved = stack::top;
    Cell* function = stack::push(*awake);
    Cell* event = push_event(w->face, type, data);
    bool done = false;
    guarded([&] {
        interpreter::call_function(*function, event, 1, word::load("awake"));
        done = word_is_q(*event, GuiWord::done);
    });
    stack::top = saved;
    return done;
}

// ---- the loop

bool do_events(bool no_wait) {
    bool nested = no_wait || loops_running > 0;
    int remembered = level;
    if (!no_wait) level++;
    loops_running++;
    struct Ending {
        bool nested, no_wait;
        int remembered;
        ~Ending() {
            loops_running--;
            level = std::min(level, remembered);
            if (!nested)
                end_outermost();
            else if (!no_wait)
                input.clear();
        }
    } ending{nested, no_wait, remembered};
    if (!nested) begin_outermost();
    if (nested && !no_wait) input.clear();
    bool seen = false;
    int work = 0;
    do {
        Clock::time_point start = Clock::now();
        seen = cycle(no_wait ? 0 : std::max(kCycleMillis - work, 0));
        work = millis_since(start);
    } while (!no_wait && level > remembered && !input_ended);
    return seen;
}

void post_quit_msg() { level = std::max(level - 1, 0); }

bool wait_events(double seconds) {
    if (!screen().in_screen) return false;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(int64_t(std::max(seconds, 0.0) * 1000));
    loops_running++;
    struct Ending {
        ~Ending() { loops_running--; }
    } ending;
    do {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        cycle(std::clamp(left, 0, kCycleMillis));
    } while (Clock::now() < deadline && !input_ended);
    return true;
}

// ---- input

void feed_input(std::string_view bytes) { input.append(bytes); }

void decode_input() {
    // The bytes are taken out first: a loop nested in a handler reads only what comes after them.
    std::string bytes = std::move(input);
    input.clear();
    size_t at = 0;
    while (at < bytes.size()) {
        auto start = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
        platform::InputEvent event = platform::decode_input(start, bytes.size() - at, input_ended);
        if (event.kind == platform::InputEvent::Kind::incomplete) {
            if (bytes.size() != 1) break;
            event = platform::decode_input(start, 1, true);  // an Esc alone is the key Esc
        }
        at += event.length;
        switch (event.kind) {
        case platform::InputEvent::Kind::key: {
            uint32_t flags = 0;
            if (event.modifiers & platform::kShift) flags |= kFlagShift;
            if (event.modifiers & platform::kAlt) flags |= kFlagAlt;
            if (event.modifiers & platform::kControl) flags |= kFlagControl;
            int32_t key = event.key;
            if (key == int32_t(platform::Key::back_tab)) {
                send_key(9, flags | kFlagShift);
            } else if (key < 0) {
                send_key(key, flags | kNamedKey);
            } else {
                send_key(key == 8 ? 127 : key == 10 ? 13 : key, flags);
            }
            break;
        }
        case platform::InputEvent::Kind::mouse: mouse_report(event.button, event.x, event.y, event.released); break;
        case platform::InputEvent::Kind::cursor_report:
            screen().top_row = event.y - 1;
            screen().left_col = event.x - 1;
            break;
        default: break;
        }
    }
    input.insert(0, bytes, at, std::string::npos);
}

void send_key(int32_t key, uint32_t flags) {
    WidgetId target = focused_widget();
    if (!target) target = active_window();
    EventData data;
    data.key = key;
    data.flags = flags;
    if (dispatch_event(target, EventType::key_down, data)) return;
    if (dispatch_event(target, EventType::key, data)) return;
    if (Widget* w = widget(target)) w->kind->on_event(target, int(EventType::key), data);
}

void mouse_report(int32_t button_byte, int32_t column, int32_t row, bool released) {
    WidgetId window = active_window();
    if (!widget(window)) return;
    int32_t button = (button_byte & 3) | ((button_byte & 0x40) >> 4);
    uint32_t modifiers = mouse_modifiers(button_byte);
    pointer_x = column - 1;
    pointer_y = row - screen().top_row - 1;
    Hit hit = hit_test(window, pointer_x, pointer_y);
    EventData data;
    data.flags = modifiers;
    if (button <= 2) {
        bool now_pressed = !released;
        if (now_pressed == button_pressed) {
            pointer_moved(hit, modifiers | kFlagDown);  // a press reported again: the pointer moved
            return;
        }
        button_pressed = now_pressed;
        auto type = EventType(2 * button + (released ? 1 : 0) + 1);
        if (!released) {
            captured = hit.id;
            deliver(hit, type, data);
            pressed.push_back(hit.id);
        } else {
            deliver(hit, type, data);
            if (type == EventType::up) pointer_released(hit);
        }
    } else if (button == 3) {
        pointer_moved(hit, modifiers);
    } else if (button == 4 || button == 5) {
        float_::make_at(&data.picked, button == 4 ? 1.0 : -1.0);
        deliver(hit, EventType::wheel, data);
    }
}

void advance_click_clock(int millis) {
    if (click_state == kClickEnded && click_clock < kClickClockLimit)
        click_clock = std::min(click_clock + millis, kClickClockLimit);
}

void forget_widget(WidgetId id) {
    if (hovered == id) hovered = kNoWidget;
    if (captured == id) captured = kNoWidget;
    std::erase(pressed, id);
    remove_timer(id);
}

void forget_pointer() {
    hovered = captured = kNoWidget;
    pressed.clear();
    button_pressed = false;
    click_state = kNoClick;
    click_clock = 0;
}

// ---- timers

int rate_millis(const Cell& rate) {
    if (rate.is(Type::Integer) && integer::get(rate) >= 1) return 1000 / integer::get(rate);
    if (rate.is(Type::Time) && rate.f64() > 0) return int(std::min(rate.f64() * 1000, 2147483647.0));
    fire(Err::script_invalid_facet_type, &rate);
}

void add_timer(WidgetId id, int rate) { timers.push_back({id, std::max(rate, 1)}); }

void remove_timer(WidgetId id) {
    std::erase_if(timers, [id](const Timer& timer) { return timer.id == id; });
}

void run_timers(int elapsed) {
    std::vector<WidgetId> due;
    for (Timer& timer : timers) {
        timer.elapsed += elapsed;
        if (timer.fired || timer.elapsed < timer.rate) continue;
        timer.elapsed = 0;
        timer.fired = timer.one_shot;
        due.push_back(timer.id);
    }
    for (WidgetId id : due) dispatch_event(id, EventType::time, EventData{});
}

void clear_timers() { timers.clear(); }

}  // namespace oka::gui
