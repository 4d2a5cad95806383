#include "datatypes/percent.h"

#include "datatypes/float.h"
#include "datatypes/string.h"
#include "runtime/registry.h"

namespace oka::percent {

namespace {

// The fraction times 100, in the percent form of the float formatter: 50%, 0.1%, 1.0e-5%.
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    return string::write_token(buffer, float_::format(float_::get(*value) * 100.0, float_::FormatKind::percent), false,
                               part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return form(value, buffer, options.limit, part);
}

}  // namespace

void init() {
    datatype::register_(Type::Percent, {
                                           inherits<Act::make>(),
                                           inherits<Act::random>(),
                                           inherits<Act::to>(),
                                           implements<Act::form>(form),
                                           implements<Act::mold>(mold),
                                           inherits<Act::compare>(),
                                           inherits<Act::absolute>(),
                                           inherits<Act::add>(),
                                           inherits<Act::divide>(),
                                           inherits<Act::multiply>(),
                                           inherits<Act::negate>(),
                                           inherits<Act::power>(),
                                           inherits<Act::remainder>(),
                                           inherits<Act::round>(),
                                           inherits<Act::subtract>(),
                                           inherits<Act::even_q>(),
                                           inherits<Act::odd_q>(),
                                       });
}

}  // namespace oka::percent
