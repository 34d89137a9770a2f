// Reading dates and times of day from field text, and a field's text as a
// host DATE.  The layouts are the ones peers write into date and character
// fields; see datetext.h.
#include "textime/datetext.h"

#include <cstring>
#include <limits>

#include "platform/platform.h"
#include "textime/dates.h"
#include "textime/localsec.h"

namespace hyl {
namespace {

constexpr int64_t kNumberLimit = std::numeric_limits<int32_t>::max();
constexpr char kDigits[] = "0123456789";

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The run of digits at p as a number, p left after it.  A number too long
// for 32 bits stops at 2,147,483,647, which no date or time of day can use.
int64_t read_number(const char*& p) {
    int64_t n = 0;
    for (; is_digit(*p); ++p)
        if (n < kNumberLimit) n = n * 10 + (*p - '0');
    return n < kNumberLimit ? n : kNumberLimit;
}

// The next run of digits from p on, p left after it; false when none is left.
bool next_number(const char*& p, int64_t* n) {
    while (*p && !is_digit(*p)) ++p;
    if (!*p) return false;
    *n = read_number(p);
    return true;
}

// A number at a fixed place the way "%0Nd" reads one: white space skipped,
// then at most width characters counting one sign.  False when no digit is
// read there, or the place lies beyond the end of the text.
bool read_at_place(const char* text, size_t place, int width, int64_t* n) {
    if (place > std::strlen(text)) return false;
    const char* p = text + place;
    while (is_space(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
        --width;
    }
    int64_t value = 0;
    int digits = 0;
    for (; digits < width && is_digit(*p); ++p, ++digits) value = value * 10 + (*p - '0');
    if (digits == 0) return false;
    *n = negative ? -value : value;
    return true;
}

// Today's local date; the parsers take from it what a text leaves out.
LocalFields today() {
    CivilTime now;
    if (!platform().utc_to_local(platform().now(), &now, nullptr)) return {};  // year 0: no date
    return {now.year, now.month, now.day, 0, 0, 0};
}

// Local seconds of a date at 00:00:00 after normalisation; 0 for no date.
int64_t local_seconds_of(const LocalFields& date) { return Dt_ConvertLocalSec(Dt_TimeFromLocalFields(date, -1), 0); }

}  // namespace

int64_t Dt_YearFromNumber(int64_t number) {
    // A year written with four digits means that year: 1949 is not 3849,
    // which a 1900s reading would make of it now that dates reach 9999.
    if (number >= 1000) return number;
    return number < 50 ? 2000 + number : 1900 + number;
}

int64_t Dt_ParseDayMonthYear(const char* text) {
    if (!std::strpbrk(text, kDigits)) return 0;
    LocalFields date = today();
    const char* p = text;
    int64_t n = 0;
    if (next_number(p, &n)) date.day = n;
    if (next_number(p, &n)) date.month = n;
    if (next_number(p, &n)) date.year = Dt_YearFromNumber(n);
    return local_seconds_of(date);
}

int64_t Dt_ParseCompactDate(const char* text) {
    LocalFields date = today();
    const size_t run = std::strspn(text, kDigits);
    int64_t year = 0, month = 0, day = 0;
    if (run >= 8) {
        read_at_place(text, 0, 4, &year);
        date.year = Dt_YearFromNumber(year);
        if (!read_at_place(text, 4, 2, &month) || !read_at_place(text, 6, 2, &day)) return 0;
        date.month = month;
    } else if (run >= 5) {
        read_at_place(text, 0, 2, &year);
        date.year = Dt_YearFromNumber(year);
        if (!read_at_place(text, 2, 2, &month) || !read_at_place(text, 4, 2, &day)) return 0;
        date.month = month;
    } else {
        if (!read_at_place(text, 0, 2, &month) || !read_at_place(text, 2, 2, &day)) return 0;
        // Here month 00 is January, where the longer layouts take it as
        // December of the year before; stored month-day texts rely on it.
        // A month below 00 counts back from January: "-512" (month -5, as
        // the signed two-character place reads it) is the 12th of August of
        // the year before.
        date.month = month > 0 ? month : month + 1;
    }
    date.day = day;
    return local_seconds_of(date);
}

int64_t Dt_ParseTimeOfDay(const char* text) {
    int64_t parts[3] = {0, 0, 0};
    const char* p = text;
    for (int64_t& part : parts)
        if (!next_number(p, &part)) break;
    return 3600 * parts[0] + 60 * parts[1] + parts[2];
}

double Dt_DateFromFieldText(const char* text) {
    // Fields may be written right-aligned; a date's blanks are not part of it.
    while (*text != '\0' && static_cast<unsigned char>(*text) <= ' ') ++text;

    int64_t value = 0;
    if (std::strpbrk(text, ":.")) {
        value = Dt_ParseDayMonthYear(text);
        // The time of day starts at the first digit after the date's run of
        // digits and dots.  A time added to no date would land on a day the
        // text never named, so no date stays no date.
        const char* rest = text + std::strspn(text, "0123456789.");
        const char* time = std::strpbrk(rest, kDigits);
        if (value != 0 && time) value += Dt_ParseTimeOfDay(time);
    } else {
        value = Dt_ParseCompactDate(text);
    }
    int64_t time_count = Dt_ConvertLocalSec(value, 1);
    // A time of day that pushes a date past 9999-12-31 has no time count;
    // it reads as no date, as dates past it do.
    if (time_count == -1) time_count = Dt_ConvertLocalSec(0, 1);
    COleDateTime date;
    date = time_count;
    return date.m_dt;
}

}  // namespace hyl
