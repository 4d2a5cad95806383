#include "datatypes/issue.h"

#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/registry.h"
#include "runtime/root.h"
#include "runtime/types.h"
#include "runtime/unicode.h"

namespace oka::issue {

namespace {

Cell result;  // the answer of make and to, copied out by the dispatcher at once

Cell* make_named(Cell* cell, uint32_t symbol, Type type = Type::Issue) {
    *cell = Cell::of(type).set_context(_context::global).set_symbol(symbol).set_position(-1);
    return cell;
}

// A surrogate has no UTF-8 form: a name holding one could never be written out.
bool holds_surrogate(const Cell& text) {
    for (uint32_t i = text.head(); i < string::rs_abs_length_q(text); i++)
        if (unicode::surrogate_q(string::rs_abs_at(text, i))) return true;
    return false;
}

[[noreturn]] void refuse(const Cell* spec, Type target) { error::fire_on_type(Err::script_bad_to_arg, target, spec); }

// make and to: the text of a string from its head, or a char, names the issue; a word keeps its
// binding; anything else is word!'s business.
const Cell* make(Cell* proto, Cell* spec, Type target) {
    switch (spec->type()) {
    case Type::String:
        if (holds_surrogate(*spec)) refuse(spec, target);
        return make_named(&result, symbol::make_from_string(*spec), target);
    case Type::Char: {
        if (unicode::surrogate_q(spec->code_point())) refuse(spec, target);
        char name[4];
        uint32_t length = unicode::cp_to_utf8(spec->code_point(), reinterpret_cast<uint8_t*>(name));
        return make_named(&result, symbol::make(std::string_view(name, length)), target);
    }
    default:
        if (!is_a(spec->type(), TypeClass::all_word))
            return datatype::action<Act::make>(Type::Word)(proto, spec, target);
        result = *spec;
        result.header = uint8_t(target);
        return &result;
    }
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    string::append_char(buffer->node(), '#');
    return word::form(value, buffer, options.limit, part - 1);
}

// Issues meet only issues.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    return value2->is(Type::Issue) ? word::compare(value1, value2, op) : kNotComparable;
}

}  // namespace

void init() {
    datatype::register_(Type::Issue, {
                                         implements<Act::make>(make),
                                         implements<Act::to>(make),
                                         inherits<Act::form>(),
                                         implements<Act::mold>(mold),
                                         implements<Act::compare>(compare),
                                     });
}

Cell* make_at(Cell* cell, std::string_view name) {
    uint32_t symbol = symbol::make(name);
    return make_named(cell, symbol);
}

Cell* make_in(const Cell& block, std::string_view name) {
    uint32_t symbol = symbol::make(name);
    return make_named(alloc::alloc_tail(block).get(), symbol);
}

Cell* load(std::string_view name) {
    if (_context::collecting_new_words) return make_in(runtime::root, name);
    uint32_t symbol = symbol::make(name);
    return make_named(stack::push_next(), symbol);
}

Cell* push(const Cell& word) {
    Cell* cell = stack::push(word);
    cell->set_type(Type::Issue);
    return cell;
}

// Bytes stand for characters here: any name with a byte beyond ASCII is refused anyway.
int32_t from_hex(const Cell& issue) {
    std::string_view name = symbol::name(issue.symbol());
    if (name.size() > 8) fire(Err::script_invalid_data, &issue);
    uint32_t value = 0;
    for (char c : name) {
        int32_t digit = unicode::hex_digit(uint8_t(c));
        if (digit < 0) fire(Err::script_invalid_data, &issue);
        value = value << 4 | uint32_t(digit);
    }
    return int32_t(value);
}

}  // namespace oka::issue
