/* money!: an exact decimal amount of 17 whole digits and 5 decimals, with a sign and an optional
   currency, written $12.50, -EUR$1'000.00 or USD$0.00001.

   The cell: header bit 14 is the sign, never set on a zero amount; payload byte 0 (the cell's byte 4)
   is the currency, 0 for none, else the 1-based position of its code in
   system/locale/currencies/list; payload bytes 1 to 11 hold the magnitude as 22 packed decimal
   digits, most significant first, the high nibble of each byte before its low one. Serialised money
   keeps these bytes as they stand, so their layout never changes.

   Rules:
   - Arithmetic reads both operands, computes the exact result and only then writes it: an operand is
     never changed, and an error leaves every value as it was. Decimals beyond the fifth are dropped
     (truncated toward zero). A result beyond 17 whole digits, and a product or quotient of non-zero
     amounts that truncates to zero, raise script type-limit with money!.
   - A float becomes money through its shortest decimal text, the digits it molds as (0.1 is $0.10000).
     The strict conversions (to, make, comparison, round's scale) refuse a float of more than 5
     decimals; the math drops them.
   - Currency codes match with the letter case of ASCII letters ignored. A code beyond position 255 of
     the list, which a value cannot hold, is unknown. A value whose position no longer holds a word of
     the list shows no code.
   - Text: the decimals shown are those that system/options/money-digits asks for (2 when it is not an
     integer!, 5 at most), truncated; mold/all shows all five and reads back as the same value; form
     groups the whole digits by thousands with "'". */
#pragma once

#include <string_view>

#include "datatypes/integer.h"

namespace oka::money {

// The header bit of a negative amount.
inline constexpr uint32_t kSignBit = 1u << 14;

void init();

// -1, 0 or 1 as the amount is negative, zero or positive.
int32_t sign_q(const Cell& money);

// Makes `cell` the money value of the parts of a money text: the sign, the currency code (three letters,
// or empty for none) and the digits before and after the decimal point. False, the cell left as it
// was, when the code is not in the currency list, or the amount has more than 17 whole digits (leading
// zeros aside) or more than 5 decimals. Never allocates.
bool make_at(Cell* cell, bool negative, std::string_view currency, std::string_view whole, std::string_view fraction);

// The amount of an integer, exactly, without currency.
Cell* from_integer(Cell* cell, int32_t n);
// The amount of a float without currency; script bad-make-arg with money! and the float for NaN, the
// infinities, magnitudes of 1e17 or more and non-zero magnitudes below 1e-5, and when `strict` for a
// float of more than 5 decimals.
Cell* from_float(Cell* cell, double f, bool strict);

// as-money: the amount (an integer! or float!; a float's decimals beyond the fifth are dropped) in the
// currency a word names; script bad-denom for a currency not in the list. `cell` may be either argument.
Cell* as_money(Cell* cell, const Cell& currency, const Cell& amount);

// The whole part, truncated toward zero; script type-limit with integer! beyond the 32-bit range.
int32_t to_integer(const Cell& money);
// The nearest double to the amount.
double to_float(const Cell& money);

// The body of the math actions when an integer!, float! or percent! meets a money! on the right, and
// of money!'s own: the left operand in the result slot, the right one after it; the result replaces
// the left. A money result takes the right operand's currency, or the left one's when the right has
// none; a money divided by a money is the float! ratio of the truncated quotient.
void do_math(integer::MathOp op);

// The compare action of a number (integer!, float!, percent!) with a money! on the right.
int32_t compare_number(Cell* number, Cell* money, int32_t op);

}  // namespace oka::money
