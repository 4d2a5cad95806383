// money!: arithmetic, comparison, rounding and random amounts, on exact magnitudes.
#include <cmath>

#include "datatypes/float.h"
#include "datatypes/money_internal.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::money {

namespace {

using Signed = __int128;
using integer::MathOp;

constexpr int kDigits = 22;

[[noreturn]] void out_of_range() { error::fire_on_type(Err::script_type_limit, Type::Money); }

Signed signed_of(const Money& money) { return money.negative ? -Signed(money.units) : Signed(money.units); }

Money from_signed(Signed value) {
    Units magnitude = Units(value < 0 ? -value : value);
    if (magnitude >= kLimit) out_of_range();
    return {magnitude, value < 0, 0};
}

bool same_currency_q(const Money& a, const Money& b, bool strict) {
    return a.currency == b.currency || (!strict && (a.currency == 0 || b.currency == 0));
}

// ---- arithmetic ----

// The product has ten decimals, of which the last five are dropped.
Money product(const Money& a, const Money& b) {
    if (a.units == 0 || b.units == 0) return {};
    constexpr Units kProductLimit = kLimit * kUnitsPerWhole;
    if (a.units > (kProductLimit - 1) / b.units) out_of_range();
    Units units = a.units * b.units / kUnitsPerWhole;
    if (units == 0) out_of_range();
    return {units, a.negative != b.negative, 0};
}

Money quotient(const Money& a, const Money& b) {
    if (b.units == 0) fire(Err::math_zero_divide);
    if (a.units == 0) return {};
    Units units = a.units * kUnitsPerWhole / b.units;
    if (units == 0 || units >= kLimit) out_of_range();
    return {units, a.negative != b.negative, 0};
}

// With the dividend's sign.
Money remainder_of(const Money& a, const Money& b) {
    if (b.units == 0) fire(Err::math_zero_divide);
    return {a.units % b.units, a.negative, 0};
}

Money apply(const Money& a, const Money& b, MathOp op) {
    switch (op) {
    case MathOp::add: return from_signed(signed_of(a) + signed_of(b));
    case MathOp::subtract: return from_signed(signed_of(a) - signed_of(b));
    case MathOp::multiply: return product(a, b);
    case MathOp::divide: return quotient(a, b);
    case MathOp::remainder: return remainder_of(a, b);
    default: error::fire_on_type(Err::script_invalid_type, Type::Money);
    }
}

// An operand of the math as money: an integer exactly, a float or percent without its decimals beyond
// the fifth.
Money operand(const Cell& value) {
    Cell converted;
    switch (value.type()) {
    case Type::Money: return read(value);
    case Type::Integer: return integer_money(integer::get(value));
    case Type::Float:
    case Type::Percent: return read(*from_float(&converted, float_::get(value), false));
    default: error::fire_on_type(Err::script_invalid_type, value.type());
    }
}

// ---- comparison ----

int32_t order_of(const Money& a, const Money& b) {
    Signed x = signed_of(a), y = signed_of(b);
    return (x > y) - (x < y);
}

bool ordering_q(int32_t op) { return op >= kCompareLesser && op <= kCompareCaseSort; }

// The codes of two currencies in the order of their words.
int32_t code_order(uint8_t a, uint8_t b) {
    Cell x = currency_word(a), y = currency_word(b);
    if (x.is(Type::Word) && y.is(Type::Word)) return word::compare(&x, &y, kCompareSort);
    return (a > b) - (a < b);
}

// The sort order: the values without a currency first, then by currency code, then by amount.
int32_t order_with_currency(const Money& a, const Money& b) {
    if ((a.currency == 0) != (b.currency == 0)) return a.currency == 0 ? -1 : 1;
    int32_t codes = a.currency == b.currency ? 0 : code_order(a.currency, b.currency);
    return codes != 0 ? codes : order_of(a, b);
}

// Equality ignores a missing currency, but for == and same?, and for find when the value looked for has
// one; an ordering of two different currencies is script wrong-denom.
int32_t compare_money(Cell* value1, Cell* value2, int32_t op) {
    Money a = read(*value1), b = read(*value2);
    if (op == kCompareSort || op == kCompareCaseSort) return order_with_currency(a, b);
    if (ordering_q(op)) {
        if (!same_currency_q(a, b, false)) fire(Err::script_wrong_denom, value1, value2);
    } else {
        bool strict = op == kCompareStrictEqual || op == kCompareSame || (op == kCompareFind && b.currency != 0);
        if (!same_currency_q(a, b, strict)) return 1;
    }
    return order_of(a, b);
}

// A float that no amount equals (float_outside_q): a NaN is unordered, as among floats; any other such
// float lies beyond every amount or between zero and the smallest ones.
int32_t order_against_outside(const Money& a, double f, int32_t op) {
    if (std::isnan(f)) {
        if (op == kCompareSort || op == kCompareCaseSort) return 0;
        return op == kCompareGreater || op == kCompareGreaterEqual ? -1 : 1;
    }
    if (!ordering_q(op)) return 1;
    bool beyond = !(std::fabs(f) < 1e17);
    if (!beyond && a.units != 0) return a.sign();
    return f > 0 ? -1 : 1;
}

int32_t mirrored(int32_t op) {
    switch (op) {
    case kCompareLesser: return kCompareGreater;
    case kCompareLesserEqual: return kCompareGreaterEqual;
    case kCompareGreater: return kCompareLesser;
    case kCompareGreaterEqual: return kCompareLesserEqual;
    default: return op;
    }
}

// ---- random amounts ----

uint32_t draw_below(uint32_t bound) { return uint32_t(oka::random::next()) % bound; }

// A random magnitude from zero to `limit`, digit by digit from the limit's first significant digit: up
// to the limit's digit while every digit so far equals the limit's, any digit after one below it. A
// digit equal to the limit's is kept only when two more draws agree modulo 1000, else drawn again.
Units random_up_to(Units limit) {
    uint32_t digits[kDigits];
    int first = kDigits - 1;
    for (int i = kDigits - 1; i >= 0; i--, limit /= 10) {
        digits[i] = uint32_t(limit % 10);
        if (digits[i] != 0) first = i;
    }
    Units drawn = 0;
    bool below = false;
    for (int i = first; i < kDigits; i++) {
        uint32_t digit;
        if (below) {
            digit = draw_below(10);
        } else {
            do digit = draw_below(digits[i] + 1);
            while (digit == digits[i] && draw_below(1000) != draw_below(1000));
            below = digit < digits[i];
        }
        drawn = drawn * 10 + digit;
    }
    return drawn;
}

// A round scale as a magnitude: $1 without /to; a money!, integer! or float! (read strictly) with its
// sign dropped; script not-related for any other type.
Units scale_of(const Cell* scale) {
    Cell converted;
    if (!scale) return kUnitsPerWhole;
    switch (scale->type()) {
    case Type::Money: return read(*scale).units;
    case Type::Integer: return integer_money(integer::get(*scale)).units;
    case Type::Float: return read(*from_float(&converted, float_::get(*scale), true)).units;
    default: error::fire_in_function(Err::script_not_related, scale->type());
    }
}

}  // namespace

void do_math(MathOp op) {
    Cell* args = stack::arguments();
    bool money_left = args[0].is(Type::Money), money_right = args[1].is(Type::Money);
    bool dividing = op == MathOp::divide || op == MathOp::remainder;
    if ((op == MathOp::multiply && money_left && money_right) || (dividing && !money_left))
        error::fire_on_type(Err::script_invalid_type, args[0].type());
    Money a = operand(args[0]), b = operand(args[1]);
    if (!same_currency_q(a, b, false)) fire(Err::script_wrong_denom, &args[0], &args[1]);
    Money result = apply(a, b, op);
    if (op == MathOp::divide && money_left && money_right) {
        Cell ratio;
        float_::box(to_float(*write(&ratio, result)));
        return;
    }
    result.currency = b.currency != 0 ? b.currency : a.currency;
    write(args, result);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    bool same_type_only = op == kCompareStrictEqual || op == kCompareSame || op == kCompareFind;
    if (same_type_only && !value2->is(Type::Money)) return 1;
    Cell converted;
    switch (value2->type()) {
    case Type::Money: return compare_money(value1, value2, op);
    case Type::Integer: return order_of(read(*value1), integer_money(integer::get(*value2)));
    case Type::Float:
    case Type::Percent: {
        double f = float_::get(*value2);
        if (float_outside_q(f)) return order_against_outside(read(*value1), f, op);
        return order_of(read(*value1), read(*from_float(&converted, f, true)));
    }
    default: return kNotComparable;
    }
}

// The money comparison with the operands exchanged: an ordering's answer turns round.
int32_t compare_number(Cell* number, Cell* money, int32_t op) {
    int32_t answer = compare(money, number, mirrored(op));
    return ordering_q(op) ? -answer : answer;
}

void absolute() {
    Cell* value = stack::arguments();
    Money money = read(*value);
    money.negative = false;
    write(value, money);
}

void negate(Cell* value) {
    Money money = read(*value);
    money.negative = !money.negative;
    write(value, money);
}

// To a multiple of the scale ($1 by default), keeping the sign and the currency; a multiple beyond the
// range is script type-limit.
void round(Cell* value, const RoundOptions& options) {
    Money money = read(*value);
    if (money.units == 0) return;
    Units scale = scale_of(options.scale);
    Units rest = scale == 0 ? 0 : money.units % scale;
    if (rest == 0) return;
    Units toward = money.units - rest, beyond = scale - rest;
    int half = rest < beyond ? -1 : rest > beyond ? 1 : 0;
    if (float_::away_q(options, money.negative, half, toward / scale % 2 == 0)) {
        toward += scale;
        if (toward >= kLimit) out_of_range();
    }
    money.units = toward;
    write(value, money);
}

// By the units digit: the decimals do not count.
bool even_q(Cell* value) { return read(*value).units / kUnitsPerWhole % 2 == 0; }
bool odd_q(Cell* value) { return !even_q(value); }

// An amount from zero to the value's, with its sign and currency; the secure source is not used.
void random(Cell* value, bool seed, bool, bool) {
    if (seed) {
        std::array<uint32_t, 3> words = value->content_words();
        oka::random::seed(words[0] ^ words[1] ^ words[2] ^ (value->header >> 14 & 1));
        unset::box();
        return;
    }
    Money money = read(*value);
    money.units = random_up_to(money.units);
    write(value, money);
}

}  // namespace oka::money
