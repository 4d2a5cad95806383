#include "datatypes/point.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "evaluator/lexer.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/random.h"
#include "runtime/registry.h"

namespace oka::point {

namespace {

using integer::MathOp;

Cell result;  // the answer of make, to, eval-path and pick, copied out by the dispatcher at once

uint32_t count_of(Type type) { return type == Type::Point3D ? 3 : 2; }

Coordinates filled(uint32_t count, float value) {
    Coordinates c;
    c.count = count;
    for (uint32_t i = 0; i < count; i++) c.at[i] = value;
    return c;
}

[[noreturn]] void refuse(Type target, const Cell* spec) { error::fire_on_type(Err::script_bad_to_arg, target, spec); }

bool number_q(const Cell& value) { return value.is(Type::Integer) || value.is(Type::Float); }

// An integer! or float! rounded to a single.
float single_of(const Cell& number) { return float(float_::number_of(number)); }

// The first `count` values of a block, each an integer! or a float!; those after them do not count.
const Cell* from_block(Cell* block, uint32_t count) {
    if (block::rs_length_q(*block) < count) fire(Err::syntax_malconstruct, block);
    Coordinates c;
    c.count = count;
    for (uint32_t i = 0; i < count; i++) {
        Cell value = block::rs_head(block)[i];
        if (!number_q(value)) fire(Err::syntax_malconstruct, block);
        c.at[i] = single_of(value);
    }
    return make_at(&result, c);
}

const Cell* make(Cell*, Cell* spec, Type target) {
    uint32_t count = count_of(target);
    switch (spec->type()) {
    case Type::Integer:
    case Type::Float: return make_at(&result, filled(count, single_of(*spec)));
    case Type::Block: return from_block(spec, count);
    case Type::Pair: return make_at(&result, {{float(pair::x_of(*spec)), float(pair::y_of(*spec)), 0.0f}, count});
    case Type::Point2D: return make_at(&result, {{get(*spec, 0), get(*spec, 1), 0.0f}, count});
    case Type::Point3D:
        if (target != Type::Point3D) refuse(target, spec);
        return spec;
    case Type::String: {
        // The one value the text holds must be a point of the type.
        const Cell* value = lexer::scan_single(*spec, &result);
        if (!value->is(target)) refuse(target, spec);
        return value;
    }
    default: refuse(target, spec);
    }
}

// "(x, y)" or "(x, y, z)", each coordinate as `text` writes it.
int32_t write(const Cell& point, Cell* buffer, int32_t part, const char* (*text)(float)) {
    Coordinates c = coordinates_of(point);  // read before the buffer grows
    part = string::write_token(buffer, "(", false, part);
    for (uint32_t i = 0; i < c.count; i++) {
        if (i > 0) part = string::write_token(buffer, ", ", false, part);
        part = string::write_token(buffer, text(c.at[i]), false, part);
    }
    return string::write_token(buffer, ")", false, part);
}

const char* shown(float value) { return float_::format(value, float_::FormatKind::coordinate); }

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) { return write(*value, buffer, part, shown); }

int32_t mold(Cell* value, Cell* buffer, const MoldOptions&, int32_t part, int32_t) {
    return write(*value, buffer, part, float_::format_single_exactly);
}

// The coordinate a word names, x 1, y 2 and for a point3D! z 3, letter case ignored; 0 for any other
// value.
uint32_t named(const Cell& word, uint32_t count) {
    if (!word.is(Type::Word)) return 0;
    constexpr Sym kNames[] = {Sym::x, Sym::y, Sym::z};
    for (uint32_t i = 0; i < count; i++)
        if (symbol::named_q(word.symbol(), kNames[i])) return i + 1;
    return 0;
}

void set(Cell* point, uint32_t index, float value) {
    Coordinates c = coordinates_of(*point);
    c.at[index - 1] = value;
    make_at(point, c);
}

// A set changes the point in its cell; the interpreter stores it back where the path took it from,
// which tells an owning object of the change.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    uint32_t count = count_of(parent->type());
    int32_t index = element->is(Type::Integer) ? integer::get(*element) : int32_t(named(*element, count));
    if (index < 1 || uint32_t(index) > count)
        fire(Err::script_invalid_path, step.path ? step.path : &none::value, element);
    if (!value) return float_::make_at(&result, get(*parent, uint32_t(index - 1)));
    if (!number_q(*value)) error::fire_on_type(Err::script_invalid_type, value->type());
    set(parent, uint32_t(index), single_of(*value));
    return value;
}

const Cell* pick(Cell* point, int32_t index, Cell* index_cell) {
    uint32_t count = count_of(point->type());
    if (index_cell->is(Type::Word)) {
        index = int32_t(named(*index_cell, count));
        if (index == 0) fire(Err::script_cannot_use, index_cell, point);
    }
    if (index < 1 || uint32_t(index) > count) fire(Err::script_out_of_range, index_cell);
    return float_::make_at(&result, get(*point, uint32_t(index - 1)));
}

// Coordinate by coordinate, x first: the first that differs decides; a NaN decides nothing.
int32_t order(const Coordinates& a, const Coordinates& b) {
    for (uint32_t i = 0; i < a.count; i++) {
        if (a.at[i] == b.at[i] || float_::almost_equal_single_q(a.at[i] - b.at[i], 0.0f)) continue;
        return a.at[i] < b.at[i] ? -1 : a.at[i] > b.at[i] ? 1 : 0;
    }
    return 0;
}

template <class Test>
bool every(const Coordinates& a, const Coordinates& b, Test&& test) {
    for (uint32_t i = 0; i < a.count; i++)
        if (!test(a.at[i], b.at[i])) return false;
    return true;
}

// A pair on the other side of a point2D! compares as a point, but under the ops that want the same
// type.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    bool same_type_only = op == kCompareStrictEqual || op == kCompareSame || op == kCompareFind;
    Cell other = *value2;
    if (other.is(Type::Pair) && value1->is(Type::Point2D) && !same_type_only) pair::to_point2D(&other);
    if (!other.is(value1->type())) return same_type_only ? 1 : kNotComparable;
    Coordinates a = coordinates_of(*value1), b = coordinates_of(other);
    switch (op) {
    case kCompareEqual:
    case kCompareNotEqual: return every(a, b, float_::almost_equal_single_q) ? 0 : 1;
    case kCompareStrictEqual: return every(a, b, [](float x, float y) { return x == y; }) ? 0 : 1;
    case kCompareSame: return value1->content_words() == other.content_words() ? 0 : 1;
    default: return order(a, b);
    }
}

// The unary actions change the coordinates in place.
template <class Change>
void change_each(Cell* point, Change&& change) {
    Coordinates c = coordinates_of(*point);
    for (uint32_t i = 0; i < c.count; i++) c.at[i] = change(c.at[i]);
    make_at(point, c);
}

void absolute() {
    change_each(stack::arguments(), [](float c) { return std::fabs(c); });
}

// 0.0 minus each coordinate, so that a zero stays positive.
void negate(Cell* value) {
    change_each(value, [](float c) { return 0.0f - c; });
}

// x and the last coordinate change places.
void reverse(Cell* point, Cell*, Cell*) {
    Coordinates c = coordinates_of(*point);
    std::swap(c.at[0], c.at[c.count - 1]);
    make_at(point, c);
}

void random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        std::array<uint32_t, 3> words = value->content_words();
        oka::random::seed(hashtable::murmur3(reinterpret_cast<const uint8_t*>(words.data()),
                                             count_of(value->type()) * sizeof(uint32_t)));
        unset::box();
        return;
    }
    change_each(value, [secure](float c) { return c == 0.0f ? c : float(float_::random_value(c, secure)); });
}

// A point scale gives each coordinate its own: a point2D! rounds with a pair! (read as integers) or a
// point of either type, a point3D! with a point of either type, its z with 0.0 (which leaves it as it
// is) from a point2D!.
bool per_coordinate_q(const Cell& point, const Cell* scale) {
    if (!scale) return false;
    return scale->is(Type::Point2D) || scale->is(Type::Point3D) || (scale->is(Type::Pair) && point.is(Type::Point2D));
}

Cell* scale_at(Cell* cell, const Cell& scale, uint32_t i) {
    if (scale.is(Type::Pair)) return integer::make_at(cell, i == 0 ? pair::x_of(scale) : pair::y_of(scale));
    return float_::make_at(cell, i < count_of(scale.type()) ? get(scale, i) : 0.0f);
}

void round(Cell* value, const RoundOptions& options) {
    bool per_coordinate = per_coordinate_q(*value, options.scale);
    Coordinates c = coordinates_of(*value);
    for (uint32_t i = 0; i < c.count; i++) {
        Cell number, own_scale;
        RoundOptions how = options;
        if (per_coordinate) how.scale = scale_at(&own_scale, *options.scale, i);
        float_::round(float_::make_at(&number, c.at[i]), how);
        c.at[i] = float(float_::number_of(number));
    }
    make_at(value, c);
}

template <MathOp Op>
void math() {
    point::do_math(Op);
}

}  // namespace

void init() {
    for (Type type : {Type::Point2D, Type::Point3D}) {
        datatype::register_(type, {
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
                                      implements<Act::pick>(pick),
                                      implements<Act::reverse>(reverse),
                                  });
    }
}

Coordinates coordinates_of(const Cell& point) {
    Coordinates c;
    c.count = count_of(point.type());
    for (uint32_t i = 0; i < c.count; i++) c.at[i] = get(point, i);
    return c;
}

Cell* make_at(Cell* cell, const Coordinates& c) {
    Cell made = Cell::of(c.count == 3 ? Type::Point3D : Type::Point2D);
    Float32x3 xyz{};
    std::copy_n(c.at.begin(), c.count, xyz.begin());
    made.set_coordinates(xyz);
    *cell = made;
    return cell;
}

bool zero_q(const Cell& point) {
    Coordinates c = coordinates_of(point);
    return every(c, c, [](float x, float) { return x == 0.0f; });
}

void do_math(MathOp op) {
    Cell* args = stack::arguments();
    Coordinates left = coordinates_of(args[0]);
    const Cell& right = args[1];
    double operand[3];
    switch (right.type()) {
    case Type::Integer: std::fill_n(operand, 3, double(integer::get(right))); break;
    case Type::Float:
    case Type::Percent: std::fill_n(operand, 3, double(float(float_::get(right)))); break;
    case Type::Pair:
        if (left.count != 2) error::fire_on_type(Err::script_invalid_type, right.type());
        operand[0] = pair::x_of(right);
        operand[1] = pair::y_of(right);
        break;
    default:
        if (!right.is(args[0].type())) error::fire_on_type(Err::script_invalid_type, right.type());
        for (uint32_t i = 0; i < left.count; i++) operand[i] = get(right, i);
    }
    for (uint32_t i = 0; i < left.count; i++) left.at[i] = float(float_::do_math_op(left.at[i], operand[i], op));
    make_at(args, left);
}

void do_math_with_number_left(MathOp op) {
    Cell* args = stack::arguments();
    bool integer_left = args[0].is(Type::Integer);
    bool refused = op == MathOp::divide || op == MathOp::remainder || (op == MathOp::subtract && !integer_left);
    if (refused) error::fire_on_action(Err::script_not_related, integer_left ? Type::Integer : args[1].type());
    std::swap(args[0], args[1]);
    if (op == MathOp::subtract) {
        actions::call<Act::negate>(args);
        op = MathOp::add;
    }
    if (args[0].is(Type::Pair))
        pair::do_math(op);
    else
        point::do_math(op);
}

}  // namespace oka::point
