// The JSON decoder's routine: resolving the backslash escapes of a string in place.
#include <cstdint>

#include "datatypes/string.h"
#include "library/routines.h"
#include "runtime/error.h"
#include "runtime/unicode.h"

namespace oka::library {

namespace {

// Reads a string's code points by index and writes them back over the same buffer, behind the read
// position, so the text shrinks as escapes resolve and nothing unread is overwritten. Indexes, never
// pointers: a code point wider than the buffer's unit widens (and moves) it.
class Unescaper {
public:
    explicit Unescaper(Cell* str) : str_(str), tail_(string::rs_abs_length_q(*str)) {}

    void run() {
        int32_t first = string::rs_find_char(*str_, '\\');
        if (first < 0) return;  // nothing to resolve, nothing to write
        read_ = uint32_t(first);
        uint32_t written = read_;
        while (read_ < tail_) {
            uint32_t c = next();
            string::write_char(str_->node(), written++, c == '\\' ? escaped() : c);
        }
        string::clip_tail(str_, int32_t(written));
    }

private:
    Cell* str_;
    uint32_t tail_;
    uint32_t read_ = 0;

    // The data does not resolve: the error names the string, as far as it is rewritten.
    [[noreturn]] void refuse() const { fire(Err::script_invalid_data, str_); }

    uint32_t next() {
        if (read_ >= tail_) refuse();
        return string::rs_abs_at(*str_, read_++);
    }

    // The code point that the escape after a backslash stands for.
    uint32_t escaped() {
        switch (uint32_t c = next()) {
        case '"':
        case '\\':
        case '/': return c;
        case 'b': return 0x08;
        case 'f': return 0x0C;
        case 'n': return 0x0A;
        case 'r': return 0x0D;
        case 't': return 0x09;
        case 'u': return unicode_escape();
        default: refuse();
        }
    }

    // After "\u": four hexadecimal digits; a high surrogate must be followed by the escape of a low one,
    // and the pair stands for one code point beyond U+FFFF. A low surrogate alone reads as U+FFFD, the
    // replacement character: as itself it would make a string that no UTF-8 text can hold, written
    // out as bytes that no UTF-8 reader takes.
    uint32_t unicode_escape() {
        uint32_t high = hex4();
        if (high >= 0xDC00 && high <= 0xDFFF) return unicode::kReplacementCharacter;
        if (high < 0xD800 || high > 0xDBFF) return high;
        if (next() != '\\' || next() != 'u') refuse();
        uint32_t low = hex4();
        if (low < 0xDC00 || low > 0xDFFF) refuse();
        return 0x10000 + (high - 0xD800) * 1024 + (low - 0xDC00);
    }

    uint32_t hex4() {
        uint32_t value = 0;
        for (int i = 0; i < 4; i++) {
            int32_t digit = unicode::hex_digit(next());
            if (digit < 0) refuse();
            value = value * 16 + uint32_t(digit);
        }
        return value;
    }
};

}  // namespace

// The string stays in the result slot: the routine answers the string it was given.
void json_unescape_r(Cell* arguments) { Unescaper(&arguments[0]).run(); }

}  // namespace oka::library
