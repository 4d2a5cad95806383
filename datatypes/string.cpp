#include "datatypes/string.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string_internal.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::string {

static_assert(std::endian::native == std::endian::little, "a code point read from a uint32_t is its own unit");

namespace {

BufPtr<SeriesBuffer> buffer_of(Node node) { return mem::buffer(node); }
uint32_t unit_of(Node node) { return buffer_of(node)->unit(); }
uint8_t* units_of(Node node) { return mem::ptr(buffer_of(node)->offset); }

void widen_to(Node node, uint32_t unit) {
    if (unit > unit_of(node)) unicode::widen(node, unit);
}

void store(Node node, uint32_t index, uint32_t code_point) {
    unicode::set_unit_at(units_of(node), unit_of(node), index, code_point);
}

Cell* make_on(Cell* cell, Node node) {
    *cell = Cell::of(Type::String).set_node(node);
    return cell;
}

[[noreturn]] void raise_invalid_utf8(const uint8_t* bytes, uint32_t length) {
    fire(Err::access_invalid_utf8, binary::load(bytes, length));
}

// ---- make, to, eval-path ----

Cell* push_new(uint32_t capacity) { return rs_make_at(stack::push_next(), capacity); }

Cell* retyped(Cell* string, Type target) {
    string->header = uint8_t(target);
    return string;
}

// UTF-8 text of a binary! from its head, copied out of its buffer before the string is made.
Cell* decode_binary(const Cell& binary) {
    BufPtr<SeriesBuffer> b = mem::buffer(binary.node());
    const uint8_t* head = mem::ptr(b->offset + std::min(binary.head(), b->length()));
    std::vector<uint8_t> bytes(head, static_cast<const uint8_t*>(mem::ptr(b->tail)));
    return load_utf8_checked(bytes.data(), uint32_t(bytes.size()));
}

const Cell* to(Cell*, Cell* spec, Type target) {
    Type type = spec->type();
    if (type == Type::None) error::fire_on_type(Err::script_bad_to_arg, target, spec);
    if (is_a(type, TypeClass::any_string)) {
        Cell* copy = stack::push(*spec);
        series::copy(copy, copy, CopyOptions{});
        return retyped(copy, target);
    }
    if (type == Type::Binary) return retyped(decode_binary(*spec), target);
    Cell* result = push_new(16);
    if (type == Type::Refinement && target != Type::String)
        actions::call<Act::mold>(spec, result, MoldOptions{}, 0, 0);  // with its "/"
    else
        splice(result->node(), 0, 0, contribution(spec, -1, false));
    return retyped(result, target);
}

// A number is a capacity, anything else a value to convert by the target's own `to`, but money, which
// no count of bytes is.
const Cell* make(Cell* proto, Cell* spec, Type target) {
    if (target == Type::Binary && spec->is(Type::Money)) error::fire_bad_make_arg(target, spec);
    if (!spec->is(Type::Integer) && !spec->is(Type::Float))
        return datatype::action<Act::to>(target)(proto, spec, target);
    int32_t size = float_::to_integer_checked(*spec);
    if (size < 0) fire(Err::script_out_of_range, spec);
    return retyped(push_new(uint32_t(size)), target);
}

// An integer picks or pokes; another key selects what follows it, or with a value to set, pokes the
// value over the unit after the key: the one a get of the path reads, however long the key. The
// series' own find and select look for the key, so that a child that searches its units as something
// other than code points (a vector's numbers) takes its path the same way.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    const Cell* where = step.path ? step.path : &none::value;
    if (element->is(Type::Integer)) {
        int32_t index = integer::get(*element);
        return value ? actions::call<Act::poke>(parent, index, value, element)
                     : actions::call<Act::pick>(parent, index, element);
    }
    if (element->is(Type::Word)) fire(Err::script_invalid_path, where, element);
    if (!value) return actions::call<Act::select>(parent, element, SelectOptions{});
    FindOptions to_after_key;
    to_after_key.tail = true;
    const Cell* after_key = actions::call<Act::find>(parent, element, to_after_key);
    if (after_key->is(Type::None)) fire(Err::script_bad_path_set, where, element);
    Cell* position = stack::push(*after_key);
    Cell index;
    return actions::call<Act::poke>(position, 1, value, integer::make_at(&index, 1));
}

}  // namespace

// ---- shared with the other string files ----

Run run_of_char(uint32_t code_point) { return Run{nullptr, 0, code_point, appending_unit(code_point), 1}; }

void widen_units(uint8_t* to, uint32_t to_unit, const uint8_t* from, uint32_t from_unit, uint32_t count) {
    unicode::with_unit(from_unit, [&]<class From>(From) {
        unicode::with_unit(to_unit, [&]<class To>(To) {
            for (uint32_t i = 0; i < count; i++) unicode::set_unit_at<To>(to, i, unicode::unit_at<From>(from, i));
        });
    });
}

void splice_any(Node node, uint32_t index, uint32_t replaced, Run run, uint32_t dup) {
    std::vector<uint8_t> aside;
    // The buffer is about to change under a run taken from it, so the run is set aside first; an empty
    // run reads nothing (and an empty copy would have no address).
    if (run.node == node && run.count > 0) {
        aside.assign(run.data(), run.data() + run.count * run.unit);
        run = Run{aside.data(), 0, 0, run.unit, run.count};
    }
    widen_to(node, run.unit);
    uint32_t unit = unit_of(node);
    uint64_t written = uint64_t(run.count) * dup;
    if ((buffer_of(node)->length() - replaced + written) * unit >= 0x80000000u) fire(Err::internal_no_memory);
    if (written > replaced) series::grow(node, written - replaced, dup == 1);
    series::resize_range(node, index, replaced, uint32_t(written));
    uint8_t* at = units_of(node) + index * unit;
    copy_units(at, unit, run.data(), run.unit, run.count);
    alloc::fill_pattern(at, run.count * unit, dup);
}

std::u32string code_points_of(const Cell& string) {
    Text text = text_of(string);
    std::u32string out(text.length, U'\0');
    unicode::with_unit(text.unit, [&]<class Unit>(Unit) {
        for (uint32_t i = 0; i < text.length; i++) out[i] = char32_t(unicode::unit_at<Unit>(text.data.get(), i));
    });
    return out;
}

// ---- registration ----

void init() {
    datatype::register_(Type::String, {
                                          implements<Act::make>(make),
                                          inherits<Act::random>(),
                                          inherits<Act::reflect>(),
                                          implements<Act::to>(to),
                                          implements<Act::form>(form),
                                          implements<Act::mold>(mold),
                                          implements<Act::eval_path>(eval_path),
                                          implements<Act::compare>(compare),
                                          implements<Act::append>(append),
                                          inherits<Act::at>(),
                                          inherits<Act::back>(),
                                          implements<Act::change>(change),
                                          inherits<Act::clear>(),
                                          inherits<Act::copy>(),
                                          implements<Act::find>(find),
                                          inherits<Act::head>(),
                                          inherits<Act::head_q>(),
                                          inherits<Act::index_q>(),
                                          implements<Act::insert>(append),
                                          inherits<Act::length_q>(),
                                          inherits<Act::move>(),
                                          inherits<Act::next>(),
                                          inherits<Act::pick>(),
                                          inherits<Act::poke>(),
                                          inherits<Act::remove>(),
                                          inherits<Act::reverse>(),
                                          implements<Act::select>(select),
                                          implements<Act::sort>(sort),
                                          inherits<Act::skip>(),
                                          implements<Act::swap>(swap),
                                          inherits<Act::tail>(),
                                          inherits<Act::tail_q>(),
                                          inherits<Act::take>(),  // a single unit already comes as a char!
                                          implements<Act::trim>(trim),
                                          inherits<Act::modify>(),
                                      });
}

void register_text_child(Type type, std::initializer_list<ActionEntry> own, std::span<const ActionEntry> more) {
    ActionSlot row[kActionCount];
    std::fill(std::begin(row), std::end(row), kUnsupported);
    for (Act slot : {Act::make, Act::reflect, Act::to, Act::eval_path, Act::compare, Act::modify})
        row[int(slot) - 1] = kInherit;
    for (int slot = int(Act::append); slot <= int(Act::take); slot++)
        if (slot != int(Act::sort)) row[slot - 1] = kInherit;
    for (const ActionEntry& entry : own) row[int(entry.slot) - 1] = entry.value;
    for (const ActionEntry& entry : more) row[int(entry.slot) - 1] = entry.value;
    datatype::register_(type, type_parent(type), type_text(type), row);
}

// ---- positions ----

BufPtr<uint8_t> rs_head(Cell* string) {
    string->set_head(clamped_head(*string));
    return BufPtr<uint8_t>(units_of(string->node()) + string->head() * unit_of(string->node()));
}

BufPtr<uint8_t> rs_tail(const Cell& string) { return BufPtr<uint8_t>(mem::ptr(buffer_of(string.node())->tail)); }

uint32_t rs_abs_at(const Cell& string, uint32_t index) {
    return unicode::unit_at(units_of(string.node()), unit_of(string.node()), index);
}

void rs_reset(Cell* string) {
    BufPtr<SeriesBuffer> b = buffer_of(string->node());
    b->tail = b->offset;
    b->flags = (b->flags & ~kSeriesUnitMask) | 1;
    string->set_head(0);
}

Text text_of(const Cell& string) {
    uint32_t head = clamped_head(string), length = rs_abs_length_q(string) - head;
    if (uint8_t(string.header) == kBoundedStringType && string.limit() >= 0)
        length = std::min(length, uint32_t(string.limit()));
    uint32_t unit = unit_of(string.node());
    return Text{BufPtr<uint8_t>(units_of(string.node()) + head * unit), unit, length};
}

// ---- constructors ----

Cell* rs_make_at(Cell* cell, uint32_t size) { return make_at_unit(cell, size, 1); }

Cell* make_at_unit(Cell* cell, uint32_t size, uint32_t unit) {
    return make_on(cell, alloc::alloc_codepoints(std::max(size, 1u), unit));
}

Cell* load_at(const uint8_t* bytes, uint32_t length, Cell* cell, int32_t encoding) {
    Node node = unicode::load_encoded(bytes, length, encoding);
    return make_on(cell ? cell : stack::push_next(), node);
}

Cell* load_in(const uint8_t* bytes, uint32_t length, const Cell& block, int32_t encoding) {
    Node into = block.node();
    uint32_t index = mem::buffer(into)->length();
    alloc::alloc_tail_cell(into);  // first, so that the string, made last, is stored before anything collects
    Node node = unicode::load_encoded(bytes, length, encoding);
    return make_on(mem::ptr<Cell>(mem::buffer(into)->offset) + index, node);
}

Cell* load(const uint8_t* bytes, uint32_t length, int32_t encoding) {
    return load_at(bytes, length, nullptr, encoding);
}

Cell* load_in_root(const uint8_t* bytes, uint32_t length, int32_t encoding) {
    return load_in(bytes, length, runtime::root, encoding);
}

Cell* load_utf8_checked(const uint8_t* bytes, uint32_t length) {
    Cell* string = rs_make_at(stack::push_next(), length);
    uint32_t remaining = 0;
    unicode::load_utf8_into(bytes, length, string, &remaining);
    if (remaining > 0) raise_invalid_utf8(bytes + length - remaining, remaining);
    return string;
}

// ---- writers ----

void append_char(Node node, uint32_t code_point) {
    widen_to(node, appending_unit(code_point));
    uint32_t unit = unit_of(node);
    unicode::set_unit_at(alloc::alloc_tail_bytes(node, unit).get(), unit, 0, code_point);
}

void overwrite_char(Node node, uint32_t index, uint32_t code_point) {
    widen_to(node, unicode::unit_for(code_point));
    uint32_t length = buffer_of(node)->length();
    if (index >= length) {
        series::grow(node, index + 1 - length, false);
        BufPtr<SeriesBuffer> b = buffer_of(node);
        uint8_t* old_tail = mem::ptr(b->tail);
        b->tail = b->offset + (index + 1) * b->unit();
        std::memset(old_tail, 0, mem::ptr(b->tail) - old_tail);  // units passed over hold NUL
    }
    store(node, index, code_point);
}

void insert_char(Node node, uint32_t index, uint32_t code_point) {
    widen_to(node, unicode::unit_for(code_point));
    series::grow(node, 1, true);
    series::resize_range(node, index, 0, 1);
    store(node, index, code_point);
}

void write_char(Node node, uint32_t index, uint32_t code_point) {
    widen_to(node, unicode::unit_for(code_point));
    OKA_ASSERT(buffer_of(node)->offset + (index + 1) * unit_of(node) <= buffer_of(node)->data_end());
    store(node, index, code_point);
}

void remove_part(Node node, uint32_t index, uint32_t count) {
    uint32_t length = buffer_of(node)->length();
    if (index < length) series::resize_range(node, index, std::min(count, length - index), 0);
}

void clip_tail(Cell* string, int32_t limit) {
    BufPtr<SeriesBuffer> b = buffer_of(string->node());
    uint64_t tail = uint64_t(b->offset) + uint64_t(uint32_t(limit)) * b->unit();
    if (limit >= 0 && tail < b->tail) b->tail = Addr(tail);
}

void concatenate(const Cell& destination, const Cell& source, int32_t part, uint32_t offset, Mode mode) {
    Run run = run_of(source, part);
    if (run.count == 0) return;
    Node node = destination.node();
    uint32_t length = buffer_of(node)->length();
    uint32_t at = mode == Mode::append
                      ? length
                      : uint32_t(std::min<uint64_t>(uint64_t(clamped_head(destination)) + offset, length));
    uint32_t replaced = mode == Mode::overwrite ? std::min(run.count, length - at) : 0;
    splice(node, at, replaced, run);
}

void concatenate_literal(Cell* string, const char* text, uint32_t length) {
    append_text(string->node(), Run{reinterpret_cast<const uint8_t*>(text), 0, 0, 1, length});
}

int32_t write_token(Cell* buffer, const char* text, bool all, int32_t part) {
    uint32_t length = uint32_t(std::strlen(text));
    if (all) concatenate_literal(buffer, "#(", 2);
    concatenate_literal(buffer, text, length);
    if (all) concatenate_literal(buffer, ")", 1);
    return part - int32_t(length) - (all ? 3 : 0);
}

void move_part(const Cell& origin, const Cell& target, uint32_t count) {
    Run run = run_of(origin, int32_t(count));
    splice(target.node(), clamped_head(target), 0, run);
    remove_part(origin.node(), run.start, run.count);
}

// ---- hexadecimal text ----

const char* to_hex(int32_t value, bool minimal) {
    static char text[9];
    uint32_t bits = uint32_t(value);
    for (int i = 7; i >= 0; i--, bits >>= 4) text[i] = "0123456789ABCDEF"[bits & 15];
    if (!minimal) return text;
    const char* first = text;
    while (*first == '0') first++;
    return *first ? first : text + 6;
}

const char* byte_to_hex(uint8_t byte) {
    static char text[3];
    text[0] = "0123456789ABCDEF"[byte >> 4];
    text[1] = "0123456789ABCDEF"[byte & 15];
    return text;
}

}  // namespace oka::string
