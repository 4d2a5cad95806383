/* The stack entry points of the 62 actions.

   An action knows no datatype. Its stack entry point (Name_s) reads the arguments of the current
   frame, normalises them, finds the implementation registered for the type of the first argument
   (runtime/dispatch.h) and calls it; the result ends in the frame's result slot. A refinement reaches a stack entry
   point as the frame position of its first argument, or -1 when it was not given, in the order of the action's
   arguments (runtime/actions.def); the entry point reads them by name (evaluator/refinements.h), and
   an action with many refinements hands them to its implementation as one options struct
   (runtime/action_options.h). Native code that already holds the argument cells calls an
   implementation directly through actions::call.

   An absent refinement argument reaches an implementation as a null cell pointer. */
#pragma once

#include "runtime/dispatch.h"

namespace oka {

namespace actions {

using StackEntry = void (*)(const int32_t* refinements);

// Allocates the actions table and fills it with the stack entry points in slot order.
void init();
StackEntry entry(Act slot);

// The implementation of path selection for `value`; raises script bad-path-type2 (no path) or
// bad-path-type when its type has none.
ActionImpl<Act::eval_path> get_path_action_ptr(const Cell* value, const Cell* path, const Cell* element, int32_t index);

// Compares frame arguments 1 and 2 under `op` and leaves the logic! answer in the result slot.
void compare_s(int32_t op);

// Argument 2 of the frame read as an index: an integer, a char's code point, 1 for true and 2 for
// false; 0 for any other value.
int32_t get_index_arg();

#define OKA_ACTION(slot, Name, word, Result, Params, arguments) void Name##_s(const int32_t* refinements);
#include "runtime/actions.def"
#undef OKA_ACTION

}  // namespace actions

}  // namespace oka
