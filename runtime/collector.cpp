#include "runtime/collector.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/handles.h"
#include "runtime/hashtable.h"
#include "runtime/image_state.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/stats.h"
#include "runtime/symbol_table.h"
#include "runtime/types.h"

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

// Check builds check the heap after every cycle, but in the stress mode only after every fourth: there
// a cycle runs at each allocation, and a check costs about one and a half of them.
constexpr uint32_t kStressCheckInterval = 4;

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

// The handle that an image record names: the first word of its buffer.
int32_t pixels_handle(Node node) { return *mem::ptr<int32_t>(buffer_of(node)->offset); }

// How the layout table's holds (runtime/type_layouts.def) keep what a payload word names.
enum class Keep : uint8_t {
    plain,
    cells,
    bytes,
    table,
    pixels,
    handle,
    stack_or_cells,
    flagged_cells,
    wrapped_context
};

// Calls visit(node, hold) for the word of one field of a layout, when its hold keeps something and
// the header says the word names it now (a node may be 0: nothing there yet).
template <Keep keep, class Visit>
OKA_ALWAYS_INLINE void visit_word(const Cell& value, uint32_t word, Visit visit) {
    if constexpr (keep == Keep::cells) visit(word, Hold::Cells);
    if constexpr (keep == Keep::bytes) visit(word, Hold::Bytes);
    if constexpr (keep == Keep::table) visit(word, Hold::Table);
    if constexpr (keep == Keep::pixels) visit(word, Hold::Pixels);
    if constexpr (keep == Keep::handle)
        if (int32_t(word) >= 0) visit(word, Hold::Handle);
    if constexpr (keep == Keep::stack_or_cells)
        if (!(value.header & kValuesOnStack)) visit(word, Hold::Cells);
    if constexpr (keep == Keep::flagged_cells)
        if (value.header & kEventHoldsSeries) visit(word, Hold::Cells);
    if constexpr (keep == Keep::wrapped_context)
        if (type_layout(op_wrapped_type(value)) == Layout::function) visit(word, Hold::Cells);
}

constexpr uint32_t payload_word(const Cell& value, uint8_t word) {
    return word == 1 ? value.data1 : word == 2 ? value.data2 : value.data3;
}

// The fields of one layout that name something, in the order of the layout table.
template <Layout layout, class Visit>
OKA_ALWAYS_INLINE void visit_layout(const Cell& value, Visit visit) {
#define OKA_HOLDS(in, field, hold)                                   \
    if constexpr (Layout::in == layout && Keep::hold != Keep::plain) \
        visit_word<Keep::hold>(value, payload_word(value, payload::kFieldWords[uint8_t(Field::field)]), visit);
#include "runtime/type_layouts.def"
}

// Calls visit(node, hold) for each series, table or handle a value names, as its layout says, with how
// the value holds it: the one place that reads a cell's references. Marking and the heap check both
// read values through it.
template <class Visit>
OKA_ALWAYS_INLINE void visit_nodes(const Cell& value, Visit visit) {
    switch (type_layout(value.type())) {
#define OKA_LAYOUT(name, hash)                    \
    case Layout::name:                            \
        visit_layout<Layout::name>(value, visit); \
        return;
#include "runtime/type_layouts.def"
    }
}

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
    for (Cell* cell : runtime::registered_roots()) mark_value(*cell);
    for (Node* node : runtime::registered_nodes()) mark_series(*node);
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

// ---- pacing ----

// The next cycle is due once as many bytes as the live heap are carved; frames grow with the heap.
void pace_next_cycle() {
    uint64_t live = uint64_t(stats::memory_in_use());
    allocated = 0;
    threshold = std::max(kThresholdFloor, live);
    alloc::size_frames_for(live);
}

// Whether the allocation of `bytes`, counted as number `allocations`, calls for a cycle first.
bool cycle_due(uint32_t bytes) {
    return allocated + bytes > threshold || (stress_interval && allocations % stress_interval == 0);
}

// ---- the heap check ----

constexpr size_t kMaxFaults = 20;
// More links than a list of frames or blocks can have in 4 GiB: a walk that gets this far runs in a circle.
constexpr uint32_t kMaxLinks = 1u << 20;

constexpr uint32_t kKnownFlags = kSeriesUnitMask | kSeriesOwned | kSeriesNegated | kSeriesFixed | kSeriesCallHint |
                                 kSeriesLibrary | kSeriesCompiled | kSeriesBig | kSeriesMark | kSeriesHeadRoom |
                                 kSeriesNew | kSeriesLive;

NodeFrame* node_frame_of(Addr frame) { return mem::ptr<NodeFrame>(frame); }
Addr slot_of(Node node) { return *mem::ptr<Addr>(node); }
// alloc::alloc_region keeps the rounded size of a region in the 4 bytes before it.
uint32_t region_bytes(Addr region) { return *mem::ptr<uint32_t>(region - 4); }
bool valid_unit(uint32_t unit) { return unit == 1 || unit == 2 || unit == 4 || unit == 8 || unit == sizeof(Cell); }
// Any id the registry has room for: the run-time uses some that no datatype registers yet (hash!, pair!),
// 0 marks an emptied cell and kBoundedStringType a string view. Poison bytes make no such id.
bool valid_type_id(uint8_t id) { return id < kTypeTableSize; }

bool known_frame_kind(stack::FrameKind kind) {
    switch (kind) {
    case stack::kFrameFunction:
    case stack::kFrameNative:
    case stack::kFrameTry:
    case stack::kFrameTryAll:
    case stack::kFrameCatch:
    case stack::kFrameEval:
    case stack::kFrameLoop: return true;
    }
    return false;
}

// Where a cell lies, named in a fault: a root by its name and number, else its buffer's node and index.
struct Place {
    const char* root;
    Node node;
    uint32_t index;

    std::string text() const {
        char out[80];
        if (root)
            std::snprintf(out, sizeof out, "%s %u", root, index);
        else
            std::snprintf(out, sizeof out, "cell %u of node %#x (buffer %#x)", index, node, mem::buffer_addr(node));
        return out;
    }
};

// One run of the heap check. It walks the node frames and their free lists, then the series frames and
// big blocks buffer by buffer (each buffer's node must name it back), then every node in use (those no
// frame or block holds must name fixed buffers of the tracked heap), then the symbol table, then the
// cells of every buffer of cells and of the roots, whose types must be real and whose nodes live (with
// the hash tables they name), and last the stacks and the handle table. Each step relies only on what
// the steps before found sound.
class HeapCheck {
public:
    // One object serves every run, so that its tables keep their room and a run seldom allocates.
    std::vector<std::string> run(Moment moment) {
        at_rest_ = moment == Moment::AtRest;
        faults_.clear();
        frames_.clear();
        slots_.clear();
        buffers_of_cells_.clear();
        used_ = placed_ = symbol_count_ = 0;
        last_frame_ = 0;
        check_node_frames();
        check_series_frames();
        check_big_blocks();
        check_region_bytes();
        check_unplaced_nodes();
        check_symbols();
        check_buffers_of_cells();
        check_roots();
        check_stacks();
        check_handles();
        return std::move(faults_);
    }

private:
    // What the walk learnt of each slot of each node frame.
    enum SlotState : uint8_t {
        kUnseen,        // in use; no frame or big block holds its buffer
        kFree,          // on its frame's free list
        kUnsound,       // in use, with a fault already noted
        kSound,         // in use, naming a buffer that names it back and whose header is sound
        kSoundCells,    // as kSound, a buffer of cells
        kCheckedTable,  // as kSound, and checked as a hash table
    };
    struct FrameSlots {
        Addr first;
        uint32_t capacity;
        uint32_t base;  // index of its first slot in `slots_`

        bool holds(Node node) const { return node >= first && node - first < 4 * capacity; }
    };

    bool at_rest_ = false;
    std::vector<std::string> faults_;
    std::vector<FrameSlots> frames_;  // by address
    std::vector<uint8_t> slots_;
    std::vector<Node> buffers_of_cells_;  // nodes found sound whose buffers hold cells
    uint32_t used_ = 0;                   // slots not free
    uint32_t placed_ = 0;                 // of those, the ones a series frame or big block holds the buffer of
    size_t last_frame_ = 0;               // where the last lookup found its node
    uint32_t symbol_count_ = 0;

    [[gnu::format(printf, 2, 3)]] void fault(const char* format, ...) {
        if (faults_.size() > kMaxFaults) return;
        if (faults_.size() == kMaxFaults) {
            faults_.emplace_back("(more faults not listed)");
            return;
        }
        char text[400];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        faults_.emplace_back(text);
    }

    // Nodes named one after the other mostly share a frame: the last one found is tried first.
    uint8_t* state_of(Node node) {
        if (frames_.empty()) return nullptr;
        if (!frames_[last_frame_].holds(node)) {
            auto after = std::upper_bound(frames_.begin(), frames_.end(), node,
                                          [](Node n, const FrameSlots& f) { return n < f.first; });
            if (after == frames_.begin() || !after[-1].holds(node)) return nullptr;
            last_frame_ = after - 1 - frames_.begin();
        }
        const FrameSlots& f = frames_[last_frame_];
        if ((node - f.first) % 4) return nullptr;
        return &slots_[f.base + (node - f.first) / 4];
    }
    bool sound(Node node) {
        uint8_t* state = state_of(node);
        return state && *state >= kSound;
    }

    // ---- frames and blocks ----

    void check_node_frames() {
        const MemoryRecord& m = alloc::memory;
        Addr previous = 0;
        bool current_seen = !m.current_node_frame;
        uint32_t links = 0;
        for (Addr frame = m.node_frames_head; frame; previous = frame, frame = node_frame_of(frame)->next) {
            if (++links > kMaxLinks) return fault("the node-frame list runs in a circle");
            NodeFrame* f = node_frame_of(frame);
            if (f->prev != previous)
                fault("node frame %#x: its back link is %#x, expected %#x", frame, f->prev, previous);
            current_seen |= frame == m.current_node_frame;
            if (f->evacuated) fault("node frame %#x is evacuated, but cycles never move nodes", frame);
            if (f->capacity == 0 || region_bytes(frame) < sizeof(NodeFrame) + 4 * uint64_t(f->capacity)) {
                fault("node frame %#x: %u slots do not fit its region of %u bytes", frame, f->capacity,
                      region_bytes(frame));
                continue;
            }
            frames_.push_back({f->first_slot(), f->capacity, uint32_t(slots_.size())});
            slots_.resize(slots_.size() + f->capacity, kUnseen);
            check_free_slots(frame, frames_.back());
        }
        if (previous != m.node_frames_tail)
            fault("the node-frame list ends at %#x, but its tail is %#x", previous, m.node_frames_tail);
        if (!current_seen) fault("the current node frame %#x is not in the node-frame list", m.current_node_frame);
        std::sort(frames_.begin(), frames_.end(),
                  [](const FrameSlots& a, const FrameSlots& b) { return a.first < b.first; });
    }

    void check_free_slots(Addr frame, const FrameSlots& slots) {
        NodeFrame* f = node_frame_of(frame);
        uint32_t free = 0;
        for (Addr at = f->free; at; at = slot_of(at)) {
            if (at < slots.first || at >= slots.first + 4 * slots.capacity || (at - slots.first) % 4)
                return fault("node frame %#x: its free list leads to %#x, which is none of its slots", frame, at);
            uint8_t& state = slots_[slots.base + (at - slots.first) / 4];
            if (state == kFree) return fault("node frame %#x: its free list runs in a circle at %#x", frame, at);
            state = kFree;
            free++;
        }
        if (free + f->used != f->capacity)
            fault("node frame %#x: %u slots free and %u used, expected %u in all", frame, free, f->used, f->capacity);
        used_ += slots.capacity - free;
    }

    void check_series_frames() {
        const MemoryRecord& m = alloc::memory;
        Addr previous = 0;
        bool active_seen = !m.active_series_frame;
        uint32_t links = 0;
        for (Addr frame = m.series_frames_head; frame; previous = frame, frame = series_frame(frame)->next) {
            if (++links > kMaxLinks) return fault("the series-frame list runs in a circle");
            SeriesFrame* f = series_frame(frame);
            if (f->prev != previous)
                fault("series frame %#x: its back link is %#x, expected %#x", frame, f->prev, previous);
            if (frame < previous)
                fault("series frame %#x follows %#x: the list is not in address order", frame, previous);
            active_seen |= frame == m.active_series_frame;
            if (f->end != frame + f->size || f->heap < f->payload_start() || f->heap > f->end ||
                region_bytes(frame) < f->size) {
                fault("series frame %#x: heap %#x and end %#x do not fit its %u bytes", frame, f->heap, f->end,
                      f->size);
                continue;
            }
            for (Addr at = f->payload_start(); at < f->heap; at += footprint(at)) {
                if (buffer_at(at)->size % 16 || uint64_t(at) + footprint(at) > f->heap)
                    return fault("series frame %#x: the buffer at %#x, of %u bytes, runs past the frame's heap at %#x",
                                 frame, at, buffer_at(at)->size, f->heap);
                check_placed(at, 0);
            }
        }
        if (previous != m.series_frames_tail)
            fault("the series-frame list ends at %#x, but its tail is %#x", previous, m.series_frames_tail);
        if (!active_seen) fault("the active series frame %#x is not in the series-frame list", m.active_series_frame);
    }

    void check_big_blocks() {
        uint32_t links = 0;
        for (Addr block = alloc::memory.big_blocks_head; block; block = big_block(block)->next) {
            if (++links > kMaxLinks) return fault("the big-block list runs in a circle");
            BigBlock* b = big_block(block);
            uint32_t footprint_expected = buffer_at(b->buffer())->size + kBufferOverhead;
            if (b->footprint != footprint_expected || region_bytes(block) < sizeof(BigBlock) + uint64_t(b->footprint)) {
                fault("big block %#x: footprint %u in a region of %u bytes, expected %u", block, b->footprint,
                      region_bytes(block), footprint_expected);
                continue;
            }
            check_placed(b->buffer(), kSeriesBig);
        }
    }

    // The language memory's count of operating-system bytes against the regions it holds.
    void check_region_bytes() {
        uint64_t total = 0;
        auto add = [&](Addr region) { total += region_bytes(region); };
        for (Addr f = alloc::memory.node_frames_head; f; f = node_frame_of(f)->next) add(f);
        for (Addr f = alloc::memory.series_frames_head; f; f = series_frame(f)->next) add(f);
        for (Addr f = spare; f; f = series_frame(f)->next) add(f);
        for (Addr b = alloc::memory.big_blocks_head; b; b = big_block(b)->next) add(b);
        if (faults_.empty() && total != alloc::memory.os_bytes)
            fault("the memory record counts %u operating-system bytes, but its regions hold %llu",
                  alloc::memory.os_bytes, static_cast<unsigned long long>(total));
    }

    // ---- buffers and nodes ----

    // A buffer found in a series frame (placement 0) or a big block (kSeriesBig).
    void check_placed(Addr buffer, uint32_t placement) {
        SeriesBuffer* b = buffer_at(buffer);
        if ((b->flags & (kSeriesBig | kSeriesFixed)) != placement)
            fault("buffer %#x: flags %#x, but it lies in %s", buffer, b->flags,
                  placement ? "a big block" : "a series frame");
        if (!b->node) {
            if (b->flags & kSeriesLive) fault("buffer %#x has no node, yet it is flagged live", buffer);
            return;
        }
        if (!(b->flags & kSeriesLive))
            fault("buffer %#x names node %#x, yet it is not flagged live (abandoned)", buffer, b->node);
        uint8_t* state = state_of(b->node);
        if (!state || *state == kFree)
            return fault("buffer %#x names node %#x, which %s", buffer, b->node,
                         state ? "is on its frame's free list" : "lies in no node frame");
        if (slot_of(b->node) != buffer)
            return fault("buffer %#x names node %#x, whose slot names %#x", buffer, b->node, slot_of(b->node));
        if (*state != kUnseen) return fault("buffer %#x: its node %#x is named by another buffer", buffer, b->node);
        *state = check_header(buffer) ? sound_state(b->node) : kUnsound;
        placed_++;
    }

    bool check_header(Addr buffer) {
        SeriesBuffer* b = buffer_at(buffer);
        size_t before = faults_.size();
        if (!valid_unit(b->unit()))
            fault("buffer %#x (node %#x): unit %u, expected 1, 2, 4, 8 or 16", buffer, b->node, b->unit());
        if (b->size % 16)
            fault("buffer %#x (node %#x): capacity %u, expected a multiple of 16", buffer, b->node, b->size);
        if (b->offset < b->data_start() || b->tail < b->offset)
            fault("buffer %#x (node %#x): offset %#x and tail %#x, expected the data start %#x <= offset <= tail",
                  buffer, b->node, b->offset, b->tail, b->data_start());
        else if (b->tail > b->data_end())
            fault("buffer %#x (node %#x): tail %#x lies past its capacity, which ends at %#x", buffer, b->node, b->tail,
                  b->data_end());
        else if (valid_unit(b->unit()) && (b->used_bytes() % b->unit() || (b->offset - b->data_start()) % b->unit()))
            fault("buffer %#x (node %#x): offset %#x and tail %#x, expected whole units of %u from the data start %#x",
                  buffer, b->node, b->offset, b->tail, b->unit(), b->data_start());
        if (b->flags & kSeriesMark) fault("buffer %#x (node %#x) is still marked", buffer, b->node);
        if (b->flags & ~kKnownFlags)
            fault("buffer %#x (node %#x): unknown flags %#x", buffer, b->node, b->flags & ~kKnownFlags);
        return faults_.size() == before;
    }

    // Nodes in use that no frame or big block holds the buffer of: each must name a fixed buffer, a live
    // block of the tracked heap that names it back.
    // Fixed buffers are few and made early, so the walk stops once it has met them all.
    void check_unplaced_nodes() {
        uint32_t unplaced = used_ - placed_;
        for (const FrameSlots& f : frames_) {
            for (uint32_t i = 0; i < f.capacity && unplaced; i++) {
                uint8_t& state = slots_[f.base + i];
                if (state != kUnseen) continue;
                state = check_fixed(f.first + 4 * i) ? sound_state(f.first + 4 * i) : kUnsound;
                unplaced--;
            }
        }
    }

    bool check_fixed(Node node) {
        Addr buffer = slot_of(node);
        if (!buffer) return fault("node %#x is in use but names no buffer", node), false;
        uint32_t bytes = sys::block_size(mem::ptr(buffer));
        if (bytes < sizeof(SeriesBuffer))
            return fault(
                       "node %#x names %#x, which is no buffer: in no series frame or big block, nor the tracked heap",
                       node, buffer),
                   false;
        SeriesBuffer* b = buffer_at(buffer);
        if (b->node != node)
            return fault("node %#x names fixed buffer %#x, whose node is %#x", node, buffer, b->node), false;
        if (!(b->flags & kSeriesFixed))
            return fault("node %#x names buffer %#x of the tracked heap, which is not flagged fixed", node, buffer),
                   false;
        if (sizeof(SeriesBuffer) + uint64_t(b->size) > bytes)
            return fault("fixed buffer %#x (node %#x): capacity %u exceeds its block of %u bytes", buffer, node,
                         b->size, bytes),
                   false;
        return check_header(buffer);
    }

    // ---- cells ----

    // The state of a node found sound. Its buffer's cells are checked once every node's state is known.
    SlotState sound_state(Node node) {
        SeriesBuffer* b = buffer_of(node);
        if (at_rest_ && (b->flags & kSeriesOwned) && !hashtable::get(ownership_table, node))
            fault("buffer %#x (node %#x) is flagged owned, but the ownership table has no entry for it",
                  mem::buffer_addr(node), node);
        if (b->unit() != sizeof(Cell)) return kSound;
        buffers_of_cells_.push_back(node);
        return kSoundCells;
    }

    void check_buffers_of_cells() {
        for (Node node : buffers_of_cells_) {
            SeriesBuffer* b = buffer_of(node);
            const Cell* cells = mem::ptr<Cell>(b->offset);
            for (uint32_t k = 0; k < b->length(); k++) check_value(cells[k], {nullptr, node, k});
        }
    }

    void check_value(const Cell& value, const Place& place) {
        if (!valid_type_id(uint8_t(value.header)))
            return fault("%s: type id %u is no type (cell %08x %08x %08x %08x)", place.text().c_str(),
                         uint8_t(value.header), value.header, value.data1, value.data2, value.data3);
        visit_nodes(value, [&](uint32_t node, Hold hold) { check_named(node, hold, place); });
        Type type = value.type();
        if (type >= Type::Word && type <= Type::Issue && symbol_count_ &&
            (value.data2 < 1 || value.data2 > symbol_count_))
            fault("%s: a word of symbol %u, expected 1 to %u", place.text().c_str(), value.data2, symbol_count_);
        if (type >= Type::Word && type <= Type::Refinement && value.data1) check_binding(value, place);
        if (type == Type::Context && (value.header & kValuesOnStack) && value.data2 && !on_data_stack(value.data2))
            fault("%s: a context whose values lie on the data stack names %#x, which is not on it",
                  place.text().c_str(), value.data2);
    }

    // A bound word names a context (its context cell first) and, once resolved, a position among its words.
    void check_binding(const Cell& word, const Place& place) {
        if (!sound(word.data1) || buffer_of(word.data1)->length() < 1) return;
        const Cell& context = *mem::ptr<Cell>(buffer_of(word.data1)->offset);
        if (!context.is(Type::Context))
            return fault("%s: a word bound to node %#x, whose first cell is no context but of type %u",
                         place.text().c_str(), word.data1, uint8_t(context.header));
        int32_t position = int32_t(word.data3);
        if (position < 0 || !sound(context.data1) || !sound(hashtable::record(context.data1)->values)) return;
        uint32_t words = buffer_of(hashtable::record(context.data1)->values)->length();
        if (uint32_t(position) >= words)
            fault("%s: a word at position %d of context %#x, which has %u words", place.text().c_str(), position,
                  word.data1, words);
    }

    void check_named(uint32_t node, Hold hold, const Place& place) {
        if (hold == Hold::Handle) {
            if (node >= handles::capacity() || (handles::slot(int32_t(node)).kind & handles::kSlotFree))
                fault("%s: a handle of slot %u, which is not in use", place.text().c_str(), node);
            return;
        }
        if (!node) return;
        uint8_t* state = state_of(node);
        if (!state || *state == kFree)
            return fault("%s names node %#x, which %s", place.text().c_str(), node,
                         state ? "is on its frame's free list" : "lies in no node frame");
        if (*state < kSound) return;
        if (hold == Hold::Cells && *state != kSoundCells)
            fault("%s names node %#x as a series of cells, but its unit is %u", place.text().c_str(), node,
                  buffer_of(node)->unit());
        if (hold == Hold::Pixels) {
            if (buffer_of(node)->unit() != 1 || buffer_of(node)->data_end() - buffer_of(node)->offset < 4)
                return fault("%s names node %#x as an image record, which holds no handle", place.text().c_str(), node);
            check_named(uint32_t(pixels_handle(node)), Hold::Handle, place);
        }
        if (hold == Hold::Table && *state != kCheckedTable) {
            *state = kCheckedTable;
            check_table(node, place);
        }
    }

    void check_table(Node table, const Place& place) {
        if (buffer_of(table)->unit() != 1 || buffer_of(table)->used_bytes() < sizeof(hashtable::Record))
            return fault("%s names node %#x as a hash table, which holds no table record", place.text().c_str(), table);
        size_t before = faults_.size();
        hashtable::visit_series(table, [&](Node node, Hold hold) { check_named(node, hold, place); });
        if (!at_rest_ || faults_.size() != before) return;
        std::string wrong = hashtable::fault(table);
        if (!wrong.empty()) fault("hash table %#x (named by %s): %s", table, place.text().c_str(), wrong.c_str());
    }

    // ---- roots, stacks, symbols, handles ----

    bool on_data_stack(Addr address) {
        return address >= mem::addr(stack::bottom) && address < mem::addr(stack::bottom + stack::kDataStackCells) &&
               (address - mem::addr(stack::bottom)) % sizeof(Cell) == 0;
    }

    void check_roots() {
        check_value(runtime::root, {"the root cell", 0, 0});
        std::span<Cell* const> roots = runtime::registered_roots();
        for (uint32_t i = 0; i < roots.size(); i++) check_value(*roots[i], {"registered root", 0, i});
        check_named(symbol::index, Hold::Table, {"the symbol index", 0, 0});
        check_named(ownership_table, Hold::Table, {"the ownership table", 0, 0});
        std::span<Node* const> nodes = runtime::registered_nodes();
        for (uint32_t i = 0; i < nodes.size(); i++) check_named(*nodes[i], Hold::Cells, {"registered node", 0, i});
        if (stack::bottom <= stack::top && stack::top <= stack::bottom + stack::kDataStackCells)
            for (Cell* cell = stack::bottom; cell < stack::top; cell++)
                check_value(*cell, {"data-stack cell", 0, uint32_t(cell - stack::bottom)});
        if (stack::call_bottom <= stack::call_top && stack::call_top <= stack::call_end) {
            for (const stack::CallFrame* f = stack::call_bottom; f < stack::call_top; f++) {
                Place place{"call frame", 0, uint32_t(f - stack::call_bottom)};
                check_named(f->name_context, Hold::Cells, place);
                check_named(f->function_context, Hold::Cells, place);
            }
        }
    }

    void check_stacks() {
        Cell* limit = stack::bottom + stack::kDataStackCells;
        if (stack::frame_base < stack::bottom || stack::top < stack::frame_base || stack::top > limit)
            return fault("the data stack: frame base at cell %td and top at cell %td, expected 0 <= base <= top <= %u",
                         stack::frame_base - stack::bottom, stack::top - stack::bottom, stack::kDataStackCells);
        if (stack::call_top < stack::call_bottom || stack::call_top > stack::call_end)
            return fault("the call stack: top at frame %td, expected 0 to %td", stack::call_top - stack::call_bottom,
                         stack::call_end - stack::call_bottom);
        if (at_rest_) {
            if (stack::top != stack::bottom || stack::frame_base != stack::bottom)
                fault("the data stack holds %td cells (frame base at cell %td), expected none at rest",
                      stack::top - stack::bottom, stack::frame_base - stack::bottom);
            if (stack::call_top != stack::call_bottom)
                fault("the call stack holds %td frames, expected none at rest", stack::call_top - stack::call_bottom);
            if (stack::end != limit - stack::kOverflowReserve)
                fault("the data stack ends %td cells short of its block, expected %u", limit - stack::end,
                      stack::kOverflowReserve);
        }
        // Each frame saves the base of the frame below it, so the saved bases never fall going up.
        Addr base = mem::addr(stack::bottom);
        for (const stack::CallFrame* f = stack::call_bottom; f < stack::call_top; f++) {
            auto number = f - stack::call_bottom;
            if (!known_frame_kind(f->kind())) fault("call frame %td: kind %u is no kind of frame", number, f->kind());
            if (f->saved_base < base || !on_data_stack(f->saved_base))
                fault("call frame %td saves frame base %#x, expected a data-stack cell from %#x on", number,
                      f->saved_base, base);
            else
                base = f->saved_base;
            if (f->saved_values && !on_data_stack(f->saved_values))
                fault("call frame %td saves values at %#x, which is not on the data stack", number, f->saved_values);
        }
    }

    void check_symbols() {
        if (!sound(symbol::table) || buffer_of(symbol::table)->unit() != sizeof(Cell))
            return fault("the symbol table's node %#x names no sound block", symbol::table);
        SeriesBuffer* table = buffer_of(symbol::table);
        const Cell* symbols = mem::ptr<Cell>(table->offset);
        uint32_t count = table->length();
        for (uint32_t id = 1; id <= count; id++) {
            const Cell& s = symbols[id - 1];
            int32_t alias = int32_t(s.data1);
            bool in_the_making = !at_rest_ && id == count && !s.data3;  // its name is allocated after its cell
            if (!s.is(Type::Symbol)) {
                fault("symbol %u: type id %u, expected symbol!", id, uint8_t(s.header));
            } else if (!in_the_making && (!sound(s.data3) || !utf8_name_q(s.data3))) {
                fault("symbol %u: its name (node %#x) is no NUL-terminated byte series", id, s.data3);
            } else if (alias != -1 && (alias < 1 || uint32_t(alias) >= id || int32_t(symbols[alias - 1].data1) != -1)) {
                fault("symbol %u: alias %d, expected -1 or the id of an earlier canonical symbol", id, alias);
            }
        }
        symbol_count_ = count;
        if (at_rest_ && sound(symbol::index) &&
            (hashtable::record(symbol::index)->values != symbol::table ||
             hashtable::record(symbol::index)->count != count))
            fault("the symbol index counts %u names of node %#x, expected %u of the symbol table %#x",
                  hashtable::record(symbol::index)->count, hashtable::record(symbol::index)->values, count,
                  symbol::table);
    }

    bool utf8_name_q(Node name) {
        SeriesBuffer* b = buffer_of(name);
        return b->unit() == 1 && b->tail < b->data_end() && *mem::ptr(b->tail) == 0;
    }

    void check_handles() {
        for (uint32_t i = 0; i < handles::capacity(); i++)
            if (handles::slot(int32_t(i)).kind & handles::kSlotMarked) fault("handle slot %u is still marked", i);
    }
};

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

void keep_in_images() {
    // The piles live in the tracked heap, which an image carries, and grow in the cycle before it is made.
    image_state::keep(work, fixed_marked, node_frames, allocated, threshold, cycles, node_cycles, ownership_table,
                      free_queue, queued);
    // A mark callback may be registered during the boot; its address is the same in every process of
    // one build.
    image_state::keep(callbacks, callback_count);
}

uint32_t do_cycle() {
    OKA_ASSERT(!collecting);
    collecting = true;
    mem::epoch++;  // every buffer pointer taken before the cycle is stale
    mark_roots();
    if (drop_unreached) drop_unreached();
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
    pace_next_cycle();
    collecting = false;
    if (verify_cycles && (!stress_interval || cycles % kStressCheckInterval == 0)) verify(Moment::InFlight);
    return ++cycles;
}

void do_cycle_if_on() {
    if (on) do_cycle();
}

bool count_allocation(uint32_t bytes) {
    if (on) {
        ++allocations;
        if (cycle_due(bytes)) do_cycle();
    }
    allocated += bytes;
    if (!on || allocations != failing) return false;
    failing = 0;
    return true;
}

void fail_at(uint32_t n) { failing = n ? allocations + n : 0; }

bool fail_armed_q() { return failing != 0; }

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
    visit_nodes(value, [](uint32_t node, Hold hold) {
        switch (hold) {
        case Hold::Bytes: keep(node); break;
        case Hold::Cells: mark_series(node); break;
        case Hold::Table: hashtable::mark(node); break;
        case Hold::Handle: handles::mark(int32_t(node), nullptr); break;
        case Hold::Pixels:
            if (keep(node)) handles::mark(pixels_handle(node), nullptr);
            break;
        }
    });
}

void mark_values(const Cell* first, const Cell* end) {
    for (const Cell* cell = first; cell < end; cell++) mark_value(*cell);
}

bool marked_q(Node node) { return node && (buffer_of(node)->flags & kSeriesMark); }

std::vector<std::string> heap_faults(Moment moment) {
    static HeapCheck check;
    return check.run(moment);
}

void verify(Moment moment) {
    std::vector<std::string> faults = heap_faults(moment);
    if (faults.empty()) return;
    std::fprintf(stderr, "The language memory is unsound %s:\n",
                 moment == Moment::AtRest ? "at rest" : "after a cycle");
    for (const std::string& line : faults) std::fprintf(stderr, "  %s\n", line.c_str());
    assertion_failed("collector::heap_faults(moment).empty()", __FILE__, __LINE__);
}

}  // namespace oka::collector
