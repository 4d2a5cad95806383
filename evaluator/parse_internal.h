/* What the files of the parse dialect share besides the engine (parse.cpp): matching one rule value
   at a position of the input (parse_match.cpp), and what the commands do with the part they matched:
   copy it, keep it, remove or replace it (parse_edit.cpp).

   A position is an absolute unit index into the input's buffer; `end` is where matching stops (the
   tail or the /part limit, whichever comes first) and is never past the tail. The input is read through
   its node on every call. Matching on text never allocates; matching on blocks compares through the
   compare actions, which may, as do all the routines of parse_edit.cpp. Their cell arguments are read
   before they allocate, so they may lie anywhere. */
#pragma once

#include "runtime/cell.h"

namespace oka::parse {

// No match: the answer of the matching routines that otherwise give the index after the match.
inline constexpr int64_t kNoMatch = -1;
// The repetition count of any, some and while.
inline constexpr uint32_t kUnbounded = UINT32_MAX;

// ---- matching ----

// Whether a value matches text or binary input by its content: char!, the string kinds, tag!, bitset!
// and binary! (which only binary input takes).
bool text_literal_q(Type type);
// Whether a rule value is matched as a literal on this input, rather than being a rule of its own
// kind (a block, a word, a count, a datatype ...). Lit-words and lit-paths are not: the engine turns
// them into the word or path they stand for first.
bool literal_q(const Cell& input, const Cell& value);

// The index after a literal matched at `index`, or kNoMatch. Text input: a char (one code point), a
// string kind (its text from its head), a tag (its text between angle brackets) or a bitset (one code
// point in the set); letter case is folded unless `case_`. Binary input: the same with bytes for code
// points, a text standing for its UTF-8 encoding, a binary for its bytes; case never folds. Block input: the value at
// `index` equals the literal (`=`, or `==` under `case_`), and words match only words of their own type.
int64_t match_literal(const Cell& input, uint32_t index, uint32_t end, const Cell& literal, bool case_);
// The counted form: the literal matched again and again from `index`, at most `max` times; the index
// after the last match when it matched at least `min` times, else kNoMatch. A literal that matches
// without advancing (an empty string) matches any number of times there.
int64_t match_repeated(const Cell& input, uint32_t index, uint32_t end, const Cell& literal, bool case_, uint32_t min,
                       uint32_t max);
// The first position from `index` where the literal matches: that position (`to`), or the index after
// the match (`thru`); kNoMatch when it matches nowhere before `end`.
int64_t find_literal(const Cell& input, uint32_t index, uint32_t end, const Cell& literal, bool case_, bool thru);
// The index after the value at `index` when it is of the datatype, or of a type of the typeset; else
// kNoMatch. Block input has values; in binary input it is the value the lexer reads there as it would
// load the bytes (blanks before it included). Text input raises script parse-unsupported.
int64_t match_type(const Cell& input, uint32_t index, uint32_t end, const Cell& types);

// ---- what commands do with a match ----

// Pushes on the data stack the value at `index`: the cell of block input, an integer! of binary input,
// a char! of text input.
Cell* push_value_at(const Cell& input, uint32_t index);
// Pushes on the data stack a new series of the input's type holding the units from `start` up to
// `end` (empty when end <= start).
Cell* push_copy(const Cell& input, uint32_t start, uint32_t end);
// Appends to the block `collection` what was matched from `start` up to `end`: one value as itself,
// else a copy of the units as one series; with `pick`, each value on its own.
void keep_range(const Cell& collection, const Cell& input, uint32_t start, uint32_t end, bool pick);
// Appends a value to the block `collection`; with `pick`, the values of a block-like value one by one.
// An unset value adds nothing.
void keep_value(const Cell& collection, const Cell& value, bool pick);
// Removes the units from `start` up to `end` of the input.
void remove_range(const Cell& input, uint32_t start, uint32_t end);
// Puts the value in place of the units from `start` up to `end` (inserts it when they are the same)
// as the change and insert actions do, /only as given; answers the units written.
uint32_t replace_range(const Cell& input, uint32_t start, uint32_t end, const Cell& value, bool only);
// Inserts the values of the block at the position of `target` (a series), which keeps its position.
void insert_collected(const Cell& target, const Cell& block);

}  // namespace oka::parse
