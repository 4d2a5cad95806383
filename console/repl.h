/* The console's evaluation of typed input, as the console shows it: the result after "== " (molded,
   a float formed, nothing for unset), or an error's report followed by an empty line.

   The console itself (system/console, written in Oka) does this for what the user types; this C++
   form serves the transcript tests and the evaluator's fuzz target, which evaluate input without the
   console's loop. */
#pragma once

#include <string_view>

namespace oka::console {

// Evaluates one complete input and prints what the console shows for it; `width` is the console
// width that cuts long results.
void do_command(std::string_view input, int width);

}  // namespace oka::console
