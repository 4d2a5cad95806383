#include "datatypes/ref.h"

#include "datatypes/string.h"

namespace oka::ref {

namespace {

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    string::concatenate_literal(buffer, "@", 1);
    return string::form(value, buffer, options.limit, part - 1);
}

}  // namespace

void init() {
    // string!'s row as tag! and email! take it, less append, put and path access.
    string::register_text_child(Type::Ref, {
                                               inherits<Act::form>(),
                                               implements<Act::mold>(mold),
                                               {Act::eval_path, kUnsupported},
                                               {Act::append, kUnsupported},
                                               {Act::put, kUnsupported},
                                           });
}

}  // namespace oka::ref
