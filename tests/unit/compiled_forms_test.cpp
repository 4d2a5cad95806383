// The bookkeeping of compiled forms that no output shows: when a form is made, and that it goes when
// its code changes or dies (a node the collector frees may come back as another series). What code
// gives with forms on is the transcripts' part (compiled_code.txt and the .compiled runs).
#include "evaluator/compiled_forms.h"

#include "natives_testing.h"
#include "runtime/collector.h"

namespace oka::test {
namespace {

class CompiledForms : public CodeTest {
protected:
    void SetUp() override {
        CodeTest::SetUp();
        compiled::enabled = true;
    }
    void TearDown() override { compiled::enabled = false; }
};

TEST_F(CompiledForms, MadeAtTheSecondEvaluationAndDroppedWhenTheCodeChanges) {
    uint32_t before = compiled::count();
    for (const char* change : {"append code 5", "poke code 4 7", "clear code", "bind code make object! [x: 0]"}) {
        eval("code: copy [x: 1 + 2]");
        EXPECT_EQ(eval("do code"), "3");
        EXPECT_EQ(compiled::count(), before) << "made at the first evaluation";
        EXPECT_EQ(eval("do code"), "3");
        EXPECT_EQ(compiled::count(), before + 1) << change;
        eval(change);
        EXPECT_EQ(compiled::count(), before) << change;
    }
}

TEST_F(CompiledForms, DroppedWhenTheCollectorFindsTheirCodeGone) {
    eval("transient: copy [y: 2 * 3] do transient do transient");
    uint32_t made = compiled::count();
    eval("transient: none");
    collector::do_cycle();
    EXPECT_EQ(compiled::count(), made - 1);
}

}  // namespace
}  // namespace oka::test
