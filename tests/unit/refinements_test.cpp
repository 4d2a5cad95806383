// Refinements by name: the index a name finds in the spec text of a native or an action.
#include <gtest/gtest.h>

#include "evaluator/refinements.h"

using namespace oka;

TEST(Refinements, IndexAmongTheOwnersRefinements) {
    struct Case {
        int index;
        int expected;
    } cases[] = {
        {RefinementName<natives::do_slot>("expand").index, 0},
        {RefinementName<natives::do_slot>("next").index, 2},          // after /args and its argument
        {RefinementName<natives::do_slot>("trace").index, 3},         // its callback's spec is a nested block
        {RefinementName<natives::set_slot>("some").index, 3},         // return: is no refinement
        {RefinementName<natives::parse_slot>("trace").index, 2},      // after /part length [number! series!]
        {RefinementName<natives::transcode_slot>("trace").index, 6},  // two nested callback specs
        {RefinementName<natives::call_slot>("error").index, 6},       // after refinements with arguments
        {RefinementName<Act::find>("match").index, 10},               // arguments lie between refinements
        {RefinementName<Act::round>("half-ceiling").index, 6},        // a hyphenated name
        {RefinementName<Act::write>("as").index, 7},                  // two mandatory arguments first
    };
    for (const Case& c : cases) EXPECT_EQ(c.index, c.expected) << c.expected;
}

TEST(Refinements, NamesInsideNestedBlocksOrDocStringsAreNotTheOwners) {
    using refinement_lookup::index_of;
    constexpr std::string_view spec = R"("Doc, /quoted." value [any-type! /next] "Not /doc." /expand )"
                                      R"(callback [function! [x /inner]] /next "After /expand.")";
    struct Case {
        std::string_view name;
        int expected;
    } cases[] = {
        {"expand", 0},    {"next", 1}, {"inner", -1},   {"value", -1},
        {"callback", -1}, {"nex", -1}, {"quoted.", -1}, {"doc", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(index_of(spec, c.name), c.expected) << c.name;
}
