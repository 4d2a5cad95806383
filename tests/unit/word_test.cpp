// Symbols, contexts and binding, and words reading and writing their values.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime/registry.h"
#include "series_testing.h"
#include "test_support.h"

using namespace oka;
using test::block_of;
using test::int_cell;

namespace {

Cell word_of(std::string_view name, Type type = Type::Word) {
    Cell w = word::load(name);
    w.header = uint8_t(type);
    return w;
}

Cell* cells_of(const Cell& block) { return mem::ptr<Cell>(mem::buffer(block.node())->offset); }

}  // namespace

TEST(Symbol, CaseVariantsAliasTheFirstSpelling) {
    uint32_t foo = symbol::make("qfoo"), Foo = symbol::make("QFoo"), FOO = symbol::make("QFOO");
    EXPECT_NE(foo, Foo);
    EXPECT_NE(Foo, FOO);
    EXPECT_EQ(symbol::get_alias(foo), -1);
    EXPECT_EQ(symbol::get_alias(Foo), int32_t(foo));
    EXPECT_EQ(symbol::get_alias(FOO), int32_t(foo));
    for (uint32_t id : {foo, Foo, FOO}) EXPECT_EQ(symbol::resolve(id), foo);
    EXPECT_EQ(symbol::make("QFoo"), Foo);      // an exact match comes first
    EXPECT_EQ(symbol::make_alt("QFOO"), foo);  // the first spelling, no new entry
    EXPECT_EQ(symbol::name(Foo), "QFoo");
    Node string = symbol::get_string(Foo);
    EXPECT_EQ(symbol::get_string(Foo), string);  // built once
    EXPECT_EQ(test::text_of(Cell::of(Type::String).set_node(string)), "QFoo");
    // Only ASCII letters fold.
    EXPECT_EQ(symbol::get_alias(symbol::make("\xC3\x89t\xC3\xA9")), -1);
    EXPECT_EQ(symbol::get_alias(symbol::make("\xC3\xA9t\xC3\xA9")), -1);
}

TEST(Context, MadeFromASpecHoldsItsArgumentWords) {
    Cell spec = block_of({word_of("ca"), word_of("cb"), word_of("cc", Type::Refinement), word_of("cd"),
                          word_of("ce", Type::SetWord), block_of({})});
    Node context = test::keep_series(_context::make(spec));
    EXPECT_EQ(_context::word_count(context), 4u);
    for (const char* name : {"ca", "cb", "cc", "cd"})
        EXPECT_GE(_context::find_word(context, symbol::make(name), true), 0);
    EXPECT_LT(_context::find_word(context, symbol::make("ce"), true), 0);
    // Its values are the arguments of a call: there are none while no call runs.
    EXPECT_EQ(test::error_of([&] { _context::get(*_context::word_at(context, 2), context); }),
              Err::script_not_in_context);
}

TEST(Context, MadeFromASpecStartsAtItsHead) {
    Cell spec = block_of({word_of("ha"), word_of("hb"), word_of("hc", Type::Refinement)});
    spec.set_head(1);
    Node context = test::keep_series(_context::make(spec));
    EXPECT_EQ(_context::word_count(context), 2u);
    EXPECT_LT(_context::find_word(context, symbol::make("ha"), true), 0);
}

TEST(Context, BindingIsDeepCaseBlindAndNeverAdds) {
    Node context = test::keep_series(_context::create(4, 0, 0, _context::kObject));
    for (const char* name : {"ba", "bc"}) _context::add_word_unset(context, word_of(name));
    Cell inner = block_of({word_of("bc")});
    Cell code = block_of({word_of("ba"), word_of("bb"), inner, word_of("BA"), word_of("ba", Type::Issue)});
    _context::bind(code, context, false);
    Cell* c = cells_of(code);
    EXPECT_EQ(c[0].context(), context);
    EXPECT_EQ(c[1].context(), _context::global);  // not in the context: its binding stays
    EXPECT_EQ(cells_of(inner)[0].context(), context);
    EXPECT_EQ(c[3].context(), context);  // letter case ignored
    EXPECT_EQ(c[3].position(), c[0].position());
    EXPECT_EQ(c[4].context(), _context::global);  // an issue is never bound
    EXPECT_EQ(_context::word_count(context), 2u);
}

TEST(Context, BindingABlockThatHoldsItselfStops) {
    Cell code = block_of({word_of("ba")});
    block::rs_append(code, code);
    Node context = test::keep_series(_context::create(1, 0, 0, _context::kObject));
    _context::add_word_unset(context, word_of("ba"));
    _context::bind(code, context, false);
    EXPECT_EQ(cells_of(code)[0].context(), context);
}

TEST(Context, SelfReadsTheOwner) {
    Node context = test::keep_series(_context::create(1, _context::kHasSelf, 0, _context::kObject));
    *_context::self_cell(context) = int_cell(77);
    Cell code = block_of({word_of("self"), word_of("self", Type::LitWord)});
    _context::bind(code, context, true);
    Cell self = cells_of(code)[0];
    EXPECT_EQ(self.position(), -1);
    EXPECT_EQ(word::get_cell(self)->int32(), 77);
    EXPECT_EQ(test::error_of([&] {
                  Cell other = self;
                  other.set_symbol(symbol::make("notself"));
                  word::get_cell(other);
              }),
              Err::script_no_value);
}

TEST(Context, FunctionValuesExistOnlyWhileACallRuns) {
    Node context = test::keep_series(_context::create(2, kValuesOnStack, 0, _context::kFunction));
    Cell w = word_of("fa");
    _context::bind_word(context, &w);
    _context::add_word_unset(context, w);
    _context::bind_word(context, &w);
    EXPECT_EQ(test::error_of([&] { word::get_cell(w); }), Err::script_not_in_context);
}

TEST(Word, GlobalWordsReadAndWrite) {
    Cell w = word_of("wa");
    word::set_value(&w, int_cell(5));
    EXPECT_EQ(integer::get(*word::get_cell(w)), 5);
    // Every spelling reads the same value cell.
    Cell upper = word_of("WA");
    EXPECT_EQ(integer::get(*word::get_cell(upper)), 5);
    Cell fresh = word_of("wb-never-set");
    EXPECT_EQ(test::error_of([&] { word::get(fresh); }), Err::script_no_value);
    EXPECT_EQ(word::get_any(fresh)->type(), Type::Unset);
    stack::pop(1);
}

TEST(Word, SetArgRefusesUnsetForWordsOnly) {
    Cell w = word_of("wc");
    EXPECT_EQ(test::error_of([&] {
                  test::run([](const int32_t*) { word::set_arg(); }, {w, unset::value});
              }),
              Err::script_need_value);
    Cell result = test::run([](const int32_t*) { word::set_arg(false); }, {w, unset::value});
    EXPECT_EQ(result.type(), Type::Unset);
}

TEST(Word, CompareByMode) {
    Cell foo = word_of("foo"), Foo = word_of("Foo"), lit = word_of("foo", Type::LitWord);
    EXPECT_TRUE(actions::compare(&foo, &Foo, kCompareEqual));
    EXPECT_FALSE(actions::compare(&foo, &Foo, kCompareStrictEqual));
    EXPECT_FALSE(actions::compare(&foo, &Foo, kCompareSame));
    EXPECT_TRUE(actions::compare(&foo, &lit, kCompareEqual));
    EXPECT_FALSE(actions::compare(&foo, &lit, kCompareStrictEqual));
    EXPECT_TRUE(actions::compare(&foo, &lit, kCompareStrictEqualWord));
    EXPECT_TRUE(actions::compare(&Foo, &lit, kCompareEqualWord));
    Cell n = int_cell(1);
    EXPECT_FALSE(actions::compare(&foo, &n, kCompareEqual));
}

TEST(Word, IndexOfAWordInItsContext) {
    Node context = test::keep_series(_context::create(3, 0, 0, _context::kObject));
    for (const char* name : {"ia", "ib", "ic"}) _context::add_word_unset(context, word_of(name));
    Cell w = word_of("ic");
    _context::bind_word(context, &w);
    EXPECT_EQ(integer::get(test::run(actions::index_q_s, {w})), 3);
    Cell unresolved = Cell::of(Type::Word).set_symbol(symbol::make("ix")).set_position(-1);
    EXPECT_EQ(test::run(actions::index_q_s, {unresolved}).type(), Type::None);
}

TEST(Word, EachMadeWordIsACellOfItsOwn) {
    Cell a = word_of("ma", Type::SetWord), b = word_of("mb", Type::GetWord);
    auto make = datatype::action<Act::make>(Type::Word);
    const Cell* first = make(&a, &a, Type::Word);
    const Cell* second = make(&b, &b, Type::LitWord);
    EXPECT_EQ(first->type(), Type::Word);
    EXPECT_EQ(first->symbol(), a.symbol());
    EXPECT_EQ(second->type(), Type::LitWord);
    EXPECT_EQ(second->symbol(), b.symbol());
}

TEST(Word, RunTimeWordsExist) {
    const Cell& swaped = words::word(Word::swaped);
    EXPECT_EQ(swaped.type(), Type::Word);
    EXPECT_EQ(symbol::name(swaped.symbol()), "swaped");
    EXPECT_EQ(symbol::name(words::word(Word::put_ed).symbol()), "put-ed");
    EXPECT_EQ(symbol::name(words::id(Sym::bar)), "|");
    EXPECT_GE(_context::find_word(_context::global, words::id(Sym::bar), false), 0);  // a global word
    EXPECT_EQ(words::spec_word(SpecWord::local).type(), Type::Refinement);
    EXPECT_EQ(words::spec_word(SpecWord::local).context(), 0u);
}
