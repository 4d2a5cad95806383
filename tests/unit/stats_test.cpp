// Memory statistics as a block of figures.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stats.h"

using namespace oka;

namespace {

Cell* items(const Cell& block) { return mem::ptr<Cell>(mem::buffer(block.data2)->offset); }
uint32_t length(const Cell& block) { return mem::buffer(block.data2)->length(); }

}  // namespace

TEST(Stats, MemoryBlockDescribesEveryFrame) {
    bool collecting = collector::on;
    Cell stats = stats::memory_block();
    ASSERT_EQ(length(stats), 5u);
    Cell* parts = items(stats);
    uint32_t node_frames = 0, series_frames = 0;
    for (Addr f = alloc::memory.node_frames_head; f; f = mem::ptr<NodeFrame>(f)->next) node_frames++;
    for (Addr f = alloc::memory.series_frames_head; f; f = mem::ptr<SeriesFrame>(f)->next) series_frames++;
    EXPECT_EQ(length(parts[0]), node_frames);
    EXPECT_EQ(length(parts[1]), series_frames);
    Cell first_series = items(parts[1])[0];
    EXPECT_TRUE(first_series.new_line());
    Cell* figures = items(first_series);  // free, used, payload
    EXPECT_EQ(figures[0].data2 + figures[1].data2, figures[2].data2);
    EXPECT_EQ(parts[4].type(), Type::Integer);
    EXPECT_EQ(parts[4].data2, sys::heap_total());
    EXPECT_EQ(collector::on, collecting);  // held off while the figures were read, then as it was
}

TEST(Stats, InUseGrowsWithCarving) {
    collector::HeldOff off;  // a collection would change the figures as well
    double before = stats::memory_in_use();
    alloc::alloc_bytes(1000);
    EXPECT_EQ(stats::memory_in_use() - before, 1008 + 24 + 4);  // the buffer and its node
}

TEST(Stats, LargeSizesBecomeFloats) {
    Cell block;
    block::make_at(&block, 2);
    stats::push_size(block, 0x7FFFFFFF);
    stats::push_size(block, 0x80000000ull);
    EXPECT_EQ(items(block)[0].type(), Type::Integer);
    EXPECT_EQ(items(block)[1].type(), Type::Float);
    EXPECT_EQ(items(block)[1].f64(), 2147483648.0);
}
