/* Refinements by name: how natives and the actions' stack entry points read the refinements of a call.

   A call hands its native or stack entry point one position per refinement, in the order the owner's
   spec text lists them (evaluator/natives.h). Refinements<Owner> is a view over those positions that
   names each refinement as the spec text spells it, without its slash:

       Refinements<natives::do_slot> refinements(positions);
       if (refinements.given("next")) ...
       Cell* with = Refinements<Act::find>(positions).arg("with");

   Rules: a name is looked up while compiling, in the spec text of evaluator/natives.def for a native
   (the owner is its natives::Slot) or the argument list of runtime/actions.def for an action (its Act);
   a name the owner does not have does not build. A refinement's index counts the refinements at the top
   level of the text only: words inside a nested block (a type list, a callback's own spec) or a doc
   string are not the owner's. A read costs what reading the position array by a constant index costs. */
#pragma once

#include <string_view>

#include "evaluator/natives.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka {

namespace refinement_lookup {

// What ends a word of spec text.
inline constexpr std::string_view kSeparators = " \t\n[]";

// The index of the refinement spelt `name` among the refinements at the top level of `spec` (spec text
// without its outer brackets), -1 when it has none of that name. Doc strings are "quoted", with no quote
// inside.
constexpr int index_of(std::string_view spec, std::string_view name) {
    int depth = 0, index = 0;
    for (size_t i = 0; i < spec.size();) {
        if (spec[i] == '"') {
            size_t close = spec.find('"', i + 1);
            i = close == std::string_view::npos ? spec.size() : close + 1;
            continue;
        }
        if (kSeparators.find(spec[i]) != std::string_view::npos) {
            depth += spec[i] == '[' ? 1 : spec[i] == ']' ? -1 : 0;
            i++;
            continue;
        }
        std::string_view word = spec.substr(i, spec.find_first_of(kSeparators, i) - i);
        if (depth == 0 && word.starts_with('/')) {
            if (word.substr(1) == name) return index;
            index++;
        }
        i += word.size();
    }
    return -1;
}

constexpr std::string_view spec_text(natives::Slot slot) {
    std::string_view text = natives::kSpecs[slot - 1];
    return text.substr(1, text.size() - 2);
}
constexpr std::string_view spec_text(Act action) { return kActionArguments[int(action) - 1]; }

// Called only while compiling, for a name that is not one of the owner's refinements: it is not
// constexpr, so the lookup fails to compile there.
inline void unknown_refinement() {}

}  // namespace refinement_lookup

// A refinement of Owner, by name; made from a string literal while compiling.
template <auto Owner>
struct RefinementName {
    int index;

    // Not explicit: a call site writes the bare literal, as in given("next").
    consteval RefinementName(const char* name)
        : index(refinement_lookup::index_of(refinement_lookup::spec_text(Owner), name)) {
        if (index < 0) refinement_lookup::unknown_refinement();
    }
};

template <auto Owner>
class Refinements {
public:
    explicit Refinements(const int32_t* positions) : positions_(positions) {}

    bool given(RefinementName<Owner> name) const { return positions_[name.index] >= 0; }
    // The frame position of the refinement's first argument, -1 when the call does not name it.
    int32_t position(RefinementName<Owner> name) const { return positions_[name.index]; }
    // The frame cell of the refinement's first argument, null when the call does not name it.
    Cell* arg(RefinementName<Owner> name) const {
        int32_t at = position(name);
        return at < 0 ? nullptr : stack::arguments() + at;
    }

private:
    const int32_t* positions_;
};

}  // namespace oka
