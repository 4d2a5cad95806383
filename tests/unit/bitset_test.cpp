// bitset! where scripts cannot look: the bit layout that has_codepoint reads, specs given as binary!
// values (which the lexer does not load yet), the owner's change events; and the text of triple!.
#include <gtest/gtest.h>

#include <utility>

#include "datatypes/bitset.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/words.h"
#include "function_testing.h"
#include "string_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

Cell make_bitset(const Cell& spec) { return run(actions::make_s, {type_cell(Type::Bitset), spec}); }

Cell binary_of(std::initializer_list<uint8_t> bytes) {
    Node node = alloc::alloc_bytes(uint32_t(bytes.size()));
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    std::copy(bytes.begin(), bytes.end(), mem::ptr(b->offset));
    b->tail = b->offset + uint32_t(bytes.size());
    return keep(Cell::of(Type::Binary).set_node(node));
}

Cell not_word() { return word::load("not"); }

}  // namespace

TEST(BitsetLayout, HasCodepointReadsTheStoredBitsThenTheNegation) {
    Cell plain = make_bitset(str("a\u20AC"));
    Cell negated = run(actions::complement_s, {plain});
    struct Case {
        uint32_t codepoint;
        bool member;
    } cases[] = {{'a', true}, {'b', false}, {0, false}, {0x20AC, true}, {0x20AD, false}, {0x10FFFF, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(bitset::has_codepoint(plain, c.codepoint), c.member) << c.codepoint;
        EXPECT_EQ(bitset::has_codepoint(negated, c.codepoint), !c.member) << c.codepoint;
    }
    // Bit 0 is the highest bit of the first byte.
    EXPECT_EQ(*mem::ptr(mem::buffer(make_bitset(int_cell(0)).node())->offset), 0);
    EXPECT_EQ(*mem::ptr(mem::buffer(make_bitset(block_of({int_cell(0)})).node())->offset), 0x80);
}

TEST(BitsetSpec, BinaryBytesAreStoredAsTheyAreOrInvertedAfterNot) {
    Cell bytes = binary_of({0x81, 0x40});
    struct Case {
        Cell spec;
        const char* mold;
    } cases[] = {
        {bytes, "make bitset! #{8140}"},
        {at_head(bytes, 1), "make bitset! #{40}"},
        {block_of({not_word(), bytes}), "make bitset! [not #{8140}]"},
        {binary_of({}), "make bitset! #{}"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(make_bitset(c.spec)), c.mold);
    Cell negated = make_bitset(block_of({not_word(), bytes}));
    EXPECT_FALSE(bitset::has_codepoint(negated, 0));
    EXPECT_TRUE(bitset::has_codepoint(negated, 1));
    EXPECT_TRUE(bitset::has_codepoint(negated, 16));
}

TEST(BitsetSpec, ABinaryInsideASpecIsRefused) {
    Cell spec = block_of({int_cell(1), binary_of({1})});
    EXPECT_EQ(error_of([&] { make_bitset(spec); }), Err::internal_not_done);
}

namespace {

// The words the owner's change handler receives, in order.
std::vector<uint32_t> told;

void record(const Cell&, const Cell&, const Cell&, const Cell& action, const Cell&, int32_t, int32_t) {
    told.push_back(action.symbol());
}

// A bitset owned by an object that has a change-handler record (a stand-in node), so that its changes
// are reported.
Cell owned_bitset() {
    Cell bits = make_bitset(str("ab"));
    Cell owner;
    keep(*object::make_at(&owner, 1));
    owner.set_handlers(ints({0}).node());
    ownership::bind(bits, owner, word::load("field"));
    return bits;
}

}  // namespace

TEST(BitsetOwner, EachChangeIsReportedBeforeAndAfter) {
    struct Case {
        void (*entry)(const int32_t*);
        std::vector<Cell> more;  // the arguments after the bitset
        std::vector<int32_t> refinements;
        Word before, after;
    } cases[] = {
        {actions::poke_s, {char_cell('c'), logic_cell(true)}, {}, Word::poke, Word::poked},
        {actions::append_s, {str("c")}, {}, Word::insert, Word::inserted},
        {actions::insert_s, {str("c")}, {}, Word::insert, Word::inserted},
        {actions::remove_s, {str("a")}, given({{1, 1}}), Word::remove, Word::removed},
        {actions::clear_s, {}, {}, Word::clear, Word::cleared},
    };
    ownership::DeepChangeHandler before = std::exchange(ownership::fire_on_deep, record);
    for (const Case& c : cases) {
        told.clear();
        Cell bits = owned_bitset();
        switch (c.more.size()) {
        case 0: run(c.entry, {bits}, c.refinements); break;
        case 1: run(c.entry, {bits, c.more[0]}, c.refinements); break;
        default: run(c.entry, {bits, c.more[0], c.more[1]}, c.refinements); break;
        }
        EXPECT_EQ(told, (std::vector<uint32_t>{words::word(c.before).symbol(), words::word(c.after).symbol()}))
            << words::word(c.before).symbol();
    }
    ownership::fire_on_deep = before;
}

TEST(BitsetOwner, ACopyHasNoOwner) {
    Cell bits = owned_bitset();
    Cell copy = run(actions::copy_s, {bits});
    EXPECT_FALSE(mem::buffer(copy.node())->flags & kSeriesOwned);
    EXPECT_FALSE(ownership::owned_q(copy.node()));
}

TEST(Triple, FormsAndMoldsItsThreeIntegers) {
    auto triple = [](int32_t a, int32_t b, int32_t c) {
        return Cell::of(Type::Triple).set_first(uint32_t(a)).set_second(uint32_t(b)).set_third(uint32_t(c));
    };
    struct Case {
        Cell value;
        const char* text;
    } cases[] = {
        {triple(1, -2, 3), "make triple! [1 -2 3]"},
        {triple(INT32_MIN, 0, INT32_MAX), "make triple! [-2147483648 0 2147483647]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(c.value), c.text);
        EXPECT_EQ(mold(c.value), c.text);
    }
    EXPECT_EQ(mold(block_of({triple(1, -2, 3)})), "[make triple! [1 -2 3]]");
    EXPECT_EQ(mold_part(triple(1, -2, 3), 16), "make triple! [1 ");
}
