#include "runtime/stats.h"

#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace oka::stats {

namespace {

NodeFrame* node_frame(Addr a) { return mem::ptr<NodeFrame>(a); }
SeriesFrame* series_frame(Addr a) { return mem::ptr<SeriesFrame>(a); }
BigBlock* big_block(Addr a) { return mem::ptr<BigBlock>(a); }

Cell new_block(uint32_t capacity) {
    Cell block;
    block::make_at(&block, int32_t(capacity));
    return block;
}

void append_triple(const Cell& block, int32_t a, int32_t b, int32_t c) {
    Cell triple = new_block(3);
    triple.header |= kCellNewLine;
    for (int32_t v : {a, b, c}) integer::make_at(alloc::alloc_tail(triple).get(), v);
    *alloc::alloc_tail(block) = triple;
}

// A byte total as a number: integer!, or float! beyond the integer range.
void make_size_at(Cell* cell, uint64_t bytes) {
    if (bytes > 0x7FFFFFFF)
        float_::make_at(cell, double(bytes));
    else
        integer::make_at(cell, int32_t(bytes));
}

}  // namespace

double memory_in_use() {
    collector::HeldOff off;
    double total = 0;
    for (Addr f = alloc::memory.node_frames_head; f; f = node_frame(f)->next) total += 4.0 * node_frame(f)->used;
    for (Addr f = alloc::memory.series_frames_head; f; f = series_frame(f)->next)
        total += series_frame(f)->heap - series_frame(f)->payload_start();
    for (Addr b = alloc::memory.big_blocks_head; b; b = big_block(b)->next) total += big_block(b)->footprint;
    return total;
}

Cell in_use() {
    Cell bytes;
    make_size_at(&bytes, uint64_t(memory_in_use()));
    return bytes;
}

void push_size(const Cell& block, uint64_t bytes) { make_size_at(alloc::alloc_tail(block).get(), bytes); }

Cell memory_block() {
    collector::HeldOff off;
    Cell result = new_block(5), nodes = new_block(4), series = new_block(4), bigs = new_block(4);
    uint64_t regions = 0;
    for (Addr a = alloc::memory.node_frames_head; a; a = node_frame(a)->next) {
        NodeFrame* f = node_frame(a);
        append_triple(nodes, int32_t(f->capacity - f->used), int32_t(f->used), int32_t(f->capacity));
        regions += sizeof(NodeFrame) + 4ull * f->capacity;
    }
    for (Addr a = alloc::memory.series_frames_head; a; a = series_frame(a)->next) {
        SeriesFrame* f = series_frame(a);
        append_triple(series, int32_t(f->end - f->heap), int32_t(f->heap - f->payload_start()),
                      int32_t(f->end - f->payload_start()));
        regions += f->size + sizeof(SeriesFrame);
    }
    for (Addr b = alloc::memory.big_blocks_head; b; b = big_block(b)->next) {
        push_size(bigs, big_block(b)->footprint);
        regions += big_block(b)->footprint + sizeof(BigBlock);
    }
    for (const Cell* part : {&nodes, &series, &bigs}) *alloc::alloc_tail(result) = *part;
    push_size(result, regions);
    push_size(result, sys::heap_total());
    return result;
}

}  // namespace oka::stats
