// Bytes as text in base 2, 16, 58 and 64 and back, and the natives enbase and debase that use them.
// The decoders read code points one at a time from units of any size; a ";" starts a comment that runs
// to the end of its line.
#include <array>

#include "datatypes/binary.h"
#include "datatypes/none.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace oka::binary {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kBase58Digits[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// ---- decode tables: a digit's value by code point below 128 ----

// Entries of the base-58 and base-64 tables that are no digit: characters passed over (backspace,
// tab, line feed, form feed, carriage return, space and the apostrophe) and characters that make the
// text invalid.
constexpr uint8_t kSkip = 0x40;
constexpr uint8_t kBad = 0x80;
constexpr uint8_t kNoHexDigit = 0xFF;

using Table = std::array<uint8_t, 128>;

constexpr Table digit_table(const char* digits, uint8_t other) {
    Table table{};
    table.fill(other);
    for (uint8_t value = 0; digits[value]; value++) table[uint8_t(digits[value])] = value;
    return table;
}

constexpr Table with_skipped(Table table) {
    for (uint8_t c : {8, 9, 10, 12, 13, 32, 39}) table[c] = kSkip;
    return table;
}

constexpr Table hex_table() {
    Table table = digit_table(kHexDigits, kNoHexDigit);
    for (uint8_t value = 10; value < 16; value++) table['a' + value - 10] = value;
    return table;
}

constexpr Table kHexTable = hex_table();
constexpr Table kBase58Table = with_skipped(digit_table(kBase58Digits, kBad));
constexpr Table kBase64Table = [] {
    Table table = with_skipped(digit_table(kBase64Digits, kBad));
    table['='] = 0;  // padding, told apart before its value is read
    return table;
}();
static_assert(kHexTable['f'] == 15 && kHexTable['G'] == kNoHexDigit);
static_assert(kBase58Table['z'] == 57 && kBase58Table['0'] == kBad && kBase58Table['l'] == kBad);
static_assert(kBase64Table['/'] == 63 && kBase64Table[11] == kBad && kBase64Table['\''] == kSkip);

// ---- reading text ----

constexpr int64_t kEnd = -1;

// The code points of a text with the comments left out.
class Reader {
public:
    explicit Reader(const CodeUnits& text) : text_(text) {}

    // The next code point outside a comment, or kEnd. A comment's line feed is read as the character it
    // is; a comment that reaches the end of the text ends it.
    int64_t next() {
        while (at_ < text_.count) {
            uint32_t c = unit(at_++);
            if (c != ';') return c;
            while (at_ < text_.count && unit(at_) != '\n') at_++;
        }
        return kEnd;
    }

private:
    uint32_t unit(uint32_t i) const { return unicode::unit_at(text_.data, text_.unit, i); }

    const CodeUnits& text_;
    uint32_t at_ = 0;
};

using Decoded = std::optional<std::vector<uint8_t>>;

// Eight digits "0" or "1" a byte, most significant first; blanks and control characters are passed over.
Decoded debase_2(const CodeUnits& text) {
    std::vector<uint8_t> out;
    uint32_t byte = 0, digits = 0;
    Reader reader(text);
    for (int64_t c; (c = reader.next()) != kEnd;) {
        if (c <= ' ') continue;
        if (c != '0' && c != '1') return std::nullopt;
        byte = byte << 1 | uint32_t(c - '0');
        if (++digits % 8 == 0) out.push_back(uint8_t(byte));
    }
    if (digits % 8 != 0) return std::nullopt;
    return out;
}

// Two digits a byte; blanks and control characters are passed over.
Decoded debase_16(const CodeUnits& text, bool literal) {
    std::vector<uint8_t> out;
    uint32_t byte = 0, digits = 0;
    Reader reader(text);
    for (int64_t c; (c = reader.next()) != kEnd;) {
        if (c > 0x7F && literal) return std::nullopt;
        c &= 0x7F;
        if (c <= ' ') continue;
        uint8_t digit = kHexTable[size_t(c)];
        if (digit == kNoHexDigit) return std::nullopt;
        byte = byte << 4 | digit;
        if (++digits % 2 == 0) out.push_back(uint8_t(byte));
    }
    if (digits % 2 != 0 && literal) return std::nullopt;
    return out;
}

// Four digits give three bytes. "=" pads the last group: after three digits it ends two bytes, after
// two one byte. A literal must finish its last group, and may follow padding with more "=" and blanks
// alone; otherwise the text ends at the padding.
Decoded debase_64(const CodeUnits& text, bool literal) {
    std::vector<uint8_t> out;
    uint32_t group = 0, digits = 0;
    Reader reader(text);
    for (int64_t c; (c = reader.next()) != kEnd;) {
        uint8_t entry = c > 0x7F ? kBad : kBase64Table[size_t(c)];
        if (entry == kSkip) continue;
        if (entry == kBad) return std::nullopt;
        if (c == '=') {
            if (digits < 2) return std::nullopt;
            out.push_back(uint8_t(group >> (digits == 3 ? 10 : 4)));
            if (digits == 3) out.push_back(uint8_t(group >> 2));
            if (!literal) return out;
            while ((c = reader.next()) != kEnd)
                if (c != '=' && (c > 0x7F || kBase64Table[size_t(c)] != kSkip)) return std::nullopt;
            return out;
        }
        group = group << 6 | entry;
        if (++digits == 4) {
            out.insert(out.end(), {uint8_t(group >> 16), uint8_t(group >> 8), uint8_t(group)});
            group = digits = 0;
        }
    }
    if (digits != 0 && literal) return std::nullopt;
    return out;
}

// A number written in base 58, most significant digit first; each leading "1" (a zero digit) stands for
// a zero byte of its own.
Decoded debase_58(const CodeUnits& text) {
    std::vector<uint8_t> digits;
    Reader reader(text);
    for (int64_t c; (c = reader.next()) != kEnd;) {
        uint8_t entry = c > 0x7F ? kBad : kBase58Table[size_t(c)];
        if (entry == kSkip) continue;
        if (entry == kBad) return std::nullopt;
        digits.push_back(entry);
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) zeros++;
    // The number divided by 256 again and again; each remainder is the next byte from the end.
    std::vector<uint8_t> bytes;
    for (size_t start = zeros; start < digits.size();) {
        uint32_t remainder = 0;
        for (size_t i = start; i < digits.size(); i++) {
            uint32_t value = remainder * 58 + digits[i];
            digits[i] = uint8_t(value / 256);
            remainder = value % 256;
        }
        bytes.push_back(uint8_t(remainder));
        while (start < digits.size() && digits[start] == 0) start++;
    }
    std::vector<uint8_t> out(zeros, 0);
    out.insert(out.end(), bytes.rbegin(), bytes.rend());
    return out;
}

// ---- writing text ----

std::string enbase_2(const uint8_t* bytes, uint32_t count) {
    std::string text;
    text.reserve(size_t(count) * 8);
    for (uint32_t i = 0; i < count; i++)
        for (int bit = 7; bit >= 0; bit--) text += char('0' + (bytes[i] >> bit & 1));
    return text;
}

std::string enbase_16(const uint8_t* bytes, uint32_t count) {
    std::string text;
    text.reserve(size_t(count) * 2);
    for (uint32_t i = 0; i < count; i++) text += string::byte_to_hex(bytes[i]);
    return text;
}

std::string enbase_64(const uint8_t* bytes, uint32_t count) {
    std::string text;
    text.reserve(size_t(count + 2) / 3 * 4);
    for (uint32_t i = 0; i < count; i += 3) {
        uint32_t left = count - i;
        uint32_t group =
            uint32_t(bytes[i]) << 16 | (left > 1 ? uint32_t(bytes[i + 1]) << 8 : 0) | (left > 2 ? bytes[i + 2] : 0);
        for (uint32_t k = 0; k < 4; k++) text += k <= left ? kBase64Digits[group >> (18 - 6 * k) & 63] : '=';
    }
    return text;
}

// The bytes read as a big-endian number, divided by 58 again and again; each remainder is the next digit
// from the end. Each leading zero byte is a "1" of its own.
std::string enbase_58(const uint8_t* bytes, uint32_t count) {
    std::vector<uint8_t> number(bytes, bytes + count);
    size_t zeros = 0;
    while (zeros < number.size() && number[zeros] == 0) zeros++;
    std::string digits;
    for (size_t start = zeros; start < number.size();) {
        uint32_t remainder = 0;
        for (size_t i = start; i < number.size(); i++) {
            uint32_t value = remainder * 256 + number[i];
            number[i] = uint8_t(value / 58);
            remainder = value % 58;
        }
        digits += kBase58Digits[remainder];
        while (start < number.size() && number[start] == 0) start++;
    }
    return std::string(zeros, '1') + std::string(digits.rbegin(), digits.rend());
}

}  // namespace

bool base_q(int32_t base) { return base == 2 || base == 16 || base == 58 || base == 64; }

std::string enbase(int32_t base, const uint8_t* bytes, uint32_t count) {
    switch (base) {
    case 2: return enbase_2(bytes, count);
    case 16: return enbase_16(bytes, count);
    case 58: return enbase_58(bytes, count);
    default: return enbase_64(bytes, count);
    }
}

uint64_t enbase_room(int32_t base, uint32_t count) {
    uint64_t n = count;
    switch (base) {
    case 2: return 8 * n + n / 8 * 2 + 4;
    case 16: return 2 * n + n / 32 + 32;
    case 58: return 2 * n;
    default: return n / 3 * 4 + n % 3 * 4 / 3 + n / 32 * 2 + 5;
    }
}

std::optional<std::vector<uint8_t>> debase(int32_t base, const CodeUnits& text, bool literal) {
    switch (base) {
    case 2: return debase_2(text);
    case 16: return debase_16(text, literal);
    case 58: return debase_58(text);
    default: return debase_64(text, literal);
    }
}

}  // namespace oka::binary
