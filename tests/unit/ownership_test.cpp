// Ownership links (bind, unbind, check and the events it reports, the owned field of series) and the
// value-slot table.
#include <gtest/gtest.h>

#include <utility>

#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime/collector.h"
#include "runtime/value_slots.h"
#include "string_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

Cell w(const char* name) { return word::load(name); }

// An object holding the fields given. With `handled` it has a change-handler record (a stand-in: any
// node), so that the changes of what it owns are reported.
Cell object_with(std::initializer_list<std::pair<const char*, Cell>> fields, bool handled) {
    Cell object;
    keep(*object::make_at(&object, uint32_t(std::max<size_t>(fields.size(), 1))));
    for (const auto& [name, value] : fields) _context::set_or_add(object.context(), w(name), value);
    if (handled) object.set_handlers(ints({0}).node());
    return object;
}

// The owner and the field word of a series' entry.
struct Owner {
    Node context = 0;
    uint32_t word = 0;
};
Owner owner_of(const Cell& series) {
    BufPtr<Cell> entry = ownership::owned_q(series.node());
    return entry ? Owner{entry[0].context(), entry[1].symbol()} : Owner{};
}

bool flagged(const Cell& series) { return mem::buffer(series.node())->flags & kSeriesOwned; }

// What the change handler was told, in order.
struct Event {
    uint32_t action;
    Node owner, target;
    uint32_t word;
    int32_t index, count;
};
std::vector<Event> events;

void record(const Cell& owner, const Cell& word, const Cell& target, const Cell& action, const Cell&, int32_t index,
            int32_t count) {
    events.push_back({action.symbol(), owner.context(), target.node(), word.symbol(), index, count});
}

// Puts a handler in place for a test and gives back the one the run-time had (an object's), on which
// later tests rely.
class Recording {
public:
    explicit Recording(ownership::DeepChangeHandler handler = record)
        : before_(std::exchange(ownership::fire_on_deep, handler)) {
        events.clear();
    }
    ~Recording() { ownership::fire_on_deep = before_; }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

private:
    ownership::DeepChangeHandler before_;
};

uint32_t event_word(Word word) { return words::word(word).symbol(); }

uint32_t slot_count() { return mem::buffer(value_slots::table)->length(); }

}  // namespace

TEST(OwnershipBind, EverythingInsideABlockTakesTheOwnerOnce) {
    Cell inner = ints({2}), text = str("t");
    Cell b = block_of({int_cell(1), inner, text});
    block::rs_append(b, b);
    Cell owner = object_with({}, false);
    ownership::bind(b, owner, w("field"));
    EXPECT_EQ(cycles::depth(), 0u);
    for (const Cell& series : {b, inner, text}) {
        EXPECT_TRUE(flagged(series));
        EXPECT_EQ(owner_of(series).context, owner.context());
        EXPECT_EQ(owner_of(series).word, w("field").symbol());
    }
    // A series that has an owner keeps it.
    ownership::bind(inner, object_with({}, false), w("other"));
    EXPECT_EQ(owner_of(inner).context, owner.context());
}

TEST(OwnershipBind, AnObjectPassesTheOwnerOnWithItsFieldWords) {
    Cell list = ints({1}), text = str("t"), items = ints({2}), late = ints({3});
    Cell inner = object_with({{"items", items}}, false);
    Cell owner = object_with({{"list", list}, {"text", text}, {"inner", inner}}, true);
    ownership::bind_value(owner, owner, w("self"));
    EXPECT_TRUE(_context::context_cell(owner.context())->header & ownership::kOwnerFlag);
    struct Case {
        Cell series;
        const char* word;
    } cases[] = {{list, "list"}, {text, "text"}, {items, "items"}};
    for (const Case& c : cases) {
        EXPECT_EQ(owner_of(c.series).context, owner.context()) << c.word;
        EXPECT_EQ(owner_of(c.series).word, w(c.word).symbol()) << c.word;
    }
    // An object that bound its own fields is not walked again.
    _context::set_or_add(owner.context(), w("late"), late);
    ownership::bind(block_of({owner}), object_with({}, true), w("x"));
    EXPECT_FALSE(flagged(late));
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST(OwnershipUnbind, DropsTheEntriesOfEverythingInside) {
    Cell inner = ints({1}), text = str("s");
    Cell b = block_of({inner, text});
    block::rs_append(b, b);
    ownership::bind(b, object_with({}, true), w("field"));
    ownership::unbind(b);
    for (const Cell& series : {b, inner, text}) {
        EXPECT_FALSE(flagged(series));
        EXPECT_FALSE(ownership::owned_q(series.node()));
    }
    Cell first = ints({1}), second = ints({2});
    Cell pair = block_of({first, second});
    ownership::bind(pair, object_with({}, true), w("field"));
    ownership::unbind_range(pair.node(), 1, 1);
    EXPECT_TRUE(ownership::owned_q(first.node()));
    EXPECT_FALSE(ownership::owned_q(second.node()));
    EXPECT_TRUE(ownership::owned_q(pair.node()));
}

// Owned blocks nested a million deep, each bound on its own before it went into the one above it:
// unbinding the outermost reaches every one of them.
TEST(OwnershipUnbind, AMillionDeepChainOfOwnedBlocks) {
    constexpr int kDepth = 1000000;
    Cell outer = new_block(1), owner = object_with({}, false), field = w("field");
    {
        collector::HeldOff off;  // the newest block is held by a C++ local only until it is appended
        ownership::bind(outer, owner, field);
        Cell level = outer;
        for (int i = 1; i < kDepth; i++) {
            Cell inner;
            block::make_at(&inner, 1);
            ownership::bind(inner, owner, field);
            block::rs_append(level, inner);
            level = inner;
        }
    }
    ownership::unbind(outer);
    int depth = 1, still_owned = flagged(outer);
    for (Cell level = outer; series::rs_length_q(level) == 1; depth++) {
        level = *block::rs_abs_at(level, 0);
        still_owned += flagged(level);
    }
    EXPECT_EQ(depth, kDepth);
    EXPECT_EQ(still_owned, 0);
}

TEST(OwnershipCheck, NoEntryOrNoHandlersReportsNothing) {
    Recording recording;
    EXPECT_FALSE(ownership::check(ints({1}), Word::append, nullptr, 0, 1));
    Cell quiet = ints({1});
    ownership::bind(quiet, object_with({}, false), w("field"));
    EXPECT_FALSE(ownership::check(quiet, Word::append, nullptr, 0, 1));
    run(actions::append_s, {quiet, int_cell(2)});
    EXPECT_TRUE(events.empty());
}

TEST(OwnershipCheck, EachChangeIsReportedBeforeAndAfter) {
    Recording recording;
    Cell items = ints({1, 2});
    Cell owner = object_with({{"items", items}}, true);
    ownership::bind(items, owner, w("items"));
    // Each change runs on `items` at `head` with two more frame arguments (unread by some entries).
    struct Case {
        void (*entry)(const int32_t*);
        uint32_t head;
        Cell argument1, argument2;
        Word before, after;
        int32_t index, count;
        const char* whole;
    } cases[] = {
        {actions::append_s, 0, int_cell(3), none::value, Word::append, Word::appended, 2, 1, "[1 2 3]"},
        {actions::insert_s, 0, int_cell(0), none::value, Word::insert, Word::inserted, 0, 1, "[0 1 2 3]"},
        {actions::remove_s, 0, none::value, none::value, Word::remove, Word::removed, 0, 1, "[1 2 3]"},
        {actions::poke_s, 0, int_cell(1), int_cell(7), Word::poke, Word::poked, 0, 1, "[7 2 3]"},
        {actions::put_s, 0, int_cell(7), int_cell(5), Word::put, Word::put_ed, 1, 1, "[7 5 3]"},
        {actions::sort_s, 0, none::value, none::value, Word::sort, Word::sorted, 0, 3, "[3 5 7]"},
        {actions::change_s, 1, int_cell(4), none::value, Word::change, Word::changed, 1, 1, "[3 4 7]"},
        {actions::clear_s, 2, none::value, none::value, Word::clear, Word::cleared, 2, 1, "[3 4]"},
    };
    for (const Case& c : cases) {
        events.clear();
        run(c.entry, {at_head(items, c.head), c.argument1, c.argument2});
        EXPECT_EQ(mold(items), c.whole);
        ASSERT_EQ(events.size(), 2u) << c.whole;
        EXPECT_EQ(events[0].action, event_word(c.before)) << c.whole;
        EXPECT_EQ(events[1].action, event_word(c.after)) << c.whole;
        for (const Event& e : events) {
            EXPECT_EQ(e.owner, owner.context());
            EXPECT_EQ(e.target, items.node());
            EXPECT_EQ(e.word, w("items").symbol());
            EXPECT_EQ(e.index, c.index) << c.whole;
            EXPECT_EQ(e.count, c.count) << c.whole;
        }
    }
}

// A handler may change the series before the change it hears of (here it cuts the text to two units):
// the change of case then covers what is left from the head and writes nothing past the tail.
void cut_to_two(const Cell&, const Cell&, const Cell& target, const Cell&, const Cell&, int32_t, int32_t) {
    BufPtr<SeriesBuffer> b = mem::buffer(target.node());
    b->tail = b->offset + 2 * b->unit();
}

TEST(OwnershipCheck, AChangeOfCaseCoversWhatTheHandlerLeft) {
    Recording cutting(cut_to_two);
    auto owned_text = [] {
        Cell text = str("abcd");
        ownership::bind(text, object_with({{"text", text}}, true), w("text"));
        return text;
    };
    Cell whole = owned_text();
    case_folding::change_case(&whole, nullptr, true);
    EXPECT_EQ(utf8(whole), "AB");
    const uint8_t* units = mem::ptr(mem::buffer(whole.node())->offset);
    EXPECT_EQ(std::string(units + 2, units + 4), "cd");  // past the tail, as it was
    Cell past_the_cut = at_head(owned_text(), 3);
    case_folding::change_case(&past_the_cut, nullptr, true);
    EXPECT_EQ(past_the_cut.head(), 2u);  // the head, clamped to the new tail
}

TEST(OwnershipReflect, TheOwnedFieldOfASeries) {
    Cell b = ints({1});
    Cell owner = object_with({}, false);
    EXPECT_TRUE(run(actions::reflect_s, {b, w("owned")}).is(Type::None));
    run(actions::modify_s, {b, w("Owned"), block_of({owner, w("field")})});
    Cell reflected = run(actions::reflect_s, {b, w("OWNED")});
    ASSERT_EQ(block::rs_length_q(reflected), 2u);
    EXPECT_EQ(block::rs_abs_at(reflected, 0)->context(), owner.context());
    EXPECT_EQ(block::rs_abs_at(reflected, 1)->symbol(), w("field").symbol());
    run(actions::modify_s, {b, w("owned"), none::value});
    EXPECT_TRUE(run(actions::reflect_s, {b, w("owned")}).is(Type::None));
    EXPECT_EQ(error_of([&] { run(actions::reflect_s, {b, w("other")}); }), Err::internal_not_done);
    EXPECT_EQ(error_of([&] { run(actions::modify_s, {b, w("owned"), int_cell(1)}); }), Err::script_invalid_arg);
}

TEST(ValueSlots, StoreDoublesWhenFullAndReleasedSlotsComeBackFirst) {
    value_slots::init();  // a table of its own
    for (uint32_t i = 1; i <= value_slots::kInitialSlots; i++) ASSERT_EQ(value_slots::store(int_cell(int32_t(i))), i);
    EXPECT_EQ(slot_count(), 100u);
    EXPECT_EQ(value_slots::store(str("x")), 101u);
    EXPECT_EQ(slot_count(), 200u);
    EXPECT_EQ(integer::get(*value_slots::get(100)), 100);
    EXPECT_EQ(utf8(*value_slots::get(101)), "x");
    value_slots::release(0);
    EXPECT_EQ(value_slots::store(int_cell(0)), 102u);
    value_slots::release(5);
    value_slots::release(7);
    EXPECT_EQ(value_slots::store(int_cell(0)), 7u);
    EXPECT_EQ(value_slots::store(int_cell(0)), 5u);
    EXPECT_EQ(value_slots::store(int_cell(0)), 103u);
}
