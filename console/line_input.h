/* Line input: the routines through which `ask` and `input` reach the line editor
   (console/terminal.h), the routines that read standard input directly, the one that reports on
   standard error, and the console's set-up at start (system/console/init).

   Rules: the editor is set up (whether standard input is a terminal, the saved line) before its first
   edit, by the console's set-up or else by the first edit itself, so that a line is read the right way
   however the run-time was started. The end of the input reads as an empty line; _input-ended? then
   tells ask to give none. Tab completes through the value of the global word oka-complete-input,
   looked up at each key; nothing it raises or throws reaches the editor, and the line stays as it was
   when it fails. Every size of the window that the editor reads becomes system/console/size. */
#pragma once

namespace oka::line_input {

// Adds the console's rows (console/routines.def) to the routine table; runs once at start-up, after
// the library's rows are in.
void add_routines();

// Sets the window title (only on a terminal), sets up the line editor and stores the window's size in
// system/console/size: 80x50 when there is no terminal or it tells no size.
void init_console(const char* title);

}  // namespace oka::line_input
