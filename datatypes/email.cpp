#include "datatypes/email.h"

#include <algorithm>

#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/words.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka::email {

namespace {

// The address with the characters its literal would read otherwise (controls, the caret) written as
// caret escapes, so that it loads back.
int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return string::mold_escaped(value, buffer, options, part);
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
