#include "datatypes/time.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/lexer.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/registry.h"
#include "runtime/types.h"

namespace oka::time {

namespace {

enum Field { kHour = 1, kMinute = 2, kSecond = 3 };

constexpr double kSmallest = 0.000001;  // the smallest seconds written, and the nudge of even? and odd?

double hours_of(double seconds) { return std::trunc(seconds / 3600.0); }
double minutes_of(double seconds) { return std::floor(std::fmod(std::fabs(seconds), 3600.0) / 60.0); }
// The rest below a minute, with the time's sign.
double seconds_of(double seconds) { return std::fmod(seconds, 60.0); }

[[noreturn]] void raise_invalid(const Cell* spec) { error::fire_on_type(Err::script_bad_to_arg, Type::Time, spec); }

Cell result;  // the answer of make, to, eval-path and pick, copied out by the dispatcher at once

// [hours minutes seconds], any of them left out from the end; only the hours may be negative, which
// makes the whole time negative.
double from_block(Cell* block) {
    constexpr double kFieldSeconds[] = {3600.0, 60.0, 1.0};
    uint32_t count = block::rs_length_q(*block);
    if (count > 3) raise_invalid(block);
    BufPtr<Cell> cells = block::rs_head(block);
    double total = 0.0, sign = 1.0;
    for (uint32_t i = 0; i < count; i++) {
        const Cell& field = cells[i];
        if (!field.is(Type::Integer) && !(i == 2 && field.is(Type::Float))) raise_invalid(block);
        double value = field.is(Type::Integer) ? integer::get(field) : float_::get(field);
        if (value < 0) {
            if (i > 0) raise_invalid(block);
            sign = -1.0;
        }
        total += std::fabs(value) * kFieldSeconds[i];
    }
    return sign * total;
}

const Cell* make(Cell*, Cell* spec, Type) {
    switch (spec->type()) {
    case Type::Time: return spec;
    case Type::Integer: return make_at(&result, integer::get(*spec));
    case Type::Float:
    case Type::Percent: return make_at(&result, float_::get(*spec));
    case Type::Block:
    case Type::Paren:
    case Type::Hash: return make_at(&result, from_block(spec));
    default: {
        // Text: the one value it holds must be a time.
        if (!is_a(spec->type(), TypeClass::any_string)) raise_invalid(spec);
        const Cell* value = lexer::scan_single(*spec, &result);
        if (!value->is(Type::Time)) raise_invalid(spec);
        return value;
    }
    }
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) { return format(get(*value), buffer, part); }

int32_t mold(Cell* value, Cell* buffer, const MoldOptions&, int32_t part, int32_t) {
    return format(get(*value), buffer, part);
}

const Cell* get_field(const Cell& time, int32_t field) {
    double seconds = get(time);
    switch (field) {
    case kHour: return integer::make_at(&result, get_hours(seconds));
    case kMinute: return integer::make_at(&result, get_minutes(seconds));
    default: return float_::make_at(&result, seconds_of(seconds));
    }
}

// Each field changes by the difference between its new and its old value, the others staying as they
// are; the minute counts toward the time's sign.
void set_field(Cell* time, int32_t field, const Cell& value) {
    bool whole = value.is(Type::Integer);
    if (!whole && !(field == kSecond && value.is(Type::Float))) fire(Err::script_invalid_arg, &value);
    double seconds = get(*time), target = whole ? integer::get(value) : float_::get(value);
    switch (field) {
    case kHour: seconds -= (hours_of(seconds) - target) * 3600.0; break;
    case kMinute: seconds -= (seconds < 0 ? -1.0 : 1.0) * (minutes_of(seconds) - target) * 60.0; break;
    default: seconds -= seconds_of(seconds) - target; break;
    }
    time->set_f64(seconds);
}

// The field a word names, case ignored (hour, minute, second), or 0.
int32_t named_field(const Cell& element) {
    if (!element.is(Type::Word)) return 0;
    if (symbol::named_q(element.symbol(), Sym::hour)) return kHour;
    if (symbol::named_q(element.symbol(), Sym::minute)) return kMinute;
    if (symbol::named_q(element.symbol(), Sym::second)) return kSecond;
    return 0;
}

// Selects a field by its number, 1 to 3, or its name; with a value, sets it in the time.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    int32_t field = element->is(Type::Integer) ? integer::get(*element) : named_field(*element);
    if (field < kHour || field > kSecond) fire(Err::script_invalid_path, step.path ? step.path : &none::value, element);
    if (!value) return get_field(*parent, field);
    set_field(parent, field, *value);
    return value;
}

const Cell* pick(Cell* time, int32_t index, Cell* index_cell) {
    if (index_cell->is(Type::Word)) {
        index = named_field(*index_cell);
        if (index == 0) fire(Err::script_cannot_use, index_cell, time);
    }
    if (index < kHour || index > kSecond) fire(Err::script_out_of_range, index_cell);
    return get_field(*time, index);
}

// A date on the right is refused by subtract, a time by multiply.
void refuse(Type right) {
    if (stack::arguments()[1].is(right)) error::fire_on_action(Err::script_not_related, Type::Time);
}

void add() {
    if (stack::arguments()[1].is(Type::Date))
        date::add_swapped();
    else
        float_::do_math(integer::MathOp::add);
}

void subtract() {
    refuse(Type::Date);
    float_::do_math(integer::MathOp::subtract);
}

void multiply() {
    refuse(Type::Time);
    float_::do_math(integer::MathOp::multiply);
}

// A time divided by a time is a plain ratio.
void divide() {
    Cell* args = stack::arguments();
    bool ratio = args[1].is(Type::Time);
    float_::do_math(integer::MathOp::divide);
    if (ratio) args->set_type(Type::Float);
}

void round(Cell* value, const RoundOptions& options) {
    float_::round(value, options);
    make_at(value, value->is(Type::Integer) ? integer::get(*value) : get(*value));
}

bool even_q(Cell* value) {
    double seconds = get(*value);
    double nudged = seconds + (seconds < 0 ? -kSmallest : kSmallest);
    return (float_::to_int32(seconds_of(nudged)) & 1) == 0;
}

bool odd_q(Cell* value) { return !even_q(value); }

// The text of the seconds field, or nothing below the smallest shown.
const char* seconds_text(double seconds) {
    return seconds < kSmallest ? nullptr : float_::format(seconds, float_::FormatKind::seconds);
}

// The seconds field as written: "00" when below the smallest shown, else with at least two digits
// before the point.
char* put_seconds(char* out, double seconds) {
    const char* text = seconds_text(seconds);
    if (!text) return std::strcpy(out, "00") + 2;
    size_t length = std::strlen(text);
    if (length == 1 || text[1] == '.') *out++ = '0';
    return std::strcpy(out, text) + length;
}

}  // namespace

void init() {
    datatype::register_(Type::Time, {
                                        implements<Act::make>(make),
                                        inherits<Act::random>(),
                                        implements<Act::to>(make),
                                        implements<Act::form>(form),
                                        implements<Act::mold>(mold),
                                        implements<Act::eval_path>(eval_path),
                                        inherits<Act::compare>(),
                                        inherits<Act::absolute>(),
                                        implements<Act::add>(add),
                                        implements<Act::divide>(divide),
                                        implements<Act::multiply>(multiply),
                                        inherits<Act::negate>(),
                                        inherits<Act::remainder>(),
                                        implements<Act::round>(round),
                                        implements<Act::subtract>(subtract),
                                        implements<Act::even_q>(even_q),
                                        implements<Act::odd_q>(odd_q),
                                        implements<Act::pick>(pick),
                                    });
}

Cell* make_in(const Cell& block, double seconds) { return make_at(alloc::alloc_tail(block).get(), seconds); }

int32_t get_hours(double seconds) { return float_::to_int32(hours_of(seconds)); }
int32_t get_minutes(double seconds) { return float_::to_int32(minutes_of(seconds)); }

double as_shown(double seconds) {
    double rest = seconds_of(seconds);
    const char* text = seconds_text(rest);
    return text && std::strcmp(text, "60") == 0 ? seconds - rest + 60.0 : seconds;
}

int32_t format(double seconds, Cell* buffer, int32_t part) {
    if (!std::isfinite(seconds))
        return string::write_token(buffer, float_::format(seconds, float_::FormatKind::seconds), false, part);
    // The hours of the largest double have 305 digits.
    char text[384];
    char* out = text;
    if (seconds < 0) *out++ = '-';
    seconds = as_shown(std::fabs(seconds));
    out = std::to_chars(out, text + 320, hours_of(seconds), std::chars_format::fixed, 0).ptr;
    int32_t minutes = int32_t(minutes_of(seconds));
    *out++ = ':';
    *out++ = char('0' + minutes / 10);
    *out++ = char('0' + minutes % 10);
    *out++ = ':';
    *put_seconds(out, seconds_of(seconds)) = '\0';
    return string::write_token(buffer, text, false, part);
}

}  // namespace oka::time
