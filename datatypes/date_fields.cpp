// The fields of date!, read and set through paths and pick: the date, its parts, its zone, its time
// and the parts of that, the weekday, the day of the year and the week numbers.
#include <cmath>

#include "datatypes/date_internal.h"
#include "datatypes/float.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/words.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"

namespace oka::date {

namespace {

Cell result;  // the answer of get_field, copied out by its callers at once

struct FieldName {
    Sym symbol;
    Field field;
};
constexpr FieldName kFieldNames[] = {
    {Sym::date, kDate},         {Sym::year, kYear},       {Sym::month, kMonth},     {Sym::day, kDay},
    {Sym::zone, kZone},         {Sym::time, kTime},       {Sym::hour, kHour},       {Sym::minute, kMinute},
    {Sym::second, kSecond},     {Sym::weekday, kWeekday}, {Sym::yearday, kYearday}, {Sym::julian, kYearday},
    {Sym::timezone, kTimezone}, {Sym::week, kWeek},       {Sym::isoweek, kIsoweek},
};

// The field a path element or pick index names: an integer, or a word compared case-insensitively;
// 0 for anything else.
int32_t field_index(const Cell& element) {
    if (element.is(Type::Integer)) return integer::get(element);
    if (!element.is(Type::Word)) return 0;
    for (const FieldName& name : kFieldNames)
        if (symbol::named_q(element.symbol(), name.symbol)) return name.field;
    return 0;
}

bool known_field_q(int32_t field) { return field >= kDate && field <= kIsoweek; }

// The weekday of 1 January counted from Sunday = 0: the offset of the weeks that start on Sunday.
int32_t sunday_offset(uint32_t word) { return weekday(year_start(word)) % 7; }

int32_t week(uint32_t word) {
    int32_t first = sunday_offset(word), day = year_day(word);
    return day <= 7 - first ? 1 : (day + first - 1) / 7 + 1;
}

void set_days(Cell* date, int64_t days) {
    date->set_date_word(days_to_date(days, zone_of(date->date_word()), time_q(date->date_word())));
}

// Month n of the date's year, counting on into the years around it; a day past the month's end
// carries into the next month.
void set_month(Cell* date, int32_t month) {
    int64_t months = int64_t(month) - 1;
    int64_t years = months / 12 - (months % 12 < 0);
    int32_t in_year = int32_t(months - years * 12) + 1;
    set_days(date, days_from(year_of(date->date_word()) + years, in_year, day_of(date->date_word())));
}

// The date part of another date, with its time flag; the zone stays.
void set_date(Cell* date, const Cell& value) {
    if (!value.is(Type::Date)) fire(Err::script_invalid_arg, &value);
    bool had_time = time_q(date->date_word());
    date->set_date_word((value.date_word() & ~kZoneBits) | zone_of(date->date_word()));
    if (!time_q(date->date_word()))
        date->set_time_slot(0.0);
    else if (!had_time)
        date->set_time_slot(-zone_offset(zone_of(date->date_word())));
}

// A zone from an integer of hours or a time; `keep_instant` keeps the moment the date stands for and
// moves its local date and time, otherwise the local time stays.
void set_zone(Cell* date, const Cell& value, bool keep_instant) {
    constexpr double kZoneLimit = 16 * 3600.0;  // what the zone bits hold
    bool west;
    int32_t hours, minutes = 0;
    if (value.is(Type::Integer)) {
        hours = integer::get(value);
        if (hours < -15 || hours > 15) fire(Err::script_invalid_arg, &value);
        west = hours < 0;
        hours = std::abs(hours);
    } else if (value.is(Type::Time)) {
        double seconds = time::get(value);
        if (!(std::fabs(seconds) < kZoneLimit)) fire(Err::script_invalid_arg, &value);
        west = seconds < 0;
        hours = time::get_hours(std::fabs(seconds));
        minutes = time::get_minutes(std::fabs(seconds));
    } else {
        fire(Err::script_invalid_arg, &value);
    }
    give_time(date);
    uint32_t zone = pack_zone(west, hours, minutes);
    double local = local_time(*date);
    date->set_date_word((date->date_word() & ~kZoneBits) | zone);
    if (keep_instant)
        normalize(date, slot_of(*date), false);
    else
        date->set_time_slot(local - zone_offset(zone));
}

// Sets the local time of day, or clears it with none.
void set_time(Cell* date, const Cell& value) {
    if (value.is(Type::None)) {
        date->set_date_word(date->date_word() & ~kTimeFlag);
        date->set_time_slot(0.0);
        return;
    }
    if (!value.is(Type::Time)) fire(Err::script_invalid_arg, &value);
    date->set_date_word(date->date_word() | kTimeFlag);
    normalize(date, time::get(value), true);
}

// The hour, minute or second of the local time, set as time! sets its own fields.
void set_time_part(Cell* date, int32_t field, Cell* value) {
    give_time(date);
    Cell local;
    time::make_at(&local, local_time(*date));
    Cell element;
    integer::make_at(&element, field - kTime);
    actions::call<Act::eval_path>(&local, &element, value, EvalPathOptions{});
    normalize(date, time::get(local), true);
}

void set_field(Cell* date, int32_t field, Cell* value) {
    bool counted = field == kYear || field == kMonth || field == kDay || field == kWeekday || field == kYearday ||
                   field == kWeek || field == kIsoweek;
    if (counted && !value->is(Type::Integer)) fire(Err::script_invalid_arg, value);
    int32_t n = counted ? integer::get(*value) : 0;
    uint32_t word = date->date_word();
    switch (field) {
    case kDate: set_date(date, *value); break;
    case kYear: set_days(date, days_from(n, month_of(word), day_of(word))); break;
    case kMonth: set_month(date, n); break;
    case kDay: set_days(date, days_from(year_of(word), month_of(word), 0) + n); break;
    case kZone: set_zone(date, *value, false); break;
    case kTimezone: set_zone(date, *value, true); break;
    case kTime: set_time(date, *value); break;
    case kHour:
    case kMinute:
    case kSecond: set_time_part(date, field, value); break;
    case kWeekday: set_weekday(date, n); break;
    case kYearday: set_yearday(date, n); break;
    case kWeek:
        set_days(date, n <= 1 ? year_start(word) : year_start(word) + (int64_t(n) - 1) * 7 - sunday_offset(word));
        break;
    default: set_isoweek(date, n); break;
    }
}

}  // namespace

double local_time(const Cell& date) {
    return time_q(date.date_word()) ? slot_of(date) + zone_offset(zone_of(date.date_word())) : 0.0;
}

void give_time(Cell* date) {
    if (time_q(date->date_word())) return;
    date->set_date_word(date->date_word() | kTimeFlag);
    date->set_time_slot(-zone_offset(zone_of(date->date_word())));
}

void normalize(Cell* date, double time, bool local) {
    uint32_t zone = zone_of(date->date_word());
    if (local) time -= zone_offset(zone);
    int64_t days = date_to_days(date->date_word());
    time = normalize_time(days, time, zone);
    set_days(date, days);
    date->set_time_slot(time);
}

const Cell* get_field(const Cell& date, int32_t field) {
    uint32_t word = date.date_word();
    double local = local_time(date);
    switch (field) {
    case kDate: {
        result = Cell::of(Type::Date).set_date_word(word & ~(kTimeFlag | kZoneBits));
        return &result;
    }
    case kYear: return integer::make_at(&result, year_of(word));
    case kMonth: return integer::make_at(&result, month_of(word));
    case kDay: return integer::make_at(&result, day_of(word));
    case kZone:
    case kTimezone: return time_q(word) ? time::make_at(&result, zone_offset(zone_of(word))) : &none::value;
    case kTime: return time_q(word) ? time::make_at(&result, local) : &none::value;
    case kHour: return integer::make_at(&result, time::get_hours(local));
    case kMinute: return integer::make_at(&result, time::get_minutes(local));
    case kSecond: return float_::make_at(&result, std::fmod(local, 60.0));
    case kWeekday: return integer::make_at(&result, weekday(date_to_days(word)));
    case kYearday: return integer::make_at(&result, year_day(word));
    case kWeek: return integer::make_at(&result, week(word));
    default: return integer::make_at(&result, isoweek(word));
    }
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    int32_t field = field_index(*element);
    if (!known_field_q(field)) fire(Err::script_invalid_path, step.path ? step.path : &none::value, element);
    if (!value) return get_field(*parent, field);
    // The path's evaluation stores the changed date back where it took it from, which tells an object
    // holding it of the change.
    set_field(parent, field, value);
    return value;
}

const Cell* pick(Cell* date, int32_t index, Cell* index_cell) {
    if (index_cell->is(Type::Word)) index = field_index(*index_cell);
    if (!known_field_q(index)) fire(Err::script_out_of_range, index_cell);
    return get_field(*date, index);
}

}  // namespace oka::date
