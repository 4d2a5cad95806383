// The comparison natives: equal? and its relatives, same? and not.
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::natives {

namespace {

// Two values of one type are the same value when the payload words that identify a value of that
// type agree: the same series at the same position, the same bits of a double, the same context. Money
// is the same amount in the same currency, whatever its sign bit holds.
bool same_value_q(const Cell& a, const Cell& b) {
    if (a.type() != b.type()) return false;
    bool first = a.data1 == b.data1, second = a.data2 == b.data2, third = a.data3 == b.data3;
    if (is_a(a.type(), TypeClass::series)) return first && second;
    switch (a.type()) {
    case Type::None:
    case Type::Unset: return true;
    case Type::Datatype:
    case Type::Logic:
    case Type::Object: return first;
    case Type::Char:
    case Type::Integer:
    case Type::Bitset: return second;
    case Type::Native:
    case Type::Action:
    case Type::Point2D: return first && second;
    case Type::Float:
    case Type::Percent:
    case Type::Pair:
    case Type::Time:
    case Type::Op: return second && third;
    case Type::Money: {
        Cell x = a, y = b;
        return actions::compare_value(&x, &y, kCompareSame) == 0;
    }
    case Type::Tuple: return tuple::length_of(a) == tuple::length_of(b) && first && second && third;
    default: return first && second && third;
    }
}

}  // namespace

void equal_q_s(const int32_t*) { actions::compare_s(kCompareEqual); }
void not_equal_q_s(const int32_t*) { actions::compare_s(kCompareNotEqual); }
void strict_equal_q_s(const int32_t*) { actions::compare_s(kCompareStrictEqual); }
void lesser_q_s(const int32_t*) { actions::compare_s(kCompareLesser); }
void greater_q_s(const int32_t*) { actions::compare_s(kCompareGreater); }
void lesser_or_equal_q_s(const int32_t*) { actions::compare_s(kCompareLesserEqual); }
void greater_or_equal_q_s(const int32_t*) { actions::compare_s(kCompareGreaterEqual); }

void same_q_s(const int32_t*) {
    Cell* args = stack::arguments();
    logic::box(same_value_q(args[0], args[1]));
}

void not__s(const int32_t*) { logic::box(!logic::true_q(*stack::arguments())); }

}  // namespace oka::natives
