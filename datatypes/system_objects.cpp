#include "datatypes/system_objects.h"

#include <initializer_list>

#include "datatypes/context.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime/root.h"

namespace oka::system_objects {

namespace {

struct Place {
    Cell References::*reference;
    Cell References::*holder;  // null for a global word's object
    Sym field;
};

constexpr Place kPlaces[] = {
    {&References::system, nullptr, Sym::system},
    {&References::build, &References::system, Sym::build},
    {&References::catalog, &References::system, Sym::catalog},
    {&References::state, &References::system, Sym::state},
    {&References::callbacks, &References::state, Sym::callbacks},
    {&References::locale, &References::system, Sym::locale},
    {&References::currencies, &References::locale, Sym::currencies},
    {&References::options, &References::system, Sym::options},
    {&References::standard, &References::system, Sym::standard},
    {&References::lexer, &References::system, Sym::lexer},
    {&References::console, &References::system, Sym::console},
    {&References::preprocessor, nullptr, Sym::preprocessor},
    {&References::url_parser, nullptr, Sym::url_parser},
};

Cell global_value(Sym name) {
    int32_t position = _context::find_word(_context::global, words::id(name), true);
    return position < 0 ? none::value : *word::get_in(_context::global, uint32_t(position));
}

}  // namespace

void init() {
    for (const Place& place : kPlaces) {
        references.*place.reference = none::value;
        runtime::register_root(&(references.*place.reference));
    }
}

void cache() {
    for (const Place& place : kPlaces) {
        Cell value = place.holder ? references.*place.holder : global_value(place.field);
        if (place.holder && value.is(Type::Object)) value = *object::rs_select(value, words::id(place.field));
        references.*place.reference = value.is(Type::Object) ? value : none::value;
    }
}

}  // namespace oka::system_objects
