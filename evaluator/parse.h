/* The parse dialect: matching a series against a block of rules.

   The engine (parse.cpp) is one loop over explicit states. Nested rule blocks and pending commands
   (any, copy, into, collect ...) live on the rule stack, the series entered by `into` on the input
   stack: two blocks of the language memory, rooted for the collector, shared by nested parses (a
   parse run from a paren continues above the entries of the one that called it). So deep rules cost
   stack cells, never C++ stack, and a limit on those cells ends runaway rules with script
   parse-stack.

   Rules: the engine runs user code (parens, the /trace callback) and edits the input, so it may
   allocate anywhere. It holds every value it works on in data-stack cells or on its stacks, and
   positions as a node and an index, read again after anything that may allocate. */
#pragma once

#include "runtime/cell.h"

namespace oka::parse {

// The end of the input is its tail: no /part limit.
inline constexpr int64_t kNoLimit = -1;

// Makes the two stacks and the keyword table; start-up runs it once, after the internal words exist.
void init();

// Matches `input` from its head against `rules`: true when the rules match the input up to its tail
// (or to `limit`, an absolute index, unless kNoLimit), false otherwise, or the block a top-level
// `collect` made. With a `callback` (a function! of five arguments, or null) every step of the match is
// reported to it. Allocates; runs user code; raises the parse errors of the error catalogue.
Cell process(const Cell& input, const Cell& rules, bool case_, int64_t limit, const Cell* callback);

}  // namespace oka::parse
