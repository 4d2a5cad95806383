/* time!: a signed duration in seconds, held as a double in payload words 2 and 3.

   time! is a child of float!: it takes float!'s comparison, absolute value, negation, remainder and
   random, and runs its arithmetic and rounding through float!'s, with a time! result; a time added
   to a date is the date's arithmetic (datatypes/date.h). Its fields are
   the hour (whole hours, rounded toward zero, so negative for a negative time), the minute (0 to 59)
   and the second (the rest below a minute, with the time's sign). */
#pragma once

#include "runtime/stack.h"

namespace oka::time {

void init();

inline double get(const Cell& cell) { return cell.f64(); }

inline Cell* make_at(Cell* cell, double seconds) {
    *cell = Cell::of(Type::Time).set_f64(seconds);
    return cell;
}
inline Cell* push(double seconds) { return make_at(stack::push_next(), seconds); }
Cell* make_in(const Cell& block, double seconds);

// The hour and minute fields; an hour beyond the 32-bit range, or a NaN time, raises math overflow.
int32_t get_hours(double seconds);
int32_t get_minutes(double seconds);

// The time as its text shows it: the seconds field has six digits, in which 59.9999999 reads 60, so
// such a time shows as the next whole minute instead of 0:00:60.
double as_shown(double seconds);

// Appends the text of a time, as "1:30:00", "-0:00:01.5" or "25:00:00", to the string `buffer`;
// returns the part budget left.
int32_t format(double seconds, Cell* buffer, int32_t part);

}  // namespace oka::time
