/* function! and routine!: the values of functions written in the language and of routines written in
   C++, and the reading of function specs.

   A function! cell holds in its header the trace flags of the spec's attribute block and the
   library flag (kCompiled), in payload
   word 1 its context (kind function, values on the data stack, no self flag; its self cell holds a
   copy of the function), in word 2 its spec block (its own copy, from index 0) and in word 3 its extras block
   of five cells, named by Extra. Every word, get-word, lit-word and refinement of the spec is one word
   of the context, in the order the spec block gives them: the order in which a call lays its arguments out on the data
   stack.

   A routine! cell has the same layout with header bits 25-29 holding the number of word! cells of its
   spec and bit 15 asking for the argument cells to be passed unconverted. Its context gets no self
   copy and its body is neither copied nor bound; its code is an index into the routine table.

   Making a function or routine and collecting locals allocate; what they build is kept on the data
   stack meanwhile. Validation and the other spec readers never allocate. */
#pragma once

#include "datatypes/words.h"
#include "runtime/action_options.h"
#include "runtime/memory.h"

namespace oka::function {

inline constexpr uint32_t kNoTrace = 0x200;
inline constexpr uint32_t kTrace = 0x400;
// Library code: no trace event fires inside its body and its frame is not an interpreted one, as for
// code compiled ahead of time. Every function made while start-up builds the library carries it, and
// the global words that such a function's body sets (or its loops take) become its locals.
inline constexpr uint32_t kCompiled = 0x800;
inline bool building_library = false;

// The cells of the extras block.
enum Extra : uint32_t {
    kBody = 0,        // a bound deep copy of the body, or none
    kSpecCache = 1,   // unset until the interpreter caches the spec
    kCode = 2,        // integer!: the compiled code's index, unset when there is none
    kOpFunction = 3,  // unset, or the function itself when an op! wraps it
    kCode2 = 4,       // integer!: a second code word, unset when 0; a routine's return type
};
inline constexpr uint32_t kExtrasSize = 5;

// Registers function! and routine!.
void init();

// Pushes a new function and returns its context. The spec is deep-copied from its head, and the body,
// or none, deep-copied: changes of the given blocks cannot reach the function. Without a `context` (0)
// one is made from the spec and the body copy is bound to it; a context given is taken as it is and the
// body left unbound.
Node push(const Cell& spec, const Cell& body, Node context, uint32_t code, uint32_t code2, uint32_t flags);

// ---- specs ----

// Raises script bad-func-def for a spec that is not [attributes? ...], where arguments, refinements,
// doc strings, at most one `return: [types]` and `/local` words follow the rules of the language, and
// script dup-vars for a word named twice. Answers the trace flags of the attribute block.
uint32_t validate(const Cell& spec);
// The trace flags of an attribute block, or -1 when it holds a value other than a word.
int32_t spec_flags(const Cell& attributes);
// Raises script invalid-type-spec for an element of a type block that is not a datatype!, a typeset!
// or a word whose value is one of those or a word.
void check_types(const Cell& types);
// Raises script dup-vars with the second of two words of the spec that name the same symbol (case
// ignored).
void check_duplicates(const Cell& spec);
// From `start` cells after the spec's head: 1 for a /local refinement plus 1 for each word! after it;
// without /local, 0 or (`need_local`) -1.
int32_t count_locals(const Cell& spec, uint32_t start, bool need_local);
// The values of a refinement left out of a call and of its arguments: false, then count - 1 nones,
// pushed on the data stack.
void init_locals(int32_t count);
// The locals of the `function` constructor: the words that the body sets, or that foreach,
// remove-each and repeat take, which the spec does not name; /extern words are left out and the spec
// is cut at /extern. The spec gets /local and the collected words. Pushes the block of the words
// collected and returns it. Raises script bad-func-extern for a spec value that is no word, block or
// string when /extern is present.
Cell* collect_words(const Cell& spec, const Cell& body);

// ---- parts shared with op! and native! ----

// The spec block of a function, routine, native or action (payload word 2), from its first value.
Cell spec_of(const Cell& value);
// A cell of the extras block of a function or routine.
BufPtr<Cell> extra(const Cell& function, Extra which);
// Molds a copy of a value that may lie in a series buffer; returns the budget left.
int32_t mold_copy(const Cell& value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent);
// True when a reflect field (a word's symbol id) names `field`, letter case ignored.
bool field_q(int32_t symbol, Sym field);
// True for a refinement! naming one of the spec block's keywords (/local, /extern ...), letter case ignored.
bool spec_refinement_q(const Cell& value, SpecWord name);
// The compare of values that equal only themselves, told apart by an identity number: under the
// equality, sort and same? ops the signed order of the two identities, else kNotComparable.
int32_t compare_identities(int32_t identity1, int32_t identity2, int32_t op);

}  // namespace oka::function

namespace oka::routine {

inline constexpr uint32_t kUnconverted = 1u << 15;
inline constexpr uint32_t kArityShift = 25;
inline constexpr uint32_t kArityMask = 0x1F;

// Pushes a new routine and returns it; `code` indexes the routine table.
Cell* push(const Cell& spec, const Cell& body, uint32_t code, int32_t return_type, bool unconverted);
// Stores the number of word! cells of the whole spec into the header.
void count_args(Cell* routine);
uint32_t get_arity(const Cell& routine);

}  // namespace oka::routine
