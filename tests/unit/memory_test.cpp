// The memory manager: carving, frames, big blocks, reallocation, the tracked heap, and the rule that
// a buffer pointer does not outlive an allocation.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/virtual_memory.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/throw.h"
#include "test_support.h"

using namespace oka;

namespace {

SeriesBuffer* buffer_of(Node node) { return mem::buffer(node).get(); }

// Runs `check` in a child process on a memory manager with no frames yet, so that frame sizes and
// region counts start from the beginning; the child's exit status says whether every check held. The
// run-time's values went with the frames, so the collector stays off.
template <class F>
void with_fresh_memory(F check) {
    EXPECT_EXIT(
        {
            collector::on = false;
            alloc::free_all();
            alloc::init();
            std::exit(check() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

uint32_t payload_of(Addr frame) {
    SeriesFrame* f = mem::ptr<SeriesFrame>(frame);
    return f->end - f->payload_start();
}

Err raised_by(void (*body)()) { return test::error_of(body); }

}  // namespace

TEST(MemoryCarving, SmallestSizesAndHeadRoom) {
    EXPECT_EQ(buffer_of(alloc::alloc_bytes(0))->size, 16u);
    EXPECT_EQ(buffer_of(alloc::alloc_codepoints(0, 4))->size / 4, 4u);
    EXPECT_EQ(buffer_of(alloc::alloc_codepoints(0, 2))->size / 2, 8u);

    SeriesBuffer* b = buffer_of(alloc::alloc_series(64, 1, alloc::kHeadRoom));
    EXPECT_EQ(b->offset - b->data_start(), 32u);
    EXPECT_TRUE(b->flags & kSeriesHeadRoom);

    // Half of 48 bytes is not a whole cell: the head room starts on the cell below.
    b = buffer_of(alloc::alloc_series(3, 16, alloc::kHeadRoom));
    EXPECT_EQ(b->offset - b->data_start(), 16u);
}

TEST(MemoryCarving, BufferHeaderAndNodeLinkUp) {
    collector::HeldOff off;  // the buffers under test are held nowhere else, and must not move
    Node node = alloc::alloc_series(5, 4, 8);
    SeriesBuffer* b = buffer_of(node);
    EXPECT_EQ(b->node, node);
    EXPECT_EQ(b->size, 32u);  // 20 bytes rounded up to 16
    EXPECT_EQ(b->unit(), 4u);
    EXPECT_EQ(b->offset, b->data_start() + 8);
    EXPECT_EQ(b->tail, b->offset);
    EXPECT_EQ(b->flags & (kSeriesLive | kSeriesNew), kSeriesLive | kSeriesNew);
    // Buffers in a frame sit back to back: header, data area and four spare bytes.
    Node next = alloc::alloc_series(1, 1, 0);
    EXPECT_EQ(mem::buffer_addr(next), mem::buffer_addr(node) + b->size + kBufferOverhead);
}

TEST(MemoryCarving, BigBlockThreshold) {
    with_fresh_memory([] {
        // Footprints are capacity + 24: 2,097,144 bytes still fit a (new, 2 MB) frame, 2,097,160 do not.
        Node below = alloc::alloc_bytes(kMaxFrameSize - 32);
        Node above = alloc::alloc_bytes(kMaxFrameSize - 16);
        return !(buffer_of(below)->flags & kSeriesBig) && (buffer_of(above)->flags & kSeriesBig) &&
               alloc::memory.big_blocks_head != 0 &&
               mem::ptr<BigBlock>(alloc::memory.big_blocks_head)->footprint == kMaxFrameSize + 8 &&
               payload_of(alloc::memory.series_frames_head) == kMaxFrameSize;
    });
}

TEST(MemoryFrames, FirstFrameIsOneMegabyteThenTwo) {
    with_fresh_memory([] {
        alloc::alloc_bytes(100);
        Addr first = alloc::memory.series_frames_head;
        alloc::alloc_bytes(kFirstFrameSize - 100);  // does not fit the first frame any more
        Addr second = alloc::memory.active_series_frame;
        return payload_of(first) == kFirstFrameSize && second != first && payload_of(second) == kMaxFrameSize;
    });
}

TEST(MemoryFrames, FirstRequestOfAMegabyteMakesATwoMegabyteFrame) {
    with_fresh_memory([] {
        alloc::alloc_bytes(kFirstFrameSize);
        return payload_of(alloc::memory.series_frames_head) == kMaxFrameSize;
    });
}

TEST(MemoryFrames, FramesStayInAddressOrder) {
    with_fresh_memory([] {
        for (int i = 0; i < 4; i++) alloc::alloc_bytes(kFirstFrameSize);
        Addr previous = 0;
        for (Addr f = alloc::memory.series_frames_head; f; f = mem::ptr<SeriesFrame>(f)->next) {
            if (f <= previous) return false;
            previous = f;
        }
        return previous == alloc::memory.series_frames_tail;
    });
}

TEST(MemoryNodes, EmptiedNodeFrameIsReleased) {
    with_fresh_memory([] {
        Addr frame = alloc::alloc_node_frame(kNodeFrameSlots);
        uint32_t held = alloc::memory.os_bytes;
        std::vector<Node> nodes;
        for (int i = 0; i < 3; i++) nodes.push_back(alloc::alloc_node());
        for (Node n : nodes) alloc::free_node(frame, n);
        alloc::free_unused_node_frames();
        return alloc::memory.node_frames_head == 0 && alloc::memory.current_node_frame == 0 &&
               alloc::memory.os_bytes == held - (sys::round_up(36 + 4 * kNodeFrameSlots + 4, platform::page_size()));
    });
}

TEST(MemoryNodes, NodesComeFromTheFreeListAndFramesFillUp) {
    with_fresh_memory([] {
        Node first = alloc::alloc_node();
        Node second = alloc::alloc_node();
        NodeFrame* f = mem::ptr<NodeFrame>(alloc::memory.node_frames_head);
        if (second != first + 4 || f->used != 2) return false;
        alloc::free_node(alloc::memory.node_frames_head, first);
        if (alloc::alloc_node() != first) return false;  // the freed slot is taken again first
        for (uint32_t i = f->used; i < kNodeFrameSlots; i++) alloc::alloc_node();
        alloc::alloc_node();  // the first frame is full: a second one is made
        return alloc::memory.node_frames_head != alloc::memory.node_frames_tail;
    });
}

TEST(MemoryNodes, FrameHistoryRecordsStableCounts) {
    with_fresh_memory([] {
        alloc::alloc_node();
        NodeFrame* f = mem::ptr<NodeFrame>(alloc::memory.node_frames_head);
        alloc::free_unused_node_frames();  // used went from 0 to 1
        alloc::free_unused_node_frames();  // unchanged
        return f->history == 0b01 && f->used_after_cycle == 1;
    });
}

TEST(MemoryReallocation, ExpandKeepsContentsAndNode) {
    collector::HeldOff off;  // the buffers under test are held nowhere else, and must not move
    Node node = alloc::alloc_series(4, 1, alloc::kHeadRoom);
    std::memcpy(alloc::alloc_tail_bytes(node, 5).get(), "abcde", 5);
    Addr old = mem::buffer_addr(node);
    alloc::expand_series(node, 64);
    SeriesBuffer* b = buffer_of(node);
    EXPECT_NE(mem::buffer_addr(node), old);
    EXPECT_EQ(b->node, node);
    EXPECT_EQ(b->size, 64u);
    EXPECT_EQ(b->offset, b->data_start());  // head room is not kept
    EXPECT_EQ(b->used_bytes(), 5u);
    EXPECT_EQ(std::memcmp(mem::ptr(b->offset), "abcde", 5), 0);
    SeriesBuffer* abandoned = mem::ptr<SeriesBuffer>(old);
    EXPECT_EQ(abandoned->node, 0u);
    EXPECT_FALSE(abandoned->flags & kSeriesLive);
}

TEST(MemoryReallocation, FixedSeriesBecomesMovableWhenItGrows) {
    collector::HeldOff off;  // the buffers under test are held nowhere else, and must not move
    Node node = alloc::alloc_fixed_series(1, 16, 0);
    EXPECT_TRUE(buffer_of(node)->flags & kSeriesFixed);
    for (int i = 0; i < 3; i++) *alloc::alloc_tail_cell(node) = test::int_cell(i);
    SeriesBuffer* b = buffer_of(node);
    EXPECT_FALSE(b->flags & kSeriesFixed);
    EXPECT_EQ(b->length(), 3u);
    EXPECT_EQ(mem::ptr<Cell>(b->offset)[2].int32(), 2);
}

TEST(MemoryReallocation, ExpandFilledAndCopy) {
    collector::HeldOff off;  // the buffers under test are held nowhere else, and must not move
    Node node = alloc::alloc_bytes_filled(16, 0xAB);
    EXPECT_EQ(mem::ptr(buffer_of(node)->data_start())[15], 0xAB);
    alloc::expand_series_filled(node, 48, 0xCD);
    SeriesBuffer* b = buffer_of(node);
    EXPECT_EQ(mem::ptr(b->offset)[15], 0xAB);
    EXPECT_EQ(mem::ptr(b->offset)[16], 0xCD);
    EXPECT_EQ(mem::ptr(b->offset)[47], 0xCD);

    b->tail = b->offset + 20;
    Node copy = alloc::copy_series(node);
    SeriesBuffer* c = buffer_of(copy);
    EXPECT_NE(copy, node);
    EXPECT_EQ(c->size, 48u);
    EXPECT_EQ(c->used_bytes(), 20u);
    EXPECT_EQ(std::memcmp(mem::ptr(c->offset), mem::ptr(b->offset), 48), 0);
}

TEST(MemoryReallocation, TailGrowthRules) {
    collector::HeldOff off;  // the buffers under test are held nowhere else, and must not move
    Node cells = alloc::alloc_cells(1);
    for (int i = 0; i < 5; i++) alloc::alloc_tail_cell(cells);
    EXPECT_EQ(buffer_of(cells)->size, 8u * 16);  // doubled from 1 to 2, 4 and 8 cells
    EXPECT_EQ(buffer_of(cells)->length(), 5u);
    EXPECT_EQ(mem::ptr<Cell>(buffer_of(cells)->offset)[4].type(), Type::Unset);

    Node bytes = alloc::alloc_bytes(16);
    alloc::alloc_tail_bytes(bytes, 40);  // more than the capacity: grows to twice the request
    EXPECT_EQ(buffer_of(bytes)->size, 80u);
    alloc::alloc_tail_bytes(bytes, 41);  // grows to twice the capacity
    EXPECT_EQ(buffer_of(bytes)->size, 160u);
    EXPECT_EQ(buffer_of(bytes)->used_bytes(), 81u);
}

TEST(MemoryReallocation, RefusedSizesRaiseNoMemory) {
    EXPECT_EQ(raised_by([] { alloc::reallocate_series(alloc::alloc_bytes(16), -1); }), Err::internal_no_memory);
    EXPECT_EQ(raised_by([] { alloc::alloc_bytes(0x80000000u); }), Err::internal_no_memory);
    // In a child process, so that the 1 GiB buffer does not stay in this one: doubling it asks for more
    // than a series may hold.
    EXPECT_EXIT(
        {
            Node node = alloc::alloc_bytes(0x40000000);
            std::exit(test::error_of([&] { alloc::expand_series(node, 0); }) == Err::internal_no_memory ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(MemoryFill, PatternIsRepeated) {
    uint8_t bytes[16] = {'a', 'b', 'c'};
    EXPECT_EQ(alloc::fill_pattern(bytes, 3, 5), bytes + 15);
    EXPECT_EQ(std::memcmp(bytes, "abcabcabcabcabc", 15), 0);
    EXPECT_EQ(alloc::fill_pattern(bytes, 3, 0), bytes);
}

TEST(TrackedHeap, BlocksAreCountedAndResizedInPlaceOfTheList) {
    uint64_t before = sys::heap_total();
    char* a = static_cast<char*>(sys::allocate(10));
    char* b = static_cast<char*>(sys::allocate_zeroed(100));
    EXPECT_EQ(sys::heap_total(), before + 10 + 16 + 100 + 16);
    EXPECT_EQ(b[99], 0);
    std::memcpy(a, "123456789", 10);
    a = static_cast<char*>(sys::resize(a, 10000));
    EXPECT_STREQ(a, "123456789");
    EXPECT_EQ(sys::heap_total(), before + 10000 + 16 + 100 + 16);
    EXPECT_EQ(sys::resize(b, 0), nullptr);
    sys::free(a);
    EXPECT_EQ(sys::heap_total(), before);
    int local = 0;
    sys::free(&local);  // not a block of the heap: left alone
    sys::free(a);       // already freed: left alone
    EXPECT_EQ(sys::heap_total(), before);
}

TEST(TrackedHeap, FixedSeriesLiveThere) {
    uint64_t before = sys::heap_total();
    Node node = alloc::alloc_fixed_series(4, 16, 0);
    SeriesBuffer* b = buffer_of(node);
    EXPECT_TRUE(b->flags & kSeriesFixed);
    EXPECT_EQ(sys::heap_total(), before + 64 + 20 + 16);
}

#if OKA_CHECKS
TEST(BufferPointerRule, UseAfterAnAllocationIsCaught) {
    EXPECT_EXIT(
        {
            BufPtr<SeriesBuffer> b = mem::buffer(alloc::alloc_bytes(16));
            alloc::alloc_bytes(16);
            (void)b->size;
        },
        testing::ExitedWithCode(98), "kept across an allocation");
}
#endif
