/* The console's evaluation of typed input, as the console shows it: the result after "== " (molded,
   a float formed, nothing for unset), or an error's report followed by an empty line.

   This is the console engine's core in C++, used by `oka` while the console written in Oka is not
   part of the library yet, and by the transcript tests. */
#pragma once

#include <string_view>

#include "console/terminal.h"

namespace oka::console {

// Stores the console's size in system/console/size, where the library code that fits its output to
// the console (help, what) reads it.
void set_size(terminal::Size size);

// Evaluates one complete input and prints what the console shows for it; `width` is the console
// width that cuts long results.
void do_command(std::string_view input, int width);

// The read-eval-print loop on standard input: shows the prompt, collects the lines of one input (as
// long as a block, paren, braced or raw string is open in them), evaluates it. Ends at the end of the
// input, after evaluating an input left open there.
void run();

}  // namespace oka::console
