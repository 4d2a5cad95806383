// Searching, sorting and the set operations of block!. The loops here read the cells again through the
// block's node at every step and compare copies of them on the data stack: a compare action may
// allocate (a word's spelling is built on first use), and a sort function may do anything at all to
// the block being sorted.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/hash.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/words.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/sort.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::block {

namespace {

uint32_t length_of(const Cell& block) { return series::rs_buffer_length_q(block); }
uint32_t clamped_head(const Cell& block) { return std::min(block.head(), length_of(block)); }

// Two cells compared under `op`, each copied to the data stack first, where no allocation can pull it
// away.
bool equal_cells(const Cell& a, const Cell& b, int32_t op) {
    Cell* pair = stack::push(a);
    stack::push(b);
    bool equal = actions::compare(pair, pair + 1, op);
    stack::top = pair;
    return equal;
}

// ---- the search engine of find, select, put, path access and the set operations ----

// What a search tests at a position: one value under a compare op, a datatype or a typeset against the
// cell's type, or a run of cells (from a block's head) cell by cell.
struct Query {
    enum Kind { kValue, kType, kTypes, kRun } kind;
    const Cell* value;  // fixed: a frame argument or a data-stack cell
    int32_t op;
    uint32_t size;  // the cells a match covers
};

Query query_of(const Cell* value, bool only, bool case_, bool same) {
    int32_t op = same ? kCompareSame : case_ ? kCompareStrictEqual : kCompareFind;
    if (!only && value->is(Type::Datatype)) return {Query::kType, value, op, 1};
    if (!only && value->is(Type::Typeset)) return {Query::kTypes, value, op, 1};
    if (!only && is_a(value->type(), TypeClass::any_block)) return {Query::kRun, value, op, rs_length_q(*value)};
    return {Query::kValue, value, op, 1};
}

bool matches_at(const Cell& block, uint32_t at, const Query& query) {
    switch (query.kind) {
    case Query::kType: return rs_abs_at(block, at)->type() == query.value->named_type();
    case Query::kTypes: return typeset::has_q(*query.value, rs_abs_at(block, at)->type());
    case Query::kValue: return equal_cells(*query.value, *rs_abs_at(block, at), query.op);
    case Query::kRun:
        for (uint32_t k = 0; k < query.size; k++)
            if (!equal_cells(*rs_abs_at(*query.value, query.value->head() + k), *rs_abs_at(block, at + k), query.op))
                return false;
        return true;
    }
    return false;
}

// The positions a search tests: from `first` on, `stride` cells apart, as long as a match there lies
// wholly between `low` and `high`; with `once` only the first of them.
struct Walk {
    int64_t first, stride, low, high;
    bool once;
};

// The first position of the walk where the query matches, or -1.
int64_t scan(const Cell& block, const Query& query, const Walk& walk) {
    for (int64_t at = walk.first; at >= walk.low && at + query.size <= walk.high; at += walk.stride) {
        if (matches_at(block, uint32_t(at), query)) return at;
        if (walk.once) break;
    }
    return -1;
}

// The last position at or below `x` that lies a whole number of steps from the head: the positions
// /skip tests, whichever way a walk goes.
int64_t on_grid(int64_t x, int64_t head, int64_t step) {
    return x >= head ? head + (x - head) / step * step : head - (head - x + step - 1) / step * step;
}

// A search as find's refinements set it: its query, and where it matched (-1: nowhere).
struct Found {
    Query query;
    int64_t at;
};

Found search(Cell* series, Cell* value, const SelectOptions& options, bool match) {
    Found found{query_of(value, options.only, options.case_, options.same), -1};
    uint32_t length = length_of(*series);
    if (length == 0 || (series->head() >= length && !options.reverse)) return found;
    int64_t step = series::record_size(options.skip);
    if (step < 1) fire(Err::script_out_of_range, options.skip);
    int64_t head = clamped_head(*series);
    int64_t count = options.part ? series::search_part_count(*series, *options.part, options.reverse) : length;
    if (count < 1 || found.query.size == 0) return found;
    int64_t size = found.query.size;
    Walk walk{head, step, head, std::min<int64_t>(head + count, length), match};
    if (found.query.kind == Query::kValue && !match && !options.last && !options.reverse) {
        int64_t at = hash::find_indexed(*series, value, uint32_t(head), uint32_t(step), found.query.op);
        if (at != hash::kNotIndexed) {
            found.at = at < walk.high ? at : -1;
            return found;
        }
    }
    if (options.last) walk = {on_grid(walk.high - size, head, step), -step, 0, walk.high, match};
    if (options.reverse)
        walk = {on_grid(head - size, head, step), -step, std::max<int64_t>(head - count, 0), head, match};
    found.at = scan(*series, found.query, walk);
    return found;
}

// ---- sort ----

// How the records of a sort compare: `size` cells each, numbered in `records` (a data-stack cell
// holding a copy of the range), told apart by all their cells (`whole`) or by the one at `offset`,
// under the compare op `op` or by a /compare `function`.
struct RecordOrder {
    const Cell* records;
    uint32_t size;
    uint32_t offset;
    bool whole;
    bool reverse;
    int32_t op;
    const Cell* function;

    const Cell& cell(uint32_t record, uint32_t i) const { return *rs_abs_at(*records, record * size + i); }
};

uint32_t record_number(const void* element) { return *static_cast<const uint32_t*>(element); }

// The place in a sort of two values that their compare actions cannot order. It keeps the order total,
// so that a block of mixed values sorts the same whichever order they come in: amounts of different
// types (a char and a float) go by amount, and all amounts take one rank among the other types, which
// go by type id.
int32_t incomparable_order(const Cell& a, const Cell& b) {
    bool amounts = is_a(a.type(), TypeClass::amount), other_amounts = is_a(b.type(), TypeClass::amount);
    if (amounts && other_amounts) {
        double x = float_::number_of(a), y = float_::number_of(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    auto rank = [](const Cell& value, bool amount) { return int32_t(amount ? Type::Integer : value.type()); };
    return rank(a, amounts) - rank(b, other_amounts);
}

// The built-in order: the cells compared in turn by the first one's compare action under the sort op;
// values that do not compare take the incomparable order. /reverse exchanges the two records.
int compare_records(const void* a, const void* b, intptr_t order_address, intptr_t) {
    const RecordOrder& order = *reinterpret_cast<const RecordOrder*>(order_address);
    uint32_t x = record_number(order.reverse ? b : a), y = record_number(order.reverse ? a : b);
    uint32_t from = order.whole ? 0 : order.offset, to = order.whole ? order.size : order.offset + 1;
    for (uint32_t i = from; i < to; i++) {
        Cell* pair = stack::push(order.cell(x, i));
        stack::push(order.cell(y, i));
        int32_t result = actions::compare_value(pair, pair + 1, order.op);
        if (result == kNotComparable) result = incomparable_order(pair[0], pair[1]);
        stack::top = pair;
        if (result != 0) return result;
    }
    return 0;
}

// A function's argument for a record: its first cell, or with /all its cells in a new block.
void make_argument(Cell* argument, const RecordOrder& order, uint32_t record) {
    if (!order.whole) {
        *argument = order.cell(record, 0);
        return;
    }
    Cell view = *order.records;
    view.set_head(record * order.size);
    Cell size;
    series::copy(&view, argument, CopyOptions{.part = integer::make_at(&size, int32_t(order.size))});
}

// The record that should come second is the function's first argument, so that true keeps the order;
// /reverse exchanges them.
int call_function(const void* a, const void* b, intptr_t order_address, intptr_t) {
    const RecordOrder& order = *reinterpret_cast<const RecordOrder*>(order_address);
    Cell* arguments = none::push();
    none::push();
    make_argument(arguments, order, record_number(order.reverse ? a : b));
    make_argument(arguments + 1, order, record_number(order.reverse ? b : a));
    return series::function_order(*order.function, arguments);
}

// The int32 keys of the records when each record's compared cell is an integer! and no function
// orders them: integers then sort by their values alone, with no compare action to dispatch. `bare`
// tells whether every record is one cell equal to the plain integer! cell of its value, so that records
// with equal keys are identical and no sort can show their order among themselves.
bool integer_keys(const RecordOrder& order, uint32_t records, std::vector<int32_t>& keys, bool& bare) {
    if (order.function || (order.whole && order.size > 1)) return false;
    const Cell* cells = rs_abs_at(*order.records, 0).get();
    keys.resize(records);
    bare = order.size == 1;
    for (uint32_t k = 0; k < records; k++) {
        const Cell& key = cells[k * order.size + order.offset];
        if (!key.is(Type::Integer)) return false;
        keys[k] = integer::get(key);
        Cell plain;
        bare = bare && std::memcmp(&key, integer::make_at(&plain, keys[k]), sizeof(Cell)) == 0;
    }
    return true;
}

// Two records' integer keys in the order compare_records gives them.
int compare_keys(const void* a, const void* b, intptr_t keys_address, intptr_t reverse) {
    const int32_t* keys = reinterpret_cast<const int32_t*>(keys_address);
    int32_t x = keys[record_number(reverse ? b : a)], y = keys[record_number(reverse ? a : b)];
    return (x > y) - (x < y);
}

// Orders the numbers of records with integer keys. A radix sort is stable, so it serves a stable sort
// and one whose equal records are identical; any other takes the same quicksort as other values, whose
// order of equal keys is then the one every other sort of such a block gives.
void order_by_keys(std::vector<uint32_t>& numbers, const std::vector<int32_t>& keys, bool reverse, bool radix) {
    auto records = uint32_t(numbers.size());
    if (!radix) {
        sort::qsort(numbers.data(), records, sizeof(uint32_t), intptr_t(keys.data()), reverse, compare_keys);
        return;
    }
    // The sign bit flipped makes the unsigned order of the keys their signed order; all bits flipped
    // reverses it. Each item carries its record's number below its key.
    const uint32_t flip = reverse ? 0x7FFFFFFFu : 0x80000000u;
    std::vector<uint64_t> items(records);
    for (uint32_t k = 0; k < records; k++) items[k] = uint64_t(uint32_t(keys[k]) ^ flip) << 32 | k;
    sort::radix_sort(items.data(), records);
    for (uint32_t k = 0; k < records; k++) numbers[k] = uint32_t(items[k]);
}

// Orders the numbers of the records, `numbers` holding them in their first order.
void order_records(std::vector<uint32_t>& numbers, const RecordOrder& order, bool stable) {
    auto records = uint32_t(numbers.size());
    std::vector<int32_t> keys;
    bool bare = false;
    if (integer_keys(order, records, keys, bare)) return order_by_keys(numbers, keys, order.reverse, stable || bare);
    SortCompare compare = order.function ? call_function : compare_records;
    (stable ? sort::merge_sort : sort::qsort)(numbers.data(), records, sizeof(uint32_t), intptr_t(&order), 0, compare);
}

// Sorts the numbers of the records, which lie in a copy of the range, and writes the records back in
// their new order. The copy keeps every record alive and in place whatever a comparison does, so no
// record is lost or doubled; a function that changed the block's length leaves the block as it left it
// and raises script protected.
void sort_records(Cell* series, RecordOrder& order, uint32_t records, bool stable) {
    uint32_t head = series->head(), length = length_of(*series);
    stack::Root copy(unset::value);
    Cell count;
    series::copy(series, &copy.cell(), CopyOptions{.part = integer::make_at(&count, int32_t(records * order.size))});
    copy.cell().set_type(Type::Block);
    order.records = &copy.cell();
    std::vector<uint32_t> numbers(records);
    std::iota(numbers.begin(), numbers.end(), 0u);
    order_records(numbers, order, stable);
    if (length_of(*series) != length) fire(Err::script_protected);
    const Cell* from = rs_abs_at(copy.cell(), 0).get();
    Cell* to = rs_abs_at(*series, head).get();
    for (uint32_t k = 0; k < records; k++) std::copy_n(from + numbers[k] * order.size, order.size, to + k * order.size);
}

// ---- set operations ----

// A block and a table over its cells from its head, made for `size` cells, as a hash! cell pushed on the
// data stack, through which the collector keeps both.
Cell* push_indexed(const Cell& block, uint32_t size) {
    Node table = hashtable::init(size, &block, hashtable::kValues);
    return stack::push(Cell::of(Type::Hash).set_head(clamped_head(block)).set_node(block.node()).set_table(table));
}

// True when a record of the indexed block starts with the key (a data-stack cell). Blocks, objects,
// functions and their like hash by identity but may equal a value of another identity, so such a key
// is looked for cell by cell.
bool holds_q(const Cell& indexed, Cell* key, uint32_t skip, int32_t op) {
    if (hashtable::identity_type_q(*key))
        return scan(indexed, {Query::kValue, key, op, 1}, {indexed.head(), skip, 0, length_of(indexed), false}) >= 0;
    return hashtable::find(indexed.table(), key, {.start = indexed.head(), .skip = skip, .op = op}) >= 0;
}

void append_record(const Cell& result, const Cell& from, uint32_t first, uint32_t count) {
    for (uint32_t k = 0; k < count; k++) {
        uint32_t position = length_of(result);
        rs_append(result, *rs_abs_at(from, first + k));
        hashtable::put(result.table(), position);
    }
}

// Appends to the indexed result each record of `from` whose first cell `other` holds (`wanted`) or does
// not hold (not `wanted`), every record when there is no `other`, unless this pass took it already. The
// records a pass takes are looked up from where the pass began: a short last record of an earlier
// pass would put them off the grid of the result's head.
void collect(const Cell& result, const Cell& from, const Cell* other, bool wanted, uint32_t skip, int32_t op) {
    Cell taken = result;  // rooted through the result
    taken.set_head(length_of(result));
    for (uint32_t i = from.head(); i < length_of(from); i += skip) {
        Cell* key = stack::push(*rs_abs_at(from, i));
        bool take = (!other || holds_q(*other, key, skip, op) == wanted) && !holds_q(taken, key, skip, op);
        stack::pop(1);
        if (take) append_record(result, from, i, std::min(skip, length_of(from) - i));
    }
}

}  // namespace

// ---- actions ----

const Cell* find(Cell* series, Cell* value, const FindOptions& options) {
    Found found = search(series, value, options, options.match);
    if (found.at < 0) return &none::value;
    Cell* position = stack::push(*series);
    position->set_head(uint32_t(found.at + (options.tail ? found.query.size : 0)));
    return position;
}

const Cell* select(Cell* series, Cell* value, const SelectOptions& options) {
    Found found = search(series, value, options, false);
    int64_t after = found.at + found.query.size;
    if (found.at < 0 || after >= length_of(*series)) return &none::value;
    return rs_abs_at(*series, uint32_t(after)).get();
}

// Where a put writes: over the value after the key (`present`), else at the tail, the key too when it
// is missing; `count` cells from `index`.
struct Placement {
    bool present;
    bool key_missing;
    int32_t index;
    int32_t count;
};

Placement place(Cell* series, Cell* key, bool case_) {
    int64_t at = search(series, key, SelectOptions{.only = true, .case_ = case_}, false).at;
    uint32_t length = length_of(*series);
    bool present = at >= 0 && at + 1 < length;
    return {present, at < 0, present ? int32_t(at) + 1 : int32_t(length), at < 0 ? 2 : 1};
}

const Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    Placement spot = place(series, key, case_);
    if (spot.present && equal_cells(*value, *rs_abs_at(*series, uint32_t(spot.index)), kCompareFind)) return value;
    bool owned = ownership::check(*series, Word::put, value, spot.index, spot.count);
    if (owned) spot = place(series, key, case_);  // the handler may have changed the block
    if (spot.present) {
        rs_store(*series, uint32_t(spot.index), *value);
    } else {
        if (spot.key_missing) rs_append(*series, *key);
        rs_append(*series, *value);
    }
    if (owned) ownership::check(*series, Word::put_ed, value, spot.index, spot.count);
    return value;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    if (element->is(Type::Integer)) {
        int32_t index = integer::get(*element);
        return value ? actions::call<Act::poke>(parent, index, value, element)
                     : actions::call<Act::pick>(parent, index, element);
    }
    SelectOptions by_key{.case_ = step.case_};
    if (!value) {
        if (element->is(Type::Word) && !parent->is(Type::Hash)) return select_word(*parent, *element, step.case_);
        return select(parent, element, by_key);
    }
    Found found = search(parent, element, by_key, false);
    if (found.at < 0) fire(Err::script_bad_path_set, step.path ? step.path : element, element);
    Cell* position = stack::push(*parent);
    position->set_head(uint32_t(found.at));
    Cell after;
    return actions::call<Act::poke>(position, int32_t(found.query.size) + 1, value,
                                    integer::make_at(&after, int32_t(found.query.size) + 1));
}

const Cell* sort(Cell* series, const SortOptions& options) {
    series::SortPlan plan = series::plan_sort(*series, options);
    bool owned =
        plan.count > 0 && ownership::check(*series, Word::sort, nullptr, int32_t(plan.head), int32_t(plan.count));
    if (owned) plan = series::plan_sort(*series, options);  // the handler may have changed the block
    series->set_head(plan.head);
    if (plan.count > 0) {
        int32_t op = options.case_ ? kCompareCaseSort : kCompareSort;
        RecordOrder order{nullptr, plan.record, plan.offset, plan.whole, options.reverse, op, plan.function};
        sort_records(series, order, plan.count / plan.record, options.stable);
        hash::changed(*series, plan.head, plan.count, plan.count);
    }
    if (owned) ownership::check(*series, Word::sorted, nullptr, int32_t(plan.head), int32_t(plan.count));
    return series;
}

void do_set_op(bool case_, int32_t skip, series::SetOp op) {
    using series::SetOp;
    Cell* first = stack::arguments();
    Cell* second = first + 1;
    first->set_head(clamped_head(*first));
    if (op != SetOp::unique) second->set_head(clamped_head(*second));
    uint32_t room = rs_length_q(*first) + (op == SetOp::union_ ? rs_length_q(*second) : 0);
    const Cell& result = *push_indexed(*make_at(stack::push_next(), int32_t(std::max(room, 1u))), room);
    int32_t equality = case_ ? kCompareStrictEqual : kCompareEqual;
    auto step = uint32_t(skip);
    switch (op) {
    case SetOp::unique: collect(result, *first, nullptr, false, step, equality); break;
    case SetOp::intersect:
    case SetOp::exclude:
        collect(result, *first, push_indexed(*second, rs_length_q(*second)), op == SetOp::intersect, step, equality);
        break;
    case SetOp::union_:
    case SetOp::difference: {
        // The second set's records go after the first's, and only those that the first lacks.
        Cell* of_first = push_indexed(*first, rs_length_q(*first));
        Cell* of_second = op == SetOp::difference ? push_indexed(*second, rs_length_q(*second)) : nullptr;
        collect(result, *first, of_second, false, step, equality);
        collect(result, *second, of_first, false, step, equality);
        break;
    }
    }
    first->set_head(0);
    first->set_node(result.node());
    if (first->is(Type::Hash)) first->set_table(result.table());  // the table that indexes its new cells
    stack::set_last(*first);
}

}  // namespace oka::block
