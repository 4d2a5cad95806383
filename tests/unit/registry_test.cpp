// The datatype registry, the datatype! type and the dispatch of actions to a type's implementation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "evaluator/actions.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/throw.h"
#include "test_support.h"

using namespace oka;
using test::run;
using test::text_of;

namespace {

// Type ids 55 and 56 name no datatype, so tests may register rows for them.
constexpr Type kParent = Type(55);
constexpr Type kChild = Type(56);

int32_t parent_form(Cell*, Cell*, Cell*, int32_t part) { return part - 1; }
int32_t parent_mold(Cell*, Cell*, const MoldOptions&, int32_t part, int32_t) { return part - 2; }
int32_t child_compare(Cell*, Cell*, int32_t) { return 0; }

std::vector<ActionSlot> row_of(std::initializer_list<ActionEntry> entries) {
    std::vector<ActionSlot> row(kActionCount, kUnsupported);
    for (const ActionEntry& e : entries) row[int(e.slot) - 1] = e.value;
    return row;
}

Cell datatype_cell(Type t) { return test::type_cell(t); }
Cell integer_cell(int32_t v) { return test::int_cell(v); }

}  // namespace

TEST(Registry, InheritedSlotsTakeTheParentsEntryAndZeroStaysUnsupported) {
    datatype::register_(kParent, Type::Void, "parent!",
                        row_of({implements<Act::form>(parent_form), implements<Act::mold>(parent_mold)}));
    datatype::register_(kChild, kParent, "child!",
                        row_of({inherits<Act::form>(), implements<Act::compare>(child_compare)}));
    EXPECT_EQ(datatype::action_entry(kChild, Act::form), datatype::action_entry(kParent, Act::form));
    EXPECT_EQ(datatype::action_entry(kChild, Act::mold), nullptr);  // 0: not supported although the parent is
    EXPECT_NE(datatype::action_entry(kChild, Act::compare), nullptr);
    EXPECT_EQ(datatype::highest_type(), kChild);
    EXPECT_STREQ(datatype::type_name(kChild).name, "child!");
    EXPECT_EQ(datatype::type_name(kChild).length, 5u);
}

TEST(Registry, InheritingWithoutAParentIsUnsupported) {
    datatype::register_(kParent, Type::Void, "parent!", row_of({inherits<Act::form>()}));
    EXPECT_EQ(datatype::action_entry(kParent, Act::form), nullptr);
}

TEST(Registry, WrongActionCountIsReportedAndEndsAsAFailure) {
    std::vector<ActionSlot> short_row(61, kUnsupported);
    EXPECT_EXIT(
        {
            dup2(2, 1);  // the report goes to standard output; the death test reads standard error
            datatype::register_(kParent, Type::Void, "parent!", short_row);
        },
        testing::ExitedWithCode(1),
        "\\*\\*\\* Datatype Error: invalid actions count for type: 55\n\\*\\*\\* Found: 61\n\\*\\*\\* Expected: 62\n");
}

TEST(DatatypeValue, FormMoldAndMoldAll) {
    struct Case {
        void (*entry)(const int32_t*);
        std::vector<int32_t> refinements;
        const char* text;
    } cases[] = {
        {actions::form_s, {}, "datatype"},
        {actions::mold_s, {}, "datatype!"},
        {actions::mold_s, {-1, 1}, "#(datatype!)"},
    };
    for (const Case& c : cases) {
        Cell result = run(c.entry, {datatype_cell(Type::Datatype)}, c.refinements);
        ASSERT_EQ(result.type(), Type::String);
        EXPECT_EQ(text_of(result), c.text);
    }
}

TEST(DatatypeValue, FormWithPartCutsAndZeroPartGivesEmptyText) {
    EXPECT_EQ(text_of(run(actions::form_s, {datatype_cell(Type::Datatype), integer_cell(4)}, {1})), "data");
    EXPECT_EQ(text_of(run(actions::form_s, {datatype_cell(Type::Datatype), integer_cell(0)}, {1})), "");
    EXPECT_EQ(text_of(run(actions::mold_s, {datatype_cell(Type::Datatype), integer_cell(-4)}, {-1, -1, -1, 1})), "");
}

TEST(DatatypeValue, CompareAnswersEqualityOnlyForEqualityOps) {
    Cell a = datatype_cell(Type::Integer), b = datatype_cell(Type::Integer), c = datatype_cell(Type::Float);
    Cell n = integer_cell(11);
    struct Case {
        Cell* other;
        int32_t op;
        int32_t answer;
    } cases[] = {
        {&b, kCompareEqual, 0},       {&c, kCompareEqual, 1},   {&b, kCompareNotEqual, 0},
        {&b, kCompareStrictEqual, 0}, {&b, kCompareSame, 0},    {&c, kCompareFind, 1},
        {&n, kCompareEqual, 1},       {&b, kCompareLesser, -2}, {&b, kCompareSort, -2},
    };
    for (const Case& k : cases) EXPECT_EQ(actions::call<Act::compare>(&a, k.other, k.op), k.answer) << k.op;
}

TEST(ActionDispatch, UnsupportedActionRaisesExpectArg) {
    Cell value = datatype_cell(Type::Integer);
    EXPECT_EQ(test::error_of([&] { run(actions::negate_s, {value}); }), Err::script_expect_arg);
    EXPECT_EQ(error::raised.args[1].type(), Type::Datatype);
    EXPECT_EQ(error::raised.args[1].named_type(), Type::Datatype);
}

TEST(ActionDispatch, IndexArgument) {
    Cell t, f, ch = Cell::of(Type::Char).set_code_point('a'), nothing;
    logic::make_at(&t, true);
    logic::make_at(&f, false);
    none::make_at(&nothing);
    struct Case {
        Cell index;
        int32_t expected;
    } cases[] = {{integer_cell(-7), -7}, {ch, 97}, {t, 1}, {f, 2}, {nothing, 0}};
    for (const Case& c : cases) {
        Cell* saved = stack::frame_base;
        stack::frame_base = stack::top;
        stack::push(nothing);
        stack::push(c.index);
        EXPECT_EQ(actions::get_index_arg(), c.expected);
        stack::top = stack::frame_base;
        stack::frame_base = saved;
    }
}

TEST(ActionDispatch, TableHoldsAnEntryForEverySlot) {
    for (int slot = 1; slot <= kActionCount; slot++) EXPECT_NE(actions::entry(Act(slot)), nullptr) << slot;
    EXPECT_EQ(actions::entry(Act::append), &actions::append_s);
    EXPECT_EQ(actions::entry(Act::write), &actions::write_s);
}
