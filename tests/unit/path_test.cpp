// The path family and paren!: their text, construction and the actions they take from block!.
#include "datatypes/path.h"
#include "datatypes/paren.h"
#include "datatypes/typeset.h"
#include "function_testing.h"
#include "runtime/types.h"

using namespace oka;
using namespace oka::test;

namespace {

Cell made(Type type, const Cell& spec) { return run(actions::make_s, {type_cell(type), spec}); }
Cell converted(Type type, const Cell& spec) { return run(actions::to_s, {type_cell(type), spec}); }
uint32_t capacity_in_cells(const Cell& block) { return mem::buffer(block.node())->size / sizeof(Cell); }

}  // namespace

TEST(Path, FormAndMold) {
    Cell holding_a_block = load_value("a/b");
    block::rs_append(holding_a_block, load_value("[c d]"));
    block::rs_append(holding_a_block, load_value("(e)"));
    struct Case {
        Cell path;
        const char* molded;
        const char* formed;
    } cases[] = {
        {load_value("a/b"), "a/b", "a/b"},         {load_value("'a/b"), "'a/b", "a/b"},
        {load_value(":a/b"), ":a/b", "a/b"},       {load_value("a/b:"), "a/b:", "a/b"},
        {load_value("a/1/:c"), "a/1/:c", "a/1/c"}, {at_head(load_value("a/b/c"), 1), "b/c", "b/c"},
        {at_head(load_value("a/b:"), 2), ":", ""}, {holding_a_block, "a/b/[c d]/(e)", "a/b/c d/e"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(c.path), c.molded);
        EXPECT_EQ(form(c.path), c.formed);
    }
}

TEST(Path, APartLimitStopsTheSteps) {
    Cell path = load_value("abc/de/f");
    EXPECT_EQ(mold_part(path, 1), "a");
    EXPECT_EQ(mold_part(path, 5), "abc/d");
    // After "abc/de" the budget is used up: the rest of the path is not written at all.
    Cell limit = int_cell(6);
    Cell buffer;
    keep(*string::rs_make_at(&buffer, 16));
    Cell* copy = stack::push(path);
    EXPECT_EQ(actions::call<Act::mold>(copy, &buffer, MoldOptions{.limit = &limit}, 6, 0), 0);
    stack::pop(1);
    EXPECT_EQ(text_of(buffer), "abc/de");
}

TEST(Path, APathHoldingItselfIsWrittenOnce) {
    Cell path = load_value("a/b");
    block::rs_append(path, path);
    EXPECT_EQ(mold(path), "a/b/...");
    EXPECT_EQ(form(path), "a/b/...");
}

TEST(Path, MakeFromACapacity) {
    Cell percent = Cell::of(Type::Percent).set_f64(4.0);
    struct Case {
        Cell spec;
        uint32_t capacity;
    } cases[] = {{int_cell(3), 3}, {int_cell(0), 1}, {float_cell(2.9), 2}, {percent, 4}};
    for (const Case& c : cases) {
        Cell path = made(Type::SetPath, c.spec);
        EXPECT_EQ(path.type(), Type::SetPath);
        EXPECT_EQ(series::rs_length_q(path), 0u);
        EXPECT_EQ(capacity_in_cells(path), c.capacity);
    }
    EXPECT_EQ(error_of([&] { made(Type::Path, float_cell(1e10)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { made(Type::Path, load_value("\"a\"")); }), Err::script_bad_make_arg);
}

TEST(Path, MakeAndToFromValues) {
    struct Case {
        bool make;
        Type type;
        const char* spec;
        const char* molded;
    } cases[] = {
        {true, Type::GetPath, "[a b]", ":a/b"}, {true, Type::Path, "a/b:", "a/b"}, {true, Type::LitPath, "(a)", "'a"},
        {false, Type::Path, "a/b", "a/b"},      {false, Type::SetPath, "5", "5:"},
    };
    for (const Case& c : cases) {
        Cell spec = load_value(c.spec);
        Cell path = c.make ? made(c.type, spec) : converted(c.type, spec);
        EXPECT_EQ(mold(path), c.molded) << c.spec;
        if (is_a(spec.type(), TypeClass::any_block)) {
            EXPECT_NE(path.node(), spec.node()) << c.spec;
        }
    }
    define_type_words();
    Cell types = run(actions::make_s, {type_cell(Type::Typeset), load("integer!")});
    Cell wrapped = converted(Type::Path, types);
    EXPECT_EQ(series::rs_length_q(wrapped), 1u);
    EXPECT_EQ(block::rs_abs_at(wrapped, 0)->type(), Type::Typeset);
}

TEST(Path, PushAndMakeAt) {
    Cell cell = line(load_value("[a b]"));
    Cell pushed = *path::push(&cell, Type::SetPath);
    stack::pop(1);
    EXPECT_EQ(cell.header, uint32_t(Type::SetPath));
    EXPECT_EQ(pushed.header, cell.header);
    EXPECT_EQ(mold(pushed), "a/b:");
    Cell empty;
    path::make_at(&empty, 0);
    EXPECT_EQ(empty.type(), Type::Path);
    EXPECT_EQ(capacity_in_cells(empty), 1u);
    EXPECT_EQ(series::rs_length_q(empty), 0u);
}

TEST(Path, CopyKeepsTheType) {
    Cell copy = run(actions::copy_s, {load_value(":a/b/c")});
    EXPECT_EQ(copy.type(), Type::GetPath);
    EXPECT_EQ(mold(copy), ":a/b/c");
}

TEST(Path, NeitherSortedNorTrimmedUnlikeParen) {
    for (const char* text : {"b/a", "'b/a", ":b/a", "b/a:"}) {
        Cell path = load_value(text);
        for (auto entry : {actions::sort_s, actions::random_s, actions::trim_s})
            EXPECT_EQ(error_of([&] { run(entry, {path}); }), Err::script_expect_arg) << text;
    }
    // paren! sorts and shuffles as block! does.
    for (Act slot : {Act::sort, Act::random})
        EXPECT_EQ(datatype::action_entry(Type::Paren, slot), datatype::action_entry(Type::Block, slot));
}

TEST(Paren, Mold) {
    Cell holding_itself = load_value("(a)");
    block::rs_append(holding_itself, holding_itself);
    struct Case {
        Cell value;
        int32_t only;  // -1: not given
        const char* molded;
    } cases[] = {
        {load_value("(a b)"), -1, "(a b)"}, {load_value("(a b)"), 0, "a b"},        {load_value("()"), -1, "()"},
        {load_value("()"), 0, ""},          {load_value("[(a) b]"), -1, "[(a) b]"}, {load_value("((a))"), 0, "(a)"},
        {holding_itself, -1, "(a (...))"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold_with(c.value, {c.only}), c.molded);
    EXPECT_EQ(form(load_value("(a b)")), "a b");
    EXPECT_EQ(mold_part(load_value("(abc d)"), 3), "(ab");
}

TEST(Paren, Push) {
    Cell cell = line(load_value("[a]"));
    Cell pushed = *paren::push(&cell);
    stack::pop(1);
    EXPECT_EQ(cell.header, uint32_t(Type::Paren));
    EXPECT_EQ(mold(pushed), "(a)");
}
