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

bool money_parts(std::string_view text, tokenizer::MoneyText& money) {
    auto letter_q = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    auto digit_q = [](char c) { return c >= '0' && c <= '9'; };
    money = tokenizer::MoneyText{};
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        money.negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (!text.empty() && letter_q(text[0])) {
        if (text.size() < 4 || text[3] != '$' || !letter_q(text[1]) || !letter_q(text[2])) return false;
        money.currency = text.substr(0, 3);
        text.remove_prefix(4);
    } else if (!text.empty() && text[0] == '$') {
        text.remove_prefix(1);
    }
    std::string* digits = &money.whole;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        bool inside = i > 0 && i + 1 < text.size();
        if (digit_q(c)) {
            *digits += c;
        } else if (c == '\'') {
            if (!inside || !digit_q(text[i - 1]) || !digit_q(text[i + 1])) return false;
        } else if (c == '.' || c == ',') {
            if (!inside || digits == &money.fraction) return false;
            digits = &money.fraction;
        } else {
            return false;
        }
    }
    return !money.whole.empty();
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

// The characters beyond ASCII, which no money text holds, stand in as DEL.
bool scan_money(const string::Text& text, MoneyText& money) {
    std::string ascii(text.length, '\x7F');
    for (uint32_t i = 0; i < text.length; i++)
        if (text.at(i) < 0x80) ascii[i] = char(text.at(i));
    return lexer::money_parts(ascii, money);
}

}  // namespace oka::tokenizer
