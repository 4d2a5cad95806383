/* The word family: word!, set-word!, lit-word!, get-word! and refinement! (issue! shares the cell).

   A word cell holds the context it is bound to in payload word 1 (0 when unbound), its symbol id (the
   spelling written) in word 2, and its position in the context in word 3 (-1 until resolved). Words
   made here are bound to the global context with their position resolved.

   Rules: making a word may allocate (interning, adding to the global context). Reading a value hands
   out a buffer pointer valid until the next allocation. */
#pragma once

#include <string_view>

#include "datatypes/context.h"
#include "runtime/memory.h"

namespace oka {

namespace word {

// Registers word!, set-word!, lit-word!, get-word! and refinement!.
void init();

// The word at absolute `index` of a block of words about to be set; script invalid-arg for a value
// there that cannot be set. Read just before each set: a change handler run by an earlier set may put
// anything in the block.
Cell settable_at(const Cell& words, uint32_t index);

// ---- constructors ----

Cell* make_at(uint32_t symbol, Cell* cell);
Cell* box(uint32_t symbol);
Cell* make_in(uint32_t symbol, const Cell& block);
Cell* load_in(std::string_view name, const Cell& block);
Cell* push_new(uint32_t symbol);
// The global word of a name (letter case kept); during start-up also kept in the root block.
Cell load(std::string_view name);
void add_to_root(const Cell& cell);
Cell* push(const Cell& word);
Cell* push_local(Node context, uint32_t position);
// The same for the other types of the family: made as a word!, then given `type`.
Cell* load_in_as(Type type, std::string_view name, const Cell& block);
Cell load_as(Type type, std::string_view name);
Cell* push_as(Type type, const Cell& word);
Cell* push_local_as(Type type, Node context, uint32_t position);
BufPtr<Cell> from_context(Node context, uint32_t position);
// The word of a symbol in a context (exact lookup), or the global word of the symbol when the context
// lacks it.
Cell find_in(Node context, uint32_t symbol);

// ---- values ----

OKA_ALWAYS_INLINE BufPtr<Cell> get_cell(const Cell& word) { return _context::get(word, word.context()); }
// Pushes a copy of the word's value; an unset value raises script no-value.
Cell* get(const Cell& word);
// Stores a copy of the value as the word's value, and reports it to an object's on-change* handler.
// Loops set their counters with it at every pass, hence inline.
OKA_ALWAYS_INLINE void set_value(Cell* word, const Cell& value) {
    _context::set_in(word, value, word->context(), true);
}
// Frame argument 1 a word, argument 2 the value: sets it and makes the value the result. With
// `refuse_unset` (the word! case) an unset value raises script need-value instead.
void set_arg(bool refuse_unset = true);
// Frame argument 1 a word: its value becomes the result.
void get_arg();
// Pushes a copy of the word's value, unset allowed (a get-word's reading).
Cell* get_any(const Cell& word);
// Copies the result slot into `cell`; an unset result raises script need-value.
void set_result(Cell* cell);
BufPtr<Cell> get_in(Node context, uint32_t position);
Cell* get_local(Node context, uint32_t position);
void set_in(Node context, uint32_t position);
Cell* set_in_from_result(Node context, uint32_t position);
void swap_value(Node context, uint32_t position);

// ---- text ----

// The node of the string form of the word's symbol: shared with the symbol, read only.
Node to_string(const Cell& word);

// ---- actions the other word types share ----

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

}  // namespace word

namespace refinement {
// Appends to the root block an unbound refinement of the name and returns it.
Cell make_in_root(std::string_view name);
}  // namespace refinement

}  // namespace oka
