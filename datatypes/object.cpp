#include "datatypes/object.h"

#include <cstring>

#include "datatypes/context.h"
#include "datatypes/none.h"
#include "datatypes/unset.h"
#include "evaluator/stack.h"
#include "runtime/registry.h"

namespace oka::object {

namespace {

uint32_t last_class_id = 0;

void fill_unset_values(Node context) {
    Node values = _context::context_cell(context)->data2;
    while (mem::buffer(values)->length() < _context::word_count(context))
        unset::make_at(alloc::alloc_tail_cell(values).get());
}

}  // namespace

void init() { datatype::register_(Type::Object, {}); }

uint32_t get_new_id() { return ++last_class_id; }

Cell* make_at(Cell* cell, uint32_t size) {
    Node context = _context::create(size, false, true, 0, _context::kObject);
    *cell = Cell{uint8_t(Type::Object), context, 0, 0};
    *_context::self_cell(context) = *cell;
    return cell;
}

Cell* push(Node context, uint32_t class_id) {
    fill_unset_values(context);
    Cell* object = stack::push(Cell{uint8_t(Type::Object), context, class_id, 0});
    *_context::self_cell(context) = *object;
    return object;
}

int32_t find_word(const Cell& object, uint32_t symbol) { return _context::find_word(object.data1, symbol, true); }

const Cell* rs_select(const Cell& object, uint32_t symbol) {
    int32_t position = find_word(object, symbol);
    if (position < 0) return &none::value;
    return get_values(object).get() + position;
}

BufPtr<Cell> get_word(Node context, uint32_t position) { return _context::word_at(context, position); }

BufPtr<Cell> get_values(const Cell& object) {
    Node values = _context::context_cell(object.data1)->data2;
    return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(values)->offset));
}

uint32_t get_size(const Cell& object) { return _context::word_count(object.data1); }

Cell* copy_shallow(const Cell& object) {
    Cell copy = object;
    Cell* result = stack::push(copy);
    Node source = copy.data1;
    Node context = _context::clone(result, _context::kObject);
    Node values = _context::context_cell(context)->data2;
    uint32_t size = _context::word_count(source);
    for (uint32_t i = 0; i < size; i++) {
        Cell value = mem::ptr<Cell>(mem::buffer(_context::context_cell(source)->data2)->offset)[i];
        *alloc::alloc_tail_cell(values) = value;
    }
    result->header = object.header;
    result->data3 = 0;
    *_context::self_cell(context) = *result;
    return result;
}

}  // namespace oka::object
