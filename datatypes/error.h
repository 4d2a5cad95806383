/* error!: the language's error values, objects of ten fields made from the error catalogue.

   The catalogue (runtime/errors.def) becomes, at start-up, an object with one field per category,
   each category an object whose fields are code, type and one message per error id; an error's code
   is its category index x 100 + its id's position. Start-up also makes the prototype every error is
   copied from. Both are kept in the root block.

   The errors raised when memory or a stack runs out (internal no-memory and stack-overflow) could not
   be made then: make_catalog makes one value of each, kept in the root block, and raising one fills
   that value's fields in place. A script that keeps such an error sees its fields change when the
   error is raised again.

   Rules: making an error allocates; an error in the making sits on the data stack. Refilling a
   ready-made error allocates nothing and pushes nothing. */
#pragma once

#include "datatypes/words.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace oka::error {

enum Field : uint32_t { kCode, kType, kId, kArg1, kArg2, kArg3, kNear, kWhere, kStack, kFiles, kFieldCount };

// Registers error! (after object!).
void init();
// Builds the catalogue object and the error prototype.
void make_catalog();
bool catalog_ready();
const Cell& catalog();

// Pushes a new error of the catalogue with up to three arguments.
Cell* create(Err id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
// The ready-made error of `id`, its fields set as create sets them for an error without arguments;
// null for an id that has none.
const Cell* ready_made(Err id);

BufPtr<Cell> field(const Cell& error, Field f);
// Stores the word in the error's where field while that is still none.
void set_where(const Cell& error, const Cell& word);
// The symbols of the error's type and id words.
uint32_t get_type(const Cell& error);
uint32_t get_id(const Cell& error);
// What a catch keeps of where an error arose: the call-stack position stored by the throw becomes a
// block of the names of the calls, as deep as system/state/stack-trace asks (1, the user's functions,
// when it is not above 0), and the files system/state/source-files names go into the files field.
void capture_stack(const Cell& error);
// The word of argument n (from 0) of the innermost named call, or <anon>.
Cell get_call_arg_word(int32_t n);

// Runs `body` under a try frame, as try does: true when it raised an error (a std::bad_alloc is the
// no-memory error), whose value is then copied into `error` when given. The stacks are as they were
// before either way.
template <class F>
bool trap(F&& body, Cell* error = nullptr) {
    Cell* base = stack::frame_base;
    Cell* top = stack::top;
    stack::CallFrame* calls = stack::call_top;
    stack::mark_try(words::word(Word::try_));
    uint32_t code = sys::protect(kThrowError, [&] { no_memory_for_bad_alloc(body); });
    if (code && error) *error = stack::thrown;
    stack::frame_base = base;
    stack::top = top;
    stack::call_top = calls;
    return code != 0;
}

}  // namespace oka::error

// The names of the calls, as errors report them: the frames of runtime/stack.h hold their names' words
// by symbol and context, read through the words' bindings.
namespace oka::stack {

// The word naming the innermost frame that has a name (frames named <body> and <anon> are skipped),
// starting at the thrower's frame when one was kept; <not-found> when there is none.
Cell get_call_name();
// Pushes a new block of the names of the frames from the bottom up to (not including) `end`: every
// named frame at levels above 1, only the function frames otherwise. The frames above the call stack's
// top, which a throw has unwound, are read as they were left.
Cell* push_trace_words(int32_t level, CallFrame* end);
// Appends to `block`, for every named frame below `top` from the newest to the oldest, its name word
// and the position of its argument base on the data stack (the number of cells below it); the base of
// the frame just below `top` is `top_base`.
void collect_calls(const Cell& block, CallFrame* top, Cell* top_base);

}  // namespace oka::stack
