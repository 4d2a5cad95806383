// The OKABIN plain record form: every record a sequence of 32-bit little-endian words starting with a
// header word (the type id in bits 0-7, marks and small fields in the others), byte data padded to
// whole words, 64-bit floats aligned to 8 bytes of the records by a zero padding word.
#include <algorithm>
#include <bit>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/tuple.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "services/okabin_internal.h"
#include "services/okabin_values.h"

namespace oka::okabin {

namespace {

// The header word's marks and fields besides the type id (bits 0-7) and the new line (bit 31).
constexpr uint32_t kReference = 1u << 19;
constexpr uint32_t kNegative = 1u << 22;  // money!
constexpr uint32_t kNegated = 1u << 23;   // bitset!
constexpr uint32_t kHandlers = 1u << 24;  // object!
constexpr uint32_t kBare = 1u << 25;      // a word bound to the global context; in the boot data, a set-word record
constexpr uint32_t kKindShift = 26;       // context!: the kind in bits 26-27, then self, on the stack, values follow
constexpr uint32_t kSelf = 1u << 28;
constexpr uint32_t kOnStack = 1u << 29;
constexpr uint32_t kValuesFollow = 1u << 30;
constexpr uint32_t kNewLine = 1u << 31;
constexpr uint32_t kSizeShift = 8;          // the unit size of byte data, a tuple's length
constexpr uint32_t kPathMark = 255;         // before a path; as a type id, a bare reference
constexpr uint32_t kNoRoot = uint32_t(-1);  // a boot word bound to the global context

uint32_t size_field(uint32_t header) { return header >> kSizeShift & 0xFF; }

// ---- reading ----

// A count of items of at least `unit` bytes each, which must fit in what is left.
uint32_t count(Input& in, uint32_t unit) {
    const uint8_t* at = in.pos;
    uint32_t n = in.u32();
    if (n > in.left() / unit) in.fail(at);
    return n;
}

// The mark, the length and the indexes of a reference path.
Cell referenced(Input& in, const Record& r, bool marked) {
    const uint8_t* at = in.pos;
    if (marked && in.u32() != kPathMark) in.fail(at);
    uint32_t n = count(in, 4);
    if (n < 1) in.fail(at);
    std::vector<uint32_t> path(n);
    for (uint32_t& index : path) index = in.u32();
    return resolve(in, path, r.at);
}

// Past byte data and its padding to a whole word of the records.
void skip_bytes(Input& in, size_t n) {
    in.pos += n;
    size_t odd = size_t(in.pos - in.payload) % 4;
    if (odd) {
        in.need(4 - odd);
        in.pos += 4 - odd;
    }
}

double read_f64(Input& in) {
    uint64_t high = in.u32(), low = in.u32();
    uint64_t bits = high << 32 | low;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

void read_record(Input& in, Node parent);

std::vector<uint32_t> read_symbols(Input& in, uint32_t n) {
    std::vector<uint32_t> symbols(n);
    for (uint32_t& symbol : symbols) {
        const uint8_t* at = in.pos;
        symbol = in.symbol(in.u32(), at);
    }
    return symbols;
}

ContextRecord read_context(Input& in, uint32_t header) {
    std::vector<uint32_t> symbols = read_symbols(in, count(in, 4));
    return {_context::Kind(header >> kKindShift & 3), bool(header & kOnStack), bool(header & kSelf),
            bool(header & kValuesFollow), std::move(symbols)};
}

ContextRecord read_inner_context(Input& in) {
    const uint8_t* at = in.pos;
    uint32_t header = in.u32();
    if ((header & 0xFF) != uint8_t(Type::Context)) in.fail(at);
    return read_context(in, header);
}

bool owner_type_q(uint32_t header) {
    Type type = Type(header & 0xFF);
    return type == Type::Object || type == Type::Function || type == Type::Error;
}

void read_word(Input& in, const Record& r, uint32_t header, Node parent) {
    const uint8_t* at = in.pos;
    uint32_t symbol_index = in.u32();
    uint32_t symbol = in.symbol(symbol_index, at);
    if (!in.codec) {
        uint32_t root = in.u32();
        int32_t index = int32_t(in.u32());
        uint32_t start = mem::buffer(parent)->length();
        append(parent, root == kNoRoot ? global_word(in, r, symbol_index, at) : boot_word(in, r, symbol, root, index));
        if (!(header & kBare)) return;
        read_record(in, parent);
        return assign_set_word(in, r, parent, start);
    }
    int32_t index = int32_t(in.u32());
    if (header & kBare) return (void)append(parent, global_word(in, r, symbol_index, at));
    if (r.reference)
        return (void)append(parent, bound_word(in, r, symbol, context_carried(referenced(in, r, true)), index));
    in.need(4);
    uint32_t owner;
    std::memcpy(&owner, in.pos, 4);
    if (!owner_type_q(owner)) in.fail(in.pos);
    append_word_with_owner(in, r, symbol, index, parent);
}

void read_series(Input& in, const Record& r, uint32_t header, Node parent) {
    Kind kind = kind_of(r.type);
    bool headed = kind != Kind::map && kind != Kind::bitset;
    uint32_t unit = kind == Kind::text || kind == Kind::vector ? size_field(header) : 1;
    if (unit != 1 && unit != 2 && unit != 4 && !(kind == Kind::vector && unit == 8)) in.fail(r.at);
    uint32_t head = headed ? in.u32() : 0;
    if (r.reference) return (void)append(parent, shared_series(in, r, head, referenced(in, r, true)));
    const uint8_t* at = in.pos;
    switch (kind) {
    case Kind::cells:
    case Kind::hash: return append_block(in, r, head, count(in, 4), parent);
    case Kind::map: return append_map(in, r, count(in, 4), parent, at);
    case Kind::text: {
        uint32_t n = in.u32();
        append_text(in, r, head, n, unit, parent, at);
        return skip_bytes(in, size_t(n) * unit);
    }
    case Kind::vector: {
        uint32_t n = in.u32();
        Type element = Type(in.u32() & 0xFF);
        append_vector_record(in, r, head, element, unit, n, parent, at);
        return skip_bytes(in, size_t(n) * unit);
    }
    case Kind::image: {
        uint32_t size = in.u32();  // 4 bytes a pixel keep the payload aligned
        return read_image(in, r, head, size & 0xFFFF, size >> 16, parent, at);
    }
    default: {  // binary!, bitset!
        uint32_t n = count(in, 1);
        append_bytes(in, r, head, n, r.type == Type::Bitset && (header & kNegated), parent);
        skip_bytes(in, n);
    }
    }
}

void read_owner(Input& in, const Record& r, uint32_t header, Node parent) {
    if (r.reference) return (void)append(parent, shared_owner(in, r, referenced(in, r, true)));
    if (r.type == Type::Function) {
        in.u32(), in.u32();  // the spec's and body's lengths: their block records give them again
        return append_function(in, r, read_inner_context(in), parent);
    }
    int32_t class_id = int32_t(in.u32());
    if (header & kHandlers) in.u32(), in.u32();  // the handlers are found again from the fields
    append_object(in, r, class_id, header & kHandlers, read_inner_context(in), parent);
}

Cell read_scalar(Input& in, const Record& r, uint32_t header) {
    Cell value = r.cell();
    const uint8_t* at = in.pos;
    switch (kind_of(r.type)) {
    case Kind::datatype: {
        uint32_t id = in.u32();
        if (id == 0 || id >= uint32_t(kTypeTableSize) || !datatype::registered_q(Type(id))) in.fail(at);
        value.set_named_type(Type(id));
        break;
    }
    case Kind::empty: break;
    case Kind::logic: value.set_truth(in.u32() != 0); break;
    case Kind::char_:
        value.set_code_point(in.u32());
        if (value.code_point() > 0x10FFFF) in.fail(at);
        break;
    case Kind::integer: value.set_int32(int32_t(in.u32())); break;
    case Kind::float_:
    case Kind::percent: value.set_f64(read_f64(in)); break;
    case Kind::pair: value.set_x(int32_t(in.u32())), value.set_y(int32_t(in.u32())); break;
    case Kind::point2d:
    case Kind::point3d: {
        std::array<uint32_t, 3> bits{in.u32(), in.u32(), r.type == Type::Point3D ? in.u32() : 0};
        value.set_coordinates(std::bit_cast<Float32x3>(bits));
        break;
    }
    case Kind::date:
        value.set_date_word(in.u32());
        value.set_time_slot(read_f64(in));
        if (!date_q(value)) in.fail(at);
        break;
    case Kind::typeset: value.set_type_bits(Words3{in.u32(), in.u32(), in.u32()}); break;
    case Kind::tuple: {
        uint32_t n = size_field(header);
        if (n < tuple::kMinBytes || n > tuple::kMaxBytes) in.fail(r.at);
        in.need(12);
        Bytes12 bytes{};  // the bytes past the count stay zero
        std::memcpy(bytes.data(), in.pos, n);
        value.set_tuple_bytes(bytes);
        in.pos += 12;
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
        if ((header & kNegative) && !money_zero_q(value)) value.header |= money::kSignBit;
        break;
    case Kind::issue:
        value.set_context(_context::global).set_symbol(in.symbol(in.u32(), at, Spelling::issue)).set_position(-1);
        break;
    default: in.fail(r.at);
    }
    return value;
}

void read_record(Input& in, Node parent) {
    Nesting nesting(in.depth);
    Record r{.at = in.pos};
    uint32_t header = 0;
    while (!(header & 0xFF)) {  // padding words
        r.at = in.pos;
        header = in.u32();
    }
    r.new_line = header & kNewLine;
    if ((header & 0xFF) == kPathMark) {
        Cell found = referenced(in, r, false);
        if (r.new_line) found.header |= kCellNewLine;
        return (void)append(parent, found);
    }
    if ((header & 0xFF) >= uint32_t(kTypeTableSize)) in.fail(r.at);
    r.type = Type(header & 0xFF);
    r.reference = header & kReference;
    Kind kind = kind_of(r.type);
    if (kind == Kind::no_codec) error::fire_on_type(Err::access_no_codec, r.type);
    if (kind == Kind::invalid || !datatype::registered_q(r.type)) in.fail(r.at);
    const uint8_t* at = in.pos;
    if (series_kind_q(kind)) return read_series(in, r, header, parent);
    switch (kind) {
    case Kind::word: return read_word(in, r, header, parent);
    case Kind::object:
    case Kind::function: return read_owner(in, r, header, parent);
    case Kind::error:
        if (r.reference) return (void)append(parent, shared_owner(in, r, referenced(in, r, true)));
        break;
    default: break;
    }
    if (r.reference) in.fail(r.at);
    switch (kind) {
    case Kind::context: return append_standalone_context(in, r, read_context(in, header), parent);
    case Kind::native: return append_native(in, r, in.u32(), parent, at);
    case Kind::op: return append_op(in, r, parent);
    case Kind::error: return append_error(in, r, in.u32(), parent, at);
    default: append(parent, read_scalar(in, r, header));
    }
}

// ---- writing ----

void put(Output& out, uint32_t word) {
    uint8_t bytes[4];
    std::memcpy(bytes, &word, 4);
    out.bytes.insert(out.bytes.end(), bytes, bytes + 4);
}

// Byte data and zero bytes to a whole word.
void put_bytes(Output& out, const void* bytes, size_t n) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    out.bytes.insert(out.bytes.end(), p, p + n);
    out.bytes.resize((out.bytes.size() + 3) & ~size_t(3), 0);
}

void put_path(Output& out, const uint32_t* path) {
    put(out, kPathMark);
    for (uint32_t i = 0; i <= path[0]; i++) put(out, path[i]);
}

// A double as its high 32 bits, then its low ones.
void put_halves(Output& out, double value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    put(out, uint32_t(bits >> 32)), put(out, uint32_t(bits));
}

void put_f64(Output& out, uint32_t header, double value) {
    if (out.bytes.size() % 8) put(out, 0);
    put(out, header), put_halves(out, value);
}

void write_record(Output& out, const Cell& value);

void write_scalar(Output& out, const Cell& value, uint32_t header) {
    switch (kind_of(value.type())) {
    case Kind::datatype: put(out, header), put(out, uint32_t(value.named_type())); break;
    case Kind::empty: put(out, header); break;
    case Kind::logic: put(out, header), put(out, value.truth() ? 1 : 0); break;
    case Kind::char_:
    case Kind::integer: put(out, header), put(out, uint32_t(value.int32())); break;
    case Kind::float_:
    case Kind::percent: put_f64(out, header, value.f64()); break;
    case Kind::pair: put(out, header), put(out, uint32_t(value.x())), put(out, uint32_t(value.y())); break;
    case Kind::point2d:
    case Kind::point3d: {
        auto bits = std::bit_cast<std::array<uint32_t, 3>>(value.coordinates());
        put(out, header), put(out, bits[0]), put(out, bits[1]);
        if (value.is(Type::Point3D)) put(out, bits[2]);
        break;
    }
    case Kind::date: put(out, header), put(out, value.date_word()), put_halves(out, value.time_slot()); break;
    case Kind::typeset: put(out, header), put_bytes(out, value.type_bits().data(), 12); break;
    case Kind::tuple:
        put(out, header | tuple::length_of(value) << kSizeShift);
        put_bytes(out, value.tuple_bytes().data(), 12);
        break;
    case Kind::money:
        put(out, header | (value.header & money::kSignBit ? kNegative : 0));
        put_bytes(out, value.money_bytes().data(), 12);
        break;
    case Kind::issue: put(out, header), put(out, out.symbol(value.symbol())); break;
    default: fire(Err::access_no_codec, &value);
    }
}

void write_context(Output& out, Node context) {
    const Cell cell = *_context::context_cell(context);
    uint32_t n = _context::word_count(context);
    bool on_stack = cell.header & kValuesOnStack;
    bool values = false;
    for (uint32_t i = 0; !on_stack && i < n && !values; i++)
        values = !_context::value_at(cell, int32_t(i))->is(Type::Unset);
    put(out, uint8_t(Type::Context) | uint32_t(_context::kind_of(cell)) << kKindShift | (on_stack ? kOnStack : 0) |
                 (cell.header & _context::kHasSelf ? kSelf : 0) | (values ? kValuesFollow : 0));
    put(out, n);
    for (uint32_t i = 0; i < n; i++) put(out, out.symbol(_context::word_at(context, i)->symbol()));
    for (uint32_t i = 0; values && i < n; i++)
        write_record(out, *_context::value_at(*_context::context_cell(context), int32_t(i)));
}

void write_owner(Output& out, const Cell& owner, uint32_t header) {
    switch (owner.type()) {
    case Type::Object: {
        put(out, header | (owner.handlers() ? kHandlers : 0));
        put(out, owner.class_id());
        if (owner.handlers()) {
            Cell record = Cell::of(Type::Block).set_node(owner.handlers());
            put(out, uint32_t(block::rs_abs_at(record, 0)->x())), put(out, uint32_t(block::rs_abs_at(record, 1)->x()));
        }
        write_context(out, owner.context());
        break;
    }
    case Type::Function: {
        Cell spec = function::spec_of(owner), body = *function::extra(owner, function::kBody);
        put(out, header);
        put(out, series::rs_buffer_length_q(spec));
        put(out, body.is(Type::Block) ? series::rs_buffer_length_q(body) : 0);
        write_context(out, owner.context());
        out.counter = 0;
        write_record(out, spec);
        out.counter = 1;
        write_record(out, body);
        break;
    }
    default: {  // error!
        Cell context = *_context::context_cell(owner.context());
        put(out, header);
        put(out, error_code_of(owner));
        for (uint32_t i = error::kArg1; i < error::kFiles; i++)
            write_record(out, *_context::value_at(context, int32_t(i)));
    }
    }
}

void write_word(Output& out, const Cell& word, uint32_t header) {
    Cell owner = owner_of_word(word);
    if (owner.is(Type::Unset)) {
        put(out, header | kBare), put(out, out.symbol(word.symbol())), put(out, uint32_t(word.position()));
        return;
    }
    const uint32_t* path = out.find(word.context());
    put(out, header | (path ? kReference : 0)), put(out, out.symbol(word.symbol())),
        put(out, uint32_t(word.position()));
    if (path) return put_path(out, path);
    out.enter(word.context());
    write_owner(out, owner, uint8_t(owner.type()));
    out.leave();
}

// The header of a series record with its unit size, and its head where it has one.
void put_series_start(Output& out, const Cell& value, uint32_t header) {
    Kind kind = kind_of(value.type());
    if (kind == Kind::text || kind == Kind::binary || kind == Kind::vector)
        header |= mem::buffer(value.node())->unit() << kSizeShift;
    if (value.is(Type::Bitset) && bitset_negated_q(value)) header |= kNegated;
    put(out, header);
    if (kind != Kind::map && kind != Kind::bitset) put(out, head_of(value));
}

void write_series_contents(Output& out, const Cell& value) {
    if (value.is(Type::Image)) {
        put(out, value.image_size());  // height << 16 | width
        std::span<const uint8_t> pixels = ImagePixels(value).bytes();
        return put_bytes(out, pixels.data(), pixels.size());
    }
    const SeriesBuffer& buffer = *mem::buffer(value.node());
    uint32_t n = buffer.length(), unit = buffer.unit();
    const uint8_t* bytes = mem::ptr(buffer.offset);
    switch (kind_of(value.type())) {
    case Kind::cells:
    case Kind::hash:
        put(out, n);
        for (uint32_t i = 0; i < n; i++) write_record(out, *block::rs_abs_at(value, i));
        break;
    case Kind::map:  // the live entries: a removed key leaves a value cell of no type
        put(out, 2 * map::rs_length_q(value));
        for (uint32_t i = 0; i + 1 < n; i += 2) {
            if (block::rs_abs_at(value, i + 1)->header == 0) continue;
            write_record(out, *block::rs_abs_at(value, i));
            write_record(out, *block::rs_abs_at(value, i + 1));
        }
        break;
    case Kind::vector:
        put(out, n), put(out, uint32_t(value.element_type()));
        put_bytes(out, bytes, size_t(n) * unit);
        break;
    default:  // text, binary!, bitset!
        put(out, n);
        put_bytes(out, bytes, size_t(n) * unit);
    }
}

void write_record(Output& out, const Cell& value) {
    Nesting nesting(out.depth);
    Kind kind = kind_of(value.type());
    uint32_t header = uint8_t(value.type()) | (value.new_line() ? kNewLine : 0);
    if (kind == Kind::word) {
        write_word(out, value, header);
        out.counter++;
        return;
    }
    Node key = key_of(value);
    const uint32_t* path = key ? out.find(key) : nullptr;
    bool owner = kind == Kind::object || kind == Kind::function || kind == Kind::error;
    if (path) {
        if (owner)
            put(out, header | kReference);
        else
            put_series_start(out, value, header | kReference);
        put_path(out, path);
    } else if (kind == Kind::native) {
        put(out, header), put(out, value.entry());
        write_record(out, Cell::of(Type::Block).set_node(value.spec()));
        out.counter--;
    } else if (kind == Kind::op) {
        put(out, header | uint32_t(op_wrapped_type(value)) << kOpWrappedShift);
        write_record(out, op::unwrap(value));
        out.counter--;
    } else if (owner) {
        out.enter(key);
        write_owner(out, value, header);
        out.leave();
    } else if (key || kind == Kind::image) {  // an empty image has no buffer that others could share
        if (key) out.enter(key);
        put_series_start(out, value, header);
        write_series_contents(out, value);
        if (key) out.leave();
    } else {
        write_scalar(out, value, header);
    }
    out.counter++;
}

}  // namespace

void read_plain(Input& in, bool symbols, const uint8_t* container_end) {
    if (in.left() < 8)
        error::fire_with_bytes(Err::script_invalid_data, in.data,
                               uint32_t(std::min<size_t>(size_t(in.end - in.data), 16)));
    in.u32();  // the root count: the records say how many roots there are
    const uint8_t* at = in.pos;
    uint32_t length = in.u32();
    if (symbols) {
        const uint8_t* table_at = in.pos;
        uint32_t count = in.u32(), size = in.u32();
        in.read_symbol_table(count, size, container_end, table_at);
    }
    if (length > size_t(container_end - in.pos) || length % 4) in.fail(at);
    in.payload = in.pos;
    in.end = in.pos + length;
    in.read_record = read_record;
    while (in.pos < in.end) read_record(in, in.target);
}

void write_plain(Output& out, const Cell& value) { write_record(out, value); }

}  // namespace oka::okabin
