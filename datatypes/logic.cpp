#include "datatypes/logic.h"

#include "datatypes/datatype.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/registry.h"

namespace oka::logic {

namespace {

const Cell* to(Cell*, Cell* spec, Type) {
    if (spec->is(Type::Logic)) return spec;
    return spec->is(Type::None) ? &false_value : &true_value;
}

const Cell* make(Cell* proto, Cell* spec, Type target) {
    switch (spec->type()) {
    case Type::Integer: return spec->int32() != 0 ? &true_value : &false_value;
    case Type::Float:
    case Type::Percent: return spec->f64() != 0.0 ? &true_value : &false_value;  // NaN is true
    default: return to(proto, spec, target);
    }
}

// A draw of the generator: /seed seeds it with the flag (0 or 1) and answers unset; otherwise true when
// the draw, read as a signed number, lies above 0x3FFFFFFF (from the secure source with /secure).
void random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        oka::random::seed(get(*value));
        unset::box();
        return;
    }
    int32_t draw = secure ? oka::random::next_secure() : oka::random::next();
    box(draw > 0x3FFFFFFF);
}

const char* text_of(const Cell& value) { return get(value) ? "true" : "false"; }

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    return string::write_token(buffer, text_of(*value), false, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return string::write_token(buffer, text_of(*value), options.all, part);
}

// Ordered only for sorting: false sorts before true.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Logic)) return kNotComparable;
    switch (op) {
    case kCompareLesser:
    case kCompareLesserEqual:
    case kCompareGreater:
    case kCompareGreaterEqual:
    case kCompareStrictEqualWord:
    case kCompareEqualWord: return kNotComparable;
    default: return int32_t(get(*value1)) - int32_t(get(*value2));
    }
}

const Cell* complement(Cell* value) { return get(*value) ? &false_value : &true_value; }

// and~, or~ and xor~ take their operands from the frame and leave the answer in the first one.
template <bool (*Op)(bool, bool)>
void bitwise() {
    Cell* args = stack::arguments();
    if (!args[1].is(Type::Logic)) error::fire_in_function(Err::script_expect_arg, args[1].type(), 1);
    box(Op(get(args[0]), get(args[1])));
}

bool both(bool a, bool b) { return a && b; }
bool either(bool a, bool b) { return a || b; }
bool exactly_one(bool a, bool b) { return a != b; }

}  // namespace

void init() {
    datatype::register_(Type::Logic, {
                                         implements<Act::make>(make),
                                         implements<Act::random>(random),
                                         implements<Act::to>(to),
                                         implements<Act::form>(form),
                                         implements<Act::mold>(mold),
                                         implements<Act::compare>(compare),
                                         implements<Act::and_>(bitwise<both>),
                                         implements<Act::complement>(complement),
                                         implements<Act::or_>(bitwise<either>),
                                         implements<Act::xor_>(bitwise<exactly_one>),
                                     });
}

Cell* make_in(const Cell& block, bool flag) { return make_at(alloc::alloc_tail(block).get(), flag); }

bool true_q(const Cell& value, bool check, const Cell* name) {
    if (check && value.is(Type::Unset)) fire(Err::script_no_value, name);
    return !(value.is(Type::None) || (value.is(Type::Logic) && !get(value)));
}

bool top_true_q() { return true_q(stack::top > stack::frame_base ? stack::top[-1] : *stack::frame_base); }

bool top_false_q() { return !top_true_q(); }

bool check_q() {
    if (stack::frame_base->is(Type::Unset)) fire(Err::script_no_return);
    return true_q(*stack::frame_base);
}

bool false_q() { return !true_q(*stack::frame_base); }

}  // namespace oka::logic
