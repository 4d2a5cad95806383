#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/cycles.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/words.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka::bitset {

namespace {

using typeset::Op;

// ---- the buffer ----

BufPtr<SeriesBuffer> buffer_of(Node node) { return mem::buffer(node); }
BufPtr<uint8_t> bytes_of(Node node) { return BufPtr<uint8_t>(mem::ptr(buffer_of(node)->offset)); }
uint32_t stored_bytes(Node node) { return buffer_of(node)->used_bytes(); }
uint64_t stored_bits(Node node) { return uint64_t(stored_bytes(node)) * 8; }
bool negated(Node node) { return buffer_of(node)->flags & kSeriesNegated; }
// The value of every byte beyond the stored ones.
uint8_t fill_of(Node node) { return negated(node) ? 0xFF : 0x00; }

Cell* make_at(Cell* cell, Node node) {
    *cell = Cell::of(Type::Bitset).set_node(node);
    return cell;
}

// A new bitset of `bytes` stored bytes of `fill`, negated when they are 0xFF, on the data stack.
Cell* push_filled(uint32_t bytes, uint8_t fill) {
    Cell* result = stack::push_next();
    Node node = alloc::alloc_bytes_filled(bytes, fill);
    BufPtr<SeriesBuffer> b = buffer_of(node);
    b->tail = b->offset + bytes;
    if (fill) b->flags |= kSeriesNegated;
    return make_at(result, node);
}

// A copy of the bytes and the negation, without the owner. Allocates.
Cell* copy_into(const Cell& bitset, Cell* result) {
    Node node = alloc::copy_series(bitset.node());
    buffer_of(node)->flags &= ~kSeriesOwned;
    return make_at(result, node);
}

// Stores the bytes up to the one of bit n. The bytes added take the value the bits beyond had, so the
// set stays what it was; the capacity at least doubles, so that growing bit by bit stays linear.
void grow_to(Node node, uint32_t n) {
    uint32_t need = (n >> 3) + 1, have = stored_bytes(node);
    if (need <= have) return;
    uint8_t fill = fill_of(node);
    uint32_t capacity = buffer_of(node)->size;
    if (need > capacity) alloc::expand_series(node, std::max<int64_t>(need, 2 * int64_t(capacity)));
    BufPtr<SeriesBuffer> b = buffer_of(node);
    std::memset(mem::ptr(b->tail), fill, need - have);
    b->tail = b->offset + need;
}

// Calls f(byte index, mask) for each byte that the bits low..high touch, the mask covering those bits
// in it, while f answers true; answers whether it always did.
template <class F>
bool each_byte(uint32_t low, uint32_t high, F f) {
    for (uint32_t byte = low >> 3; byte <= high >> 3; byte++) {
        uint8_t mask = 0xFF;
        if (byte == low >> 3) mask &= uint8_t(0xFF >> (low & 7));
        if (byte == high >> 3) mask &= uint8_t(0xFF << (7 - (high & 7)));
        if (!f(byte, mask)) return false;
    }
    return true;
}

// ---- the spec walk ----

enum class Walk { compute, set, test, clear };
// Who walks a spec decides the error for a value that names no bits.
enum class Caller { make, to, action };

// Before a set or clear reaches bit `high`: stores the bytes up to it when the bits beyond the stored
// ones do not have the value the operation writes (set on a plain bitset, clear on a negated one).
void prepare(Node node, Walk op, uint32_t high) {
    if (op != Walk::test && (op == Walk::set) != negated(node)) grow_to(node, high);
}

// Sets, clears or tests the bits low..high; a test answers whether all of them are members.
bool apply_range(Node node, Walk op, uint32_t low, uint32_t high) {
    prepare(node, op, high);
    uint64_t stored = stored_bits(node);
    bool beyond_ok = op != Walk::test || high < stored || negated(node);
    if (low >= stored) return beyond_ok;
    auto last = uint32_t(std::min<uint64_t>(high, stored - 1));
    BufPtr<uint8_t> bytes = bytes_of(node);
    bool inside = each_byte(low, last, [&](uint32_t i, uint8_t mask) {
        switch (op) {
        case Walk::set: bytes[i] |= mask; return true;
        case Walk::clear: bytes[i] &= uint8_t(~mask); return true;
        default: return (bytes[i] & mask) == mask;
        }
    });
    return inside && beyond_ok;
}

// True for a word! naming `name`, in any letter case.
bool word_named_q(const Cell& value, Sym name) { return value.is(Type::Word) && symbol::named_q(value.symbol(), name); }

// One walk of a spec over a bitset (no bitset while computing), which tracks the highest bit named.
struct Walker {
    Node node;
    Walk op;
    Caller caller;
    int64_t highest = -1;

    // True unless a test found a bit that is not a member.
    bool value(const Cell& value) {
        switch (value.type()) {
        case Type::Integer:
        case Type::Char:
        case Type::Float: return number(value);
        case Type::String: return text(value);
        case Type::Block: return block(value);
        case Type::Binary: fire(Err::internal_not_done);
        default: refuse(value);
        }
    }

    [[noreturn]] void refuse(const Cell& value) const {
        switch (caller) {
        case Caller::make: error::fire_bad_make_arg(Type::Bitset, &value);
        case Caller::to: error::fire_on_type(Err::script_bad_to_arg, Type::Bitset, &value);
        default: fire(Err::script_invalid_arg, &value);
        }
    }

    static int64_t number_of(const Cell& value) {
        if (value.is(Type::Float)) return float_::to_int32(float_::get(value));
        return value.is(Type::Char) ? int64_t(value.code_point()) : integer::get(value);
    }

    bool range(int64_t low, int64_t high) {
        highest = std::max(highest, high);
        return op == Walk::compute || apply_range(node, op, uint32_t(low), uint32_t(high));
    }

    // No negative number is a member; naming one for a change is an error.
    bool number(const Cell& value) {
        int64_t n = number_of(value);
        if (n >= 0) return range(n, n);
        if (op != Walk::test) fire(Err::script_out_of_range, &value);
        return false;
    }

    bool text(const Cell& string) {
        uint32_t top = 0;
        string::Text chars = string::text_of(string);
        if (chars.length == 0) return true;
        for (uint32_t i = 0; i < chars.length; i++) top = std::max(top, chars.at(i));
        highest = std::max<int64_t>(highest, top);
        if (op == Walk::compute) return true;
        prepare(node, op, top);
        chars = string::text_of(string);  // read again: preparing may allocate
        for (uint32_t i = 0; i < chars.length; i++)
            if (!apply_range(node, op, chars.at(i), chars.at(i))) return false;
        return true;
    }

    // A char or integer followed by the word - and a value of its type names a range; its lower bound
    // has been walked by itself already.
    bool block(const Cell& block) {
        cycles::Scope nesting(block);
        uint32_t length = series::rs_buffer_length_q(block);
        for (uint32_t i = block.head(); i < length; i++) {
            Cell item = *block::rs_abs_at(block, i);
            if (!value(item)) return false;
            bool bound = item.is(Type::Char) || item.is(Type::Integer);
            if (!bound || i + 1 >= length || !word_named_q(*block::rs_abs_at(block, i + 1), Sym::dash)) continue;
            if (i + 2 >= length) fire(Err::script_past_end);
            Cell upper = *block::rs_abs_at(block, i + 2);
            if (upper.type() != item.type()) fire(Err::script_invalid_arg, &upper);
            int64_t low = number_of(item), high = number_of(upper);
            if (high < low) fire(Err::script_past_end);
            i += 2;
            if (!range(low, high)) return false;
        }
        return true;
    }
};

// The bytes a spec needs: those up to its highest bit, at least one.
uint32_t measure(const Cell& spec, Caller caller) {
    Walker walker{0, Walk::compute, caller};
    walker.value(spec);
    return uint32_t(std::max<int64_t>(walker.highest + 8, 8) >> 3);
}

// Walks a spec over a bitset; answers the test's result. A set stores at least the bytes the spec
// needs.
bool walk(Node node, const Cell& spec, Walk op, Caller caller) {
    Walker walker{node, op, caller};
    bool result = walker.value(spec);
    if (op == Walk::set) grow_to(node, uint32_t(std::max<int64_t>(walker.highest, 0)));
    return result;
}

// ---- make and to ----

// A number gives that many bits, all clear.
Cell* push_sized(const Cell& spec, Caller caller) {
    if (caller == Caller::to) error::fire_on_type(Err::script_bad_to_arg, Type::Bitset, &spec);
    int32_t bits = spec.is(Type::Float) ? float_::to_int32(float_::get(spec)) : integer::get(spec);
    if (bits < 0) fire(Err::script_out_of_range, &spec);
    return push_filled(uint32_t((int64_t(bits) + 7) / 8), 0);
}

// The bytes of a binary! from its head, stored as they are, or inverted into a negated bitset.
Cell* push_bytes(const Cell& binary, bool negate) {
    uint32_t count = series::rs_length_q(binary);
    Cell* result = push_filled(count, negate ? 0xFF : 0x00);
    BufPtr<uint8_t> to = bytes_of(result->node()), from = series::unit_at(binary, binary.head());
    for (uint32_t i = 0; i < count; i++) to[i] = negate ? uint8_t(~from[i]) : from[i];
    return result;
}

// A block that starts with the word not makes the complement of what the rest of it (or the binary!
// after not) makes.
Cell* make_from_spec(const Cell& spec, Caller caller) {
    Cell body = spec;
    bool negate = body.is(Type::Block) && !series::rs_tail_q(body) &&
                  word_named_q(*block::rs_abs_at(body, body.head()), Sym::not_);
    if (negate) {
        body.set_head(body.head() + 1);
        if (!series::rs_tail_q(body) && block::rs_abs_at(body, body.head())->is(Type::Binary))
            body = *block::rs_abs_at(body, body.head());
    }
    switch (body.type()) {
    case Type::Bitset: return copy_into(body, stack::push_next());
    case Type::Integer:
    case Type::Float: return push_sized(body, caller);
    case Type::Binary: return push_bytes(body, negate);
    default: {
        Cell* result = push_filled(measure(body, caller), negate ? 0xFF : 0x00);
        walk(result->node(), body, negate ? Walk::clear : Walk::set, caller);
        return result;
    }
    }
}

const Cell* make(Cell*, Cell* spec, Type) { return make_from_spec(*spec, Caller::make); }
const Cell* to(Cell*, Cell* spec, Type) { return make_from_spec(*spec, Caller::to); }

// ---- form and mold ----

// The stored bytes as hexadecimal digits, inverted for a negated bitset so that they list the bits it
// lacks; each byte takes 2 of the budget, and a limited text stops once the budget is spent.
int32_t form_bytes(Node node, Cell* buffer, bool limited, int32_t part) {
    uint8_t invert = fill_of(node);
    for (uint32_t i = 0; i < stored_bytes(node) && (!limited || part > 0); i++) {
        string::concatenate_literal(buffer, string::byte_to_hex(bytes_of(node)[i] ^ invert), 2);
        part -= 2;
    }
    return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* limit, int32_t part) {
    Node node = value->node();
    bool negate = negated(node);
    part = string::write_token(buffer, negate ? "make bitset! [not #{" : "make bitset! #{", false, part);
    part = form_bytes(node, buffer, limit != nullptr, part);
    return string::write_token(buffer, negate ? "}]" : "}", false, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return form(value, buffer, options.limit, part);
}

// ---- compare ----

// The bitset with fewer stored bytes orders first, then a plain one before a negated one, then the
// bytes decide from the last one down.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Bitset)) return kNotComparable;
    Node a = value1->node(), b = value2->node();
    if (op == kCompareSame) return a == b ? 0 : 1;
    uint32_t length = stored_bytes(a), other = stored_bytes(b);
    if (length != other) return length < other ? -1 : 1;
    if (negated(a) != negated(b)) return negated(a) ? 1 : -1;
    BufPtr<uint8_t> x = bytes_of(a), y = bytes_of(b);
    for (uint32_t i = length; i-- > 0;)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

// ---- complement and the bitwise actions ----

const Cell* complement(Cell* value) {
    Cell* result = copy_into(*value, stack::push_next());
    Node node = result->node();
    buffer_of(node)->flags ^= kSeriesNegated;
    BufPtr<uint8_t> bytes = bytes_of(node);
    for (uint32_t i = 0; i < stored_bytes(node); i++) bytes[i] = uint8_t(~bytes[i]);
    return result;
}

void negate(Cell* value) { copy_cell(complement(value), value); }

template <Op op>
void bitwise() {
    bitset::do_bitwise(op);
}

// ---- the series actions ----

// Runs a change between the owner's two notifications.
template <class Change>
void changing(Cell* bitset, Word before, Word after, const Cell* value, Change change) {
    bool owned = ownership::check(*bitset, before, value, 0, 0);
    change();
    if (owned) ownership::check(*bitset, after, value, 0, 0);
}

const Cell* pick(Cell* series, int32_t, Cell* index) {
    return walk(series->node(), *index, Walk::test, Caller::action) ? &logic::true_value : &logic::false_value;
}

const Cell* find(Cell* series, Cell* value, const FindOptions&) {
    return pick(series, 0, value)->truth() ? &logic::true_value : &none::value;
}

bool clearing_q(const Cell& value) {
    switch (value.type()) {
    case Type::None: return true;
    case Type::Logic: return !logic::get(value);
    case Type::Integer: return integer::get(value) == 0;
    case Type::Float: return float_::get(value) == 0.0;
    default: return false;
    }
}

const Cell* poke(Cell* series, int32_t, Cell* value, Cell* index) {
    Walk op = clearing_q(*value) ? Walk::clear : Walk::set;
    changing(series, Word::poke, Word::poked, value, [&] { walk(series->node(), *index, op, Caller::action); });
    return value;
}

// An integer or char selects the bit it names.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions&) {
    if (!element->is(Type::Integer) && !element->is(Type::Char))
        error::fire_on_type(Err::script_invalid_type, element->type());
    return value ? poke(parent, 0, value, element) : pick(parent, 0, element);
}

// One entry serves append and insert.
void append(Cell* series, Cell* value, const EditOptions&, bool) {
    changing(series, Word::insert, Word::inserted, value,
             [&] { walk(series->node(), *value, Walk::set, Caller::action); });
    stack::set_last(*series);
}

void remove(Cell* series, Cell*, Cell* key) {
    if (!key) fire(Err::script_missing_arg);
    changing(series, Word::remove, Word::removed, key,
             [&] { walk(series->node(), *key, Walk::clear, Caller::action); });
    stack::set_last(*series);
}

// Empties the set: a negated bitset becomes a plain one.
void clear(Cell* series) {
    changing(series, Word::clear, Word::cleared, nullptr, [&] {
        BufPtr<SeriesBuffer> b = buffer_of(series->node());
        std::memset(mem::ptr(b->offset), 0, b->used_bytes());
        b->flags &= ~kSeriesNegated;
    });
    stack::set_last(*series);
}

int32_t length_q(Cell* series) {
    uint64_t bits = stored_bits(series->node());
    if (bits > uint64_t(INT32_MAX)) fire(Err::math_overflow);
    return int32_t(bits);
}

const Cell* copy(Cell* value, Cell* result, const CopyOptions&) { return copy_into(*value, result); }

}  // namespace

void init() {
    // The owner record of a bitset is read and set as a series' is.
    datatype::register_(Type::Bitset, {
                                          implements<Act::make>(make),
                                          implements<Act::reflect>(datatype::action<Act::reflect>(Type::Series)),
                                          implements<Act::to>(to),
                                          implements<Act::form>(form),
                                          implements<Act::mold>(mold),
                                          implements<Act::eval_path>(eval_path),
                                          implements<Act::compare>(compare),
                                          implements<Act::negate>(negate),
                                          implements<Act::and_>(bitwise<Op::and_>),
                                          implements<Act::complement>(complement),
                                          implements<Act::or_>(bitwise<Op::or_>),
                                          implements<Act::xor_>(bitwise<Op::xor_>),
                                          implements<Act::append>(append),
                                          implements<Act::clear>(clear),
                                          implements<Act::copy>(copy),
                                          implements<Act::find>(find),
                                          implements<Act::insert>(append),
                                          implements<Act::length_q>(length_q),
                                          implements<Act::pick>(pick),
                                          implements<Act::poke>(poke),
                                          implements<Act::remove>(remove),
                                          implements<Act::modify>(datatype::action<Act::modify>(Type::Series)),
                                      });
}

bool has_codepoint(const Cell& bits, uint32_t codepoint) {
    Node node = bits.node();
    if (codepoint >> 3 >= stored_bytes(node)) return negated(node);
    return bytes_of(node)[codepoint >> 3] & (0x80 >> (codepoint & 7));
}

bool negated_q(const Cell& bits) { return negated(bits.node()); }

void do_bitwise(Op op) {
    Cell* args = stack::arguments();
    if (!args[1].is(Type::Bitset)) error::fire_on_type(Err::script_invalid_type, args[1].type());
    Node a = args[0].node(), b = args[1].node();
    uint32_t length_a = stored_bytes(a), length_b = stored_bytes(b);
    uint8_t fill_a = fill_of(a), fill_b = fill_of(b);
    auto combine = [op](uint8_t x, uint8_t y) { return uint8_t(typeset::combine(op, x, y)); };
    uint32_t length = std::max(length_a, length_b);
    // Beyond the shorter operand of and~ the result has no member when that operand is plain.
    if (op == Op::and_ && (length_a < length_b ? fill_a : fill_b) == 0) length = std::min(length_a, length_b);
    Cell* result = push_filled(length, combine(fill_a, fill_b));
    BufPtr<uint8_t> x = bytes_of(a), y = bytes_of(b), z = bytes_of(result->node());
    for (uint32_t i = 0; i < length; i++) z[i] = combine(i < length_a ? x[i] : fill_a, i < length_b ? y[i] : fill_b);
    stack::set_last(*result);
}

}  // namespace oka::bitset
