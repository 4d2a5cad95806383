/* Operator fast paths: the entry points through which compiled code does math, comparisons and block
   navigation on cells it already holds, without a frame or an action-table lookup.

   Each entry point handles the common case itself (two integers; for math on two cells also two
   floats under add, subtract and multiply; a block! for the navigation) and gives every other case to
   the ordinary action, called on a native frame named by `name`, so the language's rules are the same
   either way. The "top" forms take their left operand from the last cell pushed and leave the result
   in its place. An op outside the ones named below ends the process with runtime error 101. */
#pragma once

#include "datatypes/integer.h"
#include "evaluator/actions.h"

namespace oka::actions {

// add, subtract, multiply, or~, and~ and xor~ (divide and remainder have no fast path). An integer
// result that leaves the 32-bit range becomes the exact float!.
Cell* math_cells(integer::MathOp op, const Cell& name, const Cell& a, const Cell& b);
Cell* math_int(integer::MathOp op, const Cell& name, const Cell& a, int32_t b);
Cell* math_top_cell(integer::MathOp op, const Cell& name, const Cell& b);
Cell* math_top_int(integer::MathOp op, const Cell& name, int32_t b);

// The comparisons = <> == < <= > >= (op codes 0 to 6). The push forms push the logic! answer, the
// test forms answer whether it differs from `expected` and leave nothing, the set forms put it in
// the result slot and answer its truth, the top forms write it over the last cell pushed.
Cell* compare_cells_push(CompareOp op, const Cell& name, const Cell& a, const Cell& b);
Cell* compare_int_push(CompareOp op, const Cell& name, const Cell& a, int32_t b);
bool compare_cells_test(CompareOp op, const Cell& name, const Cell& a, const Cell& b, bool expected);
bool compare_int_test(CompareOp op, const Cell& name, const Cell& a, int32_t b, bool expected);
bool compare_cells_set(CompareOp op, const Cell& name, const Cell& a, const Cell& b);
bool compare_int_set(CompareOp op, const Cell& name, const Cell& a, int32_t b);
void compare_top_cell(CompareOp op, const Cell& name, const Cell& b);
void compare_top_int(CompareOp op, const Cell& name, int32_t b);

// Pushes the element at the 1-based `index` of a series: for a block!, none when the index lies
// outside it; any other type answers as a path selection does.
Cell* pick_fast(const Cell& series, int32_t index, const Cell& name);

// The result of the infix operator `op` (as an op! value holds it) on `a` and `b`, when it can be had
// without calling it: add, subtract and multiply on two integers or two floats, and the comparisons
// = <> == < <= > >= on two integers. False leaves the call to the operator.
bool infix_in_place(const Cell& op, const Cell& a, const Cell& b, Cell* result);

enum class SeriesOp : int32_t { length_q = 1, index_q, head_q, tail_q, next, back, head, tail };

// Pushes the answer of the navigation action `op` on a series.
Cell* series_fast_op(const Cell& series, SeriesOp op, const Cell& name);

}  // namespace oka::actions
