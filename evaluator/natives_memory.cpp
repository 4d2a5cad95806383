// The natives that reach the memory manager: stats reports the memory in use, recycle runs the
// collector or switches it on and off.
#include "datatypes/unset.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/stats.h"

namespace oka::natives {

namespace {

enum StatsRefinement { kShow, kInfo };
enum RecycleRefinement { kOn, kOff };

}  // namespace

void stats_s(const int32_t* refinements) {
    // /show hands the figures to a library function for display; the library does not have it yet.
    if (given(refinements, kShow)) fire(Err::internal_feature_na);
    stack::set_last(given(refinements, kInfo) ? stats::memory_block() : stats::in_use());
}

void recycle_s(const int32_t* refinements) {
    if (given(refinements, kOn) || given(refinements, kOff)) {
        collector::on = given(refinements, kOn);
        stack::set_last(unset::value);
        return;
    }
    stack::set_last(collector::recycle());
}

}  // namespace oka::natives
