// Numbers from text: the decimal conversions the lexer's loaders share, and the tokenizer, which reads
// a number from the characters of a string with the same rules for `to`.
#include <cmath>
#include <limits>

#include "datatypes/float.h"
#include "evaluator/lexer_scanner.h"

namespace oka::lexer {

bool decimal_value(std::string_view text, double& value, int32_t shift) {
    if (text.size() > kMaxFloatText || !float_syntax_q(text)) return false;
    char digits[kMaxFloatText];
    size_t length = 0;
    for (char c : text)
        if (c != '\'') digits[length++] = c;
    int32_t left;
    value = sys::strtod(digits, digits + length, shift, &left);
    return left == 0;
}

bool special_float_value(std::string_view text, double& value) {
    bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
    if (text.size() != 6 || !text.starts_with("1.#")) return false;
    if (same_text_q(text.substr(3), "inf"))
        value = negative ? -HUGE_VAL : HUGE_VAL;
    else if (same_text_q(text.substr(3), "nan"))
        value = std::numeric_limits<double>::quiet_NaN();
    else
        return false;
    return true;
}

}  // namespace oka::lexer

namespace oka::tokenizer {

int32_t scan_integer(const string::Text& text, NumberError& error) {
    constexpr int64_t kLimit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    error = NumberError::none;
    bool negative = text.length > 0 && text.at(0) == '-';
    uint32_t i = text.length > 0 && (text.at(0) == '-' || text.at(0) == '+');
    int64_t magnitude = 0;
    bool digits = false;
    for (; i < text.length; i++) {
        uint32_t c = text.at(i);
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            error = NumberError::malformed;
            return 0;
        }
        magnitude = magnitude * 10 + (c - '0');
        digits = true;
        if (magnitude > kLimit) break;
    }
    if (!digits)
        error = NumberError::malformed;
    else if (magnitude > kLimit || (magnitude == kLimit && !negative))
        error = NumberError::overflow;
    if (error != NumberError::none) return 0;
    return int32_t(negative ? -magnitude : magnitude);
}

double scan_float(const string::Text& text, NumberError& error) {
    error = NumberError::none;
    char bytes[lexer::kMaxFloatText];
    bool ascii = text.length <= lexer::kMaxFloatText;
    for (uint32_t i = 0; ascii && i < text.length; i++) {
        uint32_t c = text.at(i);
        ascii = c < 0x80;
        bytes[i] = c == ',' ? '.' : char(c);
    }
    double value;
    std::string_view number(bytes, ascii ? text.length : 0);
    if (ascii && (lexer::decimal_value(number, value) || lexer::special_float_value(number, value))) return value;
    error = NumberError::malformed;
    return std::numeric_limits<double>::quiet_NaN();
}

bool scan_money(const string::Text& text, MoneyText& money) {
    auto at = [&](uint32_t i) { return i < text.length ? text.at(i) : 0u; };
    auto letter_q = [](uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    money = MoneyText{};
    uint32_t i = 0;
    if (at(0) == '-' || at(0) == '+') {
        money.negative = at(0) == '-';
        i = 1;
    }
    if (letter_q(at(i))) {
        // A currency code: three letters and $, and a digit at least after them.
        if (text.length - i < 5 || at(i + 3) != '$') return false;
        for (uint32_t k = 0; k < 3; k++) {
            if (!letter_q(at(i + k))) return false;
            money.currency[k] = char(at(i + k));
        }
        i += 4;
    } else if (at(i) == '$') {
        i++;
    }
    money.start = i;
    money.dot = money.end = text.length;
    if (i == text.length) return false;
    uint32_t previous = 0;
    for (uint32_t k = i; k < text.length; k++) {
        uint32_t c = at(k);
        bool edge = k == i || k + 1 == text.length;
        if (c == '\'') {
            if (edge || previous == '\'' || previous == '.') return false;
        } else if (c == '.') {
            if (edge || money.dot != text.length) return false;
            money.dot = k;
        } else if (c < '0' || c > '9') {
            return false;
        }
        previous = c;
    }
    return true;
}

}  // namespace oka::tokenizer
