/* symbol!: the entries of the symbol table (runtime/symbol_table.h). Scripts never hold a symbol!
   value; they hold words, which name a symbol by its 1-based id.

   Interning may allocate. Names handed in as bytes must not lie in a movable series buffer. */
#pragma once

#include <string_view>

#include "datatypes/words.h"
#include "runtime/memory.h"
#include "runtime/symbol_table.h"

namespace oka::symbol {

void init();

// The id of a name, interned when new: an exact match, else a new letter-case variant or a new
// canonical entry.
uint32_t make(std::string_view utf8_name);
// The id of the text of a string value, converted to UTF-8 first.
uint32_t make_from_string(const Cell& string);
// The id of the first-inserted entry matching the name with case ignored; a new canonical entry when
// none does. Never makes a variant.
uint32_t make_alt(std::string_view utf8_name);

int32_t get_alias(uint32_t id);
// The symbol cell of an id, with its string form built.
BufPtr<Cell> get(uint32_t id);
// The symbol's name as UTF-8 bytes (valid until the next allocation).
std::string_view name(uint32_t id);
// The node of the symbol's string form, built on first use. Callers must not change it: the string is
// the symbol's own spelling.
Node get_string(uint32_t id);

// True when the symbol `id` spells the run-time's word `name`, letter case ignored.
bool named_q(uint32_t id, Sym name);
bool any_type_word_q(const Cell& word);

}  // namespace oka::symbol
