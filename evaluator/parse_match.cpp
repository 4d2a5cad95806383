// Matching one literal rule value at a position of the input: once, counted (the fast path of the
// iterations), or searched for (to and thru). Text is read in place through a pattern prepared once per
// call; block values are compared on the data stack, as a compare action may allocate.
#include <memory>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/lexer.h"
#include "evaluator/parse_internal.h"
#include "runtime/case_folding.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::parse {

namespace {

// ---- text ----

uint32_t fold(uint32_t code_point) { return case_folding::change_char(code_point, true); }

bool same_char(uint32_t a, uint32_t b, bool case_) { return a == b || (!case_ && fold(a) == fold(b)); }

// A literal ready to be matched on text input, its code points read in place: valid until the next
// allocation. On binary input a text stands for its UTF-8 encoding, which the pattern holds, a binary
// for its bytes, an integer (quoted, as an integer rule is a count) for one byte, and letter case never
// folds.
class Pattern {
public:
    enum Kind { kChar, kText, kTag, kBits };

    Pattern(const Cell& input, const Cell& literal, bool case_)
        : exact(case_ || input.is(Type::Binary)), kind(kind_of(literal, input.is(Type::Binary))) {
        if (kind == kChar)
            code_point = literal.is(Type::Integer) ? byte_of(integer::get(literal)) : literal.code_point();
        if (kind == kBits) bits = &literal;
        if (kind != kText && kind != kTag) return;
        text = string::text_of(literal);
        if (!input.is(Type::Binary) || literal.is(Type::Binary)) return;
        utf8_ = std::make_unique<std::string>(binary::utf8_of(literal));
        text = {BufPtr<uint8_t>(reinterpret_cast<uint8_t*>(utf8_->data())), 1, uint32_t(utf8_->size())};
    }
    // The text may point into the pattern itself.
    Pattern(const Pattern&) = delete;
    Pattern& operator=(const Pattern&) = delete;

    const bool exact;  // letter case counts
    const Kind kind;
    uint32_t code_point = 0;     // kChar
    string::Text text{};         // kText, kTag: the text from the literal's head
    const Cell* bits = nullptr;  // kBits

    // Whether a match is one code point, the pattern a char or a bitset.
    bool single() const { return kind == kChar || kind == kBits; }
    // Whether such a pattern takes the code point.
    bool takes(uint32_t c) const {
        return kind == kBits ? bitset::has_codepoint(*bits, c) : same_char(c, code_point, exact);
    }
    // The units one match covers.
    uint32_t width() const {
        switch (kind) {
        case kText: return text.length;
        case kTag: return text.length + 2;
        default: return 1;
        }
    }

private:
    // Binaries and integers match bytes only.
    static Kind kind_of(const Cell& literal, bool bytes) {
        switch (literal.type()) {
        case Type::Char: return kChar;
        case Type::Integer:
            if (!bytes) fire(Err::script_parse_rule, &literal);
            return kChar;
        case Type::Bitset: return kBits;
        case Type::Tag: return kTag;
        default:
            bool text = is_a(literal.type(), TypeClass::any_string) || (bytes && literal.is(Type::Binary));
            if (!text) fire(Err::script_parse_rule, &literal);
            return kText;
        }
    }

    static uint32_t byte_of(int32_t n) { return n >= 0 && n <= 255 ? uint32_t(n) : binary::kNoByte; }

    std::unique_ptr<std::string> utf8_;  // only for text matched on binary input
};

template <class Unit>
bool text_at(const uint8_t* units, uint32_t index, const string::Text& text, bool case_) {
    for (uint32_t k = 0; k < text.length; k++)
        if (!same_char(unicode::unit_at<Unit>(units, index + k), text.at(k), case_)) return false;
    return true;
}

// The index after the pattern matched at `index` of the units, or kNoMatch.
template <class Unit>
int64_t match_at(const uint8_t* units, uint32_t index, uint32_t end, const Pattern& p) {
    if (uint64_t(index) + p.width() > end) return kNoMatch;
    switch (p.kind) {
    case Pattern::kChar:
    case Pattern::kBits: return p.takes(unicode::unit_at<Unit>(units, index)) ? index + 1 : kNoMatch;
    case Pattern::kText: return text_at<Unit>(units, index, p.text, p.exact) ? index + p.text.length : kNoMatch;
    case Pattern::kTag:
        if (unicode::unit_at<Unit>(units, index) != '<' ||
            unicode::unit_at<Unit>(units, index + p.text.length + 1) != '>')
            return kNoMatch;
        return text_at<Unit>(units, index + 1, p.text, p.exact) ? index + p.width() : kNoMatch;
    }
    return kNoMatch;
}

// Runs `body` on the input's units with their unit type: body(Unit{}, units).
template <class F>
int64_t with_units(const Cell& input, F&& body) {
    BufPtr<SeriesBuffer> b = mem::buffer(input.node());
    const uint8_t* units = mem::ptr(b->offset);
    return unicode::with_unit(b->unit(), [&]<class Unit>(Unit) { return body(Unit{}, units); });
}

// ---- blocks ----

// The value of block input at `index` against a literal: words (and issues, refinements) only match
// words of the same type, everything else as the compare action says under `=`, or `==` under `case_`.
bool equal_at(const Cell& input, uint32_t index, const Cell& literal, bool case_) {
    Cell* pair = stack::push(literal);
    Cell* value = stack::push(*block::rs_abs_at(input, index));
    bool equal = (!is_a(pair->type(), TypeClass::all_word) && !is_a(value->type(), TypeClass::all_word)) ||
                 pair->type() == value->type();
    equal = equal && actions::compare(pair, value, case_ ? kCompareStrictEqual : kCompareEqual);
    stack::top = pair;
    return equal;
}

// ---- datatypes ----

// The datatype of the value at a position and the units it covers (with the blanks before it).
struct Scanned {
    Type type;
    uint32_t length;
};

// The value the lexer reads from the bytes at `index`, checked and not built. The bytes are copied out
// of the buffer: reading a block allocates its cells. A window of them is scanned, a longer one again as
// long as the value may go on past the window's end: when it reached that end, or ended invalid there.
Scanned scan_value(const Cell& input, uint32_t index, uint32_t end) {
    constexpr uint32_t kFirstWindow = 64;
    uint32_t available = end - index;
    for (uint32_t window = std::min(available, kFirstWindow);; window = std::min(available, 2 * window)) {
        const uint8_t* first = series::unit_at(input, index).get();
        std::vector<uint8_t> bytes(first, first + window);
        Cell unused = none::value;
        uint32_t consumed = 0;
        Type type = lexer::scan(&unused, bytes.data(), window, {.one = true, .load = false}, &consumed);
        bool cut = window < available && (type == Type::Error || consumed >= window);
        if (!cut) return {type == Type::Error ? Type::Void : type, consumed};
    }
}

}  // namespace

bool text_literal_q(Type type) {
    return type == Type::Char || type == Type::Bitset || type == Type::Binary || is_a(type, TypeClass::any_string);
}

bool literal_q(const Cell& input, const Cell& value) {
    if (!is_a(input.type(), TypeClass::any_block)) return text_literal_q(value.type());
    constexpr TypeMask kRuleTypes = class_mask(TypeClass::any_word) | class_mask(TypeClass::any_path) |
                                    type_mask({Type::Block, Type::Paren, Type::Integer, Type::Datatype, Type::Typeset});
    return !in_mask(kRuleTypes, value.type());
}

int64_t match_literal(const Cell& input, uint32_t index, uint32_t end, const Cell& literal, bool case_) {
    if (is_a(input.type(), TypeClass::any_block))
        return index < end && equal_at(input, index, literal, case_) ? index + 1 : kNoMatch;
    Pattern p(input, literal, case_);
    return with_units(input,
                      [&]<class Unit>(Unit, const uint8_t* units) { return match_at<Unit>(units, index, end, p); });
}

int64_t match_repeated(const Cell& input, uint32_t index, uint32_t end, const Cell& literal, bool case_, uint32_t min,
                       uint32_t max) {
    uint32_t left = end > index ? end - index : 0;
    if (is_a(input.type(), TypeClass::any_block)) {
        if (left < min) return kNoMatch;
        uint32_t times = 0;
        while (times < max && times < left && equal_at(input, index + times, literal, case_)) times++;
        return times >= min ? index + times : kNoMatch;
    }
    Pattern p(input, literal, case_);
    if (uint64_t(left) < uint64_t(min) * p.width()) return kNoMatch;
    return with_units(input, [&]<class Unit>(Unit, const uint8_t* units) -> int64_t {
        if (p.single()) {
            uint32_t stop = max < left ? index + max : end, at = index;
            while (at < stop && p.takes(unicode::unit_at<Unit>(units, at))) at++;
            return at - index >= min ? at : kNoMatch;
        }
        int64_t at = index;
        for (uint32_t times = 0; times < max; times++) {
            int64_t next = match_at<Unit>(units, uint32_t(at), end, p);
            if (next < 0) return times >= min ? at : kNoMatch;
            if (next == at) return at;  // it matches here as often as asked
            at = next;
        }
        return at;
    });
}

int64_t find_literal(const Cell& input, uint32_t index, uint32_t end, const Cell& literal, bool case_, bool thru) {
    if (is_a(input.type(), TypeClass::any_block)) {
        for (uint32_t at = index; at < end; at++)
            if (equal_at(input, at, literal, case_)) return thru ? at + 1 : at;
        return kNoMatch;
    }
    Pattern p(input, literal, case_);
    return with_units(input, [&]<class Unit>(Unit, const uint8_t* units) -> int64_t {
        if (p.single()) {
            for (uint32_t at = index; at < end; at++)
                if (p.takes(unicode::unit_at<Unit>(units, at))) return thru ? at + 1 : at;
            return kNoMatch;
        }
        for (uint32_t at = index; at <= end; at++) {
            int64_t next = match_at<Unit>(units, at, end, p);
            if (next >= 0) return thru ? next : at;
        }
        return kNoMatch;
    });
}

int64_t match_type(const Cell& input, uint32_t index, uint32_t end, const Cell& types) {
    if (!is_a(input.type(), TypeClass::any_block) && !input.is(Type::Binary)) fire(Err::script_parse_unsupported);
    if (index >= end) return kNoMatch;
    Scanned value =
        input.is(Type::Binary) ? scan_value(input, index, end) : Scanned{block::rs_abs_at(input, index)->type(), 1};
    bool matched = types.is(Type::Datatype) ? value.type == types.named_type() : typeset::has_q(types, value.type);
    return matched ? index + value.length : kNoMatch;
}

}  // namespace oka::parse
