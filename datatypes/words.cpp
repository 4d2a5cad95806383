#include "datatypes/words.h"

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"

namespace oka::words {

namespace {

constexpr const char* kSymbolNames[] = {
#define OKA_SYMBOL(Name, text) text,
#include "datatypes/words.def"
};
constexpr const char* kWordNames[] = {
#define OKA_WORD(Name, text) text,
#include "datatypes/words.def"
};
constexpr const char* kSpecWordNames[] = {
#define OKA_SPEC_WORD(Name, text) text,
#include "datatypes/words.def"
};
constexpr Sym kGlobals[] = {
#define OKA_GLOBAL(Name) Sym::Name,
#include "datatypes/words.def"
};

uint32_t symbol_ids[std::size(kSymbolNames)];
// Copies of the cells kept in the root block: the words never change once made.
Cell word_cells[std::size(kWordNames)];
Cell spec_word_cells[std::size(kSpecWordNames)];

}  // namespace

void build() {
    for (size_t i = 0; i < std::size(kSymbolNames); i++) symbol_ids[i] = symbol::make(kSymbolNames[i]);
    for (Sym global : kGlobals) _context::add_global(id(global));
    // Made while start-up collects new words, so the root block keeps them.
    for (size_t i = 0; i < std::size(kWordNames); i++) word_cells[i] = word::load(kWordNames[i]);
}

void build_spec_words() {
    for (size_t i = 0; i < std::size(kSpecWordNames); i++)
        spec_word_cells[i] = refinement::make_in_root(kSpecWordNames[i]);
}

uint32_t id(Sym symbol) { return symbol_ids[size_t(symbol)]; }

const Cell& word(Word w) { return word_cells[size_t(w)]; }

const Cell& spec_word(SpecWord w) { return spec_word_cells[size_t(w)]; }

}  // namespace oka::words
