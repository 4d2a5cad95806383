#include "datatypes/float.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>

#include "datatypes/block.h"
#include "datatypes/money.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "evaluator/lexer.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/registry.h"
#include "runtime/types.h"

namespace oka {

namespace {

const char* special_text(double value) {
    if (std::isnan(value)) return "1.#NaN";
    if (std::isinf(value)) return value < 0 ? "-1.#INF" : "1.#INF";
    return nullptr;
}

// ---- decimal digits ----

constexpr int kMaxDigits = 17;  // enough to tell every two doubles apart

// A positive double as 0.d1d2...dn x 10^point, without trailing zeros.
struct Decimal {
    char digits[kMaxDigits];
    int count = 0;
    int point = 0;
};

// The shortest digits that read back to the same double, or at most `precision` digits correctly
// rounded: the scientific text of to_chars, taken apart.
Decimal decimal_of(double magnitude, int precision) {
    char text[32];
    std::to_chars_result r = precision > 0
                                 ? std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific,
                                                 std::min(precision, kMaxDigits) - 1)
                                 : std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
    const char* mark = std::find(text, r.ptr, 'e');
    Decimal d;
    for (const char* c = text; c < mark; c++)
        if (*c != '.') d.digits[d.count++] = *c;
    while (d.count > 1 && d.digits[d.count - 1] == '0') d.count--;
    const char* exponent = mark + 1 + (mark[1] == '+');
    std::from_chars(exponent, r.ptr, d.point);
    d.point += 1;
    return d;
}

char* put(char* out, const char* text, int length) {
    std::memcpy(out, text, length);
    return out + length;
}

char* put_zeros(char* out, int count) {
    std::memset(out, '0', std::max(count, 0));
    return out + std::max(count, 0);
}

// d1.d2...dn e(point - 1)
char* put_exponent_form(char* out, const Decimal& d, bool point_zero) {
    *out++ = d.digits[0];
    if (d.count > 1) {
        *out++ = '.';
        out = put(out, d.digits + 1, d.count - 1);
    } else if (point_zero) {
        out = put(out, ".0", 2);
    }
    *out++ = 'e';
    return std::to_chars(out, out + 8, d.point - 1).ptr;
}

// 0.000d1...dn
char* put_fraction_form(char* out, const Decimal& d) {
    out = put(out, "0.", 2);
    out = put_zeros(out, -d.point);
    return put(out, d.digits, d.count);
}

// d1...dp.dp+1...dn, zeros filling up to the point
char* put_plain_form(char* out, const Decimal& d, bool point_zero) {
    int whole = std::min(d.count, d.point);
    out = put(out, d.digits, whole);
    out = put_zeros(out, d.point - d.count);
    if (d.count > d.point) {
        *out++ = '.';
        return put(out, d.digits + whole, d.count - whole);
    }
    return point_zero ? put(out, ".0", 2) : out;
}

// ---- the printf-style forms ----

struct KindRules {
    int digits;        // significant digits of the first form
    int retry_digits;  // of the form made again after a rounding tail
    const char* zero;  // the text of a double closer to zero than the epsilon
    char suffix;       // '%': "%" appended; '.': ".0" for a text without a point; 0: nothing
};

constexpr KindRules kKindRules[] = {
    {7, 5, "0.0", '.'},    // single
    {16, 14, "0.0", '.'},  // float_
    {7, 14, "0%", '%'},    // single_percent
    {13, 14, "0%", '%'},   // percent
    {6, 5, "0.0", 0},      // seconds
    {7, 5, "0", 0},        // coordinate
};
static_assert(std::size(kKindRules) == size_t(float_::FormatKind::coordinate) + 1, "one row per kind");

// The exponent mark, or the end of the text.
char* exponent_mark(char* text) { return std::find(text, text + std::strlen(text), 'e'); }

// printf's "%.<digits>g".
void put_general(char* text, double value, int digits) {
    *std::to_chars(text, text + 31, value, std::chars_format::general, digits).ptr = '\0';
}

// A mantissa longer than 16 characters (17 when it starts with "0") that ends in 01 or 99 is the
// tail of a binary fraction, not a digit anybody wrote.
bool rounding_tail_q(char* text) {
    char* mark = exponent_mark(text);
    const char* digits = text + (text[0] == '-');
    bool long_mantissa = *mark ? mark - text > 16 : mark - text > (digits[0] == '0' ? 17 : 16);
    if (!long_mantissa) return false;
    return (mark[-2] == '0' && mark[-1] == '1') || (mark[-2] == '9' && mark[-1] == '9');
}

// e+020 becomes e20, e-005 becomes e-5.
void compact_exponent(char* text) {
    char* mark = exponent_mark(text);
    if (!*mark) return;
    char* digits = mark + 1;
    char* out = digits;
    if (*digits == '+') digits++;
    if (*digits == '-') *out++ = *digits++;
    while (digits[0] == '0' && digits[1]) digits++;
    std::memmove(out, digits, std::strlen(digits) + 1);
}

void append_suffix(char* text, char suffix) {
    if (suffix == '%') {
        std::strcat(text, "%");
    } else if (suffix == '.' && !std::strchr(text, '.')) {
        char* mark = exponent_mark(text);
        std::memmove(mark + 2, mark, std::strlen(mark) + 1);
        std::memcpy(mark, ".0", 2);
    }
}

// ---- reading ----

constexpr int64_t kExponentLimit = 1000000000;  // far beyond the exponent of any double

bool digit_q(char c) { return c >= '0' && c <= '9'; }

// The written exponent from `s` on, saturated; `stop` receives where its digits end.
int64_t read_exponent(const char* s, const char* end, const char** stop) {
    bool negative = s < end && *s == '-';
    if (s < end && (*s == '+' || *s == '-')) s++;
    int64_t value = 0;
    for (; s < end && digit_q(*s); s++) value = std::min(value * 10 + (*s - '0'), kExponentLimit);
    *stop = s;
    return negative ? -value : value;
}

}  // namespace

namespace sys {

const char* form_float(double value, int32_t precision, bool point_zero) {
    static char text[40];
    if (const char* special = special_text(value)) return special;
    if (value == 0.0) return std::signbit(value) ? (point_zero ? "-0.0" : "-0") : (point_zero ? "0.0" : "0");
    Decimal d = decimal_of(std::fabs(value), precision);
    char* out = text;
    if (value < 0) *out++ = '-';
    if (d.point >= 18 || d.point <= -7)
        out = put_exponent_form(out, d, point_zero);
    else if (d.point <= 0)
        out = put_fraction_form(out, d);
    else
        out = put_plain_form(out, d, point_zero);
    *out = '\0';
    return text;
}

double strtod(const char* start, const char* end, int32_t shift, int32_t* left) {
    const char* s = start;
    bool negative = s < end && *s == '-';
    if (s < end && (*s == '+' || *s == '-')) s++;
    while (s < end && *s == '0') s++;
    *left = 0;
    if (s == end) return 0.0;  // a zero written with a sign is still positive
    if (end - s >= 4 && digit_q(s[0]) && s[1] == '.' && s[2] == '#') {
        if ((s[3] | 0x20) == 'i') return negative ? -HUGE_VAL : HUGE_VAL;
        if ((s[3] | 0x20) == 'n') return std::numeric_limits<double>::quiet_NaN();
    }
    // The significant digits and their exponent, handed to from_chars as "digits e exponent".
    std::string text = negative ? "-" : "";
    int64_t exponent = shift;
    for (; s < end && digit_q(*s); s++) text += *s;
    if (s < end && *s == '.') {
        for (s++; s < end && digit_q(*s); s++, exponent--)
            if (text.size() > size_t(negative) || *s != '0') text += *s;
    }
    if (end - s >= 2 && (*s | 0x20) == 'e') exponent += read_exponent(s + 1, end, &s);
    *left = int32_t(end - s);
    int64_t digits = int64_t(text.size()) - negative;
    if (digits == 0) return negative ? -0.0 : 0.0;
    text += 'e';
    text += std::to_string(exponent);
    double value;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc::result_out_of_range) {
        value = exponent + digits > 0 ? HUGE_VAL : 0.0;  // the digits lie left or right of the point
        if (negative) value = -value;
    }
    return value;
}

double degrees_to_radians(double angle, int32_t mode) {
    double d = std::fmod(angle, 360.0);
    if (d > 180.0 || d < -180.0) d += d > 0.0 ? -360.0 : 360.0;
    if (d < -90.0 || d > 90.0) {
        if (mode == 0) d += d < 0.0 ? 180.0 : -180.0;
        if (mode == 2) d = d >= 0.0 ? 180.0 - d : -180.0 - d;
    }
    return d * 3.141592653589793 / 180.0;
}

}  // namespace sys

namespace float_ {

double number_of(const Cell& cell) {
    return cell.is(Type::Integer) || cell.is(Type::Char) ? double(integer::get(cell)) : get(cell);
}

namespace {

// ---- the float! datatype ----

Cell result;  // the answer of make and to, copied out by the dispatcher at once

// [mantissa exponent]: mantissa x 10^exponent, the exponent taken as a whole number.
double from_block(Cell* block, Type target) {
    BufPtr<Cell> cells = block::rs_head(block);
    if (block::rs_length_q(*block) != 2 || !is_a(cells[0].type(), TypeClass::amount) ||
        !is_a(cells[1].type(), TypeClass::amount))
        error::fire_on_type(Err::script_bad_to_arg, target, block);
    double mantissa = number_of(cells[0]), exponent = std::trunc(number_of(cells[1]));
    return exponent < 0 ? mantissa / std::pow(10.0, -exponent) : mantissa * std::pow(10.0, exponent);
}

// The double whose bits are the first eight bytes of a binary from its head (fewer when it holds
// fewer), read as a number most significant byte first.
double from_binary(const Cell& binary) {
    string::Text bytes = string::text_of(binary);
    uint64_t bits = 0;
    for (uint32_t i = 0; i < std::min(bytes.length, 8u); i++) bits = bits << 8 | bytes.at(i);
    return std::bit_cast<double>(bits);
}

// Text holding a number, as the lexer writes one ("," may stand for the decimal point); for a percent!,
// the one value the text holds, an integer!, float! or percent! (50%, 0.5 and 0,5 all read as 50%).
double from_text(Cell* text, Type target) {
    if (target == Type::Percent) {
        Cell value;
        const Cell* scanned = lexer::scan_single(*text, &value);
        if (!is_a(scanned->type(), TypeClass::number)) error::fire_on_type(Err::script_bad_to_arg, target, text);
        return number_of(*scanned);
    }
    tokenizer::NumberError problem;
    double value = tokenizer::scan_float(string::text_of(*text), problem);
    if (problem != tokenizer::NumberError::none) error::fire_on_type(Err::script_bad_to_arg, target, text);
    return value;
}

const Cell* make(Cell*, Cell* spec, Type target) {
    double value;
    switch (spec->type()) {
    case Type::Integer:
    case Type::Char:
    case Type::Float:
    case Type::Percent:
    case Type::Time: value = number_of(*spec); break;
    case Type::Money: value = money::to_float(*spec); break;
    case Type::Block:
    case Type::Paren:
    case Type::Hash: value = from_block(spec, target); break;
    case Type::Binary: value = from_binary(*spec); break;
    default:
        if (!is_a(spec->type(), TypeClass::any_string)) error::fire_on_type(Err::script_bad_to_arg, target, spec);
        value = from_text(spec, target);
    }
    make_at(&result, value)->set_type(target);
    return &result;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    return string::write_token(buffer, format(get(*value), FormatKind::float_), false, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions&, int32_t part, int32_t) {
    return string::write_token(buffer, sys::form_float(get(*value), 0, true), false, part);
}

// NaN is unordered: every ordering test and every equality with it fails; sorting takes it as equal
// to anything.
int32_t order(double a, double b, int32_t op) {
    if (std::isnan(a) || std::isnan(b)) {
        switch (op) {
        case kCompareGreater:
        case kCompareGreaterEqual: return -1;
        case kCompareSort:
        case kCompareCaseSort: return 0;
        default: return 1;
        }
    }
    return a < b ? -1 : a > b ? 1 : 0;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    bool same_type_only = op == kCompareStrictEqual || op == kCompareSame || op == kCompareFind;
    if (same_type_only && value2->type() != value1->type()) return 1;
    if (value2->is(Type::Money) && !value1->is(Type::Time)) return money::compare_number(value1, value2, op);
    if (value2->is(Type::Char) || !is_a(value2->type(), TypeClass::amount)) return kNotComparable;
    double a = get(*value1), b = number_of(*value2);
    switch (op) {
    case kCompareEqual:
    case kCompareNotEqual: return almost_equal_q(a, b) ? 0 : 1;
    case kCompareStrictEqual: return a == b ? 0 : 1;
    case kCompareSame: return std::bit_cast<uint64_t>(value1->f64()) == std::bit_cast<uint64_t>(value2->f64()) ? 0 : 1;
    default: return order(a, b, op);
    }
}

// The unary actions change the double in place and keep the value's type.
void absolute() {
    Cell* value = stack::arguments();
    value->set_f64(std::fabs(get(*value)));
}

void negate(Cell* value) { value->set_f64(0.0 - get(*value)); }

// Qualified: the op's own namespace offers integer::do_math too.
template <integer::MathOp Op>
void math() {
    float_::do_math(Op);
}

bool even_q(Cell* value) { return (to_int32(get(*value)) & 1) == 0; }
bool odd_q(Cell* value) { return !even_q(value); }

void random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        uint64_t bits = std::bit_cast<uint64_t>(value->f64());
        oka::random::seed(uint32_t(bits) ^ uint32_t(bits >> 32));
        unset::box();
        return;
    }
    value->set_f64(random_value(get(*value), secure));
}

double rounded(double value, double scale, const RoundOptions& how) {
    // Also true for NaN, infinities and a zero scale, which leave the value as it is.
    if (!(std::fabs(value) * 0x1p-53 < scale)) return value;
    // Multiplying by the inverse of a small scale (0.01 is 100.0 exactly) keeps the decimal digits
    // people expect; a subnormal scale, whose inverse is infinite, divides.
    double inverse = 1.0 / scale;
    bool by_inverse = scale < 1.0 && std::isfinite(inverse);
    double steps = by_inverse ? value * inverse : value / scale;
    double magnitude = std::fabs(steps), toward = std::floor(magnitude), fraction = magnitude - toward;
    int half = fraction < 0.5 ? -1 : fraction > 0.5 ? 1 : 0;
    bool away = fraction != 0.0 && away_q(how, steps < 0, half, std::fmod(toward, 2.0) == 0.0);
    double multiple = away ? toward + 1.0 : toward;
    // No step of the scale is zero, of an infinite scale too, where 0 x scale would be NaN.
    if (multiple == 0.0) return 0.0;
    if (steps < 0) multiple = 0.0 - multiple;
    double result = by_inverse ? multiple / inverse : multiple * scale;
    if (std::fabs(result) >= DBL_MAX) fire(Err::math_overflow);
    return result;
}

// The scales of round/to: the numbers and time!, whose payload the result takes with their type.
constexpr int32_t kScaleArgument = 2;  // in the spec "value /to scale ...", as errors name it
bool scale_q(Type type) { return is_a(type, TypeClass::number) || type == Type::Time; }

}  // namespace

bool away_q(const RoundOptions& how, bool negative, int half, bool toward_even) {
    if (how.down) return false;
    if (how.floor) return negative;
    if (how.ceiling) return !negative;
    if (half != 0) return half > 0;
    if (how.even) return !toward_even;
    if (how.half_down) return false;
    if (how.half_ceiling) return !negative;
    return true;
}

void round(Cell* value, const RoundOptions& options) {
    Cell* scale = options.scale;
    if (scale && scale->is(Type::Money)) error::fire_on_action(Err::script_not_related, Type::Money);
    if (scale && !scale_q(scale->type()))
        error::fire_in_function(Err::script_expect_arg, scale->type(), kScaleArgument);
    bool percent = value->is(Type::Percent);
    double step = percent ? 0.01 : 1.0;
    if (scale) step = std::fabs(number_of(*scale)) / (percent ? 100.0 : 1.0);
    double r = rounded(get(*value), step, options);
    if (scale && scale->is(Type::Integer)) {
        integer::make_at(value, to_int32(r));
        return;
    }
    Type type = scale ? scale->type() : value->type();
    make_at(value, r)->set_type(type);
}

void power() {
    Cell* args = stack::arguments();
    if (!args[1].is(Type::Integer) && !args[1].is(Type::Float))
        error::fire_in_function(Err::script_expect_arg, args[1].type(), 1);
    box(std::pow(get(args[0]), number_of(args[1])));
}

void init() {
    datatype::register_(Type::Float, {
                                         implements<Act::make>(make),
                                         implements<Act::random>(random),
                                         implements<Act::to>(make),
                                         implements<Act::form>(form),
                                         implements<Act::mold>(mold),
                                         implements<Act::compare>(compare),
                                         implements<Act::absolute>(absolute),
                                         implements<Act::add>(math<integer::MathOp::add>),
                                         implements<Act::divide>(math<integer::MathOp::divide>),
                                         implements<Act::multiply>(math<integer::MathOp::multiply>),
                                         implements<Act::negate>(negate),
                                         implements<Act::power>(power),
                                         implements<Act::remainder>(math<integer::MathOp::remainder>),
                                         implements<Act::round>(round),
                                         implements<Act::subtract>(math<integer::MathOp::subtract>),
                                         implements<Act::even_q>(even_q),
                                         implements<Act::odd_q>(odd_q),
                                     });
}

Cell* make_in(const Cell& block, double value) { return make_at(alloc::alloc_tail(block).get(), value); }

int32_t to_int32(double value) {
    if (integer::overflow_q(value)) fire(Err::math_overflow);
    return int32_t(value);
}

int32_t to_integer_checked(const Cell& number) {
    if (number.is(Type::Integer)) return integer::get(number);
    if (integer::overflow_q(get(number))) fire(Err::script_out_of_range, &number);
    return int32_t(get(number));
}

bool almost_equal_q(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b || std::fabs(a - b) < DBL_EPSILON) return true;
    // Mapped so that the order of the integers is the order of the doubles, the distance of two
    // doubles is the number of doubles between them.
    auto ordered = [](double d) {
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return bits >> 63 ? 0 - bits : bits | (uint64_t(1) << 63);
    };
    uint64_t x = ordered(a), y = ordered(b);
    return (x > y ? x - y : y - x) <= 10;
}

bool almost_equal_single_q(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::isinf(a) || std::isinf(b)) return false;
    // As for doubles: ordered as integers, the distance is the number of singles between them.
    auto ordered = [](float f) {
        uint32_t bits = std::bit_cast<uint32_t>(f);
        return bits >> 31 ? 0 - bits : bits | (uint32_t(1) << 31);
    };
    uint32_t x = ordered(a), y = ordered(b);
    return (x > y ? x - y : y - x) <= 10;
}

const char* format(double value, FormatKind kind) {
    static char text[40];
    if (const char* special = special_text(value)) return special;
    const KindRules& rules = kKindRules[int(kind)];
    if (pretty_print_q && std::fabs(value) < DBL_EPSILON) return rules.zero;
    if (kind == FormatKind::seconds)
        std::strcpy(text, sys::form_float(value, rules.digits, false));
    else
        put_general(text, value, rules.digits);
    if (pretty_print_q && rounding_tail_q(text)) put_general(text, value, rules.retry_digits);
    compact_exponent(text);
    append_suffix(text, rules.suffix);
    return text;
}

const char* format_single_exactly(float value) {
    static char text[40];
    if (const char* special = special_text(value)) return special;
    if (value == 0.0f) return "0";
    // The lexer reads a coordinate as a double, then rounds it to a single: the check reads it so too.
    constexpr int kSingleDigits = 9;  // enough to tell every two singles apart
    for (int digits = kKindRules[int(FormatKind::coordinate)].digits;; digits++) {
        put_general(text, value, digits);
        double read = 0.0;
        std::from_chars(text, text + std::strlen(text), read);
        if (float(read) == value || digits == kSingleDigits) break;
    }
    compact_exponent(text);
    return text;
}

double do_math_op(double x, double y, integer::MathOp op) {
    switch (op) {
    case integer::MathOp::add: return x + y;
    case integer::MathOp::subtract: return x - y;
    case integer::MathOp::multiply: return x * y;
    case integer::MathOp::divide: return x / y;
    case integer::MathOp::remainder: return std::fmod(x, y);
    default: error::fire_on_action(Err::script_cannot_use, Type::Float);
    }
}

void do_math(integer::MathOp op) {
    Cell* left = stack::arguments();
    Type l = left->type(), r = left[1].type();
    if (r == Type::Money) return money::do_math(op);
    if (r == Type::Tuple) return tuple::do_math(op);
    if (r == Type::Vector) return vector::do_math_scalar(op, 1);
    if (point::coordinates_q(r)) return point::do_math_with_number_left(op);
    if (!is_a(r, TypeClass::amount) || (r == Type::Char && (l == Type::Time || l == Type::Percent)))
        error::fire_on_type(Err::script_invalid_type, r);
    Type type = l == Type::Time || r == Type::Time ? Type::Time : l == Type::Percent ? Type::Percent : Type::Float;
    make_at(left, do_math_op(number_of(*left), number_of(left[1]), op))->set_type(type);
}

double random_value(double value, bool secure) {
    if (secure) {
        double low = oka::random::next_secure(), high = oka::random::next_secure();
        return (high + low / 2147483647.0) * value / 2147483648.0;
    }
    return value * (oka::random::next() & 0x7FFFFFFF) / 2147483647.0;
}

}  // namespace float_

}  // namespace oka
