// block!: find, select, put, path access, sort and the set operations, driven through the stack entry
// points and read back as molded text.
#include <gtest/gtest.h>

#include <optional>

#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/hashtable.h"
#include "runtime/registry.h"
#include "search_testing.h"
#include "string_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

Cell w(const char* name) { return word::load(name); }

Cell typeset_of(Type type) {
    Cell set = Cell::of(Type::Typeset);
    typeset::set_type(&set, type_cell(type));
    return set;
}

// A find or select: the arguments of /part and /skip follow the value in the frame when given.
struct Search {
    Cell series, value;
    std::vector<int> flags = {};
    std::optional<Cell> part = std::nullopt, skip = std::nullopt;
};

Cell search(void (*entry)(const int32_t*), const Search& s) {
    std::vector<int32_t> refinements(16, -1);
    for (int flag : s.flags) refinements[flag] = 0;
    if (s.part) refinements[kPart] = 2;
    if (s.skip) refinements[kSkip] = 3;
    return run(entry, {s.series, s.value, s.part.value_or(none::value), s.skip.value_or(none::value)}, refinements);
}

// A sort: the arguments of /skip, /compare and /part follow the series in the frame when given.
struct Sorting {
    std::vector<int> flags = {};
    std::optional<int32_t> skip = std::nullopt;
    std::optional<Cell> compare = std::nullopt;
    std::optional<Cell> part = std::nullopt;
};

Cell sort(const Cell& series, const Sorting& s) {
    std::vector<int32_t> refinements(16, -1);
    for (int flag : s.flags) refinements[flag] = 0;
    if (s.skip) refinements[kSortSkip] = 1;
    if (s.compare) refinements[kSortCompare] = 2;
    if (s.part) refinements[kSortPart] = 3;
    return run(actions::sort_s,
               {series, int_cell(s.skip.value_or(0)), s.compare.value_or(none::value), s.part.value_or(none::value)},
               refinements);
}

void lesser(const Cell&, Cell* arguments) {
    logic::make_at(arguments, integer::get(arguments[0]) < integer::get(arguments[1]));
}
void difference(const Cell&, Cell* arguments) {
    integer::make_at(arguments, integer::get(arguments[0]) - integer::get(arguments[1]));
}
// With /all the records come as blocks: they order by their second cell.
void by_second_cell(const Cell&, Cell* arguments) {
    ASSERT_EQ(arguments[0].type(), Type::Block);
    logic::make_at(arguments,
                   integer::get(*block::rs_abs_at(arguments[0], 1)) < integer::get(*block::rs_abs_at(arguments[1], 1)));
}

Cell sorted_block;  // the block that the functions below change while it is being sorted

// Grows the block, which moves its buffer, and cuts it back: the length stays.
void lesser_while_moving(const Cell& function, Cell* arguments) {
    uint32_t length = block::rs_length_q(sorted_block);
    for (int i = 0; i < 40; i++) block::rs_append(sorted_block, int_cell(-1));
    block::rs_clear_at(sorted_block, length);
    lesser(function, arguments);
}
void lesser_while_overwriting(const Cell& function, Cell* arguments) {
    *block::rs_abs_at(sorted_block, 0) = int_cell(999);
    lesser(function, arguments);
}
void lesser_while_growing(const Cell& function, Cell* arguments) {
    block::rs_append(sorted_block, int_cell(-1));
    lesser(function, arguments);
}

// The set operation that run_set_op performs on the blocks of its frame.
bool set_case = false;
int32_t set_skip = 1;
series::SetOp set_op = series::SetOp::union_;
void run_set_op(const int32_t*) { block::do_set_op(set_case, set_skip, set_op); }

}  // namespace

TEST(BlockFind, PositionsAndTheRefinementsThatMoveThem) {
    Cell b = ints({1, 2, 3, 2, 1}), runs = ints({1, 2, 3, 2, 3});
    Cell pairs = block_of({w("a"), int_cell(1), w("b"), int_cell(2), w("c"), int_cell(3)});
    Cell nested = block_of({int_cell(1), ints({2}), int_cell(3)});
    Cell text = str("a");
    struct Case {
        Search search;
        int32_t found;  // the head of the result, -1 for none
    } cases[] = {
        {{b, int_cell(2)}, 1},
        {{b, int_cell(2), {kTail}}, 2},
        {{b, int_cell(2), {kLast}}, 3},
        {{at_head(b, 4), int_cell(3), {kLast}}, 2},  // /last walks down to the buffer start
        {{at_head(b, 3), int_cell(2), {kReverse}}, 1},
        {{at_head(b, 3), int_cell(2), {kReverse, kTail}}, 2},
        {{b, int_cell(1), {kReverse}}, -1},
        {{at_head(b, 5), int_cell(1), {kReverse}}, 4},
        {{b, int_cell(1), {kMatch}}, 0},
        {{b, int_cell(2), {kMatch}}, -1},
        {{b, int_cell(1), {kMatch, kTail}}, 1},
        {{b, int_cell(3), {}, int_cell(2)}, -1},
        {{b, int_cell(3), {}, int_cell(3)}, 2},
        {{b, int_cell(3), {}, int_cell(0)}, -1},
        {{b, int_cell(3), {}, at_head(b, 2)}, -1},
        {{b, int_cell(3), {}, at_head(b, 3)}, 2},
        {{b, int_cell(2), {}, std::nullopt, int_cell(2)}, -1},
        {{b, int_cell(3), {}, std::nullopt, int_cell(2)}, 2},
        {{at_head(pairs, 1), int_cell(2), {}, std::nullopt, int_cell(2)}, 3},
        {{pairs, w("b"), {kLast}, std::nullopt, int_cell(2)}, 2},
        {{at_head(pairs, 4), w("a"), {kReverse}, std::nullopt, int_cell(2)}, 0},
        {{runs, ints({2, 3})}, 1},
        {{runs, ints({2, 3}), {kLast}}, 3},
        {{runs, ints({2, 3}), {kTail}}, 3},
        {{at_head(runs, 3), ints({2, 3}), {kReverse}}, 1},
        {{at_head(runs, 2), ints({2, 3}), {kReverse}}, -1},  // a run ends before the head
        {{runs, ints({2, 3}), {}, int_cell(2)}, -1},         // and inside the /part range
        {{runs, at_head(ints({9, 3, 2}), 1)}, 2},
        {{b, block_of({})}, -1},
        {{nested, ints({2})}, -1},
        {{nested, ints({2}), {kOnly}}, 1},
        {{block_of({str("x"), int_cell(1), w("x")}), type_cell(Type::Integer)}, 1},
        {{block_of({int_cell(1), type_cell(Type::Integer)}), type_cell(Type::Integer), {kOnly}}, 1},
        {{block_of({int_cell(1), str("x")}), typeset_of(Type::String)}, 1},
        {{block_of({str("a"), str("A")}), str("A")}, 0},
        {{block_of({str("a"), str("A")}), str("A"), {kCase}}, 1},
        {{block_of({str("a"), text}), text, {kSame}}, 1},
        {{block_of({float_cell(1.0), int_cell(1)}), int_cell(1)}, 1},
        {{block_of({}), int_cell(1)}, -1},
        {{at_head(b, 5), int_cell(1)}, -1},
    };
    for (const Case& c : cases) {
        Cell result = search(actions::find_s, c.search);
        std::string what = mold(c.search.series) + " " + mold(c.search.value);
        if (c.found < 0) {
            EXPECT_TRUE(result.is(Type::None)) << what;
            continue;
        }
        EXPECT_EQ(result.type(), c.search.series.type()) << what;
        EXPECT_EQ(result.node(), c.search.series.node()) << what;
        EXPECT_EQ(result.head(), uint32_t(c.found)) << what;
    }
}

TEST(BlockFind, Refusals) {
    Cell b = ints({1, 2});
    struct Case {
        Search search;
        Err error;
    } cases[] = {
        {{b, int_cell(1), {}, std::nullopt, int_cell(0)}, Err::script_out_of_range},
        {{b, int_cell(1), {}, std::nullopt, str("x")}, Err::script_invalid_refine_arg},
        {{b, int_cell(1), {}, ints({1, 2})}, Err::script_invalid_refine_arg},
        {{b, int_cell(1), {}, with_type(b, Type::Paren)}, Err::script_invalid_refine_arg},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { search(actions::find_s, c.search); }), c.error);
    EXPECT_EQ(mold(error::raised.args[0]), "part");
}

TEST(BlockSelect, TheValueAfterTheMatch) {
    Cell pairs = block_of({w("a"), int_cell(1), w("b"), int_cell(2)});
    struct Case {
        Search search;
        const char* selected;
    } cases[] = {
        {{pairs, w("b")}, "2"},
        {{pairs, int_cell(2)}, "none"},
        {{pairs, w("zz")}, "none"},
        {{ints({1, 2, 3, 4}), ints({2, 3})}, "4"},
        {{ints({1, 2, 3, 4}), ints({3, 4})}, "none"},
        {{ints({1, 2, 2, 3}), int_cell(2), {}, std::nullopt, int_cell(2)}, "3"},
        {{at_head(pairs, 2), w("a"), {kReverse}}, "1"},
        {{pairs, w("b"), {}, int_cell(2)}, "none"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(search(actions::select_s, c.search)), c.selected) << c.selected;
}

TEST(BlockPut, ReplacesAppendsOrKeepsAnEqualValue) {
    auto pairs = [] { return block_of({w("a"), int_cell(1), w("b"), int_cell(2)}); };
    struct Case {
        Cell series, key, value;
        bool case_;
        const char* whole;
    } cases[] = {
        {pairs(), w("b"), int_cell(3), false, "[a 1 b 3]"},
        {pairs(), w("B"), int_cell(3), false, "[a 1 b 3]"},
        {pairs(), w("c"), int_cell(4), false, "[a 1 b 2 c 4]"},
        {at_head(pairs(), 2), w("a"), int_cell(5), false, "[a 1 b 2 a 5]"},
        {block_of({w("a"), int_cell(1), w("b")}), w("b"), int_cell(2), false, "[a 1 b 2]"},
        {block_of({str("k"), str("a")}), str("K"), str("A"), false, R"(["k" "a"])"},
        {block_of({str("k"), str("a")}), str("k"), str("A"), true, R"(["k" "a"])"},
        {block_of({str("k"), str("a")}), str("K"), str("b"), true, R"(["k" "a" "K" "b"])"},
        {block_of({ints({1}), int_cell(1)}), ints({1}), int_cell(2), false, "[[1] 2]"},
    };
    for (const Case& c : cases) {
        Cell result = run(actions::put_s, {c.series, c.key, c.value}, {c.case_ ? 0 : -1});
        EXPECT_EQ(mold(at_head(c.series, 0)), c.whole);
        EXPECT_EQ(mold(result), mold(c.value));
    }
}

TEST(BlockPath, IntegersPickAndPokeOtherElementsSelect) {
    Cell fields = block_of({w("a"), int_cell(1), with_type(w("b"), Type::SetWord), int_cell(2), str("x"), int_cell(3)});
    struct Case {
        Cell element;
        const char* read;
    } reads[] = {
        {int_cell(2), "1"}, {int_cell(9), "none"}, {w("b"), "2"},  // any word type of the same spelling
        {w("A"), "1"},      {str("x"), "3"},       {w("zz"), "none"},
    };
    for (const Case& c : reads) EXPECT_EQ(mold(run(actions::eval_path_s, {fields, c.element})), c.read) << c.read;

    auto eval_path = datatype::action<Act::eval_path>(Type::Block);
    Cell upper = w("A");
    EXPECT_TRUE(
        eval_path(&fields, &upper, nullptr, EvalPathOptions{.case_ = true, .get = true, .last = true})->is(Type::None));

    Cell b = ints({10, 20, 30});
    run(actions::set_path_s, {b, int_cell(2), int_cell(99)});
    run(actions::set_path_s, {fields, w("b"), int_cell(7)});
    run(actions::set_path_s, {fields, str("x"), int_cell(8)});
    EXPECT_EQ(mold(b), "[10 99 30]");
    EXPECT_EQ(mold(fields), R"([a 1 b: 7 "x" 8])");
    EXPECT_EQ(error_of([&] { run(actions::set_path_s, {fields, w("zz"), int_cell(0)}); }), Err::script_bad_path_set);
    EXPECT_EQ(mold(error::raised.args[1]), "zz");
    EXPECT_EQ(error_of([&] { run(actions::set_path_s, {b, int_cell(4), int_cell(0)}); }), Err::script_out_of_range);
}

TEST(BlockSort, OrdersAndRefinements) {
    Cell cased = block_of({str("b"), str("A"), str("a"), str("B")});
    struct Case {
        Cell series;
        Sorting sorting;
        const char* whole;
        uint32_t result_head;
    } cases[] = {
        {ints({3, 1, 2}), {}, "[1 2 3]", 0},
        {ints({3, 1, 2}), {{kSortReverse}}, "[3 2 1]", 0},
        {block_of({int_cell(2), float_cell(1.5), int_cell(1)}), {}, "[1 1.5 2]", 0},
        {block_of({int_cell(1), str("a"), none::value}), {}, R"([none "a" 1])", 0},  // by type id
        {cased, {{kSortStable}}, R"(["A" "a" "b" "B"])", 0},
        {cased, {{kSortStable, kSortCase}}, R"(["A" "B" "a" "b"])", 0},
        {block_of({ints({2}), ints({1, 2}), ints({1})}), {}, "[[1] [1 2] [2]]", 0},
        {block_of({int_cell(3), w("c"), int_cell(1), w("a"), int_cell(2), w("b")}), {{}, 2}, "[1 a 2 b 3 c]", 0},
        {block_of({int_cell(1), w("c"), int_cell(2), w("a"), int_cell(3), w("b")}),
         {{}, 2, int_cell(2)},
         "[2 a 3 b 1 c]",
         0},
        {block_of({int_cell(1), w("b"), int_cell(1), w("a")}), {{kSortStable}, 2}, "[1 b 1 a]", 0},
        {block_of({int_cell(1), w("b"), int_cell(1), w("a")}), {{kSortAll}, 2}, "[1 a 1 b]", 0},
        {block_of({int_cell(1), w("b"), int_cell(1), w("a")}), {{kSortAll, kSortReverse}, 2}, "[1 b 1 a]", 0},
        {ints({4, 3, 2, 1}), {{}, std::nullopt, std::nullopt, int_cell(2)}, "[3 4 2 1]", 0},
        {at_head(ints({4, 3, 2, 1}), 2), {{}, std::nullopt, std::nullopt, int_cell(-2)}, "[3 4 2 1]", 0},
        {at_head(ints({4, 3, 2, 1}), 1), {}, "[4 1 2 3]", 1},
        {block_of({}), {}, "[]", 0},
    };
    for (const Case& c : cases) {
        Cell result = sort(c.series, c.sorting);
        EXPECT_EQ(mold(at_head(c.series, 0)), c.whole);
        EXPECT_EQ(result.head(), c.result_head) << c.whole;
    }
}

// qsort is not stable; merge sort keeps equal records in their order through every run length.
TEST(BlockSort, StableKeepsEqualRecordsInOrder) {
    Cell b = block_of({});
    for (int32_t i = 0; i < 300; i++) {
        block::rs_append(b, int_cell((i * 7) % 5));
        block::rs_append(b, int_cell(i));
    }
    sort(b, {{kSortStable}, 2});
    for (uint32_t i = 2; i < block::rs_length_q(b); i += 2) {
        int32_t key0 = integer::get(*block::rs_abs_at(b, i - 2)), key1 = integer::get(*block::rs_abs_at(b, i));
        ASSERT_LE(key0, key1);
        if (key0 == key1) {
            ASSERT_LT(integer::get(*block::rs_abs_at(b, i - 1)), integer::get(*block::rs_abs_at(b, i + 1)));
        }
    }
}

TEST(BlockSort, Refusals) {
    SortFunction no_caller(nullptr);  // sorting by a function needs a caller
    struct Case {
        Cell series;
        Sorting sorting;
        Err error;
    } cases[] = {
        {ints({1, 2, 3, 4, 5}), {{}, 2}, Err::script_invalid_refine_arg},
        {ints({1, 2}), {{}, 0}, Err::script_invalid_refine_arg},
        {ints({1}), {{}, 2}, Err::script_invalid_refine_arg},
        {ints({1, 2}), {{kSortAll}}, Err::script_bad_refines},
        {ints({1, 2}), {{}, std::nullopt, int_cell(1)}, Err::script_bad_refines},
        {ints({1, 2}), {{kSortAll}, 2, int_cell(1)}, Err::script_bad_refines},
        {ints({1, 2}), {{}, 2, int_cell(0)}, Err::script_out_of_range},
        {ints({1, 2}), {{}, 2, int_cell(3)}, Err::script_out_of_range},
        {ints({1, 2}), {{}, std::nullopt, str("x")}, Err::script_invalid_refine_arg},
        {ints({1, 2}), {{}, std::nullopt, std::nullopt, ints({1})}, Err::script_invalid_refine_arg},
        {ints({2, 1}), {{}, std::nullopt, kFunction}, Err::internal_not_done},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { sort(c.series, c.sorting); }), c.error) << mold(c.series);
}

TEST(BlockSort, ByAFunction) {
    for (series::FunctionCaller caller : {lesser, difference}) {
        SortFunction hook(caller);
        for (bool stable : {false, true}) {
            Cell b = ints({3, 1, 2, 5, 4});
            sort(b, {stable ? std::vector<int>{kSortStable} : std::vector<int>{}, std::nullopt, kFunction});
            EXPECT_EQ(mold(b), "[1 2 3 4 5]");
            sort(b, {{kSortReverse}, std::nullopt, kFunction});
            EXPECT_EQ(mold(b), "[5 4 3 2 1]");
        }
    }
    SortFunction hook(lesser);
    Cell records = ints({3, 1, 1, 8});
    sort(records, {{}, 2, kFunction});
    EXPECT_EQ(mold(records), "[1 8 3 1]");
    SortFunction whole(by_second_cell);
    sort(records, {{kSortAll}, 2, kFunction});
    EXPECT_EQ(mold(records), "[3 1 1 8]");
}

// The function may move the block's buffer or overwrite its cells: every record lands once, in order.
// When it changes the block's length the order is not written back.
TEST(BlockSort, AFunctionThatChangesTheBlockItSorts) {
    for (series::FunctionCaller caller : {lesser_while_moving, lesser_while_overwriting}) {
        for (bool stable : {false, true}) {
            sorted_block = ints({8, 3, 5, 1, 7, 2, 6, 4});
            SortFunction hook(caller);
            sort(sorted_block, {stable ? std::vector<int>{kSortStable} : std::vector<int>{}, std::nullopt, kFunction});
            EXPECT_EQ(mold(sorted_block), "[1 2 3 4 5 6 7 8]");
        }
    }
    sorted_block = ints({3, 1, 2});
    SortFunction hook(lesser_while_growing);
    EXPECT_EQ(error_of([] { sort(sorted_block, {{}, std::nullopt, kFunction}); }), Err::script_protected);
    EXPECT_EQ(mold(block::rs_abs_at(sorted_block, 0)[0]), "3");
    EXPECT_EQ(mold(block::rs_abs_at(sorted_block, 2)[0]), "2");
}

TEST(BlockSetOps, RecordsByTheirFirstCell) {
    using series::SetOp;
    Cell words = block_of({w("a"), int_cell(1), w("b"), int_cell(2)});
    struct Case {
        SetOp op;
        Cell first, second;
        int32_t skip;
        bool case_;
        const char* result;
    } cases[] = {
        {SetOp::union_, ints({1, 2, 2}), ints({2, 3}), 1, false, "[1 2 3]"},
        {SetOp::unique, ints({3, 1, 3, 2, 1}), none::value, 1, false, "[3 1 2]"},
        {SetOp::unique, at_head(ints({1, 1, 2}), 1), none::value, 1, false, "[1 2]"},
        {SetOp::intersect, ints({1, 2, 3, 2}), ints({2, 3, 4}), 1, false, "[2 3]"},
        {SetOp::exclude, ints({1, 2, 3, 2}), ints({2}), 1, false, "[1 3]"},
        {SetOp::difference, ints({1, 2, 3}), ints({2, 3, 4, 4}), 1, false, "[1 4]"},
        {SetOp::unique, block_of({str("a"), str("A"), str("b")}), none::value, 1, false, R"(["a" "b"])"},
        {SetOp::unique, block_of({str("a"), str("A"), str("b")}), none::value, 1, true, R"(["a" "A" "b"])"},
        {SetOp::union_, block_of({float_cell(1.0)}), ints({1}), 1, false, "[1.0 1]"},
        {SetOp::unique, block_of({ints({1}), ints({1}), ints({2})}), none::value, 1, false, "[[1] [2]]"},
        {SetOp::intersect, block_of({ints({1}), int_cell(2)}), block_of({ints({1})}), 1, false, "[[1]]"},
        {SetOp::union_, words, block_of({w("a"), int_cell(3), w("c"), int_cell(4)}), 2, false, "[a 1 b 2 c 4]"},
        {SetOp::unique, block_of({w("a"), int_cell(1), w("A"), int_cell(2), w("b")}), none::value, 2, false, "[a 1 b]"},
        {SetOp::intersect, words, block_of({int_cell(1), w("b")}), 2, false, "[]"},  // only first cells count
        {SetOp::exclude, words, block_of({w("b"), int_cell(0)}), 2, false, "[a 1]"},
        {SetOp::union_, block_of({}), block_of({}), 1, false, "[]"},
    };
    for (const Case& c : cases) {
        set_op = c.op;
        set_skip = c.skip;
        set_case = c.case_;
        Cell result = run(run_set_op, {c.first, c.second});
        EXPECT_EQ(result.type(), c.first.type());
        EXPECT_EQ(result.head(), 0u);
        EXPECT_EQ(mold(result), c.result) << c.result;
    }
    set_op = SetOp::unique;
    Cell paren = with_type(ints({1, 1}), Type::Paren);
    EXPECT_EQ(mold(run(run_set_op, {paren})), "(1)");
}

// A hash! result is indexed by the table made with its cells, not by the table of its old cells.
TEST(BlockSetOps, AHashKeepsTheTableOfItsResult) {
    Cell b = ints({3, 3, 4});
    Node table = hashtable::init(3, &b, hashtable::kValues);
    Cell hash = keep(Cell::of(Type::Hash).set_node(b.node()).set_table(table));
    set_op = series::SetOp::unique;
    set_skip = 1;
    set_case = false;
    Cell result = keep(run(run_set_op, {hash}));
    EXPECT_EQ(hashtable::record(result.table())->values, result.node());
    Cell four = int_cell(4);
    EXPECT_EQ(hashtable::find(result.table(), &four, {.skip = 1}), 1);
}

// A poke into a hash-indexed block takes the old value out of the table before the new one goes in.
TEST(BlockHashIndex, APokeMovesTheCellsEntry) {
    Cell b = ints({1, 2, 3});
    Node table = hashtable::init(3, &b, hashtable::kValues);
    Cell hash = keep(Cell::of(Type::Hash).set_node(b.node()).set_table(table));
    Cell two = int_cell(2), nine = int_cell(9);
    datatype::action<Act::poke>(Type::Block)(&hash, 2, &nine, &nine);
    EXPECT_EQ(hashtable::find(table, &two, {.skip = 1}), -1);
    EXPECT_EQ(hashtable::find(table, &nine, {.skip = 1}), 1);
    EXPECT_EQ(hashtable::record(table)->count, 3u);
}
