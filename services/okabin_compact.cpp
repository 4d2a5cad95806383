// The OKABIN compact record form: one header byte per record (type id and a per-type flag F, or a
// small integer, a logic value, a bare reference), optional prefix bytes before it (new line,
// reference, the boot data's set-word), LEB128 varints for counts and indexes and zigzag varints for
// signed numbers.
#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/tuple.h"
#include "datatypes/vector.h"
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

enum : uint8_t {
    kFlag = 0x40,      // F: the header's per-type flag
    kLongType = 0x3F,  // the type id follows as a varint
    kSmallInteger = 0x80,
    kNewLine = 0xC0,
    kReference = 0xC1,
    kTrue = 0xC2,
    kFalse = 0xC3,
    kSetWord = 0xC4,
    kBareReference = 0xFF,
    kContextHeader = uint8_t(Type::Context),
};

// Context flags: the kind in bits 0-1, values on the data stack, a self value, values follow.
enum : uint8_t { kOnStack = 4, kSelf = 8, kValuesFollow = 16 };

// ---- reading ----

uint32_t varint(Input& in) {
    const uint8_t* at = in.pos;
    uint32_t value = 0;
    for (int i = 0; i < 5; i++) {
        if (!in.left()) in.fail(at);
        uint8_t byte = in.byte();
        if (i == 4 && (byte & 0xF0)) in.fail(at);
        value |= uint32_t(byte & 0x7F) << (7 * i);
        if (!(byte & 0x80)) return value;
    }
    in.fail(at);
}

int32_t zigzag(Input& in) {
    uint32_t v = varint(in);
    return int32_t((v >> 1) ^ (0u - (v & 1)));
}

// A count of items of at least `unit` bytes each, which must fit in what is left.
uint32_t count(Input& in, uint32_t unit) {
    const uint8_t* at = in.pos;
    uint32_t n = varint(in);
    if (n > in.left() / unit) in.fail(at);
    return n;
}

std::vector<uint32_t> read_path(Input& in) {
    const uint8_t* at = in.pos;
    uint32_t n = varint(in);
    if (n < 1 || n > 65536 || n > in.left()) in.fail(at);
    std::vector<uint32_t> path(n);
    for (uint32_t& index : path) index = varint(in);
    return path;
}

double read_f64(Input& in) {
    uint32_t words[2] = {in.u32(), in.u32()};
    double d;
    std::memcpy(&d, words, sizeof d);
    return d;
}

struct Record {
    Type type;
    bool flag;
    bool new_line;
    bool reference;
    const uint8_t* at;  // the header byte

    uint32_t header() const { return uint8_t(type) | (new_line ? kCellNewLine : 0); }
};

void read_record(Input& in, Node parent);

// The values that hold a spec block where a series holds its cells: a reference to one gives its spec.
bool spec_holder_q(Type type) {
    return type == Type::Native || type == Type::Action || type == Type::Op || type == Type::Function;
}

// The value a reference record's path leads to.
Cell referenced(Input& in, const Record& r) { return resolve(in, read_path(in), r.at); }

// A series record's value: new, or (with the reference prefix) over the buffer of the value found,
// which must hold the same storage.
void read_cells(Input& in, const Record& r, Node parent) {
    uint32_t head = r.flag ? varint(in) : 0;
    if (r.reference) {
        Cell found = referenced(in, r);
        bool same = r.type == Type::Hash ? found.is(Type::Hash)
                                         : spec_holder_q(found.type()) || type_layout(found.type()) == Layout::cells;
        if (!same) in.fail(r.at);
        append(parent, Cell{r.header(), head, found.data2, r.type == Type::Hash ? found.data3 : 0});
        return;
    }
    uint32_t n = count(in, 1);
    stack::Root block(Cell{r.header(), head, alloc::alloc_cells(n ? n : 1), 0});
    uint32_t index = append(parent, block.cell());
    for (uint32_t i = 0; i < n; i++) read_record(in, block.cell().data2);
    if (r.type != Type::Hash) return;
    // A hash! without its table reads as a plain block until the table is made over its cells.
    stack::Root indexed(Cell{uint8_t(Type::Block), 0, block.cell().data2, 0});
    Node table = hashtable::init(std::max(n, 1u), &indexed.cell(), hashtable::kValues);
    block::rs_abs_at(Cell{uint8_t(Type::Block), 0, parent, 0}, index)->data3 = table;
}

// A map's pairs are read into a block that becomes the map once they are all there.
void read_map(Input& in, const Record& r, Node parent) {
    if (r.reference) {
        Cell found = referenced(in, r);
        if (!found.is(Type::Map)) in.fail(r.at);
        found.header = r.header();
        append(parent, found);
        return;
    }
    const uint8_t* at = in.pos;
    uint32_t n = count(in, 1);
    if (n % 2) in.fail(at);
    stack::Root pairs(Cell{uint8_t(Type::Block), 0, alloc::alloc_cells(n ? n : 1), 0});
    for (uint32_t i = 0; i < n; i++) read_record(in, pairs.cell().data2);
    map::make_at(&pairs.cell(), n / 2);
    pairs.cell().header |= r.header() & kCellNewLine;
    append(parent, pairs.cell());
}

void read_text(Input& in, const Record& r, Node parent) {
    uint32_t head = r.flag ? varint(in) : 0;
    if (r.reference) {
        Cell found = referenced(in, r);
        if (type_layout(found.type()) != Layout::text) in.fail(r.at);
        append(parent, Cell{r.header(), head, found.data2, 0});
        return;
    }
    const uint8_t* at = in.pos;
    uint32_t v = varint(in), unit = 1u << (v & 3), n = v >> 2;
    if ((v & 3) == 3 || n > in.left() / unit) in.fail(at);
    if (!code_points_q(in.pos, n, unit)) in.fail(at);
    stack::Root text(Cell{r.header(), head, fill_series(alloc::alloc_codepoints(n, unit), in.pos, n * unit), 0});
    in.pos += n * unit;
    append(parent, text.cell());
}

void read_binary(Input& in, const Record& r, Node parent) {
    uint32_t head = r.flag ? varint(in) : 0;
    if (r.reference) {
        Cell found = referenced(in, r);
        if (!found.is(Type::Binary)) in.fail(r.at);
        append(parent, Cell{r.header(), head, found.data2, 0});
        return;
    }
    uint32_t n = count(in, 1);
    stack::Root bytes(Cell{r.header(), head, fill_series(alloc::alloc_bytes(n), in.pos, n), 0});
    in.pos += n;
    append(parent, bytes.cell());
}

void read_vector(Input& in, const Record& r, Node parent) {
    uint32_t head = r.flag ? varint(in) : 0;
    if (r.reference) {
        Cell found = referenced(in, r);
        if (!found.is(Type::Vector)) in.fail(r.at);
        append(parent, Cell{r.header(), head, found.data2, found.data3});
        return;
    }
    const uint8_t* at = in.pos;
    uint8_t form = in.byte();
    Type element = Type(form >> 2);
    uint32_t size = 1u << (form & 3);
    uint32_t n = count(in, size);
    if (!vector_element_q(element, size) || !vector_elements_q(element, size, in.pos, n)) in.fail(at);
    append_vector(parent, r.header(), head, element, size, in.pos, n);
    in.pos += uint64_t(n) * size;
}

void read_bitset(Input& in, const Record& r, Node parent) {
    if (r.reference) {
        Cell found = referenced(in, r);
        if (!found.is(Type::Bitset)) in.fail(r.at);
        found.header = r.header();
        append(parent, found);
        return;
    }
    uint32_t n = count(in, 1);
    stack::Root bits(Cell{r.header(), 0, fill_series(alloc::alloc_bytes(n), in.pos, n), 0});
    if (r.flag) alloc::set_series_flag(bits.cell().data2, kSeriesNegated);
    in.pos += n;
    append(parent, bits.cell());
}

// ---- words and contexts ----

// The symbols of a context record, after its flags byte and count.
std::vector<uint32_t> read_symbols(Input& in, uint32_t n) {
    std::vector<uint32_t> symbols(n);
    for (uint32_t& symbol : symbols) {
        const uint8_t* at = in.pos;
        symbol = in.symbol(varint(in), at);
    }
    return symbols;
}

// A word bound to a context: its position must name a word of the same symbol (letter case aside), or
// be -1 (left to be found when the word is used, as `self` is).
Cell bound_word(const Input& in, const Record& r, uint32_t symbol, Node context, int32_t index) {
    if (!context) in.fail(r.at);
    if (index != -1) {
        if (index < 0 || uint32_t(index) >= _context::word_count(context)) in.fail(r.at);
        uint32_t held = _context::word_at(context, uint32_t(index))->data2;
        if (symbol::resolve(held) != symbol::resolve(symbol)) in.fail(r.at);
    }
    return Cell{r.header(), context, symbol, uint32_t(index)};
}

// A word whose context's owner follows inline sits in its block before the owner is read, so that
// the owner's values may refer to it; it is bound as soon as the owner's context holds its words.
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
    *block::rs_abs_at(Cell{uint8_t(Type::Block), 0, word.block, 0}, word.index) =
        bound_word(in, word.record, word.symbol, context, word.position);
}

bool owner_header_q(uint8_t byte) {
    return byte == uint8_t(Type::Object) || byte == (uint8_t(Type::Object) | kFlag) ||
           byte == uint8_t(Type::Function) || byte == uint8_t(Type::Error);
}

void read_word(Input& in, const Record& r, Node parent) {
    const uint8_t* at = in.pos;
    uint32_t symbol = in.symbol(varint(in), at);
    if (!r.flag) {
        Cell word = _context::add_global(symbol);
        word.header = r.header();
        append(parent, word);
        return;
    }
    if (!in.codec) {  // the boot form: the root whose context the word takes, and the position there
        uint32_t root = varint(in);
        int32_t index = zigzag(in);
        Cell target{uint8_t(Type::Block), 0, in.target, 0};
        if (uint64_t(in.root_base) + root >= series::rs_buffer_length_q(target)) in.fail(r.at);
        Node context = context_carried(*block::rs_abs_at(target, in.root_base + root));
        if (context && index == -1) index = _context::find_word(context, symbol, true);
        append(parent, bound_word(in, r, symbol, context, index));
        return;
    }
    int32_t index = zigzag(in);
    if (r.reference) {
        append(parent, bound_word(in, r, symbol, context_carried(referenced(in, r)), index));
        return;
    }
    if (!owner_header_q(in.byte())) in.fail(in.pos - 1);
    in.pos--;
    pending = {parent, append(parent, Cell{r.header(), 0, symbol, uint32_t(index)}), r, symbol, index};
    Cell holder_cell{uint8_t(Type::Block), 0, alloc::alloc_cells(1), 0};
    stack::Root holder(holder_cell);
    read_record(in, holder_cell.data2);
    if (pending.block) in.fail(r.at);
}

// A context record's flags, count and symbols; the header byte must be the context's.
struct ContextRecord {
    uint8_t flags;
    std::vector<uint32_t> symbols;
};

ContextRecord read_context_record(Input& in, uint8_t wanted_flags) {
    const uint8_t* at = in.pos;
    if (in.byte() != kContextHeader) in.fail(at);
    uint8_t flags = in.byte();
    // Values on the data stack belong to functions, a self value to objects: data that mixes them would
    // make an object read its values from the stack.
    if (in.codec && (flags & ~kValuesFollow) != wanted_flags) in.fail(at);
    uint32_t n = count(in, 1);
    return {flags, read_symbols(in, n)};
}

// A new context holding the record's words, each once.
Node make_context(const Input& in, const ContextRecord& record, const uint8_t* at) {
    bool on_stack = record.flags & kOnStack;
    Node context = _context::create(uint32_t(record.symbols.size()), on_stack, record.flags & kSelf, 0,
                                    _context::Kind(record.flags & 3));
    stack::Root root(context);
    for (uint32_t symbol : record.symbols) {
        int32_t position;
        if (_context::add_word(context, symbol, true, position) >= 0) in.fail(at);
    }
    return context;
}

// Reads the values of an object's context straight into its values block, then gives every word
// left without one an unset value.
void read_values(Input& in, const ContextRecord& record, Node context) {
    Node values = _context::context_cell(context)->data2;
    if (record.flags & kValuesFollow)
        for (size_t i = 0; i < record.symbols.size(); i++) read_record(in, values);
    while (mem::buffer(values)->length() < record.symbols.size()) append(values, Cell{uint8_t(Type::Unset), 0, 0, 0});
}

// The owner (object or function) of the context that a reference leads to.
Cell owner_referenced(Input& in, const Record& r) {
    Node context = context_carried(referenced(in, r));
    if (!context) in.fail(r.at);
    Cell owner = *_context::self_cell(context);
    if (!owner.is(r.type) || owner.data1 != context) in.fail(r.at);
    owner.header = r.header() | (owner.header & ~0xFFu & ~kCellNewLine);
    return owner;
}

void read_object(Input& in, const Record& r, Node parent) {
    if (r.reference) {
        append(parent, owner_referenced(in, r));
        return;
    }
    int32_t class_id = zigzag(in);
    if (r.flag) zigzag(in), zigzag(in);  // the handlers are found again from the fields
    ContextRecord record = read_context_record(in, uint8_t(_context::kObject) | kSelf);
    Node context = make_context(in, record, r.at);
    stack::Root root(context);
    uint32_t id = in.codec ? object::get_new_id() : uint32_t(class_id);
    Cell object{uint8_t(Type::Object), context, id, 0};
    *_context::self_cell(context) = object;
    object.header = r.header();
    uint32_t index = append(parent, object);
    bind_pending(in, context);
    read_values(in, record, context);
    if (!r.flag) return;
    stack::Root attached(object);
    object::attach_events(&attached.cell());
    *block::rs_abs_at(Cell{uint8_t(Type::Block), 0, parent, 0}, index) = attached.cell();
}

// The one value a record read on its own gives.
Cell read_alone(Input& in) {
    stack::Root holder(Cell{uint8_t(Type::Block), 0, alloc::alloc_cells(1), 0});
    const uint8_t* at = in.pos;
    read_record(in, holder.cell().data2);
    if (mem::buffer(holder.cell().data2)->length() != 1) in.fail(at);
    return *block::rs_abs_at(holder.cell(), 0);
}

// A function's words are its spec's, in the spec's order: a call lays its arguments out by them.
bool words_of_spec_q(Node context, const Cell& spec) {
    Node expected = _context::make(spec);
    uint32_t n = _context::word_count(context);
    if (_context::word_count(expected) != n) return false;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t a = _context::word_at(context, i)->data2, b = _context::word_at(expected, i)->data2;
        if (symbol::resolve(a) != symbol::resolve(b)) return false;
    }
    return true;
}

void read_function(Input& in, const Record& r, Node parent) {
    if (r.reference) {
        append(parent, owner_referenced(in, r));
        return;
    }
    varint(in), varint(in);  // the spec's and body's lengths: the block records give them again
    ContextRecord record = read_context_record(in, uint8_t(_context::kFunction) | kOnStack);
    Node context = make_context(in, record, r.at);
    stack::Root root(context);
    Node extras = alloc::alloc_unset_cells(function::kExtrasSize);
    mem::buffer(extras)->tail += function::kExtrasSize * sizeof(Cell);
    stack::Root extras_root(extras);
    Cell function{uint8_t(Type::Function), context, alloc::alloc_cells(1), extras};
    *_context::self_cell(context) = function;
    Cell placed = function;
    placed.header = r.header();
    uint32_t index = append(parent, placed);
    bind_pending(in, context);
    stack::Root spec(read_alone(in));
    stack::Root body(read_alone(in));
    if (!spec.cell().is(Type::Block) || !(body.cell().is(Type::Block) || body.cell().is(Type::None))) in.fail(r.at);
    spec.cell().data1 = 0, body.cell().data1 = 0;
    function.header |= function::validate(spec.cell());
    if (!words_of_spec_q(context, spec.cell())) in.fail(r.at);
    function.data2 = spec.cell().data2;
    *function::extra(function, function::kBody) = body.cell();
    *_context::self_cell(context) = function;
    function.header |= r.header();
    *block::rs_abs_at(Cell{uint8_t(Type::Block), 0, parent, 0}, index) = function;
}

// A standalone context (the boot data's function and object contexts), held by an object! cell.
void read_standalone_context(Input& in, const Record& r, Node parent) {
    if (in.codec) in.fail(r.at);  // an object over a context whose values lie on the stack
    uint8_t flags = in.byte();
    ContextRecord record{flags, read_symbols(in, count(in, 1))};
    Node context = make_context(in, record, r.at);
    stack::Root root(context);
    Cell object{uint8_t(Type::Object), context, uint32_t(-1), 0};
    *_context::self_cell(context) = object;
    append(parent, object);
    if (!(flags & kOnStack)) read_values(in, record, context);
}

void read_native(Input& in, const Record& r, Node parent) {
    const uint8_t* at = in.pos;
    uint32_t entry = varint(in);
    uint32_t entries = r.type == Type::Native ? natives::count() : uint32_t(kActionCount);
    if (entry < 1 || entry > entries) in.fail(at);
    Cell spec = read_alone(in);
    if (!spec.is(Type::Block)) in.fail(at);
    stack::Root spec_root(spec);
    // A native reads its arguments as its own spec lays them out: a spec from the data is only checked.
    if (in.codec && !native::own_arguments_q(spec, int32_t(entry), r.type)) in.fail(at);
    Cell value =
        in.codec ? *native::push_own(r.type, int32_t(entry)) : *native::make_built_in(r.type, spec, int32_t(entry));
    value.header |= r.header() & kCellNewLine;
    append(parent, value);
}

void read_op(Input& in, const Record& r, Node parent) {
    const uint8_t* at = in.pos;
    Cell wrapped = read_alone(in);
    Type type = wrapped.type();
    if (type != Type::Native && type != Type::Action && type != Type::Function) in.fail(at);
    if (!op::check_spec(function::spec_of(wrapped))) in.fail(at);
    if (type == Type::Function) *function::extra(wrapped, function::kOpFunction) = wrapped;
    wrapped.header = r.header() | uint32_t(type) << kOpWrappedShift;
    append(parent, wrapped);
}

void read_error(Input& in, const Record& r, Node parent) {
    const uint8_t* at = in.pos;
    uint32_t code = varint(in);
    if (!error_code_q(code)) in.fail(at);
    stack::Root made(*error::create(Err(code), nullptr, nullptr, nullptr));
    made.cell().header |= r.header() & kCellNewLine;
    append(parent, made.cell());
    Node values = _context::context_cell(made.cell().data1)->data2;
    Cell files = *block::rs_abs_at(Cell{uint8_t(Type::Block), 0, values, 0}, error::kFiles);
    block::rs_clear_at(Cell{uint8_t(Type::Block), 0, values, 0}, error::kArg1);
    for (uint32_t i = error::kArg1; i < error::kFiles; i++) read_record(in, values);
    append(values, files);
}

// The boot data's set-word record: the word takes the value of the record that follows; neither
// keeps a place in the block.
void read_set_word(Input& in, const Record& r, Node parent) {
    Cell block{uint8_t(Type::Block), 0, parent, 0};
    uint32_t start = mem::buffer(parent)->length();
    read_word(in, r, parent);
    read_record(in, parent);
    if (mem::buffer(parent)->length() != start + 2) in.fail(r.at);
    Cell* word = stack::push(*block::rs_abs_at(block, start));
    word->set_type(Type::Word);
    _context::set_in(word, *block::rs_abs_at(block, start + 1), word->data1, false);
    stack::pop(1);
    block::rs_clear_at(block, start);
}

// The scalars: a value made from the record's payload alone.
Cell read_scalar(Input& in, const Record& r) {
    Cell value{r.header(), 0, 0, 0};
    const uint8_t* at = in.pos;
    switch (kind_of(r.type)) {
    case Kind::datatype:
        value.data1 = varint(in);
        if (value.data1 == 0 || value.data1 >= uint32_t(kTypeTableSize) || !datatype::registered_q(Type(value.data1)))
            in.fail(at);
        break;
    case Kind::empty: break;
    case Kind::char_:
        value.data2 = varint(in);
        if (value.data2 > 0x10FFFF) in.fail(at);
        break;
    case Kind::integer: value.data2 = uint32_t(zigzag(in)); break;
    case Kind::float_: value.set_f64(r.flag ? double(zigzag(in)) : read_f64(in)); break;
    case Kind::percent: value.set_f64(r.flag ? zigzag(in) / 100.0 : read_f64(in)); break;
    case Kind::pair:
        value.data2 = uint32_t(zigzag(in));
        value.data3 = uint32_t(zigzag(in));
        break;
    case Kind::point2d:
    case Kind::point3d:
        value.data1 = in.u32();
        value.data2 = in.u32();
        if (r.type == Type::Point3D) value.data3 = in.u32();
        break;
    case Kind::date:
        value.data1 = in.u32();
        if (r.flag) value.set_f64(read_f64(in));
        if (r.flag != date::time_q(value.data1) || !date_q(value)) in.fail(at);
        break;
    case Kind::typeset: {
        uint8_t n = in.byte();
        if (n > 12) in.fail(at);
        in.need(n);
        std::memcpy(&value.data1, in.pos, n);
        in.pos += n;
        break;
    }
    case Kind::tuple: {
        uint32_t n = r.flag ? in.byte() : 3;
        if (n < tuple::kMinBytes || n > tuple::kMaxBytes) in.fail(at);
        in.need(n);
        std::memcpy(&value.data1, in.pos, n);
        in.pos += n;
        value.header |= n << 19;
        break;
    }
    case Kind::money:
        in.need(12);
        if (!money_digits_q(in.pos)) in.fail(at);
        std::memcpy(&value.data1, in.pos, 12);
        in.pos += 12;
        if (r.flag && !money_zero_q(value)) value.header |= money::kSignBit;
        break;
    case Kind::issue: value = Cell{r.header(), _context::global, in.symbol(varint(in), at), uint32_t(-1)}; break;
    default: in.fail(r.at);
    }
    return value;
}

void read_typed(Input& in, const Record& r, Node parent, bool set_word) {
    Kind kind = kind_of(r.type);
    if (kind == Kind::no_codec) error::fire_on_type(Err::access_no_codec, r.type);
    if (kind == Kind::invalid || kind == Kind::unbuilt || !datatype::registered_q(r.type)) in.fail(r.at);
    if (set_word) {
        if (kind != Kind::word) in.fail(r.at);
        return read_set_word(in, r, parent);
    }
    if (r.reference && kind != Kind::word && kind != Kind::cells && kind != Kind::hash && kind != Kind::map &&
        kind != Kind::text && kind != Kind::binary && kind != Kind::vector && kind != Kind::bitset &&
        kind != Kind::object && kind != Kind::function)
        in.fail(r.at);
    switch (kind) {
    case Kind::word: return read_word(in, r, parent);
    case Kind::cells:
    case Kind::hash: return read_cells(in, r, parent);
    case Kind::map: return read_map(in, r, parent);
    case Kind::text: return read_text(in, r, parent);
    case Kind::binary: return read_binary(in, r, parent);
    case Kind::vector: return read_vector(in, r, parent);
    case Kind::bitset: return read_bitset(in, r, parent);
    case Kind::object: return read_object(in, r, parent);
    case Kind::function: return read_function(in, r, parent);
    case Kind::context: return read_standalone_context(in, r, parent);
    case Kind::native: return read_native(in, r, parent);
    case Kind::op: return read_op(in, r, parent);
    case Kind::error: return read_error(in, r, parent);
    default: append(parent, read_scalar(in, r));
    }
}

void read_record(Input& in, Node parent) {
    Nesting nesting(in.depth);
    Record r{Type::Void, false, false, false, nullptr};
    bool set_word = false;
    uint8_t byte;
    for (;;) {
        r.at = in.pos;
        byte = in.byte();
        if (byte == kNewLine)
            r.new_line = true;
        else if (byte == kReference)
            r.reference = true;
        else if (byte == kSetWord && !in.codec)
            set_word = true;
        else
            break;
    }
    if (byte >= kSmallInteger) {
        if (r.reference || set_word) in.fail(r.at);
        Cell value{r.new_line ? kCellNewLine : 0, 0, 0, 0};
        if (byte < kNewLine) {
            value.header |= uint8_t(Type::Integer), value.data2 = byte - kSmallInteger;
        } else if (byte == kTrue || byte == kFalse) {
            value.header |= uint8_t(Type::Logic), value.data1 = byte == kTrue;
        } else if (byte == kBareReference) {
            value = referenced(in, r);
        } else {
            in.fail(r.at);
        }
        append(parent, value);
        return;
    }
    r.flag = byte & kFlag;
    uint32_t id = byte & kLongType;
    if (id == kLongType) id = varint(in);
    if (id == 0 || id >= uint32_t(kTypeTableSize)) in.fail(r.at);
    r.type = Type(id);
    read_typed(in, r, parent, set_word);
}

// ---- writing ----

void put(Output& out, uint8_t byte) { out.bytes.push_back(byte); }

void put_varint(Output& out, uint32_t value) {
    while (value >= 0x80) {
        put(out, uint8_t(value | 0x80));
        value >>= 7;
    }
    put(out, uint8_t(value));
}

void put_zigzag(Output& out, int32_t value) { put_varint(out, (uint32_t(value) << 1) ^ uint32_t(value >> 31)); }

void put_bytes(Output& out, const void* bytes, size_t n) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    out.bytes.insert(out.bytes.end(), p, p + n);
}

void put_u32(Output& out, uint32_t value) { put_bytes(out, &value, 4); }

void put_header(Output& out, Type type, bool flag) {
    uint8_t id = uint8_t(type);
    if (id < kLongType) return put(out, id | (flag ? kFlag : 0));
    put(out, kLongType | (flag ? kFlag : 0));
    put_varint(out, id);
}

void put_path(Output& out, const uint32_t* path) {
    put_varint(out, path[0]);
    for (uint32_t i = 1; i <= path[0]; i++) put_varint(out, path[i]);
}

void write_record(Output& out, const Cell& value);

// A number that is integral and small takes the zigzag form, flagged; any other the raw 64 bits.
void put_float(Output& out, Type type, double value, double scale) {
    double scaled = value * scale;
    double limit = scale == 1 ? 2147483000.0 : 21474836.0 * scale;
    bool in_range = scaled >= -limit && scaled <= limit;
    int32_t n = 0;
    if (in_range) n = int32_t(scale == 1 ? scaled : scaled + (scaled < 0 ? -0.5 : 0.5));
    bool integral = in_range && n / scale == value && !(value == 0 && std::signbit(value));
    put_header(out, type, integral);
    if (integral) return put_zigzag(out, n);
    uint32_t words[2];
    std::memcpy(words, &value, sizeof words);
    put_u32(out, words[0]);
    put_u32(out, words[1]);
}

void write_scalar(Output& out, const Cell& value) {
    Type type = value.type();
    switch (kind_of(type)) {
    case Kind::datatype: put_header(out, type, false), put_varint(out, value.data1); break;
    case Kind::empty: put_header(out, type, false); break;
    case Kind::logic: put(out, value.data1 ? kTrue : kFalse); break;
    case Kind::char_: put_header(out, type, false), put_varint(out, value.data2); break;
    case Kind::integer:
        if (value.data2 < 64) return put(out, uint8_t(kSmallInteger + value.data2));
        put_header(out, type, false), put_zigzag(out, int32_t(value.data2));
        break;
    case Kind::float_: put_float(out, type, value.f64(), 1); break;
    case Kind::percent: put_float(out, type, value.f64(), 100); break;
    case Kind::pair:
        put_header(out, type, false), put_zigzag(out, int32_t(value.data2)), put_zigzag(out, int32_t(value.data3));
        break;
    case Kind::point2d: put_header(out, type, false), put_u32(out, value.data1), put_u32(out, value.data2); break;
    case Kind::point3d:
        put_header(out, type, false), put_u32(out, value.data1), put_u32(out, value.data2), put_u32(out, value.data3);
        break;
    case Kind::date: {
        bool time = date::time_q(value.data1);
        put_header(out, type, time), put_u32(out, value.data1);
        if (time) put_u32(out, value.data2), put_u32(out, value.data3);
        break;
    }
    case Kind::typeset: {
        uint8_t bytes[12];
        std::memcpy(bytes, &value.data1, 12);
        uint8_t n = 12;
        while (n > 0 && bytes[n - 1] == 0) n--;
        put_header(out, type, false), put(out, n), put_bytes(out, bytes, n);
        break;
    }
    case Kind::tuple: {
        uint32_t n = tuple::length_of(value);
        put_header(out, type, n != 3);
        if (n != 3) put(out, uint8_t(n));
        put_bytes(out, &value.data1, n);
        break;
    }
    case Kind::money: put_header(out, type, value.header & money::kSignBit), put_bytes(out, &value.data1, 12); break;
    case Kind::issue: put_header(out, type, false), put_varint(out, out.symbol(value.data2)); break;
    default: fire(Err::access_no_codec, &value);
    }
}

// The whole buffer of a series from its first unit, and the head when it is not 0.
void put_head(Output& out, const Cell& value) {
    if (value.data1) put_varint(out, value.data1);
}

void write_series_contents(Output& out, const Cell& value) {
    const SeriesBuffer& buffer = *mem::buffer(value.data2);
    uint32_t n = buffer.length(), unit = buffer.unit();
    const uint8_t* bytes = mem::ptr(buffer.offset);
    switch (kind_of(value.type())) {
    case Kind::cells:
    case Kind::hash:
        put_varint(out, n);
        for (uint32_t i = 0; i < n; i++) write_record(out, *block::rs_abs_at(value, i));
        break;
    case Kind::map:  // the live entries: a removed key leaves a value cell of no type
        put_varint(out, 2 * map::rs_length_q(value));
        for (uint32_t i = 0; i + 1 < n; i += 2) {
            if (block::rs_abs_at(value, i + 1)->header == 0) continue;
            write_record(out, *block::rs_abs_at(value, i));
            write_record(out, *block::rs_abs_at(value, i + 1));
        }
        break;
    case Kind::text:
        put_varint(out, n << 2 | uint32_t(__builtin_ctz(unit)));
        put_bytes(out, bytes, size_t(n) * unit);
        break;
    case Kind::vector:
        put(out, uint8_t(value.data3 << 2 | uint32_t(__builtin_ctz(unit))));
        put_varint(out, n);
        put_bytes(out, bytes, size_t(n) * unit);
        break;
    default:  // binary!, bitset!
        put_varint(out, n);
        put_bytes(out, bytes, n);
    }
}

void write_context(Output& out, Node context) {
    const Cell cell = *_context::context_cell(context);
    uint32_t n = _context::word_count(context);
    bool on_stack = cell.header & kValuesOnStack;
    bool values = false;
    for (uint32_t i = 0; !on_stack && i < n && !values; i++)
        values = !_context::value_at(cell, int32_t(i))->is(Type::Unset);
    put(out, kContextHeader);
    put(out, uint8_t(_context::kind_of(cell) | (on_stack ? kOnStack : 0) |
                     (cell.header & _context::kHasSelf ? kSelf : 0) | (values ? kValuesFollow : 0)));
    put_varint(out, n);
    for (uint32_t i = 0; i < n; i++) put_varint(out, out.symbol(_context::word_at(context, i)->data2));
    for (uint32_t i = 0; values && i < n; i++)
        write_record(out, *_context::value_at(*_context::context_cell(context), int32_t(i)));
}

// The handler words of an object: each handler's field position << 16 | its argument count.
void put_handlers(Output& out, const Cell& object) {
    Cell record{uint8_t(Type::Block), 0, object.data3, 0};
    put_zigzag(out, int32_t(block::rs_abs_at(record, 0)->data2));
    put_zigzag(out, int32_t(block::rs_abs_at(record, 1)->data2));
}

// The record of an owner written for the first time: object!, function! or error!, whose level is open.
void write_owner(Output& out, const Cell& owner) {
    switch (owner.type()) {
    case Type::Object:
        put_header(out, Type::Object, owner.data3 != 0);
        put_zigzag(out, int32_t(owner.data2));
        if (owner.data3) put_handlers(out, owner);
        write_context(out, owner.data1);
        break;
    case Type::Function: {
        Cell spec = function::spec_of(owner), body = *function::extra(owner, function::kBody);
        put_header(out, Type::Function, false);
        put_varint(out, series::rs_buffer_length_q(spec));
        put_varint(out, body.is(Type::Block) ? series::rs_buffer_length_q(body) : 0);
        write_context(out, owner.data1);
        out.counter = 0;
        write_record(out, spec);
        out.counter = 1;
        write_record(out, body);
        break;
    }
    default: {  // error!
        Cell context = *_context::context_cell(owner.data1);
        put_header(out, Type::Error, false);
        put_varint(out, error_code_of(owner));
        for (uint32_t i = error::kArg1; i < error::kFiles; i++)
            write_record(out, *_context::value_at(context, int32_t(i)));
    }
    }
}

void write_word(Output& out, const Cell& word, bool new_line) {
    Cell owner = owner_of_word(word);
    if (owner.is(Type::Unset)) {
        if (new_line) put(out, kNewLine);
        put_header(out, word.type(), false);
        put_varint(out, out.symbol(word.data2));
        return;
    }
    const uint32_t* path = out.find(word.data1);
    if (new_line) put(out, kNewLine);
    if (path) put(out, kReference);
    put_header(out, word.type(), true);
    put_varint(out, out.symbol(word.data2));
    put_zigzag(out, int32_t(word.data3));
    if (path) return put_path(out, path);
    out.enter(word.data1);
    write_owner(out, owner);
    out.leave();
}

void write_record(Output& out, const Cell& value) {
    Nesting nesting(out.depth);
    Type type = value.type();
    Kind kind = kind_of(type);
    bool new_line = value.new_line();
    if (kind == Kind::word) {
        write_word(out, value, new_line);
        out.counter++;
        return;
    }
    Node key = key_of(value);
    if (!key && kind != Kind::error && kind != Kind::native && kind != Kind::op) {
        if (new_line) put(out, kNewLine);
        write_scalar(out, value);
        out.counter++;
        return;
    }
    if (new_line) put(out, kNewLine);
    const uint32_t* path = key ? out.find(key) : nullptr;
    bool series =
        kind == Kind::cells || kind == Kind::hash || kind == Kind::text || kind == Kind::binary || kind == Kind::vector;
    if (path) {
        put(out, kReference);
        put_header(out, type, series && value.data1 != 0);
        if (series) put_head(out, value);
        put_path(out, path);
        out.counter++;
        return;
    }
    switch (kind) {
    case Kind::native:
        put_header(out, type, false);
        put_varint(out, value.data1);
        write_record(out, Cell{uint8_t(Type::Block), 0, value.data2, 0});
        out.counter--;
        break;
    case Kind::op:
        put_header(out, type, false);
        write_record(out, op::unwrap(value));
        out.counter--;
        break;
    case Kind::error:
        out.enter(value.data1);
        write_owner(out, value);
        out.leave();
        break;
    case Kind::object:
    case Kind::function:
        out.enter(key);
        write_owner(out, value);
        out.leave();
        break;
    case Kind::bitset:
    case Kind::map:
        out.enter(key);
        put_header(out, type, kind == Kind::bitset && bitset_negated_q(value));
        write_series_contents(out, value);
        out.leave();
        break;
    default:
        out.enter(key);
        put_header(out, type, value.data1 != 0);
        put_head(out, value);
        write_series_contents(out, value);
        out.leave();
    }
    out.counter++;
}

}  // namespace

void read_compact(Input& in, bool symbols, const uint8_t* container_end) {
    varint(in);  // the root count: the records say how many roots there are
    const uint8_t* at = in.pos;
    uint32_t length = varint(in);
    if (symbols) {
        const uint8_t* table_at = in.pos;
        uint32_t count = varint(in), size = varint(in);
        in.read_symbol_table(count, size, container_end, table_at);
    }
    if (length > size_t(container_end - in.pos)) in.fail(at);
    in.end = in.pos + length;
    pending = {};
    while (in.pos < in.end) read_record(in, in.target);
}

void write_compact(Output& out, const Cell& value) { write_record(out, value); }

}  // namespace oka::okabin
