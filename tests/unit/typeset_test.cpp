// typeset!: the bit layout, construction, the set operations, comparison, find and the text.
#include <array>

#include "datatypes/typeset.h"
#include "function_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

class TypesetTest : public testing::Test {
protected:
    void SetUp() override {
        define_type_words();
        define("number!", of("integer! float!"));
        define("a-word-value", word::load("integer!"));
    }

    static Cell of(std::string_view types) { return run(actions::make_s, {type_cell(Type::Typeset), load(types)}); }
};

std::array<uint8_t, 12> bytes_of(const Cell& typeset) {
    return std::bit_cast<std::array<uint8_t, 12>>(typeset.type_bits());
}

// do_bitwise on a frame of its two arguments, as the set natives call it.
Cell bitwise(typeset::Op op, const Cell& typeset, const Cell& other) {
    Cell* base = stack::frame_base;
    Cell* top = stack::top;
    stack::frame_base = stack::push(typeset);
    stack::push(other);
    typeset::do_bitwise(op);
    Cell result = *stack::frame_base;
    stack::frame_base = base;
    stack::top = top;
    return result;
}

int32_t registered_types() {
    int32_t n = 0;
    for (int id = 1; id <= int(datatype::highest_type()); id++) n += datatype::registered_q(Type(id));
    return n;
}

}  // namespace

TEST_F(TypesetTest, BitLayout) {
    struct Case {
        Type type;
        int byte;
        uint8_t mask;
    } cases[] = {{Type::Integer, 1, 0x10}, {Type::Datatype, 0, 0x40}, {Type::Event, 6, 0x02}, {Type::Typeset, 4, 0x40}};
    for (const Case& c : cases) {
        Cell typeset = Cell::of(Type::Typeset);
        typeset::set_type(&typeset, type_cell(c.type));
        std::array<uint8_t, 12> expected{};
        expected[c.byte] = c.mask;
        EXPECT_EQ(bytes_of(typeset), expected) << int(c.type);
        EXPECT_TRUE(typeset::has_q(typeset, c.type));
        typeset::clear(&typeset);
        EXPECT_EQ(bytes_of(typeset), (std::array<uint8_t, 12>{}));
    }
}

TEST_F(TypesetTest, MakeFromABlock) {
    Cell numbers = of("number! string!");
    EXPECT_EQ(mold(numbers), "make typeset! [string! integer! float!]");
    EXPECT_EQ(typeset::count(numbers), 3);
    Cell same = run(actions::make_s, {type_cell(Type::Typeset), numbers});
    EXPECT_EQ(same.type_bits(), numbers.type_bits());
    struct Case {
        const char* spec;
        Err error;
    } cases[] = {
        {"[integer! \"a\"]", Err::script_invalid_arg},
        {"[[integer!]]", Err::script_invalid_arg},
        {"[a-word-value]", Err::script_invalid_arg},
        {"[no-such-type!]", Err::script_no_value},
        {"7", Err::script_bad_to_arg},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] {
                      run(actions::make_s, {type_cell(Type::Typeset), load_value(c.spec)});
                  }),
                  c.error)
            << c.spec;
}

TEST_F(TypesetTest, MadeForTheSpecCache) {
    Cell block = load("");
    typeset::make_from_block(block, load("integer! [block!] a-word-value number!"));
    Cell built = *block::rs_abs_at(block, 0);
    EXPECT_EQ(mold(built), "make typeset! [integer! float! object!]");
    EXPECT_EQ(error_of([&] { typeset::make_from_block(block, load("integer! \"a\"")); }),
              Err::script_invalid_type_spec);
    typeset::make_any(block);
    Cell any = *block::rs_abs_at(block, 1);
    EXPECT_FALSE(typeset::has_q(any, Type::Unset));
    EXPECT_TRUE(typeset::has_q(any, Type::Event));
    EXPECT_EQ(typeset::count(any), registered_types() - 1);
    typeset::make_in(block, 0x04, 0, 1);  // block!, and a bit beyond every type
    Cell raw = *block::rs_abs_at(block, 2);
    EXPECT_TRUE(typeset::has_q(raw, Type::Block));
    EXPECT_EQ(raw.type_bits()[2], 1u);
}

TEST_F(TypesetTest, SetOperations) {
    Cell numbers = of("integer! float!");
    struct Case {
        typeset::Op op;
        Cell other;
        const char* molded;
    } cases[] = {
        {typeset::Op::union_, of("float! string!"), "[string! integer! float!]"},
        {typeset::Op::or_, type_cell(Type::Block), "[block! integer! float!]"},
        {typeset::Op::intersect, of("float! string!"), "[float!]"},
        {typeset::Op::and_, type_cell(Type::Block), "[]"},
        {typeset::Op::difference, of("float! string!"), "[string! integer!]"},
        {typeset::Op::xor_, numbers, "[]"},
        {typeset::Op::exclude, type_cell(Type::Integer), "[float!]"},
        {typeset::Op::unique, type_cell(Type::Block), "[integer! float!]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mold(bitwise(c.op, numbers, c.other)), std::string("make typeset! ") + c.molded) << int(c.op);
    EXPECT_EQ(mold(run(actions::and__s, {numbers, of("float! block!")})), "make typeset! [float!]");
    EXPECT_EQ(mold(run(actions::xor__s, {numbers, type_cell(Type::Float)})), "make typeset! [integer!]");
    EXPECT_EQ(error_of([&] { run(actions::or__s, {numbers, int_cell(1)}); }), Err::script_invalid_arg);
}

TEST_F(TypesetTest, ComplementFindAndToBlock) {
    Cell empty = of("");
    Cell all = run(actions::complement_s, {empty});
    EXPECT_EQ(bytes_of(all),
              (std::array<uint8_t, 12>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(typeset::count(all), registered_types());
    Cell numbers = of("integer! float!");
    EXPECT_TRUE(logic::get(run(actions::find_s, {numbers, type_cell(Type::Integer)})));
    EXPECT_FALSE(logic::get(run(actions::find_s, {numbers, type_cell(Type::String)})));
    EXPECT_EQ(error_of([&] { run(actions::find_s, {numbers, int_cell(11)}); }), Err::script_invalid_arg);
    Cell block = load("x");
    typeset::to_block(of("float! block! integer!"), block);
    EXPECT_EQ(mold(block), "[x block! integer! float!]");
}

TEST_F(TypesetTest, Compare) {
    Cell a = of("integer! float!"), b = of("float! integer!"), c = of("block!");
    for (int32_t op : {kCompareEqual, kCompareStrictEqual, kCompareSame, kCompareFind})
        EXPECT_TRUE(actions::compare(&a, &b, op)) << op;
    EXPECT_FALSE(actions::compare(&a, &c, kCompareEqual));
    EXPECT_TRUE(actions::compare(&a, &c, kCompareNotEqual));
    EXPECT_EQ(actions::call<Act::compare>(&a, &c, kCompareLesser), kNotComparable);
    EXPECT_EQ(actions::compare_value(&a, &c, kCompareSort), 1);
    EXPECT_EQ(actions::compare_value(&c, &a, kCompareSort), -1);
    Cell integer = type_cell(Type::Integer);
    EXPECT_EQ(actions::call<Act::compare>(&a, &integer, kCompareEqual), kNotComparable);
}

TEST_F(TypesetTest, Text) {
    Cell numbers = of("integer! float!"), empty = of("");
    EXPECT_EQ(mold(numbers), "make typeset! [integer! float!]");
    EXPECT_EQ(form(numbers), "make typeset! [integer! float!]");
    EXPECT_EQ(mold(empty), "make typeset! []");
    EXPECT_EQ(mold_with(numbers, {0}), "integer! float!");
    EXPECT_EQ(mold_with(empty, {0}), "");
    EXPECT_EQ(mold_part(numbers, 17), "make typeset! [in");
    EXPECT_EQ(mold(load_value("[]")), "[]");
}
