// block!: the buffer routines and the actions, driven through the stack entry points and read back as
// molded text.
#include <vector>

#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime/registry.h"
#include "runtime/symbol_table.h"
#include "series_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

Cell string_(const char* text) {
    Cell s;
    string::rs_make_at(&s, 8);
    string::concatenate_literal(&s, text, uint32_t(std::strlen(text)));
    return s;
}

// A block that holds itself after its other values.
Cell holding_itself(std::initializer_list<int32_t> values) {
    Cell b = ints(values);
    block::rs_append(b, b);
    return b;
}

uint32_t capacity_in_cells(const Cell& block) { return mem::buffer(block.node())->size / sizeof(Cell); }

int32_t compared(const Cell& a, const Cell& b, int32_t op) {
    return integer::get(run(actions::compare_s, {a, b, int_cell(op)}));
}

// Type id 55 names no datatype: a value whose form ends a line.
int32_t form_ending_a_line(Cell*, Cell* buffer, Cell*, int32_t part) {
    return string::write_token(buffer, "x\n", false, part);
}

Cell line_ending_value() {
    std::vector<ActionSlot> row(kActionCount, kUnsupported);
    row[int(Act::form) - 1] = implements<Act::form>(form_ending_a_line).value;
    datatype::register_(Type(55), Type::Void, "line-ending!", row);
    return Cell{55, 0, 0, 0};
}

}  // namespace

TEST(BlockMold, NewLineMarkersIndentationAndRefinements) {
    enum { kOnly = 1, kFlat = 2 };
    Cell two_lines = block_of({line(int_cell(1)), line(int_cell(2))});
    struct Case {
        Cell value;
        int flags;
        const char* molded;
    } cases[] = {
        {ints({1, 2, 3}), 0, "[1 2 3]"},
        {block_of({}), 0, "[]"},
        {block_of({int_cell(1), ints({2, 3}), none::value}), 0, "[1 [2 3] none]"},
        {at_head(ints({1, 2, 3}), 1), 0, "[2 3]"},
        {at_head(ints({1}), 5), 0, "[]"},
        {two_lines, 0, "[\n    1\n    2\n]"},
        {block_of({line(int_cell(1)), int_cell(2)}), 0, "[\n    1 2\n]"},
        {block_of({int_cell(1), line(int_cell(2)), int_cell(3)}), 0, "[1\n2 3]"},
        {block_of({line(int_cell(1)), line(block_of({line(int_cell(2)), line(int_cell(3))}))}), 0,
         "[\n    1\n    [\n        2\n        3\n    ]\n]"},
        {block_of({int_cell(1), block_of({line(int_cell(2))})}), 0, "[1 [\n    2\n]]"},
        {two_lines, kOnly, "1\n2"},
        {block_of({line(int_cell(1)), line(block_of({line(int_cell(2))}))}), kOnly, "1\n[\n    2\n]"},
        {two_lines, kFlat, "[1 2]"},
        {two_lines, kOnly | kFlat, "1 2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mold_with(c.value, {c.flags & kOnly ? 0 : -1, -1, c.flags & kFlat ? 0 : -1}), c.molded) << c.molded;
}

TEST(BlockMold, AllAndPartGoDownToTheValues) {
    EXPECT_EQ(mold_all(block_of({logic_cell(true), none::value})), "[#(true) #(none)]");
    EXPECT_EQ(text_of(run(actions::mold_s, {ints({1, 2, 3}), int_cell(4)}, {-1, -1, -1, 1})), "[1 2");
    EXPECT_EQ(text_of(run(actions::mold_s, {block_of({ints({1, 2}), int_cell(3)}), int_cell(3)}, {-1, -1, -1, 1})),
              "[[1");
}

TEST(BlockMold, ABlockMetAgainInsideItselfIsWrittenAsACycleMarker) {
    Cell outer = ints({1}), inner = block_of({});
    block::rs_append(outer, inner);
    block::rs_append(inner, outer);
    Cell twice = ints({1});
    struct Case {
        Cell value;
        const char* molded;
        const char* formed;
    } cases[] = {
        {holding_itself({1}), "[1 [...]]", "1 ..."},
        {outer, "[1 [[...]]]", "1 ..."},
        {block_of({twice, twice}), "[[1] [1]]", "1 1"},  // side by side is not nested
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(c.value), c.molded);
        EXPECT_EQ(form(c.value), c.formed);
        EXPECT_EQ(cycles::depth(), 0u);
    }
    EXPECT_EQ(block::mold_depth, 0);
}

TEST(BlockForm, ValuesAreSeparatedBySpacesUnlessALineEnds) {
    Cell ends_line = line_ending_value();
    struct Case {
        Cell value;
        const char* formed;
    } cases[] = {
        {block_of({int_cell(1), ints({2, 3}), none::value}), "1 2 3 none"},
        {block_of({}), ""},
        {block_of({ends_line, ends_line, int_cell(1)}), "x\nx\n1"},
        {block_of({int_cell(1), ends_line}), "1 x\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(form(c.value), c.formed);
    EXPECT_EQ(text_of(run(actions::form_s, {ints({1, 2, 3}), int_cell(3)}, {1})), "1 2");
}

TEST(BlockCompare, CellByCellThenByLength) {
    Cell b = ints({1, 2}), empty = block_of({});
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t answer;
    } cases[] = {
        {ints({1, 2}), ints({1, 2}), kCompareEqual, 0},
        {ints({1, 2}), ints({1, 3}), kCompareLesser, -1},
        {ints({1, 3}), ints({1, 2}), kCompareLesser, 1},
        {ints({1, 2}), ints({1, 2, 3}), kCompareEqual, 1},
        {ints({1, 2}), ints({1, 2, 3}), kCompareLesser, -1},
        {ints({1, 2, 3}), ints({1, 2}), kCompareGreater, 1},
        {empty, ints({1}), kCompareLesser, -1},
        {empty, ints({1}), kCompareSort, -1},
        {ints({1}), empty, kCompareLesser, 1},
        {empty, ints({1}), kCompareEqual, 1},
        {empty, block_of({}), kCompareEqual, 0},
        {ints({1}), block_of({string_("a")}), kCompareLesser, 1},  // integer! after string! by type id
        {block_of({string_("a")}), ints({1}), kCompareLesser, -1},
        {ints({1}), block_of({none::value}), kCompareEqual, 1},
        {block_of({none::value}), block_of({none::value}), kCompareEqual, 0},
        {block_of({none::value}), block_of({none::value}), kCompareGreater, kNotComparable},
        {ints({1}), block_of({float_cell(1.0)}), kCompareEqual, 0},
        {ints({1}), block_of({float_cell(1.0)}), kCompareStrictEqual, 1},
        {ints({1}), block_of({float_cell(1.5)}), kCompareLesser, -1},
        {ints({1}), int_cell(1), kCompareEqual, kNotComparable},
        {b, b, kCompareSame, 0},
        {b, ints({1, 2}), kCompareSame, -1},
        {b, at_head(b, 1), kCompareSame, -1},
        {at_head(b, 1), ints({2}), kCompareEqual, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(compared(c.a, c.b, c.op), c.answer) << mold(c.a) << " op " << c.op;
}

TEST(BlockCompare, BlocksHoldingThemselvesCompareWithoutRunningAway) {
    Cell a = holding_itself({1}), b = holding_itself({1});
    Cell c = ints({1});
    block::rs_append(c, ints({1}));
    EXPECT_EQ(compared(a, a, kCompareEqual), 0);
    EXPECT_EQ(compared(a, b, kCompareEqual), 0);
    EXPECT_NE(compared(a, c, kCompareEqual), 0);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST(BlockCompare, PathAndLitPathMeetOnlyUnderTheWordEqualities) {
    auto compare = datatype::action<Act::compare>(Type::Block);
    Cell path = with_type(ints({1, 2}), Type::Path), lit_path = with_type(ints({1, 2}), Type::LitPath);
    EXPECT_EQ(compare(&path, &lit_path, kCompareStrictEqualWord), 0);
    EXPECT_EQ(compare(&lit_path, &path, kCompareEqualWord), 0);
    EXPECT_EQ(compare(&path, &lit_path, kCompareEqual), kNotComparable);
}

TEST(BlockAppend, AppendAndInsert) {
    struct Case {
        void (*entry)(const int32_t*);
        Cell series, value;
        int32_t part, dup;  // -1: not given
        bool only;
        const char* whole;
        const char* result;
    } cases[] = {
        {actions::append_s, ints({1, 2}), int_cell(3), -1, -1, false, "[1 2 3]", "[1 2 3]"},
        {actions::append_s, at_head(ints({1, 2}), 1), int_cell(3), -1, -1, false, "[1 2 3]", "[1 2 3]"},
        {actions::append_s, ints({1, 2}), ints({3, 4}), -1, -1, false, "[1 2 3 4]", "[1 2 3 4]"},
        {actions::append_s, ints({1, 2}), ints({3, 4}), -1, -1, true, "[1 2 [3 4]]", "[1 2 [3 4]]"},
        {actions::append_s, ints({1}), ints({2, 3, 4}), 2, -1, false, "[1 2 3]", "[1 2 3]"},
        {actions::append_s, ints({1}), ints({2, 3}), -1, 2, false, "[1 2 3 2 3]", "[1 2 3 2 3]"},
        {actions::append_s, ints({1}), int_cell(2), -1, 3, false, "[1 2 2 2]", "[1 2 2 2]"},
        {actions::append_s, ints({1}), int_cell(2), -1, 0, false, "[1]", "[1]"},
        {actions::append_s, ints({1}), block_of({}), -1, -1, false, "[1]", "[1]"},
        {actions::append_s, ints({1}), block_of({line(int_cell(2))}), -1, -1, false, "[1\n2]", "[1\n2]"},
        {actions::insert_s, ints({1, 2}), int_cell(0), -1, -1, false, "[0 1 2]", "[1 2]"},
        {actions::insert_s, at_head(ints({1, 2}), 1), ints({8, 9}), -1, -1, false, "[1 8 9 2]", "[2]"},
        {actions::insert_s, at_head(ints({1, 2}), 2), int_cell(3), -1, -1, false, "[1 2 3]", "[]"},
        {actions::insert_s, at_head(ints({1, 2}), 7), int_cell(3), -1, -1, false, "[1 2 3]", "[]"},
        {actions::insert_s, ints({1}), ints({7, 8}), -1, 2, false, "[7 8 7 8 1]", "[1]"},
        {actions::insert_s, ints({1}), ints({7, 8, 9}), 2, -1, false, "[7 8 1]", "[1]"},
        {actions::insert_s, ints({1}), ints({7, 8}), -1, -1, true, "[[7 8] 1]", "[1]"},
    };
    for (const Case& c : cases) {
        Cell result = run(c.entry, {c.series, c.value, int_cell(c.part), int_cell(c.dup)},
                          {c.part >= 0 ? 2 : -1, c.only ? 0 : -1, c.dup >= 0 ? 3 : -1});
        EXPECT_EQ(mold(at_head(c.series, 0)), c.whole) << c.whole;
        EXPECT_EQ(mold(result), c.result) << c.whole;
    }
}

TEST(BlockAppend, TheBlockItselfAsTheValue) {
    struct Case {
        void (*entry)(const int32_t*);
        uint32_t series_head, value_head;
        int32_t dup;
        const char* whole;
        const char* result;
    } cases[] = {
        {actions::append_s, 0, 0, -1, "[1 2 1 2]", "[1 2 1 2]"},
        {actions::append_s, 0, 0, 2, "[1 2 1 2 1 2]", "[1 2 1 2 1 2]"},
        {actions::insert_s, 0, 0, -1, "[1 2 1 2]", "[1 2]"},
        {actions::insert_s, 1, 0, -1, "[1 1 2 2]", "[2]"},
        {actions::insert_s, 1, 1, 3, "[1 2 2 2 2]", "[2]"},
        {actions::change_s, 1, 0, -1, "[1 1 2]", "[]"},
    };
    for (const Case& c : cases) {
        Cell b = ints({1, 2});
        Cell result = run(c.entry, {at_head(b, c.series_head), at_head(b, c.value_head), int_cell(c.dup)},
                          {-1, -1, c.dup >= 0 ? 2 : -1});
        EXPECT_EQ(mold(b), c.whole);
        EXPECT_EQ(mold(result), c.result);
    }
    // Cells taken from behind the insertion point, which the insertion moves.
    Cell b = ints({1, 2, 3});
    run(actions::insert_s, {b, at_head(b, 1)});
    EXPECT_EQ(mold(b), "[2 3 1 2 3]");
}

TEST(BlockAppend, GrowsAcrossManyAppends) {
    Cell b = block_of({});
    for (int32_t i = 0; i < 1000; i++) run(actions::append_s, {b, int_cell(i)});
    run(actions::append_s, {b, ints({7, 8}), int_cell(300)}, {-1, -1, 2});
    EXPECT_EQ(block::rs_length_q(b), 1600u);
    EXPECT_EQ(integer::get(*block::rs_abs_at(b, 999)), 999);
    EXPECT_EQ(integer::get(*block::rs_abs_at(b, 1599)), 8);
}

TEST(BlockAppend, SizesBeyondABufferAreRefused) {
    for (int32_t dup : {1 << 26, 0x7FFFFFFF}) {
        Cell b = ints({1});
        EXPECT_EQ(error_of([&] {
                      run(actions::append_s, {b, ints({1, 2}), int_cell(dup)}, {-1, -1, 2});
                  }),
                  Err::internal_no_memory);
        EXPECT_EQ(mold(b), "[1]");
    }
}

TEST(BlockChange, ReplacesFromTheHead) {
    struct Case {
        Cell series, value;
        int32_t part, dup;  // -1: not given
        bool only;
        const char* whole;
        const char* result;
    } cases[] = {
        {ints({1, 2, 3}), int_cell(9), -1, -1, false, "[9 2 3]", "[2 3]"},
        {ints({1, 2, 3}), ints({8, 9}), -1, -1, false, "[8 9 3]", "[3]"},
        {ints({1, 2, 3}), int_cell(9), 2, -1, false, "[9 3]", "[3]"},
        {ints({1, 2, 3}), ints({7, 8, 9}), 1, -1, false, "[7 8 9 2 3]", "[2 3]"},
        {ints({1, 2, 3}), block_of({}), 2, -1, false, "[3]", "[3]"},
        {ints({1, 2}), block_of({}), -1, -1, false, "[1 2]", "[1 2]"},
        {ints({1, 2}), ints({8, 9}), -1, -1, true, "[[8 9] 2]", "[2]"},
        {ints({1, 2, 3}), int_cell(0), -1, 2, false, "[0 0 3]", "[3]"},
        {ints({1, 2, 3}), ints({5, 6}), 1, 2, false, "[5 6 5 6 2 3]", "[2 3]"},
        {ints({1, 2}), ints({7, 8, 9}), -1, -1, false, "[7 8 9]", "[]"},
        {at_head(ints({1}), 1), int_cell(2), -1, -1, false, "[1 2]", "[]"},
        {at_head(ints({1}), 6), int_cell(2), -1, -1, false, "[1 2]", "[]"},
    };
    for (const Case& c : cases) {
        Cell result = run(actions::change_s, {c.series, c.value, int_cell(c.part), int_cell(c.dup)},
                          {c.part >= 0 ? 2 : -1, c.only ? 0 : -1, c.dup >= 0 ? 3 : -1});
        EXPECT_EQ(mold(at_head(c.series, 0)), c.whole) << c.whole;
        EXPECT_EQ(mold(result), c.result) << c.whole;
    }
}

TEST(BlockChange, PartPositionsAndNegativeCountsMeasureTheSeries) {
    Cell b = ints({1, 2, 3, 4});
    EXPECT_EQ(mold(run(actions::change_s, {b, int_cell(9), at_head(b, 2)}, {2})), "[3 4]");
    EXPECT_EQ(mold(b), "[9 3 4]");
    EXPECT_EQ(mold(run(actions::change_s, {at_head(b, 2), int_cell(7), int_cell(-1)}, {2})), "[4]");
    EXPECT_EQ(mold(b), "[9 7 4]");
}

TEST(BlockCopy, ShallowDeepAndByType) {
    Cell b = block_of({int_cell(1), block_of({int_cell(2), ints({3})})});
    struct Case {
        std::vector<int32_t> refinements;
        Cell types;
        bool nested_copied, inner_copied;
    } cases[] = {
        {{}, none::value, false, false},
        {{-1, 0}, none::value, true, true},
        {{-1, -1, 1}, type_cell(Type::Block), true, true},
        {{-1, -1, 1}, type_cell(Type::Integer), false, false},
        {{-1, -1, 1}, Cell::of(Type::Typeset).set_low_type_bits(0x04), true, true},      // block!
        {{-1, -1, 1}, Cell::of(Type::Typeset).set_low_type_bits(0x1000), false, false},  // integer!
    };
    Cell nested = *block::rs_abs_at(b, 1), inner = *block::rs_abs_at(nested, 1);
    for (const Case& c : cases) {
        Cell copy = run(actions::copy_s, {b, c.types}, c.refinements);
        EXPECT_EQ(mold(copy), "[1 [2 [3]]]");
        EXPECT_NE(copy.node(), b.node());
        Cell copied_nested = *block::rs_abs_at(copy, 1);
        EXPECT_EQ(copied_nested.node() != nested.node(), c.nested_copied);
        EXPECT_EQ(block::rs_abs_at(copied_nested, 1)->node() != inner.node(), c.inner_copied);
    }
}

TEST(BlockCopy, DeepCopyOfABlockHoldingItselfIsRefused) {
    Cell b = holding_itself({1});
    EXPECT_EQ(error_of([&] { run(actions::copy_s, {b}, {-1, 0}); }), Err::internal_no_cycle);
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_EQ(
        error_of([&] { run([](const int32_t*) { block::clone(*stack::arguments(), block::Nested::blocks); }, {b}); }),
        Err::internal_no_cycle);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST(BlockTake, OneValueOrABlockDeepWhenAsked) {
    Cell inner = ints({1, 2});
    Cell b = block_of({inner, int_cell(3), ints({4})});
    Cell taken = run(actions::take_s, {b}, {});
    EXPECT_EQ(taken.node(), inner.node());  // the value itself
    Cell deep = run(actions::take_s, {b}, {-1, 0});
    EXPECT_EQ(mold(deep), "3");
    Cell nested = *block::rs_abs_at(b, 0);
    Cell part = run(actions::take_s, {b, int_cell(1)}, {1, 0});
    EXPECT_EQ(mold(part), "[[4]]");
    EXPECT_NE(block::rs_abs_at(part, 0)->node(), nested.node());
    EXPECT_EQ(mold(b), "[]");
    block::rs_append(b, inner);
    Cell copied = run(actions::take_s, {b}, {-1, 0});
    EXPECT_EQ(mold(copied), "[1 2]");
    EXPECT_NE(copied.node(), inner.node());
}

TEST(BlockSwap, ExchangesTheHeadCells) {
    Cell a = ints({1, 2}), b = ints({3, 4});
    Cell result = run(actions::swap_s, {at_head(a, 1), b});
    EXPECT_EQ(mold(a), "[1 3]");
    EXPECT_EQ(mold(b), "[2 4]");
    EXPECT_EQ(result.head(), 1u);
    run(actions::swap_s, {at_head(a, 2), b});
    EXPECT_EQ(mold(b), "[2 4]");
    EXPECT_EQ(error_of([&] { run(actions::swap_s, {a, int_cell(1)}); }), Err::script_invalid_arg);
}

TEST(BlockTrim, RemovesNoneFromTheHeadOn) {
    Cell b = block_of({none::value, int_cell(1), none::value, int_cell(2), none::value});
    EXPECT_EQ(mold(run(actions::trim_s, {at_head(b, 1)})), "[1 2]");
    EXPECT_EQ(mold(b), "[none 1 2]");
}

TEST(BlockMakeTo, SpecsGiveCapacitiesCopiesOrOneValue) {
    struct Case {
        void (*entry)(const int32_t*);
        Cell spec;
        const char* made;
        uint32_t capacity;  // 0: not checked
    } cases[] = {
        {actions::make_s, int_cell(5), "[]", 5},
        {actions::make_s, int_cell(0), "[]", 1},
        {actions::make_s, int_cell(-3), "[]", 1},
        {actions::make_s, float_cell(2.7), "[]", 2},
        {actions::make_s, at_head(ints({1, 2, 3}), 1), "[2 3]", 0},
        {actions::to_s, int_cell(1), "[1]", 0},
        {actions::to_s, none::value, "[none]", 0},
        {actions::to_s, ints({1, 2}), "[1 2]", 0},
    };
    for (const Case& c : cases) {
        Cell made = run(c.entry, {type_cell(Type::Block), c.spec});
        EXPECT_EQ(made.type(), Type::Block);
        EXPECT_EQ(mold(made), c.made);
        if (c.capacity) {
            EXPECT_EQ(capacity_in_cells(made), c.capacity);
        }
        if (c.spec.is(Type::Block)) {
            EXPECT_NE(made.node(), c.spec.node());
        }
    }
}

TEST(BlockMakeTo, UnusableSpecsAreRefused) {
    EXPECT_EQ(error_of([] { run(actions::make_s, {type_cell(Type::Block), none::value}); }), Err::script_bad_make_arg);
    EXPECT_EQ(error::raised.args[0].named_type(), Type::Block);
    EXPECT_EQ(error_of([] {
                  run(actions::make_s, {type_cell(Type::Block), float_cell(1e10)});
              }),
              Err::script_out_of_range);
}

TEST(BlockRoutines, WalkingAndCutting) {
    Cell b = ints({1, 2, 3});
    EXPECT_FALSE(block::rs_next(&b));
    EXPECT_FALSE(block::rs_next(&b));
    EXPECT_TRUE(block::rs_next(&b));
    EXPECT_EQ(b.head(), 2u);

    Cell late = at_head(b, 9);
    EXPECT_EQ(block::rs_head(&late).get(), block::rs_tail(b).get());
    EXPECT_EQ(late.head(), 3u);

    block::rs_remove_last(&late);
    EXPECT_EQ(late.head(), 2u);
    block::rs_clear(at_head(b, 1));
    EXPECT_EQ(mold(at_head(b, 0)), "[1]");
    block::rs_append_block(b, at_head(ints({5, 6, 7}), 1));
    EXPECT_EQ(mold(at_head(b, 0)), "[1 6 7]");
    block::rs_clear_at(b, 2);
    EXPECT_EQ(mold(at_head(b, 0)), "[1 6]");
    EXPECT_EQ(integer::get(*block::rs_append(b, int_cell(8))), 8);
    EXPECT_EQ(mold(at_head(b, 0)), "[1 6 8]");
}

TEST(BlockRoutines, SelectingAndRemovingByValue) {
    Cell b = ints({1, 2, 3, 2});
    EXPECT_EQ(integer::get(*block::rs_select(b, int_cell(2))), 3);
    EXPECT_TRUE(block::rs_select(b, int_cell(9))->is(Type::None));
    EXPECT_TRUE(block::rs_select(at_head(b, 3), int_cell(2))->is(Type::None));  // the match is the last cell
    EXPECT_FALSE(block::rs_remove_value(at_head(b, 2), int_cell(1), false));
    EXPECT_TRUE(block::rs_remove_value(at_head(b, 2), int_cell(1), true));
    EXPECT_TRUE(block::rs_remove_value(at_head(b, 2), int_cell(2), false));
    EXPECT_EQ(mold(b), "[2 3]");
}

TEST(BlockRoutines, SelectWordMatchesAnyWordKindBySymbol) {
    auto symbol_of = [](const char* name) {
        return symbol::lookup(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), false);
    };
    auto word = [](Type kind, uint32_t symbol) { return Cell::of(kind).set_symbol(symbol); };
    uint32_t key = symbol_of("key"), other = symbol_of("other"), upper = symbol_of("KEY");
    Cell b = block_of({word(Type::Word, other), int_cell(1), word(Type::SetWord, key), int_cell(2),
                       word(Type::Word, upper), int_cell(3)});
    EXPECT_EQ(integer::get(*block::select_word(b, word(Type::Word, key), true)), 2);
    EXPECT_EQ(integer::get(*block::select_word(b, word(Type::Word, upper), true)), 3);
    EXPECT_EQ(integer::get(*block::select_word(b, word(Type::Word, upper), false)), 2);
    EXPECT_TRUE(block::select_word(b, word(Type::Word, symbol_of("absent")), false)->is(Type::None));
    EXPECT_EQ(integer::get(*block::select_word(at_head(b, 4), word(Type::Word, key), false)), 3);
    EXPECT_TRUE(block::select_word(at_head(b, 4), word(Type::Word, key), true)->is(Type::None));
    EXPECT_TRUE(block::select_word(ints({1, 2}), word(Type::Word, key), false)->is(Type::None));
}

TEST(BlockRoutines, InsertingAtTheHeadOrTheStart) {
    Cell b = at_head(ints({1, 2}), 1);
    block::insert_value(&b, int_cell(7), {.advance = true});
    EXPECT_EQ(b.head(), 2u);
    block::insert_value(&b, int_cell(0), {.at_start = true});
    EXPECT_EQ(b.head(), 2u);
    block::insert_block(b, at_head(ints({8, 9}), 1));
    EXPECT_EQ(mold(at_head(b, 0)), "[0 1 9 7 2]");
}

TEST(BlockRoutines, FrameHelpersInsertAndAppendArguments) {
    Cell b = ints({1});
    run([](const int32_t*) { block::insert_arg(); }, {b, int_cell(0)});
    run([](const int32_t*) { block::append_arg(); }, {b, int_cell(2)});
    run(
        [](const int32_t*) {
            stack::frame_base++;  // the result slot above the block
            block::append_last();
            stack::frame_base--;
        },
        {b, int_cell(3)});
    EXPECT_EQ(mold(b), "[0 1 2 3]");
}

TEST(BlockRoutines, CloneCopiesNestedBlocksAndParensAndPathsWhenAsked) {
    Cell inner = ints({1}), paren = with_type(ints({2}), Type::Paren);
    Cell b = line(block_of({inner, paren}));
    struct Case {
        block::Nested nested;
        bool inner_copied, paren_copied;
    } cases[] = {
        {block::Nested::shared, false, false}, {block::Nested::blocks, true, false}, {block::Nested::code, true, true}};
    for (const Case& c : cases) {
        Cell clone = *block::clone(b, c.nested);
        stack::pop(1);
        EXPECT_TRUE(clone.new_line());
        EXPECT_NE(clone.node(), b.node());
        EXPECT_EQ(block::rs_abs_at(clone, 0)->node() != inner.node(), c.inner_copied);
        EXPECT_EQ(block::rs_abs_at(clone, 1)->node() != paren.node(), c.paren_copied);
        EXPECT_EQ(block::rs_abs_at(clone, 1)->type(), Type::Paren);
    }
}

TEST(BlockRoutines, Constructors) {
    Cell parent = block_of({});
    Cell* fixed = block::make_in(&parent, 3);
    EXPECT_TRUE(mem::buffer(fixed->node())->flags & kSeriesFixed);
    Cell* sized = block::make_in_sized(&parent, 3);
    EXPECT_FALSE(mem::buffer(sized->node())->flags & kSeriesFixed);
    EXPECT_EQ(mold(parent), "[[] []]");

    Cell preset;
    block::make_at_fixed(&preset, 2, false);
    EXPECT_TRUE(mem::ptr<Cell>(mem::buffer(preset.node())->data_start())[1].is(Type::Unset));

    Cell* pushed = block::push_only_s(0);
    EXPECT_EQ(capacity_in_cells(*pushed), 1u);
    EXPECT_EQ(block::push(parent)->node(), parent.node());
    stack::pop(2);
}

// Nesting deeper than the cycle stack allows ends in internal too-deep, not in a C++ stack overflow.
TEST(BlockDepth, DeeplyNestedBlocksRaiseTooDeep) {
    Cell deep = nested(5000), other = nested(5000);
    struct Case {
        const char* what;
        void (*entry)(const int32_t*);
        std::vector<int32_t> refinements;
    } cases[] = {
        {"mold", actions::mold_s, {}},
        {"form", actions::form_s, {}},
        {"copy/deep", actions::copy_s, {-1, 0}},
        {"compare", [](const int32_t*) { actions::compare_s(kCompareEqual); }, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(error_of([&] { run(c.entry, {deep, other}, c.refinements); }), Err::internal_too_deep) << c.what;
        EXPECT_EQ(cycles::depth(), 0u);
    }
    EXPECT_EQ(error_of([&] {
                  run([](const int32_t*) { block::clone(*stack::arguments(), block::Nested::blocks); }, {deep});
              }),
              Err::internal_too_deep);
    EXPECT_EQ(block::mold_depth, 0);
    EXPECT_EQ(mold(nested(100)).size(), 202u);
}
