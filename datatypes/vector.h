/* vector!: a packed series of numbers of one element type and size, a child of string!, with
   arithmetic on all its elements at once.

   A vector cell holds its head index (an element index) in payload word 1, its node in word 2 and its
   element type in word 3: char!, integer!, float! or percent!. The buffer's unit is the element size:
   1, 2 or 4 bytes for chars and integers, 4 or 8 for floats, 8 for percents (the fraction: 50% is 0.5).
   Integers are two's complement, floats IEEE binary32 or binary64, all little-endian. A char element of
   1 or 2 bytes holds its code point unsigned (an 8-bit element holds 0 to 255); an integer element is
   signed, and a value stored in it keeps its low bits (300 in 8 bits reads back as 44).

   Positions, lengths and /part counts are element counts, so the series actions of series! serve a
   vector as they are; those that read or write one element as a value (pick, poke, take, random) go
   through get_value and set_value.

   Rules: any routine may allocate unless it says otherwise; the cells it is given are read before it
   allocates, and a cell it writes after allocating must be fixed (on the data stack). An editing action
   checks every value and builds the elements it writes outside the series buffers before it changes
   anything, so that a value refused leaves the vector as it was. */
#pragma once

#include <cstdint>

#include "datatypes/integer.h"
#include "runtime/action_options.h"
#include "runtime/cell.h"

namespace oka::vector {

// Registers vector!; string! must be registered before.
void init();

// ---- elements ----

inline Type element_type(const Cell& vector) { return vector.element_type(); }
// The element size in bytes, the unit of the buffer. Never allocates.
uint32_t element_size(const Cell& vector);
// True for the element types whose elements are floats (float! and percent!).
constexpr bool floating_q(Type element) { return element == Type::Float || element == Type::Percent; }

// Makes `cell` an empty vector with room for `capacity` elements (1 when 0); a capacity whose bytes
// pass the 32-bit range raises internal no-memory.
Cell* make_at(Cell* cell, uint32_t capacity, Type element, uint32_t size);
// The element at an absolute index as a value of the element type, made in `out`. Never allocates.
Cell* get_value(const Cell& vector, uint32_t index, Cell* out);
// Stores the value over the element at an absolute index below the tail. A value of another type than
// the element type raises script invalid-arg. Never allocates.
void set_value(const Cell& vector, uint32_t index, const Cell& value);
// The bytes of a value as an element of the given type and size; a value of another type raises
// script invalid-arg. Never allocates.
void encode(Type element, uint32_t size, const Cell& value, uint8_t* out);

// Pushes a new block holding the elements from the head as values.
Cell* to_block(const Cell& vector);

// ---- arithmetic ----

// Every element from the head of the vector in the frame argument `vector_at` (0 or 1) becomes
// element op scalar, the scalar being the other argument, or scalar op element when the scalar is
// argument 0; the vector is changed in place and becomes the result. Integer elements wrap, char
// elements of 4 bytes must stay code points (else math overflow). A scalar that is no number raises
// internal not-done. The integer!, char! and float! math call it when their second argument is a vector.
void do_math_scalar(integer::MathOp op, int vector_at);

// ---- the actions written in other files ----

void do_math(integer::MathOp op);
void append(Cell* series, Cell* value, const EditOptions& options, bool append);
void change(Cell* series, Cell* value, const EditOptions& options);
const Cell* find(Cell* series, Cell* value, const FindOptions& options);
const Cell* select(Cell* series, Cell* value, const SelectOptions& options);
const Cell* sort(Cell* series, const SortOptions& options);

}  // namespace oka::vector
