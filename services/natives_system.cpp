// The natives that ask the operating system: now, the date and time of the clock in the local zone or
// in UTC.
#include "datatypes/date.h"
#include "datatypes/integer.h"
#include "evaluator/natives.h"
#include "evaluator/refinements.h"
#include "platform/os.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace oka::natives {

namespace {

using NowName = RefinementName<now_slot>;

// The refinements that choose what now answers: at most one of them, but time with precise.
constexpr NowName kChoices[] = {"year", "month", "day", "zone", "time", "date", "weekday", "yearday", "precise"};

// The refinements that answer one field of the date (field 0: the day of the year).
struct Pick {
    NowName refinement;
    int32_t field;
};
constexpr Pick kPicks[] = {
    {"year", date::kYear}, {"month", date::kMonth},     {"day", date::kDay}, {"zone", date::kZone},
    {"time", date::kTime}, {"weekday", date::kWeekday}, {"yearday", 0},
};

}  // namespace

void now_s(const int32_t* positions) {
    Refinements<now_slot> refinements(positions);
    bool precise = refinements.given("precise");
    int32_t given = 0;
    for (NowName choice : kChoices) given += refinements.given(choice);
    if (given > 1 && !(given == 2 && precise && refinements.given("time"))) fire(Err::script_bad_refines);
    platform::Calendar clock = platform::read_calendar(refinements.given("utc"), precise);
    Cell* result = stack::arguments();
    *result = Cell{uint8_t(Type::Date), clock.date, 0, 0};
    if (refinements.given("date")) {
        result->data1 &= ~(date::kTimeFlag | date::kZoneBits);
        return;
    }
    // The zone holds the offset to the quarter hour: the moment is kept, the time of day follows it.
    int64_t days = date::date_to_days(clock.date);
    double slot = date::normalize_time(days, clock.seconds - clock.offset, date::zone_of(clock.date));
    result->data1 = date::days_to_date(days, date::zone_of(clock.date), true);
    result->set_f64(slot);
    for (const Pick& pick : kPicks) {
        if (!refinements.given(pick.refinement)) continue;
        if (pick.field)
            stack::set_last(*date::get_field(*result, pick.field));
        else
            integer::box(date::year_day(result->data1));
        return;
    }
}

}  // namespace oka::natives
