/* The interpreter's stack.

   Evaluation recurses deeply, so the interpreter runs on a thread of its own whose stack is as large as
   it asks (the pages are committed by the kernel only as they are touched). The caller only waits for
   that thread: at any moment one thread runs, and the run-time needs no locks.

   Knowing the bounds of the running stack lets the interpreter raise a clean stack-overflow error well
   before the guard page below the stack is reached. */
#pragma once

#include <cstddef>
#include <cstdint>

namespace oka::platform {

// Runs body(arg) on a new thread with a stack of `bytes`, prepared for faults (signals.h), and returns
// its result. Should the system refuse such a thread, body runs on the calling thread's own stack.
// An exception must not escape body: on its thread it would end the process.
int run_with_stack(size_t bytes, int (*body)(void*), void* arg);

// The stack of the running thread: its addresses lie in [low, high) and it grows down towards low.
struct StackBounds {
    uintptr_t low, high;
};
StackBounds current_stack_bounds();

}  // namespace oka::platform
