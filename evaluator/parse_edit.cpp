// What the parse commands do with the part of the input they matched: copy it (copy, set, keep), put
// it in a collection (keep, collect), or edit the input (remove, insert, change). The edits go through
// the series actions, so that owners hear of them as of any other change.
//
// The actions write their answer to the result slot of the current frame: the parse native's, whose
// arguments the engine copied before it started.
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/parse_internal.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::parse {

namespace {

// Pushes the input positioned at `index`.
Cell* push_at(const Cell& input, uint32_t index) {
    Cell* position = stack::push(input);
    position->set_head(index);
    return position;
}

}  // namespace

Cell* push_value_at(const Cell& input, uint32_t index) {
    if (is_a(input.type(), TypeClass::any_block)) return stack::push(*block::rs_abs_at(input, index));
    uint32_t unit = string::rs_abs_at(input, index);
    return input.is(Type::Binary) ? integer::push(int32_t(unit)) : char_::push(unit);
}

Cell* push_copy(const Cell& input, uint32_t start, uint32_t end) {
    Cell* from = push_at(input, start);
    Cell* part = integer::push(int32_t(end > start ? end - start : 0));
    const Cell* copied = actions::call<Act::copy>(from, unset::push(), CopyOptions{.part = part});
    *from = *copied;
    stack::top = from + 1;
    return from;
}

void keep_range(const Cell& collection, const Cell& input, uint32_t start, uint32_t end, bool pick) {
    Cell target = collection;  // its node: the collection stays where the engine keeps it
    Cell* kept = stack::top;
    if (pick) {
        for (uint32_t i = start; i < end; i++) {
            block::rs_append(target, *push_value_at(input, i));
            stack::top = kept;
        }
        return;
    }
    block::rs_append(target, end == start + 1 ? *push_value_at(input, start) : *push_copy(input, start, end));
    stack::top = kept;
}

void keep_value(const Cell& collection, const Cell& value, bool pick) {
    Cell target = collection;
    Cell* kept = stack::push(value);
    if (!pick || !is_a(kept->type(), TypeClass::any_block)) {
        if (!kept->is(Type::Unset)) block::rs_append(target, *kept);
    } else {
        // The values it holds now: a value that is the collection itself adds them once, as append does.
        uint32_t tail = series::rs_buffer_length_q(*kept);
        for (uint32_t i = kept->head(); i < tail; i++) block::rs_append(target, *block::rs_abs_at(*kept, i));
    }
    stack::top = kept;
}

void remove_range(const Cell& input, uint32_t start, uint32_t end) {
    if (end <= start) return;
    Cell* position = push_at(input, start);
    actions::call<Act::remove>(position, integer::push(int32_t(end - start)), nullptr);
    stack::top = position;
}

uint32_t replace_range(const Cell& input, uint32_t start, uint32_t end, const Cell& value, bool only) {
    Cell* position = push_at(input, start);
    Cell* given = stack::push(value);
    if (end > start)
        actions::call<Act::change>(position, given, EditOptions{.part = int32_t(end - start), .only = only});
    else
        actions::call<Act::insert>(position, given, EditOptions{.only = only}, false);
    uint32_t written = position->head() - start;
    stack::top = position;
    return written;
}

void insert_collected(const Cell& target, const Cell& block) {
    Cell* position = stack::push(target);
    actions::call<Act::insert>(position, stack::push(block), EditOptions{}, false);
    stack::top = position;
}

}  // namespace oka::parse
