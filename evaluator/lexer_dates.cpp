// The date loader: the forms of a date literal, checked field by field.
//
//     1-Jan-2020  1/1/2020  2020-01-01  5/Mar/-0044       day, month and year, or year, month and day
//     1-Jan-2020/10:30:00+05:30  2020-01-01T10:30Z      then a time of day and a zone
//     2021-W01  2021-W01-5  2020-100                    ISO week and ordinal dates
//     20200101T1030Z  20200101T103015.5+0530            ISO basic form, a time always given
#include <string_view>

#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/unset.h"
#include "evaluator/lexer_scanner.h"

namespace oka::lexer {

namespace {

constexpr std::string_view kMonths[] = {"january", "february", "march",     "april",   "may",      "june",
                                        "july",    "august",   "september", "october", "november", "december"};
constexpr int32_t kHighestYear = 9999;

struct Reader {
    std::string_view text;
    size_t at = 0;

    bool end() const { return at == text.size(); }
    char peek() const { return end() ? '\0' : text[at]; }
    bool take(char c) {
        if (peek() != c) return false;
        at++;
        return true;
    }
    // One of two spellings of a letter.
    bool take_letter(char upper) { return take(upper) || take(char(upper + 32)); }
    bool digit_q() const { return peek() >= '0' && peek() <= '9'; }
    // A run of any number of digits; answers their count.
    size_t skip_digits() {
        size_t start = at;
        while (digit_q()) at++;
        return at - start;
    }
    // Exactly `count` digits, more may follow.
    bool fixed(int count, int32_t& value) {
        value = 0;
        for (int i = 0; i < count; i++) {
            if (!digit_q()) return false;
            value = value * 10 + (text[at++] - '0');
        }
        return true;
    }
    // A run of digits, `min` to `max` of them; answers their count, 0 when the run does not fit.
    int number(int min, int max, int32_t& value) {
        size_t start = at;
        value = 0;
        while (digit_q() && int(at - start) < max) value = value * 10 + (text[at++] - '0');
        int count = int(at - start);
        if (count < min || digit_q()) return 0;
        return count;
    }
};

struct DateText {
    int32_t year = 0, month = 1, day = 1;
    int32_t week = 0, weekday = 1;  // an ISO week date when week is not 0
    int32_t yearday = 0;            // an ordinal date when not 0
    bool time = false;
    double seconds = 0;  // the local time of day
    uint32_t zone = 0;
};

// Z, or a sign and hours, then two digits of minutes after a colon or, after two digits of hours,
// directly; or nothing.
bool read_zone(Reader& r, DateText& date) {
    if (r.take_letter('Z') || r.end()) return r.end();
    bool west = r.peek() == '-';
    if (!r.take('-') && !r.take('+')) return false;
    int32_t hours, minutes = 0;
    bool compact =
        r.text.size() - r.at == 4 && r.text.substr(r.at).find_first_not_of("0123456789") == std::string_view::npos;
    if (compact ? !r.fixed(2, hours) : !r.number(1, 2, hours)) return false;
    if ((compact || r.take(':')) && !r.number(2, 2, minutes)) return false;
    if (hours > 15 || minutes > 59 || !r.end()) return false;
    date.zone = date::pack_zone(west, hours, minutes);
    return true;
}

// Seconds with an optional fraction, as a number: two digits in the compact form, else one or two.
bool read_seconds(Reader& r, double& seconds, bool compact) {
    size_t start = r.at;
    int32_t whole;
    if (compact ? !r.fixed(2, whole) : !r.number(1, 2, whole)) return false;
    if (r.take('.') && !r.skip_digits()) return false;
    int32_t left;
    seconds = sys::strtod(r.text.data() + start, r.text.data() + r.at, 0, &left);
    return seconds < 60;
}

// h:mm or h:mm:ss with a fraction, or with `compact` hhmm or hhmmss; then the zone.
bool read_time(Reader& r, DateText& date, bool compact) {
    int32_t hours, minutes;
    double seconds = 0;
    bool fields = compact ? r.fixed(2, hours) && r.fixed(2, minutes)
                          : r.number(1, 2, hours) && r.take(':') && r.number(1, 2, minutes);
    if (!fields || hours > 23 || minutes > 59) return false;
    bool more = compact ? r.digit_q() : r.take(':');
    if (more && !read_seconds(r, seconds, compact)) return false;
    date.time = true;
    date.seconds = hours * 3600 + minutes * 60 + seconds;
    return read_zone(r, date);
}

// After the date: nothing, or / or T and a time.
bool read_optional_time(Reader& r, DateText& date) {
    if (r.end()) return true;
    if (!r.take('/') && !r.take_letter('T')) return false;
    return read_time(r, date, false);
}

// A month name of 3 to 9 letters, the start of an English one, letter case ignored.
int32_t month_named(Reader& r) {
    size_t start = r.at;
    while (!r.end() && ((r.peek() | 32) >= 'a' && (r.peek() | 32) <= 'z')) r.at++;
    std::string_view name = r.text.substr(start, r.at - start);
    if (name.size() < 3 || name.size() > 9) return 0;
    for (int32_t m = 0; m < 12; m++)
        if (kMonths[m].size() >= name.size() && same_text_q(kMonths[m].substr(0, name.size()), name)) return m + 1;
    return 0;
}

// yyyymmddT and a compact time.
bool read_basic(Reader& r, int32_t digits, bool negative, DateText& date) {
    date.year = negative ? -(digits / 10000) : digits / 10000;
    date.month = digits / 100 % 100;
    date.day = digits % 100;
    return r.take_letter('T') && read_time(r, date, true);
}

// yyyy-Www or yyyy-Www-d, after the W.
bool read_week(Reader& r, DateText& date) {
    if (!r.number(2, 2, date.week)) return false;
    if (r.take('-') && !r.number(1, 1, date.weekday)) return false;
    return date.week >= 1 && date.week <= 53 && date.weekday >= 1 && date.weekday <= 7 && read_optional_time(r, date);
}

// The day, month and year, in either order, after the first number and its separator.
bool read_calendar(Reader& r, int32_t first, int first_digits, bool negative, char separator, DateText& date) {
    int32_t month;
    if (r.digit_q()) {
        int digits = r.number(1, 3, month);
        // yyyy-ddd: the day of the year.
        if (digits == 3) {
            date.year = negative ? -first : first;
            date.yearday = month;
            return first_digits == 4 && separator == '-' && month >= 1 && read_optional_time(r, date);
        }
        if (!digits) return false;
    } else if (!(month = month_named(r))) {
        return false;
    }
    if (!r.take(separator)) return false;
    bool third_negative = r.take('-');
    int32_t third;
    int third_digits = r.number(1, 4, third);
    if (!third_digits) return false;
    date.month = month;
    if (negative || first_digits > 2 || first > 31) {
        if (third_negative || third_digits > 2) return false;
        date.year = negative ? -first : first;
        date.day = third;
    } else {
        date.day = first;
        date.year = third_negative ? -third : third;
        if (!third_negative && third_digits <= 2) date.year += third < 50 ? 2000 : 1900;
    }
    return read_optional_time(r, date);
}

bool read_date(std::string_view text, DateText& date) {
    Reader r{text};
    bool negative = r.take('-');
    int32_t first;
    int first_digits = r.number(1, 8, first);
    if (first_digits == 8) return read_basic(r, first, negative, date);
    if (!first_digits || first_digits > 4) return false;
    char separator = r.peek();
    if (!r.take('-') && !r.take('/')) return false;
    if (r.take_letter('W')) {
        date.year = negative ? -first : first;
        return first_digits == 4 && separator == '-' && read_week(r, date);
    }
    return read_calendar(r, first, first_digits, negative, separator, date);
}

int32_t month_length(int32_t year, int32_t month) {
    constexpr int32_t kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && date::leap_year_q(year) ? 29 : kLengths[month - 1];
}

// The value of a date read from its text, or false when a field lies outside its range.
bool build(const DateText& text, Cell* value) {
    if (text.year < -kHighestYear || text.year > kHighestYear || text.month < 1 || text.month > 12 || text.day < 1 ||
        text.day > month_length(text.year, text.month))
        return false;
    date::make_at(value, text.year, text.month, text.day, text.seconds, text.zone, text.time);
    if (text.yearday) {
        if (text.yearday > (date::leap_year_q(text.year) ? 366 : 365)) return false;
        date::set_yearday(value, text.yearday);
    }
    if (text.week) {
        date::set_isoweek(value, text.week);
        date::set_weekday(value, text.weekday);
        // Week 53 of a year that has 52 lies in the next year.
        if (date::isoweek(date::word_of(*value)) != text.week) return false;
    }
    return true;
}

}  // namespace

void load_date(Lexer& lx, bool build_value) {
    DateText text;
    Cell value = unset::value;
    std::string_view token(reinterpret_cast<const char*>(lx.token_start), size_t(lx.token_end - lx.token_start));
    if (!read_date(token, text) || !build(text, &value)) lx.invalid(Type::Date);
    if (build_value) *lx.new_value() = value;
}

}  // namespace oka::lexer
