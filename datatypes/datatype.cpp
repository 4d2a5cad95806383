#include "datatypes/datatype.h"

#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/dispatch.h"
#include "runtime/memory.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka::datatype {

namespace {

const TypeName& named(const Cell* value) { return type_name(value->named_type()); }

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    const TypeName& t = named(value);
    string::concatenate_literal(buffer, t.name, t.length);
    return part - int32_t(t.length);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return string::write_token(buffer, named(value).name, options.all, part);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    switch (op) {
    case kCompareEqual:
    case kCompareNotEqual:
    case kCompareStrictEqual:
    case kCompareSame:
    case kCompareFind: return value2->is(Type::Datatype) && value2->named_type() == value1->named_type() ? 0 : 1;
    default: return kNotComparable;
    }
}

Cell name_words[kTypeTableSize];

}  // namespace

// Every type's name word, registered or not, so that type sets can name types still to come.
void make_words() {
    for (int id = 1; id <= kTypeCount; id++) make_word(Type(id));
}

void make_word(Type type) { name_words[int(type)] = word::load(type_name(type).name); }

void set_words() {
    for (int id = 1; id <= kTypeCount; id++) {
        Cell value;
        make_at(&value, Type(id));
        word::set_value(&name_words[id], value);
    }
}

const Cell& word_of(Type type) { return name_words[int(type)]; }

void init() {
    register_(Type::Datatype, {
                                  implements<Act::form>(form),
                                  implements<Act::mold>(mold),
                                  implements<Act::compare>(compare),
                              });
}

Cell* make_at(Cell* cell, Type type) {
    *cell = Cell::of(Type::Datatype).set_named_type(type);
    return cell;
}

Cell* push(Type type) { return make_at(stack::push_next(), type); }

Cell* make_in(const Cell& block, Type type) { return make_at(alloc::alloc_tail(block).get(), type); }

}  // namespace oka::datatype
