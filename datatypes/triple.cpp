#include "datatypes/triple.h"

#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "runtime/registry.h"

namespace oka::triple {

namespace {

// "make triple! [a b c]"; every character written takes one unit of the budget.
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    const int32_t numbers[] = {int32_t(value->first()), int32_t(value->second()),
                               int32_t(value->third())};  // read before the buffer grows
    part = string::write_token(buffer, "make triple! [", false, part);
    for (int i = 0; i < 3; i++) {
        if (i > 0) part = string::write_token(buffer, " ", false, part);
        part = string::write_token(buffer, integer::form_signed(numbers[i]), false, part);
    }
    return string::write_token(buffer, "]", false, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return form(value, buffer, options.limit, part);
}

}  // namespace

void init() {
    datatype::register_(Type::Triple, {
                                          implements<Act::form>(form),
                                          implements<Act::mold>(mold),
                                      });
}

}  // namespace oka::triple
