// The natives that reach the memory manager: stats reports the memory in use, recycle runs the
// collector or switches it on and off.
#include "datatypes/unset.h"
#include "evaluator/natives.h"
#include "evaluator/refinements.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/stats.h"

namespace oka::natives {

void stats_s(const int32_t* positions) {
    Refinements<stats_slot> refinements(positions);
    // /show hands the figures to a library function for display; the library does not have it yet.
    if (refinements.given("show")) fire(Err::internal_feature_na);
    stack::set_last(refinements.given("info") ? stats::memory_block() : stats::in_use());
}

void recycle_s(const int32_t* positions) {
    Refinements<recycle_slot> refinements(positions);
    if (refinements.given("on") || refinements.given("off")) {
        collector::on = refinements.given("on");
        stack::set_last(unset::value);
        return;
    }
    stack::set_last(collector::recycle());
}

}  // namespace oka::natives
