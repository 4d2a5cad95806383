// The natives that ask the operating system: now, the date and time of the clock in the local zone or
// in UTC; get-env and set-env, the variables of the environment.
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/date.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/natives.h"
#include "evaluator/refinements.h"
#include "platform/os.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/types.h"

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

// The text of a variable's name or value: a word's spelling, or a text from its head, as UTF-8.
std::string text_of(const Cell& value) {
    if (is_a(value.type(), TypeClass::any_word)) return std::string(symbol::name(value.data2));
    return binary::utf8_of(value);
}

bool holds_nul(const std::string& text) { return text.find('\0') != text.npos; }

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

// A variable that is not set, or whose name no variable can have, gives none.
void get_env_s(const int32_t*) {
    std::string name = text_of(*stack::arguments());
    const char* value = holds_nul(name) ? nullptr : platform::get_env(name.c_str());
    if (!value)
        none::box();
    else
        stack::set_last(*string::load_utf8_checked(reinterpret_cast<const uint8_t*>(value), uint32_t(strlen(value))));
}

// Sets the variable to a string, or removes it for none. A name that the system refuses (empty, or
// holding "=") and a text holding NUL, which would cut it short, raise script invalid-arg.
void set_env_s(const int32_t*) {
    Cell* var = stack::arguments();
    Cell* value = var + 1;
    std::string name = text_of(*var);
    if (holds_nul(name)) fire(Err::script_invalid_arg, var);
    std::string text = value->is(Type::None) ? std::string() : text_of(*value);
    if (holds_nul(text)) fire(Err::script_invalid_arg, value);
    if (!platform::set_env(name.c_str(), value->is(Type::None) ? nullptr : text.c_str()))
        fire(Err::script_invalid_arg, var);
    stack::set_last(*value);
}

}  // namespace oka::natives
