/* The checks that the OKABIN readers make on the payloads of values before they make them, and the
   few constructors they share: a value made from data must keep its datatype's rules (a code point in
   range, a real calendar day, digits in a money amount, an element type a vector may have), since
   every other routine relies on them.

   Rules: the checks read raw bytes of the data and never allocate; the constructors allocate. */
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace oka::okabin {

// True when `count` units of `unit` bytes are code points a string may hold (no surrogate, none above
// 10FFFFh).
bool code_points_q(const uint8_t* units, uint32_t count, uint32_t unit);
// Copies `bytes` bytes into a new buffer's data and sets its tail; returns the node.
Node fill_series(Node node, const uint8_t* bytes, uint32_t length);

// The element types and sizes a vector may have, and elements that are values of the type.
bool vector_element_q(Type element, uint32_t size);
bool vector_elements_q(Type element, uint32_t size, const uint8_t* bytes, uint32_t count);
// Appends a new vector of `count` elements to a block.
void append_vector(Node block, uint32_t header, uint32_t head, Type element, uint32_t size, const uint8_t* bytes,
                   uint32_t count);

// A date whose word names a day of the calendar, with a finite time that is 0 without the time flag.
bool date_q(const Cell& date);
// Eleven bytes of packed decimal digits after the currency byte.
bool money_digits_q(const uint8_t* twelve_bytes);
bool money_zero_q(const Cell& money);

// The codes of the error catalogue, and an error's code.
bool error_code_q(uint32_t code);
uint32_t error_code_of(const Cell& error);

bool bitset_negated_q(const Cell& bitset);

}  // namespace oka::okabin
