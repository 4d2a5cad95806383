#include "evaluator/natives.h"

#include <iterator>

#include "runtime/error.h"

namespace oka::natives {

namespace {

// The entry of a slot past the table's natives, or of a native whose layer has not added it yet.
void not_available_s(const int32_t*) { fire(Err::internal_feature_na); }

// Each family's entry points are defined where the subsystem that serves them lives: the text, file and
// system natives with the services, which add them at start-up (enbase and debase with binary!'s
// codecs), the others here in the evaluator (natives_<family>.cpp; the constructors of pair!, point2D!,
// point3D! and money! with the math).
Entry entries[] = {
#define OKA_NATIVE(slot, Name, word, spec, family) &Name##_s,
#define OKA_SERVICES_NATIVE(slot, Name, word, spec, family) &not_available_s,
#include "evaluator/natives.def"
};

constexpr const char* kWords[] = {
#define OKA_NATIVE(slot, Name, word, spec, family) word,
#include "evaluator/natives.def"
};
static_assert(std::size(kWords) == 107, "the natives fill slots 1 to 107");
static_assert(std::size(entries) == std::size(kWords) && std::size(kSpecs) == std::size(kWords),
              "one entry point and one spec text per native");

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

Entry entry(uint32_t slot) { return slot >= 1 && slot <= std::size(entries) ? entries[slot - 1] : not_available_s; }

void add_entries(std::span<const Row> rows) {
    for (const Row& row : rows) {
        OKA_ASSERT(entries[row.slot - 1] == &not_available_s);
        entries[row.slot - 1] = row.entry;
    }
}

const char* word_of(uint32_t slot) { return kWords[slot - 1]; }
const char* spec_of(uint32_t slot) { return kSpecs[slot - 1].data(); }
uint32_t count() { return uint32_t(std::size(kWords)); }

}  // namespace oka::natives
