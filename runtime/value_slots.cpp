#include "runtime/value_slots.h"

#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"

namespace oka::value_slots {

namespace {

constexpr int32_t kNoSlot = -1;

int32_t free_head = kNoSlot;

BufPtr<Cell> slot_at(uint32_t index) { return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(table)->offset) + index); }

Cell free_slot(int32_t next) { return Cell::of(Type::Integer).set_int32(next); }

uint32_t capacity() {
    BufPtr<SeriesBuffer> b = mem::buffer(table);
    return (b->data_end() - b->offset) / sizeof(Cell);
}

}  // namespace

void init() {
    runtime::register_root(&table);
    table = alloc::alloc_cells(kInitialSlots);
    link_free(0);
}

uint32_t store(const Cell& value) {
    stack::Root parked(value);  // making or doubling the block may move the buffer the value lies in
    if (!table) init();         // at first use: start-up does not pay for a table that most runs never use
    if (free_head == kNoSlot) {
        uint32_t full = capacity();
        alloc::expand_series(table, 2 * int64_t(mem::buffer(table)->size));
        link_free(full);
    }
    auto index = uint32_t(free_head);
    BufPtr<Cell> slot = slot_at(index);
    free_head = slot->int32();
    *slot = parked.cell();
    return index + 1;
}

BufPtr<Cell> get(uint32_t index) { return slot_at(index - 1); }

void release(uint32_t index) {
    if (index == 0) return;
    *slot_at(index - 1) = free_slot(free_head);
    free_head = int32_t(index - 1);
}

void link_free(uint32_t start) {
    uint32_t end = capacity();
    for (uint32_t i = start; i < end; i++) *slot_at(i) = free_slot(i + 1 < end ? int32_t(i + 1) : kNoSlot);
    BufPtr<SeriesBuffer> b = mem::buffer(table);
    b->tail = b->offset + end * sizeof(Cell);
    free_head = int32_t(start);
}

}  // namespace oka::value_slots
