// The comparison natives: equal? and its relatives, same? and not.
#include <bit>

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
    if (is_a(a.type(), TypeClass::series)) return a.head() == b.head() && a.node() == b.node();
    switch (a.type()) {
    case Type::None:
    case Type::Unset: return true;
    case Type::Datatype: return a.named_type() == b.named_type();
    case Type::Logic: return a.truth() == b.truth();
    case Type::Object: return a.context() == b.context();
    case Type::Char:
    case Type::Integer: return a.int32() == b.int32();
    case Type::Bitset: return a.node() == b.node();
    case Type::Native:
    case Type::Action: return a.entry() == b.entry() && a.spec() == b.spec();
    case Type::Point2D:
        return a.content_words()[0] == b.content_words()[0] && a.content_words()[1] == b.content_words()[1];
    case Type::Float:
    case Type::Percent:
    case Type::Time: return std::bit_cast<uint64_t>(a.f64()) == std::bit_cast<uint64_t>(b.f64());
    case Type::Pair: return a.x() == b.x() && a.y() == b.y();
    case Type::Op: return a.spec() == b.spec() && a.extras() == b.extras();
    case Type::Money: {
        Cell x = a, y = b;
        return actions::compare_value(&x, &y, kCompareSame) == 0;
    }
    case Type::Tuple: return tuple::length_of(a) == tuple::length_of(b) && a.same_payload(b);
    default: return a.same_payload(b);
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
