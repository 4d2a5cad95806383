#include "datatypes/map.h"

#include <algorithm>
#include <bit>

#include "datatypes/block.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/words.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka::map {

namespace {

constexpr TypeMask kKeyTypes =
    class_mask(TypeClass::all_word) | class_mask(TypeClass::any_string) |
    type_mask({Type::Binary, Type::Char, Type::Integer, Type::Float, Type::Pair, Type::Percent, Type::Tuple, Type::Time,
               Type::Date, Type::Money, Type::Point2D, Type::Point3D});
static_assert(std::popcount(kKeyTypes) == 24, "a map takes keys of 24 types");

// ---- the entry block ----

BufPtr<Cell> cell_at(Node entries, uint32_t index) {
    return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(entries)->offset) + index);
}
uint32_t cells_of(const Cell& map) { return mem::buffer(map.node())->length(); }

// A removed entry's value cell: header word 0, a cell of no type.
bool vacant_q(const Cell& value) { return value.header == 0; }
bool live_at_q(const Cell& map, uint32_t key_index) { return !vacant_q(*cell_at(map.node(), key_index + 1)); }

// The entry block as a block! value, at `head`.
Cell entries_view(const Cell& map, uint32_t head = 0) {
    return Cell::of(Type::Block).set_head(head).set_node(map.node());
}

// ---- keys ----

// Pushes the key at `index` as the map hands it out: a set-word as a word! when `as_word`, a text or
// binary as a copy, so that changing what a caller was given cannot change a key under its hash.
Cell* push_key(const Cell& map, uint32_t index, bool as_word) {
    Cell* key = stack::push(*cell_at(map.node(), index));
    if (as_word && key->is(Type::SetWord)) key->header = uint8_t(Type::Word);
    if (is_a(key->type(), TypeClass::any_string) || key->is(Type::Binary)) series::copy(key, key, CopyOptions{});
    return key;
}

int32_t lookup_op(bool case_, bool same = false) {
    return same ? kCompareSame : case_ ? kCompareStrictEqual : kCompareEqual;
}

// The index of the key cell of the live entry of `key` (fixed) under the compare op, or -1.
int32_t find_entry(const Cell& map, Cell* key, int32_t op) {
    int32_t at = hashtable::probe_key(map.table(), key, op).position;
    return at >= 0 && live_at_q(map, uint32_t(at)) ? at : -1;
}

// A key as a map stores it (see the header). Any other type raises script invalid-path with `path`
// and the key's datatype.
void preprocess_key(Cell* key, const Cell* path) {
    Type type = key->type();
    if (!valid_key_type_q(type)) {
        Cell datatype;
        datatype::make_at(&datatype, type);
        fire(Err::script_invalid_path, path, &datatype);
    }
    if (is_a(type, TypeClass::any_word))
        key->header = uint8_t(Type::SetWord);
    else if (is_a(type, TypeClass::any_string) || type == Type::Binary)
        series::copy(key, key, CopyOptions{});
}

// The two cells of a new entry at the tail of the entry block, taken back unless the table takes the
// entry: a failed index leaves the block as it was.
class PendingEntry {
public:
    explicit PendingEntry(Node entries) : entries_(entries) {}
    ~PendingEntry() {
        if (!kept_) mem::buffer(entries_)->tail -= 2 * sizeof(Cell);
    }
    PendingEntry(const PendingEntry&) = delete;
    PendingEntry& operator=(const PendingEntry&) = delete;
    void keep() { kept_ = true; }

private:
    Node entries_;
    bool kept_ = false;
};

// Appends an entry of the key (fixed, normalised first) with an unset value and indexes it where the
// probe that missed it landed; answers the index of its key cell.
uint32_t add_entry(const Cell& map, Cell* key, const Cell* path, const hashtable::KeyProbe& probe) {
    Cell* stored = stack::push(*key);
    stored->clear_new_line();
    preprocess_key(stored, path);
    Node entries = map.node();
    uint32_t at = mem::buffer(entries)->length();
    alloc::alloc_tail_bytes(entries, 2 * sizeof(Cell));
    *cell_at(entries, at) = *stored;
    *cell_at(entries, at + 1) = unset::value;
    PendingEntry pending(entries);
    hashtable::add_key(map.table(), probe, at);
    pending.keep();
    stack::pop(1);
    return at;
}

// Stores the value (fixed) under the key (fixed): into its entry, revived when vacant, or into a new
// one. Answers the index of the value cell.
uint32_t store(const Cell& map, Cell* key, const Cell* value, bool case_, const Cell* path) {
    hashtable::KeyProbe probe = hashtable::probe_key(map.table(), key, lookup_op(case_));
    bool found = probe.position >= 0;
    uint32_t at = found ? uint32_t(probe.position) : add_entry(map, key, path, probe);
    if (found && !live_at_q(map, at)) hashtable::record(map.table())->count++;
    Cell* cell = cell_at(map.node(), at + 1).get();
    *cell = *value;
    cell->clear_new_line();
    return at + 1;
}

// The words of the block being made a map are set-words before the table looks for repeated keys,
// which it compares as they are.
void retype_word_keys(const Cell& block) {
    BufPtr<Cell> cells = cell_at(block.node(), 0);
    for (uint32_t i = 0; i < cells_of(block); i += 2)
        if (is_a(cells[i].type(), TypeClass::any_word)) cells[i].header = uint8_t(Type::SetWord);
}

// Normalises each key of a block being made a map, after the table merged the repeated ones.
void preprocess_keys(const Cell& map) {
    for (uint32_t i = 0; i < cells_of(map); i += 2) {
        Cell* key = stack::push(*cell_at(map.node(), i));
        preprocess_key(key, key);
        *cell_at(map.node(), i) = *key;
        stack::pop(1);
    }
}

// ---- make, to, copy ----

const Cell* copy(Cell* value, Cell* result, const CopyOptions& options) {
    Cell* entries = stack::push(entries_view(*value));
    datatype::action<Act::copy>(Type::Block)(entries, result,
                                             CopyOptions{.deep = options.deep, .types = options.types});
    Node table = hashtable::copy(value->table(), result->node());
    *result = Cell::of(Type::Map).set_node(result->node()).set_table(table);
    return result;
}

[[noreturn]] void refuse(Cell* spec) {
    Cell datatype;
    datatype::make_at(&datatype, Type::Map);
    fire(Err::script_bad_to_arg, &datatype, spec);
}

// make and to: a size (make only), the pairs of a block, paren or hash, or a map to copy.
const Cell* build(Cell* spec, bool conversion) {
    switch (spec->type()) {
    case Type::Integer:
    case Type::Float: {
        if (conversion) refuse(spec);
        int32_t size = float_::to_integer_checked(*spec);
        if (size < 0) fire(Err::script_out_of_range, spec);
        size = std::max(size, 1);
        return make_at(block::push_only_s(int32_t(std::min<int64_t>(2 * int64_t(size), INT32_MAX))), uint32_t(size));
    }
    case Type::Block:
    case Type::Paren:
    case Type::Hash: {
        uint32_t count = series::rs_length_q(*spec);
        if (count % 2) fire(Err::script_invalid_arg, spec);
        Cell* block = block::clone(*spec, block::Nested::shared);
        BufPtr<Cell> cells = cell_at(block->node(), 0);
        for (uint32_t i = 0; i < count; i++) cells[i].clear_new_line();
        return make_at(block, std::max(count, 2u));
    }
    case Type::Map: return copy(spec, unset::push(), CopyOptions{});
    default: refuse(spec);
    }
}

const Cell* make(Cell*, Cell* spec, Type) { return build(spec, false); }
const Cell* to(Cell*, Cell* spec, Type) { return build(spec, true); }

// ---- reflect ----

enum class Field { words, values, body };

Field field_of(uint32_t symbol) {
    if (symbol::named_q(symbol, Sym::words)) return Field::words;
    if (symbol::named_q(symbol, Sym::values)) return Field::values;
    if (symbol::named_q(symbol, Sym::body)) return Field::body;
    fire(Err::internal_not_done);
}

// A new block of the keys (set-word keys as words), of the values, or of both (the body).
Cell* push_reflected(const Cell& map, Field field) {
    uint32_t live = rs_length_q(map);
    Cell* result = block::push_only_s(int32_t(field == Field::body ? 2 * live : live));
    uint32_t taken = 0;
    for (uint32_t i = 0; i < cells_of(map) && taken < live; i += 2) {
        if (!live_at_q(map, i)) continue;
        taken++;
        if (field != Field::values) {
            Cell* key = push_key(map, i, field == Field::words);
            if (field == Field::body) key->header |= kCellNewLine;
            block::rs_append(*result, *key);
            stack::pop(1);
        }
        if (field != Field::words) block::rs_append(*result, *cell_at(map.node(), i + 1));
    }
    return result;
}

void reflect(Cell* map, int32_t field) { stack::set_last(*push_reflected(*map, field_of(uint32_t(field)))); }

// ---- form and mold ----

int32_t write(Cell* buffer, const char* text, int32_t part) { return string::write_token(buffer, text, false, part); }

bool out_of_budget(const MoldOptions& options, int32_t part) { return options.limit && part <= 0; }

// The live entries, each its key and value molded a space apart. Indented (a mold neither flat nor
// only): a line feed first, then each entry on a line of its own at `level`; otherwise the entries
// follow one another, a space apart when flat, a line feed apart when not.
int32_t serialize(Cell* map, Cell* buffer, const MoldOptions& options, int32_t part, bool indented, int32_t level) {
    if (rs_length_q(*map) == 0) return part;
    const char* separator = options.flat ? " " : "\n";
    if (indented) part = write(buffer, "\n", part);
    cycles::Scope entered(*map);
    bool first = true;
    for (uint32_t i = 0; i < cells_of(*map); i += 2) {
        if (live_at_q(*map, i)) {
            if (indented) part = block::write_indent(buffer, level, part);
            if (!indented && !first) part = write(buffer, separator, part);
            first = false;
            Cell* key = stack::push(*cell_at(map->node(), i));
            part = actions::call<Act::mold>(key, buffer, options.inner(), part, level);
            part = write(buffer, " ", part);
            *key = *cell_at(map->node(), i + 1);
            part = actions::call<Act::mold>(key, buffer, options.inner(), part, level);
            stack::pop(1);
            if (indented) part = write(buffer, separator, part);
        }
        if (out_of_budget(options, part)) break;
    }
    return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* limit, int32_t part) {
    if (cycles::detect_q(*value, buffer, &part, false)) return part;
    return serialize(value, buffer, MoldOptions{.limit = limit}, part, false, 0);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    if (cycles::detect_q(*value, buffer, &part, true)) return part;
    if (options.only) return serialize(value, buffer, options, part, false, indent + 1);
    part = write(buffer, "#[", part);
    bool indented = !options.flat;
    part = serialize(value, buffer, options, part, indented, indent + 1);
    if (indented && indent > 0 && rs_length_q(*value) > 0) part = block::write_indent(buffer, indent, part);
    return write(buffer, "]", part);
}

// ---- compare ----

// Each live entry of `map1` has an entry in `map2` whose key and value equal its own: under == a key of
// the same spelling and case and a strictly equal value, otherwise any entry of an equal key (there may
// be several, of keys that differ in case) with an equal value. The two hold as many live entries.
int32_t compare_entries(const Cell& map1, const Cell& map2, int32_t op) {
    bool strict = op == kCompareStrictEqual;
    int32_t result = 0;
    for (uint32_t i = 0; i < cells_of(map1) && result == 0; i += 2) {
        if (!live_at_q(map1, i)) continue;
        Cell* key = stack::push(*cell_at(map1.node(), i));
        result = 1;
        if (strict) {
            int32_t at = find_entry(map2, key, kCompareStrictEqual);
            if (at >= 0)
                result = block::compare_cells(*cell_at(map1.node(), i + 1), *cell_at(map2.node(), uint32_t(at) + 1),
                                              kCompareStrictEqual);
        } else {
            hashtable::Cursor cursor;
            for (int32_t at = hashtable::get_next(map2.table(), key, cursor); at >= 0 && result != 0;
                 at = hashtable::get_next(map2.table(), key, cursor)) {
                if (!live_at_q(map2, uint32_t(at))) continue;
                result = block::compare_cells(*cell_at(map1.node(), i + 1), *cell_at(map2.node(), uint32_t(at) + 1),
                                              kCompareEqual);
            }
        }
        stack::pop(1);
    }
    return result;
}

int32_t compare_each(const Cell& map1, const Cell& map2, int32_t op) {
    bool same = map1.node() == map2.node() && map1.head() == map2.head();
    if (op == kCompareSame) return same ? 0 : -1;
    if (same) return 0;
    if (cycles::find_q(map1.node())) return cycles::find_q(map2.node()) ? 0 : -1;
    if (rs_length_q(map1) != rs_length_q(map2)) return 1;
    if (rs_length_q(map1) == 0) return 0;
    cycles::Scope entered1(map1), entered2(map2);
    return compare_entries(map1, map2, op);
}

// Maps are equal or not; sorting orders them by the identity of their entry blocks, which stays the
// same as long as they live (nodes never move), so that a sort of maps is a consistent order.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Map)) return kNotComparable;
    switch (op) {
    case kCompareEqual:
    case kCompareNotEqual:
    case kCompareStrictEqual:
    case kCompareSame:
    case kCompareFind: return compare_each(*value1, *value2, op);
    case kCompareSort:
    case kCompareCaseSort: return (value1->node() > value2->node()) - (value1->node() < value2->node());
    default: return kNotComparable;
    }
}

// ---- the other actions ----

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    if (!value) {
        int32_t at = find_entry(*parent, element, lookup_op(step.case_));
        return at < 0 ? &none::value : cell_at(parent->node(), uint32_t(at) + 1).get();
    }
    Cell path = step.path ? *step.path : none::value;
    return cell_at(parent->node(), store(*parent, element, value, step.case_, &path)).get();
}

void clear(Cell* map) {
    hashtable::clear(map->table());
    stack::set_last(*map);
}

// The key stored, a set-word as a word!, a text as a copy; /part and the other refinements do not apply to maps.
const Cell* find(Cell* map, Cell* value, const FindOptions& options) {
    int32_t at = find_entry(*map, value, lookup_op(options.case_, options.same));
    return at < 0 ? &none::value : push_key(*map, uint32_t(at), true);
}

const Cell* select(Cell* map, Cell* value, const SelectOptions& options) {
    int32_t at = find_entry(*map, value, lookup_op(options.case_, options.same));
    return at < 0 ? &none::value : cell_at(map->node(), uint32_t(at) + 1).get();
}

int32_t length_q(Cell* map) { return int32_t(rs_length_q(*map)); }

// Only /key removes: the key's entry becomes vacant. The key is compared with letter case.
void remove(Cell* map, Cell*, Cell* key) {
    if (!key) fire(Err::script_missing_arg);
    int32_t at = find_entry(*map, key, kCompareStrictEqual);
    if (at >= 0) hashtable::delete_(map->table(), uint32_t(at));
    stack::set_last(*map);
}

}  // namespace

void init() {
    datatype::register_(Type::Map, {
                                       implements<Act::make>(make),
                                       implements<Act::reflect>(reflect),
                                       implements<Act::to>(to),
                                       implements<Act::form>(form),
                                       implements<Act::mold>(mold),
                                       implements<Act::eval_path>(eval_path),
                                       implements<Act::compare>(compare),
                                       implements<Act::clear>(clear),
                                       implements<Act::copy>(copy),
                                       implements<Act::find>(find),
                                       implements<Act::length_q>(length_q),
                                       implements<Act::put>(put),
                                       implements<Act::remove>(remove),
                                       implements<Act::select>(select),
                                   });
}

bool valid_key_type_q(Type type) { return in_mask(kKeyTypes, type); }

uint32_t rs_length_q(const Cell& map) { return hashtable::record(map.table())->count; }

Cell* make_at(Cell* block, uint32_t size) {
    retype_word_keys(*block);
    Node table = hashtable::init(size, block, hashtable::kMapKeys);
    block->set_type(Type::Map);
    block->set_table(table);
    preprocess_keys(*block);
    return block;
}

const Cell* put(Cell* map, Cell* key, Cell* value, bool case_) {
    store(*map, key, value, case_, &none::value);
    return value;
}

const Cell* extend(Cell* map, Cell* spec, bool case_) {
    if (spec->is(Type::Map)) {
        for (uint32_t i = 0; i < cells_of(*spec); i += 2) {
            if (!live_at_q(*spec, i)) continue;
            Cell* pair = stack::push(*cell_at(spec->node(), i));
            stack::push(*cell_at(spec->node(), i + 1));
            store(*map, pair, pair + 1, case_, &none::value);
            stack::pop(2);
        }
        return map;
    }
    uint32_t count = series::rs_length_q(*spec);
    if (count % 2) fire(Err::script_invalid_arg, spec);
    series::grow(map->node(), count, false);
    for (uint32_t i = 0; i < count; i += 2) {
        Cell* pair = stack::push(*block::rs_abs_at(*spec, spec->head() + i));
        stack::push(*block::rs_abs_at(*spec, spec->head() + i + 1));
        store(*map, pair, pair + 1, case_, &none::value);
        stack::pop(2);
    }
    return map;
}

Cell* push_body(const Cell& map) { return push_reflected(map, Field::body); }

bool rs_skip_vacant(Cell* map) {
    while (map->head() < cells_of(*map) && !live_at_q(*map, map->head())) map->set_head(map->head() + 2);
    return map->head() < cells_of(*map);
}

Cell* push_entries(Cell* map, uint32_t count) {
    Cell* first = stack::top;
    for (uint32_t i = 0; i < count; i += 2) {
        if (!rs_skip_vacant(map)) {
            stack::push(none::value);
            stack::push(none::value);
            continue;
        }
        uint32_t at = map->head();
        map->set_head(map->head() + 2);
        push_key(*map, at, true);
        stack::push(*cell_at(map->node(), at + 1));
    }
    return first;
}

}  // namespace oka::map
