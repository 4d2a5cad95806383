// Building values from OKABIN records, for both forms: the forms read the fields, these make the
// values straight in the block that receives them and check what the datatypes rely on.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "evaluator/natives.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "services/okabin_internal.h"
#include "services/okabin_values.h"

namespace oka::okabin {

namespace {

Cell block_of(Node node) { return Cell::of(Type::Block).set_node(node); }

// The values that hold a spec block where a series holds its cells: a reference to one gives its spec.
bool spec_holder_q(Type type) {
    return type == Type::Native || type == Type::Action || type == Type::Op || type == Type::Function;
}

// A word waiting for its owner's context (append_word_with_owner).
struct PendingWord {
    Node block = 0;
    uint32_t index = 0;
    Record record{};
    uint32_t symbol = 0;
    int32_t position = 0;
};
PendingWord pending;

void bind_pending(const Input& in, Node context) {
    if (!pending.block) return;
    PendingWord word = pending;
    pending = {};
    *block::rs_abs_at(block_of(word.block), word.index) =
        bound_word(in, word.record, word.symbol, context, word.position);
}

// A new context holding the record's words, each once.
Node make_context(const Input& in, const Record& r, const ContextRecord& record) {
    uint32_t flags = (record.on_stack ? kValuesOnStack : 0) | (record.self ? _context::kHasSelf : 0);
    Node context = _context::create(uint32_t(record.symbols.size()), flags, 0, _context::Kind(record.kind));
    stack::Root root(context);
    for (uint32_t symbol : record.symbols) {
        int32_t position;
        if (_context::add_word(context, symbol, true, position) >= 0) in.fail(r.at);
    }
    return context;
}

// Reads the values of an object's context straight into its values block, then gives every word
// left without one an unset value.
void read_values(Input& in, const ContextRecord& record, Node context) {
    Node values = _context::context_cell(context)->values();
    if (record.values)
        for (size_t i = 0; i < record.symbols.size(); i++) in.read_record(in, values);
    while (mem::buffer(values)->length() < record.symbols.size()) append(values, Cell::of(Type::Unset));
}

// The one value a record read on its own gives.
Cell read_alone(Input& in) {
    stack::Root holder(block_of(alloc::alloc_cells(1)));
    const uint8_t* at = in.pos;
    in.read_record(in, holder.cell().node());
    if (mem::buffer(holder.cell().node())->length() != 1) in.fail(at);
    return *block::rs_abs_at(holder.cell(), 0);
}

// A function's words are its spec's, in the spec's order: a call lays its arguments out by them.
bool words_of_spec_q(Node context, const Cell& spec) {
    Node expected = _context::make(spec);
    uint32_t n = _context::word_count(context);
    if (_context::word_count(expected) != n) return false;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t a = _context::word_at(context, i)->symbol(), b = _context::word_at(expected, i)->symbol();
        if (symbol::resolve(a) != symbol::resolve(b)) return false;
    }
    return true;
}

// Values on the data stack belong to functions, a self value to objects: a context that mixes them
// would make an object read its values from the stack.
void check_context(const Input& in, const Record& r, const ContextRecord& record, _context::Kind kind) {
    bool function = kind == _context::kFunction;
    if (in.codec && (record.kind != kind || record.on_stack != function || record.self == function)) in.fail(r.at);
}

}  // namespace

uint32_t Input::length_of(const Cell& series) const {
    auto entry = filling.find(series.node());
    return entry != filling.end() ? entry->second : series_length(series);
}

Cell shared_series(const Input& in, const Record& r, uint32_t head, const Cell& found) {
    Type type = found.type();
    bool same = false;
    switch (kind_of(r.type)) {
    case Kind::cells: same = spec_holder_q(type) || type_layout(type) == Layout::cells; break;
    case Kind::hash:
    case Kind::map:
    case Kind::vector:
    case Kind::image:
    case Kind::bitset: same = type == r.type; break;
    case Kind::text: same = type_layout(type) == Layout::text; break;
    case Kind::binary: same = type == Type::Binary; break;
    default: break;
    }
    if (!same) in.fail(r.at);
    Cell series = spec_holder_q(type) ? block_of(found.spec()) : found;
    if (head > in.length_of(series)) in.fail(r.at);
    // A map! and a bitset! keep their head; a hash! or map! keeps its table, a vector! its element type,
    // an image! its size; text gets no conversion of its own yet.
    bool own_head = r.type == Type::Map || r.type == Type::Bitset;
    Cell value = r.cell().set_head(own_head ? series.head() : head).set_node(series.node());
    if (r.type == Type::Hash || r.type == Type::Map) value.set_table(found.table());
    if (r.type == Type::Vector) value.set_element_type(found.element_type());
    if (r.type == Type::Image) value.set_image_size(found.image_size());
    return value;
}

Cell shared_owner(const Input& in, const Record& r, const Cell& found) {
    Node context = context_carried(found);
    if (!context) in.fail(r.at);
    Cell owner = *_context::self_cell(context);
    if (!owner.is(r.type) || owner.context() != context) in.fail(r.at);
    owner.header = r.header() | (owner.header & ~0xFFu & ~kCellNewLine);
    return owner;
}

void append_block(Input& in, const Record& r, uint32_t head, uint32_t count, Node parent) {
    if (head > count) in.fail(r.at);
    stack::Root block(r.cell().set_head(head).set_node(alloc::alloc_cells(count ? count : 1)));
    uint32_t index = append(parent, block.cell());
    Input::Filling filling(in, block.cell().node(), count);
    for (uint32_t i = 0; i < count; i++) in.read_record(in, block.cell().node());
    if (r.type != Type::Hash) return;
    // A hash! without its table reads as a plain block until the table is made over its cells.
    stack::Root indexed(block_of(block.cell().node()));
    Node table = hashtable::init(std::max(count, 1u), &indexed.cell(), hashtable::kValues);
    block::rs_abs_at(block_of(parent), index)->set_table(table);
}

// A map's pairs are read into a block that becomes the map once they are all there.
void append_map(Input& in, const Record& r, uint32_t count, Node parent, const uint8_t* count_at) {
    if (count % 2) in.fail(count_at);
    stack::Root pairs(block_of(alloc::alloc_cells(count ? count : 1)));
    for (uint32_t i = 0; i < count; i++) in.read_record(in, pairs.cell().node());
    map::make_at(&pairs.cell(), count / 2);
    pairs.cell().header |= r.header() & kCellNewLine;
    append(parent, pairs.cell());
}

void append_text(Input& in, const Record& r, uint32_t head, uint32_t count, uint32_t unit, Node parent,
                 const uint8_t* count_at) {
    if (head > count) in.fail(r.at);
    if (count > in.left() / unit || !code_points_q(in.pos, count, unit)) in.fail(count_at);
    stack::Root text(
        r.cell().set_head(head).set_node(fill_series(alloc::alloc_codepoints(count, unit), in.pos, count * unit)));
    append(parent, text.cell());
}

void append_bytes(Input& in, const Record& r, uint32_t head, uint32_t count, bool negated, Node parent) {
    if (head > count) in.fail(r.at);
    in.need(count);
    stack::Root bytes(r.cell().set_head(head).set_node(fill_series(alloc::alloc_bytes(count), in.pos, count)));
    if (negated) alloc::set_series_flag(bytes.cell().node(), kSeriesNegated);
    append(parent, bytes.cell());
}

void read_image(Input& in, const Record& r, uint32_t head, uint32_t width, uint32_t height, Node parent,
                const uint8_t* size_at) {
    if (!image_size_q(width, height, head)) in.fail(size_at);
    size_t length = size_t(width) * height * 4;
    in.need(length);
    append_image(parent, r.header(), head, width, height, in.pos);
    in.pos += length;
}

void append_vector_record(Input& in, const Record& r, uint32_t head, Type element, uint32_t size, uint32_t count,
                          Node parent, const uint8_t* form_at) {
    if (head > count) in.fail(r.at);
    if (!vector_element_q(element, size) || count > in.left() / size) in.fail(form_at);
    if (!vector_elements_q(element, size, in.pos, count)) in.fail(form_at);
    append_vector(parent, r.header(), head, element, size, in.pos, count);
}

// ---- words ----

// As the lexer binds a word: to the global word of any letter case, keeping the spelling written. The
// global context is asked once per symbol of the data.
Cell global_word(Input& in, const Record& r, uint32_t index, const uint8_t* at) {
    uint32_t symbol = in.symbol(index, at);
    Cell& global = in.symbols[index].global;
    if (!global.header) global = _context::add_global_word(symbol, _context::Spelling::any_case);
    Cell word = global;
    word.header = r.header();
    return word;
}

Cell boot_word(const Input& in, const Record& r, uint32_t symbol, uint32_t root, int32_t index) {
    Cell target = block_of(in.target);
    if (uint64_t(in.root_base) + root >= series::rs_buffer_length_q(target)) in.fail(r.at);
    Node context = context_carried(*block::rs_abs_at(target, in.root_base + root));
    if (context && index == -1) index = _context::find_word(context, symbol, true);
    return bound_word(in, r, symbol, context, index);
}

// The position must name a word of the same symbol (letter case aside), or be -1 (left to be found
// when the word is used, as `self` is).
Cell bound_word(const Input& in, const Record& r, uint32_t symbol, Node context, int32_t index) {
    if (!context) in.fail(r.at);
    if (index != -1) {
        if (index < 0 || uint32_t(index) >= _context::word_count(context)) in.fail(r.at);
        uint32_t held = _context::word_at(context, uint32_t(index))->symbol();
        if (symbol::resolve(held) != symbol::resolve(symbol)) in.fail(r.at);
    }
    return r.cell().set_context(context).set_symbol(symbol).set_position(index);
}

void append_word_with_owner(Input& in, const Record& r, uint32_t symbol, int32_t index, Node parent) {
    pending = {parent, append(parent, r.cell().set_symbol(symbol).set_position(index)), r, symbol, index};
    stack::Root holder(block_of(alloc::alloc_cells(1)));
    try {
        in.read_record(in, holder.cell().node());
    } catch (...) {
        pending = {};
        throw;
    }
    if (pending.block) {
        pending = {};
        in.fail(r.at);
    }
}

void assign_set_word(Input& in, const Record& r, Node parent, uint32_t start) {
    Cell block = block_of(parent);
    if (mem::buffer(parent)->length() != start + 2) in.fail(r.at);
    Cell* word = stack::push(*block::rs_abs_at(block, start));
    word->set_type(Type::Word);
    _context::set_in(word, *block::rs_abs_at(block, start + 1), word->context(), false);
    stack::pop(1);
    block::rs_clear_at(block, start);
}

// ---- contexts and their owners ----

void append_object(Input& in, const Record& r, int32_t class_id, bool handlers, const ContextRecord& record,
                   Node parent) {
    check_context(in, r, record, _context::kObject);
    Node context = make_context(in, r, record);
    stack::Root root(context);
    // Equal class ids promise the same words in the same order: data cannot be trusted to keep that.
    uint32_t id = in.codec ? object::get_new_id() : uint32_t(class_id);
    Cell object{uint8_t(Type::Object), context, id, 0};
    *_context::self_cell(context) = object;
    object.header = r.header();
    uint32_t index = append(parent, object);
    bind_pending(in, context);
    read_values(in, record, context);
    if (!handlers) return;  // found again from the fields, which must then hold functions
    stack::Root attached(object);
    object::attach_events(&attached.cell());
    *block::rs_abs_at(block_of(parent), index) = attached.cell();
}

void append_function(Input& in, const Record& r, const ContextRecord& record, Node parent) {
    check_context(in, r, record, _context::kFunction);
    Node context = make_context(in, r, record);
    stack::Root root(context);
    Node extras = alloc::alloc_unset_cells(function::kExtrasSize);
    mem::buffer(extras)->tail += function::kExtrasSize * sizeof(Cell);
    stack::Root extras_root(extras);
    Cell function = Cell::of(Type::Function).set_context(context).set_spec(alloc::alloc_cells(1)).set_extras(extras);
    *_context::self_cell(context) = function;
    Cell placed = function;
    placed.header = r.header();
    uint32_t index = append(parent, placed);
    bind_pending(in, context);
    stack::Root spec(read_alone(in));
    stack::Root body(read_alone(in));
    if (!spec.cell().is(Type::Block) || !(body.cell().is(Type::Block) || body.cell().is(Type::None))) in.fail(r.at);
    spec.cell().set_head(0);
    if (body.cell().is(Type::Block)) body.cell().set_head(0);
    function.header |= function::validate(spec.cell());
    if (!words_of_spec_q(context, spec.cell())) in.fail(r.at);
    function.set_spec(spec.cell().node());
    *function::extra(function, function::kBody) = body.cell();
    *_context::self_cell(context) = function;
    function.header |= r.header();
    *block::rs_abs_at(block_of(parent), index) = function;
}

// The boot data's function and object contexts, each held by an object! cell. Data from scripts has
// none: an object over a context whose values lie on the stack would read them from there.
void append_standalone_context(Input& in, const Record& r, const ContextRecord& record, Node parent) {
    if (in.codec) in.fail(r.at);
    Node context = make_context(in, r, record);
    stack::Root root(context);
    Cell object{uint8_t(Type::Object), context, uint32_t(-1), 0};
    *_context::self_cell(context) = object;
    append(parent, object);
    if (!record.on_stack) read_values(in, record, context);
}

// A native reads its arguments as its own spec lays them out: a spec from the data is only checked,
// and the value takes the table's.
void append_native(Input& in, const Record& r, uint32_t entry, Node parent, const uint8_t* entry_at) {
    uint32_t entries = r.type == Type::Native ? natives::count() : uint32_t(kActionCount);
    if (entry < 1 || entry > entries) in.fail(entry_at);
    stack::Root spec(read_alone(in));
    if (!spec.cell().is(Type::Block)) in.fail(entry_at);
    if (in.codec && !native::own_arguments_q(spec.cell(), int32_t(entry), r.type)) in.fail(entry_at);
    Cell value = in.codec ? *native::push_own(r.type, int32_t(entry))
                          : *native::make_built_in(r.type, spec.cell(), int32_t(entry));
    value.header |= r.header() & kCellNewLine;
    append(parent, value);
}

void append_op(Input& in, const Record& r, Node parent) {
    const uint8_t* at = in.pos;
    Cell wrapped = read_alone(in);
    Type type = wrapped.type();
    if (type != Type::Native && type != Type::Action && type != Type::Function) in.fail(at);
    if (!op::check_spec(function::spec_of(wrapped))) in.fail(at);
    if (type == Type::Function) *function::extra(wrapped, function::kOpFunction) = wrapped;
    wrapped.header = (r.header() & ~0xFFu) | uint8_t(Type::Op) | uint32_t(type) << kOpWrappedShift;
    append(parent, wrapped);
}

// The arguments, near, where and stack fields are read straight into the error's values; the code
// gives the others.
void append_error(Input& in, const Record& r, uint32_t code, Node parent, const uint8_t* code_at) {
    if (!error_code_q(code)) in.fail(code_at);
    stack::Root made(*error::create(Err(code), nullptr, nullptr, nullptr));
    made.cell().header |= r.header() & kCellNewLine;
    append(parent, made.cell());
    bind_pending(in, made.cell().context());
    Node values = _context::context_cell(made.cell().context())->values();
    Cell files = *block::rs_abs_at(block_of(values), error::kFiles);
    block::rs_clear_at(block_of(values), error::kArg1);
    for (uint32_t i = error::kArg1; i < error::kFiles; i++) in.read_record(in, values);
    append(values, files);
}

}  // namespace oka::okabin
