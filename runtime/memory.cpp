#include "runtime/memory.h"

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstring>

#include "platform/virtual_memory.h"
#include "runtime/addr_list.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/image_state.h"

namespace oka {

void mem::reserve() { platform::reserve_space(); }

void mem::poison(Addr start, uint32_t bytes) {
    if (poisoning) {
        unpoison(start, bytes);  // parts of it may be poisoned already
        std::memset(ptr(start), kPoisonByte, bytes);
    }
    ASAN_POISON_MEMORY_REGION(ptr(start), bytes);
}

void mem::unpoison(Addr start, uint32_t bytes) { ASAN_UNPOISON_MEMORY_REGION(ptr(start), bytes); }

namespace alloc {

namespace {

// Largest data area a series may ask for: its footprint must stay a positive 32-bit size.
constexpr uint64_t kMaxSeriesBytes = 0x7FFFFF00;

NodeFrame* node_frame(Addr frame) { return mem::ptr<NodeFrame>(frame); }
SeriesFrame* series_frame(Addr frame) { return mem::ptr<SeriesFrame>(frame); }
BigBlock* big_block(Addr block) { return mem::ptr<BigBlock>(block); }
SeriesBuffer* raw_buffer(Addr buffer) { return mem::ptr<SeriesBuffer>(buffer); }
Addr& slot(Node node) { return *mem::ptr<Addr>(node); }

// The no-memory error exists from start-up: raising it allocates nothing, so it cannot run out again.
[[noreturn]] void no_memory() { fire(Err::internal_no_memory); }

// ---- node frames ----

void thread_free_slots(NodeFrame* f) {
    Addr first = f->first_slot();
    for (uint32_t i = 0; i + 1 < f->capacity; i++) slot(first + 4 * i) = first + 4 * (i + 1);
    slot(first + 4 * (f->capacity - 1)) = 0;
    f->free = first;
}

Addr first_frame_with_free_slot() {
    for (Addr frame = memory.node_frames_head; frame; frame = node_frame(frame)->next) {
        NodeFrame* f = node_frame(frame);
        if (f->free && !f->evacuated) return frame;
    }
    return 0;
}

// ---- series frames ----

bool fits(Addr frame, uint32_t need) { return series_frame(frame)->heap + uint64_t(need) < series_frame(frame)->end; }

void insert_series_frame(Addr frame) {
    SeriesFrame* f = series_frame(frame);
    if (!memory.series_frames_head) {
        memory.series_frames_head = memory.series_frames_tail = memory.active_series_frame = frame;
        return;
    }
    if (frame < memory.series_frames_head) {
        f->next = memory.series_frames_head;
        series_frame(f->next)->prev = frame;
        memory.series_frames_head = frame;
        return;
    }
    Addr below = memory.series_frames_head;
    while (series_frame(below)->next && series_frame(below)->next < frame) below = series_frame(below)->next;
    f->prev = below;
    f->next = series_frame(below)->next;
    series_frame(below)->next = frame;
    if (f->next)
        series_frame(f->next)->prev = frame;
    else
        memory.series_frames_tail = frame;
}

// A region of `size` bytes, or 0 when the language memory has no room for it.
Addr try_alloc_region(uint32_t size) {
    uint64_t rounded = (uint64_t(size) + 4 + platform::page_size() - 1) / platform::page_size() * platform::page_size();
    Addr region = rounded <= UINT32_MAX ? platform::alloc_virtual(size + 4) : 0;
    if (!region) return 0;
    *mem::ptr<uint32_t>(region) = uint32_t(rounded);
    memory.os_bytes += uint32_t(rounded);
    return region + 4;
}

// A series frame with a payload of `size` bytes, linked in by address; 0 when there is no room for it.
Addr try_alloc_series_frame(uint32_t size) {
    Addr frame = try_alloc_region(size + sizeof(SeriesFrame));
    if (!frame) return 0;
    SeriesFrame* f = series_frame(frame);
    *f = {0, 0, size + uint32_t(sizeof(SeriesFrame)), 0, 0};
    f->heap = f->payload_start();
    f->end = f->heap + size;
    insert_series_frame(frame);
    return frame;
}

// The next frame's payload size, which then doubles up to the maximum.
uint32_t take_frame_size() {
    uint32_t size = memory.next_frame_size;
    if (size < memory.max_frame_size) memory.next_frame_size = std::min(size * 2, memory.max_frame_size);
    return size;
}

// A new frame for a buffer of `need` bytes. A memory too full for a frame of the size that follows the
// live heap may still have room for one of the maximum size reached by doubling, which every buffer
// carved from a frame fits.
Addr try_new_frame(uint32_t need) {
    if (need >= memory.next_frame_size) memory.next_frame_size = memory.max_frame_size;
    uint32_t size = take_frame_size();
    Addr frame = try_alloc_series_frame(size);
    if (!frame && size > memory.max_frame_size) frame = try_alloc_series_frame(memory.max_frame_size);
    return frame;
}

// The frame that a buffer of `need` bytes is carved from, made active; 0 when none has room and the
// language memory has none for a new one.
Addr frame_for(uint32_t need) {
    Addr active = memory.active_series_frame;
    if (active && fits(active, need)) return active;
    Addr frame = find_series_frame(need);
    if (!frame) frame = try_new_frame(need);
    if (frame) memory.active_series_frame = frame;
    return frame;
}

Addr try_alloc_big_block(uint32_t need) {
    Addr block = try_alloc_region(need + sizeof(BigBlock));
    if (!block) return 0;
    *big_block(block) = {0, 0, need};
    if (!memory.big_blocks_head) {
        memory.big_blocks_head = block;
    } else {
        Addr last = memory.big_blocks_head;
        while (big_block(last)->next) last = big_block(last)->next;
        big_block(last)->next = block;
    }
    return big_block(block)->buffer();
}

// The room for a buffer of `need` bytes: a big block of its own from the big-block threshold on, else
// the heap of a frame. 0 when the language memory has no room for it.
Addr try_carve(uint32_t need) {
    if (need >= memory.max_frame_size) return try_alloc_big_block(need);
    Addr frame = frame_for(need);
    if (!frame) return 0;
    SeriesFrame* f = series_frame(frame);
    Addr buffer = f->heap;
    f->heap += need;
    mem::unpoison(buffer, need);
    return buffer;
}

// What an allocation that finds no room in the language memory comes to: a collection to make room
// (when the collector is on), one more try, and when the room still falls short, the no-memory error.
// The failure hook (`refused`) takes this path with the room assumed short.
Addr carve_after_a_cycle(uint32_t need, bool refused) {
    collector::do_cycle_if_on();
    Addr buffer = refused ? 0 : try_carve(need);
    if (!buffer) no_memory();
    return buffer;
}

// Head room puts the offset at half the capacity, on a unit boundary.
uint32_t head_room_offset(uint32_t capacity, uint32_t unit) { return (capacity >> 1) / unit * unit; }

void init_buffer(SeriesBuffer* b, uint32_t capacity, uint32_t flags, uint32_t unit, int32_t offset) {
    b->size = capacity;
    b->flags = flags;
    b->node = 0;
    uint32_t start = offset;
    if (offset == kHeadRoom) {
        start = head_room_offset(capacity, unit);
        b->flags |= kSeriesHeadRoom;
    }
    OKA_ASSERT(start <= capacity);
    b->offset = b->tail = b->data_start() + start;
}

uint32_t checked_capacity(uint64_t bytes) {
    if (bytes > kMaxSeriesBytes) no_memory();
    return uint32_t((bytes + 15) & ~uint64_t(15));
}

Node attach(Addr buffer) {
    Node node = alloc_node();
    slot(node) = buffer;
    raw_buffer(buffer)->node = node;
    return node;
}

// The flags a buffer takes over from the one it replaces: everything but what depends on where the
// new buffer was allocated.
uint32_t inherited_flags(uint32_t old_flags, uint32_t new_flags) {
    constexpr uint32_t kPlacement = kSeriesBig | kSeriesFixed;
    return (old_flags & ~kPlacement) | (new_flags & kPlacement);
}

// A buffer that a reallocation left behind: the collector reclaims frame space, and its data is
// poisoned until then; a fixed buffer goes back to the tracked heap at once.
void abandon(Addr old) {
    SeriesBuffer* b = raw_buffer(old);
    b->node = 0;
    b->flags &= ~kSeriesLive;
    if (b->flags & kSeriesFixed)
        sys::free(b);
    else
        mem::poison(b->data_start(), b->size);
}

// Gives the node a new buffer of `size` bytes (0: twice the capacity) with the same used length, the
// used part copied to the head of the new data area when `copy` is set.
Addr move_to_new_buffer(Node node, int64_t size, bool copy) {
    if (size == 0) size = 2 * int64_t(mem::buffer(node)->size);
    if (size < 1 || uint64_t(size) > kMaxSeriesBytes) no_memory();
    uint32_t unit = mem::buffer(node)->unit();
    Addr fresh = alloc_series_buffer(uint32_t(size) / unit, unit, 0);
    // The carve may have moved the old buffer: read it again through the node.
    Addr old = mem::buffer_addr(node);
    SeriesBuffer* from = raw_buffer(old);
    SeriesBuffer* to = raw_buffer(fresh);
    to->flags = inherited_flags(from->flags, to->flags);
    to->tail = to->offset + (from->tail - from->offset);
    if (copy) std::memcpy(mem::ptr(to->offset), mem::ptr(from->offset), from->data_end() - from->offset);
    to->node = node;
    slot(node) = fresh;
    abandon(old);
    return fresh;
}

}  // namespace

void init() {
    memory = {};
    memory.first_frame_size = memory.next_frame_size = kFirstFrameSize;
    memory.max_frame_size = kMaxFrameSize;
}

void keep_in_images() {
    image_state::keep(memory, mem::epoch);
    sys::keep_in_images();
}

Addr alloc_region(uint32_t size) {
    Addr region = try_alloc_region(size);
    if (!region) no_memory();
    return region;
}

void free_region(Addr region) {
    uint32_t rounded = *mem::ptr<uint32_t>(region - 4);
    mem::unpoison(region - 4, rounded);  // the pages may come back to any use
    if (!platform::free_virtual(region - 4)) fire(Err::internal_wrong_mem);
    memory.os_bytes -= rounded;
}

Addr alloc_node_frame(uint32_t count) {
    Addr frame = alloc_region(sizeof(NodeFrame) + 4 * count);
    NodeFrame* f = node_frame(frame);
    *f = {};
    f->capacity = count;
    f->made_at_cycle = collector::cycles;
    thread_free_slots(f);
    if (!memory.node_frames_head) memory.current_node_frame = frame;
    list_append<NodeFrame>(frame, memory.node_frames_head, memory.node_frames_tail);
    return frame;
}

Node alloc_node() {
    Addr frame = memory.current_node_frame;
    if (!frame || !node_frame(frame)->free || node_frame(frame)->evacuated) {
        frame = first_frame_with_free_slot();
        if (!frame) frame = alloc_node_frame(kNodeFrameSlots);
        memory.current_node_frame = frame;
    }
    NodeFrame* f = node_frame(frame);
    Node node = f->free;
    f->free = slot(node);
    slot(node) = 0;
    f->used++;
    return node;
}

void free_node(Addr frame, Node node) {
    NodeFrame* f = node_frame(frame);
    slot(node) = f->free;
    f->free = node;
    f->used--;
}

void free_unused_node_frames() {
    Addr chosen = 0;
    for (Addr frame = memory.node_frames_head; frame;) {
        NodeFrame* f = node_frame(frame);
        Addr next = f->next;
        if (f->used == 0 || f->evacuated) {
            list_unlink<NodeFrame>(frame, memory.node_frames_head, memory.node_frames_tail);
            free_region(frame);
        } else {
            if (!chosen && f->used < f->capacity) chosen = frame;
            f->history = (f->history << 1) | (f->used == f->used_after_cycle ? 1 : 0);
            f->used_after_cycle = f->used;
        }
        frame = next;
    }
    memory.current_node_frame = chosen ? chosen : memory.node_frames_tail;
}

Addr alloc_series_frame() {
    Addr frame = try_alloc_series_frame(take_frame_size());
    if (!frame) no_memory();
    return frame;
}

void size_frames_for(uint64_t live) {
    uint32_t share = uint32_t(std::min<uint64_t>(live / kLiveHeapPerFrame, kLargestFrameSize));
    memory.next_frame_size = std::max(std::min(memory.next_frame_size, memory.max_frame_size), share);
}

void free_series_frame(Addr frame) {
    list_unlink<SeriesFrame>(frame, memory.series_frames_head, memory.series_frames_tail);
    if (memory.active_series_frame == frame) memory.active_series_frame = memory.series_frames_tail;
    free_region(frame);
}

void relink_series_frame(Addr frame) {
    SeriesFrame* f = series_frame(frame);
    f->next = f->prev = 0;
    f->heap = f->payload_start();
    insert_series_frame(frame);
}

Addr find_series_frame(uint32_t need) {
    for (Addr frame = memory.series_frames_head; frame; frame = series_frame(frame)->next)
        if (fits(frame, need)) return frame;
    return 0;
}

void free_all() {
    for (Addr frame = memory.node_frames_head; frame;) {
        Addr next = node_frame(frame)->next;
        free_region(frame);
        frame = next;
    }
    for (Addr frame = memory.series_frames_head; frame;) {
        Addr next = series_frame(frame)->next;
        free_region(frame);
        frame = next;
    }
    for (Addr block = memory.big_blocks_head; block;) {
        Addr next = big_block(block)->next;
        free_region(block);
        block = next;
    }
    init();
}

Addr alloc_series_buffer(uint32_t n, uint32_t unit, int32_t offset) {
    uint32_t capacity = checked_capacity(uint64_t(n) * unit);
    uint32_t need = capacity + kBufferOverhead;
    uint32_t flags = unit | kSeriesLive | kSeriesNew;
    OKA_ASSERT(!collector::collecting && "a series allocated while the collector runs");
    mem::epoch++;
    bool refused = collector::count_allocation(need);
    Addr buffer = refused ? 0 : try_carve(need);
    if (!buffer) buffer = carve_after_a_cycle(need, refused);
    if (need >= memory.max_frame_size) flags |= kSeriesBig;
    init_buffer(raw_buffer(buffer), capacity, flags, unit, offset);
    return buffer;
}

Node alloc_series(uint32_t n, uint32_t unit, int32_t offset) { return attach(alloc_series_buffer(n, unit, offset)); }

Node alloc_fixed_series(uint32_t n, uint32_t unit, int32_t offset) {
    uint32_t capacity = checked_capacity(uint64_t(n) * unit);
    auto* b = static_cast<SeriesBuffer*>(sys::allocate(capacity + sizeof(SeriesBuffer)));
    init_buffer(b, capacity, unit | kSeriesFixed | kSeriesNew | kSeriesLive, unit, offset);
    return attach(mem::addr(b));
}

Node alloc_cells(uint32_t n) { return alloc_series(n, sizeof(Cell), 0); }

Node alloc_unset_cells(uint32_t n) {
    Node node = alloc_cells(n);
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    Cell* cells = mem::ptr<Cell>(b->data_start());
    for (uint32_t i = 0; i < b->size / sizeof(Cell); i++) cells[i] = Cell::of(Type::Unset);
    return node;
}

Node alloc_bytes(uint32_t n) { return alloc_series(n ? n : 16, 1, 0); }

Node alloc_codepoints(uint32_t n, uint32_t unit) { return alloc_series(n ? n : 16 >> (unit >> 1), unit, 0); }

Node alloc_bytes_filled(uint32_t n, uint8_t byte) {
    Node node = alloc_bytes(n);
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    fill(mem::ptr(b->data_start()), mem::ptr(b->data_end()), byte);
    return node;
}

void set_series_flag(Node node, uint32_t bits) { mem::buffer(node)->flags |= bits; }

Addr reallocate_series(Node node, int64_t size) { return move_to_new_buffer(node, size, false); }

Addr expand_series(Node node, int64_t size) {
    OKA_ASSERT(size == 0 || size >= mem::buffer(node)->size);
    return move_to_new_buffer(node, size, true);
}

Addr expand_series_filled(Node node, int64_t size, uint8_t byte) {
    uint32_t old_capacity = mem::buffer(node)->size;
    Addr fresh = expand_series(node, size);
    SeriesBuffer* b = raw_buffer(fresh);
    fill(mem::ptr(b->offset + old_capacity), mem::ptr(b->offset + b->size), byte);
    return fresh;
}

Node copy_series(Node node) {
    uint32_t capacity = mem::buffer(node)->size;
    Node copy = alloc_bytes(capacity);
    SeriesBuffer* from = mem::buffer(node).get();
    SeriesBuffer* to = mem::buffer(copy).get();
    to->flags = inherited_flags(from->flags, to->flags);
    to->tail = to->offset + (from->tail - from->offset);
    std::memcpy(mem::ptr(to->offset), mem::ptr(from->offset), from->data_end() - from->offset);
    return copy;
}

void reserve_tail_cell(Node node) {
    if (mem::buffer(node)->tail >= mem::buffer(node)->data_end()) expand_series(node, 0);
}

BufPtr<Cell> alloc_tail_cell(Node node) {
    reserve_tail_cell(node);
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    Cell* cell = mem::ptr<Cell>(b->tail);
    cell->header = uint8_t(Type::Unset);
    b->tail += sizeof(Cell);
    return BufPtr<Cell>(cell);
}

BufPtr<Cell> alloc_tail(const Cell& block) { return alloc_tail_cell(block.node()); }

BufPtr<uint8_t> alloc_tail_bytes(Node node, uint32_t n) {
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    if (uint64_t(b->data_start()) + b->size < uint64_t(b->tail) + n) {
        int64_t capacity = b->size;
        expand_series(node, capacity < n ? 2 * int64_t(n) : 2 * capacity);
        b = mem::buffer(node);
    }
    Addr old_tail = b->tail;
    b->tail += n;
    return BufPtr<uint8_t>(mem::ptr(old_tail));
}

void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, end - start);
}

uint8_t* fill_pattern(uint8_t* address, uint32_t pattern_length, uint32_t count) {
    uint64_t total = uint64_t(pattern_length) * count;
    if (total == 0) return address;
    uint64_t written = pattern_length;
    while (written * 2 <= total) {
        std::memcpy(address + written, address, written);
        written *= 2;
    }
    if (written < total) std::memcpy(address + written, address, total - written);
    return address + total;
}

}  // namespace alloc

}  // namespace oka
