/* What the files of money! share: a money value taken apart, and the currency list.

   Rules: a Money's magnitude is exact, in hundred-thousandths of the unit, and always below kLimit;
   every money cell is written through `write`, which packs the digits and keeps a zero unsigned. */
#pragma once

#include "datatypes/money.h"
#include "runtime/action_options.h"

namespace oka::money {

// A magnitude in hundred-thousandths: 22 decimal digits need 74 bits.
using Units = unsigned __int128;

inline constexpr Units kUnitsPerWhole = 100000;                         // 5 decimals
inline constexpr Units kLimit = Units(10000000000000000000ull) * 1000;  // 10^22: 17 whole digits and 5 decimals

struct Money {
    Units units = 0;
    bool negative = false;
    uint8_t currency = 0;  // 0: none, else the 1-based position in the currency list

    int32_t sign() const { return units == 0 ? 0 : negative ? -1 : 1; }
};

Money read(const Cell& cell);
// Makes `cell` the money value; the magnitude must be below kLimit.
Cell* write(Cell* cell, const Money& money);

inline Money integer_money(int32_t n) { return {Units(n < 0 ? -int64_t(n) : int64_t(n)) * kUnitsPerWhole, n < 0, 0}; }

// True for a float that no amount can equal: NaN, a magnitude of 1e17 or more (the infinities too), or
// a non-zero magnitude below 1e-5, the smallest amount.
inline bool float_outside_q(double f) {
    double magnitude = f < 0 ? -f : f;
    return !(magnitude < 1e17) || (magnitude != 0.0 && magnitude < 1e-5);
}

// The word at a position of the currency list, or none when the list holds no word there (position 0
// among them).
Cell currency_word(uint8_t index);

// money!'s actions of comparison and rounding, and the unary ones (money_math.cpp).
int32_t compare(Cell* value1, Cell* value2, int32_t op);
void absolute();
void negate(Cell* value);
void round(Cell* value, const RoundOptions& options);
bool even_q(Cell* value);
bool odd_q(Cell* value);
void random(Cell* value, bool seed, bool secure, bool only);

}  // namespace oka::money
