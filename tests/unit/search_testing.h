// Helpers shared by the block! and string! tests of find, select and sort: the refinement places of
// those actions and a stand-in for the interpreter's call of a sort function.
#pragma once

#include "datatypes/series.h"
#include "evaluator/refinements.h"
#include "runtime/cell.h"

namespace oka::test {

// The refinements of find and select (select has find's but the last two), by their place in the action's list.
using FindName = RefinementName<Act::find>;
enum SearchRefinement {
    kPart = FindName("part").index,
    kOnly = FindName("only").index,
    kCase = FindName("case").index,
    kSame = FindName("same").index,
    kAny = FindName("any").index,
    kWith = FindName("with").index,
    kSkip = FindName("skip").index,
    kLast = FindName("last").index,
    kReverse = FindName("reverse").index,
    kTail = FindName("tail").index,
    kMatch = FindName("match").index,
};
// The refinements of sort.
using SortName = RefinementName<Act::sort>;
enum SortRefinement {
    kSortCase = SortName("case").index,
    kSortSkip = SortName("skip").index,
    kSortCompare = SortName("compare").index,
    kSortPart = SortName("part").index,
    kSortAll = SortName("all").index,
    kSortReverse = SortName("reverse").index,
    kSortStable = SortName("stable").index,
};

// The /compare argument of a sort by function: the hook below does the calling, so the cell is a dummy.
inline const Cell kFunction{uint8_t(Type::Function), 0, 0, 0};

// Sort functions are C++ here: for the life of the scope the hook stands in for the interpreter's call
// (null: no caller at all).
class SortFunction {
public:
    explicit SortFunction(series::FunctionCaller caller) : saved_(series::call_sort_function) {
        series::call_sort_function = caller;
    }
    ~SortFunction() { series::call_sort_function = saved_; }
    SortFunction(const SortFunction&) = delete;
    SortFunction& operator=(const SortFunction&) = delete;

private:
    series::FunctionCaller saved_;
};

}  // namespace oka::test
