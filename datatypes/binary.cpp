#include "datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::binary {

namespace {

// The bytes of a value from its head, read in place: valid until the next allocation.
struct Bytes {
    const uint8_t* data;
    uint32_t length;
};

Bytes bytes_from_head(const Cell& value) {
    string::Text text = string::text_of(value);
    return {text.data.get(), text.length};
}

std::vector<uint8_t> big_endian(uint64_t value, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; i++) bytes[i] = uint8_t(value >> (8 * (size - 1 - i)));
    return bytes;
}

// The name of an issue read as base-16 digits, code point by code point.
std::vector<uint8_t> from_issue(const Cell& issue) {
    std::string name(symbol::name(issue.symbol()));  // copied out: the symbol's name lies in a series buffer
    Cell* text = string::load(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), unicode::kUtf8);
    string::Text units = string::text_of(*text);
    std::optional<std::vector<uint8_t>> bytes = debase(16, {units.data.get(), units.unit, units.length}, false);
    stack::pop(1);
    if (!bytes) fire(Err::script_invalid_data, &issue);
    return *bytes;
}

// The stored bytes of a bitset, as they are.
std::vector<uint8_t> from_bitset(const Cell& bitset) {
    BufPtr<SeriesBuffer> b = mem::buffer(bitset.node());
    const uint8_t* first = mem::ptr(b->offset);
    return std::vector<uint8_t>(first, first + b->used_bytes());
}

const Cell* to(Cell*, Cell* spec, Type) {
    std::vector<uint8_t> bytes;
    switch (spec->type()) {
    case Type::Integer: bytes = big_endian(spec->int32(), 4); break;
    case Type::Float:
    case Type::Percent: bytes = big_endian(std::bit_cast<uint64_t>(spec->f64()), 8); break;
    case Type::Issue: bytes = from_issue(*spec); break;
    case Type::Bitset: bytes = from_bitset(*spec); break;
    case Type::Image: return image::extract_data(*spec, image::Plane::argb);
    default: bytes = encode(spec, -1, {});
    }
    return load(bytes.data(), uint32_t(bytes.size()));
}

// ---- comparison ----

bool equality_op(int32_t op) {
    return op == kCompareEqual || op == kCompareNotEqual || op == kCompareStrictEqual || op == kCompareFind;
}

// Bytes compare as unsigned numbers from the heads; a binary that another one starts with sorts first.
// A binary compares with binaries only.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Binary)) return kNotComparable;
    bool same = value1->node() == value2->node() && value1->head() == value2->head();
    if (op == kCompareSame) return same ? 0 : -1;
    if (same && equality_op(op)) return 0;
    Bytes a = bytes_from_head(*value1), b = bytes_from_head(*value2);
    if (a.length != b.length && equality_op(op)) return 1;
    int order = std::memcmp(a.data, b.data, std::min(a.length, b.length));
    if (order != 0) return order < 0 ? -1 : 1;
    return a.length < b.length ? -1 : a.length > b.length ? 1 : 0;
}

// ---- bitwise actions ----

// The bytes of both arguments combined pairwise into a new binary as long as the longer; past the
// shorter one, and~ gives zeros and or~ and xor~ the longer one's bytes.
template <integer::MathOp Op>
void bitwise() {
    Cell* args = stack::arguments();
    if (!args[1].is(Type::Binary)) fire(Err::script_invalid_arg, &args[1]);
    uint32_t length = std::max(series::rs_length_q(args[0]), series::rs_length_q(args[1]));
    Cell* result = make_at(stack::push_next(), length);
    Bytes a = bytes_from_head(args[0]), b = bytes_from_head(args[1]);
    BufPtr<SeriesBuffer> r = mem::buffer(result->node());
    uint8_t* out = mem::ptr(r->offset);
    for (uint32_t i = 0; i < length; i++) {
        bool in_a = i < a.length, in_b = i < b.length;
        uint8_t x = in_a ? a.data[i] : 0, y = in_b ? b.data[i] : 0;
        if (Op == integer::MathOp::and_) out[i] = x & y;
        if (Op == integer::MathOp::or_) out[i] = x | y;
        if (Op == integer::MathOp::xor_) out[i] = in_a && in_b ? x ^ y : x | y;
    }
    r->tail = r->offset + length;
    stack::set_last(*result);
}

// Inverts the bytes from the head, in place.
const Cell* complement(Cell* value) {
    uint32_t length = series::rs_length_q(*value);
    BufPtr<uint8_t> bytes = series::unit_at(*value, value->head());
    for (uint32_t i = 0; i < length; i++) bytes[i] = uint8_t(~bytes[i]);
    return value;
}

// ---- form and mold ----

constexpr uint32_t kOneLineBytes = 30;
constexpr uint32_t kBytesPerLine = 32;

void line_break(std::string& text, int32_t level) {
    text += '\n';
    text.append(size_t(std::max(level, 0)) * 4, ' ');
}

// Both write "#{" and two digits a byte (no braces with /only). Up to 30 bytes stay on one line; a
// longer binary starts on a new line one level deeper than the value, 32 bytes a line, and closes at
// the value's level, unless /flat. With a part limit the text stops once the limit is reached.
int32_t serialize(const Cell& value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    bool only = options.only, flat = options.flat, limited = options.limit != nullptr;
    Bytes bytes = bytes_from_head(value);
    bool broken = bytes.length > kOneLineBytes && !flat;
    std::string text = only ? "" : "#{";
    if (broken) line_break(text, indent + 1);
    for (uint32_t i = 0; i < bytes.length && !(limited && int64_t(text.size()) >= part); i++) {
        text += string::byte_to_hex(bytes.data[i]);
        if ((i + 1) % kBytesPerLine == 0 && !flat) line_break(text, indent + 1);
    }
    if (broken && bytes.length % kBytesPerLine != 0) line_break(text, indent);
    if (!only) text += '}';
    string::concatenate_literal(buffer, text.data(), uint32_t(text.size()));
    return part - int32_t(text.size());
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return serialize(*value, buffer, MoldOptions{.limit = arg}, part, 0);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    return serialize(*value, buffer, options, part, indent);
}

}  // namespace

void init() {
    datatype::register_(Type::Binary, {
                                          inherits<Act::make>(),
                                          inherits<Act::random>(),
                                          inherits<Act::reflect>(),
                                          implements<Act::to>(to),
                                          implements<Act::form>(form),
                                          implements<Act::mold>(mold),
                                          inherits<Act::eval_path>(),
                                          implements<Act::compare>(compare),
                                          implements<Act::and_>(bitwise<integer::MathOp::and_>),
                                          implements<Act::complement>(complement),
                                          implements<Act::or_>(bitwise<integer::MathOp::or_>),
                                          implements<Act::xor_>(bitwise<integer::MathOp::xor_>),
                                          implements<Act::append>(append),
                                          inherits<Act::at>(),
                                          inherits<Act::back>(),
                                          implements<Act::change>(change),
                                          inherits<Act::clear>(),
                                          inherits<Act::copy>(),
                                          inherits<Act::find>(),
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
                                          inherits<Act::select>(),
                                          inherits<Act::sort>(),
                                          inherits<Act::skip>(),
                                          inherits<Act::swap>(),
                                          inherits<Act::tail>(),
                                          inherits<Act::tail_q>(),
                                          inherits<Act::take>(),
                                          implements<Act::trim>(trim),
                                          inherits<Act::modify>(),
                                      });
}

Cell* make_at(Cell* cell, uint32_t capacity) {
    *cell = Cell::of(Type::Binary).set_node(alloc::alloc_bytes(capacity));
    return cell;
}

Cell* load_at(Cell* cell, const uint8_t* bytes, uint32_t length) {
    make_at(cell, length);
    if (length > 0) std::memcpy(alloc::alloc_tail_bytes(cell->node(), length).get(), bytes, length);
    return cell;
}

Cell* load(const uint8_t* bytes, uint32_t length) { return load_at(stack::push_next(), bytes, length); }

uint8_t get_byte(const Cell& value) {
    if (!value.is(Type::Integer) && !value.is(Type::Char)) fire(Err::script_invalid_arg, &value);
    return uint8_t(value.int32());
}

std::string utf8_of(const Cell& string, int32_t characters) {
    string::Text text = string::text_of(string);
    std::string bytes(size_t(text.length) * 4, '\0');
    bytes.resize(unicode::to_utf8_buffer(&string, reinterpret_cast<uint8_t*>(bytes.data()), characters, false));
    return bytes;
}

}  // namespace oka::binary
