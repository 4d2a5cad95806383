#include "datatypes/tuple.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "evaluator/lexer.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/random.h"
#include "runtime/registry.h"
#include "runtime/types.h"

namespace oka::tuple {

namespace {

constexpr uint32_t kCountShift = 19;

// The bytes of a tuple, all twelve (those past the count are 0), and its count.
struct Bytes {
    std::array<uint8_t, kMaxBytes> at{};
    uint32_t count = kMinBytes;
};

Bytes bytes_of(const Cell& tuple) {
    Bytes b;
    b.at = tuple.tuple_bytes();
    b.count = length_of(tuple);
    return b;
}

Cell* make_from(Cell* cell, const Bytes& b) { return make_at(cell, b.at.data(), b.count); }

uint8_t clamped(int64_t value) { return uint8_t(std::clamp<int64_t>(value, 0, 255)); }

// Truncated toward zero; NaN counts as 0.
uint8_t clamped(double value) {
    if (!(value > 0.0)) return 0;
    return value >= 255.0 ? 255 : uint8_t(value);
}

Cell result;  // the answer of make, to, pick, eval-path and complement, copied out at once

[[noreturn]] void refuse(const Cell* spec) { error::fire_on_type(Err::script_bad_to_arg, Type::Tuple, spec); }

// At most 12 values, each an integer, a char or a float (truncated) from 0 to 255.
const Cell* from_block(Cell* block) {
    uint32_t count = block::rs_length_q(*block);
    if (count > kMaxBytes) refuse(block);
    Bytes b;
    BufPtr<Cell> cells = block::rs_head(block);
    for (uint32_t i = 0; i < count; i++) {
        const Cell& value = cells[i];
        double byte;
        switch (value.type()) {
        case Type::Integer:
        case Type::Char: byte = integer::get(value); break;
        case Type::Float: byte = std::trunc(float_::get(value)); break;
        default: refuse(block);
        }
        if (!(byte >= 0.0 && byte <= 255.0)) refuse(block);
        b.at[i] = uint8_t(byte);
    }
    b.count = std::max(count, kMinBytes);
    return make_from(&result, b);
}

// #rgb (each digit doubled), #rrggbb or #rrggbbaa, in ASCII hexadecimal digits: a letter beyond ASCII
// is none, whatever its low bits.
const Cell* from_issue(const Cell& issue) {
    std::string_view name = symbol::name(issue.symbol());
    size_t length = name.size();
    if (length != 3 && length != 6 && length != 8) fire(Err::script_invalid_data, &issue);
    uint8_t digits[8];
    for (size_t i = 0; i < length; i++) {
        uint8_t c = uint8_t(name[i]);
        bool hex = (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
        if (!hex) fire(Err::script_invalid_data, &issue);
        digits[i] = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    }
    Bytes b;
    if (length == 3) {
        for (int i = 0; i < 3; i++) b.at[i] = uint8_t(digits[i] * 17);
    } else {
        for (size_t i = 0; i < length / 2; i++) b.at[i] = uint8_t(digits[2 * i] << 4 | digits[2 * i + 1]);
        b.count = uint32_t(length / 2);
    }
    return make_from(&result, b);
}

// The bytes from the head, at most 12, padded with zeros to 3.
const Cell* from_binary(const Cell& binary) {
    string::Text bytes = string::text_of(binary);
    Bytes b;
    b.count = std::clamp(bytes.length, kMinBytes, kMaxBytes);
    for (uint32_t i = 0; i < std::min(bytes.length, kMaxBytes); i++) b.at[i] = uint8_t(bytes.at(i));
    return make_from(&result, b);
}

const Cell* to(Cell*, Cell* spec, Type) {
    switch (spec->type()) {
    case Type::Tuple: return spec;
    case Type::Block:
    case Type::Paren:
    case Type::Hash: return from_block(spec);
    case Type::Issue: return from_issue(*spec);
    case Type::Binary: return from_binary(*spec);
    default: {
        // Text: the one value it holds must be a tuple.
        if (!is_a(spec->type(), TypeClass::any_string)) refuse(spec);
        const Cell* value = lexer::scan_single(*spec, &result);
        if (!value->is(Type::Tuple)) refuse(spec);
        return value;
    }
    }
}

// Each byte in decimal, separated by dots.
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    Bytes b = bytes_of(*value);
    char text[kMaxBytes * 4];
    char* out = text;
    for (uint32_t i = 0; i < b.count; i++) {
        if (i > 0) *out++ = '.';
        out = std::to_chars(out, text + sizeof text, b.at[i]).ptr;
    }
    *out = '\0';
    return string::write_token(buffer, text, false, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return form(value, buffer, options.limit, part);
}

// The bytes past the shorter count are 0 in both cells: comparing all of them compares the tuples.
int32_t compare(Cell* value1, Cell* value2, int32_t) {
    if (!value2->is(Type::Tuple)) return kNotComparable;
    Bytes a = bytes_of(*value1), b = bytes_of(*value2);
    return a.at < b.at ? -1 : a.at > b.at ? 1 : 0;
}

void random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        std::array<uint32_t, 3> words = value->content_words();
        oka::random::seed(words[0] ^ words[1] ^ words[2]);
        unset::box();
        return;
    }
    Bytes b = bytes_of(*value);
    for (uint32_t i = 0; i < b.count; i++) b.at[i] = uint8_t(oka::random::int_(secure, b.at[i] + 1) - 1);
    make_from(value, b);
}

const Cell* complement(Cell* value) {
    Bytes b = bytes_of(*value);
    for (uint32_t i = 0; i < b.count; i++) b.at[i] = uint8_t(255 - b.at[i]);
    return make_from(&result, b);
}

int32_t length_q(Cell* tuple) { return int32_t(length_of(*tuple)); }

uint32_t checked_index(const Cell& tuple, int32_t index, const Cell* index_cell) {
    if (index < 1 || uint32_t(index) > length_of(tuple)) fire(Err::script_out_of_range, index_cell);
    return uint32_t(index - 1);
}

const Cell* pick(Cell* tuple, int32_t index, Cell* index_cell) {
    return integer::make_at(&result, bytes_of(*tuple).at[checked_index(*tuple, index, index_cell)]);
}

// An integer is clamped and stored; none cuts the tuple before the byte, keeping 3 bytes at least.
void set_byte(Cell* tuple, int32_t index, const Cell& value, const Cell* index_cell) {
    uint32_t i = checked_index(*tuple, index, index_cell);
    Bytes b = bytes_of(*tuple);
    if (value.is(Type::None)) {
        std::fill(b.at.begin() + i, b.at.end(), 0);
        b.count = std::max(i, kMinBytes);
    } else {
        b.at[i] = clamped(int64_t(integer::get(value)));
    }
    make_from(tuple, b);
}

// A set changes the tuple in its cell; the interpreter stores it back where the path took it from,
// which tells an owning object of the change.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions&) {
    if (!element->is(Type::Integer)) error::fire_on_type(Err::script_invalid_type, element->type());
    int32_t index = integer::get(*element);
    if (!value) return pick(parent, index, element);
    if (!value->is(Type::Integer) && !value->is(Type::None))
        error::fire_on_type(Err::script_invalid_type, value->type());
    set_byte(parent, index, *value, element);
    return value;
}

// The first `n` bytes (all without /part) in records of `s` bytes (1 without /skip), the records in
// reverse order.
void reverse(Cell* tuple, Cell* part, Cell* skip) {
    Bytes b = bytes_of(*tuple);
    int32_t n = int32_t(b.count);
    if (part) {
        if (!part->is(Type::Integer)) error::fire_refinement("part", part);
        if (integer::get(*part) < 0) fire(Err::script_out_of_range, part);
        n = std::min(n, integer::get(*part));
    }
    int32_t s = 1;
    if (skip) {
        if (!skip->is(Type::Integer)) error::fire_refinement("skip", skip);
        s = integer::get(*skip);
        if (s == n) return;
        if (s < 1) fire(Err::script_out_of_range, skip);
        if (s > n || n % s) error::fire_refinement("skip", skip);
    }
    int32_t records = n / s;
    for (int32_t r = 0; r < records / 2; r++)
        std::swap_ranges(b.at.begin() + r * s, b.at.begin() + (r + 1) * s, b.at.begin() + (records - 1 - r) * s);
    make_from(tuple, b);
}

// A byte op an integer, exact in 64 bits, then clamped: an overflow saturates.
uint8_t byte_op(uint8_t byte, int32_t operand, integer::MathOp op) {
    int64_t a = byte, b = operand;
    switch (op) {
    case integer::MathOp::add: return clamped(a + b);
    case integer::MathOp::subtract: return clamped(a - b);
    case integer::MathOp::multiply: return clamped(a * b);
    case integer::MathOp::or_: return clamped(int64_t(byte | operand));
    case integer::MathOp::and_: return clamped(int64_t(byte & operand));
    case integer::MathOp::xor_: return clamped(int64_t(byte ^ operand));
    default: break;
    }
    if (b == 0) fire(Err::math_zero_divide);
    return clamped(op == integer::MathOp::divide ? a / b : a % b);
}

template <class Operation>
void each_byte(Bytes& b, Operation&& operation) {
    for (uint32_t i = 0; i < b.count; i++) b.at[i] = operation(i, b.at[i]);
}

// Qualified: ADL on the op also finds integer::do_math.
template <integer::MathOp Op>
void math() {
    tuple::do_math(Op);
}

}  // namespace

void init() {
    datatype::register_(Type::Tuple, {
                                         implements<Act::make>(to),
                                         implements<Act::random>(random),
                                         implements<Act::to>(to),
                                         implements<Act::form>(form),
                                         implements<Act::mold>(mold),
                                         implements<Act::eval_path>(eval_path),
                                         implements<Act::compare>(compare),
                                         implements<Act::add>(math<integer::MathOp::add>),
                                         implements<Act::divide>(math<integer::MathOp::divide>),
                                         implements<Act::multiply>(math<integer::MathOp::multiply>),
                                         implements<Act::remainder>(math<integer::MathOp::remainder>),
                                         implements<Act::subtract>(math<integer::MathOp::subtract>),
                                         implements<Act::and_>(math<integer::MathOp::and_>),
                                         implements<Act::complement>(complement),
                                         implements<Act::or_>(math<integer::MathOp::or_>),
                                         implements<Act::xor_>(math<integer::MathOp::xor_>),
                                         implements<Act::length_q>(length_q),
                                         implements<Act::pick>(pick),
                                         implements<Act::reverse>(reverse),
                                     });
}

Cell* make_at(Cell* cell, const uint8_t* bytes, uint32_t count) {
    OKA_ASSERT(count <= kMaxBytes);
    Cell made = Cell::of(Type::Tuple, std::max(count, kMinBytes) << kCountShift);
    Bytes12 copied{};
    std::memcpy(copied.data(), bytes, count);
    made.set_tuple_bytes(copied);
    *cell = made;
    return cell;
}

bool zero_q(const Cell& tuple) { return tuple.tuple_bytes() == Bytes12{}; }

void do_math(integer::MathOp op) {
    Cell* args = stack::arguments();
    if (!args[0].is(Type::Tuple)) {
        if (op == integer::MathOp::subtract || op == integer::MathOp::divide)
            error::fire_on_action(Err::script_not_related, args[0].type());
        std::swap(args[0], args[1]);
    }
    Bytes b = bytes_of(args[0]);
    const Cell& right = args[1];
    switch (right.type()) {
    case Type::Float:
    case Type::Percent: {
        double operand = float_::get(right);
        each_byte(b, [&](uint32_t, uint8_t byte) { return clamped(float_::do_math_op(byte, operand, op)); });
        break;
    }
    case Type::Integer: {
        int32_t operand = integer::get(right);
        each_byte(b, [&](uint32_t, uint8_t byte) { return byte_op(byte, operand, op); });
        break;
    }
    case Type::Tuple: {
        Bytes operand = bytes_of(right);
        b.count = std::max(b.count, operand.count);
        each_byte(b, [&](uint32_t i, uint8_t byte) { return byte_op(byte, operand.at[i], op); });
        break;
    }
    default: error::fire_on_type(Err::script_invalid_type, right.type());
    }
    make_from(args, b);
}

}  // namespace oka::tuple
