// The layouts of vector! and event! cells that scripts cannot see: a vector's elements are packed
// little-endian at the element size, the buffer's unit, and its cell names the element type; a made
// event keeps its type code, key and flags in the cell and its face, window, offset and picked in a
// block of four cells.
#include <vector>

#include "datatypes/vector.h"
#include "function_testing.h"

using namespace oka;
using namespace oka::test;

TEST(VectorLayout, ElementsArePackedLittleEndianAtTheirSize) {
    struct Case {
        Type element;
        uint32_t size;
        Cell value;
        std::vector<uint8_t> bytes;
        Cell read_back;
    };
    const Case cases[] = {
        {Type::Integer, 1, int_cell(300), {0x2C}, int_cell(44)},
        {Type::Integer, 1, int_cell(200), {0xC8}, int_cell(-56)},
        {Type::Integer, 2, int_cell(-2), {0xFE, 0xFF}, int_cell(-2)},
        {Type::Integer, 4, int_cell(0x01020304), {0x04, 0x03, 0x02, 0x01}, int_cell(0x01020304)},
        {Type::Char, 1, char_cell(0xE9), {0xE9}, char_cell(0xE9)},
        {Type::Char, 2, char_cell(0xFFFF), {0xFF, 0xFF}, char_cell(0xFFFF)},
        {Type::Char, 4, char_cell(0x1F600), {0x00, 0xF6, 0x01, 0x00}, char_cell(0x1F600)},
        {Type::Float, 4, float_cell(1.5), {0x00, 0x00, 0xC0, 0x3F}, float_cell(1.5)},
        {Type::Float, 8, float_cell(-2.0), {0, 0, 0, 0, 0, 0, 0x00, 0xC0}, float_cell(-2.0)},
    };
    for (const Case& c : cases) {
        Cell vector = keep(*vector::make_at(stack::push_next(), 2, c.element, c.size));
        stack::pop(1);
        EXPECT_EQ(vector.element_type(), c.element);
        alloc::alloc_tail_bytes(vector.node(), c.size);
        vector::set_value(vector, 0, c.value);
        SeriesBuffer* b = mem::buffer(vector.node()).get();
        ASSERT_EQ(b->unit(), c.size);
        EXPECT_EQ(std::vector<uint8_t>(mem::ptr(b->offset), mem::ptr(b->tail)), c.bytes) << int(c.element) << c.size;
        Cell read;
        vector::get_value(vector, 0, &read);
        EXPECT_EQ(read.header, c.read_back.header);
        EXPECT_TRUE(read.same_payload(c.read_back)) << int(c.element) << c.size;
    }
}

TEST(VectorLayout, APercentElementHoldsTheFraction) {
    Cell vector = keep(*vector::make_at(stack::push_next(), 1, Type::Percent, 8));
    stack::pop(1);
    alloc::alloc_tail_bytes(vector.node(), 8);
    Cell half = float_cell(0.5);
    half.set_type(Type::Percent);
    vector::set_value(vector, 0, half);
    double stored;
    std::memcpy(&stored, mem::ptr(mem::buffer(vector.node())->offset), 8);
    EXPECT_EQ(stored, 0.5);
}

TEST(EventLayout, AMadeEventKeepsItsFieldsInTheCellAndAFourCellBlock) {
    Cell spec = load("type: 'click picked: 5 flags: [shift down alt]");
    Cell event = run(actions::make_s, {type_cell(Type::Event), spec});
    EXPECT_EQ(event.header, 0x1036u);
    EXPECT_EQ(event.event_type(), 9u);
    EXPECT_EQ(event.key_flags(), 0x20000000u | 0x02000000u | 0x40000000u);
    ASSERT_NE(event.event_block(), 0u);
    Cell block = Cell::of(Type::Block).set_node(event.event_block());
    ASSERT_EQ(series::rs_length_q(block), 4u);
    EXPECT_TRUE(block::rs_abs_at(block, 0)->is(Type::None));
    EXPECT_TRUE(block::rs_abs_at(block, 1)->is(Type::None));
    EXPECT_TRUE(block::rs_abs_at(block, 2)->is(Type::Pair));
    EXPECT_EQ(block::rs_abs_at(block, 2)->x() | block::rs_abs_at(block, 2)->y(), 0);
    EXPECT_EQ(block::rs_abs_at(block, 3)->int32(), 5);

    Cell bare = run(actions::make_s, {type_cell(Type::Event), load("")});
    EXPECT_EQ(bare.header, 0x1036u);
    EXPECT_EQ(bare.event_type() | bare.event_block() | bare.key_flags(), 0u);
}
