// The data stack and the call stack: frames, unwinding, and the non-local exits finding their frames.
#include <gtest/gtest.h>

#include "datatypes/unset.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "test_support.h"

using namespace oka;
using test::int_cell;

namespace {

// Each test starts from empty stacks and leaves them empty.
class Stacks : public testing::Test {
protected:
    void SetUp() override {
        base = stack::frame_base;
        top = stack::top;
        calls = stack::call_top;
        stack::frame_base = stack::top;  // an empty frame to work in
    }
    void TearDown() override {
        stack::frame_base = base;
        stack::top = top;
        stack::call_top = calls;
        stack::saved_call_top = nullptr;
    }
    Cell* base = nullptr;
    Cell* top = nullptr;
    stack::CallFrame* calls = nullptr;
    Cell name = {uint8_t(Type::Word), 0, 7, 0};
};

int32_t int_at(const Cell* c) { return c->int32(); }

}  // namespace

TEST_F(Stacks, DataStackOverflowLeavesRoomToReportIt) {
    // The cells short of the block's end are released to the error machinery, which builds the error
    // above the cells pushed: those stay as they were, for a try frame among them takes the error in
    // its own slot.
    Cell* first = stack::top;
    EXPECT_EQ(test::error_of([&] {
                  for (;;) stack::push(int_cell(7));
              }),
              Err::internal_stack_overflow);
    for (Cell* cell = first; cell < stack::end - 1; cell++) ASSERT_EQ(int_at(cell), 7) << cell - first;
}

#if OKA_CHECKS
// Taking more than was pushed is a fault of the caller, caught where it happens.
TEST_F(Stacks, UnderflowIsCaught) {
    stack::top = stack::bottom + 10;
    EXPECT_EXIT(stack::pop(11), testing::ExitedWithCode(98), "assertion failed");
    stack::top = stack::bottom;
    EXPECT_EXIT(stack::get_top(), testing::ExitedWithCode(98), "assertion failed");
}
#endif

TEST_F(Stacks, CallStackHolds12000Frames) {
    EXPECT_EQ(stack::call_end - stack::call_bottom, 12000);
    EXPECT_EQ(test::error_of([&] {
                  while (stack::call_top < stack::call_end) stack::mark_native(name);
                  stack::mark_native(name);  // one frame more than the stack holds
              }),
              Err::internal_stack_overflow);
}

TEST_F(Stacks, UnwindVariantsLeaveTheResultWhereTheCallerExpectsIt) {
    struct Case {
        void (*unwind)();
        int32_t caller_result;  // what the caller's result slot holds afterwards
    } cases[] = {
        {stack::unwind, 1},       // the callee's result becomes the next cell of the caller's frame
        {stack::unwind_last, 9},  // ... and is also copied into the caller's result slot
    };
    for (const Case& c : cases) {
        stack::push(int_cell(1));  // the caller's frame: its result slot
        Cell* caller = stack::frame_base;
        stack::mark_native(name);
        stack::push(int_cell(9));
        stack::push(int_cell(10));
        c.unwind();
        EXPECT_EQ(stack::frame_base, caller);
        EXPECT_EQ(stack::top - caller, 2);
        EXPECT_EQ(int_at(caller), c.caller_result);
        EXPECT_EQ(int_at(caller + 1), 9);
        stack::top = caller;
    }
}

TEST_F(Stacks, BreakFindsTheLoopAndCarriesItsValue) {
    Cell* loop_base = stack::top;
    stack::mark_loop(name);
    stack::mark_eval(name);
    stack::mark_native(name);  // the break native: its argument is the value to return
    stack::push(int_cell(42));
    uint32_t code = sys::protect(kThrowBreak, [] { stack::throw_break(true); });
    EXPECT_EQ(code, uint32_t(kThrowBreak));
    EXPECT_EQ(stack::get_ctop()->kind(), stack::kFrameLoop);  // the loop frame stays
    EXPECT_EQ(stack::frame_base, loop_base);
    EXPECT_EQ(int_at(loop_base), 42);
}

TEST_F(Stacks, TryAllHidesTheLoopBehindIt) {
    stack::mark_loop(name);
    stack::mark_try_all(name);
    stack::mark_native(name);
    stack::CallFrame* before = stack::call_top;
    Cell* base_before = stack::frame_base;
    EXPECT_EQ(test::error_of([] { stack::throw_break(false); }), Err::throw_break);
    EXPECT_EQ(test::error_of([] { stack::throw_continue(); }), Err::throw_continue);
    EXPECT_EQ(stack::call_top, before);  // the stacks are as the native had them
    EXPECT_EQ(stack::frame_base, base_before);
}

TEST_F(Stacks, ReturnPassesLoopsToTheFunctionBody) {
    stack::mark_func(name, 0);
    stack::set_in_body(true);
    Cell* body_base = stack::frame_base;
    stack::mark_loop(name);
    stack::mark_native(name);
    stack::push(int_cell(5));
    EXPECT_EQ(sys::protect(kCatchAll, [] { stack::throw_exit(true); }), uint32_t(kThrowReturn));
    EXPECT_EQ(stack::get_ctop()->kind(), stack::kFrameFunction);
    EXPECT_EQ(int_at(body_base), 5);
    stack::mark_native(name);
    EXPECT_EQ(sys::protect(kCatchAll, [] { stack::throw_exit(false); }), uint32_t(kThrowExit));
    EXPECT_EQ(stack::frame_base->type(), Type::Unset);
}

TEST_F(Stacks, ReturnOutsideAFunctionAndThrowWithoutCatch) {
    stack::mark_loop(name);
    stack::mark_native(name);
    EXPECT_EQ(test::error_of([] { stack::throw_exit(true); }), Err::throw_return);
    EXPECT_EQ(test::error_of([&] {
                  stack::mark_native(name);  // the throw native, with its value and name
                  stack::push(int_cell(3));
                  stack::push(int_cell(0));
                  stack::throw_throw(kThrowThrow);
              }),
              Err::throw_throw);
    EXPECT_EQ(int_at(&error::raised.args[0]), 3);
}

TEST_F(Stacks, ThrowReachesCatchWithValueAndName) {
    stack::mark_catch(name);
    Cell* catch_base = stack::frame_base;
    stack::mark_func(name, 0);
    stack::mark_native(name);
    stack::push(int_cell(8));
    stack::push(int_cell(9));
    EXPECT_EQ(sys::protect(kThrowThrow, [] { stack::throw_throw(kThrowThrow); }), uint32_t(kThrowThrow));
    EXPECT_EQ(stack::get_ctop()->kind(), stack::kFrameCatch);
    EXPECT_EQ(int_at(catch_base), 8);
    EXPECT_EQ(int_at(catch_base + 1), 9);
    EXPECT_EQ(stack::top, catch_base + 2);
}

TEST_F(Stacks, UnrollKeepsTheMatchedFrame) {
    for (bool inclusive : {false, true}) {
        stack::mark_native(name);  // the try is not the bottom frame: its caller has a frame of its own
        stack::push(int_cell(1));
        Cell* outer = stack::frame_base;
        stack::mark_try(name);
        Cell* try_base = stack::frame_base;
        stack::push(int_cell(2));
        stack::mark_native(name);
        stack::mark_native(name);
        stack::unroll_to(stack::kFrameTry, inclusive);
        EXPECT_EQ(stack::get_ctop()->kind(), stack::kFrameTry);
        // The try frame stays; inclusive resumes in its own frame, otherwise in its caller's.
        EXPECT_EQ(stack::frame_base, inclusive ? try_base : outer);
        stack::call_top = calls;
        stack::frame_base = stack::top = base;
    }
}

// A series held by its node alone sits on the data stack as a value of what its buffer holds, as the
// collector's heap check and anything else that reads the stack as values expect.
TEST_F(Stacks, ARootHeldByNodeIsAValueOfItsBuffer) {
    Node text = alloc::alloc_codepoints(4, 2);
    stack::Root held_text(text);
    Node cells = alloc::alloc_cells(2);
    stack::Root held_cells(cells);
    EXPECT_EQ(collector::heap_faults(collector::Moment::InFlight), std::vector<std::string>{});
}
