#include "datatypes/integer.h"

#include <charconv>
#include <cmath>

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/registry.h"

namespace oka::integer {

namespace {

constexpr int32_t kMin = INT32_MIN;

[[noreturn]] void overflow() { fire(Err::math_overflow); }

Cell integer_datatype() {
    Cell c;
    datatype::make_at(&c, Type::Integer);
    return c;
}

int32_t from_float(double value) {
    if (overflow_q(value)) {
        Cell type = integer_datatype();
        fire(Err::script_type_limit, &type);
    }
    return int32_t(value);  // truncated toward zero
}

Cell result;  // the answer of make and to, copied out by the dispatcher at once

const Cell* answer(int32_t value) { return make_at(&result, value); }

const Cell* to(Cell*, Cell* spec, Type) {
    switch (spec->type()) {
    case Type::Integer:
    case Type::Char: return answer(int32_t(spec->data2));
    case Type::Float:
    case Type::Percent: return answer(from_float(spec->f64()));
    case Type::Time: return answer(from_float(spec->f64() + 0.5));
    default: {
        Cell type = integer_datatype();
        fire(Err::script_bad_to_arg, &type, spec);
    }
    }
}

const Cell* make(Cell* proto, Cell* spec, Type target) {
    if (spec->is(Type::Logic)) return answer(spec->data1 ? 1 : 0);
    return to(proto, spec, target);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    return string::write_token(buffer, form_signed(get(*value)), false, part);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

int32_t sign_of(int64_t difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    bool exact = op == kCompareStrictEqual || op == kCompareFind;
    if (exact && !value2->is(Type::Integer)) return 1;
    switch (value2->type()) {
    case Type::Integer:
    case Type::Char: return sign_of(int64_t(get(*value1)) - int32_t(value2->data2));
    case Type::Float:
    case Type::Percent:
    case Type::Time: {
        // Integers meet floats on the floats' terms, tolerance included.
        Cell as_float{uint8_t(Type::Float), 0, 0, 0};
        as_float.set_f64(get(*value1));
        return actions::call<Act::compare>(&as_float, value2, op);
    }
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

}  // namespace

void init() {
    datatype::register_(Type::Integer, {
                                           implements<Act::make>(make),
                                           implements<Act::to>(to),
                                           implements<Act::form>(form),
                                           implements<Act::mold>(mold),
                                           implements<Act::compare>(compare),
                                           implements<Act::absolute>(absolute),
                                           implements<Act::negate>(negate),
                                           implements<Act::even_q>(even_q),
                                           implements<Act::odd_q>(odd_q),
                                           implements<Act::complement>(complement),
                                       });
}

Cell* make_in(const Cell& block, int32_t value) { return make_at(alloc::alloc_tail(block).get(), value); }

const char* form_signed(int32_t value) {
    static char text[12];
    *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
    return text;
}

bool overflow_q(double value) { return !(value >= -2147483648.0 && value < 2147483648.0); }

}  // namespace oka::integer
