// The collector: what it reclaims and keeps, compaction and the predecessor frame, node frames, handles,
// the ownership table held weakly, marking without recursion, and the heap check.
#include "runtime/collector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/object.h"
#include "runtime/handles.h"
#include "runtime/hashtable.h"
#include "runtime/stats.h"
#include "string_testing.h"

namespace oka {
namespace {

using test::int_cell;
using test::keep;

SeriesFrame* series_frame(Addr frame) { return mem::ptr<SeriesFrame>(frame); }

// The series frame whose payload holds the address, 0 when none does.
Addr frame_of(Addr address) {
    for (Addr f = alloc::memory.series_frames_head; f; f = series_frame(f)->next)
        if (address >= series_frame(f)->payload_start() && address < series_frame(f)->end) return f;
    return 0;
}

bool listed(Addr frame, Addr head, Addr (*next)(Addr)) {
    for (Addr f = head; f; f = next(f))
        if (f == frame) return true;
    return false;
}
Addr next_series_frame(Addr f) { return series_frame(f)->next; }
Addr next_node_frame(Addr f) { return mem::ptr<NodeFrame>(f)->next; }

Cell binary(Node node) { return Cell::of(Type::Binary).set_node(node); }

// Switches the stress mode off for the life of the scope: these checks are about where ordinary
// cycles put buffers.
class NoStress {
public:
    NoStress() { collector::stress_interval = 0; }
    ~NoStress() { collector::stress_interval = saved_; }
    NoStress(const NoStress&) = delete;
    NoStress& operator=(const NoStress&) = delete;

private:
    uint32_t saved_ = collector::stress_interval;
};

// Runs `check` in a child process, where frames may be reshaped freely; the exit status says whether
// every check held.
template <class F>
void in_child(F check) {
    EXPECT_EXIT(std::exit(check() ? 0 : 1), testing::ExitedWithCode(0), "");
}

// Leaves the frame `room` bytes past its heap: it ends there, as if made that small.
void cut_frame(Addr frame, uint32_t room) {
    series_frame(frame)->end = series_frame(frame)->heap + room;
    series_frame(frame)->size = series_frame(frame)->end - frame;
}

// The frame tests' setting: no cycles but theirs, plain ones, and every frame there is compacted and
// then left without room, so that what a test carves goes to frames it makes.
struct OwnFrames {
    NoStress plain;
    collector::HeldOff off;
    OwnFrames() {
        collector::do_cycle();
        for (Addr f = alloc::memory.series_frames_head; f; f = series_frame(f)->next) cut_frame(f, 0);
    }
};

// A string! of the text, on the data stack.
Cell* push_text(const std::string& text) {
    return string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), unicode::kUtf8);
}

}  // namespace

TEST(Collector, UnreachableSeriesAreReclaimed) {
    collector::do_cycle();
    double live = stats::memory_in_use();
    {
        collector::HeldOff off;
        for (int i = 0; i < 200; i++) alloc::alloc_bytes(1000);
    }
    EXPECT_GT(stats::memory_in_use(), live + 200 * 1000);
    uint32_t cycles = collector::cycles;
    EXPECT_EQ(collector::do_cycle(), cycles + 1);
    EXPECT_EQ(stats::memory_in_use(), live);
    collector::do_cycle();
    EXPECT_EQ(stats::memory_in_use(), live);
}

TEST(Collector, OffMeansNoCycle) {
    collector::HeldOff off;
    uint32_t cycles = collector::cycles;
    alloc::alloc_bytes(1000);
    double in_use = stats::memory_in_use();
    collector::do_cycle_if_on();
    EXPECT_EQ(collector::cycles, cycles);
    EXPECT_EQ(stats::memory_in_use(), in_use);
}

// Garbage before and between the values makes every one of them move; the strings and the inner
// blocks move with the outer block, and all of it reads as before.
TEST(Collector, ReachableValuesMoveIntact) {
    collector::do_cycle();
    alloc::memory.active_series_frame = alloc::alloc_series_frame();  // room for all of it
    alloc::alloc_bytes(5000);
    Cell outer = keep(*block::push_only_s(4));
    std::string expected = "[";
    for (int i = 0; i < 50; i++) {
        alloc::alloc_bytes(300);
        std::string text = "item-" + std::to_string(i);
        block::rs_append(outer, *push_text(text));
        Cell* inner = block::push_only_s(2);
        block::rs_append(*inner, test::int_cell(i));
        block::rs_append(*inner, *push_text("x"));
        block::rs_append(outer, *inner);
        stack::pop(3);
        expected += (i ? " \"" : "\"") + text + "\" [" + std::to_string(i) + " \"x\"]";
    }
    expected += "]";
    Node first_text = block::rs_abs_at(outer, 0)->node();
    Node last_inner = block::rs_abs_at(outer, 99)->node();
    Addr buffers[] = {mem::buffer_addr(outer.node()), mem::buffer_addr(first_text), mem::buffer_addr(last_inner)};
    collector::do_cycle();
    EXPECT_NE(mem::buffer_addr(outer.node()), buffers[0]);
    EXPECT_NE(mem::buffer_addr(first_text), buffers[1]);
    EXPECT_NE(mem::buffer_addr(last_inner), buffers[2]);
    EXPECT_EQ(test::mold(outer), expected);
}

TEST(Collector, EmptiedNodeFrameIsReleased) {
    Addr frame = 0;
    {
        collector::HeldOff off;
        Addr last = alloc::memory.node_frames_tail;
        while (!frame || mem::ptr<NodeFrame>(frame)->used < kNodeFrameSlots) {
            alloc::alloc_bytes(16);
            if (alloc::memory.node_frames_tail != last) frame = alloc::memory.node_frames_tail;
        }
    }
    collector::do_cycle();
    EXPECT_FALSE(listed(frame, alloc::memory.node_frames_head, next_node_frame));
}

TEST(Collector, HandlesOfUnreachableValuesAreReleasedOnce) {
    static std::vector<void*> released;
    released.clear();
    int kind = handles::register_kind("collector-test", [](void* object) { released.push_back(object); });
    void* object = &released;
    Cell handle = Cell::of(Type::Handle).set_slot(handles::alloc(object, kind));
    {
        stack::Root held(handle);
        collector::do_cycle();
        EXPECT_TRUE(released.empty());
    }
    collector::do_cycle();
    collector::do_cycle();
    EXPECT_EQ(released, std::vector<void*>{object});
}

// The records of series or owners that nothing else keeps go; the table keeps nothing alive itself.
TEST(Collector, OwnershipTableIsHeldWeakly) {
    Node table = collector::ownership_table;
    ASSERT_NE(table, 0u);
    collector::do_cycle();  // the records that tests before this one left to die go first
    Cell owned = test::ints({1}), orphaned = test::ints({2});
    Cell owner;
    keep(*object::make_at(&owner, 1));
    Cell* dead_owner = object::make_at(stack::push(none::value), 1);  // alive until the records are made
    Cell* dead = block::push_only_s(1);
    auto put = [&](Node key, const Cell& by) {
        BufPtr<Cell> entry = hashtable::put_block_key(table, key);
        entry[0] = Cell::of(Type::Block).set_node(key);
        entry[1] = by;
        alloc::set_series_flag(key, kSeriesOwned);
    };
    put(owned.node(), owner);
    put(dead->node(), owner);
    put(orphaned.node(), *dead_owner);
    Node dead_key = dead->node();
    stack::pop(2);
    uint32_t count = hashtable::record(table)->count;
    collector::do_cycle();
    EXPECT_TRUE(hashtable::get(table, owned.node()));
    EXPECT_FALSE(hashtable::get(table, dead_key));
    EXPECT_FALSE(hashtable::get(table, orphaned.node()));
    EXPECT_EQ(hashtable::record(table)->count, count - 2);
    EXPECT_FALSE(mem::buffer(orphaned.node())->flags & kSeriesOwned);
}

// Marking walks a work stack of its own: a block nested a million levels deep reaches no C++
// recursion.
TEST(Collector, MillionDeepNestedBlockIsMarked) {
    constexpr int kDepth = 1000000;
    Cell* outer = block::push_only_s(1);
    {
        collector::HeldOff off;
        for (int i = 1; i < kDepth; i++) {
            Node wrapper = alloc::alloc_cells(1);
            *alloc::alloc_tail_cell(wrapper) = *outer;
            outer->set_node(wrapper);
        }
    }
    collector::do_cycle();
    int depth = 1;
    for (Cell level = *outer; series::rs_length_q(level) == 1; depth++) level = *block::rs_abs_at(level, 0);
    EXPECT_EQ(depth, kDepth);
    stack::pop(1);
}

// A frame's live runs go to the frame below it only while that one has more room than the allocator
// passes over (0xCCCC bytes). The test makes frames until two of them are neighbours.
TEST(CollectorFrames, PredecessorTakesRunsOnlyAboveTheThreshold) {
    for (uint32_t room : {kMinFrameRoom, kMinFrameRoom + 1}) {
        in_child([room] {
            OwnFrames own;
            std::vector<Addr> made;
            Addr below = 0, above = 0;
            while (!above) {
                Addr frame = alloc::alloc_series_frame();
                Addr previous = series_frame(frame)->prev;
                if (std::find(made.begin(), made.end(), previous) != made.end()) below = previous, above = frame;
                made.push_back(frame);
            }
            alloc::memory.active_series_frame = below;
            Node kept_below = stack::push(binary(alloc::alloc_bytes(1000)))->node();
            cut_frame(below, room);
            alloc::memory.active_series_frame = above;
            alloc::alloc_bytes(1000);  // garbage: the live buffer behind it can slide
            Node moving = stack::push(binary(alloc::alloc_bytes(100)))->node();
            collector::do_cycle();
            bool kept = frame_of(mem::buffer_addr(kept_below)) == below;
            Addr expected = room > kMinFrameRoom ? below : above;
            return kept && frame_of(mem::buffer_addr(moving)) == expected;
        });
    }
}

TEST(CollectorFrames, AFrameOfDeadBuffersIsReleasedUnlessLast) {
    in_child([] {
        OwnFrames own;
        Addr dead = alloc::alloc_series_frame();
        while (!series_frame(dead)->next) alloc::alloc_series_frame();
        alloc::memory.active_series_frame = dead;
        for (int i = 0; i < 10; i++) alloc::alloc_bytes(1000);
        Addr last = alloc::memory.series_frames_tail;
        collector::do_cycle();
        return !listed(dead, alloc::memory.series_frames_head, next_series_frame) &&
               listed(last, alloc::memory.series_frames_head, next_series_frame);
    });
}

// ---- pacing ----

// A cycle starts at the allocation that would take the bytes carved since the last one past the
// threshold, not before; a big block counts by its size as a buffer carved from a frame does.
TEST(CollectorPacing, ACycleRunsOnceTheAllocatedBytesPassTheThreshold) {
    NoStress plain;
    for (uint32_t size : {1000u, 3 * kMaxFrameSize / 2}) {  // from a frame; a big block of its own
        collector::do_cycle();
        uint32_t cycles = collector::cycles;
        alloc::alloc_bytes(size);
        uint64_t footprint = collector::allocated;
        EXPECT_GE(footprint, size);
        for (uint64_t carved = footprint; carved + footprint <= collector::threshold; carved += footprint)
            alloc::alloc_bytes(size);
        EXPECT_EQ(collector::cycles, cycles) << size;
        alloc::alloc_bytes(size);
        EXPECT_EQ(collector::cycles, cycles + 1) << size;
        EXPECT_EQ(collector::allocated, footprint) << size;
    }
}

// A live heap far above the floor lets as many bytes be carved before the next cycle, and the frames
// made from then on grow with it; once it is dead, the threshold comes back down.
TEST(CollectorPacing, TheThresholdFollowsTheLiveHeap) {
    NoStress plain;
    collector::do_cycle();
    uint64_t small = collector::threshold;
    constexpr uint32_t kLive = 40 << 20, kPiece = 1 << 20;
    Cell* held = block::push_only_s(kLive / kPiece);
    for (uint32_t i = 0; i < kLive / kPiece; i++) block::rs_append(*held, binary(alloc::alloc_bytes(kPiece)));
    collector::do_cycle();
    EXPECT_GE(collector::threshold, kLive);
    EXPECT_GE(alloc::memory.next_frame_size, kLive / kLiveHeapPerFrame);
    uint32_t cycles = collector::cycles;
    for (uint32_t carved = 0; carved < 2 * collector::kThresholdFloor; carved += kPiece) alloc::alloc_bytes(kPiece);
    EXPECT_EQ(collector::cycles, cycles);
    stack::pop(1);
    collector::do_cycle();
    EXPECT_LT(collector::threshold, small + kPiece);
}

// ---- the heap check ----

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%#x", value);
    return text;
}

SeriesBuffer* buffer_of(Node node) { return mem::ptr<SeriesBuffer>(mem::buffer_addr(node)); }

// Whether one line of the report holds every piece.
bool reported(const std::vector<std::string>& faults, const std::vector<std::string>& pieces) {
    return std::any_of(faults.begin(), faults.end(), [&](const std::string& fault) {
        return std::all_of(pieces.begin(), pieces.end(),
                           [&](const std::string& piece) { return fault.find(piece) != std::string::npos; });
    });
}

std::string lines(const std::vector<std::string>& faults) {
    std::string out;
    for (const std::string& fault : faults) out += "  " + fault + "\n";
    return out;
}

const std::vector<std::string> kSound;

TEST(CollectorVerify, ReportsEachDamageToOneWordOfTheHeap) {
    Cell text = test::str("abc");
    Cell block = test::block_of({text, int_cell(4)});
    Cell values = test::ints({1, 2, 3});
    Node table =
        keep(Cell::of(Type::Hash).set_node(values.node()).set_table(hashtable::init(3, &values, hashtable::kValues)))
            .table();
    ASSERT_EQ(collector::heap_faults(collector::Moment::AtRest), kSound);

    // Nothing below allocates: the buffers stay where they are.
    Node free_node = 0;
    for (Addr f = alloc::memory.node_frames_head; f && !free_node; f = next_node_frame(f))
        free_node = mem::ptr<NodeFrame>(f)->free;
    ASSERT_NE(free_node, 0u);
    SeriesBuffer* text_buffer = buffer_of(text.node());
    Cell* cells = mem::ptr<Cell>(buffer_of(block.node())->offset);
    struct Damage {
        const char* what;
        Addr at;         // the word damaged
        uint32_t value;  // what it is given
        std::vector<std::string> says;
    } damages[] = {
        {"a node names another series' buffer",
         text.node(),
         mem::buffer_addr(values.node()),
         {"names node " + hex(text.node()) + ", whose slot names " + hex(mem::buffer_addr(values.node()))}},
        {"a tail past the capacity",
         mem::addr(&text_buffer->tail),
         text_buffer->data_end() + 16,
         {"tail " + hex(text_buffer->data_end() + 16) + " lies past its capacity"}},
        {"a cell of poison",
         mem::addr(&cells[1].header),
         0xEBEBEBEB,
         {"cell 1 of node " + hex(block.node()), "type id 235 is no type"}},
        {"a live block names a free node",
         mem::addr(&cells[0]) + 4 * payload::kFieldWords[uint8_t(Field::node)],
         free_node,
         {"cell 0 of node " + hex(block.node()),
          "names node " + hex(free_node) + ", which is on its frame's free list"}},
        {"a free list runs in a circle", free_node, free_node, {"its free list runs in a circle at " + hex(free_node)}},
        {"a table indexes cells its block no longer has",
         mem::addr(&buffer_of(values.node())->tail),
         buffer_of(values.node())->offset,
         {"hash table " + hex(table), "names a position past the values"}},
    };
    for (const Damage& d : damages) {
        uint32_t& word = *mem::ptr<uint32_t>(d.at);
        uint32_t sound = word;
        word = d.value;
        std::vector<std::string> faults = collector::heap_faults(collector::Moment::AtRest);
        word = sound;
        EXPECT_TRUE(reported(faults, d.says)) << d.what << ": expected \"" << d.says.back() << "\" in\n"
                                              << lines(faults);
    }
    EXPECT_EQ(collector::heap_faults(collector::Moment::AtRest), kSound);
}

// At rest the stacks are empty; while an allocation is in flight they may hold anything well linked.
TEST(CollectorVerify, AtRestTheStacksAreEmpty) {
    stack::push(int_cell(1));
    EXPECT_TRUE(reported(collector::heap_faults(collector::Moment::AtRest), {"the data stack holds 1 cells"}));
    EXPECT_EQ(collector::heap_faults(collector::Moment::InFlight), kSound);
    stack::pop(1);
}

TEST(CollectorVerifyDeathTest, EndsTheProcessWithTheReport) {
    Cell block = test::block_of({int_cell(1)});
    Cell* cell = mem::ptr<Cell>(buffer_of(block.node())->offset);
    EXPECT_EXIT(
        {
            cell->header = 0xEBEBEBEB;
            collector::verify(collector::Moment::AtRest);
        },
        testing::ExitedWithCode(98), "type id 235 is no type(.|\n)*assertion failed");
}

}  // namespace oka
