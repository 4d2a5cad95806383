// The handler record of objects: what it keeps alive for the collector, how it follows a replaced
// handler, and the limits of its packed positions.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "natives_testing.h"
#include "runtime/collector.h"

using namespace oka;
using namespace oka::test;

namespace {

class ObjectRecord : public CodeTest {};
class ObjectRecordDeathTest : public ObjectRecord {};

Cell global_value(const char* name) { return *word::get_cell(word::load(name)); }

Cell record_cell(const Cell& object, uint32_t index) {
    Node record = _context::self_cell(object.context())->handlers();
    return *block::rs_abs_at(Cell::of(Type::Block).set_node(record), index);
}

uint32_t recorded_position(const Cell& object) { return uint32_t(record_cell(object, 0).x()) >> 16; }
uint32_t recorded_locals(const Cell& object) { return uint32_t(record_cell(object, 0).x()) & 0xFFFF; }

// An object on the data stack with `fillers` fields before an on-change* field holding `handler`.
Cell* object_with_handler_at(uint32_t fillers, const Cell& handler) {
    Cell* object = object::make_at(stack::push(none::value), fillers + 1);
    collector::HeldOff off;
    for (uint32_t i = 0; i < fillers; i++) {
        Cell name = Cell::of(Type::Word).set_symbol(symbol::make("f" + std::to_string(i))).set_position(-1);
        _context::set_or_add(object->context(), name, none::value);
    }
    _context::set_or_add(object->context(), words::word(Word::on_change_s), handler);
    return object;
}

}  // namespace

// The record names the spec of the handler it was computed for. A handler replaced without notice
// (set assigns handler fields silently) leaves the old spec in the record: the record keeps that spec
// alive, so that no other function's spec can reuse its node and pass for it.
TEST_F(ObjectRecord, KeepsTheSpecOfAReplacedHandlerAlive) {
    // Copied specs: the code that makes the functions does not hold them.
    eval("rec: make object! [a: 1 on-change*: func copy [w o n /local x] []]");
    Cell object = global_value("rec");
    Node old_spec = Node(record_cell(object, 0).y());
    EXPECT_EQ(recorded_locals(object), 2u);
    eval("set rec reduce [1 func copy [w o n /local x y z] []]");
    collector::do_cycle();
    EXPECT_EQ(Node(record_cell(object, 0).y()), old_spec);
    EXPECT_EQ(mold(record_cell(object, 2)), "[w o n /local x]");
    EXPECT_EQ(eval("rec/a: 2"), "2");  // the next call refreshes the record
    EXPECT_NE(Node(record_cell(object, 0).y()), old_spec);
    EXPECT_EQ(recorded_locals(object), 4u);
    EXPECT_EQ(mold(record_cell(object, 2)), "[w o n /local x y z]");
}

// Positions are packed into 16 bits, 0xFFFF meaning no handler: a handler beyond that is refused, and
// the object is left without a record rather than with a wrong one. The 65,535 fields need as many new
// symbols: made in a process of their own, they leave the symbols that later tests make inside the 16
// bits in which a call frame keeps its name.
TEST_F(ObjectRecordDeathTest, RefusesHandlerPositionsBeyondSixteenBits) {
    EXPECT_EXIT(
        {
            eval("handler: func [w o n] []");
            Cell handler = global_value("handler");
            Cell* highest = object_with_handler_at(0xFFFE, handler);
            object::attach_events(highest);
            bool recorded = recorded_position(*highest) == 0xFFFEu;
            Cell* beyond = object_with_handler_at(0xFFFF, handler);
            Cell error;
            bool refused = error::trap([&] { object::attach_events(beyond); }, &error) &&
                           integer::get(*error::field(error, error::kCode)) == int32_t(Err::internal_limit_hit);
            bool unrecorded = beyond->handlers() == 0 && _context::self_cell(beyond->context())->handlers() == 0;
            std::fprintf(stderr, "recorded at FFFE: %d, refused at FFFF: %d, left without a record: %d\n", recorded,
                         refused, unrecorded);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "recorded at FFFE: 1, refused at FFFF: 1, left without a record: 1\n");
}
