/* The run-time's own words (datatypes/words.def), named in C++ by enumerations: Sym for symbol ids,
   Word for the word! cells of events, frames and error categories. */
#pragma once

#include "runtime/cell.h"

namespace oka {

enum class Sym : uint16_t {
#define OKA_SYMBOL(Name, text) Name,
#include "datatypes/words.def"
};

enum class Word : uint16_t {
#define OKA_WORD(Name, text) Name,
#include "datatypes/words.def"
};

enum class SpecWord : uint8_t {
#define OKA_SPEC_WORD(Name, text) Name,
#include "datatypes/words.def"
};

namespace words {

// Makes every entry of datatypes/words.def: the symbol ids, the global words, and the word cells kept in
// the root block. Runs once at start-up, after the symbol table and the global context exist.
void build();
// The refinements /local, /extern, /compare, /part, /skip and /with, kept in the root block.
void build_spec_words();

uint32_t id(Sym symbol);
// A run-time word: a word! cell bound to the global context.
const Cell& word(Word w);
const Cell& spec_word(SpecWord w);

}  // namespace words

}  // namespace oka
