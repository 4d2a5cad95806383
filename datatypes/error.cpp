#include "datatypes/error.h"

#include <algorithm>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system_objects.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/interpreter.h"
#include "runtime/collector.h"
#include "runtime/dispatch.h"
#include "runtime/registry.h"
#include "runtime/root.h"
#include "runtime/types.h"
#include "runtime/unicode.h"

namespace oka::error {

namespace {

constexpr const char* kFieldNames[kFieldCount] = {"code", "type", "id",    "arg1",  "arg2",
                                                  "arg3", "near", "where", "stack", "files"};

struct CategoryEntry {
    const char* word;
    const char* text;
};
constexpr CategoryEntry kCategoryEntries[] = {
#define OKA_ERROR_CATEGORY(Name, word, text, base) {word, text},
#include "runtime/errors.def"
};
struct ErrorEntry {
    int code;
    const char* word;
    const char* message;
};
constexpr ErrorEntry kErrorEntries[] = {
#define OKA_ERROR(Name, word, code, message) {code, word, message},
#include "runtime/errors.def"
};

// Errors made by the run-time share one class: the prototype's words in the prototype's order.
constexpr uint32_t kErrorClass = 1;

// A category object's fields: code and type, then one per error id.
constexpr uint32_t kFirstIdPosition = 2;

Cell catalog_object;
// The category objects as the catalogue was made. The run-time reads these rather than the catalogue's
// fields: an error's type word is a catalogue word, so a script can set that field to anything.
Cell categories[std::size(kCategoryEntries)];
Cell prototype;
bool ready = false;

// The errors that must be raised without allocating, and their values once made.
constexpr Err kReadyMade[] = {Err::internal_no_memory, Err::internal_stack_overflow};
Cell ready_made_errors[std::size(kReadyMade)];
const Cell& no_memory_error() { return ready_made_errors[0]; }

Cell plain_word(std::string_view name, Type type = Type::Word) {
    return Cell::of(type).set_symbol(symbol::make(name)).set_position(-1);
}

Cell* push_string(std::string_view text) {
    Node node = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    return stack::push(Cell::of(Type::String).set_node(node));
}

// A message as the catalogue notation writes it: a string, a word, or a block of strings and words.
Cell* push_message(std::string_view text) {
    if (text.front() == '"') return push_string(text.substr(1, text.size() - 2));
    if (text.front() != '[') return stack::push(plain_word(text));
    Cell* block = block::push_only_s(8);
    for (size_t i = 1; i < text.size() - 1;) {
        if (text[i] == ' ') {
            i++;
        } else if (text[i] == '"') {
            size_t close = text.find('"', i + 1);
            Cell* piece = push_string(text.substr(i + 1, close - i - 1));
            block::rs_append(*block, *piece);
            stack::pop(1);
            i = close + 1;
        } else {
            size_t end = text.find_first_of(" ]", i);
            bool get = text[i] == ':';
            block::rs_append(*block, plain_word(text.substr(i + get, end - i - get), get ? Type::GetWord : Type::Word));
            i = end;
        }
    }
    return block;
}

// An object on the data stack to which fields are added one by one.
Cell* push_object(uint32_t size) {
    Node context = _context::create(size, _context::kHasSelf, 0, _context::kObject);
    return object::push(context, object::get_new_id());
}

void add_field(Cell* object, std::string_view name, const Cell& value) {
    _context::set_or_add(object->context(), plain_word(name), value);
}

Cell* push_category(size_t index) {
    const CategoryEntry& category = kCategoryEntries[index];
    Cell* object = push_object(8);
    integer::push(int32_t(index * 100));
    add_field(object, "code", stack::top[-1]);
    push_string(category.text);
    add_field(object, "type", stack::top[-1]);
    for (const ErrorEntry& e : kErrorEntries) {
        if (size_t(e.code / 100) != index) continue;
        add_field(object, e.word, *push_message(e.message));
    }
    return object;
}

void make_prototype() {
    Cell* object = push_object(kFieldCount);
    for (const char* name : kFieldNames) add_field(object, name, none::value);
    prototype = *object;
    word::add_to_root(prototype);
}

Cell* category_object(size_t index) { return &categories[index]; }

// The category and id words of a catalogue entry: the words of the catalogue's own fields.
Cell category_word(size_t index) { return *object::get_word(catalog_object.context(), uint32_t(index)); }
Cell id_word(size_t category, uint32_t position) {
    return *object::get_word(category_object(category)->context(), position);
}

uint32_t field_count(const Cell& object) { return object::get_size(object); }

// A copy of the prototype, typed error!.
Cell* push_from_prototype() {
    Cell* error = object::clone_object(prototype, unset::push(), false, nullptr, false);
    error->header = uint8_t(Type::Error);
    error->set_class_id(kErrorClass);
    *_context::self_cell(error->context()) = *error;
    return error;
}

void set_code(Cell* error, size_t category, uint32_t position) {
    integer::make_at(field(*error, kCode).get(), int32_t(category * 100 + position - kFirstIdPosition));
}

// The code, type and id fields of an error of the catalogue.
void set_catalogue_entry(const Cell& error, Err id) {
    size_t category = size_t(category_of(id));
    integer::make_at(field(error, kCode).get(), int(id));
    *field(error, kType) = category_word(category);
    *field(error, kId) = id_word(category, uint32_t(int(id) % 100) + kFirstIdPosition);
}

// The block the interpreter is walking, at the expression it is on: where the error happened.
void set_near(const Cell& error) {
    const Cell& code = interpreter::current_code;
    if (code.is(Type::Block) || code.is(Type::Paren)) *field(error, kNear) = code;
}

// ---- make ----

[[noreturn]] void invalid_spec_field(const char* which) {
    Cell name = plain_word(which);
    fire(Err::script_invalid_spec_field, &name);
}

int32_t catalogue_index(const Cell& word) { return object::find_word(catalog_object, word.symbol()); }

// The position of the error id a symbol names in a category, or -1: code and type name no error.
int32_t id_position(int32_t category, uint32_t symbol) {
    int32_t position = object::find_word(*category_object(size_t(category)), symbol);
    return position < int32_t(kFirstIdPosition) ? -1 : position;
}

void make_from_code(Cell* error, const Cell& spec) {
    int32_t code = integer::get(spec);
    int32_t category = code / 100;
    if (code < 0 || category >= error::kCategoryCount) fire(Err::script_out_of_range, &spec);
    uint32_t position = uint32_t(code % 100) + kFirstIdPosition;
    if (position >= field_count(*category_object(size_t(category)))) fire(Err::script_out_of_range, &spec);
    *field(*error, kCode) = spec;
    *field(*error, kType) = category_word(size_t(category));
    *field(*error, kId) = id_word(size_t(category), position);
}

void make_from_words(Cell* error, const Cell& spec) {
    Cell* cells = mem::ptr<Cell>(mem::buffer(spec.node())->offset) + spec.head();
    uint32_t length = series::rs_length_q(spec);
    int32_t category = catalogue_index(cells[0]);
    if (category < 0) invalid_spec_field("type");
    Cell type = cells[0];
    if (length < 2) invalid_spec_field("id");
    Cell id = cells[1];
    if (!id.is(Type::Word)) fire(Err::script_invalid_arg, &id);
    int32_t position = id_position(category, id.symbol());
    if (position < 0) invalid_spec_field("id");
    *field(*error, kType) = type;
    *field(*error, kId) = id;
    set_code(error, size_t(category), uint32_t(position));
}

// The index of the category a field names, or -1; the position of the id a field names in it, or -1.
int32_t category_named(const Cell& type) { return type.is(Type::Word) ? catalogue_index(type) : -1; }
int32_t id_named(int32_t category, const Cell& id) {
    return id.is(Type::Word) ? id_position(category, id.symbol()) : -1;
}

// A block of set-words is evaluated in the new error's own context; the type and id it leaves there must
// name an entry of the catalogue.
void make_from_fields(Cell* error, const Cell& spec) {
    Cell* body = stack::push(spec);
    _context::bind(*body, error->context(), true);
    interpreter::eval_block(*body, false);
    stack::top = body;
    int32_t category = category_named(*field(*error, kType));
    if (category < 0) invalid_spec_field("type");
    int32_t position = id_named(category, *field(*error, kId));
    if (position < 0) invalid_spec_field("id");
    set_code(error, size_t(category), uint32_t(position));
}

const Cell* make(Cell*, Cell* spec, Type) {
    Cell given = *spec;
    Cell* error = push_from_prototype();
    switch (given.type()) {
    case Type::Integer: make_from_code(error, given); break;
    case Type::Block: {
        const Cell* first = series::rs_tail_q(given) ? nullptr : block::rs_head(&given).get();
        if (first && first->is(Type::Word))
            make_from_words(error, given);
        else if (first && first->is(Type::SetWord))
            make_from_fields(error, given);
        else
            fire(Err::internal_invalid_error);
        break;
    }
    case Type::String: {
        Cell* made = create(Err::user_message, &given, nullptr, nullptr);
        *error = *made;
        break;
    }
    default: error::fire_bad_make_arg(Type::Error, &given);
    }
    set_near(*error);
    return error;
}

// ---- the report ----

uint32_t text_length(const Cell& string) { return mem::buffer(string.node())->length(); }

// How append_cut shows a value: formed, or molded flat, with its outer brackets or without them.
enum class Shown : uint8_t { formed, molded, molded_only };

// Appends a value as `shown`, cut to `limit` characters.
void append_cut(Cell* buffer, const Cell& value, Shown shown, int32_t limit) {
    uint32_t start = text_length(*buffer);
    Cell* item = stack::push(value);
    Cell limit_cell;
    integer::make_at(&limit_cell, limit);
    if (shown != Shown::formed)
        actions::call<Act::mold>(item, buffer,
                                 MoldOptions{.only = shown == Shown::molded_only, .flat = true, .limit = &limit_cell},
                                 limit, 0);
    else
        actions::call<Act::form>(item, buffer, &limit_cell, limit);
    stack::pop(1);
    string::clip_tail(buffer, int32_t(std::min<int64_t>(int64_t(start) + limit, INT32_MAX)));
}

void append_text(Cell* buffer, const Cell& string) {
    Cell* item = stack::push(string);
    actions::call<Act::form>(item, buffer, nullptr, 0x7FFFFFFF);
    stack::pop(1);
}

void append_literal(Cell* buffer, std::string_view text) {
    string::concatenate_literal(buffer, text.data(), uint32_t(text.size()));
}

// An error whose type, id or message the catalogue does not know becomes internal/invalid-error, with
// the unknown word as its first argument.
void rewrite_invalid(const Cell& error, Field bad) {
    *field(error, kArg1) = *field(error, bad);
    size_t internal = size_t(ErrorCategory::Internal);
    *field(error, kType) = category_word(internal);
    *field(error, kId) = id_word(internal, uint32_t(int(Err::internal_invalid_error) % 100 + kFirstIdPosition));
}

// The catalogue's message for the error and the index of its category. A type or id that names no
// entry (a word the catalogue lacks, or no word at all) is first rewritten to internal/invalid-error.
Cell message_of(const Cell& error, int32_t* category) {
    *category = category_named(*field(error, kType));
    if (*category < 0) {
        rewrite_invalid(error, kType);
        *category = int32_t(ErrorCategory::Internal);
    }
    int32_t position = id_named(*category, *field(error, kId));
    if (position < 0) {
        rewrite_invalid(error, kId);
        *category = int32_t(ErrorCategory::Internal);
        position = id_named(*category, *field(error, kId));
    }
    return *(object::get_values(*category_object(size_t(*category))) + position);
}

// The message's pieces joined by single spaces; argument words give the error's arguments, formed for
// syntax errors and molded otherwise.
void form_message(Cell* buffer, const Cell& error, const Cell& message, bool syntax) {
    uint32_t length = series::rs_length_q(message);
    for (uint32_t i = 0; i < length; i++) {
        Cell piece = mem::ptr<Cell>(mem::buffer(message.node())->offset)[message.head() + i];
        if (piece.is(Type::String)) {
            append_text(buffer, piece);
        } else if (piece.is(Type::GetWord) || piece.is(Type::Word)) {
            Cell value = *object::rs_select(error, piece.symbol());
            append_cut(buffer, value, syntax ? Shown::formed : Shown::molded, 80);
        }
        if (i + 1 < length) append_literal(buffer, " ");
    }
}

// A field of system/state, none before start-up made it.
Cell state_field(Sym name) {
    const Cell& state = system_objects::references.state;
    return state.is(Type::Object) ? *object::rs_select(state, words::id(name)) : none::value;
}

// How deep reports name the calls of an error: system/state/stack-trace when it is an integer above 0,
// else 0 (no stack line).
int32_t stack_trace_level() {
    Cell level = state_field(Sym::stack_trace);
    return level.is(Type::Integer) && integer::get(level) > 0 ? integer::get(level) : 0;
}

// The names of the calls an error arose in, on the data stack: its stack field's block, or the names
// read from the frames at the call-stack position it holds (right after the throw, before a catch took
// them), or none.
Cell* push_call_names(const Cell& error, int32_t level) {
    Cell calls = *field(error, kStack);
    if (calls.is(Type::Integer)) return stack::push_trace_words(level, mem::ptr<stack::CallFrame>(Addr(calls.int32())));
    return stack::push(calls);
}

// The stack line, when stack lines are on and the error names calls: their names, separated by spaces,
// as many of the innermost ones as fit in a line, "..." standing for the others (a runaway recursion
// makes thousands).
constexpr uint32_t kStackLineWidth = 60;

void append_stack_line(Cell* buffer, const Cell& error) {
    int32_t level = stack_trace_level();
    if (level == 0) return;
    Cell* names = push_call_names(error, level);
    if (names->is(Type::Block) && !series::rs_tail_q(*names)) {
        Cell shown = *names;
        uint32_t width = 0;
        for (uint32_t at = series::rs_buffer_length_q(shown); at > names->head(); at--) {
            Cell name = *block::rs_abs_at(shown, at - 1);
            width += is_a(name.type(), TypeClass::any_word) ? uint32_t(symbol::name(name.symbol()).size()) + 1
                                                            : kStackLineWidth;
            if (width > kStackLineWidth + 1) break;
            shown.set_head(at - 1);
        }
        append_literal(buffer, shown.head() > names->head() ? "\n*** Stack: ... " : "\n*** Stack: ");
        append_cut(buffer, shown, Shown::formed, 0x7FFFFFFF);
    }
    stack::pop(1);
}

// An error that holds itself (as an argument formed in its message) is written "..." when met again.
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    if (cycles::detect_q(*value, buffer, &part, false)) return part;
    cycles::Scope entered(*value);
    Cell error = *value;
    uint32_t start = text_length(*buffer);
    append_literal(buffer, "*** ");
    int32_t category = 0;
    Cell message = message_of(error, &category);
    if (message.is(Type::Word)) message = *object::rs_select(error, message.symbol());
    append_text(buffer, *object::rs_select(*category_object(size_t(category)), words::id(Sym::type)));
    append_literal(buffer, ": ");
    switch (message.type()) {
    case Type::String: append_text(buffer, message); break;
    case Type::Block: form_message(buffer, error, message, category == int32_t(ErrorCategory::Syntax)); break;
    default: rewrite_invalid(error, kType);
    }
    append_literal(buffer, "\n*** Where: ");
    Cell where = *field(error, kWhere);
    if (where.is(Type::Word))
        append_cut(buffer, where, Shown::formed, 0x7FFFFFFF);
    else if (where.is(Type::String))
        append_text(buffer, where);
    else
        append_literal(buffer, "???");
    append_literal(buffer, "\n*** Near : ");
    append_cut(buffer, *field(error, kNear), Shown::molded_only, 40);
    append_stack_line(buffer, error);
    Cell files = *field(error, kFiles);
    if (files.is(Type::Block)) {
        append_literal(buffer, "\n*** Files: ");
        append_cut(buffer, files, Shown::molded_only, 40);
    }
    return part - int32_t(text_length(*buffer) - start);
}

// ---- the actions shared with object! ----

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    return object::mold_fields(value, buffer, "make error! [", options, part, indent);
}

// The stack field is the run-time's: it may be read once a catch turned the call-stack position it
// held into the names of the calls, and never set.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    if (element->is(Type::Word) && symbol::named_q(element->symbol(), Sym::stack)) {
        Cell whole = step.path ? *step.path : none::value;
        if (value) fire(Err::script_invalid_path_set, &whole);
        if (field(*parent, kStack)->is(Type::Integer)) fire(Err::script_invalid_path_get, &whole);
    }
    return object::eval_path(parent, element, value, step);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Error)) return kNotComparable;
    return object::compare_fields(value1, value2, op);
}

}  // namespace

void init() {
    datatype::register_(Type::Error, {
                                         implements<Act::make>(make),
                                         inherits<Act::reflect>(),
                                         implements<Act::form>(form),
                                         implements<Act::mold>(mold),
                                         implements<Act::eval_path>(eval_path),
                                         implements<Act::compare>(compare),
                                         inherits<Act::copy>(),
                                         inherits<Act::select>(),
                                     });
}

void make_catalog() {
    stack::Root keep(none::value);
    make_prototype();
    Cell* catalog = push_object(std::size(kCategoryEntries));
    for (size_t i = 0; i < std::size(kCategoryEntries); i++) {
        Cell* category = push_category(i);
        add_field(catalog, kCategoryEntries[i].word, *category);
        categories[i] = *category;
        word::add_to_root(categories[i]);
    }
    catalog_object = *catalog;
    word::add_to_root(catalog_object);
    for (size_t i = 0; i < std::size(kReadyMade); i++) {
        ready_made_errors[i] = *create(kReadyMade[i], nullptr, nullptr, nullptr);
        word::add_to_root(ready_made_errors[i]);
    }
    ready = true;
}

bool catalog_ready() { return ready; }

const Cell& catalog() { return catalog_object; }

Cell* create(Err id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    // The arguments may be the only references to their values: they wait on the data stack while the
    // error is made, in the cells the error then takes the place of.
    Cell* args = stack::top;
    uint32_t count = 0;
    for (const Cell* given : {arg1, arg2, arg3}) {
        if (!given) break;
        stack::push(*given);
        count++;
    }
    Cell* error = push_from_prototype();
    set_catalogue_entry(*error, id);
    for (uint32_t i = 0; i < count; i++) *field(*error, Field(kArg1 + i)) = args[i];
    set_near(*error);
    args[0] = *error;

    stack::top = args + 1;
    return args;
}

const Cell* ready_made(Err id) {
    const Err* made = std::find(std::begin(kReadyMade), std::end(kReadyMade), id);
    if (made == std::end(kReadyMade)) return nullptr;
    const Cell& error = ready_made_errors[made - kReadyMade];
    for (uint32_t f = 0; f < kFieldCount; f++) *field(error, Field(f)) = none::value;
    set_catalogue_entry(error, id);
    set_near(error);
    return &error;
}

BufPtr<Cell> field(const Cell& error, Field f) { return object::get_values(error) + f; }

void set_where(const Cell& error, const Cell& word) {
    if (field(error, kWhere)->is(Type::None)) *field(error, kWhere) = word;
}

uint32_t get_type(const Cell& error) { return field(error, kType)->symbol(); }
uint32_t get_id(const Cell& error) { return field(error, kId)->symbol(); }

void capture_stack(const Cell& error) {
    // Keeping the names takes memory, which the no-memory error has none of: a catch must still take it.
    if (error.context() == no_memory_error().context()) return;
    if (!field(error, kStack)->is(Type::Integer)) return;
    Cell* names = push_call_names(error, std::max(stack_trace_level(), 1));
    *field(error, kStack) = *names;
    Cell files = state_field(Sym::source_files);
    if (files.is(Type::Block) && !series::rs_tail_q(files))
        *field(error, kFiles) = *block::clone(files, block::Nested::shared);
    stack::pop(1);
}

Cell get_call_arg_word(int32_t n) {
    Cell name = stack::get_call_name();
    Cell value = name.context() ? *word::get_cell(name) : none::value;
    if (!is_a(value.type(), TypeClass::any_function)) return words::word(Word::anon_tag);
    BufPtr<SeriesBuffer> spec = mem::buffer(value.spec());
    int32_t count = 0;
    for (Cell* cell = mem::ptr<Cell>(spec->offset); cell < mem::ptr<Cell>(spec->tail); cell++) {
        switch (cell->type()) {
        case Type::Word:
        case Type::LitWord:
        case Type::GetWord:
        case Type::Refinement:
            if (count++ == n) return *cell;
            break;
        default: break;
        }
    }
    return words::word(Word::anon_tag);
}

}  // namespace oka::error

namespace oka::stack {

namespace {

uint32_t frame_symbol(Word w) { return words::word(w).symbol() & 0xFFFF; }

// Frames named <body> or <anon>, or by no word at all, are skipped when frames are named.
bool is_named(const CallFrame& f) {
    return f.symbol() != 0 && f.symbol() != frame_symbol(Word::body_tag) && f.symbol() != frame_symbol(Word::anon_tag);
}

// The word that names a frame, read in the context its name was bound to. A frame named self holds a
// series node there, not a context, and a name that was never bound reads as a global word.
Cell name_of(const CallFrame& f) {
    uint32_t symbol = f.symbol();
    if (symbol == words::id(Sym::self)) return Cell::of(Type::Word).set_symbol(symbol).set_position(-1);
    return word::find_in(f.name_context ? f.name_context : _context::global, symbol);
}

// True when the frame's name is worth showing at `level`: any name above level 1, else the user's
// functions (not the library's, whose calls the user did not write).
bool listed_at(int32_t level, const CallFrame& f) {
    if (!is_named(f)) return false;
    if (level > 1) return true;
    Cell name = name_of(f);
    // a name bound to a function's context whose call has ended has no value to read
    if (!name.context() || !_context::context_cell(name.context())->values()) return false;
    Cell value = *word::get_cell(name);
    return value.is(Type::Function) && !(value.header & function::kCompiled);
}

}  // namespace

Cell get_call_name() {
    CallFrame* f = saved_call_top ? saved_call_top : call_top;
    saved_call_top = nullptr;
    while (f > call_bottom) {
        --f;
        if (is_named(*f)) return name_of(*f);
    }
    return words::word(Word::not_found_tag);
}

Cell* push_trace_words(int32_t level, CallFrame* end) {
    // A context that only the unwound frames name must live while their names are read: no cycle runs
    // meanwhile. (Counting those frames as the call stack again would have an allocation that fails
    // here unroll through them.) Their records are intact, as no frame has been pushed since.
    collector::HeldOff held;
    Cell* names = block::push_only_s(20);
    for (CallFrame* f = call_bottom; f < end; f++)
        if (listed_at(level, *f)) *alloc::alloc_tail(*names) = name_of(*f);
    return names;
}

void collect_calls(const Cell& block, CallFrame* top, Cell* top_base) {
    for (CallFrame* f = top; f > call_bottom; f--) {
        const CallFrame& frame = f[-1];
        if (!is_named(frame)) continue;
        Cell* base = f == top ? top_base : mem::ptr<Cell>(f->saved_base);
        Cell name = name_of(frame), position;
        integer::make_at(&position, int32_t(base - bottom));
        *alloc::alloc_tail(block) = name;
        *alloc::alloc_tail(block) = position;
    }
}

}  // namespace oka::stack
