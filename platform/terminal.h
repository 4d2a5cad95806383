/* The terminal of standard input and output: its raw mode, its size, its title, and the keys read from
   it, decoded from the bytes and escape sequences the terminal sends.

   Raw mode switches off the line discipline's editing, echo and signal keys (Ctrl+C reads as the
   character 3), and leaves output processing alone, so that text printed meanwhile still ends its lines
   as usual. The mode saved on entry is put back when raw mode is left, at exit, and on SIGINT, SIGTERM
   and SIGHUP before the signal takes its course (the disposition it had before raw mode; one that the
   process ignores stays ignored and leaves raw mode alone).

   Keys are UTF-8 characters (their code point) or the codes of platform/keys.def. An Esc that nothing
   follows within kEscapeMillis is the key Esc (27); Esc followed by "[" or "O" starts a sequence, whose
   parameters (modifiers) are ignored; a sequence the table does not name reads as Key::none.

   Rules: the platform layer knows nothing of cells. One terminal per process: the raw-mode state and
   the byte read ahead after a lone Esc are process-wide. Nothing here throws. */
#pragma once

#include <cstddef>
#include <cstdint>

namespace oka::platform {

enum class Key : int {
#define KEY(name, code) name = code,
#include "platform/keys.def"
#undef KEY
};

inline constexpr int kKeyCount = 0
#define KEY(name, code) +1
#include "platform/keys.def"
#undef KEY
    ;
static_assert(kKeyCount == 13, "ten named keys and three codes that are no key");

// How long a lone Esc waits for the rest of a sequence.
inline constexpr int kEscapeMillis = 40;

bool is_terminal(int fd);

// Switches the terminal of `fd` to raw mode; false when it is no terminal or refuses. Entering again
// while raw changes nothing.
bool enter_raw_mode(int fd);
// Puts back the mode saved by enter_raw_mode; nothing when the terminal is not raw. Async-signal-safe.
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

// The size of the terminal's window in character cells; false when it cannot be read or is 0 wide.
bool window_size(int fd, int& columns, int& rows);

// The next key from `fd`: a code point, or a code of Key. Key::resized when SIGWINCH arrived while raw
// mode waited (the caller reads the size again and asks again).
int read_key(int fd);

// How long the terminal may take to answer where its cursor is.
inline constexpr int kReplyMillis = 200;
// The column of the terminal's cursor, 0-based, asked with "Esc [ 6 n" while raw; -1 when the terminal
// does not answer in time (then it is not asked again) or is not raw. Keys typed meanwhile are kept for
// read_key.
int cursor_column(int in, int out);

// Sets the window title through the terminal's escape sequence, only when standard output is a terminal;
// false otherwise. Never fails the caller otherwise.
bool set_title(const char* utf8_title);

// Reads at most `n` bytes, resuming after interruptions: the count read, 0 at the end, -1 on error.
long read_some(int fd, void* bytes, size_t n);

}  // namespace oka::platform
