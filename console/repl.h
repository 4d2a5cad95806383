/* The console's evaluation of one complete input, for what evaluates input without the console's loop
   (the transcript tests, the evaluator's fuzz target).

   Rules: the console's own code does the work: the input goes into system/console/buffer, as
   eval-command puts a complete input there, and system/console/do-command (console/40-console.oka)
   evaluates it and prints what the console shows: the result after "== " (molded, a float formed,
   nothing for unset, cut to the console's width), or an error's report followed by an empty line. */
#pragma once

#include <string_view>

namespace oka::console {

// Gives the console the size that its set-up finds when there is no terminal (80x50), which cuts
// long results; for a process that does not start the console.
void use_size_without_terminal();

// Evaluates one complete input and prints what the console shows for it. Should the console's own
// state be broken (a case set its buffer to a number), the error is reported as the console would.
void do_command(std::string_view input);

}  // namespace oka::console
