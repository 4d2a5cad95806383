/* The interpreter: blocks of values evaluated directly, one expression after another.

   A position in code is the block being evaluated and a cell index into it; the interpreter reads the
   cell at an index again each time it needs it, since evaluating anything may allocate and move the
   block's buffer. The block itself is kept alive by whoever asked for its evaluation (a native's
   argument on the data stack, a function's body, the current-code cell).

   Results: an evaluation with `sub` pushes its result on the data stack; without it the result goes to
   the current frame's result slot and the frame keeps that one cell.

   Every routine here may allocate and may throw (errors and the other non-local exits). */
#pragma once

#include "datatypes/words.h"
#include "runtime/cell.h"

namespace oka::interpreter {

// The block the innermost block evaluation of code other than library code (kSeriesLibrary) is
// walking, its head index at the expression being evaluated; errors copy it into their near field, so
// that an error inside a library function names the user's expression that called it. A root for the
// collector.
inline Cell current_code;
// The current_code of the throw in flight, where it was thrown: a catch that passes the throw on makes
// it current again, so that a throw no catch takes is reported where it was made. A root as well.
inline Cell thrower_code;

void init();

// Evaluates a block from its head; the value of its last expression (unset for an empty block) ends in
// the caller's result slot when `chain` is set, else as the next cell of the caller's frame.
void eval_block(const Cell& block, bool chain);

// eval_block's work between the push and the pop of its eval frame, for a caller that keeps one such
// frame (stack::mark_eval) for many blocks, as a loop does for its passes: the value of the block's
// last expression ends in the frame's result slot. It fires no trace event and leaves the current-code
// cell at the block's last expression; the caller puts that back.
void eval_in_frame(const Cell& block);

// How eval_expression takes an expression: without the infix operators that follow it when
// `no_infix` (an infix operator's right operand), and as a sub-expression when `sub`.
struct ExpressionMode {
    bool no_infix = false;
    bool sub = false;
};

// Evaluates one expression of `block` at index `position`; answers the index after it. `end` is the
// index where the code ends.
uint32_t eval_expression(const Cell& block, uint32_t position, uint32_t end, ExpressionMode mode);

// One expression in a frame of its own: `do/next`'s step.
uint32_t eval_next(const Cell& block, uint32_t position, uint32_t end, bool sub);
// One expression from the block's head, result in the result slot; answers the index after it.
uint32_t eval_next_index(const Cell& block);

// How eval_path walks a path: to set its last step (to the frame's argument) or to get it without
// calling a function it selects, as a sub-expression, and matching words with their case.
struct PathMode {
    bool set = false;
    bool get = false;
    bool sub = false;
    bool case_ = false;
};

// Evaluates a path, get-path or set-path found at `position` of `block` (the path itself is `path`).
uint32_t eval_path(const Cell& path, const Cell& block, uint32_t position, uint32_t end, PathMode mode);

// Call modes of eval_code and eval_arguments.
enum CallMode : uint32_t {
    kCallPlain = 0,     // refinements come from a path
    kCallApplyAll = 1,  // apply/all: every argument and a logic! per refinement, in the order of the spec block
    kCallApply = 2,     // apply: the arguments, then refinement! values each followed by its condition
    kCallApplySafer = 16,
};

// Evaluates the expressions of a block one by one and appends each value to `into` (a block).
void reduce_into(const Cell& block, const Cell& into);

// Calls a function value found in code: `position` is the index after its name. `name` is the word
// (or other cell) that named it, `path` the path it came from (its elements from `path_index` on are
// refinements). Answers the index after the arguments.
uint32_t eval_code(const Cell& function, const Cell& block, uint32_t position, uint32_t end, bool sub, const Cell* path,
                   uint32_t path_index, const Cell& name, uint32_t mode);

// Runs a function! whose arguments are in the current frame; the result goes to the result slot.
void eval_function_body(const Cell& function, const Cell& name);
// The frame base of the innermost function body running (its result slot, its arguments after it),
// or null when none runs.
Cell* running_body_base();

// The count of arguments that every call of `function` found in code takes, all of them evaluated and
// nothing else gathered (no locals to set, no refinement a plain call uses); -1 when calls differ. Reads
// the function's spec at its first call, which allocates.
int32_t fixed_arity(const Cell& function);

// Raises internal limit-hit for the spec of a native! or action! with more refinements than its calls
// can hand it, so that make refuses it rather than its first call.
void check_native_spec(const Cell& spec);

// The function! values that the run-time calls back, each in a function frame of its own, on the
// argument cells at `arguments` (the top cells of the data stack), the first of which receives the
// result; they are not traced. init makes them the series' sort hook and the lexer's callback hook.
//
// A sort's comparison function, on two arguments.
void call_comparator(const Cell& function, Cell* arguments);
// A transcode/trace callback, on its five arguments; its input argument, as the callback left it, stays
// in the second cell.
void call_lexer_callback(const Cell& callback, Cell* arguments);
// A parse/trace callback, on its five arguments.
void call_parse_callback(const Cell& callback, Cell* arguments);
// An object's change handler or the tracer of do/trace, on its `count` arguments, in a frame named
// `name` (on-change*, on-deep-change* or the tracer's).
void call_handler(const Cell& handler, Cell* arguments, uint32_t count, Word name);
// A function the run-time calls on its `count` arguments, its refinements absent, in a frame named
// `name`: a port actor's (the port and what the action passes, named by the action's word), the
// preprocessor's expand (do/expand), url-parser/parse-url (a port opened on a URL), do-file.
void call_function(const Cell& function, Cell* arguments, uint32_t count, const Cell& name);

}  // namespace oka::interpreter
