// The token routines: the structure scanners of the tokens that shape the output (containers, paths,
// braces, comments, constructions) and the value loaders, each of which checks its token against the
// rules of its datatype and, when building, writes the value into a new output slot.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "evaluator/lexer_scanner.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/unicode.h"

namespace oka::lexer {

namespace {

std::string_view text_between(const uint8_t* start, const uint8_t* end) {
    return {reinterpret_cast<const char*>(start), size_t(end - start)};
}

std::string_view token_text(const Lexer& lx) { return text_between(lx.token_start, lx.token_end); }

// ---- characters of texts ----

struct EscapeName {
    std::string_view name;
    uint32_t code_point;
};
constexpr EscapeName kEscapeNames[] = {{"null", 0},  {"back", 8}, {"tab", 9},  {"line", 10},
                                       {"page", 12}, {"esc", 27}, {"del", 127}};

// ^(name) or ^(hex): one to six hexadecimal digits.
int32_t escape_in_parens(std::string_view inside) {
    for (const EscapeName& e : kEscapeNames)
        if (same_text_q(inside, e.name)) return int32_t(e.code_point);
    if (inside.empty() || inside.size() > 6) return -1;
    uint32_t value = 0;
    for (char c : inside) {
        int32_t digit = unicode::hex_digit(uint8_t(c));
        if (digit < 0) return -1;
        value = value << 4 | uint32_t(digit);
    }
    return value > unicode::kMaxCodePoint ? -1 : int32_t(value);
}

// After ^: the character an escape stands for, or -1.
int32_t read_escape(const uint8_t*& at, const uint8_t* end) {
    if (at == end) return -1;
    if (*at == '(') {
        constexpr ptrdiff_t kLongest = 6;  // digits or letters between the parentheses
        const uint8_t* limit = at + std::min(end - at, kLongest + 2);
        const uint8_t* close = std::find(at + 1, limit, ')');
        if (close == limit) return -1;
        std::string_view inside = text_between(at + 1, close);
        at = close + 1;
        return escape_in_parens(inside);
    }
    int32_t c = read_utf8(at, end);
    switch (c) {
    case '"':
    case '^':
    case '{':
    case '}': return c;
    case '-': return '\t';
    case '/': return '\n';
    case '~': return 0x7F;
    case '@': return 0;
    default:
        if (c >= 'a' && c <= 'z') return c - 96;
        if (c >= 'A' && c <= '_') return c - 64;
        return c;
    }
}

// One character of a text: an escape after ^ (when escapes count), else a UTF-8 sequence.
int32_t read_char(const uint8_t*& at, const uint8_t* end, bool escapes) {
    if (escapes && *at == '^') return read_escape(++at, end);
    return read_utf8(at, end);
}

// Calls `take` with each character of a text; false at the first that is not valid.
template <class F>
bool for_each_char(const uint8_t* at, const uint8_t* end, bool escapes, F&& take) {
    while (at < end) {
        int32_t c = read_char(at, end, escapes);
        if (c < 0) return false;
        take(uint32_t(c));
    }
    return true;
}

// A text as a value of `type`, a string! or one of its children: ASCII takes units of 1 byte, other
// text 2, or 4 beyond U+FFFF. `flags` are those of the text's bytes: without a caret nor a byte beyond
// ASCII, every byte is a character. A character that is not valid makes the token an invalid `type`.
void load_text(Lexer& lx, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build, Type type) {
    bool escapes = flags & kCaretFlag;
    uint32_t count = uint32_t(end - start), widest = 0;
    if (flags & (kCaretFlag | kNonAsciiFlag)) {
        count = 0;
        bool valid = for_each_char(start, end, escapes, [&](uint32_t c) {
            count++;
            widest = std::max(widest, c);
        });
        if (!valid) lx.invalid(type);
    }
    if (!build) return;
    uint32_t unit = widest < 0x80 ? 1 : widest < 0x10000 ? 2 : 4;
    Cell* cell = lx.new_value();
    Node node = alloc::alloc_codepoints(count, unit);
    BufPtr<SeriesBuffer> buffer = mem::buffer(node);
    uint8_t* out = mem::ptr(buffer->offset);
    uint32_t index = 0;
    for_each_char(start, end, escapes, [&](uint32_t c) { unicode::set_unit_at(out, unit, index++, c); });
    buffer->tail = buffer->offset + count * unit;
    *cell = Cell::of(type).set_node(node);
}

bool utf8_q(const uint8_t* start, const uint8_t* end) {
    return for_each_char(start, end, false, [](uint32_t) {});
}

// A word of the family, by its name.
void load_name(Lexer& lx, std::string_view name, Type type) {
    uint32_t symbol = symbol::make(name);
    Cell* cell = lx.new_value();
    word::make_at(symbol, cell);
    cell->header = uint8_t(type);
}

// ---- structure scanners ----

void scan_error(Lexer& lx, bool) {
    Type heading = state_type(lx.exit_state);
    if (heading == Type::Void) lx.syntax_error(SyntaxError::bad_char, Type::Void, lx.token_start);
    lx.invalid(heading);
}

void scan_open(Lexer& lx, bool) {
    if (lx.token == Token::ParenOpen && lx.point_follows()) {
        lx.after_point = lx.entry;
        lx.entry = State::Point;
        return;
    }
    lx.open_container(lx.token == Token::BlockOpen ? Type::Block : Type::Paren);
}

void scan_close_paren(Lexer& lx, bool) { lx.close_container(Type::Paren, false); }

void scan_map_open(Lexer& lx, bool) { lx.open_container(Type::Map); }

// A map literal holds its values in pairs, each key of a type a map takes.
bool map_pairs_q(Lexer& lx, int32_t marker) {
    uint32_t first = uint32_t(marker) + 1;
    if ((lx.tail - first) % 2) return false;
    for (uint32_t i = first; i < lx.tail; i += 2)
        if (!map::valid_key_type_q(lx.slot(i)->type())) return false;
    return true;
}

// "]" closes a block, or a map: the block of its pairs becomes the map.
void scan_close_block(Lexer& lx, bool build) {
    int32_t marker = lx.innermost_marker();
    bool map = lx.innermost_type() == Type::Map;
    if (map && build && !map_pairs_q(lx, marker))
        lx.syntax_error(SyntaxError::invalid, Type::Map, lx.opener_of(marker));
    lx.close_container(Type::Block, false);
    if (!map) return;
    lx.type = Type::Map;
    Cell* pairs = lx.slot(uint32_t(marker));
    if (build && pairs->is(Type::Block)) map::make_at(pairs, series::rs_length_q(*pairs) / 2);
}

// A braced string comes brace by brace; its last closing brace makes the whole of it one value token.
void scan_brace_open(Lexer& lx, bool) {
    if (lx.brace_depth++ > 0) {
        lx.brace_flags |= lx.flags;
        return;
    }
    lx.brace_start = lx.token_start;
    lx.brace_flags = lx.flags;
    lx.brace_line = lx.token_line;
    lx.brace_line_break = lx.line_break;
    lx.fire(kOpenEvent, Type::String, lx.token_start, lx.token_end);
    lx.brace_exit = lx.entry;
    lx.entry = State::Braced;
}

void scan_brace_close(Lexer& lx, bool) {
    lx.brace_flags |= lx.flags;
    if (--lx.brace_depth > 0) return;
    lx.entry = lx.brace_exit;
    lx.fire(kCloseEvent, Type::String, lx.brace_start, lx.token_end);
    if (!lx.scan) return;
    lx.token = Token::String;
    lx.type = Type::String;
    lx.token_start = lx.brace_start;
    lx.flags = lx.brace_flags;
    lx.token_line = lx.brace_line;
    lx.line_break = lx.brace_line_break;
    lx.deliver();
}

// The first / after a word: the word becomes the first element of a path, of the kind its prefix gives.
// The path is opened for a trace as every container is (its close is reported too), so a callback that
// counts open and close events stays balanced; the path goes on whatever the callback answers.
void scan_path(Lexer& lx, bool) {
    uint8_t prefix = *lx.token_start;
    Type kind = prefix == '\'' ? Type::LitPath : prefix == ':' ? Type::GetPath : Type::Path;
    lx.fire(kOpenEvent, kind, lx.token_start, lx.token_end);
    lx.push_marker(kind, lx.token_start);
    if (kind != Type::Path) lx.token_start++;
    lx.position = lx.token_end + 1;
    lx.entry = State::PathElement;
    if (!lx.scan) return;
    lx.token = Token::Word;
    lx.type = Type::Word;
    lx.deliver();
}

// #(name): true, false, none, unset, or a datatype's name with or without its "!".
bool construction(std::string_view name, Cell& value) {
    struct Named {
        std::string_view name;
        Cell value;
    };
    static constexpr Named kNamed[] = {
        {"true", logic::true_value}, {"false", logic::false_value}, {"none", none::value}, {"unset", unset::value}};
    for (const Named& n : kNamed)
        if (same_text_q(name, n.name)) {
            value = n.value;
            return true;
        }
    for (int id = 1; id <= kTypeCount; id++) {
        if (!datatype::registered_q(Type(id))) continue;
        const datatype::TypeName& type_name = datatype::type_name(Type(id));
        std::string_view full(type_name.name, type_name.length + 1);
        if (same_text_q(name, full) || same_text_q(name, full.substr(0, type_name.length))) {
            datatype::make_at(&value, Type(id));
            return true;
        }
    }
    return false;
}

void scan_construct(Lexer& lx, bool build) {
    std::string_view text = token_text(lx);
    Cell value;
    if (text.back() != ')' || !construction(text.substr(2, text.size() - 3), value))
        lx.syntax_error(SyntaxError::malconstruct, Type::Void, lx.token_start);
    lx.type = value.type();
    if (build) lx.store(value);
}

void scan_comment(Lexer& lx, bool) { lx.fire(kScanEvent, Type::Void, lx.token_start, lx.token_end); }

// A comma stands only inside a point literal, which is read as one token: a paren holding one is a
// point gone wrong, which its closing parenthesis then reports.
void scan_comma(Lexer& lx, bool) {
    Type container = lx.innermost_type();
    if (container != Type::Paren && container != Type::Point2D) lx.invalid(Type::Point2D);
    Cell* marker = lx.slot(uint32_t(lx.innermost_marker()));
    marker->set_second(uint32_t(Type::Point2D) | ((marker->second() >> 16) + 1) << 16);
}

// ---- words ----

// A word's name without its punctuation, and the type the punctuation gives it: 'lit, :get, set:.
struct WordName {
    Type type;
    const uint8_t* start;
    const uint8_t* end;
};

WordName word_name(Lexer& lx) {
    WordName name{Type::Word, lx.token_start, lx.token_end};
    if (*name.start == '\'') name.type = Type::LitWord;
    if (*name.start == ':') name.type = Type::GetWord;
    if (name.type != Type::Word) name.start++;
    if (lx.flags & kColonFlag) {
        if (name.end[-1] == ':') {
            if (name.type != Type::Word) lx.invalid(name.type == Type::LitWord ? Type::LitWord : Type::Word);
            name.type = Type::SetWord;
            name.end--;
        }
        if (std::find(name.start, name.end, ':') != name.end) lx.invalid(Type::Word);
    }
    if ((lx.flags & kNonAsciiFlag) && !utf8_q(name.start, name.end)) lx.invalid(Type::Word);
    return name;
}

void scan_word(Lexer& lx, bool) { lx.type = word_name(lx).type; }

void scan_issue(Lexer& lx, bool) {
    if (lx.token_end - lx.token_start < 2 || !utf8_q(lx.token_start + 1, lx.token_end)) lx.invalid(Type::Issue);
}

// Words and issues, checked by their scanners.
void load_word(Lexer& lx, bool build) {
    if (!build) return;
    if (lx.token == Token::Issue) {
        issue::make_at(lx.new_value(), text_between(lx.token_start + 1, lx.token_end));
        return;
    }
    WordName name = word_name(lx);
    load_name(lx, text_between(name.start, name.end), name.type);
}

// /name; / alone and /: are the word / and its set-word.
void load_refinement(Lexer& lx, bool build) {
    std::string_view text = token_text(lx);
    std::string_view name = text.substr(1);
    lx.type = Type::Refinement;
    if (text == "/" || text == "/:") {
        lx.type = text == "/" ? Type::Word : Type::SetWord;
        name = text.substr(0, 1);
    }
    if (!utf8_q(lx.token_start, lx.token_end)) lx.invalid(Type::Refinement);
    if (build) load_name(lx, name, lx.type);
}

// ---- numbers ----

void load_float(Lexer& lx, bool build) {
    lx.type = Type::Float;
    double value;
    if (!decimal_value(token_text(lx), value)) lx.invalid(Type::Float);
    if (build) float_::make_at(lx.new_value(), value);
}

// An optional sign, digits with single ' between them; beyond 10 digits (leading zeros count) or
// beyond 32 bits, a float.
void load_integer(Lexer& lx, bool build) {
    std::string_view text = token_text(lx);
    constexpr std::string_view kSmallest = "-2147483648";
    bool negative = text[0] == '-';
    int64_t magnitude = 0;
    uint32_t digits = 0;
    for (size_t i = text[0] == '-' || text[0] == '+'; i < text.size(); i++) {
        if (text[i] != '\'') {
            if (++digits <= 10) magnitude = magnitude * 10 + (text[i] - '0');
        } else if (text[i - 1] == '\'') {
            lx.invalid(Type::Integer);
        }
    }
    if (text != kSmallest && (digits > 10 || magnitude > std::numeric_limits<int32_t>::max())) {
        load_float(lx, build);
        return;
    }
    if (build) integer::make_at(lx.new_value(), int32_t(negative ? -magnitude : magnitude));
}

// 2 to 8 upper-case hexadecimal digits ended by h, a 32-bit pattern.
void load_hex(Lexer& lx, bool build) {
    std::string_view digits = token_text(lx);
    digits.remove_suffix(1);
    if (digits.size() == 1 && unicode::hex_digit(uint8_t(digits[0])) > 9) lx.invalid(Type::Word);
    if (digits.size() < 2 || digits.size() > 8) lx.invalid(Type::Integer);
    uint32_t value = 0;
    for (char c : digits) {
        int32_t digit = unicode::hex_digit(uint8_t(c));
        if (digit < 0 || (c >= 'a' && c <= 'f')) lx.invalid(Type::Integer);
        value = value << 4 | uint32_t(digit);
    }
    if (build) integer::make_at(lx.new_value(), int32_t(value));
}

// A number followed by %, read as the fraction it stands for: 50% is 0.5.
void load_percent(Lexer& lx, bool build) {
    std::string_view text = token_text(lx);
    double value;
    if (!decimal_value(text.substr(0, text.size() - 1), value, -2)) lx.invalid(Type::Percent);
    if (build) percent::make_at(lx.new_value(), value);
}

// 3 to 12 numbers from 0 to 255 with a dot between each two: 1.2.3, 255.0.0.128.
void load_tuple(Lexer& lx, bool build) {
    std::string_view text = token_text(lx);
    uint8_t bytes[tuple::kMaxBytes];
    uint32_t count = 0, value = 0, digits = 0;
    for (size_t i = 0; i <= text.size(); i++) {
        if (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = std::min(value * 10 + uint32_t(text[i] - '0'), 256u);
            digits++;
            continue;
        }
        bool part_end = i == text.size() || text[i] == '.';
        if (!part_end || digits == 0 || value > 255 || count == tuple::kMaxBytes) lx.invalid(Type::Tuple);
        bytes[count++] = uint8_t(value);
        value = digits = 0;
    }
    if (build) tuple::make_at(lx.new_value(), bytes, count);
}

// One side of a pair, by the rules of integers: an optional sign, at most 10 digits with single '
// between them, within 32 bits.
bool pair_side(std::string_view text, int32_t& value) {
    bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
    int64_t magnitude = 0;
    uint32_t digits = 0;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\'') {
            if (i == 0 || text[i - 1] == '\'') return false;
            continue;
        }
        if (text[i] < '0' || text[i] > '9' || ++digits > 10) return false;
        magnitude = magnitude * 10 + (text[i] - '0');
    }
    int64_t signed_value = negative ? -magnitude : magnitude;
    if (digits == 0 || signed_value < std::numeric_limits<int32_t>::min() ||
        signed_value > std::numeric_limits<int32_t>::max())
        return false;
    value = int32_t(signed_value);
    return true;
}

// 10x20, either side signed; no decimal point on either side.
void load_pair(Lexer& lx, bool build) {
    std::string_view text = token_text(lx);
    size_t x = text.find_first_of("xX");
    int32_t a, b;
    if (!pair_side(text.substr(0, x), a) || !pair_side(text.substr(x + 1), b)) lx.invalid(Type::Pair);
    if (build) pair::make_at(lx.new_value(), a, b);
}

std::string_view without_blanks(std::string_view text) {
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    text.remove_suffix(text.size() - (text.find_last_not_of(" \t") + 1));
    return text;
}

// (x, y) or (x, y, z): numbers, their special forms too, with blanks around them. The token holds the
// parentheses, and its type says how many numbers its commas promise.
void load_point(Lexer& lx, bool build) {
    std::string_view text = token_text(lx);
    std::string_view inside = text.substr(1, text.size() - 2);
    point::Coordinates c;
    c.count = 0;
    for (size_t start = 0;;) {
        size_t comma = inside.find(',', start);
        std::string_view number = without_blanks(inside.substr(start, comma - start));
        if (number.size() > kMaxFloatText) lx.invalid(Type::Float);
        double value;
        if (c.count == c.at.size() || !(decimal_value(number, value) || special_float_value(number, value)))
            lx.invalid(lx.type);
        c.at[c.count++] = float(value);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (build) point::make_at(lx.new_value(), c);
}

void load_float_special(Lexer& lx, bool build) {
    double value;
    if (!special_float_value(token_text(lx), value)) lx.invalid(Type::Float);
    if (build) float_::make_at(lx.new_value(), value);
}

// Decimal digits times a small factor, plus other decimal digits: exact at any length.
std::string multiply_add(std::string_view digits, uint32_t factor, std::string_view addend) {
    auto digit = [](std::string_view number, size_t place) {
        return place < number.size() ? uint32_t(number[number.size() - 1 - place] - '0') : 0;
    };
    std::string sum;
    uint64_t carry = 0;
    for (size_t place = 0; place < std::max(digits.size(), addend.size()) || carry; place++) {
        carry += uint64_t(digit(digits, place)) * factor + digit(addend, place);
        sum += char('0' + carry % 10);
        carry /= 10;
    }
    std::reverse(sum.begin(), sum.end());
    return sum;
}

// h:m, h:m:s, h:m:s.f, or m:s.f (a fraction after the second field makes it minutes and seconds), with
// an optional sign; "," may stand for the decimal point. The fields have no upper bound. The whole
// seconds are summed exactly and read with the fraction as one decimal number, so that the value is
// rounded once: the time a value molds as loads as that value.
bool time_value(std::string_view text, double& seconds) {
    bool negative = text[0] == '-';
    if (text[0] == '-' || text[0] == '+') text.remove_prefix(1);
    std::string_view fields[3];
    uint32_t count = 0;
    std::string_view fraction;
    for (size_t at = 0;;) {
        size_t digits_end = std::min(text.find_first_not_of("0123456789", at), text.size());
        if (digits_end == at || count == 3) return false;
        fields[count++] = text.substr(at, digits_end - at);
        if (digits_end == text.size()) break;
        char mark = text[digits_end];
        if (mark == ':') {
            at = digits_end + 1;
            continue;
        }
        fraction = text.substr(digits_end + 1);
        if ((mark != '.' && mark != ',') || count < 2 || fraction.empty() ||
            fraction.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        break;
    }
    if (count < 2) return false;
    bool minutes_first = count == 2 && !fraction.empty();
    std::string_view hours = minutes_first ? "" : fields[0];
    std::string_view minutes = minutes_first ? fields[0] : fields[1];
    std::string_view whole_seconds = minutes_first ? fields[1] : count == 3 ? fields[2] : "";
    std::string decimal = multiply_add(multiply_add(hours, 60, minutes), 60, whole_seconds);
    if (!fraction.empty()) decimal += "." + std::string(fraction);
    int32_t left;
    seconds = sys::strtod(decimal.data(), decimal.data() + decimal.size(), 0, &left);
    if (negative) seconds = -seconds;
    return true;
}

void load_time(Lexer& lx, bool build) {
    double seconds;
    if (!time_value(token_text(lx), seconds)) lx.invalid(Type::Time);
    if (build) time::make_at(lx.new_value(), seconds);
}

// $1'000.50, -EUR$12,5: the money text's rules; the currency must be in the list, the amount within 17
// whole digits and 5 decimals.
void load_money(Lexer& lx, bool build) {
    tokenizer::MoneyText parts;
    Cell value;
    if (!money_parts(token_text(lx), parts) ||
        !money::make_at(&value, parts.negative, parts.currency, parts.whole, parts.fraction))
        lx.invalid(Type::Money);
    if (build) *lx.new_value() = value;
}

// ---- binaries ----

// #{digits} in base 16, or in the base written before the #: 2#{...}, 16#{...} or 64#{...}.
void load_binary(Lexer& lx, bool build) {
    std::string_view text = token_text(lx);
    size_t brace = text.find('{');
    int32_t base = 16;
    if (brace > 1) {
        std::string_view digits = text.substr(0, brace - 1);
        auto [end, problem] = std::from_chars(digits.data(), digits.data() + digits.size(), base);
        bool read = problem == std::errc() && end == digits.data() + digits.size();
        if (!read || (base != 2 && base != 16 && base != 64)) lx.invalid(Type::Binary);
    }
    std::string_view body = text.substr(brace + 1, text.size() - brace - 2);
    std::optional<std::vector<uint8_t>> bytes =
        binary::debase(base, {reinterpret_cast<const uint8_t*>(body.data()), 1, uint32_t(body.size())}, true);
    if (!bytes) lx.invalid(Type::Binary);
    if (build) binary::load_at(lx.new_value(), bytes->data(), uint32_t(bytes->size()));
}

// ---- texts ----

// "text" and the whole of {text}: the text between the delimiters.
void load_string(Lexer& lx, bool build) {
    load_text(lx, lx.token_start + 1, lx.token_end - 1, lx.flags, build, Type::String);
}

// #"x": exactly one character or one escape.
void load_char(Lexer& lx, bool build) {
    const uint8_t* at = lx.token_start + 2;
    const uint8_t* end = lx.token_end - 1;
    int32_t c = at < end ? read_char(at, end, true) : -1;
    if (c < 0 || at != end) lx.invalid(Type::Char);
    if (build) char_::make_at(lx.new_value(), uint32_t(c));
}

// <text>: the text between the angle brackets.
void load_tag(Lexer& lx, bool build) {
    load_text(lx, lx.token_start + 1, lx.token_end - 1, lx.flags, build, Type::Tag);
}

// user@host: the whole address.
void load_email(Lexer& lx, bool build) { load_text(lx, lx.token_start, lx.token_end, lx.flags, build, Type::Email); }

// @name: the text after the "@".
void load_ref(Lexer& lx, bool build) { load_text(lx, lx.token_start + 1, lx.token_end, lx.flags, build, Type::Ref); }

// A text whose percent escapes stand for bytes (%20 for a space), as a value of `type`.
void load_percent_encoded(Lexer& lx, const uint8_t* start, const uint8_t* end, bool build, Type type) {
    if (!utf8_q(start, end)) lx.invalid(type);
    if (!build) return;
    std::string text = url::decode(start, uint32_t(end - start));
    Cell* cell = lx.new_value();
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), cell, unicode::kUtf8);
    cell->header = uint8_t(type);
}

// %"name": the text between the quotes, read as a string's; %name: the text after the "%", its percent
// escapes decoded.
void load_file(Lexer& lx, bool build) {
    const uint8_t* start = lx.token_start + 1;
    if (*start == '"') {
        load_text(lx, start + 1, lx.token_end - 1, lx.flags, build, Type::File);
        return;
    }
    if (std::find(start, lx.token_end, '%') == lx.token_end)
        load_text(lx, start, lx.token_end, lx.flags, build, Type::File);
    else
        load_percent_encoded(lx, start, lx.token_end, build, Type::File);
}

// scheme:rest, its percent escapes decoded.
void load_url(Lexer& lx, bool build) {
    if (*lx.token_start == ':') lx.invalid(Type::GetWord);
    if (*lx.token_start == '\'') lx.invalid(Type::LitWord);
    load_percent_encoded(lx, lx.token_start, lx.token_end, build, Type::Url);
}

// The % signs that open a raw string.
uint32_t raw_string_percents(const Lexer& lx) {
    return uint32_t(std::find(lx.token_start, lx.token_end, '{') - lx.token_start);
}

// %{text}%: no escapes; the text ends at the first } followed by the % signs that opened it. The
// automaton stops after the opening brace: the rest is read here.
void load_raw_string(Lexer& lx, bool build) {
    uint32_t percents = raw_string_percents(lx);
    load_text(lx, lx.token_start + percents + 1, lx.token_end - 1 - percents, kNonAsciiFlag, build, Type::String);
}

void scan_raw_string(Lexer& lx, bool) {
    uint32_t percents = raw_string_percents(lx);
    lx.fire(kOpenEvent, Type::String, lx.token_start, lx.token_end);
    const uint8_t* close = lx.token_end;
    for (;; close++) {
        close = std::find(close, lx.input_end, '}');
        if (close == lx.input_end) lx.invalid(Type::String);
        const uint8_t* signs = close + 1;
        const uint8_t* after = std::find_if(signs, lx.input_end, [](uint8_t c) { return c != '%'; });
        if (uint32_t(after - signs) < percents) continue;
        if (uint32_t(after - signs) > percents) lx.invalid(Type::String);
        break;
    }
    lx.token_lines += uint32_t(std::count(lx.token_end, close, '\n'));
    lx.token_end = lx.position = close + 1 + percents;
    lx.fire(kCloseEvent, Type::String, lx.token_start, lx.token_end);
    load_raw_string(lx, false);
}

// ---- the table ----

constexpr TokenRoutines kRoutines[] = {
#define OKA_TOKEN(Name, type, scanner, loader, prescanned, exit) {scanner, loader, prescanned},
#include "evaluator/lexer_tokens.def"
};

struct ExitValue {
    Type type;
    const char* word;

    constexpr ExitValue(Type t) : type(t), word(nullptr) {}
    constexpr ExitValue(const char* w) : type(Type::Void), word(w) {}
};

constexpr ExitValue kExitValues[] = {
#define OKA_TOKEN(Name, type, scanner, loader, prescanned, exit) ExitValue(exit),
#include "evaluator/lexer_tokens.def"
};

}  // namespace

const TokenRoutines& routines(Token token) { return kRoutines[int(token)]; }

void exit_value(Token token, Cell* out) {
    const ExitValue& exit = kExitValues[int(token)];
    if (exit.word)
        *out = word::load(exit.word);
    else if (exit.type != Type::Void)
        datatype::make_at(out, exit.type);
    else
        none::make_at(out);
}

int32_t read_utf8(const uint8_t*& at, const uint8_t* end) {
    static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    uint32_t lead = *at++;
    if (lead < 0x80) return int32_t(lead);
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || lead > 0xF4 || end - at < extra) return -1;
    uint32_t code_point = lead & (0x3Fu >> extra);
    for (int i = 0; i < extra; i++, at++) {
        if ((*at & 0xC0) != 0x80) return -1;
        code_point = code_point << 6 | (*at & 0x3F);
    }
    bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
    if (code_point < kSmallest[extra] || code_point > unicode::kMaxCodePoint || surrogate) return -1;
    return int32_t(code_point);
}

bool unicode_blank_q(const uint8_t* at, const uint8_t* end, uint32_t& length) {
    if (*at < 0x80) return false;
    const uint8_t* next = at;
    int32_t code_point = read_utf8(next, end);
    length = uint32_t(next - at);
    return code_point >= 0 && unicode::space_q(uint32_t(code_point));
}

}  // namespace oka::lexer
