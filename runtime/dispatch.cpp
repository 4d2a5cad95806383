// Action dispatch and the comparison dispatcher: every comparison, from = and < to find, sort and
// same?, comes here.
#include "runtime/dispatch.h"

#include "runtime/error.h"
#include "runtime/fatal.h"

namespace oka::actions {

namespace {

bool is_equality_op(int32_t op) {
    switch (op) {
    case kCompareEqual:
    case kCompareStrictEqual:
    case kCompareSame:
    case kCompareStrictEqualWord:
    case kCompareEqualWord:
    case kCompareFind: return true;
    default: return false;
    }
}

}  // namespace

AnyAction get_action_ptr_from(Type type, const Cell* value, Act slot) {
    if (type == Type::Port && slot >= Act::append && native_port_action)
        if (AnyAction native = native_port_action(value, slot)) return native;
    AnyAction fn = datatype::action_entry(type, slot);
    if (!fn) error::fire_in_function(Err::script_expect_arg, type);
    return fn;
}

bool compare(Cell* value1, Cell* value2, int32_t op) {
    int32_t result = call<Act::compare>(value1, value2, op);
    if (result == kNotComparable && op != kCompareNotEqual && !is_equality_op(op))
        fire(Err::script_invalid_compare, value1, value2);
    if (is_equality_op(op)) return result == 0;
    switch (op) {
    case kCompareNotEqual: return result != 0;
    case kCompareLesser: return result < 0;
    case kCompareLesserEqual: return result <= 0;
    case kCompareGreater: return result > 0;
    case kCompareGreaterEqual: return result >= 0;
    default: sys::quit(101, OKA_CALLER_ADDRESS());  // the sort orderings have no truth value
    }
}

// Every compare action orders two values of its own type under the sort ops, logic!, native! and
// function! values too, and answers that values of another type cannot be compared: so a block of
// mixed types sorts the same whichever value comes first.
int32_t compare_value(Cell* value1, Cell* value2, int32_t op) { return call<Act::compare>(value1, value2, op); }

}  // namespace oka::actions
