// The external-resource handle table: allocation with doubling, marking, sweeping and release.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/handles.h"

using namespace oka;

namespace {

std::vector<void*> released;
void record_release(void* object) { released.push_back(object); }

void* object(intptr_t n) { return reinterpret_cast<void*>(n); }

// Each test starts from a new, empty table, which then gives way to the run-time's again.
class Handles : public testing::Test {
protected:
    void SetUp() override {
        released.clear();
        kind = handles::register_kind("test", record_release);
    }
    handles::FreshTableForTests fresh;
    int kind = 0;
};

}  // namespace

TEST_F(Handles, TheThousandthAllocationDoublesTheTable) {
    for (int32_t i = 0; i < 999; i++) EXPECT_EQ(handles::alloc(object(i + 1), kind), i);
    EXPECT_EQ(handles::capacity(), 1000u);
    EXPECT_EQ(handles::alloc(object(1000), kind), 999);
    EXPECT_EQ(handles::capacity(), 2000u);
    EXPECT_EQ(handles::alloc(object(1001), kind), 1000);
    EXPECT_EQ(handles::slot(0).object, object(1));
}

TEST_F(Handles, SweepReleasesUnmarkedSlotsAndClearsMarks) {
    int32_t a = handles::alloc(object(1), kind), b = handles::alloc(object(2), kind),
            c = handles::alloc(object(3), kind);
    EXPECT_TRUE(handles::mark(a, nullptr));
    EXPECT_FALSE(handles::mark(a, nullptr));    // already marked
    EXPECT_TRUE(handles::mark(c, object(33)));  // a new object replaces the old one
    handles::sweep();
    EXPECT_EQ(released, std::vector<void*>{object(2)});
    EXPECT_TRUE(handles::slot(b).kind & handles::kSlotFree);
    EXPECT_EQ(handles::slot(c).object, object(33));
    EXPECT_FALSE(handles::slot(a).kind & handles::kSlotMarked);

    handles::mark(a, nullptr);
    handles::mark(c, nullptr);
    handles::sweep();  // everything in use was marked: nothing released
    EXPECT_EQ(released.size(), 1u);
    EXPECT_EQ(handles::alloc(object(4), kind), b);  // the freed slot is reused first
}

TEST_F(Handles, ReleaseFreeAndSetObject) {
    handles::release(0, object(9));             // kind 0: nothing to call
    handles::release(0x100 | kind, object(8));  // only the low byte names the kind
    EXPECT_EQ(released, std::vector<void*>{object(8)});

    int32_t a = handles::alloc(object(1), kind);
    handles::set_object(a, object(1));  // the same object: nothing released
    handles::set_object(a, object(2));
    EXPECT_EQ(released.back(), object(1));
    handles::free(a, true);
    EXPECT_EQ(released.back(), object(2));
    int32_t b = handles::alloc(object(5), kind);
    EXPECT_EQ(b, a);
    handles::free(b, false);
    EXPECT_EQ(released.size(), 3u);
}

TEST_F(Handles, ForEachVisitsTheSlotsOfOneKind) {
    int other = handles::register_kind("other", nullptr);
    handles::alloc(object(1), kind);
    handles::alloc(object(2), other);
    handles::alloc(object(3), kind);
    static std::vector<void*> seen;
    seen.clear();
    handles::for_each(kind, [](int, void* o) { seen.push_back(o); });
    EXPECT_EQ(seen, (std::vector<void*>{object(3), object(1)}));
    EXPECT_STREQ(handles::kind_name(other), "other");
}
