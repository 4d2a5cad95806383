#include "datatypes/typeset.h"

#include <bit>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka::typeset {

namespace {

static_assert(std::endian::native == std::endian::little, "byte n of the payload is byte n & 3 of word n >> 2");

constexpr Cell kEmpty = Cell::of(Type::Typeset);

void add(Cell* typeset, Type type) {
    TypeBit bit = bit_of(type);
    Words3 bits = typeset->type_bits();
    bits[bit.word] |= bit.mask;
    typeset->set_type_bits(bits);
}

void merge(Cell* typeset, const Cell& other) {
    Words3 bits = typeset->type_bits();
    for (int w = 0; w < 3; w++) bits[w] |= other.type_bits()[w];
    typeset->set_type_bits(bits);
}

// The walks over a set see the registered types only.
bool member_q(const Cell& typeset, int id) { return datatype::registered_q(Type(id)) && has_q(typeset, Type(id)); }
int highest_id() { return int(datatype::highest_type()); }

// A word stands for its value; any other value for itself.
Cell resolved(const Cell& value) {
    if (!value.is(Type::Word)) return value;
    Cell found = *word::get(value);
    stack::pop(1);
    return found;
}

[[noreturn]] void fire_with(Err id, const Cell& value) {
    Cell copy = value;
    fire(id, &copy);
}

// ---- actions ----

const Cell* make(Cell*, Cell* spec, Type) {
    if (spec->is(Type::Typeset)) return spec;
    if (!spec->is(Type::Block)) error::fire_on_type(Err::script_bad_to_arg, Type::Typeset, spec);
    Cell* result = push(kEmpty);
    for (uint32_t i = spec->head(); i < series::rs_buffer_length_q(*spec); i++)
        set_type(result, *block::rs_abs_at(*spec, i));
    return result;
}

int32_t form(Cell* value, Cell* buffer, Cell* limit, int32_t part) {
    return mold_body(value, buffer, false, limit, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return mold_body(value, buffer, options.only, options.limit, part);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Typeset)) return kNotComparable;
    switch (op) {
    case kCompareEqual:
    case kCompareNotEqual:
    case kCompareStrictEqual:
    case kCompareSame:
    case kCompareFind: return value1->type_bits() == value2->type_bits() ? 0 : 1;
    case kCompareSort:
    case kCompareCaseSort: {
        int32_t difference = count(*value1) - count(*value2);
        return (difference > 0) - (difference < 0);
    }
    default: return kNotComparable;
    }
}

const Cell* complement(Cell* value) {
    Cell* result = push(*value);
    Words3 bits = result->type_bits();
    for (uint32_t& word : bits) word = ~word;
    result->set_type_bits(bits);
    return result;
}

template <Op op>
void bitwise() {
    do_bitwise(op);
}

const Cell* find(Cell* typeset, Cell* value, const FindOptions&) {
    if (!value->is(Type::Datatype)) fire(Err::script_invalid_arg, value);
    return has_q(*typeset, value->named_type()) ? &logic::true_value : &logic::false_value;
}

}  // namespace

void init() {
    datatype::register_(Type::Typeset, {
                                           implements<Act::make>(make),
                                           implements<Act::to>(make),
                                           implements<Act::form>(form),
                                           implements<Act::mold>(mold),
                                           implements<Act::compare>(compare),
                                           implements<Act::and_>(bitwise<Op::and_>),
                                           implements<Act::complement>(complement),
                                           implements<Act::or_>(bitwise<Op::or_>),
                                           implements<Act::xor_>(bitwise<Op::xor_>),
                                           implements<Act::find>(find),
                                       });
}

uint32_t combine(Op op, uint32_t a, uint32_t b) {
    switch (op) {
    case Op::or_:
    case Op::union_: return a | b;
    case Op::and_:
    case Op::intersect: return a & b;
    case Op::xor_:
    case Op::difference: return a ^ b;
    case Op::exclude: return a & ~b;
    default: return a;  // unique
    }
}

void clear(Cell* typeset) { typeset->set_type_bits({}); }

int32_t count(const Cell& typeset) {
    int32_t n = 0;
    for (int id = 1; id <= highest_id(); id++) n += member_q(typeset, id);
    return n;
}

Cell* push(const Cell& typeset) { return stack::push(typeset); }

Cell from_mask(TypeMask types) {
    Cell set = kEmpty;
    for (int id = 1; id < kTypeTableSize; id++)
        if (in_mask(types, Type(id))) add(&set, Type(id));
    return set;
}

BufPtr<Cell> make_in(const Cell& block, uint32_t word1, uint32_t word2, uint32_t word3) {
    return block::rs_append(block, Cell::of(Type::Typeset).set_type_bits({word1, word2, word3}));
}

BufPtr<Cell> make_any(const Cell& block) {
    Words3 bits = {~0u, ~0u, ~0u};
    TypeBit unset = bit_of(Type::Unset);
    bits[unset.word] &= ~unset.mask;
    return block::rs_append(block, Cell::of(Type::Typeset).set_type_bits(bits));
}

BufPtr<Cell> make_from_block(const Cell& block, const Cell& spec) {
    Cell built = kEmpty;
    for (uint32_t i = spec.head(); i < series::rs_buffer_length_q(spec); i++) {
        Cell element = *block::rs_abs_at(spec, i);
        Cell value = resolved(element);
        switch (value.type()) {
        case Type::Datatype: add(&built, value.named_type()); break;
        case Type::Typeset: merge(&built, value); break;
        case Type::Word: add(&built, Type::Object); break;
        case Type::Block: break;
        default: fire_with(Err::script_invalid_type_spec, element);
        }
    }
    return block::rs_append(block, built);
}

void set_type(Cell* typeset, const Cell& value) {
    Cell type = resolved(value);
    if (type.is(Type::Datatype))
        add(typeset, type.named_type());
    else if (type.is(Type::Typeset))
        merge(typeset, type);
    else
        fire_with(Err::script_invalid_arg, value);
}

void do_bitwise(Op op) {
    Cell* args = stack::arguments();
    if (op == Op::unique) return;  // the set itself, already in the result slot
    Cell other = kEmpty;
    if (args[1].is(Type::Datatype))
        add(&other, args[1].named_type());
    else if (args[1].is(Type::Typeset))
        other = args[1];
    else
        fire(Err::script_invalid_arg, &args[1]);
    Words3 bits;
    for (int w = 0; w < 3; w++) bits[w] = combine(op, args[0].type_bits()[w], other.type_bits()[w]);
    stack::set_last(Cell::of(Type::Typeset).set_type_bits(bits));
}

void to_block(const Cell& typeset, const Cell& block) {
    Cell set = typeset;  // appending may move the buffer the typeset lies in
    for (int id = 1; id <= highest_id(); id++)
        if (member_q(set, id)) block::rs_append(block, datatype::word_of(Type(id)));
}

int32_t mold_body(Cell* value, Cell* buffer, bool only, Cell* limit, int32_t part) {
    if (!only) part = string::write_token(buffer, "make typeset! [", false, part);
    bool written = false;
    for (int id = 1; id <= highest_id(); id++) {
        if (!member_q(*value, id)) continue;
        if (limit && part < 0) return part;
        const datatype::TypeName& name = datatype::type_name(Type(id));
        string::concatenate_literal(buffer, name.name, name.length + 1);
        string::concatenate_literal(buffer, " ", 1);
        part -= int32_t(name.length) + 2;
        written = true;
    }
    if (!written) {
        if (!only) string::concatenate_literal(buffer, "]", 1);
        return part;
    }
    uint32_t last = string::rs_abs_length_q(*buffer) - 1;  // the space after the last name
    if (only) {
        string::remove_char(buffer->node(), last);
        return part + 1;
    }
    string::write_char(buffer->node(), last, ']');
    return part;
}

}  // namespace oka::typeset
