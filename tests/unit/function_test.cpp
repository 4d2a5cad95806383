// function! and routine!: spec validation, the locals of the `function` constructor, and the values'
// construction and actions.
#include "datatypes/function.h"
#include "datatypes/context.h"
#include "datatypes/typeset.h"
#include "function_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

class FunctionTest : public testing::Test {
protected:
    void SetUp() override {
        define_type_words();
        define("number!", run(actions::make_s, {type_cell(Type::Typeset), load_value("[integer! float!]")}));
        define("a-word-value", word::load("integer!"));
    }
};

Cell make_function(std::string_view spec_and_body) {
    return run(actions::make_s, {type_cell(Type::Function), load(spec_and_body)});
}

// A function pushed without validation, without a body when none is given.
Cell pushed_function(std::string_view spec, const Cell& body = none::value) {
    Cell* saved = stack::top;
    function::push(load(spec), body, 0, 0, 0, 0);
    Cell function = stack::top[-1];
    stack::top = saved;
    return keep(function);
}

Cell reflected(const Cell& value, std::string_view field) {
    return run(actions::reflect_s, {value, load_value(field)});
}

}  // namespace

TEST_F(FunctionTest, SpecValidationAcceptsAndRejects) {
    struct Case {
        const char* spec;
        Err error;  // Err(0): accepted
    } cases[] = {
        {"", Err(0)},
        {"a b", Err(0)},
        {"a 'b :c /ref d \"doc\"", Err(0)},
        {"a [integer!] \"doc\"", Err(0)},
        {"a \"doc\" [integer!]", Err::script_bad_func_def},
        {"a [number! a-word-value]", Err(0)},
        {"a [integer! 1]", Err::script_invalid_type_spec},
        {"a [[integer!]]", Err::script_invalid_type_spec},
        {"a [never-set-type-word]", Err::script_no_value},
        {"return: [integer!] a", Err::script_bad_func_def},
        {"a return: [integer!] /local b", Err(0)},
        {"a RETURN: [integer! 1] \"doc\"", Err(0)},
        {"a return: [integer!] return: [integer!]", Err::script_bad_func_def},
        {"a return: [integer!] /ref", Err::script_bad_func_def},
        {"a return:", Err::script_bad_func_def},
        {"a return: b", Err::script_bad_func_def},
        {"a result: [integer!]", Err::script_bad_func_def},
        {"/local a return: [integer!]", Err::script_bad_func_def},
        {"/local a /ref", Err::script_bad_func_def},
        {"/ref a /local b", Err(0)},
        {"/LOCAL a b", Err(0)},
        {"/local 'a", Err::script_bad_func_def},
        {"/local :a", Err::script_bad_func_def},
        {"/ref [integer!]", Err::script_bad_func_def},
        {"a 1", Err::script_bad_func_def},
        {"[trace] a", Err(0)},
        {"[trace 1] a", Err::script_bad_func_def},
        {"a [trace]", Err::script_no_value},
        {"a [integer!] [integer!]", Err::script_bad_func_def},
        {"a A", Err::script_dup_vars},
        {"a /ref b /local a", Err::script_dup_vars},
        {"/local a /local", Err::script_dup_vars},
    };
    for (const Case& c : cases) {
        Cell spec = load(c.spec);
        EXPECT_EQ(error_of([&] { function::validate(spec); }), c.error) << c.spec;
    }
}

TEST_F(FunctionTest, TheAttributeBlockGivesTheTraceFlags) {
    struct Case {
        const char* spec;
        uint32_t flags;
    } cases[] = {
        {"a", 0},
        {"[] a", 0},
        {"[trace] a", function::kTrace},
        {"[No-Trace catch] a", function::kNoTrace},
        {"[trace no-trace]", function::kTrace | function::kNoTrace},
    };
    for (const Case& c : cases) EXPECT_EQ(function::validate(load(c.spec)), c.flags) << c.spec;
    EXPECT_EQ(function::spec_flags(load("trace \"doc\"")), -1);
    Cell traced = make_function("[[trace] a] [a]");
    EXPECT_EQ(traced.header & (function::kTrace | function::kNoTrace), function::kTrace);
}

TEST_F(FunctionTest, MakeCopiesAndBindsTheBody) {
    Cell source = load("[a b] [a + b c]");
    Cell body = *block::rs_abs_at(source, 1);
    Cell f = run(actions::make_s, {type_cell(Type::Function), source});
    EXPECT_EQ(mold(f), "func [a b][a + b c]");
    EXPECT_EQ(form(f), "?function?");
    block::rs_append(body, word::load("d"));
    EXPECT_EQ(mold(f), "func [a b][a + b c]");
    Cell copy = reflected(f, "body");
    EXPECT_NE(copy.node(), body.node());
    BufPtr<Cell> words = block::rs_abs_at(copy, 0);
    EXPECT_EQ(words[0].context(), f.context());  // a: an argument
    EXPECT_EQ(words[0].position(), 0);
    EXPECT_EQ(words[2].position(), 1);                // b
    EXPECT_EQ(words[3].context(), _context::global);  // c: not in the spec
    EXPECT_EQ(_context::self_cell(f.context())->extras(), f.extras());
}

TEST_F(FunctionTest, MakeRefusesWhatIsNotSpecAndBody) {
    struct Case {
        const char* argument;
        Err error;
    } cases[] = {
        {"[[a]]", Err::script_bad_func_def},   {"[a [a]]", Err::script_bad_func_def},
        {"[[a] a]", Err::script_bad_func_def}, {"[[a \"doc\" [integer!]] []]", Err::script_bad_func_def},
        {"[[a a] []]", Err::script_dup_vars},  {"[[a] [] [extra]]", Err(0)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] {
                      run(actions::make_s, {type_cell(Type::Function), load_value(c.argument)});
                  }),
                  c.error)
            << c.argument;
    EXPECT_EQ(error_of([&] {
                  run(actions::make_s, {type_cell(Type::Function), int_cell(1)});
              }),
              Err::script_bad_func_def);
}

TEST_F(FunctionTest, PushCopiesASpecFromItsHead) {
    Cell spec = at_head(load("x a b"), 1);
    function::push(spec, load("a"), 0, 7, 0, 0);
    Cell f = keep(*stack::get_top());
    stack::pop(1);
    EXPECT_EQ(mold(f), "func [a b][a]");
    EXPECT_NE(f.spec(), spec.node());
    EXPECT_EQ(integer::get(*function::extra(f, function::kCode)), 7);
    EXPECT_EQ(function::extra(f, function::kCode2)->type(), Type::Unset);
    EXPECT_EQ(mold(pushed_function("a")), "func [a] none");
}

TEST_F(FunctionTest, ReflectSpecBodyAndWords) {
    Cell f = make_function("[a /ref b /local c] [c: a]");
    Cell spec = reflected(f, "spec");
    EXPECT_NE(spec.node(), f.spec());  // a copy: changing it cannot change the calls
    EXPECT_EQ(mold(spec), "[a /ref b /local c]");
    EXPECT_EQ(mold(reflected(f, "Body")), "[c: a]");
    Cell words = reflected(f, "words");
    EXPECT_EQ(mold(words), "[a ref b local c]");
    for (uint32_t i = 0; i < 5; i++) {
        EXPECT_EQ(block::rs_abs_at(words, i)->context(), f.context());
        EXPECT_EQ(block::rs_abs_at(words, i)->position(), int32_t(i));
    }
    EXPECT_EQ(error_of([&] { reflected(f, "owner"); }), Err::internal_not_done);
}

TEST_F(FunctionTest, FunctionsEqualOnlyThemselves) {
    Cell f = make_function("[a] [a]"), g = make_function("[a] [a]");
    EXPECT_TRUE(actions::compare(&f, &f, kCompareSame));
    EXPECT_TRUE(actions::compare(&f, &f, kCompareEqual));
    EXPECT_FALSE(actions::compare(&f, &g, kCompareEqual));
    EXPECT_TRUE(actions::compare(&f, &g, kCompareNotEqual));
    EXPECT_EQ(actions::compare_value(&f, &g, kCompareSort), f.extras() < g.extras() ? -1 : 1);
    EXPECT_EQ(actions::call<Act::compare>(&f, &g, kCompareLesser), kNotComparable);
    Cell one = int_cell(1);
    EXPECT_EQ(actions::call<Act::compare>(&f, &one, kCompareEqual), kNotComparable);
}

TEST_F(FunctionTest, FunctionCollectsTheWordsItsBodySets) {
    struct Case {
        const char* spec;
        const char* body;
        const char* collected;
        const char* new_spec;
    } cases[] = {
        {"a", "x: 1 foreach [k v] blk [y: k]", "[x k v y]", "[a /local x k v y]"},
        {"a x", "x: 1 y: 2 X: 3", "[y]", "[a x /local y]"},
        {"a /local q", "(p: 1) a/b: 2 [[r: 3]]", "[p r]", "[a /local q p r]"},
        {"", "repeat i 3 [] repeat j: 3 [] remove-each w s [] foreach 'k s []", "[i j w]", "[/local i j w]"},
        {"", "local: 1 z: 2", "[z]", "[/local z]"},
        {"a", "print a", "[]", "[a]"},
        {"a /extern e /local l", "e: 1 l: 2 n: 3", "[l n]", "[a /local l n]"},
        {"a: /b \"doc\" [integer!]", "a: b: 1", "[]", "[a: /b \"doc\" [integer!]]"},
    };
    for (const Case& c : cases) {
        Cell spec = load(c.spec);
        Cell collected = keep(*function::collect_words(spec, load(c.body)));
        stack::pop(1);
        EXPECT_EQ(mold(collected), c.collected) << c.body;
        EXPECT_EQ(mold(spec), c.new_spec) << c.body;
    }
    EXPECT_EQ(error_of([&] { function::collect_words(load("a /extern b 1"), load("")); }), Err::script_bad_func_extern);
}

TEST_F(FunctionTest, LocalsCountAndTheirInitialValues) {
    Cell spec = load("a /ref b /local c d \"doc\" e");
    EXPECT_EQ(function::count_locals(spec, 0, false), 4);
    EXPECT_EQ(function::count_locals(at_head(spec, 2), 1, true), 4);
    EXPECT_EQ(function::count_locals(spec, 5, false), 0);
    EXPECT_EQ(function::count_locals(spec, 5, true), -1);
    EXPECT_EQ(function::count_locals(load("a b"), 0, true), -1);
    for (int32_t count : {1, 3}) {
        Cell* first = stack::top;
        function::init_locals(count);
        ASSERT_EQ(stack::top - first, count);
        EXPECT_EQ(first[0].type(), Type::Logic);
        EXPECT_FALSE(logic::get(first[0]));
        for (int32_t i = 1; i < count; i++) EXPECT_EQ(first[i].type(), Type::None);
        stack::top = first;
    }
}

TEST_F(FunctionTest, Routines) {
    Cell spec = load("a [integer!] /ref b \"doc\" return: [logic!]");
    Cell* pushed = routine::push(spec, load("native-code"), 7, 3, true);
    Cell r = keep(*pushed);
    stack::pop(1);
    EXPECT_EQ(r.type(), Type::Routine);
    EXPECT_EQ(routine::get_arity(r), 2u);
    EXPECT_TRUE(r.header & routine::kUnconverted);
    EXPECT_EQ(integer::get(*function::extra(r, function::kCode)), 7);
    EXPECT_EQ(integer::get(*function::extra(r, function::kCode2)), 3);
    EXPECT_EQ(mold(r), "routine [a [integer!] /ref b \"doc\" return: [logic!]][native-code]");
    EXPECT_EQ(form(r), "?routine?");
    EXPECT_EQ(mold(reflected(r, "body")), "[native-code]");
    Cell bodiless = keep(*routine::push(load("a"), none::value, 1, 0, false));
    stack::pop(1);
    EXPECT_EQ(mold(bodiless), "routine [a] none");
    EXPECT_EQ(mold_all(bodiless), "routine [a] #(none)");
    Cell f = pushed_function("a");
    EXPECT_EQ(actions::call<Act::compare>(&r, &f, kCompareEqual), kNotComparable);
    EXPECT_TRUE(actions::compare(&r, &r, kCompareSame));
}
