/* The words of the text-mode back end (view/tui/words.def), interned once at start-up, and the
   comparison of words as the language compares them: by symbol, letter case ignored. */
#pragma once

#include <cstdint>

namespace oka {
struct Cell;
}

namespace oka::gui {

enum class GuiWord : uint16_t {
#define OKA_GUI_WORD(Name, text) Name,
#include "view/tui/words.def"
    count_
};

// Interns the words; runs once at start-up, after the symbol table exists.
void make_words();
uint32_t id(GuiWord word);

// The symbol that stands for all letter-case variants of `symbol`.
uint32_t canonical(uint32_t symbol);
bool same_word_q(uint32_t symbol1, uint32_t symbol2);
// True when `value` is a word of any kind spelling `word`.
bool word_is_q(const Cell& value, GuiWord word);

}  // namespace oka::gui
