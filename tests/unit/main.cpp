// The unit tests run against a run-time brought up the way the program brings it up, with the
// collector switched on, so that OKA_GC_STRESS reaches every test.
#include <gtest/gtest.h>

#include "boot/startup.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/symbol_table.h"
#include "test_support.h"

namespace {

// Each test starts with empty stacks and none of the values the ones before it kept: what an earlier
// test left behind is garbage by now, and a stack top put back over it would bring it back. Its global
// words are as the run-time's start left them, whatever tests ran before it (in any order: the tests
// pass run one by one, whole or shuffled).
class FreshStart : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        using namespace oka;
        stack::frame_base = stack::top = stack::bottom;
        stack::call_top = stack::call_bottom;
        stack::saved_call_top = nullptr;
        block::rs_clear_at(test::kept_values, 0);
        test::bare_global_words.restore();
    }
    // Each test leaves a sound heap behind it, at rest. Values it pushed outside any frame are its own
    // roots, dropped here as they would be at the next start; a frame left open is a fault.
    void OnTestEnd(const testing::TestInfo&) override {
        using namespace oka;
        if (stack::frame_base == stack::bottom) stack::top = stack::bottom;
        if constexpr (kChecks) collector::verify(collector::Moment::AtRest);
    }
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    oka::mem::reserve();
    oka::runtime::init();
    oka::block::make_at(&oka::test::kept_values, 64);
    oka::runtime::register_root(&oka::test::kept_values);
    oka::test::bare_global_words.remember();
    oka::test::startup_symbol_index = *oka::hashtable::record(oka::symbol::index);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshStart);
    oka::collector::on = true;
    return RUN_ALL_TESTS();
}
