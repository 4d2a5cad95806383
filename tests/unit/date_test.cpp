// date!: the calendar on day numbers against a count of the calendar's days, the text of dates loading
// back to equal dates, and now against the clock in zones east and west of UTC.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <random>
#include <string>

#include "datatypes/date.h"
#include "datatypes/time.h"
#include "evaluator/lexer.h"
#include "natives_testing.h"
#include "platform/os.h"
#include "services/natives.h"

using namespace oka;

namespace {

int32_t month_length(int32_t year, int32_t month) {
    constexpr int32_t kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kLengths[month - 1];
}

// Sets TZ for the life of a scope.
class ScopedZone {
public:
    explicit ScopedZone(const char* rule) {
        if (const char* old = platform::get_env("TZ")) old_ = old;
        platform::set_env("TZ", rule);
    }
    ~ScopedZone() {
        platform::set_env("TZ", old_.empty() ? nullptr : old_.c_str());
        tzset();
    }

private:
    std::string old_;
};

class DateText : public test::CodeTest {};

}  // namespace

// Every day of the years -9999 to 9999, counted one after the other through the months, has the day
// number one past the day before it, and that number converts back to the same day, in years before
// zero too.
TEST(DateCalendar, EveryDayConvertsToItsNumberAndBack) {
    int64_t expected = date::days_from(-9999, 1, 1);
    for (int32_t year = -9999; year <= 9999; year++) {
        for (int32_t month = 1; month <= 12; month++) {
            for (int32_t day = 1; day <= month_length(year, month); day++, expected++) {
                ASSERT_EQ(date::days_from(year, month, day), expected) << day << "-" << month << "-" << year;
                uint32_t word = date::days_to_date(expected, 0, false);
                ASSERT_EQ(date::year_of(word), year) << expected;
                ASSERT_EQ(date::month_of(word), month) << expected;
                ASSERT_EQ(date::day_of(word), day) << expected;
            }
        }
    }
}

TEST(DateCalendar, DayNumbersWeekdaysAndTheEpoch) {
    struct Case {
        int32_t year, month, day;
        int64_t days;
        int32_t weekday;
    } cases[] = {
        {0, 3, 1, 0, 3},         {0, 2, 29, -1, 2},   {1970, 1, 1, date::kEpoch, 4},
        {2000, 3, 1, 730485, 3}, {-1, 1, 1, -425, 5}, {2024, 12, 31, 739556, 2},
        {1, 1, 1, 306, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(date::days_from(c.year, c.month, c.day), c.days) << c.year;
        EXPECT_EQ(date::weekday(c.days), c.weekday) << c.year;
    }
}

TEST(DateCalendar, YearsBeyondTheWordRaiseTypeLimit) {
    int64_t first = date::days_from(date::kLowestYear, 1, 1), last = date::days_from(date::kHighestYear, 12, 31);
    EXPECT_EQ(date::year_of(date::days_to_date(first, 0, false)), date::kLowestYear);
    EXPECT_EQ(date::year_of(date::days_to_date(last, 0, false)), date::kHighestYear);
    for (int64_t days : {first - 1, last + 1, int64_t(INT32_MAX) * 4}) {
        EXPECT_EQ(test::error_of([&] { date::days_to_date(days, 0, false); }), Err::script_type_limit) << days;
    }
}

// A date molds to text that the lexer loads back as the same date, bit for bit, whatever its year
// within the years a literal may have, its time of day (in quarter seconds) and its zone.
TEST_F(DateText, MoldLoadsBackToTheSameDate) {
    std::mt19937 draw(2020);
    std::uniform_int_distribution<int32_t> years(-9999, 9999), months(1, 12), days(1, 31), zones(0, 127);
    std::uniform_int_distribution<int32_t> quarter_seconds(0, 86400 * 4 - 1), kinds(0, 2);
    for (int i = 0; i < 5000; i++) {
        // What the last round made is garbage by now.
        block::rs_clear_at(test::kept_values, 0);
        int32_t year = years(draw), month = months(draw);
        int32_t day = std::min(days(draw), month_length(year, month));
        // A third of the dates have no time; a third have one and zone 0, which text leaves out.
        int32_t kind = kinds(draw);
        uint32_t zone = kind == 2 ? uint32_t(zones(draw)) : 0;
        Cell value;
        date::make_at(&value, year, month, day, quarter_seconds(draw) / 4.0, zone, kind > 0);
        std::string text = test::mold(value);
        Cell loaded = *block::rs_abs_at(*lexer::load(text), 0);
        stack::pop(1);
        ASSERT_TRUE(loaded.is(Type::Date)) << text;
        EXPECT_EQ(loaded.date_word(), value.date_word()) << text;
        EXPECT_EQ(date::slot_of(loaded), date::slot_of(value)) << text;
    }
}

TEST_F(DateText, YearsBelowAHundredKeepFourDigits) {
    struct Case {
        int32_t year;
        const char* text;
    } cases[] = {
        {99, "1-Jan-0099"}, {0, "1-Jan-0000"},    {-44, "1/Jan/-0044"}, {-99, "1/Jan/-0099"},
        {100, "1-Jan-100"}, {-100, "1/Jan/-100"}, {9999, "1-Jan-9999"},
    };
    for (const Case& c : cases) {
        Cell value;
        date::make_at(&value, c.year, 1, 1, 0, 0, false);
        EXPECT_EQ(test::mold(value), c.text);
    }
}

// now keeps the moment of the clock in every zone, also one that the zone bits hold only to the
// quarter hour, and shows that zone. At any hour the local date differs from the UTC date in one of
// the zones 14 hours either side.
TEST_F(DateText, NowIsTheClockInTheLocalZone) {
    struct Case {
        const char* tz;  // a POSIX rule: the offset after the name counts hours west of UTC
        const char* zone;
    } cases[] = {
        {"UTC0", "0:00:00"},        {"IST-5:30", "5:30:00"}, {"NST3:30", "-3:30:00"},
        {"LMT-0:53:28", "0:45:00"}, {"EST14", "-14:00:00"},  {"LINT-14", "14:00:00"},
    };
    for (const Case& c : cases) {
        ScopedZone zone(c.tz);
        time_t before = std::time(nullptr);
        Cell now = test::run(natives::now_s, {});
        time_t after = std::time(nullptr);
        ASSERT_TRUE(now.is(Type::Date)) << c.tz;
        EXPECT_GE(date::to_epoch(now), int64_t(before)) << c.tz;
        EXPECT_LE(date::to_epoch(now), int64_t(after) + 1) << c.tz;
        EXPECT_EQ(test::mold(*date::get_field(now, date::kZone)), c.zone) << c.tz;
        double local = time::get(*date::get_field(now, date::kTime));
        EXPECT_GE(local, 0.0) << c.tz;
        EXPECT_LT(local, 86400.0) << c.tz;
    }
}

TEST(PlatformCalendar, OneReadingGivesTheDateTheTimeAndTheOffset) {
    struct Case {
        const char* tz;
        int32_t offset;
        uint32_t zone;
    } cases[] = {{"UTC0", 0, 0}, {"IST-5:30", 19800, 22}, {"NST3:30", -12600, 78}};
    for (const Case& c : cases) {
        ScopedZone zone(c.tz);
        for (bool utc : {true, false}) {
            platform::Calendar now = platform::read_calendar(utc, true);
            EXPECT_EQ(now.offset, utc ? 0 : c.offset) << c.tz;
            EXPECT_EQ(now.date & 127, utc ? 0 : c.zone) << c.tz;
            EXPECT_EQ(now.date >> 16 & 1, 0u) << "the time flag";
            EXPECT_GE(now.seconds, 0.0);
            EXPECT_LT(now.seconds, 86401.0);  // a leap second reads 60
        }
        EXPECT_EQ(platform::read_calendar(false, false).seconds,
                  std::floor(platform::read_calendar(false, false).seconds));
    }
}
