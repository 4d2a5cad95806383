#include <cmath>
#include <optional>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/vector_internal.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::vector {

namespace {

// ---- element types ----

struct ElementType {
    Type type;
    Sym word;
    uint32_t default_bits;
};
constexpr ElementType kElementTypes[] = {
    {Type::Char, Sym::char_type, 32},
    {Type::Integer, Sym::integer_type, 32},
    {Type::Float, Sym::float_type, 64},
    {Type::Percent, Sym::percent_type, 64},
};

const ElementType* element_type_of(Type type) {
    for (const ElementType& e : kElementTypes)
        if (e.type == type) return &e;
    return nullptr;
}

// The element type a word of a spec names (char!, integer!, float! or percent!, letter case ignored).
const ElementType* element_type_named(const Cell& word) {
    for (const ElementType& e : kElementTypes)
        if (symbol::named_q(word.symbol(), e.word)) return &e;
    return nullptr;
}

// The sizes in bits a spec may give: 8, 16 or 32 for chars and integers, 32 or 64 for floats; a
// percent is always 64 bits.
bool size_allowed_q(Type type, int32_t bits) {
    if (floating_q(type)) return bits == 32 || bits == 64;
    return bits == 8 || bits == 16 || bits == 32;
}

uint32_t default_size(Type type) { return element_type_of(type)->default_bits / 8; }

// ---- make ----

// What a spec block asks for: the element type and size, the count of elements (0 when none is
// given) and the block of values (none when there is none).
struct Made {
    Type type = Type::Integer;
    uint32_t size = 4;
    int32_t count = 0;
    Cell values = none::value;
};

// The value at an offset from the spec's head, none past its tail.
Cell spec_at(const Cell& spec, uint32_t offset) {
    uint32_t index = spec.head() + offset;
    return index < series::rs_buffer_length_q(spec) ? *block::rs_abs_at(spec, index) : none::value;
}

// [type bits? count-or-values]: a count, then perhaps a block of values, or a block of values.
Made typed_spec(const Cell& spec) {
    if (series::rs_length_q(spec) < 2) error::fire_bad_make_arg(Type::Vector, &spec);
    const ElementType* element = element_type_named(spec_at(spec, 0));
    if (!element) error::fire_bad_make_arg(Type::Vector, &spec);
    Made made{element->type, element->default_bits / 8};
    uint32_t next = 1;
    Cell bits = spec_at(spec, next);
    if (bits.is(Type::Integer)) {
        next++;
        int32_t n = integer::get(bits);
        if (element->type == Type::Percent)
            n = 64;
        else if (!size_allowed_q(element->type, n))
            error::fire_bad_make_arg(Type::Vector, &spec);
        made.size = uint32_t(n) / 8;
    } else if (element->type != Type::Percent) {
        fire(Err::script_invalid_spec_field, &spec);
    }
    Cell rest = spec_at(spec, next);
    if (rest.is(Type::Integer)) {
        made.count = integer::get(rest);
        rest = spec_at(spec, next + 1);
        if (rest.is(Type::Block)) made.values = rest;
    } else if (rest.is(Type::Block)) {
        made.values = rest;
    } else {
        fire(Err::script_invalid_spec_field, &spec);
    }
    return made;
}

// A block of values: its first value's type is the element type, of the default size.
Made untyped_spec(const Cell& spec) {
    Made made;
    made.values = spec;
    if (series::rs_tail_q(spec)) return made;
    Type first = block::rs_abs_at(spec, spec.head())->type();
    if (!element_type_of(first)) error::fire_on_type(Err::script_invalid_type, first);
    made.type = first;
    made.size = default_size(first);
    return made;
}

// The vector holds the values, then zeros up to the count when the values are fewer.
const Cell* make_from(const Made& made) {
    uint32_t given = made.values.is(Type::None) ? 0 : series::rs_length_q(made.values);
    uint32_t length = std::max(uint32_t(std::max(made.count, 0)), given);
    Cell* vector = make_at(stack::push_next(), length, made.type, made.size);
    BufPtr<uint8_t> out = alloc::alloc_tail_bytes(vector->node(), length * made.size);
    std::memset(out.get(), 0, size_t(length) * made.size);
    for (uint32_t i = 0; i < given; i++)
        encode(made.type, made.size, *block::rs_abs_at(made.values, made.values.head() + i), out.get() + i * made.size);
    return vector;
}

const Cell* make(Cell*, Cell* spec, Type) {
    switch (spec->type()) {
    case Type::Integer:
    case Type::Float: {
        Made made;
        made.count = float_::to_integer_checked(*spec);
        return make_from(made);
    }
    case Type::Block: {
        bool typed = !series::rs_tail_q(*spec) && block::rs_abs_at(*spec, spec->head())->is(Type::Word);
        return make_from(typed ? typed_spec(*spec) : untyped_spec(*spec));
    }
    default: fire(Err::internal_not_done);
    }
}

// ---- form and mold ----

// The shortest text that reads back as the same single-precision float.
const char* single_text(double value) {
    if (!std::isfinite(value)) return sys::form_float(value, 0, true);
    for (int32_t digits = 1; digits < 9; digits++) {
        const char* text = sys::form_float(value, digits, true);
        int32_t left;
        if (float(sys::strtod(text, text + std::strlen(text), 0, &left)) == float(value)) return text;
    }
    return sys::form_float(value, 9, true);
}

// The text of a number element: an integer in decimal, a float as float! molds it (at its precision),
// a percent as percent! does.
const char* number_text(const uint8_t* at, uint32_t size, Type element) {
    switch (element) {
    case Type::Float: return size == 4 ? single_text(read_float(at, 4)) : sys::form_float(read_float(at, 8), 0, true);
    case Type::Percent: return float_::format(read_float(at, size) * 100.0, float_::FormatKind::percent);
    default: return integer::form_signed(int32_t(read_int(at, size, element)));
    }
}

// How write_elements writes: molding or forming, with mold/all's escapes, under a part limit or not.
struct ElementText {
    bool molding = false;
    bool all = false;
    bool limited = false;
};

// The elements from the head, one space between two: a char as it is written inside a molded string,
// between #" and " when molding. With a part limit the text stops before an element once the budget is
// spent.
int32_t write_elements(const Cell& vector, Cell* buffer, ElementText how, int32_t part) {
    auto [molding, all, limited] = how;
    Type element = element_type(vector);
    uint32_t size = element_size(vector), length = series::rs_buffer_length_q(vector);
    for (uint32_t i = clamped_head(vector); i < length && !(limited && part < 1); i++) {
        if (i > clamped_head(vector)) part = string::write_token(buffer, " ", false, part);
        if (element != Type::Char) {
            part = string::write_token(buffer, number_text(element_at(vector, i).get(), size, element), false, part);
            continue;
        }
        auto code_point = uint32_t(read_int(element_at(vector, i).get(), size, element));
        if (molding) string::concatenate_literal(buffer, "#\"", 2);
        string::mold_escape_char(buffer, code_point, all);
        if (molding) string::concatenate_literal(buffer, "\"", 1);
        part -= molding ? 4 : 1;
    }
    return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return write_elements(*value, buffer, {.limited = arg != nullptr}, part);
}

// make vector! [1 2 3] for elements of the default size, else make vector! [integer! 8 [1 2]]. A
// vector empty from its head names its type, so that the text makes a vector of that type again.
int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    Type element = element_type(*value);
    uint32_t size = element_size(*value);
    bool plain = series::rs_length_q(*value) > 0 && size == default_size(element);
    if (!options.only) part = string::write_token(buffer, "make vector! [", false, part);
    if (!plain) {
        part = string::write_token(buffer, type_text(element), false, part);
        part = string::write_token(buffer, " ", false, part);
        part = string::write_token(buffer, integer::form_signed(int32_t(size * 8)), false, part);
        part = string::write_token(buffer, " [", false, part);
    }
    part = write_elements(*value, buffer, {.molding = true, .all = options.all, .limited = options.limit != nullptr},
                          part);
    const char* closing = plain ? (options.only ? "" : "]") : (options.only ? "]" : "]]");
    return string::write_token(buffer, closing, false, part);
}

// ---- compare ----

bool equality_op(int32_t op) {
    return op == kCompareEqual || op == kCompareNotEqual || op == kCompareStrictEqual || op == kCompareFind;
}

// The order of two elements as numbers; an unordered pair (a NaN) is none.
std::optional<int32_t> element_order(const Cell& a, uint32_t i, const Cell& b, uint32_t j) {
    Type element = element_type(a);
    uint32_t size_a = element_size(a), size_b = element_size(b);
    if (floating_q(element)) {
        double x = read_float(element_at(a, i).get(), size_a), y = read_float(element_at(b, j).get(), size_b);
        if (std::isnan(x) || std::isnan(y)) return std::nullopt;
        return x < y ? -1 : x > y ? 1 : 0;
    }
    int64_t x = read_int(element_at(a, i).get(), size_a, element),
            y = read_int(element_at(b, j).get(), size_b, element);
    return x < y ? -1 : x > y ? 1 : 0;
}

// Vectors of one element type compare element by element from their heads as numbers; the first pair
// that differs decides, and a vector that another one starts with sorts first. A vector compares with
// vectors only; vectors of two element types raise script not-same-type.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Vector)) return kNotComparable;
    if (element_type(*value1) != element_type(*value2)) fire(Err::script_not_same_type);
    bool same = value1->node() == value2->node() && value1->head() == value2->head();
    if (op == kCompareSame) return same ? 0 : -1;
    if (same && equality_op(op)) return 0;
    uint32_t l1 = series::rs_length_q(*value1), l2 = series::rs_length_q(*value2);
    if (l1 != l2 && equality_op(op)) return 1;
    uint32_t h1 = clamped_head(*value1), h2 = clamped_head(*value2);
    for (uint32_t k = 0; k < std::min(l1, l2); k++) {
        std::optional<int32_t> order = element_order(*value1, h1 + k, *value2, h2 + k);
        if (!order) return 0;
        if (*order != 0) return *order;
    }
    return l1 < l2 ? -1 : l1 > l2 ? 1 : 0;
}

// Qualified: the op's own namespace offers integer::do_math too.
template <integer::MathOp Op>
void math() {
    vector::do_math(Op);
}

}  // namespace

void init() {
    datatype::register_(Type::Vector, {
                                          implements<Act::make>(make),
                                          inherits<Act::random>(),
                                          inherits<Act::reflect>(),
                                          implements<Act::form>(form),
                                          implements<Act::mold>(mold),
                                          inherits<Act::eval_path>(),
                                          implements<Act::compare>(compare),
                                          implements<Act::add>(math<integer::MathOp::add>),
                                          implements<Act::divide>(math<integer::MathOp::divide>),
                                          implements<Act::multiply>(math<integer::MathOp::multiply>),
                                          implements<Act::remainder>(math<integer::MathOp::remainder>),
                                          implements<Act::subtract>(math<integer::MathOp::subtract>),
                                          implements<Act::and_>(math<integer::MathOp::and_>),
                                          implements<Act::or_>(math<integer::MathOp::or_>),
                                          implements<Act::xor_>(math<integer::MathOp::xor_>),
                                          implements<Act::append>(append),
                                          inherits<Act::at>(),
                                          inherits<Act::back>(),
                                          implements<Act::change>(change),
                                          inherits<Act::clear>(),
                                          inherits<Act::copy>(),
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
                                          inherits<Act::remove>(),
                                          inherits<Act::reverse>(),
                                          implements<Act::select>(select),
                                          implements<Act::sort>(sort),
                                          inherits<Act::skip>(),
                                          inherits<Act::tail>(),
                                          inherits<Act::tail_q>(),
                                          inherits<Act::take>(),
                                          inherits<Act::modify>(),
                                      });
}

uint32_t element_size(const Cell& vector) { return mem::buffer(vector.node())->unit(); }

Cell* make_at(Cell* cell, uint32_t capacity, Type element, uint32_t size) {
    *cell =
        Cell::of(Type::Vector).set_node(alloc::alloc_series(std::max(capacity, 1u), size, 0)).set_element_type(element);
    return cell;
}

Cell* element_value(const uint8_t* at, uint32_t size, Type element, Cell* out) {
    switch (element) {
    case Type::Char: return char_::make_at(out, uint32_t(read_int(at, size, element)));
    case Type::Integer: return integer::make_at(out, int32_t(read_int(at, size, element)));
    default: float_::make_at(out, read_float(at, size))->set_type(element); return out;
    }
}

Cell* get_value(const Cell& vector, uint32_t index, Cell* out) {
    return element_value(element_at(vector, index).get(), element_size(vector), element_type(vector), out);
}

void set_value(const Cell& vector, uint32_t index, const Cell& value) {
    encode(element_type(vector), element_size(vector), value, element_at(vector, index).get());
}

void encode(Type element, uint32_t size, const Cell& value, uint8_t* out) {
    if (!value.is(element)) fire(Err::script_invalid_arg, &value);
    if (floating_q(element))
        write_float(out, size, value.f64());
    else
        write_int(out, size, value.int32());
}

Cell* to_block(const Cell& vector) {
    uint32_t head = clamped_head(vector), length = series::rs_length_q(vector);
    Cell* block = block::push_only_s(std::max(length, 1u));
    for (uint32_t i = 0; i < length; i++) {
        Cell element;
        block::rs_append(*block, *get_value(vector, head + i, &element));
    }
    return block;
}

}  // namespace oka::vector
