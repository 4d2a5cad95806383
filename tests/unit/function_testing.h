// Helpers of the function, native, path and typeset tests: values written as text and read by a small
// reader, and the type words given their datatype values as start-up gives them.
//
// The reader knows words of every kind (a a: 'a :a /a), paths of words and integers (a/b 'a/b :a/b
// a/b:), integers, "strings" without escapes, [blocks] and (parens), separated by spaces or brackets.
#pragma once

#include <string_view>

#include "datatypes/datatype.h"
#include "datatypes/path.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/registry.h"
#include "series_testing.h"

namespace oka::test {

inline bool integer_text_q(std::string_view token) {
    return token.find_first_not_of("-0123456789") == std::string_view::npos && token != "-";
}

inline Cell read_word(std::string_view token) {
    Type type = Type::Word;
    if (token.size() > 1 && token.back() == ':') {
        type = Type::SetWord;
        token.remove_suffix(1);
    } else if (token.size() > 1 && (token[0] == '\'' || token[0] == ':' || token[0] == '/')) {
        type = token[0] == '\'' ? Type::LitWord : token[0] == ':' ? Type::GetWord : Type::Refinement;
        token.remove_prefix(1);
    }
    if (integer_text_q(token)) return int_cell(std::stoi(std::string(token)));
    return with_type(word::load(token), type);
}

// a/b and its marked forms; the marks go to the path, the steps are words or integers.
inline Cell read_path(std::string_view token) {
    Type type = Type::Path;
    if (token[0] == '\'' || token[0] == ':') {
        type = token[0] == '\'' ? Type::LitPath : Type::GetPath;
        token.remove_prefix(1);
    } else if (token.back() == ':') {
        type = Type::SetPath;
        token.remove_suffix(1);
    }
    Cell path = block_of({});
    for (size_t slash; (slash = token.find('/')) != std::string_view::npos; token.remove_prefix(slash + 1))
        block::rs_append(path, read_word(token.substr(0, slash)));
    block::rs_append(path, read_word(token));
    return with_type(path, type);
}

inline Cell read_token(std::string_view token) {
    if (token.find('/', 1) != std::string_view::npos) return read_path(token);
    return read_word(token);
}

// Appends the values of the text up to the bracket that closes the block, or to its end.
inline void read_values(const Cell& block, std::string_view& text) {
    while (true) {
        size_t start = text.find_first_not_of(' ');
        if (start == std::string_view::npos) return;
        text.remove_prefix(start);
        char c = text[0];
        if (c == ']' || c == ')') {
            text.remove_prefix(1);
            return;
        }
        if (c == '[' || c == '(') {
            text.remove_prefix(1);
            Cell inner = block_of({});
            read_values(inner, text);
            block::rs_append(block, c == '(' ? with_type(inner, Type::Paren) : inner);
        } else if (c == '"') {
            size_t close = text.find('"', 1);
            Cell string;
            string::rs_make_at(&string, uint32_t(close));
            keep(string);
            string::concatenate_literal(&string, text.data() + 1, uint32_t(close - 1));
            block::rs_append(block, string);
            text.remove_prefix(close + 1);
        } else {
            size_t end = std::min(text.find_first_of(" []()\""), text.size());
            block::rs_append(block, read_token(text.substr(0, end)));
            text.remove_prefix(end);
        }
    }
}

// A block of the values written in the text.
inline Cell load(std::string_view text) {
    Cell block = block_of({});
    read_values(block, text);
    return block;
}

// The one value written in the text.
inline Cell load_value(std::string_view text) { return *block::rs_abs_at(load(text), 0); }

// Gives every registered type's name word its datatype! value, as the boot data does.
inline void define_type_words() {
    for (int id = 1; id <= kTypeCount; id++) {
        if (!datatype::registered_q(Type(id))) continue;
        Cell name = datatype::word_of(Type(id));
        word::set_value(&name, type_cell(Type(id)));
    }
}

// mold/part with the limit.
inline std::string mold_part(const Cell& value, int32_t limit) {
    return text_of(run(actions::mold_s, {value, int_cell(limit)}, {-1, -1, -1, 1}));
}

// Sets a global word's value.
inline void define(std::string_view name, const Cell& value) {
    Cell word = word::load(name);
    word::set_value(&word, value);
}

}  // namespace oka::test
