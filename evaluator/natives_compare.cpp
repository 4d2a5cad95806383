// The comparison natives: equal? and its relatives, same? and not.
#include "datatypes/logic.h"
#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"

namespace oka::natives {

void equal_q_s(const int32_t*) { actions::compare_s(kCompareEqual); }
void not_equal_q_s(const int32_t*) { actions::compare_s(kCompareNotEqual); }
void strict_equal_q_s(const int32_t*) { actions::compare_s(kCompareStrictEqual); }
void lesser_q_s(const int32_t*) { actions::compare_s(kCompareLesser); }
void greater_q_s(const int32_t*) { actions::compare_s(kCompareGreater); }
void lesser_or_equal_q_s(const int32_t*) { actions::compare_s(kCompareLesserEqual); }
void greater_or_equal_q_s(const int32_t*) { actions::compare_s(kCompareGreaterEqual); }
void same_q_s(const int32_t*) { actions::compare_s(kCompareSame); }
void not__s(const int32_t*) { logic::box(!logic::true_q(*stack::arguments())); }

}  // namespace oka::natives
