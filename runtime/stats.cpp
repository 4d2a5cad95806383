#include "runtime/stats.h"

#include "runtime/collector.h"
#include "runtime/memory.h"

namespace oka::stats {

namespace {

NodeFrame* node_frame(Addr a) { return mem::ptr<NodeFrame>(a); }
SeriesFrame* series_frame(Addr a) { return mem::ptr<SeriesFrame>(a); }
BigBlock* big_block(Addr a) { return mem::ptr<BigBlock>(a); }

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

MemoryFigures memory_figures() {
    MemoryFigures figures;
    for (Addr a = alloc::memory.node_frames_head; a; a = node_frame(a)->next) {
        NodeFrame* f = node_frame(a);
        figures.node_frames.push_back({f->capacity - f->used, f->used, f->capacity});
        figures.regions += sizeof(NodeFrame) + 4ull * f->capacity;
    }
    for (Addr a = alloc::memory.series_frames_head; a; a = series_frame(a)->next) {
        SeriesFrame* f = series_frame(a);
        figures.series_frames.push_back({f->end - f->heap, f->heap - f->payload_start(), f->end - f->payload_start()});
        figures.regions += f->size + sizeof(SeriesFrame);
    }
    for (Addr b = alloc::memory.big_blocks_head; b; b = big_block(b)->next) {
        figures.big_blocks.push_back(big_block(b)->footprint);
        figures.regions += big_block(b)->footprint + sizeof(BigBlock);
    }
    figures.heap_total = sys::heap_total();
    return figures;
}

}  // namespace oka::stats
