// The static facts of runtime/types.def: the classes hold the types they should, agree with the layouts
// and the parents, and the layout says which payload words the collector keeps alive.
#include "runtime/types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "runtime/collector.h"
#include "runtime/registry.h"
#include "runtime/stats.h"
#include "test_support.h"

namespace oka {
namespace {

// Whether the ancestor is on the type's chain of parents (Void ends every chain that does not loop).
bool descends_from(Type type, Type ancestor) {
    for (int steps = 0; steps <= kTypeCount; steps++, type = type_parent(type))
        if (type == ancestor) return true;
    return false;
}

bool subset(TypeMask part, TypeMask whole) { return (part & ~whole) == 0; }

}  // namespace

TEST(TypeFacts, ClassesHoldTheirTypes) {
    using T = Type;
    struct Case {
        TypeClass c;
        std::vector<Type> types;
    } cases[] = {
        {TypeClass::any_word, {T::Word, T::SetWord, T::LitWord, T::GetWord}},
        {TypeClass::all_word, {T::Word, T::SetWord, T::LitWord, T::GetWord, T::Refinement, T::Issue}},
        {TypeClass::any_path, {T::Path, T::LitPath, T::SetPath, T::GetPath}},
        {TypeClass::any_list, {T::Block, T::Paren, T::Hash}},
        {TypeClass::any_block, {T::Block, T::Paren, T::Hash, T::Path, T::LitPath, T::SetPath, T::GetPath}},
        {TypeClass::any_string, {T::String, T::File, T::Url, T::Tag, T::Email, T::Ref}},
        {TypeClass::series,
         {T::Block, T::Paren, T::Hash, T::Path, T::LitPath, T::SetPath, T::GetPath, T::String, T::File, T::Url, T::Tag,
          T::Email, T::Ref, T::Binary, T::Vector, T::Image}},
        {TypeClass::any_function, {T::Native, T::Action, T::Op, T::Function, T::Routine}},
        {TypeClass::any_object, {T::Object, T::Error, T::Port}},
        {TypeClass::number, {T::Integer, T::Float, T::Percent}},
        {TypeClass::amount, {T::Integer, T::Char, T::Float, T::Percent, T::Time}},
    };
    ASSERT_EQ(std::size(cases), size_t(kTypeClassCount));
    for (const Case& k : cases) {
        TypeMask expected = 0;
        for (Type t : k.types) expected |= type_mask({t});
        EXPECT_EQ(class_mask(k.c), expected) << int(k.c);
        for (int id = 0; id < kTypeTableSize; id++) EXPECT_EQ(is_a(Type(id), k.c), bool(expected >> id & 1)) << id;
    }
}

// The classes nest as the typesets built from them do; each member of a class has a layout its routines
// read and inherits its actions from the class's root type (Void: every chain ends there).
TEST(TypeFacts, ClassesAgreeWithLayoutsAndParents) {
    EXPECT_TRUE(subset(class_mask(TypeClass::any_word), class_mask(TypeClass::all_word)));
    EXPECT_EQ(class_mask(TypeClass::any_list) | class_mask(TypeClass::any_path), class_mask(TypeClass::any_block));
    EXPECT_TRUE(
        subset(class_mask(TypeClass::any_block) | class_mask(TypeClass::any_string), class_mask(TypeClass::series)));
    EXPECT_TRUE(subset(class_mask(TypeClass::number), class_mask(TypeClass::amount)));
    using L = Layout;
    struct Rule {
        TypeClass c;
        std::vector<Layout> layouts;
        Type root;
    } rules[] = {
        {TypeClass::any_word, {L::word}, Type::Word},
        {TypeClass::all_word, {L::word, L::issue}, Type::Word},
        {TypeClass::any_path, {L::cells}, Type::Path},
        {TypeClass::any_list, {L::cells, L::hash}, Type::Block},
        {TypeClass::any_block, {L::cells, L::hash}, Type::Block},
        {TypeClass::any_string, {L::text}, Type::String},
        {TypeClass::series, {L::cells, L::hash, L::text, L::bytes, L::vector, L::image}, Type::Series},
        {TypeClass::any_function, {L::native, L::op, L::function}, Type::Void},
        {TypeClass::any_object, {L::object}, Type::Object},
        {TypeClass::number, {L::integer, L::float_}, Type::Void},
        {TypeClass::amount, {L::integer, L::char_, L::float_}, Type::Void},
    };
    ASSERT_EQ(std::size(rules), size_t(kTypeClassCount));
    for (const Rule& r : rules) {
        for (int id = 1; id <= kTypeCount; id++) {
            if (!is_a(Type(id), r.c)) continue;
            bool allowed = std::find(r.layouts.begin(), r.layouts.end(), type_layout(Type(id))) != r.layouts.end();
            EXPECT_TRUE(allowed) << "the layout of type " << id;
            EXPECT_TRUE(descends_from(Type(id), r.root)) << id;
        }
    }
    EXPECT_EQ(type_layout(Type(kBoundedStringType)), Layout::bounded_text);
    for (int c = 0; c < kTypeClassCount; c++) EXPECT_FALSE(is_a(Type(kBoundedStringType), TypeClass(c))) << c;
}

// Every parent chain ends, and start-up registered every parent of a registered type.
TEST(TypeFacts, ParentsEndAndAreRegistered) {
    for (int id = 1; id <= kTypeCount; id++) {
        Type t = Type(id);
        EXPECT_TRUE(descends_from(t, Type::Void)) << "the parents of type " << id << " form a loop";
        bool parent_registered = type_parent(t) == Type::Void || datatype::registered_q(type_parent(t));
        EXPECT_TRUE(parent_registered || !datatype::registered_q(t)) << id;
    }
}

// A cell of each layout, kept alive, naming a buffer of its own size in each payload word: after a
// collection exactly the buffers its layout names are still in use.
TEST(TypeFacts, LayoutSaysWhichPayloadWordsTheCollectorKeeps) {
    constexpr uint32_t kOpOfNative = uint32_t(Type::Native) << 16, kOpOfFunction = uint32_t(Type::Function) << 16;
    struct Case {
        uint32_t header;
        bool kept[3];  // payload words 1 to 3
    } cases[] = {
        {uint32_t(Type::Integer), {false, false, false}},
        {uint32_t(Type::Issue), {false, false, false}},
        {uint32_t(Type::Block), {false, true, false}},
        {uint32_t(Type::GetPath), {false, true, false}},
        {uint32_t(Type::Url), {false, true, true}},
        {kBoundedStringType, {false, true, false}},
        {uint32_t(Type::Binary), {false, true, false}},
        {uint32_t(Type::Symbol), {false, true, true}},
        {uint32_t(Type::Refinement), {true, false, false}},
        {uint32_t(Type::Action), {false, true, true}},
        {uint32_t(Type::Op) | kOpOfNative, {false, true, true}},
        {uint32_t(Type::Op) | kOpOfFunction, {true, true, true}},
        {uint32_t(Type::Routine), {true, true, true}},
        {uint32_t(Type::Error), {true, false, true}},
        {uint32_t(Type::Event), {false, false, false}},
        {uint32_t(Type::Event) | kEventHoldsSeries, {false, true, false}},
        {uint32_t(Type::Vector), {false, true, false}},
        {uint32_t(Type::Date), {false, false, false}},
        {uint32_t(Type::Money), {false, false, false}},
        {uint32_t(Type::Typeset), {false, false, false}},
        {kRecordType, {false, false, false}},
    };
    constexpr uint32_t kSizes[3] = {1000, 3000, 9000};
    // The cells name buffers of bytes wherever they hold a node, which no real value does.
    struct Unverified {
        bool was = std::exchange(collector::verify_cycles, false);
        ~Unverified() { collector::verify_cycles = was; }
    } unverified;
    for (const Case& k : cases) {
        Cell* saved = stack::top;
        Cell* holder = block::push_only_s(1);
        block::rs_append(*holder, Cell{k.header, 0, 0, 0});
        collector::do_cycle();
        double live = stats::memory_in_use(), expected = live;
        {
            collector::HeldOff off;
            Node nodes[3];
            for (int w = 0; w < 3; w++) {
                double before = stats::memory_in_use();
                nodes[w] = alloc::alloc_bytes(kSizes[w]);
                if (k.kept[w]) expected += stats::memory_in_use() - before;
            }
            *block::rs_abs_at(*holder, 0) = Cell{k.header, nodes[0], nodes[1], nodes[2]};
        }
        collector::do_cycle();
        EXPECT_EQ(stats::memory_in_use(), expected) << "header " << k.header;
        *block::rs_abs_at(*holder, 0) = Cell::of(Type::None);  // the check reads garbage too
        stack::top = saved;
    }
}

// The accessors read back what they wrote, a field of several words included, and leave the words of
// the other fields alone.
TEST(PayloadFields, ReadBackWhatTheyWrite) {
    Cell date = Cell::of(Type::Date).set_date_word(0x12345678).set_time_slot(-1.5);
    EXPECT_EQ(date.date_word(), 0x12345678u);
    EXPECT_EQ(date.time_slot(), -1.5);
    Cell typeset = Cell::of(Type::Typeset).set_type_bits({1, 0x80000000u, 7});
    EXPECT_EQ(typeset.low_type_bits(), 0x8000000000000001u);  // words 1 and 2, read as one
    EXPECT_EQ(typeset.type_bits()[2], 7u);
    Cell hash = Cell::of(Type::Hash).set_head(3).set_node(0x40).set_table(0x80);
    EXPECT_EQ(hash.head(), 3u);
    EXPECT_EQ(hash.node(), 0x40u);
    EXPECT_EQ(hash.table(), 0x80u);
    Cell word = Cell::of(Type::Word).set_position(-1);
    EXPECT_EQ(word.position(), -1);
    EXPECT_EQ(Cell::of(Type::Point3D).set_coordinates({1.5f, -2, 3}).coordinates(), (Float32x3{1.5f, -2, 3}));
    EXPECT_EQ(Cell::of(Type::Vector).set_element_type(Type::Percent).element_type(), Type::Percent);
    EXPECT_TRUE(Cell::of(Type::Logic).set_truth(true).truth());
    // A char! is read as an integer by the integer actions it inherits.
    EXPECT_EQ(Cell::of(Type::Char).set_code_point(0x263A).int32(), 0x263A);
}

#if OKA_CHECKS
// A field read or written in a cell whose layout lacks it ends the check build, naming the place.
TEST(PayloadFields, TheCheckBuildRefusesAFieldTheLayoutLacks) {
    Cell integer = Cell::of(Type::Integer).set_int32(5);
    EXPECT_EXIT((void)integer.head(), testing::ExitedWithCode(98),
                "types_test.cpp:[0-9]+: a cell of type 11 has no payload field head");
    EXPECT_EXIT(integer.set_f64(1.0), testing::ExitedWithCode(98), "has no payload field f64");
    Cell vacant{};  // a cell of no type, as a map's removed value
    EXPECT_EXIT((void)vacant.node(), testing::ExitedWithCode(98), "a cell of type 0 has no payload field node");
}
#endif

}  // namespace oka
