#include "runtime/collector.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/native.h"
#include "evaluator/stack.h"
#include "runtime/handles.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stats.h"
#include "runtime/symbol_table.h"

namespace oka::collector {

namespace {

// A growable array in the tracked heap, made at start-up and kept from one cycle to the next. Growing
// it never allocates a series; running out of memory ends the process (runtime error 94).
template <class T>
class Pile {
public:
    void make() { grow(); }
    void push(T item) {
        if (count_ == capacity_) grow();
        items_[count_++] = item;
    }
    T pop() { return items_[--count_]; }
    bool empty() const { return count_ == 0; }
    void clear() { count_ = 0; }
    uint32_t size() const { return count_; }
    T& operator[](uint32_t i) { return items_[i]; }
    T* begin() { return items_; }
    T* end() { return items_ + count_; }

private:
    void grow() {
        capacity_ = capacity_ ? 2 * capacity_ : 1000;
        items_ = static_cast<T*>(sys::resize(items_, capacity_ * sizeof(T)));
    }
    T* items_ = nullptr;
    uint32_t count_ = 0, capacity_ = 0;
};

constexpr uint32_t kFreeQueueSize = 20000;
constexpr uint32_t kMaxCallbacks = 100;
// A predecessor frame takes runs only while its room exceeds what the allocator passes over.
constexpr uint32_t kMinPredecessorRoom = kMinFrameRoom + 1;

Pile<Node> work;          // cell series marked whose cells are still to be marked
Pile<Addr> fixed_marked;  // fixed buffers marked in this cycle: nothing else clears their marks
Pile<Addr> node_frames;   // the node frames by address, rebuilt at each cycle
Node free_queue[kFreeQueueSize];
uint32_t queued = 0;
Callback callbacks[kMaxCallbacks];
uint32_t callback_count = 0;
uint32_t allocations = 0;  // series allocations while the collector is on
uint32_t failing = 0;      // the count at which the failure hook fails an allocation, 0 for none
Addr spare = 0;            // the frames the last stress cycle emptied, poisoned until the next one

SeriesBuffer* buffer_at(Addr buffer) { return mem::ptr<SeriesBuffer>(buffer); }
SeriesBuffer* buffer_of(Node node) { return buffer_at(mem::buffer_addr(node)); }
SeriesFrame* series_frame(Addr frame) { return mem::ptr<SeriesFrame>(frame); }
NodeFrame* node_frame(Addr frame) { return mem::ptr<NodeFrame>(frame); }
BigBlock* big_block(Addr block) { return mem::ptr<BigBlock>(block); }

// ---- marking ----

// The bytes series a text value names: its code points and, in word 3, its conversion scratch buffer.
void keep_text(const Cell& text) {
    keep(text.data2);
    keep(text.data3);
}

// An op! wrapping a function or routine also names the function's context.
void mark_op(const Cell& op) {
    mark_series(op.data2);
    mark_series(op.data3);
    Type wrapped = op::wrapped_type(op);
    if (wrapped == Type::Function || wrapped == Type::Routine) mark_series(op.data1);
}

constexpr uint32_t kEventHoldsSeries = 1u << 12;

void mark_cells_of(Node node) {
    SeriesBuffer* b = buffer_of(node);
    mark_values(mem::ptr<Cell>(b->offset), mem::ptr<Cell>(b->tail));
}

void mark_roots() {
    mark_series(runtime::root.data2);
    hashtable::mark(symbol::index);
    hashtable::mark(ownership_table);
    mark_values(stack::bottom, stack::top);
    stack::mark_gc();
    mark_series(_context::global);
    for (Cell* cell : runtime::registered_roots()) mark_value(*cell);
    for (uint32_t i = 0; i < callback_count; i++)
        if (callbacks[i]) callbacks[i]();
    while (!work.empty()) mark_cells_of(work.pop());
}

void clear_fixed_marks() {
    for (Addr buffer : fixed_marked) buffer_at(buffer)->flags &= ~kSeriesMark;
    fixed_marked.clear();
}

// ---- releasing nodes ----

void index_node_frames() {
    node_frames.clear();
    for (Addr f = alloc::memory.node_frames_head; f; f = node_frame(f)->next) node_frames.push(f);
    std::sort(node_frames.begin(), node_frames.end());
}

bool holds_node(Addr frame, Node node) {
    Addr first = node_frame(frame)->first_slot();
    return node >= first && node < first + 4 * node_frame(frame)->capacity;
}

// Gives the queued nodes back to their frames: sorted, they meet the frames in address order.
void flush_free_nodes() {
    std::sort(free_queue, free_queue + queued);
    uint32_t frame = 0;
    for (uint32_t i = 0; i < queued; i++) {
        while (!holds_node(node_frames[frame], free_queue[i])) {
            frame++;
            OKA_ASSERT(frame < node_frames.size() && "a dead buffer's node lies in no node frame");
        }
        alloc::free_node(node_frames[frame], free_queue[i]);
    }
    queued = 0;
}

void queue_free_node(Node node) {
    if (!node) return;  // the buffer was abandoned by a reallocation: its node lives on elsewhere
    if (queued == kFreeQueueSize) flush_free_nodes();
    free_queue[queued++] = node;
}

// ---- moving buffers ----

uint32_t footprint(Addr buffer) { return buffer_at(buffer)->size + kBufferOverhead; }
bool is_live(Addr buffer) { return buffer_at(buffer)->flags & kSeriesMark; }

// Moves `length` bytes of whole buffers from `from` to `to` and points each buffer's node (and its
// offset and tail) at its new place.
void relocate(Addr from, uint32_t length, Addr to) {
    if (from == to) return;
    mem::unpoison(to, length);
    std::memmove(mem::ptr(to), mem::ptr(from), length);
    uint32_t shift = to - from;  // modulo 2^32: a move down wraps around and lands right
    for (Addr at = to; at < to + length; at += footprint(at)) {
        SeriesBuffer* b = buffer_at(at);
        *mem::ptr<Addr>(b->node) = at;
        b->offset += shift;
        b->tail += shift;
    }
}

uint32_t room_of(Addr frame) { return series_frame(frame)->end - series_frame(frame)->heap; }

// The room a predecessor frame offers: its free bytes, or none when they are too few to bother.
uint32_t offered_room(Addr frame) {
    if (!frame) return 0;
    return room_of(frame) >= kMinPredecessorRoom ? room_of(frame) : 0;
}

// Moves a run of buffers to the heap of `frame`.
void append_run(Addr frame, Addr run, uint32_t length) {
    relocate(run, length, series_frame(frame)->heap);
    series_frame(frame)->heap += length;
}

// Compacts one frame in a single pass. Dead buffers give their nodes back. Each run of live buffers
// (their marks cleared on the way) moves into the predecessor's room when it fits there, else slides
// down to the end of the live part kept so far; a run that can do neither stays, and the predecessor
// takes nothing more from this frame. A run that outgrows the room by its last buffer moves without
// that buffer, which starts the next run.
void compact(Addr frame, Addr predecessor) {
    uint32_t room = offered_room(predecessor);
    Addr kept_end = series_frame(frame)->payload_start();
    Addr heap = series_frame(frame)->heap;
    for (Addr at = kept_end; at < heap;) {
        if (!is_live(at)) {
            queue_free_node(buffer_at(at)->node);
            at += footprint(at);
            continue;
        }
        Addr run = at;
        uint32_t length = 0, last = 0;
        while (at < heap && is_live(at) && !(room && length >= room)) {
            buffer_at(at)->flags &= ~kSeriesMark;
            last = footprint(at);
            length += last;
            at += last;
        }
        if (room && length > room && length > last) {
            at -= last;
            length -= last;
            buffer_at(at)->flags |= kSeriesMark;
        }
        if (room && length <= room) {
            append_run(predecessor, run, length);
            room = offered_room(predecessor);
            continue;
        }
        if (kept_end == run) room = 0;
        relocate(run, length, kept_end);
        kept_end += length;
    }
    mem::poison(kept_end, heap - kept_end);
    series_frame(frame)->heap = kept_end;
}

// The frames in address order, each compacting into the one below it; a frame left empty is released
// unless it is the last one.
void compact_frames() {
    Addr predecessor = 0;
    for (Addr frame = alloc::memory.series_frames_head; frame;) {
        Addr next = series_frame(frame)->next;
        compact(frame, predecessor);
        if (next && series_frame(frame)->heap == series_frame(frame)->payload_start())
            alloc::free_series_frame(frame);
        else
            predecessor = frame;
        frame = next;
    }
}

// An empty frame for the stress mode's moves: one that the last stress cycle emptied, else a new one.
Addr fresh_frame() {
    Addr frame = spare;
    if (!frame) return alloc::alloc_series_frame();
    spare = series_frame(frame)->next;
    alloc::relink_series_frame(frame);
    return frame;
}

// The stress mode's compaction: every live buffer moves to other frames, and the frames it leaves stay
// poisoned until the next stress cycle, so that whatever still points into them reads nonsense. That
// cycle then moves the buffers back into them, and frees the ones it does not need.
void evacuate_frames() {
    MemoryRecord& m = alloc::memory;
    Addr old = m.series_frames_head;
    m.series_frames_head = m.series_frames_tail = m.active_series_frame = 0;
    Addr to = 0;
    for (Addr frame = old; frame; frame = series_frame(frame)->next) {
        Addr start = series_frame(frame)->payload_start(), heap = series_frame(frame)->heap;
        for (Addr at = start; at < heap;) {
            if (!is_live(at)) {
                queue_free_node(buffer_at(at)->node);
                at += footprint(at);
                continue;
            }
            if (!to || room_of(to) < footprint(at)) to = fresh_frame();
            Addr run = at;
            uint32_t length = 0;
            for (; at < heap && is_live(at) && length + footprint(at) <= room_of(to); at += footprint(at)) {
                buffer_at(at)->flags &= ~kSeriesMark;
                length += footprint(at);
            }
            append_run(to, run, length);
        }
        mem::poison(start, heap - start);
    }
    while (Addr unused = spare) {
        spare = series_frame(unused)->next;
        alloc::free_region(unused);
    }
    spare = old;
    m.active_series_frame = to;
}

void sweep_big_blocks() {
    for (Addr* link = &alloc::memory.big_blocks_head; Addr block = *link;) {
        SeriesBuffer* b = buffer_at(big_block(block)->buffer());
        if (b->flags & kSeriesMark) {
            b->flags &= ~kSeriesMark;
            link = &big_block(block)->next;
            continue;
        }
        queue_free_node(b->node);
        *link = big_block(block)->next;
        alloc::free_region(block);
    }
}

}  // namespace

void init() {
    work.make();
    fixed_marked.make();
    node_frames.make();
    const char* setting = std::getenv("OKA_GC_STRESS");
    stress_interval = setting ? uint32_t(std::strtoul(setting, nullptr, 10)) : 0;
    mem::poisoning = stress_interval != 0;
    const char* failure = std::getenv("OKA_FAIL_ALLOC");
    fail_at(failure ? uint32_t(std::strtoul(failure, nullptr, 10)) : 0);
}

uint32_t do_cycle() {
    OKA_ASSERT(!collecting);
    collecting = true;
    if constexpr (kChecks) mem::epoch++;  // every buffer pointer taken before the cycle is stale
    mark_roots();
    index_node_frames();
    handles::sweep();
    hashtable::sweep_weak(ownership_table);
    if (stress_interval)
        evacuate_frames();
    else
        compact_frames();
    sweep_big_blocks();
    flush_free_nodes();
    alloc::free_unused_node_frames();
    clear_fixed_marks();
    collecting = false;
    return ++cycles;
}

void do_cycle_if_on() {
    if (on) do_cycle();
}

bool count_allocation() {
    if (!on) return false;
    ++allocations;
    if (stress_interval && allocations % stress_interval == 0) do_cycle();
    if (allocations != failing) return false;
    failing = 0;
    return true;
}

void fail_at(uint32_t n) { failing = n ? allocations + n : 0; }

bool fail_armed_q() { return failing != 0; }

Cell recycle() {
    do_cycle();
    return stats::in_use();
}

void register_(Callback callback) {
    if (callback_count == kMaxCallbacks) assertion_failed("room for another mark callback", __FILE__, __LINE__);
    callbacks[callback_count++] = callback;
}

void unregister(Callback callback) { std::replace(callbacks, callbacks + callback_count, callback, Callback(nullptr)); }

bool keep(Node node) {
    if (!node) return false;
    SeriesBuffer* b = buffer_of(node);
    OKA_ASSERT(b->node == node && "a value names a node that has no buffer");
    if (b->flags & kSeriesMark) return false;
    b->flags |= kSeriesMark;
    if (b->flags & kSeriesFixed) fixed_marked.push(mem::addr(b));
    return true;
}

void mark_series(Node node) {
    if (keep(node) && buffer_of(node)->unit() == sizeof(Cell)) work.push(node);
}

void mark_value(const Cell& value) {
    if (uint8_t(value.header) == kBoundedStringType) {  // a string! that shows part of its text
        keep(value.data2);
        return;
    }
    switch (value.type()) {
    case Type::Block:
    case Type::Paren:
    case Type::Path:
    case Type::LitPath:
    case Type::SetPath:
    case Type::GetPath: mark_series(value.data2); break;
    case Type::String:
    case Type::File:
    case Type::Url:
    case Type::Tag:
    case Type::Email:
    case Type::Ref: keep_text(value); break;
    case Type::Symbol:
        keep(value.data3);
        keep(value.data2);
        break;
    case Type::Context:
        hashtable::mark(value.data1);
        if (!(value.header & _context::kValuesOnStack)) mark_series(value.data2);
        break;
    // A word bound to a context keeps all of it: the context cell and the owner's self cell. A word
    // `self` bound with no position names its context the same way.
    case Type::Word:
    case Type::SetWord:
    case Type::LitWord:
    case Type::GetWord:
    case Type::Refinement: mark_series(value.data1); break;
    case Type::Native:
    case Type::Action:
        mark_series(value.data2);
        mark_series(value.data3);
        break;
    case Type::Op: mark_op(value); break;
    case Type::Function:
    case Type::Routine:
        mark_series(value.data1);
        mark_series(value.data2);
        mark_series(value.data3);
        break;
    case Type::Bitset:
    case Type::Vector:
    case Type::Binary:
    case Type::Image: keep(value.data2); break;
    // The handler record of an object names the spec blocks of its handlers.
    case Type::Object:
    case Type::Error:
    case Type::Port:
        mark_series(value.data1);
        mark_series(value.data3);
        break;
    case Type::Hash:
    case Type::Map:
        mark_series(value.data2);
        hashtable::mark(value.data3);
        break;
    case Type::Handle:
        if (int32_t(value.data3) >= 0) handles::mark(int32_t(value.data3), nullptr);
        break;
    case Type::Event:
        if (value.header & kEventHoldsSeries) mark_series(value.data2);
        break;
    default: break;
    }
}

void mark_values(const Cell* first, const Cell* end) {
    for (const Cell* cell = first; cell < end; cell++) mark_value(*cell);
}

bool marked_q(Node node) { return node && (buffer_of(node)->flags & kSeriesMark); }

}  // namespace oka::collector
