#include "datatypes/none.h"

#include "datatypes/string.h"
#include "runtime/dispatch.h"
#include "runtime/memory.h"
#include "runtime/registry.h"

namespace oka::none {

namespace {

const Cell* make(Cell*, Cell*, Type) { return &value; }

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) { return string::write_token(buffer, "none", false, part); }

int32_t mold(Cell*, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return string::write_token(buffer, "none", options.all, part);
}

// The series actions that only read or empty a series answer none for none, so that code can treat
// a missing series like an empty one.
void answer_none(Cell*) { box(); }
const Cell* nothing_found(Cell*, Cell*, const FindOptions&) { return &value; }
const Cell* nothing_selected(Cell*, Cell*, const SelectOptions&) { return &value; }
int32_t no_length(Cell*) { return -1; }
void nothing_removed(Cell*, Cell*, Cell*) { box(); }
const Cell* nothing_taken(Cell*, Cell*, bool, bool) { return &value; }

}  // namespace

void init() {
    datatype::register_(Type::None, {
                                        implements<Act::make>(make),
                                        implements<Act::to>(make),
                                        implements<Act::form>(form),
                                        implements<Act::mold>(mold),
                                        implements<Act::compare>(unset::compare_payloadless),
                                        implements<Act::clear>(answer_none),
                                        implements<Act::find>(nothing_found),
                                        implements<Act::length_q>(no_length),
                                        implements<Act::remove>(nothing_removed),
                                        implements<Act::select>(nothing_selected),
                                        implements<Act::take>(nothing_taken),
                                    });
}

Cell* make_in(const Cell& block) { return make_at(alloc::alloc_tail(block).get()); }

}  // namespace oka::none
