#include "datatypes/ref.h"

#include "datatypes/string.h"

namespace oka::ref {

namespace {

// The characters that end a reference in source text, and are not control characters, which a caret
// escape writes anyway: written as ^(hex), since a caret before a bracket or a parenthesis would
// read as another escape.
constexpr std::u32string_view kEndsAReference = U" ()[]{};,";

// "@" and the text, escaped so that it loads back as the same ref: caret escapes for the caret and the
// control characters, and for the blanks and brackets that would end it.
int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    string::concatenate_literal(buffer, "@", 1);
    return string::mold_escaped(value, buffer, options, part - 1, {.hex = kEndsAReference});
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
