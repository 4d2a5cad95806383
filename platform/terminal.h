/* The terminal of standard input and output, shared by the line editor and the views: its raw mode,
   its size and the news that it changed, waiting for its input, the keys read from it (decoded by
   platform/terminal_input.h), its title, and the one buffered channel that everything written to it
   passes through.

   Raw mode switches off the line discipline's editing, echo and signal keys (Ctrl+C reads as the
   character 3), and leaves output processing alone, so that text printed meanwhile still ends its lines
   as usual. Raw mode nests: a view that is open when the line editor reads a line stays raw after the
   edit. The mode saved on entry is put back when the outermost raw mode is left, at exit, on every
   fatal-error report, and on each signal that ends the process (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
   SIGABRT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2 and the rest) before the signal takes its course (the
   disposition it had before raw mode; one that the process ignores or handles itself is left as it
   is). With the mode goes the restore sequence a view sets while it holds the terminal in its own
   modes (mouse reports, the alternate screen, a hidden cursor): those are undone on the same paths.

   A change of the window's size (SIGWINCH, caught while raw) reaches the waiting code through a pipe
   of the process's own, which wait_input watches next to the input.

   Output: the line editor's echo, the views' frames and the run-time's printed text all go out
   through one channel, in the order written; nothing reaches standard output past bytes that wait in
   it, so prints and frames never interleave. Tests may point the channel at a sink of their own.

   Rules: the platform layer knows nothing of cells. One terminal per process: the raw-mode state, the
   channel and the bytes read ahead are process-wide. Nothing here throws. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/terminal_input.h"

namespace oka::platform {

// How long a lone Esc waits for the rest of a sequence.
inline constexpr int kEscapeMillis = 40;

bool is_terminal(int fd);

// ---- raw mode

// Switches the terminal of `fd` to raw mode; false when it is no terminal or refuses. Entering again
// while raw counts one level more and changes nothing.
bool enter_raw_mode(int fd);
// Leaves one level of raw mode; the outermost puts back the mode saved on entry.
void leave_raw_mode();
bool raw_mode_q();

// Holds raw mode for its lifetime, leaving it on every way out of the scope.
class RawModeScope {
public:
    explicit RawModeScope(int fd) : entered_(enter_raw_mode(fd)) {}
    ~RawModeScope() {
        if (entered_) leave_raw_mode();
    }
    RawModeScope(const RawModeScope&) = delete;
    RawModeScope& operator=(const RawModeScope&) = delete;
    bool entered() const { return entered_; }

private:
    bool entered_;
};

// The bytes that undo the modes a view set (at most kRestoreBytes - 1; longer ones are cut), written
// before the saved mode is put back on the paths that end the process; empty when there is none.
inline constexpr size_t kRestoreBytes = 128;
void set_restore_sequence(std::string_view bytes);
// Puts the terminal back at once, whatever the raw-mode levels: writes the restore sequence and the
// saved mode. For the paths that end the process; async-signal-safe.
void restore_terminal();

// ---- size and input

// The size of the terminal's window in character cells; false when it cannot be read or is 0 wide.
bool window_size(int fd, int& columns, int& rows);

// Whether the window changed size since the last call (only noticed while raw).
bool take_resize();

enum class Wait { input, resized, timed_out, failed };
// Waits up to `millis` (for ever when negative) for input on `fd` or a change of the window's size.
// Bytes already read ahead count as input.
Wait wait_input(int fd, int millis);

// Appends to `bytes` everything that can be read from `fd` without waiting (the bytes read ahead
// first); the count appended, or -1 when the input ended or failed and nothing was appended.
long read_available(int fd, std::string& bytes);

// The next key from `fd`, waiting for it: a code point, or a code of Key. Key::resized when the window
// changed size while it waited (the caller reads the size again and asks again); mouse reports and
// sequences that name no key read as Key::none. Modifiers are not told.
int read_key(int fd);

// How long the terminal may take to answer where its cursor is.
inline constexpr int kReplyMillis = 200;
// Asks the terminal where its cursor is: appends "Esc [ 6 n" to the output channel, so that what is
// appended after it goes out with it and the terminal shows that while its answer is on the way.
// Only while raw, and never again once a terminal let the question go unanswered; false when not asked.
bool ask_cursor_column();
// The column, 0-based, where the cursor was when the question was asked: flushes the channel and
// waits for the answer; -1 when the terminal does not answer in time (it is then not asked again).
// Keys typed meanwhile are kept for read_key.
int answered_cursor_column(int in);

// Reads at most `n` bytes, resuming after interruptions: the count read, 0 at the end, -1 on error.
long read_some(int fd, void* bytes, size_t n);

// ---- output

// Appends bytes to the output channel.
void out_append(std::string_view bytes);
// Writes what the channel holds, after what the C library's stdout holds, with one write.
void out_flush();
// Writes bytes to the terminal at once, after whatever waits in the channel.
void out_write(const char* bytes, size_t n);

// Where the channel writes: standard output, or a sink of the caller's (for tests; null for standard
// output again).
using OutputSink = void (*)(const char* bytes, size_t n);
void set_output_sink(OutputSink sink);

// Sets the window title through the terminal's escape sequence, only when standard output is a terminal;
// false otherwise. Never fails the caller otherwise.
bool set_title(const char* utf8_title);

}  // namespace oka::platform
