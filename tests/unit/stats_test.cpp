// Memory statistics as a block of figures.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "evaluator/natives.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stats.h"
#include "test_support.h"

using namespace oka;

namespace {

Cell* items(const Cell& block) { return mem::ptr<Cell>(mem::buffer(block.node())->offset); }
uint32_t length(const Cell& block) { return mem::buffer(block.node())->length(); }

}  // namespace

TEST(Stats, FiguresDescribeEveryFrame) {
    stats::MemoryFigures figures = stats::memory_figures();
    uint32_t node_frames = 0, series_frames = 0;
    for (Addr f = alloc::memory.node_frames_head; f; f = mem::ptr<NodeFrame>(f)->next) node_frames++;
    for (Addr f = alloc::memory.series_frames_head; f; f = mem::ptr<SeriesFrame>(f)->next) series_frames++;
    EXPECT_EQ(figures.node_frames.size(), node_frames);
    EXPECT_EQ(figures.series_frames.size(), series_frames);
    for (const auto& f : figures.series_frames) EXPECT_EQ(f.free + f.used, f.capacity);
    EXPECT_EQ(figures.heap_total, sys::heap_total());
}

// The block that holds the figures may need a new node frame, which the figures may count or not.
TEST(Stats, InfoIsABlockOfTheFigures) {
    size_t frames_before = stats::memory_figures().node_frames.size();
    Cell stats = test::run(natives::stats_s, {}, {-1, 0});  // stats/info
    size_t frames_after = stats::memory_figures().node_frames.size();
    ASSERT_EQ(length(stats), 5u);
    Cell* parts = items(stats);
    EXPECT_GE(length(parts[0]), frames_before);
    EXPECT_LE(length(parts[0]), frames_after);
    Cell first_series = items(parts[1])[0];
    EXPECT_TRUE(first_series.new_line());
    Cell* figures = items(first_series);  // free, used, payload
    EXPECT_EQ(figures[0].int32() + figures[1].int32(), figures[2].int32());
    EXPECT_EQ(parts[4].type(), Type::Integer);
    EXPECT_EQ(uint64_t(parts[4].int32()), sys::heap_total());
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
    natives::push_size(block, 0x7FFFFFFF);
    natives::push_size(block, 0x80000000ull);
    EXPECT_EQ(items(block)[0].type(), Type::Integer);
    EXPECT_EQ(items(block)[1].type(), Type::Float);
    EXPECT_EQ(items(block)[1].f64(), 2147483648.0);
}
