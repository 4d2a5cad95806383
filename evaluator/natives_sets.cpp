// The set natives: union, intersect, unique, difference, exclude and complement?. They check the pair of
// sets and hand the operation to the datatype of the first one.
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "evaluator/natives.h"
#include "evaluator/refinements.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace oka::natives {

namespace {

using series::SetOp;

bool list_q(Type type) { return type == Type::Block || type == Type::Hash; }

// Two sets combine when they are of one type; block! and hash! mix.
void check_pair(const Cell& set1, const Cell& set2) {
    Type type1 = set1.type(), type2 = set2.type();
    if (type1 == type2 || (list_q(type1) && list_q(type2))) return;
    Cell datatype1, datatype2;
    fire(Err::script_expect_val, datatype::make_at(&datatype1, type1), datatype::make_at(&datatype2, type2));
}

// The size of the records that /skip gives: 1 or more.
int32_t record_size(const Cell& size) {
    int32_t skip = integer::get(size);
    if (skip < 1) error::fire_refinement("skip", &size);
    return skip;
}

void do_set_op(SetOp op, bool case_, const Cell* size) {
    Cell* args = stack::arguments();
    if (op != SetOp::unique) check_pair(args[0], args[1]);
    int32_t skip = size ? record_size(*size) : 1;
    Type type = args[0].type();
    if (list_q(type))
        block::do_set_op(case_, skip, op);
    else if (type == Type::String)
        string::do_set_op(case_, skip, op);
    else if (type == Type::Bitset)
        bitset::do_bitwise(typeset::Op(op));
    else if (type == Type::Typeset)
        typeset::do_bitwise(typeset::Op(op));
    else if (type == Type::Date && op == SetOp::difference)
        date::difference();
    else
        error::fire_in_function(Err::script_expect_arg, type);
}

// Every set native has /case and /skip size.
template <Slot S>
void set_op_s(SetOp op, const int32_t* positions) {
    Refinements<S> refinements(positions);
    do_set_op(op, refinements.given("case"), refinements.arg("skip"));
}

}  // namespace

void union_s(const int32_t* positions) { set_op_s<union_slot>(SetOp::union_, positions); }
void intersect_s(const int32_t* positions) { set_op_s<intersect_slot>(SetOp::intersect, positions); }
void unique_s(const int32_t* positions) { set_op_s<unique_slot>(SetOp::unique, positions); }
void difference_s(const int32_t* positions) { set_op_s<difference_slot>(SetOp::difference, positions); }
void exclude_s(const int32_t* positions) { set_op_s<exclude_slot>(SetOp::exclude, positions); }

void complement_q_s(const int32_t*) { logic::box(bitset::negated_q(*stack::arguments())); }

}  // namespace oka::natives
