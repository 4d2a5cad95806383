#include "datatypes/email.h"

#include <algorithm>
#include <array>

#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/words.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka::email {

namespace {

// The C1 controls, which an address holds as they are: the lexer reads them so in an address, which
// has no room for a ^(hex) escape.
constexpr auto kC1Controls = [] {
    std::array<char32_t, 0x20> controls{};
    for (uint32_t i = 0; i < controls.size(); i++) controls[i] = char32_t(0x80 + i);
    return controls;
}();

// True when the first character, written as itself, would begin a token of another kind: a tag, a
// lit-word, a number, or digits that the text before the "@" does not continue as an integer. A caret
// before it keeps the address one token (the caret escape of these characters is the character).
bool first_needs_caret(const Cell& address) {
    uint32_t length = string::rs_length_q(address);
    if (length == 0) return false;
    uint32_t first = string::rs_abs_at(address, address.head());
    if (first == '<' || first == '\'' || first == '+' || first == '.') return true;
    if (first < '0' || first > '9') return false;
    for (uint32_t i = address.head(); i < address.head() + length; i++) {
        uint32_t c = string::rs_abs_at(address, i);
        if (c == '@') return false;
        if ((c < '0' || c > '9') && c != '\'') return true;
    }
    return false;
}

// The address with the characters its literal would read otherwise (controls, the caret) written as
// caret escapes, a line feed as "^J" (a "/" ends the address's token), and a caret before a first
// character that would begin another token, so that it loads back as the same address.
int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return string::mold_escaped(value, buffer, options, part,
                                {.raw = {kC1Controls.data(), kC1Controls.size()},
                                 .caret_first = first_needs_caret(*value),
                                 .line_feed_by_letter = true});
}

// A new string! of `count` characters of the address from `from` characters after its head.
const Cell* copy_part(const Cell& address, uint32_t from, uint32_t count) {
    Cell* copy = string::rs_make_at(stack::push_next(), count);
    Cell* source = stack::push(address);
    source->set_head(source->head() + from);
    string::concatenate(*copy, *source, int32_t(count), 0, string::Mode::append);
    stack::pop(1);
    return copy;
}

// Replaces `count` characters of the address, from `from` characters after its head, by the text of
// `value`, as change/part does. change leaves the series in the frame's result slot, which belongs to
// the path's caller here: it gets its value back.
void replace(const Cell& address, uint32_t from, uint32_t count, Cell* value) {
    Cell* position = stack::push(address);
    position->set_head(position->head() + from);
    Cell kept = *stack::arguments();
    string::change(position, value, EditOptions{.part = int32_t(count)});
    *stack::arguments() = kept;
    stack::pop(1);
}

// user and host read or set the text before and after the first "@"; an integer element is a
// string's. Setting the host of an address without "@" adds the "@" first, so that nothing is written
// past the tail and the host reads back.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    if (element->is(Type::Integer)) return datatype::action<Act::eval_path>(Type::String)(parent, element, value, step);
    bool user = element->is(Type::Word) && symbol::named_q(element->symbol(), Sym::user);
    bool host = element->is(Type::Word) && symbol::named_q(element->symbol(), Sym::host);
    if (!user && !host) fire(Err::script_invalid_path, step.path ? step.path : &none::value, element);
    uint32_t length = string::rs_length_q(*parent);
    int32_t at = string::rs_find_char(*parent, '@');
    uint32_t p = at < 0 ? length : uint32_t(at) - parent->head();
    if (!value) return user ? copy_part(*parent, 0, p) : copy_part(*parent, p + 1, length - std::min(p + 1, length));
    if (user) {
        replace(*parent, 0, p, value);
    } else {
        if (at < 0) string::append_char(parent->node(), '@');
        replace(*parent, p + 1, length - std::min(p + 1, length), value);
    }
    return value;
}

}  // namespace

void init() {
    string::register_text_child(Type::Email, {
                                                 inherits<Act::form>(),
                                                 implements<Act::mold>(mold),
                                                 implements<Act::eval_path>(eval_path),
                                             });
}

}  // namespace oka::email
