/* Contexts and binding.

   A context maps words to value slots. Its node holds two cells: the context cell (type context!;
   header bits 11-12 the kind, bit 22 values on the data stack, bit 24 has self; word 1 the word table,
   word 2 the values block, or the address of the running call's first argument cell when the values
   live on the data stack) and the self cell, a copy of the value that owns the context. The word table
   is a hash table whose block holds one word! per word (bound to the context at its own position); the
   word at position n owns value cell n.

   The global context holds every word not bound elsewhere; objects and functions own one each.

   Rules: adding a word allocates, and a word comes in with its value cell or not at all; looking one
   up, binding and reading do not allocate. Value cells handed out are buffer pointers (the values
   block can grow), valid until the next allocation. A word whose position field may be written back
   (set_in, bind_word) must be fixed: on the data stack, or in a block that no allocation touches
   during the call. */
#pragma once

#include "runtime/memory.h"
#include "runtime/types.h"

namespace oka::_context {

enum Kind : uint32_t {
    kGlobal = 0,
    kFunction = 1,  // functions, natives, actions and routines: values on the data stack
    kObject = 2,    // objects, errors and ports
};

inline constexpr uint32_t kKindShift = 11;
inline constexpr uint32_t kHasSelf = 1u << 24;
inline constexpr uint32_t kFieldSet = 1u << 13;  // on a word-table entry: the field was assigned

inline constexpr uint32_t kGlobalSize = 4000;

// The global context, made at start-up.
inline Node global = 0;
// While set (during start-up), every word added to the global context is also kept in the root block.
inline bool collecting_new_words = false;

// Registers context!: it has no actions, scripts never see context values.
void init();
void make_global();

// The context cell: the first cell of the context's buffer.
OKA_ALWAYS_INLINE BufPtr<Cell> context_cell(Node context) {
    return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(context)->offset));
}
inline BufPtr<Cell> self_cell(Node context) { return context_cell(context) + 1; }
inline Kind kind_of(const Cell& context_cell) { return Kind((context_cell.header >> kKindShift) & 3); }
Node words_node(Node context);
BufPtr<Cell> word_at(Node context, uint32_t position);
uint32_t word_count(Node context);

// A new context for `size` words (1 at least), its header `flags` kValuesOnStack and kHasSelf or none:
// with kValuesOnStack its values live in the frame of the running call, otherwise in a values block with
// room for `size` cells and none used. The word table is new, or a copy of `source`'s with every word
// rebound to the new context.
Node create(uint32_t size, uint32_t flags, Node source, Kind kind);
// The context of a function, native, action or routine: every word!, get-word!, lit-word! and
// refinement! of its spec block (set-words, strings and blocks are skipped), with its values in the
// frame of the running call.
Node make(const Cell& spec);
// A new context with the same words as the one of `value` (payload word 1), which is made to refer to
// it; its values block is empty.
Node clone(Cell* value, Kind kind);

// The position of a symbol, or -1.
int32_t find_word(Node context, uint32_t symbol, bool ignore_case);
// The position of a symbol when present; otherwise adds it, stores its new position in `position` and
// answers -1.
int32_t add_word(Node context, uint32_t symbol, bool ignore_case, int32_t& position);
// The position of the word's symbol (case ignored), added with an unset value when missing.
int32_t add_word_unset(Node context, const Cell& word);
void set_or_add(Node context, const Cell& word, const Cell& value);

// The value cell at a position of a context that has values: in the frame of the running call, or in
// the values block.
OKA_ALWAYS_INLINE BufPtr<Cell> value_at(const Cell& context_cell, int32_t position) {
    if (context_cell.header & kValuesOnStack) return BufPtr<Cell>(mem::ptr<Cell>(context_cell.values()) + position);
    return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(context_cell.values())->offset) + position);
}

// The value cell of a word whose position is not resolved (the word self), or in a context without
// values: raises script no-value or not-in-context for the others.
BufPtr<Cell> get_unresolved(const Cell& word);

// The value cell of a word in `context`. Evaluation reads a word's value at every step, so the common
// case is defined here where it inlines.
OKA_ALWAYS_INLINE BufPtr<Cell> get(const Cell& word, Node context) {
    const Cell& cell = *context_cell(context);
    int32_t position = word.position();
    if (position < 0 || !cell.values()) return get_unresolved(word);
    return value_at(cell, position);
}

// Stores a copy of `value` as the word's value in `context`, resolving the word's position first when
// it has none (and adding the word when missing). A field of an object is marked assigned and, with
// `notify`, reported to the object's on-change* handler (datatypes/object.h), which may run any code.
// Returns the value cell.
BufPtr<Cell> set_in_any(Cell* word, const Cell& value, Node context, bool notify);

// The value cell that a set stores into as it is, with nothing else to do: the cell of a word whose
// position is resolved, in a context with values that is not an object's. Null for any other word.
OKA_ALWAYS_INLINE BufPtr<Cell> plain_slot(const Cell& word, Node context) {
    const Cell& cell = *context_cell(context);
    int32_t position = word.position();
    if (position < 0 || !cell.values() || (!(cell.header & kValuesOnStack) && kind_of(cell) == kObject)) return {};
    return value_at(cell, position);
}

// set_in_any, with the common case defined here where it inlines: a word with a plain slot.
OKA_ALWAYS_INLINE BufPtr<Cell> set_in(Cell* word, const Cell& value, Node context, bool notify) {
    BufPtr<Cell> slot = plain_slot(*word, context);
    if (!slot) return set_in_any(word, value, context, notify);
    *slot = value;
    return slot;
}
// The value cell of a symbol in an object's context (the global context for a function's); the symbol
// must be present.
BufPtr<Cell> get_in(uint32_t symbol, Node context);
// The global word of a symbol, added when missing (exact lookup).
Cell add_global(uint32_t symbol);
// How add_global_word finds a symbol's word: by its exact spelling, or in any letter case, the word
// answered then spelled as asked while it shares the value of the word found.
enum class Spelling : uint8_t { exact, any_case };
Cell add_global_word(uint32_t symbol, Spelling spelling);

// Binds one word to the context when it holds its symbol (case ignored); answers the position or -1.
int32_t bind_word(Node context, Cell* word);
// Binds every word of a block, and of the blocks, parens and paths inside it, whose symbol the context
// holds; with `self` the word self is bound to the context itself. Never adds words.
void bind(const Cell& block, Node context, bool self);
// Adds every set-word of the block (from its head, which is first clamped) to the context; true when
// the context grew.
bool collect_set_words(Node context, Cell* block);

}  // namespace oka::_context
