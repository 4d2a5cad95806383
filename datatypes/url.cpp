#include "datatypes/url.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace oka::url {

namespace {

constexpr int32_t kUnlimited = std::numeric_limits<int32_t>::max();

// The byte of the escape at `at`, or -1 when no escape stands there.
int32_t escaped_byte(const uint8_t* at, const uint8_t* end) {
    if (end - at < 3 || at[0] != '%') return -1;
    int32_t high = unicode::hex_digit(at[1]), low = unicode::hex_digit(at[2]);
    return high < 0 || low < 0 ? -1 : high << 4 | low;
}

// The escapes at `at` that decode as one character, their bytes stored in `bytes`: as many escapes as
// the first one's byte announces when they spell a valid UTF-8 sequence, one escape of a byte that
// starts none, or 0 escapes.
uint32_t decodable_escapes(const uint8_t* at, const uint8_t* end, uint8_t (&bytes)[5]) {
    int32_t lead = escaped_byte(at, end);
    if (lead < 0) return 0;
    bytes[0] = uint8_t(lead);
    uint32_t length = unicode::utf8_lead_length(uint8_t(lead));
    if (length == 0) return 1;
    for (uint32_t i = 1; i < length; i++) {
        int32_t byte = escaped_byte(at + 3 * i, end);
        if (byte < 0) return 0;
        bytes[i] = uint8_t(byte);
    }
    bytes[length] = 0;
    int32_t code_point;
    const uint8_t* after = unicode::fast_decode_utf8_char(bytes, code_point);
    return code_point >= 0 && after == bytes + length ? length : 0;
}

// ---- make, to ----

bool block_like_q(const Cell& value) { return value.is(Type::Block) || value.is(Type::Paren) || value.is(Type::Hash); }

// Appends the form of a value of a block; the value is copied to the stack first, as forming may move
// the block's buffer.
void form_into(Cell* buffer, const Cell& value) {
    Cell* copy = stack::push(value);
    actions::call<Act::form>(copy, buffer, nullptr, kUnlimited);
    stack::pop(1);
}

// [scheme host port segment ...]: scheme "://" host, ":" port when the third value is an integer, and
// the other values as the path, "/" before each but an issue!, which gets "#".
const Cell* from_parts(const Cell& spec) {
    uint32_t count = string::rs_length_q(spec);
    if (count == 0) error::fire_on_type(Err::script_bad_to_arg, Type::Url, &spec);
    Cell* parts = stack::push(spec);
    Cell* result = string::rs_make_at(stack::push_next(), 32);
    auto part = [&](uint32_t i) { return *block::rs_abs_at(*parts, parts->head() + i); };
    form_into(result, part(0));
    string::concatenate_literal(result, "://", 3);
    uint32_t next = 1;
    if (next < count) form_into(result, part(next++));
    if (next < count && part(next).is(Type::Integer)) {
        string::concatenate_literal(result, ":", 1);
        form_into(result, part(next++));
    }
    for (; next < count; next++) {
        string::concatenate_literal(result, part(next).is(Type::Issue) ? "#" : "/", 1);
        form_into(result, part(next));
    }
    result->header = uint8_t(Type::Url);
    return result;
}

const Cell* to(Cell* proto, Cell* spec, Type target) {
    if (target == Type::Url && block_like_q(*spec)) return from_parts(*spec);
    return datatype::action<Act::to>(Type::String)(proto, spec, target);
}

const Cell* make(Cell* proto, Cell* spec, Type target) {
    if (target == Type::Url && block_like_q(*spec)) return from_parts(*spec);
    return datatype::action<Act::make>(Type::String)(proto, spec, target);
}

// The units before the first ":", or 0 when there is none.
uint32_t scheme_length(const Cell& url) {
    string::Text text = string::text_of(url);
    for (uint32_t i = 0; i < text.length; i++)
        if (text.at(i) == ':') return i;
    return 0;
}

// A url's scheme, the text before its first ":", is read back as a word's characters are, never
// decoded, so it is written as it stands; the rest is encoded. The part budget limits only a mold that
// asks for a limit; otherwise the whole text is written.
int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    int32_t budget = options.limit ? std::max(part, 0) : kUnlimited;
    int32_t scheme = int32_t(std::min<uint32_t>(scheme_length(*value), uint32_t(budget)));
    string::concatenate(*buffer, *value, scheme, 0, string::Mode::append);
    Cell rest = *value;
    rest.set_head(rest.head() + uint32_t(scheme));
    int32_t written = budget - encode(rest, buffer, Table::mold, budget - scheme);
    return part - written;
}

// ---- paths ----

bool ends_with_slash(const Cell& text) {
    uint32_t length = string::rs_abs_length_q(text);
    return string::rs_length_q(text) > 0 && string::rs_abs_at(text, length - 1) == '/';
}

// url/b: a new value of the URL's type, its text and the element's form joined by exactly one "/".
// Nothing can be set in a URL.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    if (value) fire(Err::script_bad_path_set, step.path ? step.path : &none::value, value);
    uint32_t unit = mem::buffer(parent->node())->unit();
    Cell* joined = string::make_at_unit(stack::push_next(), string::rs_length_q(*parent) + 16, unit);
    actions::call<Act::form>(element, joined, nullptr, kUnlimited);
    bool slash_after = string::rs_length_q(*joined) > 0 && string::rs_abs_at(*joined, 0) == '/';
    bool slash_before = ends_with_slash(*parent);
    if (!slash_before && !slash_after) string::insert_char(joined->node(), 0, '/');
    if (slash_before && slash_after) string::remove_char(joined->node(), 0);
    string::concatenate(*joined, *parent, -1, 0, string::Mode::insert);
    joined->header = uint8_t(parent->type());
    return joined;
}

}  // namespace

bool bare_q(Table table, uint32_t byte) {
    constexpr std::string_view kUrlMarks = "!#$&'()*+,/:=?@";
    if (byte >= 0x80) return false;
    char c = char(byte);
    bool strict = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                  c == '_' || c == '~';
    switch (table) {
    case Table::strict: return strict;
    case Table::url: return strict || kUrlMarks.find(c) != kUrlMarks.npos;
    case Table::mold: return bare_q(Table::url, byte) && c != '(' && c != ')';
    case Table::file: return bare_q(Table::mold, byte) && c != ',';
    }
    return false;
}

std::string decode(const uint8_t* bytes, uint32_t length) {
    std::string text;
    text.reserve(length);
    const uint8_t* end = bytes + length;
    for (const uint8_t* at = bytes; at < end;) {
        uint8_t sequence[5];
        uint32_t escapes = decodable_escapes(at, end, sequence);
        if (escapes == 0) {
            text += char(*at++);  // valid UTF-8 copied byte by byte stays valid
            continue;
        }
        at += 3 * escapes;
        if (escapes == 1 && sequence[0] >= 0x80) {
            uint8_t utf8[4];
            text.append(reinterpret_cast<const char*>(utf8), unicode::cp_to_utf8(sequence[0], utf8));
        } else {
            text.append(reinterpret_cast<const char*>(sequence), escapes);
        }
    }
    return text;
}

int32_t encode(const Cell& string, Cell* buffer, Table table, int32_t part) {
    string::Text text = string::text_of(string);
    std::string encoded;
    size_t budget = size_t(std::max(part, 0));
    for (uint32_t i = 0; i < text.length && encoded.size() < budget; i++) {
        uint8_t utf8[4];
        uint32_t length = unicode::cp_to_utf8(text.at(i), utf8);
        for (uint32_t k = 0; k < length; k++) {
            if (bare_q(table, utf8[k])) {
                encoded += char(utf8[k]);
            } else {
                encoded += '%';
                encoded += string::byte_to_hex(utf8[k]);
            }
        }
    }
    string::concatenate_literal(buffer, encoded.data(), uint32_t(encoded.size()));
    return part - int32_t(std::min<size_t>(encoded.size(), kUnlimited));
}

void init(std::span<const ActionEntry> reaching_out) {
    string::register_text_child(Type::Url,
                                {
                                    implements<Act::make>(make),
                                    {Act::reflect, kUnsupported},
                                    implements<Act::to>(to),
                                    inherits<Act::form>(),
                                    implements<Act::mold>(mold),
                                    implements<Act::eval_path>(eval_path),
                                },
                                reaching_out);
}

}  // namespace oka::url
