#include "services/natives.h"

#include <iterator>

namespace oka::natives {

namespace {

constexpr Row kRows[] = {
#define OKA_NATIVE(slot, Name, word, spec, family)
#define OKA_SERVICES_NATIVE(slot, Name, word, spec, family) {Name##_slot, &Name##_s},
#include "evaluator/natives.def"
};
static_assert(std::size(kRows) == 10 + 7 + 2, "the text, system and file natives");

}  // namespace

void add_services_natives() { add_entries(kRows); }

}  // namespace oka::natives
