// The evaluation natives: do, reduce, compose and apply; words, paths and objects; making functions
// and objects; retyping series and marking new lines; and the sort hook that calls functions.
#include "datatypes/series.h"
#include "evaluator/trace.h"
#include "natives_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

class Evaluation : public CodeTest {};

}  // namespace

TEST_F(Evaluation, DoEvaluatesByTheValuesType) {
    expect_results({
        {"do [1 + 2]", "3"},
        {"do []", "unset"},
        {"do 5", "5"},
        {"x: 4 do 'x", "4"},
        {"do pick [(1 + 2)] 1", "3"},
        {"do next [1 2 3]", "3"},
        {"do try [no-such-value]", "*** no-value"},
        {"do \"1 + 2\"", "3"},
        {"do \"\"", "unset"},
        {"b: [1 2] do 'b/2", "2"},
        {"do/expand \"#if 1 > 2 [1] 2\"", "2"},
        {"do/expand \"#either true [3] [4]\"", "3"},
        {"do/expand/next \"#if true [5] 6\" 'p p", "[6]"},
    });
}

TEST_F(Evaluation, DoNextStepsOneExpression) {
    expect_results({
        {"do/next [1 + 2 3] 'p", "3"},
        {"do/next [1 + 2 3] 'p p", "[3]"},
        {"do/next [1 + 2 3] 'p do/next p 'p p", "[]"},
        {"do/next [] 'p", "unset"},
        {"do/next [] 'p p", "[]"},
        {"do/next \"1 2\" 'p p", "[2]"},
    });
}

TEST_F(Evaluation, DoTraceReportsToItsTracer) {
    expect_results({
        {"e: copy [] t: func [event code offset value ref frame] [append e event] do/trace [1] :t e",
         "[init enter fetch push expr exit end]"},
        {"e: copy [] t: func [event code offset value ref frame] [[fetch] append e value] do/trace [1 2] :t e",
         "[1 2]"},
        {"e: copy [] t: func [event code offset value ref frame] [[init end] append e event] "
         "do/trace [do/trace [1] :t] :t e",
         "[init end]"},  // a nested do/trace traces with the outer tracer
        {"t: func [event code offset value ref frame] [[end]] do/trace [1 + 2] :t", "3"},
    });
    EXPECT_EQ(eval("t: func [event code offset value ref frame] [[end]] do/trace [no-such-value] :t"), "*** no-value");
    EXPECT_FALSE(trace::tracing);
    EXPECT_FALSE(trace::trace_mode);
}

// The cell at top, which the interrupted code may have reserved, lies below top while the tracer runs:
// it holds unset then, whatever stale value it held, since the collector reads it.
TEST_F(Evaluation, ATracerCallHoldsUnsetInTheCellItPassesOver) {
    eval("tracer: func [event code offset value ref frame] [recycle]");
    trace::set_tracer(*word::get_cell(word::load("tracer")));
    *stack::top = Cell{uint8_t(Type::Block), 0, 0xFFFFFFF0u, 0};  // a popped cell whose series is gone
    trace::fire_init();
    trace::tracing = false;
    EXPECT_TRUE(stack::top->is(Type::Unset));
}

TEST_F(Evaluation, GetAndSetWordsAndBlocksOfWords) {
    expect_results({
        {"x: 5 get 'x", "5"},
        {"get 'no-such-value", "*** no-value"},
        {"get/any 'no-such-value", "unset"},
        {"set 'x 7 x", "7"},
        {"set 'x 7", "7"},
        {"set 'x ()", "*** need-value"},
        {"set/any 'x () value? 'x", "false"},
        {"set [a b c] [1 2] reduce [a b c]", "[1 2 none]"},
        {"set [a b] 5 reduce [a b]", "[5 5]"},
        {"set/only [a b] [1 2] a", "[1 2]"},
        {"set [a b] [1 2] set/some [a b] reduce [3 none] reduce [a b]", "[3 2]"},
        {"set [a 1] [1 2]", "*** invalid-arg"},
        {"set [a :b 'c d:] [1 2 3 4] reduce [a b c d]", "[1 2 3 4]"},
        {"x: 1 unset 'x value? 'x", "false"},
        {"a: 1 b: 2 unset [a b] reduce [value? 'a value? 'b]", "[false false]"},
        {"unset 'x", "unset"},
        {"value? 'if", "true"},
        {"b: [1 2] get 'b/1", "1"},
        {"b: [1 2] set 'b/2 5 b", "[1 5]"},
        {"get construct [a: 1 b: [2]]", "[1 [2]]"},
        {"o: construct [a: 1 b: 2] set o [3] get o", "[3 none]"},
    });
}

TEST_F(Evaluation, TypeOfAValue) {
    expect_results({
        {"type? 1", "integer!"},
        {"type? type? 1", "datatype!"},
        {"type? type?/word 1", "word!"},
        {"type?/word [1]", "block!"},
        {"type? ()", "unset!"},
    });
}

TEST_F(Evaluation, ReduceEvaluatesEachExpression) {
    expect_results({
        {"reduce [1 + 1 'a]", "[2 a]"},
        {"reduce []", "[]"},
        {"reduce 5", "5"},
        {"x: 3 reduce 'x", "3"},
        {"type? reduce :if", "native!"},                   // a function stays a value
        {"b: [0] reduce/into [1 + 1 3] tail b", "[2 3]"},  // appended: where they begin
        {"b: [0] reduce/into [1 + 1 3] tail b b", "[0 2 3]"},
        {"b: [0] reduce/into [1 2] b", "[0]"},  // inserted: just past them
        {"b: [0] reduce/into [1 2] b b", "[1 2 0]"},
        {"b: [0] reduce/into 7 tail b b", "[0 7]"},
        {"b: [0] reduce/into 7 b b", "[7 0]"},
        {"b: [1 2] new-line b true new-line? reduce b", "false"},
    });
}

TEST_F(Evaluation, ComposeEvaluatesParens) {
    expect_results({
        {"compose [(1 + 1) ([a b]) ([]) ()]", "[2 a b]"},
        {"compose/only [([a b]) ([])]", "[[a b] []]"},
        {"compose [(()) x]", "[x]"},
        {"compose [[(1 + 1)]]", "[[(1 + 1)]]"},
        {"compose/deep [[(1 + 1) [(2 + 2)]]]", "[[2 [4]]]"},
        {"compose/deep/only [[([a])]]", "[[[a]]]"},
        {"b: [x] compose/into [(1) ([2 3])] tail b", "[1 2 3]"},
        {"b: [x] compose/into [(1) ([2 3])] tail b b", "[x 1 2 3]"},
        {"b: [x] compose/into [(1) ([2 3])] b", "[x]"},
        {"b: [x] compose/into [(1) ([2 3])] b b", "[1 2 3 x]"},
        {"b: [x] compose/into/only [([2 3])] b b", "[[2 3] x]"},
        {"b: [x] compose/into/deep [[(1)]] b b", "[[1] x]"},
    });
}

TEST_F(Evaluation, ApplyCallsOverABlockOfArguments) {
    eval("f: func [a b] [reduce [a b]] g: func [a /r b] [reduce [a r b]]");
    expect_results({
        {"apply :f [1 2]", "[1 2]"},
        {"apply 'f [1 + 1 3]", "[2 3]"},
        {"apply :f [1]", "[1 none]"},
        {"apply :f [1 2 3]", "[1 2]"},
        {"apply :g [1 /r true 2]", "[1 true 2]"},
        {"apply :g [1 /r false 2]", "[1 false none]"},
        {"apply :g [1 /r 1 = 1 2]", "[1 true 2]"},
        {"apply :g [1 /r]", "[1 false none]"},
        {"apply :g [1 2]", "*** bad-refine"},
        {"apply :g [1 /s true]", "*** no-refine"},
        {"apply :g [1 /r true 2 /r true 3]", "*** dup-refine"},
        {"apply/all :g [1 true 2]", "[1 true 2]"},
        {"apply/all :g [1 false 2]", "[1 false none]"},
        {"apply/all :g [1]", "[1 false none]"},
        {"apply/all :g [1 3 2]", "*** expect-arg"},
        {"n: 0 apply :g [1 /r false (n: 1)] n", "1"},
        {"n: 0 apply/safer :g [1 /r false (n: 1)] n", "0"},  // left unevaluated
        {"n: 0 apply/all/safer :g [1 false (n: 1)] n", "0"},
        {"apply/safer :f [1 + 2 3]", "*** no-op-arg"},  // an argument is one value
        {"apply :reduce [[1 + 1]]", "[2]"},
        {"b: copy [] apply :reduce [[1] /into true b] b", "[1]"},
        {"b: copy [] apply 'reduce/into [[5] b] b", "[5]"},
        {"apply :+ [1 2]", "3"},
        {"x: 1 apply 'x []", "*** invalid-arg"},
    });
}

TEST_F(Evaluation, BindInAndContext) {
    eval("o: construct [a: 10] a: 1");
    expect_results({
        {"b: [a] bind b o do b", "10"},
        {"b: [a] c: bind/copy b o reduce [do b do c]", "[1 10]"},
        {"b: [[a]] bind b o do pick b 1", "10"},
        {"get bind 'a o", "10"},
        {"get bind 'zz o", "*** no-value"},
        {"get in o 'a", "10"},
        {"in o 'zz", "none"},
        {"get in (context? in o 'a) 'a", "10"},
        {"f: func [x /r] [x] in :f 'x", "x"},
        {"f: func [x /r] [x] in :f /r", "r"},
        {"f: func [x] [x] same? :f context? in :f 'x", "true"},
        {"in :if 'cond", "*** invalid-arg"},
        {"b: [a] bind b in o 'a do b", "10"},
    });
}

TEST_F(Evaluation, FunctionConstructors) {
    expect_results({
        {"f: func [a b] [a + b] f 1 2", "3"},
        {"f: func [a /b c] [either b [c] [a]] f/b 1 2", "2"},
        {"f: func [a a] []", "*** dup-vars"},
        {"f: func next [x a] [a] f 3", "3"},
        {"f: does [5] f", "5"},
        {"x: 1 f: has [x] [x: 5] f x", "1"},
        {"f: has [x] [x: 5 x] f", "5"},
        {"y: 1 f: function [] [y: 5] f y", "1"},
        {"y: 1 f: function [/extern y] [y: 5] f y", "5"},
        {"y: 1 f: function [] [repeat y 2 []] f y", "1"},
        {"s: [a] f: function s [b: 1] s", "[a]"},  // the spec given is not changed
    });
}

TEST_F(Evaluation, ConstructTakesValuesUnevaluated) {
    expect_results({
        {"get construct [a: b: 1 c: yes d: none e: off]", "[1 1 true none false]"},
        {"type? get in construct/only [c: yes] 'c", "word!"},
        {"get construct [a: 1 + 2]", "[1]"},
        {"get construct [a:]", "[none]"},
        {"type? construct []", "object!"},
        {"get construct/with [b: 2] construct [a: 1]", "[1 2]"},
        {"extend construct [] [a: 1]", "*** not-done"},
    });
}

TEST_F(Evaluation, AsRetypesWithinAClass) {
    expect_results({
        {"as paren! [1 2]", "(1 2)"},
        {"as [] pick [(1 2)] 1", "[1 2]"},
        {"b: [1 2] p: as paren! b append b 3 p", "(1 2 3)"},  // the same buffer
        {"as paren! next [1 2]", "(2)"},
        {"as string! [1]", "*** not-same-class"},
        {"as block! \"a\"", "*** not-same-class"},
        {"as hash! [1]", "*** not-same-class"},
    });
}

TEST_F(Evaluation, NewLineMarksCells) {
    expect_results({
        {"b: [1 2 3 4 5] new-line/skip b true 2 reduce [new-line? b new-line? next b new-line? skip b 2 "
         "new-line? skip b 3 new-line? skip b 4]",
         "[true false true false true]"},
        {"b: [1 2 3] new-line/all b true reduce [new-line? b new-line? next b new-line? skip b 2]", "[true true true]"},
        {"b: [1 2 3] new-line/all b true new-line/all next b false reduce [new-line? b new-line? next b]",
         "[true false]"},
        {"b: [1 2] new-line next b true reduce [new-line? b new-line? next b]", "[false true]"},
        {"b: [1 2] new-line b true new-line b false new-line? b", "false"},
        {"new-line tail [1] true", "[]"},
        {"new-line? []", "false"},
        {"new-line/skip [1] true 0", "*** out-of-range"},
    });
}

TEST_F(Evaluation, TranscodeLoadsText) {
    expect_results({
        {"transcode \"1 [a] b\"", "[1 [a] b]"},
        {"transcode \"\"", "[]"},
        {"transcode/next \"1 2\"", "[1 \" 2\"]"},
        {"transcode/one \"1 2\"", "1"},
        {"transcode/next/one \"1 2\"", "1"},
        {"transcode/scan \"1 2\"", "integer!"},
        {"transcode/prescan \"x\"", "word!"},
        {"transcode/scan \"\"", "none"},
        {"transcode/part \"1 2\" 1", "[1]"},
        {"transcode/part \"1 2\" -1", "[]"},
        {"b: [x] transcode/into \"1 2\" b", "[x 1 2]"},
        {"n: 0 t: func [event input type line token] [n: n + 1 true] transcode/trace \"1\" :t n > 0", "true"},
        {"transcode \"1 (\"", "*** missing"},
    });
}

TEST_F(Evaluation, SortCallsAFunctionThroughTheHook) {
    series::call_sort_function = interpreter::call_comparator;  // tests of the sort itself change it
    expect_results({
        {"sort/compare [3 1 2] func [a b] [b > a]", "[1 2 3]"},
        {"sort/compare [3 1 2] func [a b /local t] [t: a > b t]", "[3 2 1]"},
        {"sort/compare \"cab\" func [a b] [b > a]", "\"abc\""},
        {"sort/compare [3 1 2] func [a b] [return b > a]", "[1 2 3]"},
        {"sort/compare [3 1 2] func [a b] [no-such-value]", "*** no-value"},
    });
}
