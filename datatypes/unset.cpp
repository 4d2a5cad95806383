#include "datatypes/unset.h"

#include "datatypes/string.h"
#include "runtime/dispatch.h"
#include "runtime/memory.h"
#include "runtime/registry.h"

namespace oka::unset {

namespace {

const Cell* make(Cell*, Cell*, Type) { return &value; }

int32_t form(Cell*, Cell*, Cell*, int32_t part) { return part; }

int32_t mold(Cell*, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return string::write_token(buffer, "unset", options.all, part);
}

}  // namespace

int32_t compare_payloadless(Cell* value1, Cell* value2, int32_t op) {
    if (value2->type() != value1->type()) return kNotComparable;
    switch (op) {
    case kCompareLesser:
    case kCompareLesserEqual:
    case kCompareGreater:
    case kCompareGreaterEqual:
    case kCompareStrictEqualWord:
    case kCompareEqualWord: return kNotComparable;
    default: return 0;
    }
}

void init() {
    datatype::register_(Type::Unset, {
                                         implements<Act::make>(make),
                                         implements<Act::to>(make),
                                         implements<Act::form>(form),
                                         implements<Act::mold>(mold),
                                         implements<Act::compare>(compare_payloadless),
                                     });
}

Cell* make_in(const Cell& block) { return make_at(alloc::alloc_tail(block).get()); }

}  // namespace oka::unset
