#include "datatypes/series.h"

#include <algorithm>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/hash.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "datatypes/words.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/random.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::series {

namespace {

Cell* arg(int k) { return stack::arguments() + k; }

uint32_t unit_of(const Cell& series) { return mem::buffer(series.node())->unit(); }
bool holds_cells(const Cell& series) { return unit_of(series) == sizeof(Cell); }

// Where the units of a position start: its head, a head past the tail counting as the tail.
uint32_t clamped_head(const Cell& series) { return std::min(series.head(), rs_buffer_length_q(series)); }

// A new buffer holding `count` units of the buffer of `source` from the absolute index `start`, with
// room for one unit at least. Allocates.
Node copy_units(Node source, uint32_t start, uint32_t count) {
    uint32_t unit = mem::buffer(source)->unit();
    Node node = alloc::alloc_series(std::max(count, 1u), unit, 0);
    BufPtr<SeriesBuffer> from = mem::buffer(source), to = mem::buffer(node);
    std::memcpy(mem::ptr(to->offset), mem::ptr(from->offset + start * unit), count * unit);
    to->tail = to->offset + count * unit;
    return node;
}

// ---- units as values ----

// The unit at an absolute index as a value: a copy of the cell of a cell series, an integer! of a
// binary, the element of a vector, a char! of a text.
Cell* value_at(const Cell& series, uint32_t index, Cell* out) {
    if (holds_cells(series)) return copy_cell(reinterpret_cast<const Cell*>(unit_at(series, index).get()), out);
    if (series.is(Type::Vector)) return vector::get_value(series, index, out);
    Type type = series.is(Type::Binary) ? Type::Integer : Type::Char;
    *out = Cell::of(type).set_int32(int32_t(read_unit(series, index)));
    return out;
}

void store_value(const Cell& series, uint32_t index, const Cell& value) {
    if (holds_cells(series)) {
        block::rs_store(series, index, value);
        return;
    }
    if (series.is(Type::Binary)) {
        *unit_at(series, index) = binary::get_byte(value);
        return;
    }
    if (series.is(Type::Vector)) {
        vector::set_value(series, index, value);
        return;
    }
    if (!value.is(Type::Char)) fire(Err::script_invalid_arg, &value);
    string::write_char(series.node(), index, value.code_point());  // widens the buffer for a wider code point
}

// ---- /part arguments ----

// The head of a /part position, clamped to the tail; the position must lie in the same series.
uint32_t part_position(const Cell& series, const Cell& part) {
    if (part.type() != series.type() || part.node() != series.node()) error::fire_refinement("part", &part);
    return clamped_head(part);
}

// ---- positional actions: they read the frame and move the head of argument 1 ----

void at() { arg(0)->set_head(get_position(true)); }
void skip() { arg(0)->set_head(get_position(false)); }
void head() { arg(0)->set_head(0); }
void tail() { arg(0)->set_head(rs_buffer_length_q(*arg(0))); }

// A head past the tail counts as the tail: back goes to the last unit.
void back() {
    uint32_t head = clamped_head(*arg(0));
    if (head > 0) arg(0)->set_head(head - 1);
}

void next() {
    if (arg(0)->head() < rs_buffer_length_q(*arg(0))) arg(0)->set_head(arg(0)->head() + 1);
}

void head_q() { logic::box(arg(0)->head() == 0); }
void tail_q() { logic::box(rs_tail_q(*arg(0))); }
void index_q() { integer::box(int32_t(arg(0)->head()) + 1); }
int32_t length_q(Cell* series) { return int32_t(get_length(series)); }

// ---- pick and poke ----

Cell picked;  // the answer of pick and random/only, copied out by the caller at once

// The absolute index that a pick index names (1 is the head, -1 the unit before it), or -1 when it
// names no unit of the buffer.
int64_t picked_index(const Cell& series, int32_t index) {
    if (index == 0) return -1;
    int64_t at = int64_t(series.head()) + (index > 0 ? index - 1 : index);
    return at >= 0 && at < rs_buffer_length_q(series) ? at : -1;
}

const Cell* pick(Cell* series, int32_t index, Cell*) {
    int64_t at = picked_index(*series, index);
    return at < 0 ? &none::value : value_at(*series, uint32_t(at), &picked);
}

// The absolute index of the unit a poke index names; raises script out-of-range when there is none.
uint32_t poked_index(const Cell& series, int32_t index) {
    int64_t at = picked_index(series, index);
    if (at < 0) {
        Cell named;
        fire(Err::script_out_of_range, integer::make_at(&named, index));
    }
    return uint32_t(at);
}

const Cell* poke(Cell* series, int32_t index, Cell* value, Cell*) {
    uint32_t at = poked_index(*series, index);
    bool owned = ownership::check(*series, Word::poke, value, int32_t(at), 1);
    if (owned) at = poked_index(*series, index);  // the handler may have shortened the series
    store_value(*series, at, *value);
    if (owned) ownership::check(*series, Word::poked, value, int32_t(at), 1);
    return value;
}

// ---- random, reflect, modify ----

// The range is read after the report, whose handler may change the series.
void shuffle(Cell* series, bool secure) {
    bool owned =
        ownership::check(*series, Word::random, nullptr, int32_t(clamped_head(*series)), int32_t(rs_length_q(*series)));
    uint32_t head = clamped_head(*series), length = rs_length_q(*series), unit = unit_of(*series);
    BufPtr<uint8_t> units = unit_at(*series, head);
    for (uint32_t i = 0; i < length; i++) {
        uint32_t chosen = i + uint32_t(random::int_(secure, int32_t(length - i))) - 1;
        std::swap_ranges(units.get() + i * unit, units.get() + (i + 1) * unit, units.get() + chosen * unit);
    }
    if (owned) ownership::check(*series, Word::randomized, nullptr, int32_t(head), int32_t(length));
}

void random(Cell* series, bool seed, bool secure, bool only) {
    if (seed) {
        uint32_t head = clamped_head(*series);
        random::seed(hashtable::murmur3(unit_at(*series, head).get(), rs_length_q(*series) * unit_of(*series)));
        unset::box();
        return;
    }
    if (!only) {
        shuffle(series, secure);
        stack::set_last(*series);
        return;
    }
    uint32_t length = rs_length_q(*series);
    if (length == 0)
        none::box();
    else
        stack::set_last(
            *value_at(*series, series->head() + uint32_t(random::int_(secure, int32_t(length))) - 1, &picked));
}

// Fields are named by their symbol, in any letter case.
bool owned_field_q(uint32_t symbol) { return symbol::named_q(symbol, Sym::owned); }

// Only the field `owned` is known: the series' owner and the owner's field word, in a new block, or
// none for a series without an owner.
void reflect(Cell* series, int32_t field) {
    if (!owned_field_q(uint32_t(field))) fire(Err::internal_not_done);
    BufPtr<Cell> entry = ownership::owned_q(series->node());
    if (!entry) {
        none::box();
        return;
    }
    Cell* owner = stack::push(entry[0]);
    stack::push(entry[1]);
    Cell* result = block::push_only_s(2);
    block::rs_append(*result, owner[0]);
    block::rs_append(*result, owner[1]);
    stack::set_last(*result);
}

// Only the field `owned`: none drops the owner of the series and of what it holds; a block of an
// owner object and a field word makes that object the owner.
const Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    if (!owned_field_q(field->symbol())) fire(Err::internal_not_done);
    if (value->is(Type::None)) {
        ownership::unbind(*target);
        return value;
    }
    // [object word]: the owner and the field its handler hears of.
    if (!value->is(Type::Block) || rs_length_q(*value) < 2 || !block::rs_head(value)->is(Type::Object) ||
        !block::rs_abs_at(*value, value->head() + 1)->is(Type::Word))
        fire(Err::script_invalid_arg, value);
    Cell* owner = stack::push(*block::rs_head(value));
    stack::push(*block::rs_abs_at(*value, value->head() + 1));
    ownership::bind(*target, owner[0], owner[1]);
    stack::pop(2);
    return value;
}

// ---- clear, remove, reverse ----

// The units are read after the report, whose handler may change the series.
void clear(Cell* series) {
    if (!rs_tail_q(*series)) {
        bool owned =
            ownership::check(*series, Word::clear, nullptr, int32_t(series->head()), int32_t(rs_length_q(*series)));
        uint32_t head = clamped_head(*series), count = rs_length_q(*series);
        resize_range(series->node(), head, count, 0);
        hash::changed(*series, head, count, 0);
        if (owned) ownership::check(*series, Word::cleared, nullptr, int32_t(head), int32_t(count));
    }
    stack::set_last(*series);
}

// The units a remove takes out: `count` of them from `start` (none when `count` is 0), the position
// remove answers. `found` is false when a /key value is not there.
struct Removal {
    bool found;
    uint32_t start;
    uint32_t count;
};

Removal plan_removal(Cell* series, Cell* part, Cell* key) {
    int64_t count = part ? part_count(*series, *part) : 1;
    if (count < 1) return {true, series->head(), 0};
    uint32_t start = series->head();
    if (key) {
        const Cell* found = actions::call<Act::find>(series, key, FindOptions{});
        if (found->is(Type::None)) return {false, 0, 0};
        start = found->head();
        count++;  // the key and the units after it
    }
    uint32_t length = rs_buffer_length_q(*series);
    return {true, start, start < length ? uint32_t(std::min<int64_t>(count, length - start)) : 0};
}

void remove(Cell* series, Cell* part, Cell* key) {
    Removal plan = plan_removal(series, part, key);
    if (plan.count > 0) {
        bool owned = ownership::check(*series, Word::remove, nullptr, int32_t(plan.start), int32_t(plan.count));
        if (owned) plan = plan_removal(series, part, key);  // the handler may have changed the series
        resize_range(series->node(), plan.start, plan.count, 0);
        hash::changed(*series, plan.start, plan.count, 0);
        if (owned) ownership::check(*series, Word::removed, nullptr, int32_t(plan.start), int32_t(plan.count));
    }
    if (plan.found)
        stack::set_last(*series)->set_head(plan.start);
    else
        none::box();
}

// The records a reverse exchanges: `count` units from `head` in records of `size` units; none when
// `count` is 0.
struct Reversal {
    uint32_t head = 0;
    uint32_t count = 0;
    uint32_t size = 1;
};

Reversal plan_reversal(const Cell& series, Cell* part, Cell* skip) {
    uint32_t available = rs_length_q(series);
    if (available == 0) return {};
    int64_t count = std::min<int64_t>(part ? part_count(series, *part) : available, available);
    if (count < 1) return {};
    int64_t size = record_size(skip);
    if (size < 1) fire(Err::script_out_of_range, skip);
    if (size == count) return {};
    if (size > count || count % size) error::fire_refinement("skip", skip);
    return {series.head(), uint32_t(count), uint32_t(size)};
}

void reverse(Cell* series, Cell* part, Cell* skip) {
    stack::set_last(*series);
    Reversal plan = plan_reversal(*series, part, skip);
    if (plan.count == 0) return;
    bool owned = ownership::check(*series, Word::reverse, nullptr, int32_t(plan.head), int32_t(plan.count));
    if (owned) plan = plan_reversal(*series, part, skip);  // the handler may have changed the series
    uint32_t record = plan.size * unit_of(*series), records = plan.count / plan.size;
    uint8_t* first = unit_at(*series, plan.head).get();
    for (uint32_t i = 0; i < records / 2; i++)
        std::swap_ranges(first + i * record, first + (i + 1) * record, first + (records - 1 - i) * record);
    hash::changed(*series, plan.head, plan.count, plan.count);
    if (owned) ownership::check(*series, Word::reversed, nullptr, int32_t(plan.head), int32_t(plan.count));
}

// ---- move ----

// What a move carries: `count` units from the origin's head `from` to the index `to` of the target;
// nothing when `count` is 0.
struct Move {
    uint32_t from = 0;
    uint32_t to = 0;
    uint32_t count = 0;
};

[[noreturn]] void move_bad(const Cell& origin, const Cell& target) {
    Cell from, to;
    datatype::make_at(&from, origin.type());
    datatype::make_at(&to, target.type());
    fire(Err::script_move_bad, &from, &to);
}

// Cells go into cells, units into units of the same width; only texts mix widths. Elements go into
// vectors of the same element type and width only, and nothing else goes into a vector.
void check_movable(const Cell& origin, const Cell& target) {
    if (is_a(origin.type(), TypeClass::any_block) != is_a(target.type(), TypeClass::any_block))
        move_bad(origin, target);
    bool vectors = origin.is(Type::Vector) || target.is(Type::Vector);
    if (vectors && (origin.type() != target.type() || origin.element_type() != target.element_type()))
        move_bad(origin, target);
    bool widths_differ = unit_of(origin) != unit_of(target);
    if (widths_differ && (!is_a(origin.type(), TypeClass::any_string) || !is_a(target.type(), TypeClass::any_string)))
        move_bad(origin, target);
}

// Within one buffer the range ends up starting at the target position (its last units when the target
// is the tail); a range that would not fit before the tail stays where it is.
Move plan_move(const Cell& origin, const Cell& target, Cell* part) {
    int64_t count = std::min<int64_t>(part ? part_count(origin, *part) : 1, rs_length_q(origin));
    if (count < 1) return {};
    uint32_t from = origin.head(), to = clamped_head(target);
    if (origin.node() != target.node()) {
        check_movable(origin, target);
        return {from, to, uint32_t(count)};
    }
    uint32_t length = rs_buffer_length_q(origin);
    if (to == from) return {};
    if (to > from) {
        if (to == length)
            to = length - uint32_t(count);
        else if (length - to < count)
            return {};
    }
    return {from, to, uint32_t(count)};
}

// Within one buffer the units rotate into place; into another they are copied and cut from the
// origin, code point by code point between texts of different widths, the target widening as needed.
void move_units(const Cell& origin, const Cell& target, const Move& move) {
    uint32_t unit = unit_of(origin);
    if (origin.node() == target.node()) {
        uint8_t* units = unit_at(origin, 0).get();
        uint32_t from = move.from, to = move.to, count = move.count;
        uint32_t low = std::min(from, to), high = std::max(from, to) + count;
        if (to > from)
            std::rotate(units + from * unit, units + (from + count) * unit, units + (to + count) * unit);
        else
            std::rotate(units + to * unit, units + from * unit, units + (from + count) * unit);
        hash::changed(target, low, high - low, high - low);
    } else if (unit != unit_of(target)) {
        string::move_part(origin, target, move.count);
    } else {
        grow(target.node(), move.count, true);
        resize_range(target.node(), move.to, 0, move.count);
        std::memcpy(unit_at(target, move.to).get(), unit_at(origin, move.from).get(), move.count * unit);
        resize_range(origin.node(), move.from, move.count, 0);
        hash::changed(target, move.to, 0, move.count);
        hash::changed(origin, move.from, move.count, 0);
    }
}

const Cell* move(Cell* origin, Cell* target, Cell* part) {
    if (!is_a(target->type(), TypeClass::series)) error::fire_in_function(Err::script_expect_arg, target->type(), 1);
    Move plan = plan_move(*origin, *target, part);
    if (plan.count == 0) return target;
    bool owned = ownership::check(*target, Word::move, nullptr, int32_t(plan.to), int32_t(plan.count));
    if (owned) plan = plan_move(*origin, *target, part);  // the handler may have changed either series
    move_units(*origin, *target, plan);
    if (owned) ownership::check(*target, Word::moved, nullptr, int32_t(plan.to), int32_t(plan.count));
    return target;
}

}  // namespace

void init() {
    datatype::register_(
        Type::Series,
        {
            implements<Act::random>(random),     implements<Act::reflect>(reflect), implements<Act::at>(at),
            implements<Act::back>(back),         implements<Act::clear>(clear),     implements<Act::copy>(copy),
            implements<Act::head>(head),         implements<Act::head_q>(head_q),   implements<Act::index_q>(index_q),
            implements<Act::length_q>(length_q), implements<Act::move>(move),       implements<Act::next>(next),
            implements<Act::pick>(pick),         implements<Act::poke>(poke),       implements<Act::remove>(remove),
            implements<Act::reverse>(reverse),   implements<Act::skip>(skip),       implements<Act::tail>(tail),
            implements<Act::tail_q>(tail_q),     implements<Act::take>(take),       implements<Act::modify>(modify),
        });
}

bool rs_tail_q(const Cell& series) { return series.head() >= rs_buffer_length_q(series); }

uint32_t rs_buffer_length_q(const Cell& series) { return mem::buffer(series.node())->length(); }

uint32_t rs_length_q(const Cell& series) { return rs_buffer_length_q(series) - clamped_head(series); }

bool rs_skip(Cell* series, int32_t n) {
    int64_t position = int64_t(series->head()) + n;
    uint32_t length = rs_buffer_length_q(*series);
    if (position >= 0 && position <= length) series->set_head(uint32_t(position));
    return position >= length;
}

uint32_t get_position(bool one_based) {
    const Cell* offset = arg(1);
    if (!offset->is(Type::Integer)) fire(Err::script_invalid_arg, offset);
    int64_t n = integer::get(*offset);
    if (one_based && n >= 1) n--;
    return uint32_t(std::clamp<int64_t>(int64_t(clamped_head(*arg(0))) + n, 0, rs_buffer_length_q(*arg(0))));
}

uint32_t get_length(Cell* series, bool absolute) {
    uint32_t length = rs_buffer_length_q(*series);
    if (absolute) return length;
    series->set_head(std::min(series->head(), length));
    return length - series->head();
}

BufPtr<uint8_t> unit_at(const Cell& series, uint32_t index) {
    BufPtr<SeriesBuffer> b = mem::buffer(series.node());
    return BufPtr<uint8_t>(mem::ptr(b->offset + index * b->unit()));
}

uint32_t read_unit(const Cell& series, uint32_t index) {
    uint32_t value = 0;
    std::memcpy(&value, unit_at(series, index).get(), unit_of(series));  // units are little-endian
    return value;
}

void expand(Node node, uint64_t units, bool doubled) {
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    uint64_t needed = b->used_bytes() + units * b->unit();
    if (needed >= 0x80000000u) fire(Err::internal_no_memory);
    alloc::expand_series(node, std::max<uint64_t>(doubled ? 2 * needed : needed, b->size));
}

int64_t part_count(const Cell& series, const Cell& part) {
    if (part.is(Type::Integer)) return integer::get(part);
    return int64_t(part_position(series, part)) - clamped_head(series);
}

int64_t record_size(const Cell* skip) {
    if (!skip) return 1;
    if (!skip->is(Type::Integer)) error::fire_refinement("skip", skip);
    return integer::get(*skip);
}

void resize_range(Node node, uint32_t index, uint32_t old_count, uint32_t new_count) {
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    uint32_t unit = b->unit();
    Addr behind = b->offset + (index + old_count) * unit;
    if (new_count < old_count && index * unit < b->tail - behind) {
        uint32_t cut = (old_count - new_count) * unit;
        std::memmove(mem::ptr(b->offset + cut), mem::ptr(b->offset), index * unit);
        b->offset += cut;
        return;
    }
    if (new_count != old_count && behind < b->tail)
        std::memmove(mem::ptr(behind + (int64_t(new_count) - old_count) * unit), mem::ptr(behind), b->tail - behind);
    b->tail = b->tail + new_count * unit - old_count * unit;
}

namespace {

std::vector<Removals*> walks_with_removals;  // innermost last

}  // namespace

Removals::Removals(Cell* position) : position_(position) {
    walks_with_removals.push_back(this);
    removing_walks++;
}

Removals::~Removals() {
    if (!ranges_.empty()) {
        // Unwinding: no index may be rebuilt here, where an allocation could fail.
        if (Node table = hash::table_of(*position_)) hashtable::mark_stale(table);
        close_up();
    }
    walks_with_removals.pop_back();
    removing_walks--;
}

void Removals::add(uint32_t start, uint32_t count) {
    uint32_t end = std::min(start + count, rs_buffer_length_q(*position_));
    if (start >= end) return;
    if (!ranges_.empty() && ranges_.back().second == start)
        ranges_.back().second = end;
    else
        ranges_.emplace_back(start, end);
}

// Moves the units between the removals down over them, once each, and the walk's position with them.
// A range that a change bypassing the check left past the tail takes out what is still there.
void Removals::close_up() {
    Node node = position_->node();
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    uint32_t unit = b->unit(), length = b->length();
    uint8_t* units = mem::ptr(b->offset);
    uint32_t to = std::min(ranges_.front().first, length);
    for (size_t i = 0; i < ranges_.size(); i++) {
        uint32_t from = std::min(ranges_[i].second, length);
        uint32_t upto = i + 1 < ranges_.size() ? std::min(ranges_[i + 1].first, length) : length;
        std::memmove(units + to * unit, units + from * unit, (upto - from) * unit);
        to += upto - from;
    }
    b->tail = b->offset + to * unit;
    position_->set_head(position_->head() - std::min(position_->head(), length - to));
    ranges_.clear();
}

void Removals::carry_out() {
    if (ranges_.empty()) return;
    uint32_t first = ranges_.front().first, length = rs_buffer_length_q(*position_);
    close_up();
    if (first < length) hash::changed(*position_, first, length - first, rs_buffer_length_q(*position_) - first);
}

bool carry_out_removals(Node node) {
    bool carried = false;
    for (Removals* walk : walks_with_removals) {
        if (walk->holds(node)) {
            walk->carry_out();
            carried = true;
        }
    }
    return carried;
}

const Cell* copy(Cell* value, Cell* result, const CopyOptions& options) {
    Cell* part = options.part;
    uint32_t length = rs_buffer_length_q(*value), head = clamped_head(*value);
    int64_t start = head, count = length - head;
    if (part && part->is(Type::Pair)) {
        // x and y are positions counted as `at` counts them: the range runs from x up to y.
        int32_t x = part->x(), y = part->y();
        if (y < x) return &none::value;
        start = int64_t(head) + (x >= 1 ? x - 1 : x);
        count = int64_t(y) - x;
    } else if (part) {
        count = part_count(*value, *part);
    }
    if (count < 0) {
        start += count;
        count = -count;
    }
    if (start < 0) {
        count += start;
        start = 0;
    }
    start = std::min<int64_t>(start, length);
    count = std::clamp<int64_t>(count, 0, length - start);
    Cell copy = Cell::of(value->type(), value->header & kCellNewLine);
    if (value->is(Type::Vector))
        copy.set_element_type(value->element_type());  // a vector's copy keeps its element type
    copy.set_node(copy_units(value->node(), uint32_t(start), uint32_t(count)));
    *result = copy;
    return result;
}

namespace {

// The units a take takes: `count` of them from `start`. At the tail there is nothing to take.
struct Taking {
    bool at_tail;
    uint32_t start;
    uint32_t count;
};

Taking plan_take(const Cell& series, Cell* part, bool last) {
    uint32_t head = series.head(), length = rs_buffer_length_q(series);
    if (head >= length) return {true, length, 0};
    int64_t count = 1;
    if (part && part->is(Type::Integer)) {
        count = integer::get(*part);
    } else if (part) {
        uint32_t position = part_position(series, *part);
        count = position < head ? 0 : last ? length - position : position - head;
    }
    count = std::min<int64_t>(count, length - head);
    int64_t start;
    if (count >= 0) {
        start = last ? length - count : head;
    } else if (last) {
        count = 0;  // from the end, a negative count takes nothing
        start = length;
    } else {
        count = std::min<int64_t>(-count, head);  // the units before the head
        start = head - count;
    }
    return {false, uint32_t(start), uint32_t(count)};
}

// A new series of the units a take/part takes, deep with `deep`, made by the series' copy action.
void copy_range(const Cell& series, const Taking& plan, bool deep, Cell* result) {
    Cell* from = stack::push(series);
    from->set_head(plan.start);
    from->clear_new_line();
    Cell count;
    actions::call<Act::copy>(from, result,
                             CopyOptions{.part = integer::make_at(&count, int32_t(plan.count)), .deep = deep});
    stack::pop(1);
}

}  // namespace

const Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Taking plan = plan_take(*series, part, last);
    if (plan.at_tail) return &none::value;
    Cell* result = none::push();
    bool owned = ownership::check(*series, Word::take, nullptr, int32_t(plan.start), int32_t(plan.count));
    if (owned) plan = plan_take(*series, part, last);  // the handler may have changed the series
    if (!plan.at_tail) {
        // Copied while the units are still in the series: a value that cannot be copied deep (one that
        // holds itself) fails with nothing taken.
        if (part) {
            copy_range(*series, plan, deep, result);
        } else {
            value_at(*series, plan.start, result);
            if (deep && is_a(result->type(), TypeClass::series))
                actions::call<Act::copy>(result, result, CopyOptions{.deep = true});
        }
        resize_range(series->node(), plan.start, plan.count, 0);
        hash::changed(*series, plan.start, plan.count, 0);
    }
    if (owned) ownership::check(*series, Word::taken, nullptr, int32_t(plan.start), int32_t(plan.count));
    return result;
}

SortPlan plan_sort(const Cell& series, const SortOptions& options) {
    uint32_t length = rs_buffer_length_q(series), head = clamped_head(series);
    int64_t count = length - head;
    Cell *skip = options.skip, *compare = options.compare;
    if (options.part) {
        int64_t limit = part_count(series, *options.part);
        if (limit < 0) {  // the units before the head
            limit = std::min<int64_t>(-limit, head);
            head -= uint32_t(limit);
        }
        count = std::min<int64_t>(limit, length - head);
    }
    if (options.all && !skip) fire(Err::script_bad_refines);
    int64_t size = record_size(skip);
    // No records at all (an empty range) is a whole number of them: nothing to sort, not a bad size.
    if (skip && (size < 1 || count % size)) error::fire_refinement("skip", skip);
    SortPlan plan{head, uint32_t(count), uint32_t(size), 0, options.all, nullptr};
    if (compare && compare->is(Type::Function)) {
        plan.function = compare;
    } else if (compare && compare->is(Type::Integer)) {
        if (!skip || options.all) fire(Err::script_bad_refines);
        int32_t offset = integer::get(*compare);
        if (offset < 1 || offset > size) fire(Err::script_out_of_range, compare);
        plan.offset = uint32_t(offset - 1);
    } else if (compare) {
        error::fire_refinement("compare", compare);
    }
    return plan;
}

int32_t function_order(const Cell& function, Cell* arguments) {
    if (!call_sort_function) fire(Err::internal_not_done);
    call_sort_function(function, arguments);
    Cell answer = arguments[0];
    stack::top = arguments;
    switch (answer.type()) {
    case Type::Logic: return logic::get(answer) ? 1 : -1;
    case Type::Integer: return integer::get(answer) < 0 ? 1 : integer::get(answer) > 0 ? -1 : 0;
    case Type::Float: return answer.f64() > 0 ? -1 : answer.f64() < 0 ? 1 : 0;
    case Type::None: return -1;
    default: return 1;
    }
}

}  // namespace oka::series
