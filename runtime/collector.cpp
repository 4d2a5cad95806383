#include "runtime/collector.h"

namespace oka::collector {

// The mark-and-compact cycle is not part of the run-time yet: with no cycle to run, the allocator
// always takes fresh frames.
void do_cycle_if_on() {}

}  // namespace oka::collector
