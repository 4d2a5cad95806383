/* native!, action! and op!: the built-in functions, the generic functions dispatched on their first
   argument's type, and the infix operators.

   A native! or action! cell holds in payload word 1 its entry point: a 1-based index into the natives
   table (1 to kTableSize) or the actions table (1 to kActionCount), never an address. Word 2 is its
   spec block, word 3 a two-cell extras block: a copy of the context cell of a context made from the
   spec (kind function, values on the data stack, no self), and none.

   An op! cell copies words 1 to 3 of the native!, action!, function! or routine! of two arguments it
   wraps, and keeps that value's type id in header bits 16-23. Wrapping a function or routine also
   stores a copy of it in cell kOpFunction of the extras block the two share.

   A native or action reads its arguments as its built-in spec declares them, so making one takes only a
   spec that declares the same arguments, refinements and types (doc strings aside); a slot of the
   natives table without a native takes any spec, as its calls are refused. The value keeps its own copy
   of the spec. Making a native or action allocates; the value is built on the data stack. */
#pragma once

#include "runtime/memory.h"
#include "runtime/types.h"

namespace oka::native {

// The slots of the natives table.
inline constexpr int32_t kTableSize = 120;

// Registers native!, action! and op!.
void init();

// Makes the native! or action! of an entry of its table from the built-in's own spec, a block that
// nothing else holds (start-up loads each from its text): unlike make, it neither copies nor checks the
// spec. The value is pushed.
const Cell* make_built_in(Type target, const Cell& spec, int32_t entry);
// True when the spec declares the same arguments, refinements and types as the built-in's own spec at
// a filled entry of its table (doc strings aside).
bool own_arguments_q(const Cell& spec, int32_t entry, Type target);
// Pushes the native! or action! of a filled entry made from the built-in's own spec, whatever spec
// came with a request for it.
const Cell* push_own(Type target, int32_t entry);

}  // namespace oka::native

namespace oka::op {

// True when the spec (walked from its first value) takes exactly two arguments before any /local,
// /extern or return declaration, has no other refinement, and does not take its left argument as a
// lit-word or get-word.
bool check_spec(const Cell& spec);
// The native!, action!, function! or routine! an op! wraps (its payload is the op's own); any other
// value as it is.
inline Cell unwrap(Cell value) {
    if (value.is(Type::Op)) value.header = uint8_t(op_wrapped_type(value));
    return value;
}
// The type of the value an op! wraps; a native! or action! is its own.
inline Type wrapped_type(const Cell& value) { return unwrap(value).type(); }

}  // namespace oka::op
