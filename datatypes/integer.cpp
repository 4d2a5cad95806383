#include "datatypes/integer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/issue.h"
#include "datatypes/money.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "evaluator/lexer.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/registry.h"
#include "runtime/types.h"

namespace oka::integer {

namespace {

constexpr int32_t kMin = INT32_MIN;

[[noreturn]] void overflow() { fire(Err::math_overflow); }

int32_t from_float(double value) {
    if (overflow_q(value)) error::fire_on_type(Err::script_type_limit, Type::Integer);
    return int32_t(value);  // truncated toward zero
}

Cell result;  // the answer of make and to, copied out by the dispatcher at once

const Cell* answer(int32_t value) { return make_at(&result, value); }

// Text holding an integer, as the lexer writes one.
int32_t from_text(const Cell* text) {
    tokenizer::NumberError problem;
    int32_t value = tokenizer::scan_integer(string::text_of(*text), problem);
    if (problem != tokenizer::NumberError::none) error::fire_on_type(Err::script_bad_to_arg, Type::Integer, text);
    return value;
}

// The first four bytes of a binary from its head (fewer when it holds fewer), most significant first.
int32_t from_binary(const Cell& binary) {
    string::Text bytes = string::text_of(binary);
    uint32_t value = 0;
    for (uint32_t i = 0; i < std::min(bytes.length, 4u); i++) value = value << 8 | bytes.at(i);
    return int32_t(value);
}

const Cell* to(Cell*, Cell* spec, Type) {
    switch (spec->type()) {
    case Type::Integer:
    case Type::Char: return answer(spec->int32());
    case Type::Float:
    case Type::Percent: return answer(from_float(spec->f64()));
    case Type::Time: return answer(from_float(std::round(spec->f64())));  // halves away from zero
    case Type::Issue: return answer(issue::from_hex(*spec));
    case Type::Money: return answer(money::to_integer(*spec));
    case Type::Binary: return answer(from_binary(*spec));
    case Type::Date: return answer(from_float(double(date::to_epoch(*spec))));
    default:
        if (is_a(spec->type(), TypeClass::any_string)) return answer(from_text(spec));
        error::fire_on_type(Err::script_bad_to_arg, Type::Integer, spec);
    }
}

const Cell* make(Cell* proto, Cell* spec, Type target) {
    if (spec->is(Type::Logic)) return answer(spec->truth() ? 1 : 0);
    return to(proto, spec, target);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    return string::write_token(buffer, form_signed(get(*value)), false, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return form(value, buffer, options.limit, part);
}

int32_t sign_of(int64_t difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    bool exact = op == kCompareStrictEqual || op == kCompareFind;
    if (exact && !value2->is(Type::Integer)) return 1;
    switch (value2->type()) {
    case Type::Integer:
    case Type::Char: return sign_of(int64_t(get(*value1)) - value2->int32());
    case Type::Float:
    case Type::Percent:
    case Type::Time: {
        // Integers meet floats on the floats' terms, tolerance included.
        Cell as_float;
        float_::make_at(&as_float, get(*value1));
        return actions::call<Act::compare>(&as_float, value2, op);
    }
    case Type::Money: return money::compare_number(value1, value2, op);
    default: return kNotComparable;
    }
}

int32_t abs_of(int32_t value) {
    if (value == kMin) overflow();
    return value < 0 ? -value : value;
}

void absolute() { box(abs_of(get(*stack::arguments()))); }

void negate(Cell* value) {
    if (get(*value) == kMin) overflow();
    box(-get(*value));
}

const Cell* complement(Cell* value) { return answer(~get(*value)); }

bool even_q(Cell* value) { return (get(*value) & 1) == 0; }
bool odd_q(Cell* value) { return (get(*value) & 1) != 0; }

template <MathOp Op>
void math() {
    do_math(Op);
}

}  // namespace

// By repeated squaring, giving up as soon as a product needs more than 32 bits.
std::optional<int32_t> exact_power(int32_t base, int32_t exponent) {
    int32_t result = 1;
    for (;;) {
        if ((exponent & 1) && __builtin_mul_overflow(result, base, &result)) return std::nullopt;
        exponent >>= 1;
        if (exponent == 0) return result;
        if (__builtin_mul_overflow(base, base, &base)) return std::nullopt;
    }
}

namespace {

// Any other exponent, or a power beyond 32 bits, is the float power of the base.
void power() {
    Cell* args = stack::arguments();
    if (args[1].is(Type::Integer) && get(args[1]) >= 0) {
        if (std::optional<int32_t> exact = exact_power(get(args[0]), get(args[1]))) {
            box(*exact);
            return;
        }
    }
    float_::make_at(args, get(args[0]));
    float_::power();
}

// An integer and the multiples of an integer scale up to 2^32 are exact as doubles, and so is every
// step of the float rounding on them: it serves integers too, with a scale of 1 by default.
void round(Cell* value, const RoundOptions& options) {
    Cell one;
    RoundOptions to_integer = options;
    if (!to_integer.scale) to_integer.scale = make_at(&one, 1);
    float_::make_at(value, get(*value));
    float_::round(value, to_integer);
}

// Also char!'s random: the draw keeps the value's type, so a random char is a char.
void random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        oka::random::seed(value->int32());
        unset::box();
        return;
    }
    Cell drawn = *value;
    drawn.set_int32(uint32_t(oka::random::int_(secure, get(*value))));
    stack::set_last(drawn);
}

}  // namespace

void init() {
    datatype::register_(Type::Integer, {
                                           implements<Act::make>(make),
                                           implements<Act::random>(random),
                                           implements<Act::to>(to),
                                           implements<Act::form>(form),
                                           implements<Act::mold>(mold),
                                           implements<Act::compare>(compare),
                                           implements<Act::absolute>(absolute),
                                           implements<Act::add>(math<MathOp::add>),
                                           implements<Act::divide>(math<MathOp::divide>),
                                           implements<Act::multiply>(math<MathOp::multiply>),
                                           implements<Act::negate>(negate),
                                           implements<Act::power>(power),
                                           implements<Act::remainder>(math<MathOp::remainder>),
                                           implements<Act::round>(round),
                                           implements<Act::subtract>(math<MathOp::subtract>),
                                           implements<Act::even_q>(even_q),
                                           implements<Act::odd_q>(odd_q),
                                           implements<Act::and_>(math<MathOp::and_>),
                                           implements<Act::complement>(complement),
                                           implements<Act::or_>(math<MathOp::or_>),
                                           implements<Act::xor_>(math<MathOp::xor_>),
                                       });
}

Cell* make_in(const Cell& block, int32_t value) { return make_at(alloc::alloc_tail(block).get(), value); }

const char* form_signed(int32_t value) {
    static char text[12];
    *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
    return text;
}

// The range is the integers' own at both ends, fractions included: 2147483647.5 lies above it as
// -2147483648.5 lies below it, though each would truncate into it.
bool overflow_q(double value) { return !(value >= -2147483648.0 && value <= 2147483647.0); }

Cell* make_float_at(Cell* result, double value) { return float_::make_at(result, value); }

void refuse_division(int32_t b) {
    if (b == 0) fire(Err::math_zero_divide);
    overflow();
}

void do_math(MathOp op) {
    Cell* args = stack::arguments();
    if (args[1].is(Type::Integer) || args[1].is(Type::Char))
        do_math_op(get(args[0]), get(args[1]), op, args);
    else if (args[1].is(Type::Money))
        money::do_math(op);
    else if (args[1].is(Type::Date) && op == MathOp::add)
        date::add_swapped();
    else if (args[1].is(Type::Date))
        error::fire_on_action(Err::script_not_related, Type::Integer);
    else if (args[1].is(Type::Vector))
        vector::do_math_scalar(op, 1);
    else
        float_::do_math(op);
}

}  // namespace oka::integer
