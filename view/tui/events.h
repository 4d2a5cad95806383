/* The event loop of the text-mode views: cycles of about 33 ms that read the terminal's input, decode
   it into keys, mouse reports and answers (platform/terminal_input.h), deliver them to widgets, run the
   faces' timers and redraw the screen; and the events themselves, handed to system/view/awake as event!
   values that hold a copy of their data.

   Keys go to the focused widget: key-down, then key, then the widget's own handling, each only while
   the one before did not stop the event (an awake answering `done`). Pointer events go to the deepest
   widget under the pointer, then outward. Timers advance by the time that really passed.

   The loop nests: each blocking loop raises the nesting level, post_quit_msg lowers it, and a loop runs
   while the level stays above where it found it. The outermost loop owns the terminal: it enters the
   screen's modes when it starts and leaves them (and frees every widget) however it ends; an error or
   a throw that escapes an event's handling ends only the innermost loop. Without a terminal the loop
   reads keys from standard input and every loop ends at the end of that input.

   Rules: dispatching runs language code, which may make and destroy widgets (view/tui/widgets.h); the
   input being decoded is taken out of the shared buffer first, so that a loop nested in a handler
   reads only what comes after it. */
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/terminal_input.h"
#include "view/tui/widgets.h"

namespace oka::gui {

enum class EventType : int {
    none = 0,
#define OKA_EVENT_TYPE(Name, text) Name,
#include "datatypes/event_words.def"
};

// Event flag bits.
enum EventFlag : uint32_t {
    kNamedKey = 0x1,  // the key is a special key's negative code
    kFlagAuxDown = 0x00400000,
    kFlagAltDown = 0x00800000,
    kFlagMidDown = 0x01000000,
    kFlagDown = 0x02000000,
    kFlagAway = 0x04000000,
    kFlagControl = 0x10000000,
    kFlagShift = 0x20000000,
    kFlagAlt = 0x40000000,
};

// The special keys' codes.
inline constexpr int32_t kKeyUp = int32_t(platform::Key::up);
inline constexpr int32_t kKeyDown = int32_t(platform::Key::down);
inline constexpr int32_t kKeyRight = int32_t(platform::Key::right);
inline constexpr int32_t kKeyLeft = int32_t(platform::Key::left);
inline constexpr int32_t kKeyEnd = int32_t(platform::Key::end);
inline constexpr int32_t kKeyHome = int32_t(platform::Key::home);
inline constexpr int32_t kKeyDelete = int32_t(platform::Key::delete_);

// Hands an event to system/view/awake (when the widget has a face and is enabled), inside a frame that
// catches every error and throw but quit; true when the answer was `done`, which stops the event.
bool dispatch_event(WidgetId id, EventType type, const EventData& data);

// Runs the event loop: until the nesting level falls back (post_quit_msg), or one pass without waiting
// with `no_wait`. Answers whether the last cycle read input.
bool do_events(bool no_wait);
void post_quit_msg();
// While a view runs: keeps the loop running for `seconds` (timers, input, redraws) and answers true;
// false, doing nothing, when no view runs (wait then just sleeps).
bool wait_events(double seconds);

// ---- input

// Appends bytes to the input not yet decoded (what the terminal sent).
void feed_input(std::string_view bytes);
// Decodes the input and delivers what it holds; a sequence cut short waits for the rest.
void decode_input();
// A key to the focused widget: a code point, or with kNamedKey a special key's code.
void send_key(int32_t key, uint32_t flags);
// A decoded mouse report (its button byte, 1-based terminal column and row, pressed or released).
void mouse_report(int32_t button, int32_t column, int32_t row, bool released);
// Adds milliseconds to the clock that tells a double click from two clicks.
void advance_click_clock(int millis);

// The widget is gone: the pointer's records let go of it.
void forget_widget(WidgetId id);
// The pointer state is cleared (a window was shown).
void forget_pointer();

// ---- timers

// The period in milliseconds of a face's rate facet: n times a second for an integer n >= 1, the time
// for a time! above 0; anything else raises invalid-facet-type.
int rate_millis(const Cell& rate);
void add_timer(WidgetId id, int rate_millis);
void remove_timer(WidgetId id);
void run_timers(int elapsed_millis);
void clear_timers();

}  // namespace oka::gui
