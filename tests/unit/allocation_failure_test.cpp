// Running out of memory: the failure hook, the errors raised without allocating, C++ heap failures
// turned into the no-memory error, and the structures that a failed allocation must leave whole.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "natives_testing.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/print_hooks.h"
#include "runtime/symbol_table.h"
#include "string_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

// Runs `body` failing its allocation k, for k = 1, 2, ... until a run fails none; each run that fails
// one must raise the no-memory error. `check` runs after every run, `prepare` before it (outside the
// count). Answers the number of runs that failed an allocation.
template <class Prepare, class Body, class Check>
uint32_t fail_each_allocation(Prepare prepare, Body body, Check check) {
    for (uint32_t k = 1;; k++) {
        prepare();
        collector::fail_at(k);
        Err raised = error_of(body);
        bool failed = !collector::fail_armed_q();
        collector::fail_at(0);
        EXPECT_TRUE(!failed || raised == Err::internal_no_memory) << "allocation " << k;
        check();
        if (!failed) return k - 1;
    }
}

Cell* error_field(const Cell& error, error::Field f) { return error::field(error, f).get(); }

}  // namespace

TEST(FailureHook, FailsTheNthAllocationFromNowOnce) {
    collector::fail_at(3);
    EXPECT_TRUE(collector::fail_armed_q());
    EXPECT_EQ(error_of([] { alloc::alloc_bytes(16); }), Err(0));
    EXPECT_EQ(error_of([] { alloc::alloc_bytes(16); }), Err(0));
    EXPECT_EQ(error_of([] { alloc::alloc_bytes(16); }), Err::internal_no_memory);
    EXPECT_FALSE(collector::fail_armed_q());
    EXPECT_EQ(error_of([] { alloc::alloc_bytes(16); }), Err(0));
    // Disarmed, or with the collector off (start-up), nothing fails and nothing is counted.
    collector::fail_at(1);
    collector::fail_at(0);
    EXPECT_EQ(error_of([] { alloc::alloc_bytes(16); }), Err(0));
    collector::fail_at(1);
    {
        collector::HeldOff off;
        EXPECT_EQ(error_of([] { alloc::alloc_bytes(16); }), Err(0));
    }
    EXPECT_EQ(error_of([] { alloc::alloc_bytes(16); }), Err::internal_no_memory);
}

// The errors raised when memory or a stack runs out are made at start-up: raising one allocates
// nothing, so an armed failure stays armed. Each raise fills the one value afresh.
TEST(ReadyMadeErrors, RaisingThemAllocatesNothingAndRefillsTheirFields) {
    struct Case {
        Err id;
        void (*raise)();
    } cases[] = {
        {Err::internal_no_memory, [] { fire(Err::internal_no_memory); }},
        {Err::internal_stack_overflow, [] { stack::overflow(stack::top); }},
    };
    Cell* end = stack::end;
    for (const Case& c : cases) {
        Cell first, second;
        collector::fail_at(1);
        EXPECT_TRUE(error::trap(c.raise, &first));
        EXPECT_TRUE(collector::fail_armed_q()) << int(c.id);
        collector::fail_at(0);
        keep(first);
        EXPECT_EQ(integer::get(*error_field(first, error::kCode)), int32_t(c.id));
        uint32_t id = error::get_id(first);
        // A script that keeps the error may change it; the next raise sets every field again.
        *error_field(first, error::kArg1) = int_cell(7);
        *error_field(first, error::kId) = int_cell(8);
        EXPECT_TRUE(error::trap(c.raise, &second));
        EXPECT_EQ(second.context(), first.context());  // the same context: the value is reused
        EXPECT_EQ(integer::get(*error_field(second, error::kCode)), int32_t(c.id));
        EXPECT_EQ(error::get_id(second), id);
        EXPECT_TRUE(error_field(second, error::kArg1)->is(Type::None));
        EXPECT_TRUE(error_field(second, error::kWhere)->is(Type::Word));  // named by the try frame
    }
    // The overflow gives its reserve back as its error leaves.
    EXPECT_EQ(stack::end, end);
}

// ---- C++ heap failures ----

namespace {

void refuse_to_print(const Cell*, bool) { throw std::bad_alloc(); }

class PrintRefused : public CodeTest {
protected:
    // The one file of tests whose boot runs under the stress mode (natives_testing.h): it follows tests
    // that failed allocations and raised the ready-made errors, and a boot collecting at every
    // allocation walks every root and series those may have left unsound.
    bool stressed_boot() const override { return true; }
    void SetUp() override {
        CodeTest::SetUp();
        io::remove_print_hooks(io::print_string, nullptr);
        io::add_print_hooks(refuse_to_print, nullptr);
    }
    void TearDown() override {
        io::remove_print_hooks(refuse_to_print, nullptr);
        io::add_print_hooks(io::print_string, nullptr);
    }
};

}  // namespace

// A std::bad_alloc in a native becomes the no-memory error where the native was called, and a try
// takes it like any other error.
TEST_F(PrintRefused, ABadAllocInANativeIsTheNoMemoryErrorOfThatNative) {
    expect_results({
        {"print 1", "*** no-memory"},
        {"e: try [print 1] e/where", "print"},
        {"type? try [loop 2 [print 1]]", "error!"},
    });
    EXPECT_EQ(error_of([] { throw std::bad_alloc(); }), Err::internal_no_memory);  // a trap takes it too
}

// ---- structures that a failed allocation leaves whole ----

// A context gains a word together with its value or not at all: a word without its value would read
// and write the cell past the end of the values.
TEST(AllocationFailure, AContextGainsAWordWithItsValueOrNotAtAll) {
    for (uint32_t filled : {1, 4, 8, 16}) {
        Cell object;
        keep(*object::make_at(&object, 4));
        for (uint32_t i = 0; i < filled; i++)
            _context::set_or_add(object.context(), word::load("field-" + std::to_string(i)), int_cell(int32_t(i)));
        Cell next = word::load("field-" + std::to_string(filled));
        auto counts_agree = [&] {
            Node values = _context::context_cell(object.context())->values();
            EXPECT_EQ(_context::word_count(object.context()), mem::buffer(values)->length()) << filled;
        };
        fail_each_allocation([] {}, [&] { _context::set_or_add(object.context(), next, int_cell(99)); }, counts_agree);
        EXPECT_EQ(integer::get(*object::rs_select(object, next.symbol())), 99);
    }
}

// A symbol is interned with its name or not at all: the symbol block holds exactly the entries its
// index knows.
TEST(AllocationFailure, TheSymbolTableGainsASymbolWithItsNameOrNotAtAll) {
    auto counts_agree = [] {
        EXPECT_EQ(mem::buffer(symbol::table)->length(), hashtable::record(symbol::index)->count);
    };
    uint32_t failed = 0;
    for (int i = 0; i < 20; i++) {
        std::string name = "interned-under-failure-" + std::to_string(i);
        failed += fail_each_allocation([] {}, [&] { symbol::make(name); }, counts_agree);
        EXPECT_EQ(symbol::name(symbol::make(name)), name);
    }
    EXPECT_GT(failed, 0u);
}

// The table of owners grows while many series are bound at once: a growth that fails leaves every
// entry made before it where lookups find it, and every owned flag with its entry.
TEST(AllocationFailure, TheTableOfOwnersSurvivesAFailedGrowth) {
    Cell owner;
    keep(*object::make_at(&owner, 1));
    Cell field = word::load("field"), strings = new_block(0);
    auto prepare = [&] {
        for (int i = 0; i < 150; i++) block::rs_append(strings, str("s"));
    };
    auto bind = [&] { ownership::bind(strings, owner, field); };
    auto entries_whole = [&] {
        for (uint32_t i = 0; i < block::rs_length_q(strings); i++) {
            Cell series = *block::rs_abs_at(strings, i);
            bool flagged = mem::buffer(series.node())->flags & kSeriesOwned;
            BufPtr<Cell> entry = ownership::owned_q(series.node());
            EXPECT_EQ(flagged, bool(entry)) << i;
            EXPECT_TRUE(!entry || entry[0].context() == owner.context()) << i;
        }
        collector::do_cycle();
    };
    // Each run binds 150 more series, so that the table grows in one of them at least.
    fail_each_allocation(prepare, bind, entries_whole);
    ownership::bind(strings, owner, field);
    for (uint32_t i = 0; i < block::rs_length_q(strings); i++)
        EXPECT_TRUE(ownership::owned_q(block::rs_abs_at(strings, i)->node())) << i;
}
