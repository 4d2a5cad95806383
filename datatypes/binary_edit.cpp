// The actions that change a binary in place (append, insert, change, trim), and the bytes each value
// stands for when written into one. The bytes are made first, outside the series buffers; then the
// change is reported to the binary's owner, made, and reported again.
#include <algorithm>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/cycles.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/string_internal.h"
#include "datatypes/words.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::binary {

namespace {

// ---- the bytes of values ----

struct Encoder {
    std::vector<uint8_t> bytes;
    bool forms_others;

    // Appends at most `limit` bytes (all when negative).
    void put(const uint8_t* data, size_t length, int64_t limit) {
        if (limit >= 0) length = std::min<size_t>(length, size_t(limit));
        bytes.insert(bytes.end(), data, data + length);
    }
    void put(const std::string& text, int64_t limit) {
        put(reinterpret_cast<const uint8_t*>(text.data()), text.size(), limit);
    }

    // The bytes of a value, at most `limit` of them when not negative; of a text's first `characters`
    // characters when not negative.
    void add(Cell* value, int64_t limit, int32_t characters, bool only) {
        Type type = value->type();
        switch (type) {
        case Type::Char: {
            uint8_t utf8[4];
            put(utf8, unicode::cp_to_utf8(value->code_point(), utf8), limit);
            return;
        }
        case Type::Integer: {
            int32_t n = integer::get(*value);
            if (n < -128 || n > 255) fire(Err::script_invalid_arg, value);
            uint8_t byte = uint8_t(n);
            put(&byte, 1, limit);
            return;
        }
        case Type::Binary: {
            string::Text text = string::text_of(*value);
            put(text.data.get(), text.length, limit);
            return;
        }
        case Type::Tuple: {  // its byte count in header bits 19 to 22
            Bytes12 bytes = value->tuple_bytes();
            put(bytes.data(), value->header >> 19 & 15, limit);
            return;
        }
        default: break;
        }
        if (is_a(type, TypeClass::any_string))
            put(utf8_of(*value, characters), limit);
        else if (is_a(type, TypeClass::any_list))
            block(*value, limit, only);
        else if (forms_others)
            formed(value, limit);
        else
            error::fire_on_type(Err::script_bad_to_arg, Type::Binary, value);
    }

    // The values from the head, one after the other. A part counts the values, each written whole; with
    // `only` it is a budget of bytes, which each value takes from in turn.
    void block(const Cell& block, int64_t part, bool only) {
        cycles::Scope nesting(block);
        uint32_t head = std::min(block.head(), series::rs_buffer_length_q(block));
        size_t start = bytes.size();
        for (uint32_t i = head; i < series::rs_buffer_length_q(block); i++) {
            if (part >= 0 && !only && i - head >= part) break;
            int64_t budget = part >= 0 && only ? part - int64_t(bytes.size() - start) : -1;
            if (part >= 0 && only && budget < 1) break;
            Cell* item = stack::push(*block::rs_abs_at(block, i));
            add(item, budget, -1, only);
            stack::pop(1);
        }
    }

    // The UTF-8 of the value's form.
    void formed(Cell* value, int64_t limit) {
        Cell* text = string::rs_make_at(stack::push_next(), 16);
        actions::call<Act::form>(value, text, nullptr, 0);
        put(utf8_of(*text), limit);
        stack::pop(1);
    }
};

// ---- editing ----

// Where an edit writes and what: `dup` copies of the bytes at `at`, in place of `replaced` bytes. An
// owner's handler may change the binary, so an edit is planned again after the report before the change.
struct Edit {
    uint32_t at;
    uint64_t written;
    uint32_t replaced;
};

uint32_t length_of(const Cell& series) { return series::rs_buffer_length_q(series); }
uint32_t clamped_head(const Cell& series) { return std::min(series.head(), length_of(series)); }

Edit plan_addition(const Cell& series, uint64_t written, bool append) {
    return {append ? length_of(series) : clamped_head(series), written, 0};
}

Edit plan_change(const Cell& series, uint64_t written, int32_t part) {
    uint32_t head = clamped_head(series), available = length_of(series) - head;
    uint64_t replaced = part >= 0 ? uint64_t(part) : written;
    return {head, written, uint32_t(std::min<uint64_t>(replaced, available))};
}

void splice(const Cell& series, const Edit& edit, const std::vector<uint8_t>& bytes, int32_t dup) {
    string::Run run{bytes.data(), 0, 0, 1, uint32_t(bytes.size())};
    string::splice(series.node(), edit.at, edit.replaced, run, uint32_t(dup));
}

// ---- trim ----

// Zero bytes go from the start unless only the tail is asked for, from the end unless only the head is.
void trim_zeros(const Cell& series, bool head, bool tail) {
    uint32_t start = clamped_head(series), end = length_of(series);
    BufPtr<uint8_t> bytes = series::unit_at(series, 0);
    uint32_t first = start, last = end;
    if (head || !tail)
        while (first < last && bytes[first] == 0) first++;
    if (tail || !head)
        while (last > first && bytes[last - 1] == 0) last--;
    std::memmove(bytes.get() + start, bytes.get() + first, last - first);
    series::resize_range(series.node(), start + (last - first), end - (start + (last - first)), 0);
}

}  // namespace

std::vector<uint8_t> encode(Cell* value, int32_t part, Encoding how) {
    Encoder encoder{{}, how.forms_others};
    if (is_a(value->type(), TypeClass::any_list))
        encoder.block(*value, part, how.only);
    else
        encoder.add(value, is_a(value->type(), TypeClass::any_string) ? -1 : part, part, how.only);
    return std::move(encoder.bytes);
}

// One entry serves append and insert.
void append(Cell* series, Cell* value, const EditOptions& options, bool append) {
    std::vector<uint8_t> bytes = encode(value, options.part, {.only = options.only});
    if (!bytes.empty()) {
        uint64_t written = uint64_t(bytes.size()) * uint32_t(options.dup);
        Edit edit = plan_addition(*series, written, append);
        Word before = append ? Word::append : Word::insert, after = append ? Word::appended : Word::inserted;
        bool owned = ownership::check(*series, before, value, int32_t(edit.at), int32_t(written));
        if (owned) edit = plan_addition(*series, written, append);
        splice(*series, edit, bytes, options.dup);
        if (owned) ownership::check(*series, after, value, int32_t(edit.at), int32_t(written));
        series->set_head(append ? 0 : edit.at + uint32_t(written));
    }
    stack::set_last(*series);
}

void change(Cell* series, Cell* value, const EditOptions& options) {
    std::vector<uint8_t> bytes = encode(value, -1, {.forms_others = true});
    uint64_t written = uint64_t(bytes.size()) * uint32_t(options.dup);
    Edit edit = plan_change(*series, written, options.part);
    bool owned = ownership::check(*series, Word::change, value, int32_t(edit.at), int32_t(edit.replaced));
    if (owned) edit = plan_change(*series, written, options.part);
    splice(*series, edit, bytes, options.dup);
    if (owned) ownership::check(*series, Word::changed, value, int32_t(edit.at), int32_t(written));
    series->set_head(edit.at + uint32_t(written));
    stack::set_last(*series);
}

// /all removes every zero byte, /with the bytes it lists, as string! removes characters; otherwise the
// zero bytes at the ends go. The bytes are read after the report, whose handler may change the binary.
void trim(Cell* series, const TrimOptions& options) {
    if (options.all || options.with) {
        Cell zero;
        TrimOptions listed = options;
        if (!listed.with) listed.with = integer::make_at(&zero, 0);
        string::trim(series, listed);
        return;
    }
    if (options.auto_ || options.lines) fire(Err::internal_not_done);
    bool owned = ownership::check(*series, Word::trim, nullptr, int32_t(clamped_head(*series)),
                                  int32_t(series::rs_length_q(*series)));
    trim_zeros(*series, options.head, options.tail);
    uint32_t start = clamped_head(*series);
    if (owned) ownership::check(*series, Word::trimmed, nullptr, int32_t(start), int32_t(length_of(*series) - start));
    stack::set_last(*series);
}

}  // namespace oka::binary
