#include "runtime/unicode.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

#include "runtime/error.h"
#include "runtime/fatal.h"
#include "runtime/stack.h"

namespace oka::unicode {

static_assert(std::endian::native == std::endian::little, "string units and UTF-16LE text are native units");

namespace {

// ---- The UTF-8 automaton

// The published table-driven UTF-8 decoder: 256 byte classes, then the transitions indexed by
// state + class. States are multiples of 12; the automaton rejects overlong forms, surrogates and
// anything above U+10FFFF as early as the byte that shows it.
constexpr uint8_t kUtf8Automaton[256 + 108] = {
    // byte classes
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    //
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    //
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    //
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    //
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,    //
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,    //
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,    //
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,  //
    // transitions
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,   //
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,     //
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,  //
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, 12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  //
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,                                                  //
};
constexpr uint32_t kAccept = 0;
constexpr uint32_t kReject = 12;  // every state above it waits for a continuation byte

// Feeds one byte to the automaton: returns the next state and gathers the code point's bits.
uint32_t step(uint32_t state, uint32_t& code_point, uint8_t byte) {
    uint32_t byte_class = kUtf8Automaton[byte];
    code_point = state == kAccept ? (0xFFu >> byte_class) & byte : (code_point << 6) | (byte & 0x3Fu);
    return kUtf8Automaton[256 + state + byte_class];
}

// ---- Errors

[[noreturn]] void raise_invalid_char(uint32_t code_point) {
    error::fire_with_integer(Err::script_invalid_char, int32_t(code_point));
}

// Raises `id` with a binary! of up to four bytes.
[[noreturn]] void raise_with_bytes(Err id, const uint8_t* bytes, uint32_t available) {
    error::fire_with_bytes(id, bytes, std::min(available, 4u));
}

// ---- Strings from their head

// Calls body(tag, head, length): a value of the string's unit type, its head unit and the characters
// from there (none when the head lies past the tail).
template <class F>
decltype(auto) with_head_units(const Cell* string, F&& body) {
    BufPtr<SeriesBuffer> b = mem::buffer(string->node());
    return with_unit(b->unit(), [&]<class Unit>(Unit tag) {
        uint32_t length = b->used_bytes() / sizeof(Unit);
        uint32_t head = std::min(string->head(), length);
        return body(tag, mem::ptr(b->offset) + head * sizeof(Unit), length - head);
    });
}

// The characters of a string from its head, at most `limit` of them unless it is negative.
uint32_t count_from_head(const Cell* string, int32_t limit) {
    return with_head_units(string, [&](auto, const uint8_t*, uint32_t length) {
        return limit < 0 ? length : std::min(length, uint32_t(limit));
    });
}

// Writes `count` characters of the string from its head as UTF-8 within `room` bytes, CR before LF
// with `crlf`; returns the bytes written.
uint32_t write_utf8(const Cell* string, uint32_t count, uint8_t* out, uint32_t room, bool crlf) {
    return with_head_units(string, [&]<class Unit>(Unit, const uint8_t* head, uint32_t) {
        uint32_t written = 0;
        for (uint32_t i = 0; i < count && written < room; i++) {
            uint32_t code_point = unit_at<Unit>(head, i);
            if (crlf && code_point == '\n') out[written++] = '\r';
            written += cp_to_utf8_limited(code_point, out + written, room - written);
        }
        return written;
    });
}

// Writes `count` characters of the string from its head as UTF-16LE, CR before LF with `crlf`;
// returns the units written, or nothing at a code point above U+10FFFF.
std::optional<uint32_t> write_utf16(const Cell* string, uint32_t count, uint8_t* out, bool crlf) {
    return with_head_units(string, [&]<class Unit>(Unit, const uint8_t* head, uint32_t) -> std::optional<uint32_t> {
        uint32_t written = 0;
        for (uint32_t i = 0; i < count; i++) {
            uint32_t code_point = unit_at<Unit>(head, i);
            if (crlf && code_point == '\n') written += cp_to_utf16('\r', out + 2 * written);
            uint32_t units = cp_to_utf16(code_point, out + 2 * written);
            if (units == 0) return std::nullopt;
            written += units;
        }
        return written;
    });
}

// ---- Buffers

// Makes room for `bytes` from the buffer's first used unit, moving the used part to a larger buffer
// when needed.
BufPtr<SeriesBuffer> ensure_room(Node node, uint64_t bytes) {
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    if (b->data_end() - b->offset >= bytes) return b;
    alloc::expand_series(node, int64_t(std::max<uint64_t>(bytes, b->size)));
    return mem::buffer(node);
}

void set_unit(SeriesBuffer* b, uint32_t unit) { b->flags = (b->flags & ~kSeriesUnitMask) | unit; }

// Converts the units from the last to the first, so that each wider unit lands on units already read.
template <class From, class To>
BufPtr<SeriesBuffer> widen_units(Node node) {
    OKA_ASSERT(mem::buffer(node)->unit() == sizeof(From));
    uint32_t count = mem::buffer(node)->used_bytes() / sizeof(From);
    BufPtr<SeriesBuffer> b = ensure_room(node, uint64_t(count + 1) * sizeof(To));
    uint8_t* data = mem::ptr(b->offset);
    for (uint32_t i = count; i-- > 0;) set_unit_at<To>(data, i, unit_at<From>(data, i));
    b->tail = b->offset + count * uint32_t(sizeof(To));
    set_unit(b.get(), sizeof(To));
    return b;
}

// The buffer a load writes: a new one, or the target with its text removed; either with room for
// `units` units of `unit` bytes.
Node prepare_target(Node target, uint32_t units, uint32_t unit) {
    units = std::max(units, 1u);
    if (!target) return alloc::alloc_codepoints(units, unit);
    BufPtr<SeriesBuffer> b = mem::buffer(target);
    b->tail = b->offset;
    set_unit(b.get(), unit);  // first, so that a larger buffer is sized in units of the new unit
    ensure_room(target, uint64_t(units) * unit);
    return target;
}

// Appends a loaded code point, first widening the buffer to a unit that holds it. A full buffer grows
// by a quarter of the input length at unit 2 and by all of it at unit 4, so that a long load
// reallocates rarely.
void append_loaded(Node node, uint32_t code_point, uint32_t input_length) {
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    if (unit_for(code_point) > b->unit()) b = widen(node, unit_for(code_point));
    uint32_t unit = b->unit();
    if (b->data_end() - b->tail < unit) {
        uint32_t growth = unit == 2 ? input_length / 4 : input_length;
        alloc::expand_series(node, int64_t(b->size) + std::max(growth, unit));
        b = mem::buffer(node);
    }
    set_unit_at(mem::ptr(b->tail), unit, 0, code_point);
    b->tail += unit;
}

// Appends the run of ASCII bytes at `p` (a CR ends it when `crlf` asks for CR LF conversion) in one copy
// while the buffer's unit is 1, as most text is mostly ASCII. Answers where the run ended.
const uint8_t* append_ascii_run(Node node, const uint8_t* p, const uint8_t* end, bool crlf) {
    if (mem::buffer(node)->unit() != 1) return p;
    const uint8_t* run_end =
        std::find_if(p, end, [crlf](uint8_t byte) { return byte >= 0x80 || (crlf && byte == '\r'); });
    uint32_t count = uint32_t(run_end - p);
    if (count == 0) return p;
    BufPtr<SeriesBuffer> b = ensure_room(node, uint64_t(mem::buffer(node)->tail - mem::buffer(node)->offset) + count);
    std::memcpy(mem::ptr(b->tail), p, count);
    b->tail += count;
    return run_end;
}

bool starts_with_bom(const uint8_t* bytes, uint32_t length) {
    return length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
}

// ---- UTF-16

uint32_t utf16_at(const uint8_t* units, uint32_t i) { return unit_at<uint16_t>(units, i); }
bool is_high_surrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void store_utf16(uint8_t* out, uint32_t unit) { set_unit_at<uint16_t>(out, 0, unit); }

// The code point at unit i, a surrogate pair combined; i moves past it. An unpaired half raises
// invalid-data with the units from it.
uint32_t decode_utf16(const uint8_t* units, uint32_t count, uint32_t& i) {
    uint32_t first = utf16_at(units, i++);
    if (!surrogate_q(first)) return first;
    uint32_t second = i < count ? utf16_at(units, i) : 0;
    if (!is_high_surrogate(first) || !is_low_surrogate(second))
        raise_with_bytes(Err::script_invalid_data, units + 2 * (i - 1), 2 * (count - i + 1));
    i++;
    return 0x10000 + ((first & 0x3FF) << 10 | (second & 0x3FF));
}

}  // namespace

void fail_unit_size() { sys::quit(101, OKA_CALLER_ADDRESS()); }

BufPtr<SeriesBuffer> latin1_to_ucs2(Node node) { return widen_units<uint8_t, uint16_t>(node); }
BufPtr<SeriesBuffer> latin1_to_ucs4(Node node) { return widen_units<uint8_t, uint32_t>(node); }
BufPtr<SeriesBuffer> ucs2_to_ucs4(Node node) { return widen_units<uint16_t, uint32_t>(node); }

BufPtr<SeriesBuffer> widen(Node node, uint32_t unit) {
    uint32_t from = mem::buffer(node)->unit();
    if (from == 1 && unit == 2) return latin1_to_ucs2(node);
    if (from == 1 && unit == 4) return latin1_to_ucs4(node);
    if (from == 2 && unit == 4) return ucs2_to_ucs4(node);
    fail_unit_size();
}

// ---- UTF-8 decoding

const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t& code_point) {
    uint32_t state = kAccept;
    uint32_t value = 0;
    do state = step(state, value, *p++);
    while (state > kReject);
    code_point = state == kAccept ? int32_t(value) : -1;
    return p;
}

uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t count = 0;
    int32_t code_point;
    for (const uint8_t* p = start; p < end; count++) p = fast_decode_utf8_char(p, code_point);
    return count;
}

const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n) {
    int32_t code_point;
    for (; n > 0 && p < end; n--) p = fast_decode_utf8_char(p, code_point);
    return std::min(p, end);
}

std::string replace_invalid_utf8(const std::string& bytes, Replacer replace) {
    std::string valid;
    valid.reserve(bytes.size());
    const auto* start = reinterpret_cast<const uint8_t*>(bytes.c_str());  // NUL-ended: a cut sequence fails
    const uint8_t* end = start + bytes.size();
    for (const uint8_t* p = start; p < end;) {
        int32_t code_point;
        const uint8_t* next = fast_decode_utf8_char(p, code_point);
        if (code_point < 0 && next - p > 1) next--;
        next = std::min(next, end);
        std::string_view sequence(reinterpret_cast<const char*>(p), size_t(next - p));
        if (code_point >= 0)
            valid += sequence;
        else
            replace(valid, sequence);
        p = next;
    }
    return valid;
}

std::string valid_utf8(const std::string& bytes) {
    return replace_invalid_utf8(bytes, [](std::string& out, std::string_view) { out += "\xEF\xBF\xBD"; });
}

uint32_t utf8_lead_length(uint8_t byte) {
    uint32_t top_ones = std::countl_one(byte);
    return top_ones >= 4 ? 4 : top_ones >= 2 ? top_ones : 0;
}

int32_t decode_utf8_checked(const uint8_t* p, uint32_t& length) {
    uint32_t state = kAccept;
    uint32_t value = 0;
    for (uint32_t i = 0; i < length; i++) {
        state = step(state, value, p[i]);
        if (state == kReject) raise_with_bytes(Err::access_invalid_utf8, p, length);
        if (state == kAccept) {
            length = i + 1;
            return int32_t(value);
        }
    }
    return -1;
}

// ---- UTF-8 encoding

uint32_t utf8_char_length(uint32_t code_point) {
    if (code_point < 0x80) return 1;
    if (code_point < 0x800) return 2;
    if (code_point < 0x10000) return 3;
    if (code_point <= kMaxCodePoint) return 4;
    raise_invalid_char(code_point);
}

uint32_t utf8_size(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    return with_unit(unit, [&]<class Unit>(Unit) {
        uint32_t size = 0;
        for (const uint8_t* p = start; p < end; p += sizeof(Unit)) size += utf8_char_length(unit_at<Unit>(p, 0));
        return size;
    });
}

uint32_t cp_to_utf8(uint32_t code_point, uint8_t* out) {
    constexpr uint8_t kLeadBits[] = {0, 0, 0xC0, 0xE0, 0xF0};
    uint32_t length = utf8_char_length(code_point);
    if (length == 1) {
        out[0] = uint8_t(code_point);
        return 1;
    }
    for (uint32_t i = length - 1; i > 0; i--, code_point >>= 6) out[i] = uint8_t(0x80 | (code_point & 0x3F));
    out[0] = uint8_t(kLeadBits[length] | code_point);
    return length;
}

uint32_t cp_to_utf8_limited(uint32_t code_point, uint8_t* out, uint32_t room) {
    uint8_t form[4];
    uint32_t length = std::min(cp_to_utf8(code_point, form), room);
    std::memcpy(out, form, length);
    return length;
}

BufPtr<char> to_utf8(Cell* string, int32_t& length) { return to_utf8_part(string, length, false); }

BufPtr<char> to_utf8_part(Cell* string, int32_t& length, bool crlf) {
    uint32_t count = count_from_head(string, length);
    // A unit-1 character takes at most 2 bytes, a unit-2 one 3, any other 4; an LF with its CR takes 2.
    uint32_t most_per_char = std::min(mem::buffer(string->node())->unit() + 1, 4u);
    BufPtr<uint8_t> out = scratch_buffer(string, uint64_t(most_per_char) * (count + 1));
    uint32_t written = write_utf8(string, count, out.get(), UINT32_MAX, crlf);
    out[written] = 0;
    length = int32_t(written);
    return BufPtr<char>(reinterpret_cast<char*>(out.get()));
}

uint32_t to_utf8_buffer(const Cell* string, uint8_t* out, int32_t limit, bool terminate) {
    uint32_t written = write_utf8(string, count_from_head(string, limit), out, UINT32_MAX, false);
    if (terminate) out[written] = 0;
    return written;
}

uint32_t to_utf8_binary(const Cell* string, uint8_t* out, uint32_t room, int32_t limit, bool terminate) {
    bool add_nul = terminate && room > 0;
    uint32_t text_room = add_nul ? room - 1 : room;
    uint32_t written = write_utf8(string, count_from_head(string, limit > 0 ? limit : -1), out, text_room, false);
    if (add_nul) out[written] = 0;
    return written;
}

// ---- UTF-16LE

uint32_t utf16_unit_size(const uint8_t* units, uint32_t count) {
    uint32_t unit = 1;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t u = utf16_at(units, i);
        if (surrogate_q(u)) return 4;
        if (u > 0xFF) unit = 2;
    }
    return unit;
}

uint32_t cp_to_utf16(uint32_t code_point, uint8_t* out) {
    if (code_point < 0x10000) {
        store_utf16(out, code_point);
        return 1;
    }
    if (code_point > kMaxCodePoint) return 0;
    code_point -= 0x10000;
    store_utf16(out, 0xD800 | code_point >> 10);
    store_utf16(out + 2, 0xDC00 | (code_point & 0x3FF));
    return 2;
}

BufPtr<uint8_t> to_utf16(Cell* string) {
    int32_t all = -1;
    return to_utf16_part(string, all, true);
}

BufPtr<uint8_t> to_utf16_part(Cell* string, int32_t& length, bool crlf) {
    uint32_t count = count_from_head(string, length);
    // A character takes at most two units, a pair or an LF with its CR; one more for the zero.
    BufPtr<uint8_t> out = scratch_buffer(string, 4 * (uint64_t(count) + 1));
    std::optional<uint32_t> written = write_utf16(string, count, out.get(), crlf);
    length = int32_t(written.value_or(0));
    if (!written) return {};
    store_utf16(out.get() + 2 * *written, 0);
    return out;
}

// ---- Loading

Node load_utf8(const uint8_t* bytes, uint32_t length, Node target, uint32_t* remaining, bool crlf) {
    Node node = prepare_target(target, length, target ? mem::buffer(target)->unit() : 1);
    stack::Root held(node);  // a new buffer is held nowhere else while it grows

    const uint8_t* end = bytes + length;
    const uint8_t* p = starts_with_bom(bytes, length) ? bytes + 3 : bytes;
    while (p < end) {
        p = append_ascii_run(node, p, end, crlf);
        if (p == end) break;
        uint32_t size = uint32_t(end - p);
        int32_t code_point = decode_utf8_checked(p, size);
        if (code_point < 0) break;
        p += size;
        if (crlf && code_point == '\r') {
            if (p < end && *p == '\n') continue;
            code_point = '\n';
        }
        append_loaded(node, uint32_t(code_point), length);
    }
    if (remaining) *remaining = uint32_t(end - p);
    return node;
}

Node load_utf8_into(const uint8_t* bytes, uint32_t length, const Cell* string, uint32_t* remaining) {
    return load_utf8(bytes, length, string->node(), remaining, false);
}

Node load_utf8_new(const uint8_t* bytes, uint32_t length) { return load_utf8(bytes, length, 0, nullptr, false); }

Node load_utf16(const uint8_t* units, uint32_t count, Node target, bool crlf) {
    uint32_t unit = utf16_unit_size(units, count);
    Node node = prepare_target(target, count, unit);
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    uint8_t* out = mem::ptr(b->offset);
    uint32_t stored = 0;
    // `out` outlives no allocation: decode_utf16 allocates only to raise an error, and then never returns.
    for (uint32_t i = 0; i < count;) {
        uint32_t code_point = decode_utf16(units, count, i);
        if (!(crlf && code_point == '\r')) set_unit_at(out, unit, stored++, code_point);
    }
    b->tail = b->offset + stored * unit;
    return node;
}

Node load_encoded(const uint8_t* text, uint32_t length, int32_t encoding) {
    if (encoding == kUtf8) return load_utf8_new(text, length);
    if (encoding == kUtf16le) return load_utf16(text, length, 0, false);
    error::fire_with_integer(Err::script_invalid_data, encoding);
}

// ---- Scratch buffers

BufPtr<uint8_t> scratch_buffer(Cell* string, uint64_t bytes) {
    // Beyond 4 GiB the clamped size is still above the allocator's limit, which refuses it.
    uint32_t size = uint32_t(std::min<uint64_t>(bytes, UINT32_MAX));
    Node node = string->scratch();
    if (!node) {
        node = alloc::alloc_bytes(size);  // before the write: the allocation may move the string's cell
        string->set_scratch(node);
    } else if (mem::buffer(node)->size < size)
        alloc::reallocate_series(node, size);
    return BufPtr<uint8_t>(mem::ptr(mem::buffer(node)->data_start()));
}

}  // namespace oka::unicode
