// Start-up as a whole: what the language cannot show of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "boot/boot.h"

namespace oka {

namespace {

// An error raised while the boot environment is built finds no try frame: the run ends, reported and
// with the failure status, rather than going on with half an environment.
TEST(BootDeathTest, AnErrorInABootScriptIsReportedAndEndsTheRunWithStatus254) {
    EXPECT_EXIT(
        {
            dup2(2, 1);
            boot::run_boot_script("boot-value: word-never-set");
        },
        testing::ExitedWithCode(254), "\\*\\*\\* Script Error: word-never-set has no value\n");
}

}  // namespace

}  // namespace oka
