// form and mold of string!, and the escaping of code points that string! and char! share. A molded text
// loads back as the same string: the quoted notation escapes what the lexer would not read back, the
// braced one keeps its braces balanced.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "datatypes/string.h"
#include "runtime/unicode.h"

namespace oka::string {

namespace {

constexpr uint32_t kBracesFromLength = 50;
constexpr uint32_t kBracesFromLineFeeds = 3;

void append_literal(Cell* buffer, const char* text) { concatenate_literal(buffer, text, uint32_t(std::strlen(text))); }

// Code points written as "^(hex)": the record separator (its caret letter would read as a caret), the
// C1 controls, the surrogates (no UTF-8 text holds them, so the lexer would refuse them written as
// themselves), and with `all` everything outside ASCII.
bool hex_escaped(uint32_t code_point, bool all) {
    return code_point == 0x1E || (code_point >= 0x80 && code_point <= 0x9F) || unicode::surrogate_q(code_point) ||
           (all && code_point > 0x7F);
}

// The character written after a caret for a code point, or 0 when it is written as itself.
char caret_letter(uint32_t code_point) {
    switch (code_point) {
    case '\t': return '-';
    case '\n': return '/';
    case '"': return '"';
    case '^': return '^';
    case 0x7F: return '~';
    default: return code_point < 0x20 ? char('@' + code_point) : 0;
    }
}

struct Counts {
    uint32_t quotes = 0;
    uint32_t line_feeds = 0;
};

Counts count_quotes(const Text& text, uint32_t count) {
    Counts counts;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t code_point = text.at(i);
        counts.quotes += code_point == '"';
        counts.line_feeds += code_point == '\n';
    }
    return counts;
}

// The index of the first opening brace in [from, end) that no closing brace pairs with, or `end`. Braces
// pair as they nest (a closing brace at depth 0 closes nothing), so the braces still open at the end are
// those without a partner, and the first of them is the one that last opened at depth 0. One pass:
// looking for each brace's partner in turn takes time in the square of the nesting depth.
uint32_t first_unclosed_brace(const Cell& string, uint32_t from, uint32_t end) {
    uint32_t depth = 0, opened_at_top = end;
    for (uint32_t i = from; i < end; i++) {
        uint32_t code_point = rs_abs_at(string, i);
        if (code_point == '{' && depth++ == 0) opened_at_top = i;
        if (code_point == '}' && depth > 0) depth--;
    }
    return depth > 0 ? opened_at_top : end;
}

void mold_quoted(const Cell& string, uint32_t head, uint32_t count, Cell* buffer, bool all) {
    for (uint32_t i = head; i < head + count; i++) mold_escape_char(buffer, rs_abs_at(string, i), all);
}

// Braces pair up as long as every opening one has a partner; from the first one that has none on,
// opening braces are escaped, and so is every closing brace that closes nothing.
void mold_braced(const Cell& string, uint32_t head, uint32_t count, Cell* buffer, bool all) {
    uint32_t unclosed = first_unclosed_brace(string, head, head + count);
    int32_t depth = 0;
    for (uint32_t i = head; i < head + count; i++) {
        uint32_t code_point = rs_abs_at(string, i);
        switch (code_point) {
        case '{':
            if (i < unclosed) depth++;
            append_literal(buffer, i < unclosed ? "{" : "^{");
            break;
        case '}':
            append_literal(buffer, depth > 0 ? "}" : "^}");
            if (depth > 0) depth--;
            break;
        case '"': append_char(buffer->node(), '"'); break;
        default: mold_escape_char(buffer, code_point, all);
        }
    }
}

void append_hex_escape(Cell* buffer, uint32_t code_point) {
    append_literal(buffer, "^(");
    append_literal(buffer, to_hex(int32_t(code_point), true));
    append_literal(buffer, ")");
}

// A caret escape that reads back as the character: "^" and the character where the lexer reads it so
// (punctuation but the few whose caret letter names a control), else "^(hex)".
void append_caret_escape(Cell* buffer, uint32_t code_point) {
    bool itself = code_point > 0x20 && code_point < 0x7F && !std::isalpha(int(code_point)) &&
                  !std::strchr("@[\\]_-/~(", int(code_point));
    if (!itself) return append_hex_escape(buffer, code_point);
    append_char(buffer->node(), '^');
    append_char(buffer->node(), code_point);
}

}  // namespace

void mold_escape_char(Cell* buffer, uint32_t code_point, bool all) {
    if (hex_escaped(code_point, all)) {
        append_hex_escape(buffer, code_point);
    } else if (char letter = caret_letter(code_point)) {
        append_char(buffer->node(), '^');
        append_char(buffer->node(), uint8_t(letter));
    } else {
        append_char(buffer->node(), code_point);
    }
}

int32_t mold_escaped(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, const Escapes& escapes) {
    uint32_t length = text_of(*value).length;
    uint32_t count = options.limit ? std::min(length, uint32_t(std::max(part, 0))) : length;
    // Each character is read afresh: writing one may move the text's buffer.
    for (uint32_t i = 0; i < count; i++) {
        char32_t code_point = char32_t(text_of(*value).at(i));
        if (i == 0 && escapes.caret_first)
            append_caret_escape(buffer, code_point);
        else if (code_point == '\n' && escapes.line_feed_by_letter) {
            append_char(buffer->node(), '^');
            append_char(buffer->node(), 'J');
        } else if (escapes.hex.find(code_point) != escapes.hex.npos)
            append_hex_escape(buffer, code_point);
        else if (escapes.raw.find(code_point) != escapes.raw.npos)
            append_char(buffer->node(), code_point);
        else
            mold_escape_char(buffer, code_point, false);
    }
    return part - int32_t(length);
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    uint32_t length = rs_length_q(*value);
    concatenate(*buffer, *value, arg ? std::max(part, 0) : -1, 0, Mode::append);
    return part - int32_t(length);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    Text text = text_of(*value);
    uint32_t count = options.limit ? std::min(text.length, uint32_t(std::max(part, 0))) : text.length;
    Counts counts = count_quotes(text, count);
    bool braces = counts.line_feeds >= kBracesFromLineFeeds || counts.quotes > 0 || text.length >= kBracesFromLength;
    uint32_t head = std::min(value->head(), rs_abs_length_q(*value));
    append_char(buffer->node(), braces ? '{' : '"');
    (braces ? mold_braced : mold_quoted)(*value, head, count, buffer, options.all);
    append_char(buffer->node(), braces ? '}' : '"');
    return part - int32_t(count) - 2;
}

}  // namespace oka::string
