/* The memory manager: the tracked heap, node frames, series frames, big blocks and series buffers.

   All of it lives in one reserved region of 4 GiB; the 32-bit addresses below are offsets into it
   (mem::ptr turns one into a C++ pointer). Values never hold a buffer address: they hold a node, a
   4-byte slot in a node frame that holds the buffer's address, so a buffer can move by rewriting one
   slot.

   Who may allocate: any code. Carving a series buffer may run a full collection (when the collector is
   switched on): when the bytes carved since the last one call for it (runtime/collector.h paces them),
   and when the language memory has no room for the buffer, before it tries once more and, failing,
   raises the no-memory error. A collection may move every buffer in the series frames. Hence the rule
   for every caller:
   no raw pointer into a series buffer, and no Cell copied into a C++ local, lives across anything that
   may allocate. Hold the node (and an index) and read the buffer again afterwards. Buffer pointers
   are handed out as BufPtr, which check builds verify on every use. Fixed series (from the tracked
   heap) never move; pointers into them are plain pointers.

   Tracked heap (sys::allocate ...): blocks with a 16-byte header, all linked in one list so that the
   whole heap can be freed at once. It never moves a block. */
#pragma once

#include <type_traits>

#include "platform/virtual_memory.h"
#include "runtime/base.h"
#include "runtime/cell.h"

namespace oka {

namespace mem {

// The start of the language memory region: a constant, so that turning an address into a pointer is
// an addition the compiler folds into the instruction that reads or writes through it.
inline constexpr uintptr_t kBase = platform::kSpaceAddress;

template <class T = uint8_t>
OKA_ALWAYS_INLINE T* ptr(Addr a) {
    return reinterpret_cast<T*>(kBase + a);
}
OKA_ALWAYS_INLINE Addr addr(const void* p) { return Addr(reinterpret_cast<uintptr_t>(p) - kBase); }

// Counts the series allocations and the collector's cycles: a buffer pointer taken before the count
// changed may be stale, one taken at the same count is not (compiled code keeps the places of word
// values by it).
inline uint64_t epoch = 0;

// Space that no live buffer covers any more is poisoned: with `poisoning` set (the collector's stress
// mode) it is filled with kPoisonByte, so that a stale pointer reads nonsense, and sanitizer builds make
// it unaddressable, so that they report the access. Carving a buffer there, or releasing the region,
// makes the space usable again.
inline bool poisoning = false;
inline constexpr uint8_t kPoisonByte = 0xEB;
void poison(Addr start, uint32_t bytes);
void unpoison(Addr start, uint32_t bytes);

}  // namespace mem

// A pointer into a series buffer, valid until the next allocation. Check builds record the
// allocation epoch when the pointer is made and assert on every use that no allocation happened since.
template <class T>
class BufPtr {
public:
    BufPtr() = default;
    explicit BufPtr(T* p) : p_(p) {
        if constexpr (kChecks) epoch_ = mem::epoch;
    }
    T* get() const {
        if constexpr (kChecks) OKA_ASSERT(epoch_ == mem::epoch && "buffer pointer kept across an allocation");
        return p_;
    }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }
    T& operator[](ptrdiff_t i) const { return get()[i]; }
    BufPtr operator+(ptrdiff_t i) const { return with(p_ + i); }
    BufPtr operator-(ptrdiff_t i) const { return with(p_ - i); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    BufPtr with(T* p) const {
        BufPtr r = *this;
        r.p_ = p;
        return r;
    }
    T* p_ = nullptr;
    // Release builds keep no epoch: the pointer is then just a pointer.
    struct NoEpoch {
        NoEpoch& operator=(uint64_t) { return *this; }
        bool operator==(uint64_t) const { return true; }
    };
    [[no_unique_address]] std::conditional_t<kChecks, uint64_t, NoEpoch> epoch_{};
};

// Flags of a series buffer.
enum : uint32_t {
    kSeriesUnitMask = 0x1F,      // unit size in bytes: 1, 2, 4 (bytes, text), 8 (vector elements) or 16 (cells)
    kSeriesOwned = 1u << 17,     // reports its changes to an owner
    kSeriesNegated = 1u << 19,   // a complemented bitset
    kSeriesFixed = 1u << 20,     // from the tracked heap: never moves, never swept
    kSeriesCallHint = 1u << 21,  // code found to open with a call not computed in place
    kSeriesLibrary = 1u << 22,   // code of a library function, which errors never name as where they arose
    kSeriesCompiled = 1u << 23,  // code that compiled forms were made from (code_changing drops them)
    kSeriesBig = 1u << 24,       // the buffer of a big block
    kSeriesMark = 1u << 27,      // collector mark
    kSeriesHeadRoom = 1u << 28,  // allocated with its offset at half the capacity
    kSeriesNew = 1u << 29,       // set on every allocation
    kSeriesLive = 1u << 31,      // cleared when a reallocation abandons the buffer
};

// The header of a series buffer; the data area follows it. Invariants:
// data start <= offset <= tail <= data start + size; used units = (tail - offset) / unit.
struct SeriesBuffer {
    uint32_t flags;
    Node node;      // back-pointer to the owning node, 0 once abandoned
    uint32_t size;  // capacity of the data area in bytes, a multiple of 16
    Addr offset;    // first used unit
    Addr tail;      // just past the last used unit

    uint32_t unit() const { return flags & kSeriesUnitMask; }
    Addr data_start() const { return mem::addr(this) + sizeof(SeriesBuffer); }
    Addr data_end() const { return data_start() + size; }
    uint32_t used_bytes() const { return tail - offset; }
    // Units are powers of two, never 0, so a shift by their trailing zeros divides.
    uint32_t length() const { return (tail - offset) >> __builtin_ctz(unit()); }
};
static_assert(sizeof(SeriesBuffer) == 20);

// In a series frame a buffer takes its capacity plus these bytes (header and 4 spare bytes).
inline constexpr uint32_t kBufferOverhead = 24;

struct NodeFrame {
    Addr next, prev;    // node-frame list, in creation order
    uint32_t capacity;  // number of slots
    Addr free;          // first free slot, 0 when full
    uint32_t used;
    uint32_t made_at_cycle;     // collection count when the frame was made
    uint32_t used_after_cycle;  // `used` after the previous collection
    uint32_t history;           // one bit per collection, 1 when `used` did not change (newest lowest)
    uint32_t evacuated;         // 1 once every live node moved out; released after the collection

    Addr first_slot() const { return mem::addr(this) + sizeof(NodeFrame); }
};
static_assert(sizeof(NodeFrame) == 36);

struct SeriesFrame {
    Addr next, prev;  // series-frame list, sorted by ascending address
    uint32_t size;    // payload size plus the header bytes
    Addr heap;        // first free payload byte
    Addr end;         // just past the payload

    Addr payload_start() const { return mem::addr(this) + sizeof(SeriesFrame); }
};
static_assert(sizeof(SeriesFrame) == 20);

struct BigBlock {
    Addr next;
    uint32_t reserved;
    uint32_t footprint;  // bytes of the buffer it holds, header included

    Addr buffer() const { return mem::addr(this) + sizeof(BigBlock); }
};
static_assert(sizeof(BigBlock) == 12);

// The memory record: one per process, made by alloc::init.
struct MemoryRecord {
    uint32_t os_bytes;  // operating-system memory held (rounded region sizes)
    Addr node_frames_head, node_frames_tail, current_node_frame;
    Addr series_frames_head, active_series_frame, series_frames_tail;
    uint32_t first_frame_size;  // payload of the first series frame
    uint32_t next_frame_size;   // doubles with each frame made, up to the maximum; then follows the live heap
    uint32_t max_frame_size;    // what doubling reaches; also the big-block threshold
    Addr big_blocks_head;
};

inline constexpr uint32_t kNodeFrameSlots = 10000;
inline constexpr uint32_t kFirstFrameSize = 1 << 20;
inline constexpr uint32_t kMaxFrameSize = 2 << 20;
// After each collection the frames made from then on hold this share of the live heap (when that is
// above the maximum doubling reaches), up to the largest size: so the number of frames stays small as
// the heap grows, and a frame's unused end stays small beside the heap.
inline constexpr uint32_t kLiveHeapPerFrame = 16;
inline constexpr uint32_t kLargestFrameSize = 64 << 20;
// A frame with no more room than this takes no buffers from the frame above it when the collector
// compacts.
inline constexpr uint32_t kMinFrameRoom = 0xCCCC;

namespace sys {

void* allocate(uint32_t size);
void free(void* p);
void* resize(void* p, uint32_t size);
void* allocate_zeroed(uint32_t size);
void free_all();
void release_heap();
// Keeps the tracked heap's lists in every heap image.
void keep_in_images();
// Bytes held by the tracked heap: each block's size plus its 16-byte header.
uint64_t heap_total();
// The size asked for the live block that starts at `p`, 0 when none does (`p` may be anything).
uint32_t block_size(const void* p);

constexpr uint32_t round_up(uint32_t value, uint32_t power_of_two) {
    return (value + power_of_two - 1) & ~(power_of_two - 1);
}

}  // namespace sys

namespace mem {

OKA_ALWAYS_INLINE Addr buffer_addr(Node node) { return *ptr<Addr>(node); }
OKA_ALWAYS_INLINE BufPtr<SeriesBuffer> buffer(Node node) {
    return BufPtr<SeriesBuffer>(ptr<SeriesBuffer>(buffer_addr(node)));
}

// The write barrier of code: whatever changes the cells of a series in place (the series actions,
// binding) calls code_changing first, which drops the compiled forms made from a series flagged
// kSeriesCompiled (evaluator/compiled_forms.h sets forget_code).
inline void (*forget_code)(Node node) = nullptr;
OKA_ALWAYS_INLINE void code_changing(Node node) {
    if (buffer(node)->flags & kSeriesCompiled) forget_code(node);
}

// Reserves the region (once per process) and sets `base`.
void reserve();

}  // namespace mem

namespace alloc {

inline MemoryRecord memory;

void init();
// Keeps what this module holds of the language memory in every heap image (runtime/image_state.h).
void keep_in_images();

Addr alloc_region(uint32_t size);
void free_region(Addr region);

Addr alloc_node_frame(uint32_t count);
Node alloc_node();
void free_node(Addr frame, Node node);
void free_unused_node_frames();

Addr alloc_series_frame();
// Sizes the frames made from now on for a live heap of `live` bytes (the collector's call after a cycle).
void size_frames_for(uint64_t live);
void free_series_frame(Addr frame);
// Puts back in the list, empty, a frame that was taken out of it whole (the collector's stress mode).
void relink_series_frame(Addr frame);
Addr find_series_frame(uint32_t need);
void free_all();

// Series buffers of n units of u bytes; `offset` is the byte offset of the first used unit in the data
// area, or kHeadRoom to place it at half the capacity.
inline constexpr int32_t kHeadRoom = -1;
Addr alloc_series_buffer(uint32_t n, uint32_t unit, int32_t offset);
Node alloc_series(uint32_t n, uint32_t unit, int32_t offset);
Node alloc_fixed_series(uint32_t n, uint32_t unit, int32_t offset);

Node alloc_cells(uint32_t n);
Node alloc_unset_cells(uint32_t n);
Node alloc_bytes(uint32_t n);
Node alloc_codepoints(uint32_t n, uint32_t unit);
Node alloc_bytes_filled(uint32_t n, uint8_t byte);

void set_series_flag(Node node, uint32_t bits);

// Give the node a new buffer of `size` bytes (0: twice the capacity). reallocate_series copies nothing;
// expand_series copies the used part to the head of the new data area. They return the new buffer.
Addr reallocate_series(Node node, int64_t size);
Addr expand_series(Node node, int64_t size);
Addr expand_series_filled(Node node, int64_t size, uint8_t byte);
Node copy_series(Node node);

// Append one cell (its header unset!) or n bytes at the tail, doubling the buffer when full.
// reserve_tail_cell makes the room for one cell that alloc_tail_cell would make, without appending it:
// code that must append a cell after another change, which should not be left half done, makes the
// room first.
void reserve_tail_cell(Node node);
BufPtr<Cell> alloc_tail_cell(Node node);
BufPtr<Cell> alloc_tail(const Cell& block);
BufPtr<uint8_t> alloc_tail_bytes(Node node, uint32_t n);

void fill(uint8_t* start, uint8_t* end, uint8_t byte);
uint8_t* fill_pattern(uint8_t* address, uint32_t pattern_length, uint32_t count);

}  // namespace alloc

}  // namespace oka
