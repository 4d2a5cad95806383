#include "evaluator/stack.h"

#include "runtime/error.h"
#include "runtime/memory.h"

namespace oka::stack {

void init(Node data_stack) {
    SeriesBuffer* b = mem::buffer(data_stack).get();  // a fixed series: the pointer stays valid
    OKA_ASSERT(b->flags & kSeriesFixed);
    bottom = frame_base = top = mem::ptr<Cell>(b->offset);
    end = mem::ptr<Cell>(b->data_end());
}

Cell* push_next() {
    Cell* cell = top++;
    if (top >= end) {
        top = cell - kOverflowReserve < bottom ? bottom : cell - kOverflowReserve;
        fire(Err::internal_stack_overflow);
    }
    return cell;
}

Cell* push(const Cell& value) {
    Cell copy = value;  // the value may be the cell that push_next hands out
    Cell* cell = push_next();
    *cell = copy;
    return cell;
}

void pop(uint32_t n) { top = uint32_t(top - bottom) < n ? bottom : top - n; }

Type top_type() { return get_top()->type(); }

Cell* get_top() { return top == bottom ? bottom : top - 1; }

Cell* set_last(const Cell& value) { return copy_cell(&value, frame_base); }

Cell* set_last_keep(const Cell& value) {
    top = frame_base + 1;
    return set_last(value);
}

Cell* reset() {
    top = frame_base;
    return frame_base;
}

Cell* keep() {
    top = frame_base + 1;
    return frame_base;
}

void collapse_top() {
    top--;
    copy_cell(top, top - 1);
}

}  // namespace oka::stack
