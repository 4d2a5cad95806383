#include "datatypes/hash.h"

#include <algorithm>
#include <exception>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "runtime/dispatch.h"
#include "runtime/hashtable.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka::hash {

namespace {

uint32_t length_of(Node table) { return mem::buffer(hashtable::record(table)->values)->length(); }

// A change of more cells than this re-indexes the whole block: forgetting and renumbering the cells
// one by one would cost more.
constexpr uint32_t kCellByCell = 30000;

void rebuild(Node table) { hashtable::resize(table, length_of(table)); }

// Indexes the `count` cells from `at`. A put that had to rebuild the table indexed all of them.
void put_range(Node table, uint32_t at, uint32_t count) {
    for (uint32_t p = at; p < at + count; p++)
        if (hashtable::put_key(table, p)) return;
}

// After `removed` cells at `at` became `added`: renumbers the cells before the change when they are
// fewer than the `behind` cells after it and the table's base can take the shift, else the cells
// behind. True when that gave up: the table must be rebuilt.
bool renumber_shorter_side(Node table, uint32_t at, uint32_t removed, uint32_t added, uint32_t behind) {
    int32_t shift = int32_t(added) - int32_t(removed);
    if (at < behind && int64_t(hashtable::record(table)->base) >= shift)
        return hashtable::refresh_front(table, shift, at);
    return hashtable::refresh_range(table, shift, at + removed, behind, true);
}

// Re-indexing that a failed allocation cuts short would leave the index out of step with the block:
// the guard of a change forgets it instead, and the next search rebuilds it from the block.
class StaleOnFailure {
public:
    explicit StaleOnFailure(Node table) : table_(table) {}
    ~StaleOnFailure() {
        if (std::uncaught_exceptions() > unwinding_) hashtable::mark_stale(table_);
    }
    StaleOnFailure(const StaleOnFailure&) = delete;
    StaleOnFailure& operator=(const StaleOnFailure&) = delete;

private:
    Node table_;
    int unwinding_ = std::uncaught_exceptions();
};

// ---- searching ----

// The types whose equality under find the index answers exactly: their hash follows that equality,
// and a value of one of them equals only values of its own type, or (a word) of the word types.
bool indexed_type_q(Type type) {
    if (is_a(type, TypeClass::all_word) || is_a(type, TypeClass::any_string)) return true;
    switch (type) {
    case Type::Integer:
    case Type::Char:
    case Type::Logic:
    case Type::None:
    case Type::Datatype: return true;
    default: return false;
    }
}

// Under find's equality a word (not an issue) equals the words of every type of the same spelling.
constexpr Type kWordTypes[] = {Type::Word, Type::SetWord, Type::LitWord, Type::GetWord, Type::Refinement};

bool any_word_type_q(const Cell& key, int32_t op) {
    bool by_spelling = op != kCompareStrictEqual && op != kCompareSame;
    return by_spelling && is_a(key.type(), TypeClass::all_word) && !key.is(Type::Issue);
}

// ---- the actions ----

// Makes the block cell (fixed, at its head 0) a hash! over an index of its cells, for `size` cells.
Cell* index_block(Cell* block, uint32_t size) {
    Node table = hashtable::init(std::max(size, 1u), block, hashtable::kValues);
    block->header = uint8_t(Type::Hash);
    block->set_table(table);
    return block;
}

// A whole copy duplicates the index; any other indexes the cells it copied.
const Cell* copy(Cell* value, Cell* result, const CopyOptions& options) {
    bool whole = value->head() == 0 && !options.part && !options.deep && !options.types;
    Node table = value->table();
    const Cell* copied = datatype::action<Act::copy>(Type::Block)(value, result, options);
    if (copied != result) return copied;
    Node copy_table = whole && table
                          ? hashtable::copy(table, result->node())
                          : hashtable::init(std::max(series::rs_length_q(*result), 1u), result, hashtable::kValues);
    result->header = uint8_t(Type::Hash);
    result->set_table(copy_table);
    return result;
}

// Anything but a hash! becomes a block as `to block!` makes one, and that new block is indexed.
const Cell* to(Cell* proto, Cell* spec, Type) {
    if (spec->is(Type::Hash)) return copy(spec, unset::push(), CopyOptions{});
    Cell* block = stack::push(*datatype::action<Act::to>(Type::Block)(proto, spec, Type::Block));
    return index_block(block, series::rs_length_q(*block));
}

const Cell* make(Cell* proto, Cell* spec, Type target) {
    switch (spec->type()) {
    case Type::Integer:
    case Type::Float: {
        int32_t size = std::max(float_::to_integer_checked(*spec), 1);
        return index_block(block::push_only_s(size), uint32_t(size));
    }
    case Type::Block: {
        Cell* block = block::clone(*spec, block::Nested::shared);
        return index_block(block, series::rs_length_q(*block));
    }
    case Type::Hash: return copy(spec, unset::push(), CopyOptions{});
    default: return to(proto, spec, target);
    }
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    if (!options.only) part = string::write_token(buffer, "make hash! ", false, part);
    return datatype::action<Act::mold>(Type::Block)(value, buffer, options, part, indent);
}

}  // namespace

void init() {
    datatype::register_(
        Type::Hash,
        {
            implements<Act::make>(make), inherits<Act::reflect>(),   implements<Act::to>(to),   inherits<Act::form>(),
            implements<Act::mold>(mold), inherits<Act::eval_path>(), inherits<Act::compare>(),  inherits<Act::append>(),
            inherits<Act::at>(),         inherits<Act::back>(),      inherits<Act::change>(),   inherits<Act::clear>(),
            implements<Act::copy>(copy), inherits<Act::find>(),      inherits<Act::head>(),     inherits<Act::head_q>(),
            inherits<Act::index_q>(),    inherits<Act::insert>(),    inherits<Act::length_q>(), inherits<Act::move>(),
            inherits<Act::next>(),       inherits<Act::pick>(),      inherits<Act::poke>(),     inherits<Act::put>(),
            inherits<Act::remove>(),     inherits<Act::reverse>(),   inherits<Act::select>(),   inherits<Act::sort>(),
            inherits<Act::skip>(),       inherits<Act::swap>(),      inherits<Act::tail>(),     inherits<Act::tail_q>(),
            inherits<Act::take>(),       inherits<Act::trim>(),      inherits<Act::modify>(),
        });
}

void changed(const Cell& series, uint32_t at, uint32_t removed, uint32_t added) {
    Node table = table_of(series);
    if (!table || hashtable::stale_q(table)) return;
    StaleOnFailure guard(table);
    uint32_t length = length_of(table);
    if (length == 0) {
        hashtable::clear(table);
        return;
    }
    if (removed > kCellByCell) {
        rebuild(table);
        return;
    }
    // The index still knows the removed cells by their old positions; then the cells behind them
    // take their new ones, and the added cells are indexed where they are. Every other cell is in the
    // index at its position while a put compares values.
    for (uint32_t p = at; p < at + removed; p++) hashtable::delete_(table, p);
    uint32_t behind = length - at - added;
    if (removed != added && behind > 0 && renumber_shorter_side(table, at, removed, added, behind)) {
        rebuild(table);
        return;
    }
    put_range(table, at, added);
}

void swapped(const Cell& series1, uint32_t at1, const Cell& series2, uint32_t at2) {
    Node table1 = table_of(series1), table2 = table_of(series2);
    if (table1 == table2 && at1 == at2) return;
    if (table1 != table2 || !table1) {
        changed(series1, at1, 1, 1);
        changed(series2, at2, 1, 1);
        return;
    }
    if (hashtable::stale_q(table1)) return;
    StaleOnFailure guard(table1);
    // Both cells leave the index before either is put back: a put compares with what a bucket's
    // first position holds, which must be the value it was indexed for.
    hashtable::delete_(table1, at1);
    hashtable::delete_(table1, at2);
    put_range(table1, at1, 1);
    put_range(table1, at2, 1);
}

int64_t find_indexed(const Cell& hash, const Cell* key, uint32_t start, uint32_t skip, int32_t op) {
    Node table = table_of(hash);
    if (!table || !indexed_type_q(key->type())) return kNotIndexed;
    StaleOnFailure guard(table);  // a search rebuilds a stale index first
    Cell* sought = stack::push(*key);
    auto first_from = [&] { return int64_t(hashtable::find(table, sought, {.start = start, .skip = skip, .op = op})); };
    int64_t found = -1;
    if (!any_word_type_q(*key, op)) {
        found = first_from();
    } else {
        for (Type type : kWordTypes) {
            sought->set_type(type);
            int64_t at = first_from();
            if (at >= 0 && (found < 0 || at < found)) found = at;
        }
    }
    stack::pop(1);
    return found;
}

}  // namespace oka::hash
