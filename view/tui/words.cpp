#include "view/tui/words.h"

#include <iterator>

#include "datatypes/symbol.h"
#include "runtime/types.h"

namespace oka::gui {

namespace {

constexpr const char* kNames[] = {
#define OKA_GUI_WORD(Name, text) text,
#include "view/tui/words.def"
};
static_assert(std::size(kNames) == size_t(GuiWord::count_), "one name per word");

uint32_t ids[std::size(kNames)];

}  // namespace

void make_words() {
    for (size_t i = 0; i < std::size(kNames); i++) ids[i] = symbol::make(kNames[i]);
}

uint32_t id(GuiWord word) { return ids[size_t(word)]; }

uint32_t canonical(uint32_t symbol) {
    int32_t alias = symbol::get_alias(symbol);
    return alias < 0 ? symbol : uint32_t(alias);
}

bool same_word_q(uint32_t symbol1, uint32_t symbol2) { return canonical(symbol1) == canonical(symbol2); }

bool word_is_q(const Cell& value, GuiWord word) {
    return is_a(value.type(), TypeClass::any_word) && same_word_q(value.symbol(), id(word));
}

}  // namespace oka::gui
