#include "datatypes/block.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/cycles.h"
#include "datatypes/float.h"
#include "datatypes/hash.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/lexer.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "runtime/types.h"

namespace oka::block {

namespace {

Cell* arg(int k) { return stack::arguments() + k; }

uint32_t length_of(const Cell& block) { return series::rs_buffer_length_q(block); }
uint32_t clamped_head(const Cell& block) { return std::min(block.head(), length_of(block)); }
BufPtr<Cell> cell_at(Node node, uint32_t index) {
    return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(node)->offset) + index);
}

// The operands are copied to the data stack first: they may lie in a block's buffer, and a compare
// action may allocate (a word orders by its name's string form), which may move that buffer.
int32_t compare_values(const Cell& value1, const Cell& value2, int32_t op) {
    Cell* pair = stack::push(value1);
    stack::push(value2);
    int32_t result = actions::call<Act::compare>(pair, pair + 1, op);
    stack::top = pair;
    return result;
}

// The index of the first cell from `from` equal to `value` under kCompareFind, or -1.
int64_t find_equal(const Cell& block, uint32_t from, const Cell& value) {
    for (uint32_t i = from; i < length_of(block); i++)
        if (compare_values(value, *rs_abs_at(block, i), kCompareFind) == 0) return i;
    return -1;
}

// The cell after the matched one, or none when there is no match or it is the last cell.
const Cell* cell_after(const Cell& block, int64_t match) {
    return match >= 0 && match + 1 < length_of(block) ? rs_abs_at(block, uint32_t(match) + 1).get() : &none::value;
}

// ---- the cells that append, insert and change write ----

struct Contribution {
    const Cell* value;
    bool spread;  // the value's cells from its head rather than the value itself
    uint32_t count;
};

// A block-like value gives its cells from the head, at most `part` of them (all when part is negative);
// any other value, or any value under /only, gives itself.
Contribution contribution(const Cell& value, bool only, int32_t part) {
    if (only || !is_a(value.type(), TypeClass::any_block)) return {&value, false, 1};
    uint32_t available = rs_length_q(value);
    return {&value, true, part < 0 ? available : std::min(uint32_t(part), available)};
}

// The cells that `dup` copies of a contribution take; raises internal no-memory when they would not
// fit in one buffer next to `kept` cells.
uint32_t cells_written(const Contribution& c, int32_t dup, uint32_t kept) {
    uint64_t written = uint64_t(c.count) * uint32_t(dup);
    if ((written + kept) * sizeof(Cell) >= 0x80000000u) fire(Err::internal_no_memory);
    return uint32_t(written);
}

// Replaces the `replaced` cells at index `at` of the block by `dup` copies of the contributed cells,
// growing the buffer (to twice the size needed when `doubled`). Allocates.
void splice(const Cell& block, uint32_t at, uint32_t replaced, const Contribution& c, uint32_t dup, bool doubled) {
    Cell target = block;  // its nodes: the block may lie in a buffer that growing moves
    Node node = target.node();
    Cell* value = stack::push(*c.value);  // growing may move the buffer the value lies in
    uint32_t written = c.count * dup;
    if (written > replaced) series::grow(node, written - replaced, doubled);
    // Nothing allocates from here on: the contributed cells can be read in place, or, when they come
    // from the block itself, from a copy taken before the cells move (none when there are none: an
    // empty copy has no address to copy from).
    const Cell* group = value;
    std::vector<Cell> own;
    if (c.spread) {
        group = cell_at(value->node(), value->head()).get();
        if (value->node() == node && c.count > 0) {
            own.assign(group, group + c.count);
            group = own.data();
        }
    }
    series::resize_range(node, at, replaced, written);
    Cell* cells = cell_at(node, at).get();
    // Stepping by groups rather than counting copies: an empty group repeated any number of times
    // writes nothing and takes no time.
    for (uint32_t k = 0; k < written; k += c.count) std::memcpy(cells + k, group, c.count * sizeof(Cell));
    stack::pop(1);
    hash::changed(target, at, replaced, written);
}

// Inserts a contribution once at index `at`, the buffer doubling when it grows. Allocates.
void insert_cells(const Cell& block, uint32_t at, const Contribution& c) {
    cells_written(c, 1, length_of(block));
    splice(block, at, 0, c, 1, true);
}

// ---- copies ----

bool in_types(Type type, const Cell& types) {
    return types.is(Type::Datatype) ? types.named_type() == type : typeset::has_q(types, type);
}

bool has_copy(Type type) {
    return is_a(type, TypeClass::series) || type == Type::Bitset || type == Type::Object || type == Type::Error ||
           type == Type::Map;
}

// The node of a block being deep-copied, on the cycle stack while its copy is made: meeting it again
// inside means the block contains itself.
class DeepCopy {
public:
    explicit DeepCopy(Node node) {
        if (cycles::find_q(node)) {
            cycles::reset();
            fire(Err::internal_no_cycle);
        }
        cycles::push(node);
    }
    ~DeepCopy() { cycles::pop(); }
    DeepCopy(const DeepCopy&) = delete;
    DeepCopy& operator=(const DeepCopy&) = delete;
};

// Pushes a value and its deep copy (made by its copy action) on the data stack and returns the copy.
// Allocates.
const Cell* deep_copy(const Cell& value) {
    Cell* source = stack::push(value);
    return actions::call<Act::copy>(source, unset::push(), CopyOptions{.deep = true});
}

// Replaces the values from the head, every `step` cells, that `types` selects (every series when there
// is no typeset) by their deep copies. Allocates.
void copy_values(const Cell& block, uint32_t step, const Cell* types) {
    Node node = block.node();
    for (uint32_t i = block.head(); i < mem::buffer(node)->length(); i += step) {
        Type type = cell_at(node, i)->type();
        if (!(types ? in_types(type, *types) && has_copy(type) : is_a(type, TypeClass::series))) continue;
        const Cell* copy = deep_copy(*cell_at(node, i));
        *cell_at(node, i) = *copy;
        stack::pop(2);
    }
}

// ---- make and to ----

Cell* retyped(Cell* block, Type target) {
    block->header = uint8_t(target);
    return block;
}

const Cell* make(Cell*, Cell* spec, Type target) {
    switch (spec->type()) {
    case Type::Integer:
    case Type::Float: return retyped(push_only_s(float_::to_integer_checked(*spec)), target);
    case Type::Object: return retyped(object::push_body(spec->context()), target);
    case Type::Vector: return retyped(vector::to_block(*spec), target);
    case Type::Map: return retyped(map::push_body(*spec), target);
    default:
        if (!is_a(spec->type(), TypeClass::any_block)) error::fire_bad_make_arg(target, spec);
        return retyped(clone(*spec, Nested::shared), target);
    }
}

const Cell* to(Cell*, Cell* spec, Type target) {
    if (is_a(spec->type(), TypeClass::any_block)) return retyped(clone(*spec, Nested::shared), target);
    if (spec->is(Type::Object)) return retyped(object::push_body(spec->context()), target);
    if (spec->is(Type::Vector)) return retyped(vector::to_block(*spec), target);
    if (spec->is(Type::Map)) return retyped(map::push_body(*spec), target);
    if (spec->is(Type::Typeset)) {
        Cell* types = push_only_s(8);
        typeset::to_block(*spec, *types);
        return retyped(types, target);
    }
    if (spec->is(Type::String)) {
        Cell* values = stack::push(none::value);
        lexer::scan_string(values, *spec, -1, lexer::Options{}, nullptr);
        return retyped(values, target);
    }
    Cell* result = push_only_s(1);
    rs_append(*result, *spec);
    return retyped(result, target);
}

// ---- form and mold ----

int32_t write(Cell* buffer, const char* text, int32_t part) { return string::write_token(buffer, text, false, part); }

bool ends_in_line_break(const Cell& text) {
    uint32_t length = series::rs_buffer_length_q(text);
    if (length == 0) return false;
    uint32_t last = series::read_unit(text, length - 1);
    return last == '\t' || last == '\n' || last == '\r';
}

// The values from the head formed one after the other, a space between two of them unless the text
// so far ends a line.
int32_t form(Cell* value, Cell* buffer, Cell* limit, int32_t part) {
    if (cycles::detect_q(*value, buffer, &part, false)) return part;
    cycles::Scope scope(*value);
    for (uint32_t i = value->head(); i < length_of(*value); i++) {
        if (limit && part < 1) break;
        Cell* item = stack::push(*rs_abs_at(*value, i));
        part = actions::call<Act::form>(item, buffer, limit, part);
        stack::pop(1);
        if (i + 1 < length_of(*value) && !ends_in_line_break(*buffer)) part = write(buffer, " ", part);
    }
    return part;
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    if (cycles::detect_q(*value, buffer, &part, true)) return part;
    if (!options.only) part = write(buffer, "[", part);
    part = mold_each(value, buffer, options, part, indent);
    if (!options.only) part = write(buffer, "]", part);
    return part;
}

struct NestedMold {
    NestedMold() { mold_depth++; }
    ~NestedMold() { mold_depth--; }
    NestedMold(const NestedMold&) = delete;
    NestedMold& operator=(const NestedMold&) = delete;
};

// ---- compare ----

bool is_equality(int32_t op) {
    switch (op) {
    case kCompareEqual:
    case kCompareNotEqual:
    case kCompareStrictEqual:
    case kCompareStrictEqualWord:
    case kCompareEqualWord:
    case kCompareFind: return true;
    default: return false;
    }
}

int32_t compare_each(const Cell& block1, const Cell& block2, int32_t op) {
    if (cycles::find_q(block1.node())) return cycles::find_q(block2.node()) ? 0 : -1;
    uint32_t length1 = rs_length_q(block1), length2 = rs_length_q(block2);
    if (length1 != length2 && is_equality(op)) return 1;
    Node node1 = block1.node(), node2 = block2.node();
    uint32_t head1 = block1.head(), head2 = block2.head();
    cycles::Scope scope1(block1), scope2(block2);
    for (uint32_t i = 0; i < std::min(length1, length2); i++) {
        int32_t result = compare_cells(*cell_at(node1, head1 + i), *cell_at(node2, head2 + i), op);
        if (result != 0) return result;
    }
    // Equal as far as both go: the shorter block orders first, an empty one before any other.
    return length1 < length2 ? -1 : length1 > length2 ? 1 : 0;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    Type t1 = value1->type(), t2 = value2->type();
    bool word_paths = (op == kCompareStrictEqualWord || op == kCompareEqualWord) &&
                      (t1 == Type::Path || t1 == Type::LitPath) && (t2 == Type::Path || t2 == Type::LitPath);
    if (t1 != t2 && !word_paths) return kNotComparable;
    bool same = value1->node() == value2->node() && value1->head() == value2->head();
    if (op == kCompareSame) return same ? 0 : -1;
    return same ? 0 : compare_each(*value1, *value2, op);
}

// ---- the editing actions ----

// Where an append, insert or change writes and what: `dup` copies of the contribution at `at`,
// `written` cells in all in place of `replaced`. An owner's handler may change the block or the value,
// so an edit is planned again after the report before the change.
struct Edit {
    uint32_t at;
    Contribution c;
    uint32_t written;
    uint32_t replaced;
};

// An append writes at the tail, an insert at the head (a head past the tail counting as the tail).
Edit plan_addition(const Cell& series, const Cell& value, const EditOptions& options, bool append) {
    Contribution c = contribution(value, options.only, options.part);
    uint32_t length = length_of(series);
    return {append ? length : clamped_head(series), c, cells_written(c, options.dup, length), 0};
}

// A change replaces the cells after the head that the value writes, or the /part count of them.
Edit plan_change(const Cell& series, const Cell& value, const EditOptions& options) {
    uint32_t length = length_of(series), head = clamped_head(series);
    Contribution c = contribution(value, options.only, -1);
    uint32_t written = cells_written(c, options.dup, length);
    return {head, c, written, std::min(options.part >= 0 ? uint32_t(options.part) : written, length - head)};
}

// The commonest append: one value as itself, once, to a block that reports to no owner. It plans no
// edit; the buffer grows as any append's does.
void append_one(Cell* series, const Cell& value) {
    Node node = series->node();
    Cell* parked = stack::push(value);  // growing may move the buffer the value lies in
    series::grow(node, 1, true);
    uint32_t at = length_of(*series);
    *alloc::alloc_tail_cell(node) = *parked;
    stack::pop(1);
    hash::changed(*series, at, 0, 1);
    series->set_head(0);
    stack::set_last(*series);
}

// One entry serves append and insert.
void append(Cell* series, Cell* value, const EditOptions& options, bool append) {
    bool one_value = options.dup == 1 && (options.only || !is_a(value->type(), TypeClass::any_block));
    if (append && one_value && !ownership::watched_q(*series)) return append_one(series, *value);
    Edit edit = plan_addition(*series, *value, options, append);
    if (edit.c.count > 0) {
        Word before = append ? Word::append : Word::insert, after = append ? Word::appended : Word::inserted;
        bool owned = ownership::check(*series, before, value, int32_t(edit.at), int32_t(edit.written));
        if (owned) edit = plan_addition(*series, *value, options, append);
        splice(*series, edit.at, 0, edit.c, uint32_t(options.dup), options.dup < 5);
        if (owned) ownership::check(*series, after, value, int32_t(edit.at), int32_t(edit.written));
        series->set_head(append ? 0 : edit.at + edit.written);
    }
    stack::set_last(*series);
}

void change(Cell* series, Cell* value, const EditOptions& options) {
    Edit edit = plan_change(*series, *value, options);
    bool owned = ownership::check(*series, Word::change, value, int32_t(edit.at), int32_t(edit.replaced));
    if (owned) edit = plan_change(*series, *value, options);
    splice(*series, edit.at, edit.replaced, edit.c, uint32_t(options.dup), options.dup < 5);
    if (owned) ownership::check(*series, Word::changed, value, int32_t(edit.at), int32_t(edit.written));
    series->set_head(edit.at + edit.written);
    stack::set_last(*series);
}

const Cell* copy(Cell* value, Cell* result, const CopyOptions& options) {
    Node source = value->node();
    const Cell* copied = series::copy(value, result, options);
    if ((!options.deep && !options.types) || copied != result) return copied;
    DeepCopy scope(source);
    copy_values(*result, 1, options.types);
    return result;
}

void swap(Cell* series1, Cell* series2) {
    if (!is_a(series2->type(), TypeClass::any_block)) fire(Err::script_invalid_arg, series2);
    if (series::both_at_units_q(*series1, *series2)) {
        int32_t head1 = int32_t(series1->head()), head2 = int32_t(series2->head());
        bool owned1 = ownership::check(*series1, Word::swap, series2, head1, 1);
        bool owned2 = ownership::check(*series2, Word::swap, series1, head2, 1);
        // A handler that shortened a block past its head leaves nothing there to swap.
        if (series::both_at_units_q(*series1, *series2)) {
            std::swap(*rs_abs_at(*series1, head1), *rs_abs_at(*series2, head2));
            hash::swapped(*series1, uint32_t(head1), *series2, uint32_t(head2));
        }
        if (owned1) ownership::check(*series1, Word::swaped, series2, head1, 1);
        if (owned2) ownership::check(*series2, Word::swaped, series1, head2, 1);
    }
    stack::set_last(*series1);
}

// Removes the none! values from the head on; no refinement changes that for blocks. The range is read
// after the report, whose handler may change the block.
void trim(Cell* series, const TrimOptions&) {
    bool owned =
        ownership::check(*series, Word::trim, nullptr, int32_t(clamped_head(*series)), int32_t(rs_length_q(*series)));
    uint32_t length = length_of(*series), head = clamped_head(*series);
    Cell* cells = rs_abs_at(*series, 0).get();
    auto kept =
        uint32_t(std::remove_if(cells + head, cells + length, [](const Cell& c) { return c.is(Type::None); }) - cells);
    series::resize_range(series->node(), kept, length - kept, 0);
    hash::changed(*series, head, length - head, kept - head);
    if (owned) ownership::check(*series, Word::trimmed, nullptr, int32_t(head), int32_t(kept - head));
    stack::set_last(*series);
}

// ---- constructors ----

Cell reserved_fixed;  // the block make_in makes without a parent
Cell reserved_sized;  // the block make_in_sized makes without a parent

Cell* make_in_parent(const Cell* parent, Cell* reserved, bool fixed, int32_t capacity) {
    auto build = [&](Cell* cell) { return fixed ? make_at_fixed(cell, capacity, true) : make_at(cell, capacity); };
    if (!parent) return build(reserved);
    Node into = parent->node();
    uint32_t index = mem::buffer(into)->length();
    alloc::alloc_tail_cell(into);  // first, so that the new block is made last and nothing can collect it
    Cell made;
    build(&made);
    return copy_cell(&made, cell_at(into, index).get());
}

}  // namespace

void init() {
    runtime::register_root(&reserved_fixed);
    runtime::register_root(&reserved_sized);
    datatype::register_(Type::Block, {
                                         implements<Act::make>(make),
                                         inherits<Act::random>(),
                                         inherits<Act::reflect>(),
                                         implements<Act::to>(to),
                                         implements<Act::form>(form),
                                         implements<Act::mold>(mold),
                                         implements<Act::eval_path>(eval_path),
                                         implements<Act::compare>(compare),
                                         implements<Act::append>(append),
                                         inherits<Act::at>(),
                                         inherits<Act::back>(),
                                         implements<Act::change>(change),
                                         inherits<Act::clear>(),
                                         implements<Act::copy>(copy),
                                         implements<Act::find>(find),
                                         inherits<Act::head>(),
                                         inherits<Act::head_q>(),
                                         inherits<Act::index_q>(),
                                         implements<Act::insert>(append),
                                         inherits<Act::length_q>(),
                                         inherits<Act::move>(),
                                         inherits<Act::next>(),
                                         inherits<Act::pick>(),
                                         inherits<Act::poke>(),
                                         implements<Act::put>(put),
                                         inherits<Act::remove>(),
                                         inherits<Act::reverse>(),
                                         implements<Act::select>(select),
                                         implements<Act::sort>(sort),
                                         inherits<Act::skip>(),
                                         implements<Act::swap>(swap),
                                         inherits<Act::tail>(),
                                         inherits<Act::tail_q>(),
                                         inherits<Act::take>(),
                                         implements<Act::trim>(trim),
                                         inherits<Act::modify>(),
                                     });
}

bool rs_next(Cell* block) {
    if (block->head() + 1 >= length_of(*block)) return true;
    block->set_head(block->head() + 1);
    return false;
}

BufPtr<Cell> rs_head(Cell* block) {
    block->set_head(clamped_head(*block));
    return rs_abs_at(*block, block->head());
}

BufPtr<Cell> rs_tail(const Cell& block) { return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(block.node())->tail)); }

BufPtr<Cell> rs_abs_at(const Cell& block, uint32_t index) { return cell_at(block.node(), index); }

void rs_clear(const Cell& block) { rs_clear_at(block, block.head()); }

void rs_clear_at(const Cell& block, uint32_t index) {
    uint32_t length = length_of(block);
    if (index >= length) return;
    series::resize_range(block.node(), index, length - index, 0);
    hash::changed(block, index, length - index, 0);
}

BufPtr<Cell> rs_append(const Cell& block, const Cell& value) {
    Cell target = block;                // its nodes: the block may lie in a buffer that growing moves
    Cell* parked = stack::push(value);  // growing may move the buffer the value lies in
    uint32_t position = length_of(target);
    *alloc::alloc_tail_cell(target.node()) = *parked;
    stack::pop(1);
    hash::changed(target, position, 0, 1);
    return rs_abs_at(target, position);
}

void rs_remove_last(Cell* block) {
    uint32_t length = length_of(*block);
    if (length == 0) return;
    series::resize_range(block->node(), length - 1, 1, 0);
    hash::changed(*block, length - 1, 1, 0);
    block->set_head(std::min(block->head(), length - 1));
}

int32_t compare_cells(const Cell& a, const Cell& b, int32_t op) {
    Type ta = a.type(), tb = b.type();
    if (ta == tb || (is_a(ta, TypeClass::all_word) && is_a(tb, TypeClass::all_word)) ||
        (is_a(ta, TypeClass::number) && is_a(tb, TypeClass::number)))
        return compare_values(a, b, op);
    return ta < tb ? -1 : 1;
}

void rs_store(const Cell& block, uint32_t index, const Cell& value) {
    *rs_abs_at(block, index) = value;
    hash::changed(block, index, 1, 1);
}

void rs_append_block(const Cell& block, const Cell& other) {
    insert_cells(block, length_of(block), contribution(other, false, -1));
}

const Cell* rs_select(const Cell& block, const Cell& value) {
    return cell_after(block, find_equal(block, clamped_head(block), value));
}

bool rs_remove_value(const Cell& block, const Cell& value, bool from_start) {
    int64_t match = find_equal(block, from_start ? 0 : clamped_head(block), value);
    if (match < 0) return false;
    series::resize_range(block.node(), uint32_t(match), 1, 0);
    hash::changed(block, uint32_t(match), 1, 0);
    return true;
}

const Cell* select_word(const Cell& block, const Cell& word, bool case_) {
    auto symbol_of = [case_](const Cell& cell) { return case_ ? cell.symbol() : symbol::resolve(cell.symbol()); };
    uint32_t wanted = symbol_of(word);
    for (uint32_t i = clamped_head(block); i < length_of(block); i++) {
        const Cell& cell = *rs_abs_at(block, i);
        if (is_a(cell.type(), TypeClass::any_word) && symbol_of(cell) == wanted) return cell_after(block, i);
    }
    return &none::value;
}

Cell* clone(const Cell& block, Nested nested) {
    Cell* result = stack::push(block);  // keeps the source alive until its copy replaces it
    Node source = result->node();
    uint32_t head = clamped_head(*result), length = rs_length_q(*result);
    Node node = alloc::alloc_cells(std::max(length, 1u));
    std::memcpy(cell_at(node, 0).get(), cell_at(source, head).get(), length * sizeof(Cell));
    mem::buffer(node)->tail += length * sizeof(Cell);
    *result = Cell::of(result->type(), result->header & ~0xFFu).set_node(node);  // from its head, with no table
    if (nested == Nested::shared) return result;
    DeepCopy scope(source);
    for (uint32_t i = 0; i < length; i++) {
        Type type = cell_at(node, i)->type();
        bool code = type == Type::Paren || is_a(type, TypeClass::any_path);
        if (type != Type::Block && !(nested == Nested::code && code)) continue;
        const Cell* inner = clone(*cell_at(node, i), nested);
        *cell_at(node, i) = *inner;
        stack::pop(1);
    }
    return result;
}

void copy_types(const Cell& block, uint32_t step, const Cell& types) { copy_values(block, step, &types); }

void insert_value(Cell* block, const Cell& value, InsertMode mode) {
    uint32_t at = mode.at_start ? 0 : clamped_head(*block);
    insert_cells(*block, at, contribution(value, true, -1));
    if (mode.advance) block->set_head(at + 1);
}

void insert_block(const Cell& block, const Cell& other) {
    insert_cells(block, clamped_head(block), contribution(other, false, -1));
}

void insert_arg() { insert_value(arg(0), *arg(1), {}); }
void append_arg() { rs_append(*arg(0), *arg(1)); }
void append_last() { rs_append(stack::frame_base[-1], *stack::frame_base); }

Cell* make_at(Cell* cell, int32_t capacity) {
    Node node = alloc::alloc_cells(uint32_t(std::max(capacity, 1)));
    *cell = Cell::of(Type::Block).set_node(node);
    return cell;
}

Cell* make_at_fixed(Cell* cell, int32_t capacity, bool fixed) {
    uint32_t cells = uint32_t(std::max(capacity, 1));
    Node node = fixed ? alloc::alloc_fixed_series(cells, sizeof(Cell), 0) : alloc::alloc_unset_cells(cells);
    *cell = Cell::of(Type::Block).set_node(node);
    return cell;
}

Cell* make_in(const Cell* parent, int32_t capacity) { return make_in_parent(parent, &reserved_fixed, true, capacity); }

Cell* make_in_sized(const Cell* parent, int32_t capacity) {
    return make_in_parent(parent, &reserved_sized, false, capacity);
}

Cell* push(const Cell& block) { return stack::push(block); }

Cell* push_only_s(int32_t capacity) { return make_at(unset::push(), capacity); }

int32_t mold_each(Cell* block, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    cycles::Scope scope(*block);
    bool closing_line = false;
    uint32_t head = block->head();
    for (uint32_t i = head; i < length_of(*block); i++) {
        if (options.limit && part < 1) return part;
        NestedMold nested;
        Cell* item = stack::push(*rs_abs_at(*block, i));
        bool first = i == head;
        if (!options.flat && item->new_line()) {
            if (first && !options.only) {
                indent++;
                closing_line = true;
            }
            if (!(first && options.only)) part = write(buffer, "\n", part);
            part = write_indent(buffer, indent, part);
        } else if (!first) {
            part = write(buffer, " ", part);
        }
        part = actions::call<Act::mold>(item, buffer, options.inner(), part, indent);
        stack::pop(1);
    }
    // The closing bracket on a line of its own, at the outer indentation.
    if (closing_line) part = write_indent(buffer, indent - 1, write(buffer, "\n", part));
    return part;
}

int32_t write_indent(Cell* buffer, int32_t level, int32_t part) {
    for (int32_t i = 0; i < level; i++) part = write(buffer, "    ", part);
    return part;
}

}  // namespace oka::block
