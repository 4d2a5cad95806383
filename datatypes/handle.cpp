#include "datatypes/handle.h"

#include <iterator>

#include "datatypes/string.h"
#include "runtime/dispatch.h"
#include "runtime/registry.h"

namespace oka::handle {

namespace {

constexpr const char* kClassNames[] = {
#define OKA_HANDLE_CLASS(Name, text) text,
#include "datatypes/handle_classes.def"
#undef OKA_HANDLE_CLASS
};
static_assert(std::size(kClassNames) == 6, "six handle classes, numbered from 0");

// The value as 8 upper-case hexadecimal digits (two's complement) and "h": 0000002Ah.
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    part = string::write_token(buffer, string::to_hex(value->handle_value(), false), false, part);
    return string::write_token(buffer, "h", false, part);
}

// "handle!", or with /all the handle's construction: #[handle! 0000002Ah window].
int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    if (!options.all) return string::write_token(buffer, "handle!", false, part);
    Cell handle = *value;  // the value may lie in a buffer that writing moves
    part = string::write_token(buffer, "#[handle! ", false, part);
    part = form(&handle, buffer, nullptr, part);
    uint32_t kind = handle.handle_class();
    if (kind > 0 && kind < std::size(kClassNames)) {
        part = string::write_token(buffer, " ", false, part);
        part = string::write_token(buffer, kClassNames[kind], false, part);
    }
    return string::write_token(buffer, "]", false, part);
}

// By value alone, whatever the classes and the op.
int32_t compare(Cell* value1, Cell* value2, int32_t) {
    if (!value2->is(Type::Handle)) return kNotComparable;
    int32_t a = value1->handle_value(), b = value2->handle_value();
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

void init() {
    datatype::register_(Type::Handle, {
                                          implements<Act::form>(form),
                                          implements<Act::mold>(mold),
                                          implements<Act::compare>(compare),
                                      });
}

}  // namespace oka::handle
