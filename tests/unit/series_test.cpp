// The series! actions, driven through the stack entry points on blocks and straight through the
// series! row on text of every unit size.
#include <algorithm>

#include "datatypes/datatype.h"
#include "datatypes/symbol.h"
#include "datatypes/words.h"
#include "runtime/registry.h"
#include "series_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

Cell* frame_arg(int k) { return stack::arguments() + k; }

template <Act A>
ActionImpl<A> series_row() {
    return datatype::action<A>(Type::Series);
}

Cell word_(Sym symbol) { return Cell::of(Type::Word).set_symbol(words::id(symbol)); }
Cell pair_(int32_t x, int32_t y) { return Cell::of(Type::Pair).set_x(x).set_y(y); }

}  // namespace

TEST(SeriesPositions, NavigationMovesTheHeadWithinTheBuffer) {
    struct Case {
        void (*entry)(const int32_t*);
        uint32_t head;
        int32_t offset;
        uint32_t expected;
    } cases[] = {
        {actions::at_s, 2, 1, 2},   {actions::at_s, 2, 0, 2},    {actions::at_s, 2, -1, 1},
        {actions::at_s, 2, 3, 4},   {actions::at_s, 2, 10, 5},   {actions::at_s, 2, -10, 0},
        {actions::skip_s, 1, 2, 3}, {actions::skip_s, 1, -5, 0}, {actions::skip_s, 1, 10, 5},
        {actions::back_s, 0, 0, 0}, {actions::back_s, 3, 0, 2},  {actions::next_s, 4, 0, 5},
        {actions::next_s, 5, 0, 5}, {actions::head_s, 3, 0, 0},  {actions::tail_s, 1, 0, 5},
    };
    Cell b = ints({1, 2, 3, 4, 5});
    for (const Case& c : cases) {
        Cell result = run(c.entry, {at_head(b, c.head), int_cell(c.offset)});
        EXPECT_EQ(result.type(), Type::Block);
        EXPECT_EQ(result.head(), c.expected) << "from " << c.head << " by " << c.offset;
    }
}

TEST(SeriesPositions, QueriesAnswerForThePosition) {
    struct Case {
        void (*entry)(const int32_t*);
        uint32_t head;
        Cell expected;
    } cases[] = {
        {actions::head_q_s, 0, logic_cell(true)},  {actions::head_q_s, 1, logic_cell(false)},
        {actions::tail_q_s, 5, logic_cell(true)},  {actions::tail_q_s, 7, logic_cell(true)},
        {actions::tail_q_s, 4, logic_cell(false)}, {actions::index_q_s, 2, int_cell(3)},
        {actions::length_q_s, 2, int_cell(3)},     {actions::length_q_s, 7, int_cell(0)},
    };
    Cell b = ints({1, 2, 3, 4, 5});
    for (const Case& c : cases) {
        Cell result = run(c.entry, {at_head(b, c.head)});
        EXPECT_EQ(result.type(), c.expected.type());
        EXPECT_TRUE(result.same_payload(c.expected));
    }
}

TEST(SeriesPositions, APositionLeftPastTheTailReadsAsTheTail) {
    Cell b = ints({1, 2, 3, 4, 5});
    Cell late = at_head(b, 4);
    run(actions::clear_s, {at_head(b, 2)});
    EXPECT_TRUE(series::rs_tail_q(late));
    EXPECT_EQ(series::rs_length_q(late), 0u);
    EXPECT_EQ(late.head(), 4u);  // only reading it
    EXPECT_EQ(series::get_length(&late), 0u);
    EXPECT_EQ(late.head(), 2u);  // get_length sets it to the tail
}

TEST(SeriesPositions, SkipRoutineStopsShortOfPassingTheTail) {
    Cell b = ints({1, 2, 3});
    EXPECT_FALSE(series::rs_skip(&b, 2));
    EXPECT_EQ(b.head(), 2u);
    EXPECT_TRUE(series::rs_skip(&b, 1));
    EXPECT_EQ(b.head(), 3u);
    EXPECT_TRUE(series::rs_skip(&b, 1));
    EXPECT_EQ(b.head(), 3u);
}

TEST(SeriesPositions, AtAndSkipTakeOnlyIntegers) {
    for (auto entry : {actions::at_s, actions::skip_s}) {
        EXPECT_EQ(error_of([&] { run(entry, {ints({1}), none::value}); }), Err::script_invalid_arg);
        EXPECT_EQ(error::raised.args[0].type(), Type::None);
    }
}

TEST(SeriesPick, IndexCountsFromTheHeadAndMissesGiveNone) {
    struct Case {
        Cell index;
        Cell expected;
    } cases[] = {
        {int_cell(1), int_cell(3)},       {int_cell(2), int_cell(4)},  {int_cell(3), int_cell(5)},
        {int_cell(4), none::value},       {int_cell(0), none::value},  {int_cell(-1), int_cell(2)},
        {int_cell(-2), int_cell(1)},      {int_cell(-3), none::value}, {logic_cell(true), int_cell(3)},
        {logic_cell(false), int_cell(4)},
    };
    Cell b = at_head(ints({1, 2, 3, 4, 5}), 2);
    for (const Case& c : cases) {
        Cell result = run(actions::pick_s, {b, c.index});
        EXPECT_EQ(result.type(), c.expected.type());
        EXPECT_TRUE(result.same_payload(c.expected));
    }
}

TEST(SeriesPoke, StoresTheValueAndAnswersIt) {
    Cell b = ints({1, 2, 3, 4, 5});
    Cell result = run(actions::poke_s, {at_head(b, 2), int_cell(-1), block_of({})});
    EXPECT_EQ(result.type(), Type::Block);
    EXPECT_EQ(mold(b), "[1 [] 3 4 5]");
}

TEST(SeriesPoke, IndexOutsideTheBufferIsOutOfRange) {
    Cell b = at_head(ints({1, 2, 3}), 1);
    for (int32_t index : {0, 3, -2}) {
        EXPECT_EQ(error_of([&] { run(actions::poke_s, {b, int_cell(index), int_cell(9)}); }), Err::script_out_of_range);
        EXPECT_EQ(integer::get(error::raised.args[0]), index);
    }
    EXPECT_EQ(mold(b), "[2 3]");
}

TEST(SeriesClear, CutsAtThePosition) {
    Cell b = ints({1, 2, 3, 4});
    Cell result = run(actions::clear_s, {at_head(b, 2)});
    EXPECT_EQ(result.head(), 2u);
    EXPECT_EQ(mold(b), "[1 2]");
    run(actions::clear_s, {at_head(b, 5)});
    EXPECT_EQ(mold(b), "[1 2]");
}

TEST(SeriesRemove, RemovesTheUnitsOfTheRange) {
    struct Case {
        uint32_t head;
        int32_t count;     // the /part count, when given
        int32_t position;  // the /part position, when given
        const char* after;
    } cases[] = {
        {0, -9, -1, "[2 3 4 5]"}, {2, -9, -1, "[1 2 4 5]"},  {0, 2, -1, "[3 4 5]"},
        {1, 10, -1, "[1]"},       {0, 0, -1, "[1 2 3 4 5]"}, {0, -1, -1, "[1 2 3 4 5]"},
        {1, -9, 3, "[1 4 5]"},    {3, -9, 1, "[1 2 3 4 5]"}, {5, -9, -1, "[1 2 3 4 5]"},
    };
    for (const Case& c : cases) {
        Cell b = ints({1, 2, 3, 4, 5});
        Cell result = c.position >= 0 ? run(actions::remove_s, {at_head(b, c.head), at_head(b, c.position)}, {1})
                      : c.count != -9 ? run(actions::remove_s, {at_head(b, c.head), int_cell(c.count)}, {1})
                                      : run(actions::remove_s, {at_head(b, c.head)});
        EXPECT_EQ(mold(b), c.after) << "from " << c.head;
        EXPECT_EQ(result.head(), c.head);
    }
}

TEST(SeriesRemove, PartInAnotherSeriesIsRefused) {
    Cell other = ints({1});
    EXPECT_EQ(error_of([&] { run(actions::remove_s, {ints({1, 2}), other}, {1}); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(symbol::name(error::raised.args[0].symbol()), "part");
    EXPECT_EQ(error::raised.args[1].node(), other.node());
}

TEST(SeriesReverse, ExchangesRecordsFromBothEnds) {
    struct Case {
        int count;  // elements 1..count
        uint32_t head;
        int32_t part;  // 0: no /part
        int32_t skip;  // 0: no /skip
        const char* after;
    } cases[] = {
        {5, 0, 0, 0, "[5 4 3 2 1]"},   {5, 0, 3, 0, "[3 2 1 4 5]"},   {5, 2, 0, 0, "[1 2 5 4 3]"},
        {6, 0, 0, 2, "[5 6 3 4 1 2]"}, {6, 0, 0, 3, "[4 5 6 1 2 3]"}, {6, 0, 0, 6, "[1 2 3 4 5 6]"},
        {6, 0, 4, 2, "[3 4 1 2 5 6]"}, {5, 5, 0, 0, "[1 2 3 4 5]"},   {5, 0, -2, 0, "[1 2 3 4 5]"},
        {4, 0, 0, 1, "[4 3 2 1]"},
    };
    for (const Case& c : cases) {
        Cell b = ints({});
        for (int i = 1; i <= c.count; i++) block::rs_append(b, int_cell(i));
        Cell part = c.part ? int_cell(c.part) : none::value, skip = c.skip ? int_cell(c.skip) : none::value;
        run(actions::reverse_s, {at_head(b, c.head), part, skip}, {c.part ? 1 : -1, c.skip ? 2 : -1});
        EXPECT_EQ(mold(b), c.after) << c.count << " part " << c.part << " skip " << c.skip;
    }
}

TEST(SeriesReverse, SkipSizeMustFitTheRange) {
    struct Case {
        int32_t skip;
        Err error;
    } cases[] = {
        {0, Err::script_out_of_range}, {4, Err::script_invalid_refine_arg}, {7, Err::script_invalid_refine_arg}};
    Cell b = ints({1, 2, 3, 4, 5, 6});
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { run(actions::reverse_s, {b, int_cell(c.skip)}, {-1, 1}); }), c.error) << c.skip;
    EXPECT_EQ(mold(b), "[1 2 3 4 5 6]");
}

TEST(SeriesTake, TakesFromTheHeadOrTheEnd) {
    struct Case {
        uint32_t head;
        int32_t count;     // /part count; -9 when not given
        int32_t position;  // /part position, when not -1
        bool last;
        const char* taken;
        const char* left;
    } cases[] = {
        {0, -9, -1, false, "1", "[2 3 4 5]"},    {0, -9, -1, true, "5", "[1 2 3 4]"},
        {0, 2, -1, false, "[1 2]", "[3 4 5]"},   {0, 2, -1, true, "[4 5]", "[1 2 3]"},
        {2, -1, -1, false, "[2]", "[1 3 4 5]"},  {2, -5, -1, false, "[1 2]", "[3 4 5]"},
        {0, -1, -1, false, "[]", "[1 2 3 4 5]"}, {2, -1, -1, true, "[]", "[1 2 3 4 5]"},
        {0, 0, -1, false, "[]", "[1 2 3 4 5]"},  {3, 10, -1, false, "[4 5]", "[1 2 3]"},
        {1, -9, 3, false, "[2 3]", "[1 4 5]"},   {1, -9, 3, true, "[4 5]", "[1 2 3]"},
        {3, -9, 1, false, "[]", "[1 2 3 4 5]"},  {5, -9, -1, false, "none", "[1 2 3 4 5]"},
        {5, 1, -1, true, "none", "[1 2 3 4 5]"},
    };
    for (const Case& c : cases) {
        Cell b = ints({1, 2, 3, 4, 5});
        Cell part = c.position >= 0 ? at_head(b, c.position) : int_cell(c.count);
        bool with_part = c.position >= 0 || c.count != -9;
        Cell taken = run(actions::take_s, {at_head(b, c.head), part}, {with_part ? 1 : -1, -1, c.last ? 0 : -1});
        EXPECT_EQ(mold(taken), c.taken) << "from " << c.head << " part " << c.count << " last " << c.last;
        EXPECT_EQ(mold(b), c.left);
    }
}

TEST(SeriesCopy, CopiesTheRangeIntoANewBuffer) {
    struct Case {
        uint32_t head;
        Cell part;  // none: no /part; a block: a position in the source (its head)
        const char* copied;
    } cases[] = {
        {0, none::value, "[1 2 3 4 5]"}, {1, int_cell(2), "[2 3]"},      {3, int_cell(-2), "[2 3]"},
        {1, int_cell(-5), "[1]"},        {1, int_cell(10), "[2 3 4 5]"}, {1, pair_(1, 3), "[2 3]"},
        {1, pair_(-1, 2), "[1 2 3]"},    {1, pair_(3, 1), "none"},       {1, ints({}), "[2 3 4]"},
        {2, ints({}), "[1 2]"},
    };
    uint32_t positions[] = {4, 0};
    int position = 0;
    for (const Case& c : cases) {
        Cell b = ints({1, 2, 3, 4, 5});
        Cell part = c.part.is(Type::Block) ? at_head(b, positions[position++]) : c.part;
        Cell copy = run(actions::copy_s, {at_head(b, c.head), part}, {c.part.is(Type::None) ? -1 : 1});
        EXPECT_EQ(mold(copy), c.copied) << "from " << c.head;
        if (copy.is(Type::Block)) {
            EXPECT_NE(copy.node(), b.node());
            EXPECT_EQ(copy.head(), 0u);
        }
    }
}

TEST(SeriesCopy, KeepsTheTypeAndNewLineMarker) {
    Cell copy = run(actions::copy_s, {line(ints({1}))});
    EXPECT_TRUE(copy.new_line());
    EXPECT_EQ(copy.type(), Type::Block);
}

TEST(SeriesMove, WithinOneSeries) {
    struct Case {
        uint32_t from;
        int32_t count;
        uint32_t to;
        const char* after;
    } cases[] = {
        {0, 1, 2, "[2 3 1 4 5]"}, {0, 2, 5, "[3 4 5 1 2]"}, {3, 1, 0, "[4 1 2 3 5]"}, {0, 2, 1, "[3 1 2 4 5]"},
        {1, 2, 1, "[1 2 3 4 5]"}, {0, 2, 4, "[1 2 3 4 5]"}, {3, 2, 9, "[1 2 3 4 5]"}, {5, 1, 0, "[1 2 3 4 5]"},
        {0, 0, 3, "[1 2 3 4 5]"}, {4, 3, 0, "[5 1 2 3 4]"},
    };
    for (const Case& c : cases) {
        Cell b = ints({1, 2, 3, 4, 5});
        Cell result = run(actions::move_s, {at_head(b, c.from), at_head(b, c.to), int_cell(c.count)}, {2});
        EXPECT_EQ(mold(b), c.after) << c.from << " " << c.count << " " << c.to;
        EXPECT_EQ(result.head(), c.to);
    }
}

TEST(SeriesMove, IntoAnotherSeriesAtItsHead) {
    Cell origin = ints({1, 2, 3}), target = ints({7, 8});
    Cell result = run(actions::move_s, {origin, at_head(target, 1), int_cell(2)}, {2});
    EXPECT_EQ(mold(target), "[7 1 2 8]");
    EXPECT_EQ(mold(origin), "[3]");
    EXPECT_EQ(result.node(), target.node());
    EXPECT_EQ(result.head(), 1u);
}

TEST(SeriesMove, RefusesTargetsThatCannotTakeTheUnits) {
    EXPECT_EQ(error_of([] { run(actions::move_s, {ints({1}), int_cell(1)}); }), Err::script_expect_arg);
    EXPECT_EQ(error::raised.args[1].named_type(), Type::Integer);
    EXPECT_EQ(error_of([] { run(actions::move_s, {ints({1}), text_of_unit(U"ab", 1)}); }), Err::script_move_bad);
    EXPECT_EQ(error::raised.args[0].named_type(), Type::Block);
    EXPECT_EQ(error::raised.args[1].named_type(), Type::String);
}

TEST(SeriesRandom, ShufflesInPlaceFromTheHead) {
    Cell b = ints({});
    for (int i = 1; i <= 50; i++) block::rs_append(b, int_cell(i));
    run(actions::random_s, {at_head(b, 10)});
    std::vector<int32_t> values;
    for (uint32_t i = 0; i < 50; i++) values.push_back(integer::get(*block::rs_abs_at(b, i)));
    EXPECT_TRUE(
        std::equal(values.begin(), values.begin() + 10, std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}.begin()));
    EXPECT_FALSE(std::is_sorted(values.begin(), values.end()));
    std::sort(values.begin(), values.end());
    for (int32_t i = 0; i < 50; i++) EXPECT_EQ(values[i], i + 1);
}

TEST(SeriesRandom, OnlyPicksOneUnitOrNone) {
    EXPECT_TRUE(run(actions::random_s, {ints({})}, {-1, -1, 0}).is(Type::None));
    EXPECT_EQ(integer::get(run(actions::random_s, {at_head(ints({1, 7}), 1)}, {-1, -1, 0})), 7);
    Cell picked = run(actions::random_s, {ints({4, 5, 6})}, {-1, 0, 0});
    EXPECT_TRUE(integer::get(picked) >= 4 && integer::get(picked) <= 6);
}

TEST(SeriesRandom, SeedingWithTheSameUnitsRepeatsTheShuffles) {
    Cell seed = ints({3, 1, 4});
    std::string shuffles[2];
    for (std::string& shuffled : shuffles) {
        EXPECT_TRUE(run(actions::random_s, {seed}, {0}).is(Type::Unset));
        Cell b = ints({1, 2, 3, 4, 5, 6, 7, 8});
        run(actions::random_s, {b});
        shuffled = mold(b);
    }
    EXPECT_EQ(shuffles[0], shuffles[1]);
    EXPECT_EQ(mold(seed), "[3 1 4]");
}

TEST(SeriesReflect, OwnedIsTheOnlyField) {
    EXPECT_TRUE(run(actions::reflect_s, {ints({1}), word_(Sym::owned)}).is(Type::None));
    EXPECT_EQ(error_of([] { run(actions::reflect_s, {ints({1}), word_(Sym::spec)}); }), Err::internal_not_done);
}

// Text of each unit size through the series! row: the same edits give the same code points.
TEST(SeriesUnits, EditsWorkOnEveryUnitSize) {
    struct Case {
        const char* what;
        void (*edit)(const int32_t*);  // frame: the text, an integer, a char (the alphabet's first letter)
        const char* after;             // as indexes into the alphabet
    } cases[] = {
        {"reverse/part", [](const int32_t*) { series_row<Act::reverse>()(frame_arg(0), frame_arg(1), nullptr); },
         "bacdef"},
        {"remove/part",
         [](const int32_t*) {
             frame_arg(0)->set_head(2);
             series_row<Act::remove>()(frame_arg(0), frame_arg(1), nullptr);
         },
         "abef"},
        {"take/part", [](const int32_t*) { series_row<Act::take>()(frame_arg(0), frame_arg(1), false, false); },
         "cdef"},
        {"take/last", [](const int32_t*) { series_row<Act::take>()(frame_arg(0), nullptr, false, true); }, "abcde"},
        {"move to the tail",
         [](const int32_t*) {
             Cell* target = stack::push(at_head(*frame_arg(0), 6));
             series_row<Act::move>()(frame_arg(0), target, frame_arg(1));
         },
         "cdefab"},
        {"poke", [](const int32_t*) { series_row<Act::poke>()(frame_arg(0), 3, frame_arg(2), nullptr); }, "abadef"},
        {"clear",
         [](const int32_t*) {
             frame_arg(0)->set_head(4);
             series_row<Act::clear>()(frame_arg(0));
         },
         "abcd"},
    };
    const std::u32string alphabets[] = {U"abcdef", U"\u03b1\u03b2\u03b3\u03b4\u03b5\u03b6",
                                        U"\U0001F600\U0001F601\U0001F602\U0001F603\U0001F604\U0001F605"};
    for (uint32_t unit : {1u, 2u, 4u}) {
        const std::u32string& alphabet = alphabets[unit / 2];
        for (const Case& c : cases) {
            Cell s = text_of_unit(alphabet, unit);
            run(c.edit, {s, int_cell(2), char_cell(alphabet[0])});
            std::u32string expected;
            for (const char* p = c.after; *p; p++) expected += alphabet[*p - 'a'];
            EXPECT_TRUE(code_points(s) == expected) << c.what << " on unit " << unit;
            EXPECT_EQ(mem::buffer(s.node())->unit(), unit);
        }
    }
}

TEST(SeriesUnits, PickCopyAndTakeGiveCharsAndTextsOfTheSameUnit) {
    const std::u32string alphabet = U"\u03b1\u03b2\u03b3\u03b4";
    Cell s = text_of_unit(alphabet, 2);
    Cell picked = run([](const int32_t*) { stack::set_last(*series_row<Act::pick>()(frame_arg(0), 2, nullptr)); }, {s});
    EXPECT_EQ(picked.type(), Type::Char);
    EXPECT_EQ(picked.code_point(), uint32_t(alphabet[1]));

    Cell copy = run(
        [](const int32_t*) {
            stack::set_last(*series_row<Act::copy>()(frame_arg(0), frame_arg(0), CopyOptions{.part = frame_arg(1)}));
        },
        {at_head(s, 1), int_cell(2)});
    EXPECT_TRUE(code_points(copy) == alphabet.substr(1, 2));
    EXPECT_EQ(mem::buffer(copy.node())->unit(), 2u);
    EXPECT_EQ(copy.type(), Type::String);

    Cell taken = run(
        [](const int32_t*) { stack::set_last(*series_row<Act::take>()(frame_arg(0), nullptr, false, false)); }, {s});
    EXPECT_EQ(taken.type(), Type::Char);
    EXPECT_EQ(taken.code_point(), uint32_t(alphabet[0]));
}

TEST(SeriesUnits, TextTakesOnlyCharsAndMovesAmongEqualUnits) {
    Cell s = text_of_unit(U"abc", 1), target = text_of_unit(U"xy", 1);
    EXPECT_EQ(error_of([&] {
                  run([](const int32_t*) { series_row<Act::poke>()(frame_arg(0), 1, frame_arg(1), nullptr); },
                      {s, int_cell(65)});
              }),
              Err::script_invalid_arg);
    run([](const int32_t*) { series_row<Act::move>()(frame_arg(0), frame_arg(1), nullptr); }, {s, at_head(target, 1)});
    EXPECT_EQ(text_of(target), "xay");
    EXPECT_EQ(text_of(s), "bc");
}
