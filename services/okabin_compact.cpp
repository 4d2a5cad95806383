// The OKABIN compact record form: one header byte per record (type id and a per-type flag F, or a
// small integer, a logic value, a bare reference), optional prefix bytes before it (new line,
// reference, the boot data's set-word), LEB128 varints for counts and indexes and zigzag varints for
// signed numbers.
#include <bit>
#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
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

uint32_t long_varint(Input& in) {
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

// Most counts, indexes and small numbers take one byte.
uint32_t varint(Input& in) {
    if (in.pos < in.end && *in.pos < 0x80) return *in.pos++;
    return long_varint(in);
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

void read_record(Input& in, Node parent);

// The value a reference record's path leads to.
Cell referenced(Input& in, const Record& r) { return resolve(in, read_path(in), r.at); }

// A series record: [H], then its contents, or with the reference prefix a path to the series it shares.
void read_series(Input& in, const Record& r, Node parent) {
    Kind kind = kind_of(r.type);
    bool headed = kind != Kind::map && kind != Kind::bitset;
    uint32_t head = headed && r.flag ? varint(in) : 0;
    if (r.reference) {
        append(parent, shared_series(in, r, head, referenced(in, r)));
        return;
    }
    const uint8_t* at = in.pos;
    switch (kind) {
    case Kind::cells:
    case Kind::hash: return append_block(in, r, head, count(in, 1), parent);
    case Kind::map: return append_map(in, r, count(in, 1), parent, at);
    case Kind::text: {
        uint32_t v = varint(in), unit = 1u << (v & 3);
        if ((v & 3) == 3) in.fail(at);
        append_text(in, r, head, v >> 2, unit, parent, at);
        in.pos += size_t(v >> 2) * unit;
        return;
    }
    case Kind::vector: {
        uint8_t form = in.byte();
        uint32_t size = 1u << (form & 3), n = varint(in);
        append_vector_record(in, r, head, Type(form >> 2), size, n, parent, at);
        in.pos += size_t(n) * size;
        return;
    }
    case Kind::image: {
        uint32_t width = varint(in), height = varint(in);
        return read_image(in, r, head, width, height, parent, at);
    }
    default: {  // binary!, bitset!
        uint32_t n = count(in, 1);
        append_bytes(in, r, head, n, r.type == Type::Bitset && r.flag, parent);
        in.pos += n;
    }
    }
}

// The symbols of a context record, after its flags byte and count.
std::vector<uint32_t> read_symbols(Input& in, uint32_t n) {
    std::vector<uint32_t> symbols(n);
    for (uint32_t& symbol : symbols) {
        const uint8_t* at = in.pos;
        symbol = in.symbol(varint(in), at);
    }
    return symbols;
}

// A context record after its header byte: flags (the kind in bits 0-1, values on the data stack, a
// self value, values follow), count and symbols.
ContextRecord read_context(Input& in) {
    uint8_t flags = in.byte();
    std::vector<uint32_t> symbols = read_symbols(in, count(in, 1));
    return {_context::Kind(flags & 3), bool(flags & kOnStack), bool(flags & kSelf), bool(flags & kValuesFollow),
            std::move(symbols)};
}

ContextRecord read_inner_context(Input& in) {
    const uint8_t* at = in.pos;
    if (in.byte() != kContextHeader) in.fail(at);
    return read_context(in);
}

bool owner_header_q(uint8_t byte) {
    return byte == uint8_t(Type::Object) || byte == (uint8_t(Type::Object) | kFlag) ||
           byte == uint8_t(Type::Function) || byte == uint8_t(Type::Error);
}

// A word: its symbol; with F, in the boot data the root whose context it takes and its position there,
// from scripts its position and then a path to a value carrying its context or that context's owner.
void read_word(Input& in, const Record& r, Node parent) {
    const uint8_t* at = in.pos;
    uint32_t symbol_index = varint(in);
    if (!r.flag) return (void)append(parent, global_word(in, r, symbol_index, at));
    uint32_t symbol = in.symbol(symbol_index, at);
    if (!in.codec) {
        uint32_t root = varint(in);
        return (void)append(parent, boot_word(in, r, symbol, root, zigzag(in)));
    }
    int32_t index = zigzag(in);
    if (r.reference) return (void)append(parent, bound_word(in, r, symbol, context_carried(referenced(in, r)), index));
    if (!in.left() || !owner_header_q(*in.pos)) in.fail(in.pos);
    append_word_with_owner(in, r, symbol, index, parent);
}

void read_set_word(Input& in, const Record& r, Node parent) {
    uint32_t start = mem::buffer(parent)->length();
    read_word(in, r, parent);
    read_record(in, parent);
    assign_set_word(in, r, parent, start);
}

void read_owner(Input& in, const Record& r, Node parent) {
    if (r.reference) return (void)append(parent, shared_owner(in, r, referenced(in, r)));
    if (r.type == Type::Function) {
        varint(in), varint(in);  // the spec's and body's lengths: their block records give them again
        return append_function(in, r, read_inner_context(in), parent);
    }
    int32_t class_id = zigzag(in);
    if (r.flag) zigzag(in), zigzag(in);  // the handlers are found again from the fields
    append_object(in, r, class_id, r.flag, read_inner_context(in), parent);
}

// The scalars: a value made from the record's payload alone.
Cell read_scalar(Input& in, const Record& r) {
    Cell value = r.cell();
    const uint8_t* at = in.pos;
    switch (kind_of(r.type)) {
    case Kind::datatype: {
        uint32_t id = varint(in);
        if (id == 0 || id >= uint32_t(kTypeTableSize) || !datatype::registered_q(Type(id))) in.fail(at);
        value.set_named_type(Type(id));
        break;
    }
    case Kind::empty: break;
    case Kind::char_:
        value.set_code_point(varint(in));
        if (value.code_point() > 0x10FFFF) in.fail(at);
        break;
    case Kind::integer: value.set_int32(zigzag(in)); break;
    case Kind::float_: value.set_f64(r.flag ? double(zigzag(in)) : read_f64(in)); break;
    case Kind::percent: value.set_f64(r.flag ? zigzag(in) / 100.0 : read_f64(in)); break;
    case Kind::pair:
        value.set_x(zigzag(in));
        value.set_y(zigzag(in));
        break;
    case Kind::point2d:
    case Kind::point3d: {
        std::array<uint32_t, 3> bits{in.u32(), in.u32(), r.type == Type::Point3D ? in.u32() : 0};
        value.set_coordinates(std::bit_cast<Float32x3>(bits));
        break;
    }
    case Kind::date:
        value.set_date_word(in.u32());
        if (r.flag) value.set_time_slot(read_f64(in));
        if (r.flag != date::time_q(value.date_word()) || !date_q(value)) in.fail(at);
        break;
    case Kind::typeset: {
        uint8_t n = in.byte();
        if (n > 12) in.fail(at);
        in.need(n);
        Words3 bits{};
        std::memcpy(bits.data(), in.pos, n);
        value.set_type_bits(bits);
        in.pos += n;
        break;
    }
    case Kind::tuple: {
        uint32_t n = r.flag ? in.byte() : 3;
        if (n < tuple::kMinBytes || n > tuple::kMaxBytes) in.fail(at);
        in.need(n);
        Bytes12 bytes{};
        std::memcpy(bytes.data(), in.pos, n);
        value.set_tuple_bytes(bytes);
        in.pos += n;
        value.header |= n << 19;
        break;
    }
    case Kind::money:
        in.need(12);
        if (!money_digits_q(in.pos)) in.fail(at);
        Bytes12 bytes;
        std::memcpy(bytes.data(), in.pos, 12);
        value.set_money_bytes(bytes);
        in.pos += 12;
        if (r.flag && !money_zero_q(value)) value.header |= money::kSignBit;
        break;
    case Kind::issue:
        value.set_context(_context::global).set_symbol(in.symbol(varint(in), at, Spelling::issue)).set_position(-1);
        break;
    default: in.fail(r.at);
    }
    return value;
}

void read_typed(Input& in, const Record& r, Node parent, bool set_word) {
    Kind kind = kind_of(r.type);
    if (kind == Kind::no_codec) error::fire_on_type(Err::access_no_codec, r.type);
    if (kind == Kind::invalid || !datatype::registered_q(r.type)) in.fail(r.at);
    if (set_word) {
        if (kind != Kind::word) in.fail(r.at);
        return read_set_word(in, r, parent);
    }
    const uint8_t* at = in.pos;
    if (series_kind_q(kind)) return read_series(in, r, parent);
    switch (kind) {
    case Kind::word: return read_word(in, r, parent);
    case Kind::object:
    case Kind::function: return read_owner(in, r, parent);
    case Kind::error:
        if (r.reference) return (void)append(parent, shared_owner(in, r, referenced(in, r)));
        break;
    default: break;
    }
    if (r.reference) in.fail(r.at);
    switch (kind) {
    case Kind::context: return append_standalone_context(in, r, read_context(in), parent);
    case Kind::native: return append_native(in, r, varint(in), parent, at);
    case Kind::op: return append_op(in, r, parent);
    case Kind::error: return append_error(in, r, varint(in), parent, at);
    default: append(parent, read_scalar(in, r));
    }
}

void read_record(Input& in, Node parent) {
    Nesting nesting(in.depth);
    Record r;
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
        uint32_t line = r.new_line ? kCellNewLine : 0;
        Cell value;
        if (byte < kNewLine) {
            value = Cell::of(Type::Integer, line).set_int32(byte - kSmallInteger);
        } else if (byte == kTrue || byte == kFalse) {
            value = Cell::of(Type::Logic, line).set_truth(byte == kTrue);
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

// A double as its two 32-bit halves, low half first.
void put_f64(Output& out, double value) {
    uint32_t words[2];
    std::memcpy(words, &value, sizeof words);
    put_u32(out, words[0]);
    put_u32(out, words[1]);
}

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
    put_f64(out, value);
}

void write_scalar(Output& out, const Cell& value) {
    Type type = value.type();
    switch (kind_of(type)) {
    case Kind::datatype: put_header(out, type, false), put_varint(out, uint32_t(value.named_type())); break;
    case Kind::empty: put_header(out, type, false); break;
    case Kind::logic: put(out, value.truth() ? kTrue : kFalse); break;
    case Kind::char_: put_header(out, type, false), put_varint(out, value.code_point()); break;
    case Kind::integer:
        if (uint32_t(value.int32()) < 64) return put(out, uint8_t(kSmallInteger + value.int32()));
        put_header(out, type, false), put_zigzag(out, value.int32());
        break;
    case Kind::float_: put_float(out, type, value.f64(), 1); break;
    case Kind::percent: put_float(out, type, value.f64(), 100); break;
    case Kind::pair: put_header(out, type, false), put_zigzag(out, value.x()), put_zigzag(out, value.y()); break;
    case Kind::point2d:
    case Kind::point3d: {
        auto bits = std::bit_cast<std::array<uint32_t, 3>>(value.coordinates());
        put_header(out, type, false), put_u32(out, bits[0]), put_u32(out, bits[1]);
        if (type == Type::Point3D) put_u32(out, bits[2]);
        break;
    }
    case Kind::date: {
        bool time = date::time_q(value.date_word());
        put_header(out, type, time), put_u32(out, value.date_word());
        if (time) put_f64(out, value.time_slot());
        break;
    }
    case Kind::typeset: {
        uint8_t bytes[12];
        Words3 bits = value.type_bits();
        std::memcpy(bytes, bits.data(), 12);
        uint8_t n = 12;
        while (n > 0 && bytes[n - 1] == 0) n--;
        put_header(out, type, false), put(out, n), put_bytes(out, bytes, n);
        break;
    }
    case Kind::tuple: {
        uint32_t n = tuple::length_of(value);
        put_header(out, type, n != 3);
        if (n != 3) put(out, uint8_t(n));
        put_bytes(out, value.tuple_bytes().data(), n);
        break;
    }
    case Kind::money:
        put_header(out, type, value.header & money::kSignBit), put_bytes(out, value.money_bytes().data(), 12);
        break;
    case Kind::issue: put_header(out, type, false), put_varint(out, out.symbol(value.symbol())); break;
    default: fire(Err::access_no_codec, &value);
    }
}

// The whole buffer of a series from its first unit, and the head when it is not 0.
void put_head(Output& out, const Cell& value) {
    if (uint32_t head = head_of(value)) put_varint(out, head);
}

void write_series_contents(Output& out, const Cell& value) {
    if (value.is(Type::Image)) {
        put_varint(out, image::width_of(value)), put_varint(out, image::height_of(value));
        std::span<const uint8_t> pixels = ImagePixels(value).bytes();
        return put_bytes(out, pixels.data(), pixels.size());
    }
    const SeriesBuffer& buffer = *mem::buffer(value.node());
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
        put(out, uint8_t(uint32_t(value.element_type()) << 2 | uint32_t(__builtin_ctz(unit))));
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
    for (uint32_t i = 0; i < n; i++) put_varint(out, out.symbol(_context::word_at(context, i)->symbol()));
    for (uint32_t i = 0; values && i < n; i++)
        write_record(out, *_context::value_at(*_context::context_cell(context), int32_t(i)));
}

// The handler words of an object: each handler's field position << 16 | its argument count.
void put_handlers(Output& out, const Cell& object) {
    Cell record = Cell::of(Type::Block).set_node(object.handlers());
    put_zigzag(out, block::rs_abs_at(record, 0)->x());
    put_zigzag(out, block::rs_abs_at(record, 1)->x());
}

// The record of an owner written for the first time: object!, function! or error!, whose level is open.
void write_owner(Output& out, const Cell& owner) {
    switch (owner.type()) {
    case Type::Object:
        put_header(out, Type::Object, owner.handlers() != 0);
        put_zigzag(out, int32_t(owner.class_id()));
        if (owner.handlers()) put_handlers(out, owner);
        write_context(out, owner.context());
        break;
    case Type::Function: {
        Cell spec = function::spec_of(owner), body = *function::extra(owner, function::kBody);
        put_header(out, Type::Function, false);
        put_varint(out, series::rs_buffer_length_q(spec));
        put_varint(out, body.is(Type::Block) ? series::rs_buffer_length_q(body) : 0);
        write_context(out, owner.context());
        out.counter = 0;
        write_record(out, spec);
        out.counter = 1;
        write_record(out, body);
        break;
    }
    default: {  // error!
        Cell context = *_context::context_cell(owner.context());
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
        put_varint(out, out.symbol(word.symbol()));
        return;
    }
    const uint32_t* path = out.find(word.context());
    if (new_line) put(out, kNewLine);
    if (path) put(out, kReference);
    put_header(out, word.type(), true);
    put_varint(out, out.symbol(word.symbol()));
    put_zigzag(out, word.position());
    if (path) return put_path(out, path);
    out.enter(word.context());
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
    if (!key && kind != Kind::native && kind != Kind::op && kind != Kind::image) {
        if (new_line) put(out, kNewLine);
        write_scalar(out, value);
        out.counter++;
        return;
    }
    if (new_line) put(out, kNewLine);
    const uint32_t* path = key ? out.find(key) : nullptr;
    bool series = kind == Kind::cells || kind == Kind::hash || kind == Kind::text || kind == Kind::binary ||
                  kind == Kind::vector || kind == Kind::image;
    if (path) {
        put(out, kReference);
        put_header(out, type, series && head_of(value) != 0);
        if (series) put_head(out, value);
        put_path(out, path);
        out.counter++;
        return;
    }
    switch (kind) {
    case Kind::native:
        put_header(out, type, false);
        put_varint(out, value.entry());
        write_record(out, Cell::of(Type::Block).set_node(value.spec()));
        out.counter--;
        break;
    case Kind::op:
        put_header(out, type, false);
        write_record(out, op::unwrap(value));
        out.counter--;
        break;
    case Kind::error:
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
    default:  // an empty image has no buffer that other values could share
        if (key) out.enter(key);
        put_header(out, type, head_of(value) != 0);
        put_head(out, value);
        write_series_contents(out, value);
        if (key) out.leave();
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
    in.read_record = read_record;
    while (in.pos < in.end) read_record(in, in.target);
}

void write_compact(Output& out, const Cell& value) { write_record(out, value); }

}  // namespace oka::okabin
