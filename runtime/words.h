/* The run-time's own words (runtime/words.def), named in C++ by enumerations: Sym for symbol ids,
   Word for the word! cells of events, frames and error categories. */
#pragma once

#include <cstdint>

namespace oka {

enum class Sym : uint16_t {
#define OKA_SYMBOL(Name, text) Name,
#include "runtime/words.def"
};

enum class Word : uint16_t {
#define OKA_WORD(Name, text) Name,
#include "runtime/words.def"
};

}  // namespace oka
