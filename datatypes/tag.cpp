#include "datatypes/tag.h"

#include "datatypes/string.h"

namespace oka::tag {

namespace {

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    string::concatenate_literal(buffer, "<", 1);
    part = string::form(value, buffer, arg, part - 1);
    string::concatenate_literal(buffer, ">", 1);
    return part - 1;
}

// What, right after "<", makes the less-than word or another token instead of a tag: a blank, a
// delimiter, or the rest of an operator (<=, <<, <>, <:).
constexpr std::u32string_view kNotATagAfterLess = U" \t\r\n[](){}\";,<=>:";

// A tag's literal reads caret escapes, so the caret and the control characters are escaped; its
// quotes stay as they are, since they delimit the quoted parts of a tag. A first character that would
// make "<" another token takes a caret escape.
int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    string::concatenate_literal(buffer, "<", 1);
    bool caret_first =
        string::rs_length_q(*value) > 0 &&
        kNotATagAfterLess.find(char32_t(string::rs_abs_at(*value, value->head()))) != kNotATagAfterLess.npos;
    part = string::mold_escaped(value, buffer, options, part - 1, {.raw = U"\"", .caret_first = caret_first});
    string::concatenate_literal(buffer, ">", 1);
    return part - 1;
}

}  // namespace

void init() {
    string::register_text_child(Type::Tag, {
                                               implements<Act::form>(form),
                                               implements<Act::mold>(mold),
                                           });
}

}  // namespace oka::tag
