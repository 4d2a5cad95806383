#include "datatypes/function.h"

#include <unordered_set>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::function {

namespace {

uint32_t length_of(const Cell& block) { return series::rs_buffer_length_q(block); }
Cell at(const Cell& block, uint32_t index) { return *block::rs_abs_at(block, index); }

bool same_symbol(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

// Canonical symbol ids: a word is looked up among those of a spec or body of many thousand words at
// once.
using Symbols = std::unordered_set<uint32_t>;
bool is_word_named(const Cell& value, Sym name) {
    return value.is(Type::Word) && same_symbol(value.symbol(), words::id(name));
}

// The absolute index of the refinement from the head on, or -1.
int64_t find_refinement(const Cell& block, SpecWord name) {
    for (uint32_t i = block.head(); i < length_of(block); i++)
        if (spec_refinement_q(at(block, i), name)) return i;
    return -1;
}

[[noreturn]] void fire_with(Err id, const Cell& value) {
    Cell copy = value;
    fire(id, &copy);
}

[[noreturn]] void refuse(const Cell& spec) { fire_with(Err::script_bad_func_def, spec); }

int32_t write(Cell* buffer, const char* text, int32_t part) { return string::write_token(buffer, text, false, part); }

Cell integer_of(int32_t value) {
    Cell cell;
    return *integer::make_at(&cell, value);
}

// An integer! holding a code word, or unset for 0.
Cell code_cell(uint32_t code) { return code ? integer_of(int32_t(code)) : unset::value; }

// Pushes a new extras block. The body must lie on the data stack.
Cell* push_extras(const Cell& body, const Cell& code, const Cell& code2) {
    Cell* extras = block::push_only_s(kExtrasSize);
    for (const Cell& cell : {body, unset::value, code, unset::value, code2}) block::rs_append(*extras, cell);
    return extras;
}

bool type_specifier_q(const Cell& element) {
    switch (element.type()) {
    case Type::Datatype:
    case Type::Typeset: return true;
    case Type::Word: {
        Type type = word::get(element)->type();
        stack::pop(1);
        return type == Type::Datatype || type == Type::Typeset || type == Type::Word;
    }
    default: return false;
    }
}

// ---- the locals of the `function` constructor ----

// What a walk of a body gathers: the words it found so far (and the spec's), the block of the words
// collected, and whether only words bound to the global context count (a library function's words that
// name fields of the object around it stay those fields).
struct Collection {
    Symbols known;
    const Cell& collected;
    bool globals_only;
};

// A word that library code sets stays its own when it would otherwise be a global one; a `return:` in
// its body is a spec's, never a word of its own (a local `return` would hide the native).
bool library_local_q(const Cell& word) {
    return word.context() == _context::global && !same_symbol(word.symbol(), words::id(Sym::return_));
}

// A word that the body binds joins the known words and the collected ones, as a word!, unless already
// known.
void add_local(const Cell& word, Collection& collection) {
    if (collection.globals_only && !library_local_q(word)) return;
    if (!collection.known.insert(symbol::resolve(word.symbol())).second) return;
    block::rs_append(
        collection.collected,
        Cell::of(Type::Word).set_context(word.context()).set_symbol(word.symbol()).set_position(word.position()));
}

// The words that foreach and remove-each take: one word, or the words of a block.
void add_loop_words(const Cell& words, Collection& collection) {
    if (words.is(Type::Word)) add_local(words, collection);
    if (!words.is(Type::Block)) return;
    for (uint32_t i = words.head(); i < length_of(words); i++) {
        Cell word = at(words, i);
        if (word.is(Type::Word) || word.is(Type::GetWord) || word.is(Type::LitWord)) add_local(word, collection);
    }
}

// Walks the blocks and parens of a body for the words it sets.
void collect_from(const Cell& body, Collection& collection) {
    if (cycles::find_q(body.node())) return;
    cycles::Scope scope(body);
    for (uint32_t i = body.head(); i < length_of(body); i++) {
        Cell value = at(body, i);
        bool last = i + 1 == length_of(body);
        if (value.is(Type::SetWord)) {
            add_local(value, collection);
        } else if (value.is(Type::Block) || value.is(Type::Paren)) {
            collect_from(value, collection);
        } else if (!last && (is_word_named(value, Sym::foreach) || is_word_named(value, Sym::remove_each))) {
            add_loop_words(at(body, i + 1), collection);
        } else if (!last && is_word_named(value, Sym::repeat)) {
            Cell counter = at(body, i + 1);
            if (counter.is(Type::Word) || counter.is(Type::SetWord)) add_local(counter, collection);
        }
    }
}

// The words after the /local that follows the /extern words.
void collect_declared_locals(const Cell& spec, uint32_t externs, const Cell& collected) {
    uint32_t i = externs;
    while (i < length_of(spec) && at(spec, i).is(Type::Word)) i++;
    if (i == length_of(spec) || !spec_refinement_q(at(spec, i), SpecWord::local)) return;
    for (i++; i < length_of(spec); i++) {
        Cell word = at(spec, i);
        if (word.is(Type::Word)) block::rs_append(collected, word);
    }
}

// The spec's words of every type as the known words. With /extern in the spec, only words, blocks and
// strings may be in it.
Symbols spec_words(const Cell& spec, bool has_externs) {
    Symbols known;
    for (uint32_t i = spec.head(); i < length_of(spec); i++) {
        Cell value = at(spec, i);
        switch (value.type()) {
        case Type::Word:
        case Type::SetWord:
        case Type::LitWord:
        case Type::GetWord:
        case Type::Refinement: known.insert(symbol::resolve(value.symbol())); break;
        case Type::Block:
        case Type::String: break;
        default:
            if (has_externs) fire_with(Err::script_bad_func_extern, value);
        }
    }
    return known;
}

void extend_spec(const Cell& spec, const Cell& collected) {
    if (find_refinement(spec, SpecWord::local) < 0) block::rs_append(spec, words::spec_word(SpecWord::local));
    block::rs_remove_value(collected, words::word(Word::local), true);
    block::rs_append_block(spec, collected);
}

// Library code keeps its words to itself: every global word that its body sets, or that its loops
// take, becomes a local of the spec, so that calling a library function never changes a word of the
// caller. A global that a library function means to set is set with `set 'word`.
void add_library_locals(const Cell& spec, const Cell& body) {
    Cell* collected = block::push_only_s(8);
    Collection collection{spec_words(spec, false), *collected, true};
    collect_from(body, collection);
    if (!series::rs_tail_q(*collected)) extend_spec(spec, *collected);
    stack::pop(1);
}

// The blocks of a library function's body are library code, down to those of the functions it makes
// when it runs (their bodies are copies of its blocks): errors name the user's code that called into
// them instead.
bool library_code_q(const Cell& code) { return mem::buffer(code.node())->flags & kSeriesLibrary; }

void mark_library_code(const Cell& code) {
    if (cycles::find_q(code.node())) return;
    cycles::Scope scope(code);
    mem::buffer(code.node())->flags |= kSeriesLibrary;
    for (uint32_t i = 0; i < length_of(code); i++) {
        Cell value = at(code, i);
        if (is_a(value.type(), TypeClass::any_block)) mark_library_code(value);
    }
}

// ---- actions ----

const Cell* make(Cell*, Cell* spec, Type) {
    if (!spec->is(Type::Block) || block::rs_length_q(*spec) < 2) refuse(*spec);
    Cell* parts = stack::push(at(*spec, spec->head()));
    stack::push(at(*spec, spec->head() + 1));
    if (!parts[0].is(Type::Block)) refuse(*spec);
    uint32_t flags = validate(parts[0]);
    if (!parts[1].is(Type::Block)) refuse(*spec);
    push(parts[0], parts[1], 0, 0, 0, flags);
    return stack::top - 1;
}

void reflect(Cell* value, int32_t field) {
    if (field_q(field, Sym::spec)) {
        stack::set_last(
            *block::clone(spec_of(*value), block::Nested::blocks));  // a change of it must not reach the calls
    } else if (field_q(field, Sym::body)) {
        stack::set_last(*extra(*value, kBody));
    } else if (field_q(field, Sym::words)) {
        // The word table's words are bound to the context at their positions already.
        Cell words = Cell::of(Type::Block).set_node(_context::words_node(value->context()));
        stack::set_last(*block::clone(words, block::Nested::shared));
    } else {
        fire(Err::internal_not_done);
    }
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) { return write(buffer, "?function?", part); }

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    part = write(buffer, "func ", part);
    part = mold_copy(spec_of(*value), buffer, options.inner(), part, indent);
    if (!extra(*value, kBody)->is(Type::Block)) return write(buffer, " none", part);
    return mold_copy(*extra(*value, kBody), buffer, options.inner(), part, indent);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (value1->type() != value2->type()) return kNotComparable;
    return compare_identities(int32_t(value1->extras()), int32_t(value2->extras()), op);
}

// A routine's form is charged the budget of a function's.
int32_t form_routine(Cell*, Cell* buffer, Cell*, int32_t part) {
    string::concatenate_literal(buffer, "?routine?", 9);
    return part - 10;
}

int32_t mold_routine(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    part = write(buffer, "routine ", part);
    part = mold_copy(spec_of(*value), buffer, options.inner(), part, indent);
    if (!extra(*value, kBody)->is(Type::Block)) part = write(buffer, " ", part);
    return mold_copy(*extra(*value, kBody), buffer, options.inner(), part, indent);
}

}  // namespace

void init() {
    datatype::register_(Type::Function, {
                                            implements<Act::make>(make),
                                            implements<Act::reflect>(reflect),
                                            implements<Act::form>(form),
                                            implements<Act::mold>(mold),
                                            implements<Act::compare>(compare),
                                        });
    datatype::register_(Type::Routine, {
                                           inherits<Act::reflect>(),
                                           implements<Act::form>(form_routine),
                                           implements<Act::mold>(mold_routine),
                                           inherits<Act::compare>(),
                                       });
}

Node push(const Cell& spec, const Cell& body, Node context, uint32_t code, uint32_t code2, uint32_t flags) {
    Cell* result = stack::push(spec);  // the spec until the function replaces it
    Cell* body_copy = stack::push(body);
    // The spec is read again at the first call: a change of the given block must not reach it.
    *result = *block::clone(*result, block::Nested::blocks);
    if (!body_copy->is(Type::None)) *body_copy = *block::clone(*body_copy, block::Nested::code);
    Cell* extras = push_extras(*body_copy, code_cell(code), code_cell(code2));
    bool own_context = context == 0;
    bool library = body_copy->is(Type::Block) && (building_library || library_code_q(body));
    if (library) mark_library_code(*body_copy);
    if (own_context && building_library && library) add_library_locals(*result, *body_copy);
    if (own_context) context = _context::make(*result);
    if (building_library) flags |= kCompiled;
    Cell function =
        Cell::of(Type::Function, flags).set_context(context).set_spec(result->node()).set_extras(extras->node());
    *_context::self_cell(context) = function;
    if (own_context && !body_copy->is(Type::None)) _context::bind(*body_copy, context, false);
    *result = function;
    stack::top = result + 1;
    return context;
}

// A block is a type block only right after an argument or return:. Anywhere else the default case
// refuses it, and with it every value that may not follow a doc string, a refinement or a return
// declaration.
uint32_t validate(const Cell& spec) {
    uint32_t i = spec.head(), end = length_of(spec);
    int32_t flags = 0;
    if (i < end && at(spec, i).is(Type::Block)) {
        flags = spec_flags(at(spec, i++));
        if (flags < 0) refuse(spec);
    }
    bool return_seen = false, local_seen = false;
    for (; i < end; i++) {
        Cell value = at(spec, i);
        bool types_follow = i + 1 < end && at(spec, i + 1).is(Type::Block);
        switch (value.type()) {
        case Type::Word:
        case Type::LitWord:
        case Type::GetWord:
            if (local_seen && !value.is(Type::Word)) refuse(spec);  // locals are plain words
            if (return_seen && !local_seen) refuse(spec);           // arguments come before return:
            if (types_follow) check_types(at(spec, ++i));
            break;
        case Type::SetWord:
            if (!same_symbol(value.symbol(), words::id(Sym::return_)) || return_seen || local_seen || !types_follow)
                refuse(spec);
            return_seen = true;
            i++;
            break;
        case Type::Refinement:
            if (spec_refinement_q(value, SpecWord::local))
                local_seen = true;
            else if (local_seen || return_seen)
                refuse(spec);
            break;
        case Type::String: break;
        default: refuse(spec);
        }
    }
    check_duplicates(spec);
    return uint32_t(flags);
}

int32_t spec_flags(const Cell& attributes) {
    int32_t flags = 0;
    for (uint32_t i = attributes.head(); i < length_of(attributes); i++) {
        Cell value = at(attributes, i);
        if (!value.is(Type::Word)) return -1;
        if (is_word_named(value, Sym::trace)) flags |= kTrace;
        if (is_word_named(value, Sym::no_trace)) flags |= kNoTrace;
    }
    return flags;
}

void check_types(const Cell& types) {
    for (uint32_t i = types.head(); i < length_of(types); i++) {
        Cell element = at(types, i);
        if (!type_specifier_q(element)) fire_with(Err::script_invalid_type_spec, element);
    }
}

void check_duplicates(const Cell& spec) {
    Symbols seen;
    for (uint32_t i = spec.head(); i < length_of(spec); i++) {
        Cell word = at(spec, i);
        if (is_a(word.type(), TypeClass::all_word) && !seen.insert(symbol::resolve(word.symbol())).second)
            fire_with(Err::script_dup_vars, word);
    }
}

int32_t count_locals(const Cell& spec, uint32_t start, bool need_local) {
    for (uint32_t i = spec.head() + start; i < length_of(spec); i++) {
        if (!spec_refinement_q(at(spec, i), SpecWord::local)) continue;
        int32_t count = 1;
        for (uint32_t j = i + 1; j < length_of(spec); j++) count += at(spec, j).is(Type::Word);
        return count;
    }
    return need_local ? -1 : 0;
}

void init_locals(int32_t count) {
    logic::push(false);
    for (int32_t i = 1; i < count; i++) none::push();
}

Cell* collect_words(const Cell& spec, const Cell& body) {
    Cell* result = stack::push(spec);  // the spec until the collected words replace it
    Cell* walked = stack::push(body);
    Cell* collected = block::push_only_s(8);
    int64_t externs = find_refinement(*result, SpecWord::extern_);
    Collection collection{spec_words(*result, externs >= 0), *collected, false};
    if (externs >= 0) {
        collect_declared_locals(*result, uint32_t(externs) + 1, *collected);
        block::rs_clear_at(*result, uint32_t(externs));
    }
    collect_from(*walked, collection);
    if (!series::rs_tail_q(*collected)) extend_spec(*result, *collected);
    *result = *collected;
    stack::top = result + 1;
    return result;
}

Cell spec_of(const Cell& value) { return Cell::of(Type::Block).set_node(value.spec()); }

BufPtr<Cell> extra(const Cell& function, Extra which) {
    return block::rs_abs_at(Cell::of(Type::Block).set_node(function.extras()), which);
}

int32_t mold_copy(const Cell& value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    Cell* saved = stack::top;
    Cell* copy = stack::push(value);
    part = actions::call<Act::mold>(copy, buffer, options, part, indent);
    stack::top = saved;
    return part;
}

bool field_q(int32_t symbol, Sym field) { return same_symbol(uint32_t(symbol), words::id(field)); }

bool spec_refinement_q(const Cell& value, SpecWord name) {
    return value.is(Type::Refinement) && same_symbol(value.symbol(), words::spec_word(name).symbol());
}

int32_t compare_identities(int32_t identity1, int32_t identity2, int32_t op) {
    switch (op) {
    case kCompareEqual:
    case kCompareNotEqual:
    case kCompareStrictEqual:
    case kCompareSort:
    case kCompareCaseSort:
    case kCompareSame:
    case kCompareFind: return (identity1 > identity2) - (identity1 < identity2);
    default: return kNotComparable;
    }
}

}  // namespace oka::function

namespace oka::routine {

Cell* push(const Cell& spec, const Cell& body, uint32_t code, int32_t return_type, bool unconverted) {
    Cell* result = stack::push(spec);  // the spec until the routine replaces it
    Cell* body_slot = stack::push(body);
    Cell* extras =
        function::push_extras(*body_slot, function::integer_of(int32_t(code)), function::integer_of(return_type));
    Node context = _context::make(*result);
    *result = Cell::of(Type::Routine, unconverted ? kUnconverted : 0)
                  .set_context(context)
                  .set_spec(result->node())
                  .set_extras(extras->node());
    count_args(result);
    stack::top = result + 1;
    return result;
}

void count_args(Cell* routine) {
    Cell spec = function::spec_of(*routine);
    uint32_t count = 0;
    for (uint32_t i = 0; i < series::rs_buffer_length_q(spec); i++) count += block::rs_abs_at(spec, i)->is(Type::Word);
    OKA_ASSERT(count <= kArityMask);
    routine->header = (routine->header & ~(kArityMask << kArityShift)) | count << kArityShift;
}

uint32_t get_arity(const Cell& routine) { return routine.header >> kArityShift & kArityMask; }

}  // namespace oka::routine
