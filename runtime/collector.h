/* The collector: stop-the-world mark and compact over the series frames of runtime/memory.h.

   A cycle marks every series buffer reachable from the roots (the root block, the symbol table, the
   ownership table held weakly, the data stack up to its top, the call frames, the global context, the
   C++ cells registered with runtime::register_root, and whatever the mark callbacks report), following
   each cell's references as its type's layout says (runtime/types.h), with a work stack of its own, so
   that no nesting depth reaches the C++ stack.
   It then sweeps the handle table and the ownership table, slides the live buffers of each series
   frame together (into the previous frame's free room when that is large enough), rewrites the node
   of every buffer it moved, and releases dead big blocks, the nodes of dead buffers and emptied frames.

   Rules:
   - Buffers move, nodes never do. Node evacuation (moving the live nodes of sparse node frames) would
     rewrite node ids that C++ frames hold in locals across allocations, so cycles never evacuate:
     `node_cycles` stays 0 and hash tables keyed by node addresses stay valid.
   - Nothing may allocate a series while a cycle runs: not a mark callback, not a handle's release.
   - Fixed buffers (tracked heap) are marked through but never move and are never swept.

   Pacing: the allocator starts a cycle before a series allocation that would take the bytes carved
   since the last cycle (each buffer by its footprint, a big block's as much as a frame's) past
   `threshold`, which each cycle sets to the live heap it leaves (what stats::memory_in_use counts), and
   never below kThresholdFloor. A cycle's work grows with the live heap, so as many bytes allocated pay
   for each one and the collector's share of the time stays the same however large the heap grows;
   the memory held peaks at about twice the live data plus the floor. When the language memory has no
   room for a buffer, the allocator collects as well, and tries once more before it raises no-memory.

   Stress mode: OKA_GC_STRESS=N in the environment at start-up makes every Nth series allocation run a
   cycle, and every cycle then moves each live buffer of the series frames to other frames; the frames
   they leave are filled with mem::kPoisonByte (and made unaddressable in sanitizer builds) until the
   next cycle moves the buffers back into them. A stale buffer pointer or an unrooted value then fails
   at once instead of by chance.

   Heap check: `verify` walks the whole language memory and ends the process with a report of every
   fault it finds. Check builds run it after each cycle (after every fourth in the stress mode, where
   each allocation collects), and the test drivers after each console transcript case and unit test.
   Marking and the check read what a value names through the same visitor (visit_nodes here,
   hashtable::visit_series for a table), so the two never disagree on what is a reference.

   Failure hook: OKA_FAIL_ALLOC=N at start-up (or fail_at(N) later) makes the Nth series allocation,
   counted as the stress mode counts them, fail as a full language memory fails one, so that tests can
   run the no-memory error's path at every allocation of some code. */
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace oka::collector {

inline bool on = false;      // whether the allocator may start a cycle
inline uint32_t cycles = 0;  // collections run so far

inline bool collecting = false;      // set while a cycle runs
inline bool node_compaction = true;  // held off while a table is re-hashed from node addresses
inline uint32_t node_cycles = 0;     // cycles that moved nodes: always 0 (see the rules above)

// Every how many series allocations the stress mode collects; 0 when it is off.
inline uint32_t stress_interval = 0;

// The pacing of cycles (see above): bytes carved since the last cycle, counted while the collector is
// off as well, and the count that the allocator does not let them pass without a cycle.
inline constexpr uint64_t kThresholdFloor = 4 << 20;
inline uint64_t allocated = 0;
inline uint64_t threshold = kThresholdFloor;

// The ownership table (a kOwners hash table), 0 until it is made. Held weakly: its records keep
// nothing alive, and each cycle drops the records whose value or owner it found dead.
inline Node ownership_table = 0;

// Reads the stress setting; runs once at start-up, before any series exists.
void init();
// Keeps what this module holds of the language memory in every heap image (runtime/image_state.h).
void keep_in_images();

// One full collection; answers the number of cycles run so far.
uint32_t do_cycle();
// A collection when the collector is switched on (the allocator's call when memory has no room).
void do_cycle_if_on();
// The allocator's call before it carves a series buffer of `bytes` (its footprint): a cycle when the
// pacing or the stress mode calls for one and the collector is on, which also counts the allocation
// for the failure hook. True when the failure hook was armed for this allocation.
bool count_allocation(uint32_t bytes);
// Arms the failure hook: the nth series allocation counted from now fails (once); 0 disarms it.
void fail_at(uint32_t n);
// Whether the failure hook waits for an allocation to fail.
bool fail_armed_q();

// Code that holds nodes or values where no root sees them registers a callback for that time; each
// callback runs during marking and reports what it holds with the operations below.
using Callback = void (*)();
void register_(Callback callback);
void unregister(Callback callback);

// Runs after marking, before anything is freed or moved, for the holder of nodes that keeps them
// weakly (the compiled forms of code, evaluator/compiled_forms.h): it drops what marked_q finds
// unreached, whose nodes the cycle may free for reuse. It must not allocate a series.
inline Callback drop_unreached = nullptr;

// ---- marking, for mark callbacks and the owners of roots (stacks, hash tables) ----

// How a value (or a hash table) holds a series it names, which decides what marking does with it.
enum class Hold : uint8_t {
    Bytes,   // its buffer only
    Cells,   // its buffer and, when that holds cells, what they name
    Table,   // a hash table (runtime/hashtable.h): its own series and what its values name
    Handle,  // no series: the index of a handle-table slot
    Pixels,  // an image record: its buffer, whose first word is the handle of the pixels, and that handle
};

// Marks the node's buffer (nothing for node 0); true when it was not marked before.
bool keep(Node node);
// Keeps the node's buffer and, when it was newly marked and holds cells, marks its cells.
void mark_series(Node node);
// Marks what one value refers to, by its type's layout.
void mark_value(const Cell& value);
void mark_values(const Cell* first, const Cell* end);
// After marking: whether the node's buffer was reached.
bool marked_q(Node node);

// ---- the heap check ----

// When the heap check runs. At rest (between console inputs, between tests) no operation is half
// done: the stacks are at their base and every hash table is whole. In flight (after a cycle) an
// allocation is under way: the stacks need only lie within their blocks, their frames well linked.
enum class Moment : uint8_t { AtRest, InFlight };

// Everything wrong with the language memory, one line each naming the frame, node, buffer or cell and
// what was expected; empty when it is sound. It reads the frame lists and free lists, every buffer's
// header and its node, every value in a buffer of cells or a root (a real type, live nodes), the hash
// tables they name, the symbol table, the handle table and the stacks. It never allocates a series.
std::vector<std::string> heap_faults(Moment moment);
// heap_faults; when there are any, prints them and ends the process as a failed assertion does.
void verify(Moment moment);
// Check builds verify the heap after cycles (in flight) while this is set; a test that collects around
// cells made up on purpose, which name buffers no real value would, clears it for that while.
inline bool verify_cycles = kChecks;

// Holds automatic collection off for the life of the scope.
class HeldOff {
public:
    HeldOff() { on = false; }
    ~HeldOff() { on = was_; }
    HeldOff(const HeldOff&) = delete;
    HeldOff& operator=(const HeldOff&) = delete;

private:
    bool was_ = on;
};

}  // namespace oka::collector
