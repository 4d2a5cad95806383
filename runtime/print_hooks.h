/* The output hooks: the two lists of callbacks that all printed text passes through.

   The print list receives whole string values from the print natives, with the line flag; its first
   entry, print_string, writes them to the console. The part list receives every piece of text after
   the console writer has put it on standard output (as UTF-8 bytes), so that further listeners can
   observe the output.

   Both lists live in the tracked heap, start with room for 5 callbacks and grow by 5. Callbacks run
   in registration order.

   A text-mode view that takes over the terminal (its own screen, cursor and input mode) registers a
   print bracket while it is open: every print path of the run-time opens a PrintScope, which gives the
   terminal back for the text and lets the view take it again afterwards.

   Rule: a part callback runs in the middle of a write, while the writer still reads the string's
   buffer; it must not allocate language memory (an allocation may move that buffer). */
#pragma once

#include "runtime/cell.h"

namespace oka::io {

using PrintCallback = void (*)(const Cell* string, bool line);
using PartCallback = void (*)(const char* text, uint32_t length);

template <class Callback>
struct CallbackList {
    Callback* entries = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
};

inline constexpr uint32_t kHookListGrowth = 5;

// Makes both lists and registers print_string in the print list.
void init_print_hooks();

// Each callback that is not null is appended to its list, or its first occurrence removed from it.
void add_print_hooks(PrintCallback print, PartCallback part);
void remove_print_hooks(PrintCallback print, PartCallback part);

void call_print_hooks(const Cell* string, bool line);
void call_print_part_hooks(const char* text, uint32_t length);

const CallbackList<PrintCallback>& print_list();
const CallbackList<PartCallback>& part_list();

// The default print callback: writes the string from its head to the console by its unit size.
void print_string(const Cell* string, bool line);

struct PrintBracket {
    void (*begin)();  // puts the terminal back into its normal state before the run-time prints
    void (*end)();    // re-enters the view's screen after the run-time printed
};
// A view sets its bracket when it opens and {} when it closes.
void set_print_bracket(PrintBracket bracket);

// While a view's event loop runs, wait keeps it running (its timers, input and redraws) instead of
// sleeping: the hook runs it for the seconds given and answers true, or answers false when no view
// runs. The view's back end sets it once.
using WaitHook = bool (*)(double seconds);
void set_wait_hook(WaitHook hook);
// Runs the view's event loop for `seconds`; false when no view runs.
bool wait_in_view(double seconds);

// Brackets a print path, and leaves nothing in the C library's stdout buffer when it closes. It closes
// on a throw too, so a view always gets its screen back.
class PrintScope {
public:
    PrintScope();
    ~PrintScope();
    PrintScope(const PrintScope&) = delete;
    PrintScope& operator=(const PrintScope&) = delete;
};

}  // namespace oka::io

namespace oka::sys {

// The build stamp, "dd-Mon-yyyy/hh:mm:ss".
const char* build_date();

}  // namespace oka::sys
