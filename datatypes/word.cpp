#include "datatypes/word.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/words.h"
#include "evaluator/lexer.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::word {

namespace {

Cell* retyped(Cell* cell, Type type) {
    cell->header = uint8_t(type) | (cell->header & kCellNewLine);
    return cell;
}

Cell as_type(Cell cell, Type type) {
    cell.header = uint8_t(type);
    return cell;
}

[[noreturn]] void fire_with(Err id, const Cell& value) {
    Cell copy = value;
    fire(id, &copy);
}

// The string form of a word's symbol, pushed on the data stack.
Cell* push_string_form(const Cell& word) { return stack::push(Cell::of(Type::String).set_node(to_string(word))); }

// An issue's or refinement's name makes a word when the lexer reads it as one (of any type but
// refinement and issue). The word is a global one with its position, as a word read from text is: a
// word left unresolved would lose what is set through it.
Cell word_of_name(const Cell& name, Type target) {
    std::string text(symbol::name(name.symbol()));
    Type scanned = lexer::scan_type(text);
    if (scanned < Type::Word || scanned > Type::GetWord) error::fire_on_type(Err::script_bad_to_arg, target, &name);
    Cell word;
    return *make_at(name.symbol(), &word);
}

// The one value a text holds, which must be a word of the family.
Cell word_of_text(const Cell& text) {
    Cell value;
    const Cell* scanned = lexer::scan_single(text, &value);
    if (!is_a(scanned->type(), TypeClass::all_word)) fire(Err::script_invalid_chars);
    return *scanned;
}

Cell word_of_char(uint32_t code_point) {
    stack::Root text(none::value);
    string::rs_make_at(&text.cell(), 1);
    string::append_char(text.cell().node(), code_point);
    return word_of_text(text.cell());
}

// ---- actions ----

// The word a value names, of any type of the family.
Cell word_of(const Cell* spec, Type target) {
    switch (spec->type()) {
    case Type::Word:
    case Type::LitWord:
    case Type::GetWord:
    case Type::SetWord: return *spec;
    case Type::Datatype: return datatype::word_of(spec->named_type());
    case Type::Logic: return _context::add_global(words::id(spec->truth() ? Sym::true_ : Sym::false_));
    case Type::Issue:
    case Type::Refinement: return word_of_name(*spec, target);
    case Type::String: return word_of_text(*spec);
    case Type::Char: return word_of_char(spec->code_point());
    default: error::fire_on_type(Err::script_bad_to_arg, target, spec);
    }
}

const Cell* make(Cell*, Cell* spec, Type target) {
    Cell* result = stack::push(word_of(spec, target));
    result->header = uint8_t(target);
    return result;
}

int32_t mold_with(Cell* value, Cell* buffer, Cell* arg, int32_t part, const char* before, const char* after) {
    if (*before) {
        string::concatenate_literal(buffer, before, 1);
        part--;
    }
    part = form(value, buffer, arg, part);
    if (*after) {
        string::concatenate_literal(buffer, after, 1);
        part--;
    }
    return part;
}

int32_t mold_word(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return form(value, buffer, options.limit, part);
}
int32_t mold_set_word(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return mold_with(value, buffer, options.limit, part, "", ":");
}
int32_t mold_lit_word(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return mold_with(value, buffer, options.limit, part, "'", "");
}
int32_t mold_get_word(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return mold_with(value, buffer, options.limit, part, ":", "");
}
int32_t mold_refinement(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return mold_with(value, buffer, options.limit, part, "/", "");
}

void index_q() {
    Cell* word = stack::arguments();
    int32_t position = word->position();
    if (position < 0)
        none::box();
    else
        integer::box(position + 1);
}

bool same_symbol(const Cell& a, const Cell& b, bool ignore_case) {
    return ignore_case ? symbol::resolve(a.symbol()) == symbol::resolve(b.symbol()) : a.symbol() == b.symbol();
}

// A word! and a lit-word! of one symbol are equal to the equality ops that parse uses.
bool word_meets_lit_word(const Cell& a, const Cell& b) {
    return (a.is(Type::Word) && b.is(Type::LitWord)) || (a.is(Type::LitWord) && b.is(Type::Word));
}

// The words are taken by value: forming the first name allocates, which may move a buffer they lie in.
int32_t order_by_name(Cell a, Cell b, int32_t op) {
    Cell* saved = stack::top;
    Cell* first = push_string_form(a);
    Cell* second = push_string_form(b);
    int32_t result = actions::call<Act::compare>(first, second, op);
    stack::top = saved;
    return result;
}

}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    Cell* saved = stack::top;
    Cell* string = push_string_form(*value);
    part = actions::call<Act::form>(string, buffer, arg, part);
    stack::top = saved;
    return part;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!is_a(value2->type(), TypeClass::all_word) || (value2->is(Type::Issue) && !value1->is(Type::Issue)))
        return kNotComparable;
    const Cell& a = *value1;
    const Cell& b = *value2;
    auto answer = [](bool equal) { return equal ? 0 : 1; };
    switch (op) {
    case kCompareEqual:
    case kCompareNotEqual:
    case kCompareFind: return answer(same_symbol(a, b, true));
    case kCompareStrictEqual: return answer(a.type() == b.type() && same_symbol(a, b, false));
    case kCompareSame: return answer(a.type() == b.type() && a.symbol() == b.symbol() && a.context() == b.context());
    case kCompareStrictEqualWord:
    case kCompareEqualWord: {
        bool ignore_case = op == kCompareEqualWord;
        return answer((word_meets_lit_word(a, b) || a.type() == b.type()) && same_symbol(a, b, ignore_case));
    }
    default: return order_by_name(a, b, op);
    }
}

void init() {
    datatype::register_(Type::Word, {
                                        implements<Act::make>(make),
                                        implements<Act::to>(make),
                                        implements<Act::form>(form),
                                        implements<Act::mold>(mold_word),
                                        implements<Act::compare>(compare),
                                        implements<Act::index_q>(index_q),
                                    });
    struct Kind {
        Type type;
        ActionImpl<Act::mold> mold;
    };
    for (Kind k :
         {Kind{Type::SetWord, mold_set_word}, Kind{Type::LitWord, mold_lit_word}, Kind{Type::GetWord, mold_get_word}}) {
        datatype::register_(k.type, {
                                        inherits<Act::make>(),
                                        inherits<Act::to>(),
                                        inherits<Act::form>(),
                                        implements<Act::mold>(k.mold),
                                        inherits<Act::compare>(),
                                        inherits<Act::index_q>(),
                                    });
    }
    datatype::register_(Type::Refinement, {
                                              inherits<Act::make>(),
                                              inherits<Act::to>(),
                                              inherits<Act::form>(),
                                              implements<Act::mold>(mold_refinement),
                                              inherits<Act::compare>(),
                                          });
}

Cell* make_at(uint32_t symbol, Cell* cell) {
    Cell word = Cell::of(Type::Word).set_context(_context::global).set_symbol(symbol);
    word.set_position(_context::add_word_unset(_context::global, word));
    *cell = word;
    return cell;
}

Cell* box(uint32_t symbol) { return make_at(symbol, stack::arguments()); }

Cell* make_in(uint32_t symbol, const Cell& block) {
    Cell word;
    make_at(symbol, &word);
    return copy_cell(&word, alloc::alloc_tail(block).get());
}

Cell* load_in(std::string_view name, const Cell& block) { return make_in(symbol::make(name), block); }

Cell* push_new(uint32_t symbol) {
    Cell word;
    make_at(symbol, &word);
    return stack::push(word);
}

Cell load(std::string_view name) { return _context::add_global_word(symbol::make(name), _context::Spelling::any_case); }

void add_to_root(const Cell& cell) { *alloc::alloc_tail(runtime::root) = cell; }

Cell* push(const Cell& word) { return stack::push(word); }

Cell* push_local(Node context, uint32_t position) { return stack::push(*from_context(context, position)); }

Cell* load_in_as(Type type, std::string_view name, const Cell& block) {
    Cell* cell = load_in(name, block);
    return retyped(cell, type);
}

Cell load_as(Type type, std::string_view name) { return as_type(load(name), type); }

Cell* push_as(Type type, const Cell& word) { return retyped(push(word), type); }

Cell* push_local_as(Type type, Node context, uint32_t position) { return retyped(push_local(context, position), type); }

BufPtr<Cell> from_context(Node context, uint32_t position) { return _context::word_at(context, position); }

Cell find_in(Node context, uint32_t symbol) {
    int32_t position = _context::find_word(context, symbol, false);
    if (position < 0) return _context::add_global(symbol);
    return *from_context(context, uint32_t(position));
}

Cell* get(const Cell& word) {
    Cell value = *get_cell(word);
    if (value.is(Type::Unset)) fire_with(Err::script_no_value, word);
    return stack::push(value);
}

Cell* get_any(const Cell& word) {
    Cell value = *get_cell(word);
    return stack::push(value);
}

void set_arg(bool refuse_unset) {
    Cell* args = stack::arguments();
    if (refuse_unset && args[1].is(Type::Unset)) fire_with(Err::script_need_value, args[0]);
    set_value(args, args[1]);
    stack::set_last(args[1]);
}

void get_arg() {
    Cell value = *get_cell(*stack::arguments());
    stack::set_last(value);
}

void set_result(Cell* cell) {
    if (stack::arguments()->is(Type::Unset)) fire_with(Err::script_need_value, *cell);
    copy_cell(stack::arguments(), cell);
}

BufPtr<Cell> get_in(Node context, uint32_t position) {
    return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(_context::context_cell(context)->values())->offset) + position);
}

Cell* get_local(Node context, uint32_t position) {
    Cell entry = *from_context(context, position);
    return stack::push(*_context::get(entry, context));
}

namespace {

// Writes into an object's field from native code: the field counts as set, and no handler is told.
BufPtr<Cell> field_for_writing(Node context, uint32_t position) {
    if (_context::kind_of(*_context::context_cell(context)) == _context::kObject)
        from_context(context, position)->header |= _context::kFieldSet;
    return get_in(context, position);
}

}  // namespace

void set_in(Node context, uint32_t position) {
    Cell value = *stack::get_top();
    *field_for_writing(context, position) = value;
}

Cell* set_in_from_result(Node context, uint32_t position) {
    *field_for_writing(context, position) = *stack::arguments();
    return stack::arguments();
}

void swap_value(Node context, uint32_t position) {
    Cell incoming = *stack::get_top();
    Cell old = *get_in(context, position);
    stack::push(old);
    *field_for_writing(context, position) = incoming;
}

Node to_string(const Cell& word) { return symbol::get_string(word.symbol()); }

Cell settable_at(const Cell& words, uint32_t index) {
    Cell word = *block::rs_abs_at(words, index);
    if (!is_a(word.type(), TypeClass::any_word)) fire(Err::script_invalid_arg, &word);
    return word;
}

}  // namespace oka::word

namespace oka::refinement {

Cell make_in_root(std::string_view name) {
    Cell refinement = Cell::of(Type::Refinement).set_symbol(symbol::make(name)).set_position(-1);
    word::add_to_root(refinement);
    return refinement;
}

}  // namespace oka::refinement
