#include "datatypes/char.h"

#include <algorithm>
#include <cmath>

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/types.h"

namespace oka::char_ {

namespace {

using integer::MathOp;

Cell result;  // the answer of make and to, copied out by the dispatcher at once

const Cell* answer(int64_t code_point, const Cell* spec) {
    if (code_point < 0 || code_point > unicode::kMaxCodePoint) fire(Err::script_out_of_range, spec);
    return make_at(&result, uint32_t(code_point));
}

[[noreturn]] void refuse(const Cell* spec) { error::fire_on_type(Err::script_bad_to_arg, Type::Char, spec); }

// The UTF-8 sequence at the head of a binary!.
uint32_t decode_head(const Cell& binary) {
    BufPtr<uint8_t> head = series::unit_at(binary, binary.head());
    uint32_t length = std::min(std::max(unicode::utf8_lead_length(*head), 1u), series::rs_length_q(binary));
    int32_t code_point = unicode::decode_utf8_checked(head.get(), length);
    if (code_point < 0) fire(Err::access_invalid_utf8, &binary);  // the sequence is cut short
    return uint32_t(code_point);
}

// make and to: the code point at the head of a text, or a number that is one.
const Cell* make(Cell*, Cell* spec, Type) {
    switch (spec->type()) {
    case Type::Char:
    case Type::Integer: return answer(spec->int32(), spec);
    case Type::Float:
    case Type::Percent: {
        double value = spec->f64();
        if (!(std::fabs(value) <= unicode::kMaxCodePoint + 1.0)) fire(Err::script_out_of_range, spec);  // or NaN
        return answer(int64_t(value), spec);  // truncated toward zero
    }
    default: break;
    }
    bool text = is_a(spec->type(), TypeClass::any_string) || spec->is(Type::Binary);
    if (!text || series::rs_tail_q(*spec)) refuse(spec);
    return answer(spec->is(Type::Binary) ? decode_head(*spec) : string::rs_abs_at(*spec, spec->head()), spec);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    string::append_char(buffer->node(), get(*value));
    return part - 1;
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    string::concatenate_literal(buffer, "#\"", 2);
    string::mold_escape_char(buffer, get(*value), options.all);
    string::append_char(buffer->node(), '"');
    return part - 4;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    bool exact = op == kCompareStrictEqual || op == kCompareFind;
    if (exact && !value2->is(Type::Char)) return 1;
    if (!value2->is(Type::Char) && !value2->is(Type::Integer)) return kNotComparable;
    int64_t difference = int64_t(get(*value1)) - value2->int32();
    return difference < 0 ? -1 : difference > 0 ? 1 : 0;
}

// The char in the result slot, the other operand after it; the integer arithmetic computes, and its
// answer must be a code point. A quotient is truncated toward zero. A vector on the right takes the
// char as its scalar.
template <MathOp Op>
void math() {
    Cell* args = stack::arguments();
    int32_t operand = 0;
    switch (args[1].type()) {
    case Type::Char:
    case Type::Integer: operand = args[1].int32(); break;
    case Type::Float: operand = float_::to_int32(float_::get(args[1])); break;
    case Type::Vector: vector::do_math_scalar(Op, 1); return;
    default: {
        Cell datatype;
        fire(Err::script_invalid_type, datatype::make_at(&datatype, args[1].type()));
    }
    }
    Cell answer;
    integer::do_math_op(int32_t(get(args[0])), operand, Op, &answer);
    bool whole = answer.is(Type::Integer) || Op == MathOp::divide;  // a float! sum, difference or product overflowed
    int64_t code_point = answer.is(Type::Integer) ? integer::get(answer) : int64_t(std::trunc(float_::get(answer)));
    if (!whole || code_point < 0 || code_point > unicode::kMaxCodePoint) fire(Err::math_overflow);
    make_at(args, uint32_t(code_point));
}

}  // namespace

void init() {
    datatype::register_(Type::Char, {
                                        implements<Act::make>(make),
                                        inherits<Act::random>(),
                                        implements<Act::to>(make),
                                        implements<Act::form>(form),
                                        implements<Act::mold>(mold),
                                        implements<Act::compare>(compare),
                                        inherits<Act::absolute>(),
                                        implements<Act::add>(math<MathOp::add>),
                                        implements<Act::divide>(math<MathOp::divide>),
                                        implements<Act::multiply>(math<MathOp::multiply>),
                                        implements<Act::remainder>(math<MathOp::remainder>),
                                        implements<Act::subtract>(math<MathOp::subtract>),
                                        inherits<Act::even_q>(),
                                        inherits<Act::odd_q>(),
                                        implements<Act::and_>(math<MathOp::and_>),
                                        implements<Act::or_>(math<MathOp::or_>),
                                        implements<Act::xor_>(math<MathOp::xor_>),
                                    });
}

Cell* make_in(const Cell& block, uint32_t code_point) { return make_at(alloc::alloc_tail(block).get(), code_point); }

}  // namespace oka::char_
