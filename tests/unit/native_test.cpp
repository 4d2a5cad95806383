// native!, action! and op!: making them by table index and from functions, and their actions.
#include "datatypes/native.h"
#include "datatypes/function.h"
#include "function_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

Cell made(Type type, const Cell& argument) { return run(actions::make_s, {type_cell(type), argument}); }

Cell native_of(std::string_view spec, int32_t index, Type type = Type::Native) {
    Cell argument = load("[] 0");
    *block::rs_abs_at(argument, 0) = load(spec);
    *block::rs_abs_at(argument, 1) = int_cell(index);
    return made(type, argument);
}

Cell function_of(std::string_view spec, const Cell& body) {
    Cell* saved = stack::top;
    function::push(load(spec), body, 0, 0, 0, 0);
    Cell function = stack::top[-1];
    stack::top = saved;
    return function;
}

Cell reflected(const Cell& value, std::string_view field) {
    return run(actions::reflect_s, {value, load_value(field)});
}

}  // namespace

TEST(Native, MadeByTableIndex) {
    struct Case {
        Type type;
        const char* argument;
        Err error;
    } cases[] = {
        {Type::Native, "[[cond [any-type!] then-blk [block!]] 1]", Err(0)},
        {Type::Native, "[[\"doc\" cond \"doc\" [any-type!] then-blk [block!]] 1]", Err(0)},
        {Type::Native, "[[a] 120]", Err(0)},
        {Type::Native, "[[a] 0]", Err::script_bad_make_arg},
        {Type::Native, "[[a] 121]", Err::script_bad_make_arg},
        {Type::Action, "[[port] 61]", Err(0)},
        {Type::Action, "[[a] 63]", Err::script_bad_make_arg},
        // a spec must declare the arguments of the built-in at the index
        {Type::Native, "[[a] 1]", Err::script_bad_make_arg},
        {Type::Native, "[[cond then-blk [block!]] 1]", Err::script_bad_make_arg},
        {Type::Native, "[[cond [any-type!] then-blk [block!] extra] 1]", Err::script_bad_make_arg},
        {Type::Native, "[[cond [any-type!] :then-blk [block!]] 1]", Err::script_bad_make_arg},
        {Type::Native, "[[/cond [any-type!] then-blk [block!]] 1]", Err::script_bad_make_arg},
        {Type::Action, "[[a] 61]", Err::script_bad_make_arg},
        {Type::Action, "[[] 61]", Err::script_bad_make_arg},
        {Type::Native, "[[a] \"1\"]", Err::script_bad_make_arg},
        {Type::Native, "[a 1]", Err::script_bad_make_arg},
        {Type::Native, "[[a]]", Err::script_bad_make_arg},
        {Type::Native, "[[a] 1 2]", Err::script_bad_make_arg},
        {Type::Native, "7", Err::script_bad_make_arg},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { made(c.type, load_value(c.argument)); }), c.error) << c.argument;
}

// A slot without a native takes any spec.
TEST(Native, CellAndExtras) {
    Cell spec = load("value [block!] /only");
    Cell argument = load("[] 112");
    *block::rs_abs_at(argument, 0) = spec;
    Cell n = made(Type::Native, argument);
    EXPECT_EQ(n.type(), Type::Native);
    EXPECT_EQ(n.entry(), 112u);
    EXPECT_NE(n.spec(), spec.node());  // its own copy
    EXPECT_EQ(mold(function::spec_of(n)), "[value [block!] /only]");
    Cell extras = Cell::of(Type::Block).set_node(n.extras());
    ASSERT_EQ(series::rs_length_q(extras), 2u);
    Cell context = *block::rs_abs_at(extras, 0);
    EXPECT_EQ(context.type(), Type::Context);
    EXPECT_EQ(block::rs_abs_at(extras, 1)->type(), Type::None);
    EXPECT_EQ(integer::get(reflected(n, "body")), 112);
    EXPECT_NE(reflected(n, "spec").node(), n.spec());  // a copy that a change cannot carry to the calls
    EXPECT_EQ(mold(reflected(n, "spec")), "[value [block!] /only]");
    EXPECT_EQ(error_of([&] { reflected(n, "words"); }), Err::internal_not_done);
}

TEST(Native, FormMoldAndCompare) {
    Cell n = native_of("a b", 110), same = native_of("x", 110), other = native_of("a b", 111);
    Cell a = native_of("series1 series2", 47, Type::Action);
    EXPECT_EQ(form(n), "?native?");
    EXPECT_EQ(form(a), "?action?");
    EXPECT_EQ(mold(n), "make native! [[a b]]");
    EXPECT_EQ(mold_with(n, {0}), "make native! [a b]");
    EXPECT_EQ(mold(a), "make action! [[series1 series2]]");
    EXPECT_TRUE(actions::compare(&n, &same, kCompareEqual));
    EXPECT_FALSE(actions::compare(&n, &other, kCompareEqual));
    EXPECT_EQ(actions::compare_value(&n, &other, kCompareSort), -1);
    EXPECT_EQ(actions::call<Act::compare>(&n, &a, kCompareEqual), kNotComparable);
    EXPECT_EQ(actions::call<Act::compare>(&n, &same, kCompareGreater), kNotComparable);
}

TEST(Op, TheSpecMustTakeTwoArguments) {
    struct Case {
        const char* spec;
        bool valid;
    } cases[] = {
        {"a b", true},           {"a b /local c", true},
        {"a b /Extern c", true}, {"a [integer!] \"doc\" b return: [integer!] c", true},
        {"a 'b", true},          {"a :b", true},
        {"a b c", false},        {"a", false},
        {"'a b", false},         {":a b", false},
        {"a b /ref", false},     {"/local a b", false},
    };
    for (const Case& c : cases) {
        Cell f = function_of(c.spec, load(""));
        EXPECT_EQ(op::check_spec(function::spec_of(f)), c.valid) << c.spec;
        EXPECT_EQ(error_of([&] { made(Type::Op, f); }), c.valid ? Err(0) : Err::script_bad_op_spec) << c.spec;
    }
    EXPECT_EQ(error_of([&] { made(Type::Op, int_cell(1)); }), Err::script_invalid_type);
    Cell op = made(Type::Op, native_of("a b", 110));
    EXPECT_EQ(error_of([&] { made(Type::Op, op); }), Err::script_invalid_type);
}

TEST(Op, WrapsAFunction) {
    Cell f = function_of("a b", load("a + b"));
    Cell op = made(Type::Op, f);
    EXPECT_EQ(op.type(), Type::Op);
    EXPECT_EQ(op::wrapped_type(op), Type::Function);
    EXPECT_EQ(op.header, uint32_t(Type::Op) | uint32_t(Type::Function) << 16);
    EXPECT_EQ(op.context(), f.context());
    EXPECT_EQ(op.extras(), f.extras());
    EXPECT_EQ(function::extra(f, function::kOpFunction)->extras(), f.extras());
    EXPECT_EQ(form(op), "?op?");
    EXPECT_EQ(mold(op), "make op! func [a b][a + b]");
    EXPECT_EQ(mold(reflected(op, "body")), "[a + b]");
    EXPECT_EQ(mold(made(Type::Op, function_of("a b", none::value))), "make op! func [a b]");
}

TEST(Op, WrapsANative) {
    Cell op = made(Type::Op, native_of("value1 value2", 11, Type::Action));
    EXPECT_EQ(op::wrapped_type(op), Type::Action);
    EXPECT_EQ(op.entry(), 11u);
    EXPECT_EQ(mold(op), "make op! [[value1 value2]]");
    EXPECT_EQ(integer::get(reflected(op, "body")), 11);
    EXPECT_EQ(mold(reflected(op, "spec")), "[value1 value2]");
}
