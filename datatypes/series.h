/* series!: the abstract parent of every series type, and the routines that work on any series
   through the unit size of its buffer (16 for cells; 1, 2 or 4 for text and bytes; 1 to 8 for the
   elements of a vector).

   A series value holds its head (a 0-based unit index) in payload word 1 and its node in word 2. A head
   may lie past the tail once the series shrank under another position: routines that read through the
   head treat it as the tail, and the ones that say so clamp it.

   Rules: a routine that may allocate says so, and the cells it is given must then be fixed (on the data
   stack); a buffer pointer handed out here is valid until the next allocation. Every change of a series
   is reported to its owner (datatypes/ownership.h) before and after it is made. */
#pragma once

#include <utility>
#include <vector>

#include "runtime/action_options.h"
#include "runtime/memory.h"

namespace oka::series {

// Registers series!.
void init();

// ---- positions ----

// True when the position is at or past the tail.
bool rs_tail_q(const Cell& series);
// True when both positions lie before their tails, as a swap needs.
inline bool both_at_units_q(const Cell& series1, const Cell& series2) {
    return !rs_tail_q(series1) && !rs_tail_q(series2);
}
// Units from the buffer's first unit to the tail.
uint32_t rs_buffer_length_q(const Cell& series);
// Units from the head to the tail; 0 when the head lies past the tail (the head is left as it is).
uint32_t rs_length_q(const Cell& series);
// Moves the head by n units unless that passes the tail; true when that position is at or past it.
bool rs_skip(Cell* series, int32_t n);
// The head that `at` (one-based) or `skip` gives the series in frame argument 1 for the integer in
// argument 2, clamped to the buffer; any other argument raises script invalid-arg.
uint32_t get_position(bool one_based);
// Units from the head (from the buffer's first unit when absolute) to the tail; a head past the tail
// is set to the tail.
uint32_t get_length(Cell* series, bool absolute = false);

// ---- units ----

// The unit at an absolute index.
BufPtr<uint8_t> unit_at(const Cell& series, uint32_t index);
// The unit at an absolute index of a text or byte series read as a number.
uint32_t read_unit(const Cell& series, uint32_t index);
// grow's work when the buffer lacks the room.
void expand(Node node, uint64_t units, bool doubled);
// Makes room for `units` more units behind the tail: the buffer grows to the bytes used plus theirs,
// twice that when `doubled`. Raises internal no-memory when a buffer would reach 2^31 bytes. Allocates.
// Most calls find the room there already, which is told here, where it inlines.
inline void grow(Node node, uint64_t units, bool doubled) {
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    uint64_t needed = b->used_bytes() + units * b->unit();
    if (needed >= 0x80000000u || b->offset + needed > b->data_end()) expand(node, units, doubled);
}
// Makes the `old_count` units at `index` take `new_count` units, moving the units behind them and the
// tail; the units of the range keep whatever they held. The buffer must have the room (grow). A range
// that shrinks nearer the head than the tail moves the units before it instead, and the first used unit
// with them: taking values from the head of a long series, one by one, costs no more than from its tail.
void resize_range(Node node, uint32_t index, uint32_t old_count, uint32_t new_count);

// ---- removals carried out at once ----

// The removals of a walk that takes units out of a series pass by pass (remove-each). Taken out one by
// one, each would move the rest of the series: they wait, and go together when the walk ends, the
// units behind each closing up in one move. Until then the series keeps them: the walk reads on past
// them, and its body reads the series as it was before the walk. A change of the series (every action
// that changes one asks ownership::check first) and another walk over it carry them out first, so that
// they find the series as the removals would have left it. A walk ended by a throw carries out the
// removals of the passes it finished, and a hash! rebuilds its index at its next search.
//
// Rules: made and ended in the walk's own C++ frame, so walks nest. `position` is the walk's cell on the
// data stack (it never moves), whose head the removals move back when they are carried out. Carrying
// them out allocates only for a hash!'s index.
class Removals {
public:
    explicit Removals(Cell* position);
    ~Removals();
    Removals(const Removals&) = delete;
    Removals& operator=(const Removals&) = delete;

    // Takes out the `count` units at `start` (as far as the tail), which lie behind every unit taken
    // out so far.
    void add(uint32_t start, uint32_t count);
    // Takes out the units of every removal so far.
    void carry_out();
    // Whether removals of the series of `node` wait here.
    bool holds(Node node) const { return position_->node() == node && !ranges_.empty(); }

private:
    void close_up();

    Cell* position_;
    std::vector<std::pair<uint32_t, uint32_t>> ranges_;  // [start, end), in ascending order
};

// Walks holding Removals: while there are none, a change need not look for any.
inline uint32_t removing_walks = 0;
// Carries out the removals that walks hold for the series of `node`; true when there were any.
bool carry_out_removals(Node node);

// The units a /part argument covers from the head: an integer count, or the distance to a position of
// the same series (same type and node); any other argument raises script invalid-refine-arg.
int64_t part_count(const Cell& series, const Cell& part);

// The units a search's /part argument covers. Searching back (/reverse), the count runs back from the
// head, so a position bounds the search from below: its distance is the head minus the position.
inline int64_t search_part_count(const Cell& series, const Cell& part, bool reverse) {
    int64_t count = part_count(series, part);
    return reverse && !part.is(Type::Integer) ? -count : count;
}

// The record size a /skip argument gives, 1 without one. Only an integer names a size: any other value
// raises script invalid-refine-arg rather than being read as a number.
int64_t record_size(const Cell* skip);

// ---- actions that the child types call as a first step ----

// A new series holding the units of the /part range from the head (all of them without one), in
// `result`, which may be `value` itself; none for a pair! range that ends before it starts. The deep
// and types options are the block copy's business. Allocates.
const Cell* copy(Cell* value, Cell* result, const CopyOptions& options);
// Removes units from the series and pushes them on the data stack: a new series of the same type with
// /part, else the one unit as a value; none when no unit follows the head. Allocates.
const Cell* take(Cell* series, Cell* part, bool deep, bool last);

// ---- sorting ----

// What a sort works on: `count` units from `head`, in records of `record` units ordered by the unit
// at `offset` of each, by whole records (`whole`), or by a /compare function (`function`, a frame
// argument; null for none).
struct SortPlan {
    uint32_t head;
    uint32_t count;
    uint32_t record;
    uint32_t offset;
    bool whole;
    const Cell* function;
};
// Reads the refinements of sort and finds the range, which the sort then moves the head of the series
// to: a negative /part count takes the units before the head. It changes nothing, so that a sort plans
// again after an owner's handler changed the series. Raises script
// invalid-refine-arg for a /part of another series, for a /skip below 1 or not dividing the range (an
// empty range takes any), and for a /compare that is neither a function nor an integer; script bad-refines for
// /all without /skip and for an integer /compare without /skip or with /all; script out-of-range for an
// integer /compare outside the record.
SortPlan plan_sort(const Cell& series, const SortOptions& options);

// Runs a sort's comparison function on the two argument cells at `arguments`, the top two cells of the
// data stack, and leaves its answer in the first of them. Calling functions is the interpreter's, which
// sets this.
using FunctionCaller = void (*)(const Cell& function, Cell* arguments);
inline FunctionCaller call_sort_function = nullptr;

// Calls a sort's comparison function on the two argument cells at `arguments`, the top two cells of
// the data stack, pops them and answers the order the function gives: 1 when its first argument sorts
// first (true, a negative number, any value but false, none or a number), -1 when its second one does
// (false, none, a positive number), 0 when they are equal (zero). Raises internal not-done while no
// caller is set. Allocates.
int32_t function_order(const Cell& function, Cell* arguments);

// ---- set operations ----

// The operation codes that the set natives hand to each series type's do_set_op.
enum class SetOp { unique = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12 };

}  // namespace oka::series
