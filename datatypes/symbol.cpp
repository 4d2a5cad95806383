#include "datatypes/symbol.h"

#include <string>

#include "datatypes/string.h"
#include "datatypes/words.h"
#include "runtime/dispatch.h"
#include "runtime/memory.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace oka::symbol {

namespace {

BufPtr<Cell> cell_of(uint32_t id) { return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(table)->offset) + (id - 1)); }

// Names are interned from a copy outside the series buffers, since interning allocates.
template <class Lookup>
uint32_t intern(std::string_view name, Lookup lookup) {
    std::string bytes(name);
    return lookup(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
}

// The string form of a symbol cell, pushed on the data stack.
Cell* push_string_form(const Cell& symbol) {
    Node string = symbol.string_form();
    if (!string) {
        BufPtr<SeriesBuffer> b = mem::buffer(symbol.utf8_name());
        std::string bytes(mem::ptr<char>(b->offset), b->used_bytes());
        string = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
    }
    return stack::push(Cell::of(Type::String).set_node(string));
}

// Two symbols order and compare as their string forms do.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Symbol)) return kNotComparable;
    Cell* saved = stack::top;
    Cell one = *value1, other = *value2;
    Cell* first = push_string_form(one);
    Cell* second = push_string_form(other);
    int32_t result = actions::call<Act::compare>(first, second, op);
    stack::top = saved;
    return result;
}

}  // namespace

void init() { datatype::register_(Type::Symbol, {implements<Act::compare>(compare)}); }

uint32_t make(std::string_view utf8_name) {
    return intern(utf8_name, [](const uint8_t* b, uint32_t n) { return lookup(b, n, false); });
}

uint32_t make_alt(std::string_view utf8_name) {
    return intern(utf8_name, [](const uint8_t* b, uint32_t n) { return lookup(b, n, true); });
}

uint32_t make_from_string(const Cell& string) {
    Cell copy = string;
    int32_t length = -1;
    BufPtr<char> utf8 = unicode::to_utf8(&copy, length);
    return make(std::string_view(utf8.get(), uint32_t(length)));
}

int32_t get_alias(uint32_t id) { return cell_of(id)->alias(); }

std::string_view name(uint32_t id) {
    BufPtr<SeriesBuffer> b = mem::buffer(cell_of(id)->utf8_name());
    return std::string_view(mem::ptr<char>(b->offset), b->used_bytes());
}

Node get_string(uint32_t id) {
    if (Node built = cell_of(id)->string_form()) return built;
    std::string bytes(name(id));
    Node string = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
    cell_of(id)->set_string_form(string);
    return string;
}

BufPtr<Cell> get(uint32_t id) {
    get_string(id);
    return cell_of(id);
}

bool named_q(uint32_t id, Sym name) { return resolve(id) == resolve(words::id(name)); }

bool any_type_word_q(const Cell& word) { return named_q(word.symbol(), Sym::any_type_type); }

}  // namespace oka::symbol
