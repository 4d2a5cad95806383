// The natives that reach the memory manager: stats reports the memory in use, recycle runs the
// collector or switches it on and off.
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/unset.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/refinements.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "runtime/stats.h"

namespace oka::natives {

namespace {

void append_frames(const Cell& block, const std::vector<stats::MemoryFigures::Frame>& frames) {
    for (const stats::MemoryFigures::Frame& f : frames) {
        Cell* triple = block::make_at(stack::push_next(), 3);
        triple->header |= kCellNewLine;
        for (uint32_t figure : {f.free, f.used, f.capacity})
            integer::make_at(alloc::alloc_tail(*triple).get(), int32_t(figure));
        *alloc::alloc_tail(block) = *triple;
        stack::pop(1);
    }
}

// A block of five items: per node frame [free used capacity], per series frame [free used payload],
// the big blocks' footprints, the bytes of all regions held, and the tracked heap's total.
Cell* push_memory_block() {
    stats::MemoryFigures figures = stats::memory_figures();
    Cell* result = block::make_at(stack::push_next(), 5);
    for (int part = 0; part < 3; part++) *alloc::alloc_tail(*result) = *block::make_at(stack::push_next(), 4);
    Cell* parts = stack::top - 3;
    append_frames(parts[0], figures.node_frames);
    append_frames(parts[1], figures.series_frames);
    for (uint64_t footprint : figures.big_blocks) push_size(parts[2], footprint);
    push_size(*result, figures.regions);
    push_size(*result, figures.heap_total);
    stack::pop(3);
    return result;
}

// /show hands the block to the library's show-memory-stats for display.
void show_memory_block() {
    Cell* call = lexer::load("show-memory-stats");
    Cell* figures = push_memory_block();
    *alloc::alloc_tail(*call) = *figures;
    interpreter::eval_block(*call, true);
}

}  // namespace

Cell* make_size_at(Cell* cell, uint64_t bytes) {
    if (bytes > 0x7FFFFFFF) return float_::make_at(cell, double(bytes));
    return integer::make_at(cell, int32_t(bytes));
}

void push_size(const Cell& block, uint64_t bytes) { make_size_at(alloc::alloc_tail(block).get(), bytes); }

void stats_s(const int32_t* positions) {
    Refinements<stats_slot> refinements(positions);
    if (refinements.given("show"))
        show_memory_block();
    else if (refinements.given("info"))
        stack::set_last(*push_memory_block());
    else
        make_size_at(stack::arguments(), uint64_t(stats::memory_in_use()));
}

void recycle_s(const int32_t* positions) {
    Refinements<recycle_slot> refinements(positions);
    if (refinements.given("on") || refinements.given("off")) {
        collector::on = refinements.given("on");
        stack::set_last(unset::value);
        return;
    }
    collector::do_cycle();
    make_size_at(stack::arguments(), uint64_t(stats::memory_in_use()));
}

}  // namespace oka::natives
