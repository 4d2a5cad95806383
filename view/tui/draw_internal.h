/* What the draw dialect and the rich-text styles share: the keywords of both dialects. */
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace oka::draw {

enum class Keyword : uint8_t {
    none,
#define OKA_DRAW_WORD(Name, text) Name,
#include "view/tui/draw_words.def"
};

// Makes the symbols of the keywords, once; interning allocates, so it runs before a walk begins.
void learn_keywords();

// The keyword a value of type `type` (word! by default) spells, letter case ignored; none for another
// value or word.
Keyword keyword_of(const Cell& value, Type type = Type::Word);

// The value of a word, or an unset! cell for a word that has none (unbound, or of a function that is
// not running): a dialect looks words up without raising the language's errors.
Cell value_of_word(const Cell& word);

}  // namespace oka::draw
