/* The text-mode view as seen by the run-time's print paths.

   A text-mode view takes over the terminal (its own screen, cursor and input mode). Every runtime
   print path brackets its output with print_begin and print_end (a PrintScope) so that the text lands
   on the normal screen; while no view is open, which is always the case until the view back end
   exists, all three calls do nothing. */
#pragma once

namespace oka::gui {

inline bool view_open = false;  // set by the view back end while its screen is active

// Puts the terminal back into its normal state before the run-time prints.
void print_begin();
// Re-enters the view's screen after the run-time printed.
void print_end();
// Runs one pass of the view's event loop (pending input, timers).
void do_events_pending();

// Brackets a print path, and leaves nothing in the C library's stdout buffer when it closes. It
// closes on a throw too, so the view always gets its screen back.
class PrintScope {
public:
    PrintScope() { print_begin(); }
    ~PrintScope();
    PrintScope(const PrintScope&) = delete;
    PrintScope& operator=(const PrintScope&) = delete;
};

}  // namespace oka::gui
