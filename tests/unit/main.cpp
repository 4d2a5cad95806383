// The unit tests run against a run-time brought up the way the program brings it up.
#include <gtest/gtest.h>

#include "boot/startup.h"
#include "runtime/memory.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    oka::mem::reserve();
    oka::runtime::init();
    return RUN_ALL_TESTS();
}
