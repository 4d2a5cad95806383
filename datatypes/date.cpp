#include "datatypes/date.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date_internal.h"
#include "datatypes/float.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system_objects.h"
#include "datatypes/time.h"
#include "datatypes/unset.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/random.h"
#include "runtime/registry.h"
#include "runtime/types.h"

namespace oka::date {

namespace {

Cell result;  // the answer of make and to, copied out by the dispatcher at once

[[noreturn]] void refuse(const Cell* spec) { error::fire_on_type(Err::script_bad_to_arg, Type::Date, spec); }

// ---- make and to from a block ----

// Where an element of the block goes: the three numbers of the date, then the time of day as an hour
// and minute (and seconds) or as a time, then the zone as hours (and minutes) or as a time.
enum Slot : uint8_t {
    kFirst,
    kMonth,
    kThird,
    kHour,
    kTimeOfDay,
    kZoneHours,
    kZoneTime,
    kZoneMinutes,
    kMinute,
    kSeconds,
    kSlotCount
};

struct Transition {
    int8_t next;  // -1: the element is not allowed there
    Slot slot;
};
constexpr Transition kNo{-1, kFirst};

// By state, what an integer!, a time! and a float! lead to.
constexpr Transition kStates[][3] = {
    {{1, kFirst}, kNo, kNo},
    {{2, kMonth}, kNo, kNo},
    {{3, kThird}, kNo, kNo},
    {{8, kHour}, {4, kTimeOfDay}, kNo},
    {{6, kZoneHours}, {5, kZoneTime}, kNo},
    {kNo, kNo, kNo},
    {{7, kZoneMinutes}, kNo, kNo},
    {kNo, kNo, kNo},
    {{9, kMinute}, kNo, kNo},
    {{10, kSeconds}, kNo, {10, kSeconds}},
    {{12, kZoneHours}, {11, kZoneTime}, kNo},
    {kNo, kNo, kNo},
    {{13, kZoneMinutes}, kNo, kNo},
    {kNo, kNo, kNo},
};

struct BlockDate {
    double slots[kSlotCount] = {};
    bool given[kSlotCount] = {};
    int32_t count = 0;
};

int32_t element_kind(const Cell& element) {
    switch (element.type()) {
    case Type::Integer: return 0;
    case Type::Time: return 1;
    case Type::Float: return 2;
    default: return -1;
    }
}

BlockDate read_block(Cell* spec) {
    BlockDate parts;
    uint32_t length = series::rs_length_q(*spec);
    BufPtr<Cell> cells = block::rs_head(spec);
    int32_t state = 0;
    for (uint32_t i = 0; i < length; i++) {
        int32_t kind = element_kind(cells[i]);
        Transition go = kind < 0 ? kNo : kStates[state][kind];
        if (go.next < 0) refuse(spec);
        parts.slots[go.slot] = kind == 0 ? integer::get(cells[i]) : cells[i].f64();
        parts.given[go.slot] = true;
        state = go.next;
    }
    parts.count = int32_t(length);
    if (length < 3) refuse(spec);
    return parts;
}

// The zone of the block: hours and minutes, or a time; the zone bits hold up to 15 hours 45.
uint32_t block_zone(const BlockDate& parts, Cell* spec) {
    if (parts.given[kZoneTime]) {
        double zone = parts.slots[kZoneTime];
        if (!(std::fabs(zone) < 16 * 3600.0)) refuse(spec);
        return pack_zone(zone < 0, time::get_hours(std::fabs(zone)), time::get_minutes(std::fabs(zone)));
    }
    double hours = parts.slots[kZoneHours], minutes = parts.slots[kZoneMinutes];
    if (std::fabs(hours) > 15 || minutes < 0 || minutes > 59) refuse(spec);
    return pack_zone(hours < 0, int32_t(std::fabs(hours)), int32_t(minutes));
}

// Every field given lies in its range: the date is a day of the calendar and the time one of the day.
bool valid_q(const BlockDate& parts, uint32_t word, int32_t day, int32_t month, int32_t year) {
    if (day_of(word) != day || month_of(word) != month || year_of(word) != year) return false;
    if (parts.given[kTimeOfDay]) return parts.slots[kTimeOfDay] >= 0 && parts.slots[kTimeOfDay] < kDaySeconds;
    double seconds = parts.slots[kSeconds];
    return parts.slots[kHour] >= 0 && parts.slots[kHour] <= 23 && parts.slots[kMinute] >= 0 &&
           parts.slots[kMinute] <= 59 && seconds >= 0 && seconds < 60;
}

// [day month year], or [year month day] when the first number is a year beyond the last, then an
// optional time of day and zone. `make` checks every field (31 February is an error); `to` lets days,
// months and times count on (31 February is 2 March).
const Cell* from_block(Cell* spec, bool validate) {
    BlockDate parts = read_block(spec);
    double first = parts.slots[kFirst], third = parts.slots[kThird];
    if (first >= 100 && first > third) std::swap(first, third);
    int64_t day = int64_t(first), month = int64_t(parts.slots[kMonth]), year = int64_t(third);
    uint32_t zone = block_zone(parts, spec);
    double time_of_day = parts.given[kTimeOfDay]
                             ? parts.slots[kTimeOfDay]
                             : parts.slots[kHour] * 3600 + parts.slots[kMinute] * 60 + parts.slots[kSeconds];
    int64_t months = month - 1;
    int64_t years = months / 12 - (months % 12 < 0);
    int64_t days = days_from(year + years, int32_t(months - years * 12) + 1, 0) + day;
    double slot = normalize_time(days, time_of_day, 0);
    result = Cell::of(Type::Date).set_date_word(days_to_date(days, 0, parts.count > 3));
    result.set_time_slot(slot);
    if (validate && !valid_q(parts, result.date_word(), int32_t(day), int32_t(month), int32_t(year))) refuse(spec);
    result.set_date_word(result.date_word() | zone);
    normalize(&result, slot, true);
    return &result;
}

const Cell* make(Cell*, Cell* spec, Type) {
    if (spec->is(Type::Date)) return spec;
    if (!spec->is(Type::Block) && !spec->is(Type::Paren) && !spec->is(Type::Hash)) refuse(spec);
    return from_block(spec, true);
}

// Seconds since 1970-01-01 UTC: the date in zone 0 with its time.
const Cell* from_epoch(int32_t seconds) {
    result = Cell::of(Type::Date).set_date_word(days_to_date(kEpoch + seconds / kDaySeconds, 0, true));
    normalize(&result, seconds % kDaySeconds, false);
    return &result;
}

const Cell* to(Cell*, Cell* spec, Type) {
    switch (spec->type()) {
    case Type::Date: return spec;
    case Type::Integer: return from_epoch(integer::get(*spec));
    case Type::Block:
    case Type::Paren:
    case Type::Hash: return from_block(spec, false);
    default: refuse(spec);
    }
}

// ---- text ----

// The name of a month: its entry in system/locale/months, which must be a string.
Cell month_name(int32_t month) {
    Cell names = object::field_of(system_objects::references.locale, "months");
    if (!is_a(names.type(), TypeClass::any_block) || uint32_t(month) > series::rs_length_q(names) || month < 1)
        fire(Err::script_invalid_months);
    Cell name = block::rs_head(&names)[month - 1];
    if (!name.is(Type::String)) fire(Err::script_invalid_months);
    return name;
}

// The year with at least four digits below 100 either side of zero, so that it never reads as a year
// of the current century.
const char* year_text(int32_t year) {
    static char text[16];
    std::snprintf(text, sizeof text, "%s%0*d", year < 0 ? "-" : "", std::abs(year) < 100 ? 4 : 1, std::abs(year));
    return text;
}

// 1-Jan-2020, 5/Mar/-0044, 1-Jan-2020/10:30:00+05:30.
int32_t mold(Cell* value, Cell* buffer, const MoldOptions&, int32_t part, int32_t) {
    uint32_t word = value->date_word();
    // A time a hair short of midnight shows as the next day's 0:00:00, which loads back.
    double local = time::as_shown(local_time(*value));
    if (local >= kDaySeconds) {
        word = days_to_date(date_to_days(word) + 1, zone_of(word), true);
        local -= kDaySeconds;
    }
    const char* separator = year_of(word) < 0 ? "/" : "-";
    char text[32];
    std::snprintf(text, sizeof text, "%d%s", day_of(word), separator);
    part = string::write_token(buffer, text, false, part);
    Cell name = month_name(month_of(word));
    string::concatenate(*buffer, name, 3, 0, string::Mode::append);
    part -= int32_t(std::min<uint32_t>(3, series::rs_length_q(name)));
    std::snprintf(text, sizeof text, "%s%s%s", separator, year_text(year_of(word)), time_q(word) ? "/" : "");
    part = string::write_token(buffer, text, false, part);
    if (!time_q(word)) return part;
    part = time::format(local, buffer, part);
    uint32_t zone = zone_of(word);
    if (zone == 0) return part;
    std::snprintf(text, sizeof text, "%c%02d:%02d", zone & kZoneWest ? '-' : '+', int32_t(zone >> 2 & 15),
                  int32_t(zone & 3) * 15);
    return string::write_token(buffer, text, false, part);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) { return mold(value, buffer, MoldOptions{}, part, 0); }

// ---- comparison ----

// The local date without zone or time flag, ordered as the calendar orders it.
int32_t key_of(const Cell& date) { return int32_t(date.date_word() & ~kTimeFlag) >> 7; }

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Date)) return kNotComparable;
    int32_t key1 = key_of(*value1), key2 = key_of(*value2);
    double slot1 = slot_of(*value1), slot2 = slot_of(*value2);
    if (op == kCompareSame)
        return key1 == key2 && std::bit_cast<uint64_t>(slot1) == std::bit_cast<uint64_t>(slot2) ? 0 : 1;
    bool same = key1 == key2 && float_::almost_equal_q(slot1, slot2);
    switch (op) {
    case kCompareEqual:
    case kCompareNotEqual:
    case kCompareStrictEqual:
    case kCompareFind: return same ? 0 : 1;
    default:
        if (same) return 0;
        if (key1 != key2) return key1 < key2 ? -1 : 1;
        return slot1 < slot2 ? -1 : slot1 > slot2 ? 1 : 0;
    }
}

// ---- random ----

// A day from the first of the calendar to the date; a date with time gets a random zone and time.
void random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        oka::random::seed(value->date_word() + uint32_t(int64_t(std::trunc(slot_of(*value)))));
        unset::box();
        return;
    }
    uint32_t word = value->date_word();
    int32_t drawn = oka::random::int_(secure, int32_t(date_to_days(word)));
    value->set_date_word(days_to_date(int64_t(drawn) - 1, zone_of(word), time_q(word)));
    if (!time_q(word)) return;
    value->set_date_word((value->date_word() & ~kZoneBits) | (uint32_t(oka::random::next()) & kZoneBits));
    double hour_share;
    if (secure) {
        double low = oka::random::next_secure(), high = oka::random::next_secure();
        hour_share = (low / 2147483647.0 + high) / (2147483648.0 / 3600.0);
    } else {
        hour_share = oka::random::next() / 2147483647.0 * 3600.0;
    }
    normalize(value, std::floor(hour_share) / 3600 * kDaySeconds, true);
}

// ---- math ----

template <integer::MathOp Op>
void math() {
    date::do_math(Op);
}

}  // namespace

void init() {
    datatype::register_(Type::Date, {
                                        implements<Act::make>(make),
                                        implements<Act::random>(random),
                                        implements<Act::to>(to),
                                        implements<Act::form>(form),
                                        implements<Act::mold>(mold),
                                        implements<Act::eval_path>(eval_path),
                                        implements<Act::compare>(compare),
                                        implements<Act::add>(math<integer::MathOp::add>),
                                        implements<Act::subtract>(math<integer::MathOp::subtract>),
                                        implements<Act::pick>(pick),
                                    });
}

Cell* make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double local, uint32_t zone, bool time) {
    cell->set_type(Type::Date);
    cell->set_date_word(uint32_t(year) << 17 | uint32_t(month & 15) << 12 | uint32_t(day & 31) << 7 |
                        (time ? kTimeFlag | zone : 0));
    cell->set_time_slot(time ? local - zone_offset(zone) : 0.0);
    return cell;
}

void do_math(integer::MathOp op) {
    Cell* date = stack::arguments();
    const Cell& operand = date[1];
    bool subtract = op == integer::MathOp::subtract;
    if (operand.is(Type::Date)) {
        if (!subtract) error::fire_on_action(Err::script_not_related, Type::Date);
        // The days from one local date to the other, less one when the local time of day of the first
        // is earlier than that of the second.
        int64_t days = date_to_days(date->date_word()) - date_to_days(operand.date_word());
        normalize_time(days, local_time(*date) - local_time(operand), 0);
        integer::box(int32_t(days));
        return;
    }
    int64_t days = 0;
    double seconds = 0;
    if (operand.is(Type::Integer)) {
        days = integer::get(operand);
    } else if (operand.is(Type::Time)) {
        seconds = time::get(operand);
        give_time(date);
    } else {
        error::fire_on_type(Err::script_invalid_type, operand.type());
    }
    int64_t total = date_to_days(date->date_word()) + (subtract ? -days : days);
    double time = normalize_time(total, slot_of(*date) + (subtract ? -seconds : seconds), zone_of(date->date_word()));
    date->set_date_word(days_to_date(total, zone_of(date->date_word()), time_q(date->date_word())));
    date->set_time_slot(time);
}

void add_swapped() {
    Cell* args = stack::arguments();
    std::swap(args[0], args[1]);
    date::do_math(integer::MathOp::add);
}

void difference() {
    Cell* dates = stack::arguments();
    double days = double(date_to_days(dates[0].date_word()) - date_to_days(dates[1].date_word()));
    time::make_at(dates, days * kDaySeconds + (slot_of(dates[0]) - slot_of(dates[1])));
}

}  // namespace oka::date
