#include "datatypes/object.h"

#include <algorithm>
#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/interpreter.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/image_state.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::object {

namespace {

uint32_t last_class_id = 0;

// ---- fields ----

Node values_node(Node context) { return _context::context_cell(context)->values(); }

BufPtr<Cell> values_of(Node context) { return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(values_node(context))->offset)); }

uint32_t field_count(Node context) { return _context::word_count(context); }

uint32_t canonical(uint32_t symbol) { return symbol::resolve(symbol); }
bool named_q(uint32_t symbol, uint32_t name) { return canonical(symbol) == canonical(name); }
bool named_q(uint32_t symbol, Sym name) { return named_q(symbol, words::id(name)); }
bool named_q(uint32_t symbol, Word name) { return named_q(symbol, words::word(name).symbol()); }

// A copy of a field's word-table entry without the mark of an assigned field.
Cell entry_at(Node context, uint32_t position, Type type) {
    Cell word = *_context::word_at(context, position);
    word.header = uint8_t(type);
    return word;
}

void fill_unset_values(Node context) {
    while (mem::buffer(values_node(context))->length() < field_count(context))
        unset::make_at(alloc::alloc_tail_cell(values_node(context)).get());
}

// After make evaluated its spec: no field counts as assigned, and no value starts a new line.
void settle_fields(Node context) {
    for (uint32_t i = 0; i < field_count(context); i++) {
        _context::word_at(context, i)->header &= ~_context::kFieldSet;
        values_of(context)[i].clear_new_line();
    }
}

[[noreturn]] void fire_with(Err id, const Cell& value) {
    Cell copy = value;
    fire(id, &copy);
}

// ---- the handler record ----

enum Handler : uint32_t { kOnChange, kOnDeepChange, kHandlerCount };
constexpr Word kHandlerWords[kHandlerCount] = {Word::on_change_s, Word::on_deep_change_s};

constexpr uint32_t kRecordCells = 2 * kHandlerCount;  // the two descriptions, then the two spec blocks
constexpr uint32_t kPositionShift = 16;
constexpr uint32_t kNoHandler = 0xFFFF;  // the position of a missing handler

Node record_of(Node context) { return _context::self_cell(context)->handlers(); }

BufPtr<Cell> record_cell(Node record, uint32_t index) {
    return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(record)->offset) + index);
}

uint32_t handler_position(Node record, Handler h) { return uint32_t(record_cell(record, h)->x()) >> kPositionShift; }

// The record packs a position and a locals count into 16 bits each.
uint32_t pack(uint32_t position, int32_t locals, Handler h) {
    if (position >= kNoHandler || uint32_t(locals) > 0xFFFF)
        fire(Err::internal_limit_hit, &words::word(kHandlerWords[h]));
    return position << kPositionShift | uint32_t(locals);
}

int32_t locals_of(const Cell& handler) { return function::count_locals(function::spec_of(handler), 0, false); }

Cell description(int32_t position, const Cell& handler, Handler h) {
    if (position < 0) return Cell::of(Type::Pair).set_x(kNoHandler << kPositionShift);
    return Cell::of(Type::Pair).set_x(pack(uint32_t(position), locals_of(handler), h)).set_y(handler.spec());
}

Cell spec_reference(int32_t position, const Cell& handler) {
    return position < 0 ? none::value : function::spec_of(handler);
}

// The positions of the handler fields, the last of each name winning; -1 for a missing one.
void find_handlers(Node context, int32_t positions[kHandlerCount]) {
    positions[kOnChange] = positions[kOnDeepChange] = -1;
    for (uint32_t i = 0; i < field_count(context); i++) {
        uint32_t symbol = _context::word_at(context, i)->symbol();
        for (Handler h : {kOnChange, kOnDeepChange})
            if (named_q(symbol, kHandlerWords[h])) positions[h] = int32_t(i);
    }
}

// The value of a handler field (none for a missing one), which must be a function! or routine!.
Cell handler_at(Node context, int32_t position, Handler h) {
    if (position < 0) return none::value;
    Cell handler = values_of(context)[position];
    if (handler.is(Type::Function) || handler.is(Type::Routine)) return handler;
    Cell datatype;
    datatype::make_at(&datatype, handler.type());
    fire(Err::script_bad_field_set, &words::word(kHandlerWords[h]), &datatype);
}

bool handler_field_q(Node context, uint32_t position) {
    uint32_t symbol = _context::word_at(context, position)->symbol();
    return named_q(symbol, Word::on_change_s) || named_q(symbol, Word::on_deep_change_s);
}

// A handler replaced since the record was computed: its locals count and spec take the new one's.
void refresh(Node record, Handler h, const Cell& handler) {
    BufPtr<Cell> described = record_cell(record, h);
    if (Node(described->y()) == handler.spec()) return;
    described->set_x(pack(uint32_t(described->x()) >> kPositionShift, locals_of(handler), h));
    described->set_y(handler.spec());
    *record_cell(record, kHandlerCount + h) = function::spec_of(handler);
}

// Runs a handler on the argument cells from `arguments` to the top of the data stack; `handler` is a
// data-stack cell just below them, which keeps it alive while it runs.
void call_handler(Cell* handler, Cell* arguments, Handler h) {
    interpreter::call_handler(*handler, arguments, uint32_t(stack::top - arguments), kHandlerWords[h]);
    stack::top = handler;
}

// Calls on-change*; the cells are fixed.
void fire_on_set(Node context, const Cell& word, const Cell& old_value, const Cell& new_value) {
    Node record = record_of(context);
    uint32_t position = handler_position(record, kOnChange);
    if (position == kNoHandler) return;
    Cell* handler = stack::push(values_of(context)[position]);
    if (!handler->is(Type::Function)) fire(Err::script_invalid_obj_evt, handler);
    refresh(record, kOnChange, *handler);
    Cell* arguments = stack::push(word);
    if (arguments->context() != context) _context::bind_word(context, arguments);  // a word of the object
    stack::push(old_value);
    stack::push(new_value);
    call_handler(handler, arguments, kOnChange);
}

// Calls on-deep-change* for a change of a series the owner's field `word` holds.
void fire_on_deep(const Cell& owner, const Cell& word, const Cell& target, const Cell& action, const Cell& new_value,
                  int32_t index, int32_t count) {
    Node context = owner.context();
    Node record = record_of(context);
    if (!record) fire_with(Err::script_invalid_obj_evt, owner);
    uint32_t position = handler_position(record, kOnDeepChange);
    if (position == kNoHandler || !values_of(context)[position].is(Type::Function)) return;
    Cell* handler = stack::push(values_of(context)[position]);
    refresh(record, kOnDeepChange, *handler);
    Cell* arguments = stack::push(owner);
    for (const Cell* cell : {&word, &target, &action, &new_value}) stack::push(*cell);
    integer::push(index);
    integer::push(count);
    call_handler(handler, arguments, kOnDeepChange);
}

// ---- copies ----

// Pushes a value and its copy (made by its copy action) and returns the copy.
const Cell* copy_of(const Cell& value, bool deep, const Cell* types) {
    Cell* source = stack::push(value);
    Cell* kinds = types ? stack::push(*types) : nullptr;
    return actions::call<Act::copy>(source, unset::push(), CopyOptions{.deep = deep, .types = kinds});
}

bool in_types(Type type, const Cell& types) {
    return types.is(Type::Datatype) ? types.named_type() == type : typeset::has_q(types, type);
}

// Replaces each field value that `wanted` selects by its copy.
template <class Wanted>
void copy_fields(Node context, bool deep, const Cell* types, Wanted wanted) {
    for (uint32_t i = 0; i < field_count(context); i++) {
        if (!wanted(values_of(context)[i].type())) continue;
        Cell* saved = stack::top;
        const Cell* copy = copy_of(values_of(context)[i], deep, types);
        values_of(context)[i] = *copy;
        stack::top = saved;
    }
}

// The typed copy: the values of those types that can be copied. A deep one keeps the source on the
// cycle stack, so that a value holding the source again cannot be copied without end.
void copy_typed(const Cell& source, Node context, bool deep, const Cell& types) {
    auto wanted = [&](Type type) { return in_types(type, types) && datatype::action_entry(type, Act::copy); };
    if (!deep) {
        copy_fields(context, false, &types, wanted);
        return;
    }
    if (cycles::find_q(source.context())) {
        cycles::reset();
        fire(Err::internal_no_cycle);
    }
    cycles::Scope entered(source);
    copy_fields(context, true, &types, wanted);
}

// A copy of a function whose body is rebound to the object's context and then to a context of its
// own; it runs that body, not compiled code. The cell is fixed.
void clone_function(Cell* function, Node object_context) {
    Cell body = *function::extra(*function, function::kBody);
    if (!body.is(Type::Block)) fire_with(Err::script_bad_func_def, *function);
    Cell* saved = stack::top;
    Node context = _context::clone(function, _context::kFunction);
    function::push(function::spec_of(*function), body, context, 0, 0,
                   function->header & (function::kTrace | function::kNoTrace));
    Cell* made = stack::top - 1;
    Cell copy = *function::extra(*made, function::kBody);
    _context::bind(copy, object_context, true);
    _context::bind(copy, context, false);
    *function = *made;
    stack::top = saved;
}

void clone_functions(Node context) {
    for (uint32_t i = 0; i < field_count(context); i++) {
        if (!values_of(context)[i].is(Type::Function)) continue;
        Cell* function = stack::push(values_of(context)[i]);
        clone_function(function, context);
        values_of(context)[i] = *function;
        stack::pop(1);
    }
}

// The series of `source`'s fields, deep-copied into the same positions of `target`; the block-like
// ones are bound to it.
void copy_series(Node source, Node target) {
    for (uint32_t i = 0; i < field_count(source); i++) {
        Type type = values_of(source)[i].type();
        if (!is_a(type, TypeClass::series)) continue;
        Cell* saved = stack::top;
        const Cell* copy = copy_of(values_of(source)[i], true, nullptr);
        if (is_a(type, TypeClass::any_block)) _context::bind(*copy, target, true);
        values_of(target)[i] = *copy;
        stack::top = saved;
    }
}

// Copies every field of `source` into `target`, adding the missing ones, then gives the target copies
// of its series and of its functions; true when the target grew.
bool extend(Node target, const Cell& source) {
    Cell* saved = stack::top;
    Cell* from = stack::push(source);
    uint32_t before = field_count(target);
    for (uint32_t i = 0; i < field_count(from->context()); i++) {
        Cell* word = stack::push(*_context::word_at(from->context(), i));
        Cell* value = stack::push(values_of(from->context())[i]);
        _context::set_or_add(target, *word, *value);
        stack::top = word;
    }
    copy_series(target, target);
    clone_functions(target);
    stack::top = saved;
    return field_count(target) > before;
}

// ---- construction ----

// The object make starts from: a copy of the prototype, or an empty object. The copy keeps the
// prototype's handler record, so the spec's assignments reach its (rebound) on-change* like any other.
Cell* start(const Cell& prototype) {
    Cell* result = unset::push();
    if (prototype.is(Type::Datatype)) return make_at(result, 4);
    return clone_object(prototype, result, false, nullptr, true);
}

// A new class id unless the object kept the prototype's words.
void finish(Cell* result, const Cell& prototype, bool grew) {
    if (grew || !prototype.is(Type::Object)) result->set_class_id(get_new_id());
    attach_events(result);
}

// The spec's set-words become fields, the spec is bound to the object and evaluated; the prototype's
// series are copied and bound to the new object before.
const Cell* make_from_block(Cell* prototype, const Cell& spec) {
    Cell* result = start(*prototype);
    Node context = result->context();
    Cell* code = stack::push(spec);
    bool grew = _context::collect_set_words(context, code);
    _context::bind(*code, context, true);
    if (prototype->is(Type::Object)) copy_series(prototype->context(), context);
    interpreter::eval_block(*code, false);
    settle_fields(context);
    finish(result, *prototype, grew);
    stack::top = result + 1;
    return result;
}

const Cell* make_from_object(Cell* prototype, const Cell& spec) {
    Cell* result = start(*prototype);
    finish(result, *prototype, extend(result->context(), spec));
    stack::top = result + 1;
    return result;
}

bool named_constant_q(const Cell& word, std::initializer_list<Sym> names) {
    for (Sym name : names)
        if (named_q(word.symbol(), name)) return true;
    return false;
}

// A construct value as it is, but the words true, yes, on, false, no, off and none for their values.
Cell constant_of(const Cell& value) {
    if (!value.is(Type::Word)) return value;
    if (named_constant_q(value, {Sym::true_, Sym::yes, Sym::on})) return logic::true_value;
    if (named_constant_q(value, {Sym::false_, Sym::no, Sym::off})) return logic::false_value;
    if (named_constant_q(value, {Sym::none})) return none::value;
    return value;
}

// construct's fields; true when fields were added.
bool collect_values(Node context, const Cell& spec, bool only) {
    Cell* code = stack::push(spec);
    uint32_t before = field_count(context), length = series::rs_buffer_length_q(*code);
    for (uint32_t i = 0; i < length; i++) {
        if (!block::rs_abs_at(*code, i)->is(Type::SetWord)) continue;
        uint32_t at = i + 1;
        while (at < length && block::rs_abs_at(*code, at)->is(Type::SetWord)) at++;
        Cell* word = stack::push(*block::rs_abs_at(*code, i));
        Cell* value = stack::push(at < length ? *block::rs_abs_at(*code, at) : none::value);
        if (!only) *value = constant_of(*value);
        _context::set_or_add(context, *word, *value);
        stack::top = word;
    }
    stack::top = code;
    return field_count(context) > before;
}

// ---- set ----

// An unset value given to the field at `position` raises script need-value.
void refuse_unset_at(Node context, uint32_t position, const Cell& given) {
    if (given.is(Type::Unset)) fire_with(Err::script_need_value, *_context::word_at(context, position));
}

// A block's values from its head, or an object's values, beside the fields: none may be unset.
void refuse_unset(Node context, const Cell& value) {
    bool block = value.is(Type::Block);
    uint32_t available = block ? series::rs_length_q(value) : field_count(value.context());
    for (uint32_t i = 0; i < std::min(field_count(context), available); i++)
        refuse_unset_at(context, i, block ? *block::rs_abs_at(value, value.head() + i) : values_of(value.context())[i]);
}

// ---- mold ----

int32_t write(Cell* buffer, const char* text, int32_t part) { return string::write_token(buffer, text, false, part); }

// A field as name: value, a word! value written as a lit-word so that the text loads back to it.
int32_t write_field(Node context, uint32_t position, Cell* buffer, const MoldOptions& options, int32_t part,
                    int32_t indent) {
    Cell* name = stack::push(entry_at(context, position, Type::SetWord));
    part = actions::call<Act::mold>(name, buffer, options.inner(), part, indent);
    part = write(buffer, " ", part);
    Cell* value = stack::push(values_of(context)[position]);
    if (value->is(Type::Word)) value->set_type(Type::LitWord);
    part = actions::call<Act::mold>(value, buffer, options.inner(), part, indent);
    stack::top = name;
    return part;
}

// The fields between the brackets: on lines of their own one level deeper than the object, one space
// apart when flat, or (only) one line each without indentation.
int32_t write_fields(Node context, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    bool first = true;
    for (uint32_t i = 0; i < field_count(context); i++) {
        if (!options.all && handler_field_q(context, i)) continue;
        if (part <= 0) break;
        if (options.flat || options.only) {
            if (!first) part = write(buffer, options.flat ? " " : "\n", part);
        } else {
            part = block::write_indent(buffer, indent + 1, part);
        }
        part = write_field(context, i, buffer, options, part, indent + 1);
        if (!options.flat && !options.only) part = write(buffer, "\n", part);
        first = false;
    }
    return part;
}

// ---- path access ----

bool path_key_q(const Cell& element) { return is_a(element.type(), TypeClass::any_word); }

// The field an element names, the element bound to it when found.
int32_t field_of(Node context, Cell* element) {
    if (element->context() == context && element->position() >= 0) return element->position();
    return _context::bind_word(context, element);
}

const Cell* missing(Cell* path, Cell* element, bool get, bool last) {
    if (get && last) return &unset::value;
    Cell whole = path ? *path : none::value;
    fire(last ? Err::script_invalid_path : Err::script_unset_path, &whole, element);
}

// ---- actions ----

const Cell* make(Cell* prototype, Cell* spec, Type) {
    switch (spec->type()) {
    case Type::Block: return make_from_block(prototype, *spec);
    case Type::Object: return make_from_object(prototype, *spec);
    default: fire(Err::syntax_malconstruct, spec);
    }
}

// A block of the fields' words (only the assigned ones with `changed`), of the given word type.
Cell* push_words(Node context, bool changed, Type type) {
    Cell* words = block::push_only_s(int32_t(field_count(context)));
    for (uint32_t i = 0; i < field_count(context); i++) {
        if (changed && !(_context::word_at(context, i)->header & _context::kFieldSet)) continue;
        block::rs_append(*words, entry_at(context, i, type));
    }
    return words;
}

void reflect(Cell* value, int32_t field) {
    Node context = value->context();
    auto symbol = uint32_t(field);
    if (named_q(symbol, Word::changed))
        stack::set_last(*push_words(context, true, Type::Word));
    else if (named_q(symbol, Sym::class_))
        integer::box(int32_t(value->class_id()));
    else if (named_q(symbol, Sym::words))
        stack::set_last(*push_words(context, false, Type::Word));
    else if (named_q(symbol, Sym::values))
        stack::set_last(*block::clone(Cell::of(Type::Block).set_node(values_node(context)), block::Nested::shared));
    else if (named_q(symbol, Sym::body))
        stack::set_last(*push_body(context));
    else if (named_q(symbol, Sym::owner))
        logic::box(_context::context_cell(context)->header & ownership::kOwnerFlag);
    else if (named_q(symbol, Sym::events_q))
        logic::box(record_of(context) != 0);
    else
        fire(Err::internal_not_done);
}

int32_t form(Cell* value, Cell* buffer, Cell* limit, int32_t part) {
    return mold_fields(value, buffer, nullptr, MoldOptions{.only = true, .limit = limit}, part, 0);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    return mold_fields(value, buffer, "make object! [", options, part, indent);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Object)) return kNotComparable;
    return compare_fields(value1, value2, op);
}

const Cell* copy(Cell* value, Cell* result, const CopyOptions& options) {
    if (options.part) {  // an object has no part to take: the error names the refinement /part
        Cell refinement = word::load_as(Type::Refinement, "part");
        fire(Err::script_invalid_refine_arg, &refinement, options.part);
    }
    clone_object(*value, result, options.deep, options.types, false);
    attach_events(result);
    return result;
}

const Cell* select(Cell* object, Cell* key, const SelectOptions&) {
    if (!path_key_q(*key)) error::fire_on_type(Err::script_invalid_type, key->type());
    return rs_select(*object, key->symbol());
}

const Cell* put(Cell* object, Cell* key, Cell* value, bool) {
    if (!key->is(Type::Word)) error::fire_on_type(Err::script_invalid_key_type, key->type());
    return eval_path(object, key, value, EvalPathOptions{.last = true, .notify = true});
}

// changed with none clears the marks of assigned fields; owner makes the object own the series of its
// fields; owned with none drops the object's ownership, with [owner word] gives it to an owner.
const Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    if (!is_a(field->type(), TypeClass::all_word)) fire(Err::script_invalid_arg, field);
    Node context = target->context();
    if (named_q(field->symbol(), Word::changed)) {
        if (!value->is(Type::None)) fire(Err::script_invalid_arg, value);
        for (uint32_t i = 0; i < field_count(context); i++)
            _context::word_at(context, i)->header &= ~_context::kFieldSet;
    } else if (named_q(field->symbol(), Sym::owner)) {
        ownership::bind_value(*target, *target, none::value);
    } else if (named_q(field->symbol(), Sym::owned) && value->is(Type::None)) {
        ownership::unbind(*target);
    } else if (named_q(field->symbol(), Sym::owned) && value->is(Type::Block)) {
        uint32_t length = series::rs_length_q(*value);
        Cell owner = length > 0 ? *block::rs_abs_at(*value, value->head()) : none::value;
        Cell word = length > 1 ? *block::rs_abs_at(*value, value->head() + 1) : none::value;
        if (!owner.is(Type::Object)) fire_with(Err::script_invalid_arg, owner);
        ownership::bind_value(*target, owner, word);
    } else if (named_q(field->symbol(), Sym::owned)) {
        fire(Err::script_invalid_arg, value);
    } else {
        fire(Err::internal_not_done);
    }
    return value;
}

}  // namespace

// Set-word and value pairs that load back to the object: words as lit-words, paths as lit-paths.
Cell* push_body(Node context) {
    Cell* body = block::push_only_s(int32_t(2 * field_count(context)));
    for (uint32_t i = 0; i < field_count(context); i++) {
        Cell name = entry_at(context, i, Type::SetWord);
        name.header |= kCellNewLine;
        block::rs_append(*body, name);
        Cell value = values_of(context)[i];
        if (value.is(Type::Word)) value.set_type(Type::LitWord);
        if (value.is(Type::Path)) value.set_type(Type::LitPath);
        block::rs_append(*body, value);
    }
    return body;
}

void init() {
    datatype::register_(Type::Object, {
                                          implements<Act::make>(make),
                                          implements<Act::reflect>(reflect),
                                          implements<Act::form>(form),
                                          implements<Act::mold>(mold),
                                          implements<Act::eval_path>(eval_path),
                                          implements<Act::compare>(compare),
                                          implements<Act::copy>(copy),
                                          implements<Act::put>(put),
                                          implements<Act::select>(select),
                                          implements<Act::modify>(modify),
                                      });
    ownership::fire_on_deep = fire_on_deep;
}

// The boot's objects took the ids before the next.
void keep_in_images() { image_state::keep(last_class_id); }

uint32_t get_new_id() { return ++last_class_id; }

Cell* make_at(Cell* cell, uint32_t size) {
    Node context = _context::create(size, _context::kHasSelf, 0, _context::kObject);
    *cell = Cell::of(Type::Object).set_context(context);
    *_context::self_cell(context) = *cell;
    return cell;
}

Cell* push(Node context, uint32_t class_id) {
    fill_unset_values(context);
    Cell* object = stack::push(Cell::of(Type::Object).set_context(context).set_class_id(class_id));
    *_context::self_cell(context) = *object;
    return object;
}

int32_t find_word(const Cell& object, uint32_t symbol) { return _context::find_word(object.context(), symbol, true); }

const Cell* rs_select(const Cell& object, uint32_t symbol) {
    int32_t position = find_word(object, symbol);
    if (position < 0) return &none::value;
    return get_values(object).get() + position;
}

BufPtr<Cell> get_word(Node context, uint32_t position) { return _context::word_at(context, position); }

BufPtr<Cell> get_values(const Cell& object) { return values_of(object.context()); }

uint32_t get_size(const Cell& object) { return field_count(object.context()); }

Cell field_of(const Cell& object, const char* name) {
    if (!is_a(object.type(), TypeClass::any_object)) return none::value;
    return *rs_select(object, symbol::make(name));
}

Cell* clone_object(const Cell& source, Cell* target, bool deep, const Cell* types, bool keep_events) {
    Cell* original = stack::push(source);
    *target = *original;
    if (!keep_events) target->set_handlers(0);
    Node context = _context::clone(target, _context::kObject);
    for (uint32_t i = 0; i < field_count(context); i++) {
        Cell value = values_of(original->context())[i];
        *alloc::alloc_tail_cell(values_node(context)) = value;
    }
    *_context::self_cell(context) = *target;
    if (types)
        copy_typed(*original, context, deep, *types);
    else if (deep)
        copy_fields(context, true, nullptr,
                    [](Type t) { return is_a(t, TypeClass::any_string) || is_a(t, TypeClass::any_block); });
    clone_functions(context);
    stack::top = original;
    return target;
}

Cell* construct(const Cell& spec, const Cell* prototype, bool only) {
    Cell* result = unset::push();
    if (prototype)
        clone_object(*prototype, result, true, nullptr, false);
    else
        make_at(result, 4);
    bool grew = collect_values(result->context(), spec, only);
    if (grew || !prototype) result->set_class_id(get_new_id());
    if (prototype)
        attach_events(result);
    else
        *_context::self_cell(result->context()) = *result;
    stack::top = result + 1;
    return result;
}

void set(const Cell& object, const Cell& value, bool any, bool only, bool some) {
    Cell* saved = stack::top;
    Cell* target = stack::push(object);
    Cell* source = stack::push(value);
    Node context = target->context();
    bool spread = !only && (source->is(Type::Block) || source->is(Type::Object));
    bool checked = spread && !any && !some;
    if (checked) refuse_unset(context, *source);
    for (uint32_t i = 0; i < field_count(context); i++) {
        Cell incoming = *source;
        if (spread && source->is(Type::Block)) {
            uint32_t at = source->head() + i;
            incoming = at < series::rs_buffer_length_q(*source) ? *block::rs_abs_at(*source, at) : none::value;
        } else if (spread) {
            int32_t position = find_word(*source, _context::word_at(context, i)->symbol());
            if (position < 0) continue;
            incoming = values_of(source->context())[position];
        }
        if (some && incoming.is(Type::None)) continue;
        // The handler an earlier field ran may have put an unset value into the source since the check.
        if (checked) refuse_unset_at(context, i, incoming);
        bool handler = handler_field_q(context, i);
        if (handler && !incoming.is(Type::Function) && !incoming.is(Type::Routine)) continue;
        Cell* word = stack::push(*_context::word_at(context, i));
        assign(context, i, *word, incoming, !handler);
        stack::top = word;
    }
    stack::top = saved;
}

void assign(Node context, uint32_t position, const Cell& word, const Cell& value, bool notify) {
    Cell* saved = stack::top;
    Cell* incoming = stack::push(value);
    _context::word_at(context, position)->header |= _context::kFieldSet;
    if (!notify || !record_of(context)) {
        values_of(context)[position] = *incoming;
        stack::top = saved;
        return;
    }
    Cell* name = stack::push(word);
    Cell* old_value = stack::push(values_of(context)[position]);
    values_of(context)[position] = *incoming;
    fire_on_set(context, *name, *old_value, *incoming);
    stack::top = saved;
}

void attach_events(Cell* object) {
    Node context = object->context();
    int32_t positions[kHandlerCount];
    find_handlers(context, positions);
    object->set_handlers(0);
    if (positions[kOnChange] >= 0 || positions[kOnDeepChange] >= 0) {
        Cell handlers[kHandlerCount] = {handler_at(context, positions[kOnChange], kOnChange),
                                        handler_at(context, positions[kOnDeepChange], kOnDeepChange)};
        Cell* record = block::push_only_s(kRecordCells);
        for (Handler h : {kOnChange, kOnDeepChange})
            block::rs_append(*record, description(positions[h], handlers[h], h));
        for (Handler h : {kOnChange, kOnDeepChange})
            block::rs_append(*record, spec_reference(positions[h], handlers[h]));
        object->set_handlers(record->node());
        stack::pop(1);
    }
    *_context::self_cell(context) = *object;
    if (positions[kOnDeepChange] >= 0) ownership::bind_value(*object, *object, none::value);
}

int32_t mold_fields(Cell* value, Cell* buffer, const char* header, const MoldOptions& options, int32_t part,
                    int32_t indent) {
    if (cycles::detect_q(*value, buffer, &part, header != nullptr)) return part;
    cycles::Scope entered(*value);
    if (!options.only) {
        part = write(buffer, header, part);
        if (!options.flat) part = write(buffer, "\n", part);
    }
    part = write_fields(value->context(), buffer, options, part, indent);
    if (options.only) return part;
    if (!options.flat) part = block::write_indent(buffer, indent, part);
    return write(buffer, "]", part);
}

int32_t compare_fields(Cell* value1, Cell* value2, int32_t op) {
    Node context1 = value1->context(), context2 = value2->context();
    if (context1 == context2) return 0;
    if (op == kCompareSame) return -1;
    if (cycles::find_q(context1)) return cycles::find_q(context2) ? 0 : -1;
    uint32_t count1 = field_count(context1), count2 = field_count(context2);
    if (count1 != count2) return count1 < count2 ? -1 : 1;
    cycles::Scope entered1(*value1), entered2(*value2);
    for (uint32_t i = 0; i < count1; i++) {
        uint32_t name1 = canonical(_context::word_at(context1, i)->symbol());
        uint32_t name2 = canonical(_context::word_at(context2, i)->symbol());
        if (name1 != name2) return name1 < name2 ? -1 : 1;
        int32_t result = block::compare_cells(values_of(context1)[i], values_of(context2)[i], op);
        if (result != 0) return result;
    }
    return 0;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    Cell* path = step.path;
    Cell whole = path ? *path : none::value;
    if (!path_key_q(*element)) fire(Err::script_invalid_path, &whole, element);
    Node context = parent->context();
    if (value && named_q(element->symbol(), Sym::self)) fire(Err::script_invalid_path, &whole, element);
    int32_t position = field_of(context, element);
    if (position < 0) return missing(path, element, step.get, step.last);
    if (value) {
        assign(context, uint32_t(position), *element, *value, true);
        return value;
    }
    const Cell* field = values_of(context).get() + position;
    if (field->is(Type::Unset)) return missing(path, element, step.get, step.last);
    return field;
}

}  // namespace oka::object
