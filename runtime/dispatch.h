/* Action dispatch: calling a datatype's implementation of an action, and the comparison codes that
   every datatype's compare action understands.

   An action knows no datatype: `actions::call<A>(value, ...)` finds the implementation that the type
   of `value` registered for A (runtime/registry.h) and calls it with `value` as its first argument.
   The stack entry points of the actions, which read a call's arguments from the frame, are the
   evaluator's (evaluator/actions.h).

   A port! may take its actions from append on from its actor instead of its type's row.

   Rules: a type that does not support the action raises script expect-arg, naming the running
   function; an implementation may allocate, so the cells it is given must be fixed (on the data stack
   or in a rooted block), as for any call that allocates. */
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

// A port! whose actor is a native table takes every action from append on from that table: the port
// datatype sets this at start-up to answer the table's entry (raising access no-port-action for an
// empty one), or null for a port whose actor is an object.
inline AnyAction (*native_port_action)(const Cell* port, Act slot) = nullptr;

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

// The comparison dispatcher: calls the compare action of value1's type with `op` and turns its answer
// into a truth value. Values that cannot be compared are unequal under the equality ops and raise
// script invalid-compare under the ordering ops 3-6; ops 7 and 8 are for compare_value only.
bool compare(Cell* value1, Cell* value2, int32_t op);
// The three-way answer (-1, 0, 1, or kNotComparable) for orderings such as sorting.
int32_t compare_value(Cell* value1, Cell* value2, int32_t op);

}  // namespace actions

}  // namespace oka
