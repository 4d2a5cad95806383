/* Action dispatch: the generic entry points of the 62 actions.

   An action knows no datatype. Its stack entry point (Name_s) reads the arguments of the current
   frame, normalises them, finds the implementation registered for the type of the first argument and
   calls it; the result ends in the frame's result slot. A refinement reaches a stack entry point as
   the frame position of its first argument, or -1 when it was not given, in the order of the action's
   arguments (runtime/actions.def); the entry point reads them by name (evaluator/refinements.h), and
   an action with many refinements hands them to its implementation as one options struct
   (runtime/action_options.h). Native code that already holds the argument cells calls an
   implementation directly through actions::call.

   An absent refinement argument reaches an implementation as a null cell pointer. */
#pragma once

#include <utility>

#include "runtime/registry.h"

namespace oka {

// Comparison op codes, understood by every datatype's compare action. A compare answers -1, 0 or 1,
// or kNotComparable.
enum CompareOp : int32_t {
    kCompareEqual = 0,             // =
    kCompareNotEqual = 1,          // <>
    kCompareStrictEqual = 2,       // == : no type mixing, exact floats, case-sensitive text
    kCompareLesser = 3,            // <
    kCompareLesserEqual = 4,       // <=
    kCompareGreater = 5,           // >
    kCompareGreaterEqual = 6,      // >=
    kCompareSort = 7,              // the sort ordering
    kCompareCaseSort = 8,          // the case-sensitive sort ordering
    kCompareSame = 9,              // same?
    kCompareStrictEqualWord = 10,  // equality reading word! as lit-word! and path! as lit-path!, case-sensitive
    kCompareEqualWord = 11,        // the same, case ignored
    kCompareFind = 12,             // the equality of find, select and put
};
inline constexpr int32_t kNotComparable = -2;

namespace actions {

using StackEntry = void (*)(const int32_t* refinements);

// Allocates the actions table and fills it with the stack entry points in slot order.
void init();
StackEntry entry(Act slot);

// The implementation of `slot` for `type`, the type of `value`. Raises script expect-arg when the
// type does not support the action.
AnyAction get_action_ptr_from(Type type, const Cell* value, Act slot);

template <Act A>
ActionImpl<A> implementation_for(const Cell* value) {
    return reinterpret_cast<ActionImpl<A>>(get_action_ptr_from(value->type(), value, A));
}

// Calls the implementation of action A for the type of `value`, with `value` as its first argument.
template <Act A, class... Rest>
auto call(Cell* value, Rest&&... rest) {
    return implementation_for<A>(value)(value, std::forward<Rest>(rest)...);
}

// The implementation of path selection for `value`; raises script bad-path-type2 (no path) or
// bad-path-type when its type has none.
ActionImpl<Act::eval_path> get_path_action_ptr(const Cell* value, const Cell* path, const Cell* element, int32_t index);

// The comparison dispatcher: calls the compare action of value1's type with `op` and turns its answer
// into a truth value. Values that cannot be compared are unequal under the equality ops and raise
// script invalid-compare under the ordering ops 3-6; ops 7 and 8 are for compare_value only.
bool compare(Cell* value1, Cell* value2, int32_t op);
// Compares frame arguments 1 and 2 under `op` and leaves the logic! answer in the result slot.
void compare_s(int32_t op);
// The three-way answer (-1, 0, 1, or kNotComparable) for orderings such as sorting.
int32_t compare_value(Cell* value1, Cell* value2, int32_t op);

// Argument 2 of the frame read as an index: an integer, a char's code point, 1 for true and 2 for
// false; 0 for any other value.
int32_t get_index_arg();

#define OKA_ACTION(slot, Name, word, Result, Params, arguments) void Name##_s(const int32_t* refinements);
#include "runtime/actions.def"
#undef OKA_ACTION

}  // namespace actions

}  // namespace oka
