#include "datatypes/ownership.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::ownership {

namespace {

using collector::ownership_table;

constexpr uint32_t kInitialEntries = 64;
constexpr uint32_t kEntryCells = 3;  // the owned value, the owner, the field word

// The flag goes with the entry, once the entry is made: a failed allocation leaves neither.
void put_entry(const Cell& value, const Cell& owner, const Cell& word) {
    Node node = value.node();
    BufPtr<Cell> entry = hashtable::put_block_key(ownership_table, node);
    entry[0] = value;
    entry[1] = owner;
    entry[2] = word;
    alloc::set_series_flag(node, kSeriesOwned);
}

// The walks below take fixed cells (on the data stack): making an entry allocates.
void bind_fixed(const Cell& value, const Cell& owner, const Cell& word);

void bind_cells(const Cell& block, const Cell& owner, const Cell& word) {
    if (cycles::find_q(block.node())) return;
    cycles::Scope entered(block);
    for (uint32_t i = block.head(); i < series::rs_buffer_length_q(block); i++) {
        stack::Root item(*block::rs_abs_at(block, i));
        bind_fixed(item.cell(), owner, word);
    }
}

void bind_fields(const Cell& object, const Cell& owner) {
    Node context = object.context();
    if ((_context::context_cell(context)->header & kOwnerFlag) || cycles::find_q(context)) return;
    cycles::Scope entered(object);
    for (uint32_t i = 0; i < _context::word_count(context); i++) {
        stack::Root field(object::get_values(object)[i]);
        if (field.cell().is(Type::Object) && field.cell().context() == owner.context()) continue;
        stack::Root name(*_context::word_at(context, i));
        bind_fixed(field.cell(), owner, name.cell());
    }
}

void bind_fixed(const Cell& value, const Cell& owner, const Cell& word) {
    Type type = value.type();
    if (type == Type::Object) {
        bind_fields(value, owner);
        return;
    }
    if (!has_entry_type(type)) return;
    if (!hashtable::get(ownership_table, value.node())) put_entry(value, owner, word);
    if (is_a(type, TypeClass::any_block)) bind_cells(value, owner, word);
}

// An object that owns the values of its own fields keeps them: releasing a value that holds such an
// object (a face's parent, a window in a screen's pane) leaves the object's own changes reported to it.
void unbind_fields(const Cell& object) {
    Node context = object.context();
    if ((_context::context_cell(context)->header & kOwnerFlag) || cycles::find_q(context)) return;
    cycles::Scope entered(object);
    for (uint32_t i = 0; i < _context::word_count(context); i++) unbind(object::get_values(object)[i]);
}

// Clears the owned flag of a series and drops its entry; answers whether it had them.
bool drop_owned(const Cell& series) {
    BufPtr<SeriesBuffer> buffer = mem::buffer(series.node());
    if (!(buffer->flags & kSeriesOwned)) return false;
    buffer->flags &= ~kSeriesOwned;
    hashtable::delete_key(ownership_table, series.node());
    return true;
}

// Whether unbinding has anything to do with a value of the type: it has an entry or fields.
bool may_own_something(Type type) { return type == Type::Object || has_entry_type(type); }

// Adds to `pending` the values of `count` cells of a block from `index` that may hold an entry.
void add_items(Node block, uint32_t index, uint32_t count, std::vector<Cell>& pending) {
    const Cell* cells = mem::ptr<Cell>(mem::buffer(block)->offset);
    for (uint32_t i = index; i < index + count; i++)
        if (may_own_something(cells[i].type())) pending.push_back(cells[i]);
}

// Unbinds the values in `pending` and everything inside them. The blocks still to walk wait in the list,
// not on the C++ stack: owned blocks may nest deeper than the stack allows. The owned flag goes first,
// so that a block met again inside itself is not entered twice. Unbinding never allocates.
void unbind_all(std::vector<Cell> pending) {
    while (!pending.empty()) {
        Cell value = pending.back();
        pending.pop_back();
        if (value.is(Type::Object))
            unbind_fields(value);
        else if (has_entry_type(value.type()) && drop_owned(value) && is_a(value.type(), TypeClass::any_block)) {
            uint32_t length = mem::buffer(value.node())->length(), head = std::min(value.head(), length);
            add_items(value.node(), head, length - head, pending);
        }
    }
}

}  // namespace

void init() { ownership_table = hashtable::init(kInitialEntries, nullptr, hashtable::kOwners, kEntryCells); }

void bind(const Cell& value, const Cell& owner, const Cell& word) {
    stack::Root held_value(value), held_owner(owner), held_word(word);
    bind_fixed(held_value.cell(), held_owner.cell(), held_word.cell());
}

void bind_value(const Cell& value, const Cell& owner, const Cell& word) {
    Node context = owner.context();
    bind(value, owner, word);
    _context::context_cell(context)->header |= kOwnerFlag;
}

void unbind(const Cell& value) { unbind_all({value}); }

void unbind_range(Node block, uint32_t index, uint32_t count) {
    OKA_ASSERT(index + count <= mem::buffer(block)->length());
    std::vector<Cell> pending;
    add_items(block, index, count, pending);
    unbind_all(std::move(pending));
}

BufPtr<Cell> owned_q(Node node) {
    BufPtr<Cell> entry = hashtable::get(ownership_table, node);
    return entry ? entry + 1 : entry;
}

bool report(const Cell& value, Word action, const Cell* new_value, int32_t index, int32_t count) {
    BufPtr<Cell> owner = owned_q(value.node());
    if (!owner || !owner->handlers()) return false;  // no entry, or an owner without change handlers
    OKA_ASSERT(fire_on_deep);
    Cell* event = stack::push(owner[0]);
    stack::push(owner[1]);
    stack::push(value);
    fire_on_deep(event[0], event[1], event[2], words::word(action), new_value ? *new_value : none::value, index, count);
    stack::top = event;
    return true;
}

}  // namespace oka::ownership
