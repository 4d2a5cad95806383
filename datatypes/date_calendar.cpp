// The calendar of date!: day numbers, zones, weeks and the carrying of days out of a time slot.
#include <cmath>

#include "datatypes/date.h"
#include "runtime/error.h"

namespace oka::date {

namespace {

constexpr int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }
constexpr int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// The days before year y of the calendar whose years start on 1 March.
constexpr int64_t days_before(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

// More days than lie between the first and the last day a word holds.
constexpr double kLongestCarry = 2.0 * 366 * (kHighestYear - kLowestYear + 1);

[[noreturn]] void out_of_range() { error::fire_on_type(Err::script_type_limit, Type::Date); }

// The Monday of ISO week 1 of a year; `first` receives the weekday of its 1 January.
int64_t week1_start(int64_t year, int32_t& first) {
    int64_t start = days_from(year, 1, 1);
    first = weekday(start);
    return first <= 4 ? start + 1 - first : start + 8 - first;
}

}  // namespace

uint32_t pack_zone(bool west, int32_t hours, int32_t minutes) {
    return (west ? kZoneWest : 0) | uint32_t(hours) << 2 | uint32_t(minutes / 15);
}

int32_t zone_offset(uint32_t zone) {
    int32_t seconds = int32_t(zone >> 2 & 15) * 3600 + int32_t(zone & 3) * 900;
    return zone & kZoneWest ? -seconds : seconds;
}

bool leap_year_q(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t days_from(int64_t year, int32_t month, int64_t day) {
    int64_t m = (month + 9) % 12;
    int64_t y = year - m / 10;
    return days_before(y) + (m * 306 + 5) / 10 + (day - 1);
}

uint32_t days_to_date(int64_t days, uint32_t zone, bool time) {
    // Far beyond the years a word holds the estimate below would lose its precision.
    if (days < days_from(kLowestYear, 1, 1) || days > days_from(kHighestYear, 12, 31)) out_of_range();
    int64_t y = int64_t(std::floor((10000.0 * double(days) + 14780.0) / 3652425.0));
    int64_t ddd = days - days_before(y);
    if (ddd < 0) ddd = days - days_before(--y);
    int64_t mi = (100 * ddd + 52) / 3060;
    int64_t year = y + (mi + 2) / 12;
    int64_t month = (mi + 2) % 12 + 1;
    int64_t day = ddd - (mi * 306 + 5) / 10 + 1;
    return uint32_t(year) << 17 | uint32_t(month) << 12 | uint32_t(day) << 7 | (time ? kTimeFlag : 0) |
           (zone & kZoneBits);
}

int32_t weekday(int64_t days) { return int32_t(floor_mod(days + 2, 7)) + 1; }

int64_t year_start(uint32_t word) { return days_from(year_of(word), 1, 1); }

int32_t year_day(uint32_t word) { return int32_t(date_to_days(word) - year_start(word)) + 1; }

double normalize_time(int64_t& days, double time, uint32_t zone) {
    if (!std::isfinite(time)) out_of_range();
    double local = time + zone_offset(zone);
    double carried = std::floor(local / kDaySeconds);
    // The division may round a local time just short of a day boundary over it, or the other way.
    if (local - carried * kDaySeconds >= kDaySeconds) carried++;
    if (local - carried * kDaySeconds < 0) carried--;
    if (std::fabs(carried) > kLongestCarry) out_of_range();
    days += int64_t(carried);
    return time - carried * kDaySeconds;
}

int32_t isoweek(uint32_t word) {
    int64_t days = date_to_days(word);
    int32_t first;
    int64_t start = week1_start(year_of(word), first);
    if (days >= start) {
        int32_t next_first;
        int64_t next = week1_start(year_of(word) + 1, next_first);
        return days < next ? int32_t((days - start) / 7) + 1 : 1;
    }
    // The days before week 1 belong to the last week of the year before.
    if (first == 5) return 53;
    if (first == 6) return leap_year_q(year_of(word) - 1) ? 53 : 52;
    return 52;
}

void set_isoweek(Cell* date, int32_t week) {
    int32_t first;
    int64_t days = week1_start(year_of(date->date_word()), first) + (int64_t(week) - 1) * 7;
    date->set_date_word(days_to_date(days, zone_of(date->date_word()), time_q(date->date_word())));
}

void set_weekday(Cell* date, int32_t day) {
    int64_t days = date_to_days(date->date_word());
    days += int64_t(day) - weekday(days);
    date->set_date_word(days_to_date(days, zone_of(date->date_word()), time_q(date->date_word())));
}

void set_yearday(Cell* date, int32_t day) {
    int64_t days = year_start(date->date_word()) + int64_t(day) - 1;
    date->set_date_word(days_to_date(days, zone_of(date->date_word()), time_q(date->date_word())));
}

int64_t to_epoch(const Cell& date) {
    return (date_to_days(date.date_word()) - kEpoch) * kDaySeconds + int64_t(std::floor(slot_of(date) + 0.5));
}

}  // namespace oka::date
