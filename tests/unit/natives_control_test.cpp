// The control natives: conditionals, loops, and break, continue, return, exit and throw with the
// natives that catch them.
#include "datatypes/error.h"
#include "natives_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

class Control : public CodeTest {};

}  // namespace

TEST_F(Control, ConditionalsTestTruth) {
    expect_results({
        {"if true [1]", "1"},
        {"if false [1]", "none"},
        {"if none [1]", "none"},
        {"if () [1]", "1"},  // unset counts as true
        {"if 0 [1]", "1"},
        {"unless false [1]", "1"},
        {"unless 0 [1]", "none"},
        {"either true [1] [2]", "1"},
        {"either none [1] [2]", "2"},
        {"either () [1] [2]", "*** no-return"},
    });
}

TEST_F(Control, AnyAndAllStopAtTheFirstDecidingValue) {
    expect_results({
        {"any []", "none"},
        {"all []", "none"},
        {"any [none false 3 4]", "3"},
        {"any [none false]", "none"},
        {"all [1 none 2]", "none"},
        {"all [1 2]", "2"},
        {"n: 0 any [n: n + 1 n: n + 1] n", "1"},
        {"n: 0 all [n: n + 1 false n: n + 1] n", "1"},
    });
}

TEST_F(Control, SwitchFindsTheBlockAfterTheMatch) {
    expect_results({
        {"switch 2 [1 [10] 2 [20]]", "20"},
        {"switch 3 [1 [10] 2 [20]]", "none"},
        {"switch/default 3 [1 [10]] [30]", "30"},
        {"switch/default 1 [1 [10]] [30]", "10"},
        {"switch 1 [1 2 [20] 3 [30]]", "20"},         // on to the first block after the match
        {"switch 2 [1 [10] 2]", "none"},              // a match with no block after it
        {"switch \"b\" [\"A\" [1] \"B\" [2]]", "2"},  // text matches in any letter case
        {"switch 1 [\"1\" [10] 1 [20]]", "20"},       // a match has the same datatype
        {"switch [1] [[1] [10]]", "none"},            // a block is never looked for
        {"switch/default [1] [[1] [10]] [30]", "30"},
    });
}

TEST_F(Control, CaseTakesTheFirstTrueBranchOrWithAllEveryOne) {
    expect_results({
        {"case [false [1] true [2] true [3]]", "2"},
        {"case []", "none"},
        {"case [false [1]]", "none"},
        {"case [true 5]", "5"},  // a branch that is no block is one expression
        {"case [true]", "*** need-value"},
        {"case [() [1]]", "*** no-return"},
        {"case/all [true [1] false [2]]", "none"},
        {"case/all [false [1] true [2]]", "2"},
        {"n: 0 case/all [true [n: n + 1] true [n: n + 10]] n", "11"},
        {"n: 0 case [true [n: n + 1] true [n: n + 10]] n", "1"},
    });
}

TEST_F(Control, WhileAndUntil) {
    expect_results({
        {"n: 0 while [3 > n] [n: n + 1] n", "3"},
        {"while [false] [1]", "unset"},
        {"while [true] [break]", "unset"},
        {"while [true] [break/return 5]", "unset"},  // while always gives unset
        {"n: 0 while [5 > n] [n: n + 1 if n > 2 [continue] n: n + 10] n", "11"},
        {"while [break] [1]", "*** while-cond"},
        {"while [continue] [1]", "*** while-cond"},
        {"while [()] [1]", "*** no-return"},
        {"n: 0 until [n: n + 1 n = 3]", "true"},
        {"n: 0 until [n: n + 1 if 3 > n [continue] n]", "3"},  // continue skips the test
        {"until [break/return 4]", "4"},
        {"until [()]", "*** no-return"},
    });
}

TEST_F(Control, LoopAndRepeatCount) {
    define("two-point-nine", float_cell(2.9));
    define("huge", float_cell(1e20));
    expect_results({
        {"n: 0 loop 3 [n: n + 1]", "3"},
        {"n: 0 loop 0 [n: n + 1] n", "0"},
        {"loop 0 [1]", "none"},
        {"loop -1 [1]", "none"},
        {"n: 0 loop two-point-nine [n: n + 1]", "2"},
        {"loop huge [break/return 8]", "8"},
        {"n: 0 loop 5 [n: n + 1 if n = 2 [break]] n", "2"},
        {"loop 3 [break/return 7]", "7"},
        {"loop 2 [if true [continue] 1]", "unset"},
        {"n: 0 repeat i 4 [n: n + i]", "10"},
        {"repeat i 0 [1]", "none"},
        {"repeat i -2 [1]", "none"},
        {"n: 0 repeat i two-point-nine [n: n + i]", "3"},
        {"n: 0 repeat i 3 [n: n + 1 i: 10] n", "3"},  // the body's assignments do not count
        {"repeat i 3 [] i", "3"},
        {"repeat i 5 [if i = 2 [break]] i", "2"},
    });
}

TEST_F(Control, ForeverEndsOnlyWithABreak) {
    expect_results({
        {"forever [break/return 5]", "5"},
        {"forever [break]", "unset"},
        {"n: 0 forever [n: n + 1 if 3 > n [continue] break] n", "3"},
    });
}

TEST_F(Control, ForeachWalksSeriesOneOrSeveralValuesAtATime) {
    expect_results({
        {"n: 0 foreach x [1 2 3] [n: n + x]", "6"},
        {"foreach x [1 2 3] [x]", "3"},
        {"foreach x [] [1]", "unset"},
        {"b: copy [] foreach [k v] [1 2 3 4 5] [append b v] b", "[2 4 none]"},
        {"b: copy [] foreach [k v] next [1 2 3] [append b k] b", "[2]"},
        {"b: copy [] foreach x [1 2 3 4] [if x = 2 [continue] if x = 4 [break] append b x] b", "[1 3]"},
        {"foreach x [1 2] [break/return 9]", "9"},
        {"b: copy [] foreach c \"ab\" [append b c] b", "[#\"a\" #\"b\"]"},
        {"foreach [] [1 2] [1]", "*** invalid-arg"},
        {"foreach [a 1] [1 2] [1]", "*** invalid-arg"},
    });
}

TEST_F(Control, ForallMovesTheWordAlongItsSeries) {
    expect_results({
        {"s: [1 2 3] b: copy [] forall s [append b pick s 1] b", "[1 2 3]"},
        {"s: [1 2 3] forall s [1] s", "[1 2 3]"},  // back at its start after a normal end
        {"s: [1 2 3 4] n: 0 forall s [n: n + 1 s: next s] n", "2"},
        {"s: [1 2 3 4] forall s [s: next s] s", "[1 2 3 4]"},
        {"s: [1 2 3] forall s [if 2 = pick s 1 [break]] s", "[2 3]"},  // a break leaves it where it is
        {"s: \"abc\" n: 0 forall s [n: n + 1] n", "3"},
        {"s: [] forall s [1]", "unset"},
        {"x: 1 forall x [1]", "*** expect-arg"},
        {"s: [1 2] t: [3 4] forall s [s: t]", "*** bad-loop-series"},
        {"s: [1 2] forall s [s: 5]", "*** bad-loop-series"},
    });
}

TEST_F(Control, RemoveEachRemovesWhatTheBodyAccepts) {
    expect_results({
        {"b: [1 2 3 4] remove-each x b [x > 2] b", "[1 2]"},
        {"b: [1 2 3 4] remove-each x b [x > 2]", "[1 2]"},
        {"remove-each x [1 2 3] [continue]", "[1 2 3]"},
        {"remove-each x [1 2 3] [none]", "[1 2 3]"},
        {"b: [1 2 3 4 5 6] remove-each [x y] b [x = 3] b", "[1 2 5 6]"},
        {"b: [1 2 3] remove-each [x y] b [y = none] b", "[1 2]"},
        {"b: [1 2 3 4] remove-each x b [if x = 3 [break] true] b", "[3 4]"},
        {"s: \"abcab\" remove-each c s [c = pick \"a\" 1] s", "\"bcb\""},
        {"b: [1 2 3] remove-each x next b [true] b", "[1]"},
    });
}

TEST_F(Control, BreakAndContinueNeedALoop) {
    expect_results({
        {"break", "*** break"},
        {"break/return 1", "*** break"},
        {"continue", "*** continue"},
        {"n: 0 f: does [if n = 2 [break]] loop 5 [n: n + 1 f] n", "2"},  // from a function to its caller's loop
        {"n: 0 loop 3 [n: n + 1 catch [break]] n", "1"},
        {"loop 3 [try [break/return 6]]", "6"},
        {"n: 0 loop 3 [n: n + 1 try/all [break]] n", "3"},  // try/all turns the break into an error it catches
        {"type? loop 3 [try/all [break]]", "error!"},
    });
}

TEST_F(Control, ReturnAndExitLeaveTheFunction) {
    expect_results({
        {"f: func [x] [loop 3 [foreach y [1 2] [if x [return 5]]] 6] f true", "5"},
        {"f: func [x] [loop 3 [foreach y [1 2] [if x [return 5]]] 6] f false", "6"},
        {"f: does [exit 1] f", "unset"},
        {"f: does [while [true] [return 2]] f", "2"},
        {"g: does [return 1] f: does [g 2] f", "2"},
        {"return 1", "*** return"},
        {"exit", "*** return"},
        {"f: does [try/all [return 1] 2] f", "2"},
    });
}

TEST_F(Control, CatchTakesThrowsByName) {
    expect_results({
        {"catch [throw 5]", "5"},
        {"catch [1 2]", "2"},
        {"catch [throw/name 1 'a]", "1"},
        {"catch/name [throw/name 1 'a] 'a", "1"},
        {"catch/name [throw/name 1 'A] 'a", "1"},
        {"catch/name [throw/name 1 'b] [a b]", "1"},
        {"catch/name [catch/name [throw/name 1 'a] 'b 2] 'a", "1"},  // passed on to the catch named a
        {"catch [catch/name [throw 1] 'b 2]", "1"},
        {"catch/name [throw 1] 'a", "*** throw"},
        {"catch/name [throw/name 1 'c] [a 1]", "*** invalid-refine-arg"},
        {"throw 1", "*** throw"},
        {"catch [loop 3 [throw 7]]", "7"},
        {"f: does [throw 3] catch [f 4]", "3"},
    });
}

TEST_F(Control, TryGivesTheErrorAsItsValue) {
    expect_results({
        {"try [1 + 1]", "2"},
        {"type? try [no-such-value]", "error!"},
        {"type? try/all [no-such-value]", "error!"},
        {"n: 0 try [n: 1 no-such-value n: 2] n", "1"},
        {"loop 1 [try [continue] 5]", "unset"},
        {"f: does [try [return 3] 4] f", "3"},
    });
}

TEST_F(Control, ErrorsOfTryAllNameTheExitThatFoundNoTarget) {
    struct Case {
        const char* code;
        Err id;
    } cases[] = {
        {"try/all [break]", Err::throw_break},
        {"loop 1 [try/all [continue]]", Err::throw_continue},
        {"f: does [try/all [exit]] f", Err::throw_return},
        {"catch [try/all [throw 1]]", Err::throw_throw},
    };
    for (const Case& c : cases) {
        Cell code = load(c.code), error = none::value;
        EXPECT_FALSE(error::trap([&] {
            interpreter::eval_block(code, false);
            error = keep(stack::top[-1]);
        }));
        ASSERT_TRUE(error.is(Type::Error)) << c.code;
        EXPECT_EQ(Err(integer::get(*error::field(error, error::kCode))), c.id) << c.code;
    }
}

TEST_F(Control, TryKeepRecordsTheCallsOfTheError) {
    Cell code = load("f: does [no-such-value] try/keep [f]"), error = none::value;
    error::trap([&] {
        interpreter::eval_block(code, false);
        error = keep(stack::top[-1]);
    });
    ASSERT_TRUE(error.is(Type::Error));
    Cell calls = *error::field(error, error::kStack);
    ASSERT_TRUE(calls.is(Type::Block));
    EXPECT_EQ(mold(calls), "[f]");
}
