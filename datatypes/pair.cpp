#include "datatypes/pair.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/none.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "evaluator/lexer.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/random.h"
#include "runtime/registry.h"
#include "runtime/types.h"

namespace oka::pair {

namespace {

using integer::MathOp;

Cell result;  // the answer of make, to, eval-path and pick, copied out by the dispatcher at once

[[noreturn]] void refuse(const Cell* spec) { error::fire_on_type(Err::script_bad_to_arg, Type::Pair, spec); }

// A double truncated toward zero, or script invalid-arg with `culprit` when no 32-bit integer holds it.
int32_t truncated(double value, const Cell& culprit) {
    if (integer::overflow_q(value)) fire(Err::script_invalid_arg, &culprit);
    return int32_t(value);
}

bool number_q(const Cell& value) { return value.is(Type::Integer) || value.is(Type::Float); }

// The first two values of a block, each an integer! or a float!; those after them do not count.
const Cell* from_block(Cell* block) {
    if (block::rs_length_q(*block) < 2) fire(Err::syntax_malconstruct, block);
    Cell first = block::rs_head(block)[0], second = block::rs_head(block)[1];
    if (!number_q(first) || !number_q(second)) fire(Err::syntax_malconstruct, block);
    return make_at(&result, get_int(first), get_int(second));
}

const Cell* make(Cell*, Cell* spec, Type) {
    switch (spec->type()) {
    case Type::Pair: return spec;
    case Type::Integer:
    case Type::Float: {
        int32_t n = get_int(*spec);
        return make_at(&result, n, n);
    }
    case Type::Block: return from_block(spec);
    case Type::Point2D:
        return make_at(&result, truncated(point::get(*spec, 0), *spec), truncated(point::get(*spec, 1), *spec));
    case Type::String: {
        // The one value the text holds must be a pair.
        const Cell* value = lexer::scan_single(*spec, &result);
        if (!value->is(Type::Pair)) refuse(spec);
        return value;
    }
    default: refuse(spec);
    }
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    char text[24];
    char* out = std::to_chars(text, text + sizeof text, x_of(*value)).ptr;
    *out++ = 'x';
    *std::to_chars(out, text + sizeof text - 1, y_of(*value)).ptr = '\0';
    return string::write_token(buffer, text, false, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return form(value, buffer, options.limit, part);
}

// The coordinate a word names, x 1 or y 2, letter case ignored; 0 for any other value.
int32_t named(const Cell& word) {
    if (!word.is(Type::Word)) return 0;
    if (symbol::named_q(word.symbol(), Sym::x)) return 1;
    return symbol::named_q(word.symbol(), Sym::y) ? 2 : 0;
}

int32_t coordinate(const Cell& pair, int32_t index) { return index == 1 ? x_of(pair) : y_of(pair); }

// A set changes the pair in its cell; the interpreter stores it back where the path took it from,
// which tells an owning object of the change.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    int32_t index = element->is(Type::Integer) ? integer::get(*element) : named(*element);
    if (index != 1 && index != 2) fire(Err::script_invalid_path, step.path ? step.path : &none::value, element);
    if (!value) return integer::make_at(&result, coordinate(*parent, index));
    if (!value->is(Type::Integer)) error::fire_on_type(Err::script_invalid_type, value->type());
    if (index == 1)
        parent->set_x(value->int32());
    else
        parent->set_y(value->int32());
    return value;
}

const Cell* pick(Cell* pair, int32_t index, Cell* index_cell) {
    if (index_cell->is(Type::Word)) {
        index = named(*index_cell);
        if (index == 0) fire(Err::script_cannot_use, index_cell, pair);
    }
    if (index != 1 && index != 2) fire(Err::script_out_of_range, index_cell);
    return integer::make_at(&result, coordinate(*pair, index));
}

int32_t order(int32_t a, int32_t b) { return a < b ? -1 : a > b ? 1 : 0; }

// The same ordering serves every op: a pair equals another when both coordinates do. A point2D! on the
// other side (but under the ops that want the same type) compares the pair made a point.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    bool same_type_only = op == kCompareStrictEqual || op == kCompareSame || op == kCompareFind;
    if (value2->is(Type::Point2D) && !same_type_only) {
        Cell point = *value1;
        return actions::call<Act::compare>(to_point2D(&point), value2, op);
    }
    if (!value2->is(Type::Pair)) return same_type_only ? 1 : kNotComparable;
    int32_t by_x = order(x_of(*value1), x_of(*value2));
    return by_x != 0 ? by_x : order(y_of(*value1), y_of(*value2));
}

void absolute() {
    Cell* pair = stack::arguments();
    if (x_of(*pair) == INT32_MIN || y_of(*pair) == INT32_MIN) fire(Err::math_overflow);
    make_at(pair, std::abs(x_of(*pair)), std::abs(y_of(*pair)));
}

// No coordinate wraps: the negation of the smallest integer makes the pair a point2D!, as 0x0 minus
// the pair does.
void negate(Cell* value) {
    int32_t x = x_of(*value), y = y_of(*value);
    if (x == INT32_MIN || y == INT32_MIN)
        point2D::make_at(value, 0.0f - float(x), 0.0f - float(y));
    else
        make_at(value, -x, -y);
}

void reverse(Cell* pair, Cell*, Cell*) { make_at(pair, y_of(*pair), x_of(*pair)); }

// Each coordinate is rounded as an integer is, to its own scale when the scale is a pair; a result
// that the scale makes a float is truncated.
void round(Cell* value, const RoundOptions& options) {
    const Cell* scale = options.scale;
    bool per_coordinate = scale && scale->is(Type::Pair);
    int32_t rounded[2];
    for (int32_t index = 1; index <= 2; index++) {
        Cell number, own_scale;
        RoundOptions how = options;
        if (per_coordinate)
            how.scale = integer::make_at(&own_scale, coordinate(*scale, index));
        else if (!scale)
            how.scale = integer::make_at(&own_scale, 1);
        float_::round(float_::make_at(&number, coordinate(*value, index)), how);
        rounded[index - 1] = get_int(number);
    }
    make_at(value, rounded[0], rounded[1]);
}

void random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        oka::random::seed(uint32_t(value->x() ^ value->y()));
        unset::box();
        return;
    }
    make_at(value, oka::random::int_(secure, x_of(*value)), oka::random::int_(secure, y_of(*value)));
}

// A pair times or divided by a float is a point2D!.
void scale_by(Cell* pair, const Cell& factor, MathOp op) {
    double f = float_::get(factor);
    if (op == MathOp::multiply ? !std::isfinite(f) : std::isnan(f)) fire(Err::script_invalid_arg, &factor);
    double x = x_of(*pair), y = y_of(*pair);
    if (op == MathOp::multiply)
        point2D::make_at(pair, float(x * f), float(y * f));
    else
        point2D::make_at(pair, float(x / f), float(y / f));
}

// Qualified: ADL on the op also finds integer::do_math.
template <MathOp Op>
void math() {
    pair::do_math(Op);
}

}  // namespace

void init() {
    datatype::register_(Type::Pair, {
                                        implements<Act::make>(make),
                                        implements<Act::random>(random),
                                        implements<Act::to>(make),
                                        implements<Act::form>(form),
                                        implements<Act::mold>(mold),
                                        implements<Act::eval_path>(eval_path),
                                        implements<Act::compare>(compare),
                                        implements<Act::absolute>(absolute),
                                        implements<Act::add>(math<MathOp::add>),
                                        implements<Act::divide>(math<MathOp::divide>),
                                        implements<Act::multiply>(math<MathOp::multiply>),
                                        implements<Act::negate>(negate),
                                        implements<Act::remainder>(math<MathOp::remainder>),
                                        implements<Act::round>(round),
                                        implements<Act::subtract>(math<MathOp::subtract>),
                                        implements<Act::and_>(math<MathOp::and_>),
                                        implements<Act::or_>(math<MathOp::or_>),
                                        implements<Act::xor_>(math<MathOp::xor_>),
                                        implements<Act::pick>(pick),
                                        implements<Act::reverse>(reverse),
                                    });
}

int32_t get_int(const Cell& number) {
    return number.is(Type::Integer) ? integer::get(number) : truncated(float_::get(number), number);
}

Cell* to_point2D(Cell* cell) { return point2D::make_at(cell, float(x_of(*cell)), float(y_of(*cell))); }

void do_math(MathOp op) {
    Cell* args = stack::arguments();
    Cell& right = args[1];
    int32_t rx, ry;
    switch (right.type()) {
    case Type::Pair:
        rx = x_of(right);
        ry = y_of(right);
        break;
    case Type::Integer: rx = ry = integer::get(right); break;
    case Type::Point2D:
        to_point2D(args);
        point::do_math(op);
        return;
    case Type::Float:
    case Type::Percent:
        if (op == MathOp::multiply || op == MathOp::divide) {
            scale_by(args, right, op);
            return;
        }
        rx = ry = get_int(right);
        break;
    default: error::fire_on_type(Err::script_invalid_type, right.type());
    }
    // Both coordinates are computed before either is stored: an error leaves the pair as it was.
    Cell x, y;
    integer::do_math_op(x_of(args[0]), rx, op, &x);
    integer::do_math_op(y_of(args[0]), ry, op, &y);
    if (x.is(Type::Integer) && y.is(Type::Integer)) {
        make_at(args, integer::get(x), integer::get(y));
        return;
    }
    // A coordinate left the integers: the whole operation again, in floats.
    make_at(&right, rx, ry);
    to_point2D(&right);
    to_point2D(args);
    point::do_math(op);
}

}  // namespace oka::pair
