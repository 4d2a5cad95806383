/* The console line editor: reads one line from the terminal key by key into a string! of the caller,
   echoing the prompt and the text, moving the cursor inside the line, stepping through a history block,
   completing on Tab, wrapping long lines and wide characters, and masking hidden input with "*". When
   standard input or output is not a terminal it reads a plain UTF-8 line from standard input instead,
   without prompt or echo.

   The echo goes straight to file descriptor 1, not through the run-time's print hooks. The editor moves
   the terminal's cursor relative to where it left it, so a screen that scrolls needs no bookkeeping; the
   prompt starts where the terminal says its cursor is when the edit starts (column 0 when it does not
   answer), and text before it in that row stays; prompt and line are shown before that answer comes.
   Widths: a tab takes four columns, an escape sequence (Esc then "[" or "(" with its digits and ";" and
   one more character) none, U+1F300 to U+1F5FF two, any other character what char_width_q says; a wide
   character that would start in a row's last column moves to the next row, the cell it leaves counting as
   used.

   Rules: the line, prompt, history and saved line are values the collector keeps (registered roots);
   the line's characters are shared with the caller's string, which receives the entered text. Raw mode
   lasts for one edit and is left on every way out of it, errors raised by completion included. The
   history holds the newest entry first; the editor inserts the entered string itself, never a copy, and
   never a hidden line. Hidden input is never completed. */
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace oka::terminal {

struct Size {
    int columns;
    int rows;
};
// The size taken when there is no terminal, or it tells none.
inline constexpr Size kNoSize = {80, 50};

// Notes whether standard input and output are a terminal and, when they are, reads the window size.
void init();
// Makes the saved line: the text that the next edit starts with (what completion left).
void init_globals();
// The window size: 80x50 when there is no terminal or it tells no size.
Size size();
bool console_q();

// Gives the editor the string to read into and the history block (its head is the newest entry).
void setup(const Cell& line, const Cell& history);
// Reads one line into the string given to setup. On a terminal the edit ends with Enter, Esc (the line
// then ends with the character 27), Ctrl+C or Ctrl+D on an empty line (the line then is "q"), or Tab
// with several candidates (the line then is empty, the saved line holds the completed input). False at
// the end of the input: redirected input was exhausted before any character, or the terminal could no
// longer be read (the line then is "q"); the caller ends the console as quit does.
bool edit(const Cell& prompt, bool hidden);

// Appends one line of standard input, read as UTF-8, to `string`: up to a line feed, which is not
// stored (a carriage return before it is). A byte that is no valid UTF-8 reads as U+FFFD. False when the
// input ended before any byte.
bool stdin_readline(const Cell& string);

// A new string at `result`, with room for 256 characters, holding the next line of standard input as
// stdin_readline reads it, whether or not the input is a terminal (empty at the end of the input).
Cell* input_stdin(Cell* result);

// Reads at most `length` bytes of standard input into the binary! from its head, never past its
// capacity, and moves its tail past them. Returns the count read: 0 at the end, -1 on error.
int32_t read_stdin(const Cell& binary, int32_t length);

// Sets up the terminal at start-up: the window title (only on a terminal, never fatal), the state of
// init and init_globals, and the window size (80x50 when none).
Size console_init(const char* title);

// Completion on Tab: fills `result` with the candidates for the line (positioned at the cursor) as a
// block of strings positioned at its first value; with one candidate, or several sharing a longer
// prefix, the first value is the whole completed line, positioned where the cursor goes. No candidates,
// or none registered: Tab is a character. A completion that fails leaves `result` none: the key then
// does nothing and the line stays as it was.
using Completer = void (*)(const Cell& line, Cell* result);
void set_completer(Completer completer);

// Told the window's size each time an edit reads it: when the edit starts and when the window changed
// while it waited for a key (the line is then drawn anew at the new width, in place of the old one).
using SizeListener = void (*)(Size size);
void set_size_listener(SizeListener listener);

}  // namespace oka::terminal
