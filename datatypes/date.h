/* date!: a day of the proleptic Gregorian calendar, optionally with a time of day and a zone.

       word 1     the packed date word: year (bits 17-31, signed), time flag (bit 16), month (12-15),
                  day (7-11), zone (0-6: bit 6 set west of UTC, bits 2-5 whole hours, bits 0-1
                  quarter hours)
       words 2-3  the time slot, a double: the local time of day minus the zone's offset

   Rules:
   - Year, month and day are the local date, in the value's own zone. With the time flag the local
     time (time slot + offset) lies in 0 <= local < 86400 once normalised; the slot itself may be
     negative or reach a day and more. Without the time flag the slot is 0; the zone bits may still
     hold the zone the value had, which text and comparison ignore and a time set again brings back.
   - All calendar arithmetic goes through day numbers: day 0 is 1 March of year 0, days before it are
     negative. The divisions round toward minus infinity, so every year from -16384 to 16383 converts
     both ways. A result outside that range of years raises script type-limit with date!.
   - Nothing here keeps a cell across an allocation; the answers of make, to, eval-path and pick lie
     in one static cell that the dispatcher copies out at once. */
#pragma once

#include <cstdint>

#include "datatypes/integer.h"
#include "runtime/cell.h"

namespace oka::date {

inline constexpr uint32_t kTimeFlag = 1u << 16;
inline constexpr uint32_t kZoneBits = 0x7F;
inline constexpr uint32_t kZoneWest = 0x40;
inline constexpr int32_t kDaySeconds = 86400;
inline constexpr int32_t kLowestYear = -16384;
inline constexpr int32_t kHighestYear = 16383;
// The day number of 1 January 1970, the start of the seconds of `to integer!` and `to date!`.
inline constexpr int64_t kEpoch = 719468;

void init();

// ---- the packed word ----

inline int32_t year_of(uint32_t word) { return int32_t(word) >> 17; }
inline int32_t month_of(uint32_t word) { return int32_t(word >> 12 & 15); }
inline int32_t day_of(uint32_t word) { return int32_t(word >> 7 & 31); }
inline uint32_t zone_of(uint32_t word) { return word & kZoneBits; }
inline bool time_q(uint32_t word) { return word & kTimeFlag; }

// The zone bits of an offset west (negative) or east of UTC; hours 0 to 15, minutes 0 to 59, counted
// in whole quarter hours.
uint32_t pack_zone(bool west, int32_t hours, int32_t minutes);
// The zone's offset from UTC in seconds.
int32_t zone_offset(uint32_t zone);

// ---- the calendar ----

bool leap_year_q(int64_t year);
// The day number of a day of a month; a day or month outside its range counts on from the start of the
// month (day 0 is the last day of the month before).
int64_t days_from(int64_t year, int32_t month, int64_t day);
inline int64_t date_to_days(uint32_t word) { return days_from(year_of(word), month_of(word), day_of(word)); }
// The packed word of a day number with the given zone bits and time flag; raises script type-limit
// when its year lies beyond the range a word holds.
uint32_t days_to_date(int64_t days, uint32_t zone, bool time);
// 1 = Monday ... 7 = Sunday.
int32_t weekday(int64_t days);
int64_t year_start(uint32_t word);
// 1 to 366.
int32_t year_day(uint32_t word);
// Carries whole days out of a time slot: afterwards 0 <= slot + the zone's offset < 86400, and `days`
// counts the days carried. Raises script type-limit for a slot that is not finite.
double normalize_time(int64_t& days, double time, uint32_t zone);

// ---- cells ----

inline uint32_t word_of(const Cell& date) { return date.date_word(); }
inline double slot_of(const Cell& date) { return date.time_slot(); }

// Fills the cell with a date, keeping its header bits other than the type (the lexer's new-line mark).
// With `time`, `local` is the local time of day in the zone; without it the time flag is clear and the
// slot 0. No range check and no day carry: the lexer has checked the fields.
Cell* make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double local, uint32_t zone, bool time);

// Moves a date to the Monday of ISO week n of its year, to weekday n (1 = Monday) of its week, or to day
// n of its year; zone, time flag and time slot stay.
void set_isoweek(Cell* date, int32_t week);
void set_weekday(Cell* date, int32_t day);
void set_yearday(Cell* date, int32_t day);
// The ISO 8601 week number of the date.
int32_t isoweek(uint32_t word);

// The seconds since 1970-01-01 UTC, the time slot rounded to the nearest second (halves up).
int64_t to_epoch(const Cell& date);

// The date math of the current frame, the date in the result slot and the other operand after it: a
// date plus or minus days (integer!) or a time! is a date; a date minus a date the integer! count of
// whole days between them.
void do_math(integer::MathOp op);
// A number of days or a time! added to a date, the date coming second in the current frame: the two
// change places and the date math adds.
void add_swapped();
// The time! between the two dates of the current frame, in its result slot.
void difference();

// The fields by number, as paths, pick and `now` read them.
enum Field : int32_t {
    kDate = 1,
    kYear,
    kMonth,
    kDay,
    kZone,
    kTime,
    kHour,
    kMinute,
    kSecond,
    kWeekday,
    kYearday,
    kTimezone,
    kWeek,
    kIsoweek,
};
// The field's value, in a cell that stays valid until the next call.
const Cell* get_field(const Cell& date, int32_t field);

}  // namespace oka::date
