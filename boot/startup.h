/* Start-up: the run-time brought up in its fixed order.

   runtime::init runs once per process, on the thread that will run the language; every later step
   relies on the state the earlier ones leave (print hooks before any output, memory before any
   series, datatypes before the action table, the blocks before the stacks). */
#pragma once

#include "runtime/root.h"

namespace oka {

namespace sys {

// The command line, copied to the tracked heap: `count` NUL-terminated UTF-8 arguments and a null.
inline int arg_count = 0;
inline char** args = nullptr;
void get_args(int argc, char** argv);

}  // namespace sys

namespace runtime {

void init();

}  // namespace runtime

}  // namespace oka
