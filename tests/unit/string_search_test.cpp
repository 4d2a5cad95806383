// string!: find, select and sort through the stack entry points.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/word.h"
#include "search_testing.h"
#include "string_testing.h"

using namespace oka;
using test::at_head;
using test::char_cell;
using test::code_points;
using test::error_of;
using test::given;
using test::int_cell;
using test::kFunction;
using test::run;
using test::SortFunction;
using test::str;
using test::text_of_unit;
using test::utf8;
using enum test::SearchRefinement;
using enum test::SortRefinement;

namespace {

// A bitset! holding the code points given (bit n in byte n / 8, most significant bit first).
Cell bitset_of(std::u32string members, bool negated = false) {
    uint32_t bytes = 1 + *std::max_element(members.begin(), members.end()) / 8;
    Node node = alloc::alloc_bytes_filled(bytes, 0);
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    b->tail = b->offset + bytes;
    for (char32_t m : members) *mem::ptr(b->offset + m / 8) |= uint8_t(0x80 >> (m % 8));
    if (negated) b->flags |= kSeriesNegated;
    return test::keep(Cell::of(Type::Bitset).set_node(node));
}

// True when the first argument sorts first: ascending code points.
void ascending(const Cell&, Cell* arguments) {
    logic::make_at(arguments, arguments[0].code_point() < arguments[1].code_point());
}

Node sorted_node = 0;  // the string the hooks below change while it is being sorted

void ascending_while_growing(const Cell& function, Cell* arguments) {
    for (int i = 0; i < 40; i++) string::append_char(sorted_node, '!');  // moves the buffer again and again
    ascending(function, arguments);
}

void ascending_while_clearing(const Cell& function, Cell* arguments) {
    string::remove_part(sorted_node, 0, 1000);
    ascending(function, arguments);
}

// Records come as strings: they order by their second unit, descending.
void by_second_unit(const Cell&, Cell* arguments) {
    ASSERT_EQ(arguments[0].type(), Type::String);
    integer::make_at(arguments,
                     int32_t(string::rs_abs_at(arguments[1], 1)) - int32_t(string::rs_abs_at(arguments[0], 1)));
}

// A find or select: the arguments of /part and /skip follow the value in the frame when given.
struct Search {
    const char* text;
    uint32_t head;
    Cell value;
    std::vector<int> flags;
    std::optional<int32_t> part = std::nullopt, skip = std::nullopt;
};

Cell search(void (*entry)(const int32_t*), const Search& s) {
    std::vector<int32_t> refinements(16, -1);
    for (int flag : s.flags) refinements[flag] = 0;
    if (s.part) refinements[kPart] = 2;
    if (s.skip) refinements[kSkip] = 3;
    return run(entry,
               {at_head(str(s.text), s.head), s.value, int_cell(s.part.value_or(0)), int_cell(s.skip.value_or(0))},
               refinements);
}

// A sort: the arguments of /skip, /compare and /part follow the series in the frame when given.
struct Sorting {
    std::vector<int> flags;
    std::optional<int32_t> skip = std::nullopt;
    std::optional<Cell> compare = std::nullopt;
    std::optional<int32_t> part = std::nullopt;
};

Cell sort(const Cell& series, const Sorting& s) {
    std::vector<int32_t> refinements(16, -1);
    for (int flag : s.flags) refinements[flag] = 0;
    if (s.skip) refinements[kSortSkip] = 1;
    if (s.compare) refinements[kSortCompare] = 2;
    if (s.part) refinements[kSortPart] = 3;
    return run(actions::sort_s,
               {series, int_cell(s.skip.value_or(0)), s.compare.value_or(none::value), int_cell(s.part.value_or(0))},
               refinements);
}

}  // namespace

TEST(StringFind, PositionsAndTheRefinementsThatMoveThem) {
    Cell foo = word::load("foo");
    struct Case {
        Search search;
        int32_t found;  // the head of the result, -1 for none
    } cases[] = {
        {{"XaY", 0, char_cell('a'), {kTail}}, 2},
        {{"abc", 0, str("ab"), {kMatch}}, 0},
        {{"abc", 0, str("ab"), {kMatch, kTail}}, 2},
        {{"xabc", 0, str("ab"), {kMatch}}, -1},
        {{"", 0, char_cell('a'), {}}, -1},
        {{"abc", 3, char_cell('a'), {}}, -1},
        {{"abc", 0, char_cell('a'), {kReverse}}, -1},
        {{"abcABC", 0, str("B"), {}}, 1},
        {{"abcABC", 0, str("B"), {kCase}}, 4},
        {{"abcABC", 0, str("B"), {kSame}}, 4},
        {{"abcabc", 0, str("bc"), {kLast}}, 4},
        {{"abcabc", 6, str("bc"), {kReverse}}, 4},
        {{"abcabc", 4, str("bc"), {kReverse}}, 1},
        {{"abcabc", 4, str("bc"), {kReverse, kTail}}, 3},
        {{"abcabc", 4, str("a"), {kReverse}, 1}, 3},
        {{"abcabc", 4, str("c"), {kReverse}, 1}, -1},
        {{"aXbXcX", 0, char_cell('X'), {}, std::nullopt, 2}, -1},
        {{"aXbXcX", 0, char_cell('c'), {}, std::nullopt, 2}, 4},
        {{"abcd", 0, str("cd"), {}, 2}, -1},
        {{"abcd", 0, str("bc"), {}, 3}, 1},
        {{"abcd", 0, str("a"), {}, 0}, -1},
        {{"a foo", 0, foo, {}}, 2},
        {{"a12", 0, int_cell(12), {}}, 1},
        {{"abc", 0, str(""), {}}, -1},
        {{"abcb", 0, bitset_of(U"bc"), {}}, 1},
        {{"aB\u00E9", 0, bitset_of(U"b"), {}}, -1},
        {{"ab\u00E9", 0, bitset_of(U"b", true), {kLast}}, 2},
        {{"\u03B1\u03B2\u03B3", 0, str("\u0392"), {}}, 1},
        {{"\U0001F600\u00E9", 0, str("\u00C9"), {}}, 1},
    };
    for (const Case& c : cases) {
        Cell result = search(actions::find_s, c.search);
        if (c.found < 0) {
            EXPECT_TRUE(result.is(Type::None)) << c.search.text;
        } else {
            ASSERT_EQ(result.type(), Type::String) << c.search.text;
            EXPECT_EQ(result.head(), uint32_t(c.found)) << c.search.text;
        }
    }
}

TEST(StringFind, Refusals) {
    struct Case {
        Search search;
        Err error;
    } cases[] = {
        {{"abc", 0, char_cell('a'), {kAny}}, Err::internal_not_done},
        {{"abc", 0, char_cell('a'), {}, std::nullopt, 0}, Err::script_out_of_range},
        {{"abc", 0, Cell::of(Type::Binary).set_node(str("a").node()), {}}, Err::script_invalid_arg},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { search(actions::find_s, c.search); }), c.error);
    Cell other = str("abc");
    EXPECT_EQ(error_of([&] {
                  run(actions::find_s, {str("abc"), char_cell('a'), other}, given({{kPart, 2}}));
              }),
              Err::script_invalid_refine_arg);
}

TEST(StringSelect, TheCodePointAfterTheMatch) {
    struct Case {
        Search search;
        int32_t selected;  // -1 for none
    } cases[] = {
        {{"abc", 0, char_cell('A'), {}}, 'b'}, {{"abc", 0, char_cell('c'), {}}, -1},
        {{"abc", 0, str("ab"), {}}, 'c'},      {{"abab", 0, char_cell('a'), {kLast}}, 'b'},
        {{"xabc", 0, int_cell(1), {}}, -1},    {{"x12y", 0, int_cell(12), {}}, 'y'},
    };
    for (const Case& c : cases) {
        Cell result = search(actions::select_s, c.search);
        if (c.selected < 0) {
            EXPECT_TRUE(result.is(Type::None)) << c.search.text;
        } else {
            ASSERT_EQ(result.type(), Type::Char) << c.search.text;
            EXPECT_EQ(result.code_point(), uint32_t(c.selected));
        }
    }
}

TEST(StringSort, OrdersFoldedUnlessCase) {
    struct Case {
        const char* text;
        uint32_t head;
        Sorting sorting;
        const char* sorted;  // from the buffer start
        uint32_t result_head;
    } cases[] = {
        {"dCbA", 0, {}, "AbCd", 0},
        {"dCbA", 0, {{kSortCase}}, "ACbd", 0},
        {"dCbA", 0, {{kSortReverse}}, "dCbA", 0},
        {"xdCbA", 1, {}, "xAbCd", 1},
        {"b2b1a9", 0, {{kSortAll}, 2}, "a9b1b2", 0},
        {"b2b1a9", 0, {{kSortStable}, 2}, "a9b2b1", 0},
        {"b2a1b1", 0, {{kSortStable}, 2, int_cell(2)}, "a1b1b2", 0},
        {"dcba", 0, {{}, std::nullopt, std::nullopt, 2}, "cdba", 0},
        {"dcba", 2, {{}, std::nullopt, std::nullopt, -2}, "cdba", 0},
        {"dcba", 2, {{}, std::nullopt, std::nullopt, -9}, "cdba", 0},
        {"", 0, {}, "", 0},
    };
    for (const Case& c : cases) {
        Cell series = at_head(str(c.text), c.head);
        Cell result = sort(series, c.sorting);
        EXPECT_EQ(utf8(at_head(series, 0)), c.sorted) << c.text;
        EXPECT_EQ(result.head(), c.result_head) << c.text;
    }
}

TEST(StringSort, EveryUnitSizeGivesTheSameOrder) {
    const std::u32string text = U"b_aA\u00E9 \u00C9zZ[";
    for (bool stable : {false, true}) {
        std::u32string first;
        for (uint32_t unit : {1u, 2u, 4u}) {
            Cell s = text_of_unit(text, unit);
            sort(s, {stable ? std::vector<int>{kSortStable} : std::vector<int>{}});
            if (unit == 1) first = code_points(s);
            EXPECT_TRUE(code_points(s) == first) << "unit " << unit;
        }
        if (stable) {
            EXPECT_TRUE(first == U" [_aAbzZ\u00E9\u00C9");
        }
    }
}

// Records keyed by their first unit in three letter cases; the second unit numbers them in order.
TEST(StringSort, StableStaysStableWithCase) {
    std::u32string records;
    const char32_t keys[] = {'b', 'A', 'a', 'B'};
    for (char32_t i = 0; i < 400; i++) records += std::u32string{keys[(i * 7) % 4], 0x100 + i};
    Cell s = text_of_unit(records, 2);
    sort(s, {{kSortStable, kSortCase}, 2, int_cell(1)});
    std::u32string sorted = code_points(s);
    for (size_t i = 2; i < sorted.size(); i += 2) {
        ASSERT_LE(sorted[i - 2], sorted[i]);
        if (sorted[i - 2] == sorted[i]) {
            ASSERT_LT(sorted[i - 1], sorted[i + 1]) << "record " << i / 2;
        }
    }
}

TEST(StringSort, Refusals) {
    SortFunction no_caller(nullptr);  // sorting by a function needs a caller
    struct Case {
        const char* text;
        Sorting sorting;
        Err error;
    } cases[] = {
        {"abcde", {{}, 2}, Err::script_invalid_refine_arg},
        {"abcd", {{}, 0}, Err::script_invalid_refine_arg},
        {"a", {{}, 2}, Err::script_invalid_refine_arg},
        {"abcd", {{kSortAll}}, Err::script_bad_refines},
        {"abcd", {{}, std::nullopt, int_cell(1)}, Err::script_bad_refines},
        {"abcd", {{kSortAll}, 2, int_cell(1)}, Err::script_bad_refines},
        {"abcd", {{}, 2, int_cell(3)}, Err::script_out_of_range},
        {"abcd", {{}, 2, int_cell(0)}, Err::script_out_of_range},
        {"abcd", {{}, std::nullopt, str("x")}, Err::script_invalid_refine_arg},
        {"abcd", {{}, std::nullopt, kFunction}, Err::internal_not_done},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { sort(str(c.text), c.sorting); }), c.error) << c.text;
}

TEST(StringSort, ByAFunction) {
    SortFunction hook(ascending);
    Cell s = str("dcba");
    sort(s, {{}, std::nullopt, kFunction});
    EXPECT_EQ(utf8(s), "abcd");
    sort(s, {{kSortReverse}, std::nullopt, kFunction});
    EXPECT_EQ(utf8(s), "dcba");
    Cell records = str("a1b3c2");
    SortFunction by_record(by_second_unit);
    sort(records, {{kSortAll}, 2, kFunction});
    EXPECT_EQ(utf8(records), "b3c2a1");
}

// The function may move or empty the very buffer being sorted: the sort never writes into a buffer
// the string has left, and a string whose length changed keeps what the function made of it, with
// script protected raised, as for a block.
TEST(StringSort, AFunctionThatChangesTheStringItSorts) {
    for (bool stable : {false, true}) {
        Cell s = str("hgfedcba");
        sorted_node = s.node();
        SortFunction hook(ascending_while_growing);
        EXPECT_EQ(error_of([&] {
                      sort(s, {stable ? std::vector<int>{kSortStable} : std::vector<int>{}, std::nullopt, kFunction});
                  }),
                  Err::script_protected);
        std::string text = utf8(s);
        EXPECT_EQ(text.substr(0, 8), "hgfedcba");
        EXPECT_EQ(text.find_first_not_of('!', 8), std::string::npos);
        EXPECT_GT(text.size(), 8u);
    }
    Cell s = str("dcba");
    sorted_node = s.node();
    SortFunction hook(ascending_while_clearing);
    EXPECT_EQ(error_of([&] { sort(s, {{}, std::nullopt, kFunction}); }), Err::script_protected);
    EXPECT_EQ(utf8(s), "");
}
