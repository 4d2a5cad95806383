#include "evaluator/natives.h"

#include <iterator>

#include "runtime/error.h"

namespace oka::natives {

namespace {

// The entry of a slot past the table's natives.
void not_available_s(const int32_t*) { fire(Err::internal_feature_na); }

// Each family's entry points are defined where the subsystem that serves them lives: the text, file and
// system natives with the services (enbase and debase with binary!'s codecs), the others here in the
// evaluator (natives_<family>.cpp; the constructors of pair!, point2D!, point3D! and money! with the
// math).
#define OKA_FAMILY_control(Name) &Name##_s
#define OKA_FAMILY_evaluation(Name) &Name##_s
#define OKA_FAMILY_printing(Name) &Name##_s
#define OKA_FAMILY_compare(Name) &Name##_s
#define OKA_FAMILY_sets(Name) &Name##_s
#define OKA_FAMILY_math(Name) &Name##_s
#define OKA_FAMILY_math_extended(Name) &Name##_s
#define OKA_FAMILY_text(Name) &Name##_s
#define OKA_FAMILY_system(Name) &Name##_s
#define OKA_FAMILY_files(Name) &Name##_s
#define OKA_FAMILY_parse(Name) &Name##_s
#define OKA_FAMILY_memory(Name) &Name##_s

struct Native {
    Entry entry;
    const char* word;
};

constexpr Native kNatives[] = {
#define OKA_NATIVE(slot, Name, word, spec, family) {OKA_FAMILY_##family(Name), word},
#include "evaluator/natives.def"
};
static_assert(std::size(kNatives) == 107, "the natives fill slots 1 to 107");
static_assert(std::size(kSpecs) == std::size(kNatives), "one spec text per native");

constexpr bool slots_in_order() {
    uint32_t expected = 1;
#define OKA_NATIVE(slot, Name, word, spec, family) \
    if (slot != expected++) return false;
#include "evaluator/natives.def"
    return true;
}
static_assert(slots_in_order(), "natives.def lists the slots in order, from 1");

}  // namespace

void init() { init_print_buffer(); }

Entry entry(uint32_t slot) {
    return slot >= 1 && slot <= std::size(kNatives) ? kNatives[slot - 1].entry : not_available_s;
}

const char* word_of(uint32_t slot) { return kNatives[slot - 1].word; }
const char* spec_of(uint32_t slot) { return kSpecs[slot - 1].data(); }
uint32_t count() { return uint32_t(std::size(kNatives)); }

}  // namespace oka::natives
