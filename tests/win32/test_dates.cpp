// Dates through the real DLL in the Windows zone of the system: GMT and
// local time both ways, seconds since 1970, and field texts read as dates.
//
// The runner starts the host in two zones: Europe/Moscow, which Wine gives
// as UTC+3 all year, and Europe/Helsinki, UTC+2 with a one-hour summer shift
// from 03:00 on the last Sunday of March to 04:00 on the last Sunday of
// October (01:00 UTC both), which Wine applies with the current year's rules
// to every year.  The group asks the system which zone it is in and checks
// that zone's results; each case carries both.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/win32/check.h"
#include "tests/win32/host.h"

namespace host {
namespace {

using Convert = double(__stdcall*)(double);

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kNoResult = "1899-12-30 00:00:00";  // DATE 0.0
constexpr const char* kNoDate = "1978-11-30 00:00:00";    // the no-date DATE 28,824.0

enum class Zone { unknown, moscow, helsinki };

Zone g_zone = Zone::unknown;

Zone detect_zone() {
    TIME_ZONE_INFORMATION tzi{};
    GetTimeZoneInformation(&tzi);
    if (tzi.Bias == -180 && tzi.DaylightDate.wMonth == 0) return Zone::moscow;
    if (tzi.Bias == -120 && tzi.DaylightDate.wMonth != 0) return Zone::helsinki;
    return Zone::unknown;
}

// --- Calendar arithmetic of the checks, independent of the library --------

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t* y, int64_t* m, int64_t* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = yoe + era * 400 + (*m <= 2);
}

constexpr int64_t kDateEpochDays = 25569;  // 1899-12-30 to 1970-01-01

// The DATE of a wall-clock time.  Before 1899-12-30 a DATE is its day
// counted back, with the time of day still counting forward: -1.25 is
// 1899-12-29 06:00.
double date_of(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    const double day = static_cast<double>(days_from_civil(y, mo, d) + kDateEpochDays);
    const double fraction = (h * 3600 + mi * 60 + s) / 86400.0;
    return day >= 0 ? day + fraction : day - fraction;
}

// A DATE as "YYYY-MM-DD HH:MM:SS", rounded to the second; before 1899-12-30
// a DATE's fraction counts forward from the start of its day.
std::string text_of(double date) {
    if (!std::isfinite(date) || std::fabs(date) > 1e7) return "not a date";
    const double whole = std::trunc(date);
    const int64_t s = static_cast<int64_t>(whole) * 86400 + std::llround(std::fabs(date - whole) * 86400.0);
    const int64_t day = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
    const int64_t of_day = s - day * 86400;
    int64_t y = 0, m = 0, d = 0;
    civil_from_days(day - kDateEpochDays, &y, &m, &d);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(y), static_cast<int>(m),
                  static_cast<int>(d), static_cast<int>(of_day / 3600), static_cast<int>(of_day / 60 % 60),
                  static_cast<int>(of_day % 60));
    return text;
}

std::string ymd_text(int64_t y, int64_t m, int64_t d) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d 00:00:00", static_cast<int>(y), static_cast<int>(m),
                  static_cast<int>(d));
    return text;
}

// --- Conversions --------------------------------------------------------

struct ZoneCase {
    double argument;
    const char* moscow;
    const char* helsinki;
};

const char* expected(const ZoneCase& c) { return g_zone == Zone::moscow ? c.moscow : c.helsinki; }

void check_cases(const char* name, const ZoneCase* cases, size_t count) {
    Convert convert = fn<Convert>(name);
    if (!ok(convert != nullptr, "%s missing", name)) return;
    for (size_t i = 0; i < count; ++i) {
        const std::string got = text_of(convert(cases[i].argument));
        ok(got == expected(cases[i]), "%s of %s (%.10g): got %s, expected %s", name,
           text_of(cases[i].argument).c_str(), cases[i].argument, got.c_str(), expected(cases[i]));
    }
}

void gmt_to_local() {
    const ZoneCase cases[] = {
        {date_of(2010, 1, 25, 12), "2010-01-25 15:00:00", "2010-01-25 14:00:00"},
        {date_of(2010, 7, 25, 12), "2010-07-25 15:00:00", "2010-07-25 15:00:00"},
        {date_of(2010, 7, 25, 12) + 0.4 / 86400, "2010-07-25 15:00:00", "2010-07-25 15:00:00"},
        // Spring: 01:00 UTC on the last Sunday of March.
        {date_of(2010, 3, 28, 0, 59, 59), "2010-03-28 03:59:59", "2010-03-28 02:59:59"},
        {date_of(2010, 3, 28, 1), "2010-03-28 04:00:00", "2010-03-28 04:00:00"},
        // Autumn: 01:00 UTC on the last Sunday of October.
        {date_of(2010, 10, 31, 0, 59, 59), "2010-10-31 03:59:59", "2010-10-31 03:59:59"},
        {date_of(2010, 10, 31, 1), "2010-10-31 04:00:00", "2010-10-31 03:00:00"},
        // The zone's rules go on outside the time count's years.
        {date_of(1969, 12, 31, 22), "1970-01-01 01:00:00", "1970-01-01 00:00:00"},
        {date_of(2040, 7, 1, 12), "2040-07-01 15:00:00", "2040-07-01 15:00:00"},
        {date_of(1601, 1, 1), "1601-01-01 03:00:00", "1601-01-01 02:00:00"},
        {date_of(9999, 12, 31, 20), "9999-12-31 23:00:00", "9999-12-31 22:00:00"},
        // Nothing to convert: 0.0.
        {date_of(1600, 12, 31, 23), kNoResult, kNoResult},
        {date_of(9999, 12, 31, 22, 30), kNoResult, kNoResult},
        {1e10, kNoResult, kNoResult},
        {kNaN, kNoResult, kNoResult},
    };
    check_cases("_GMT_To_Local@8", cases, std::size(cases));
}

void local_to_gmt() {
    const ZoneCase cases[] = {
        {date_of(2010, 1, 25, 12), "2010-01-25 09:00:00", "2010-01-25 10:00:00"},
        {date_of(2010, 7, 25, 12), "2010-07-25 09:00:00", "2010-07-25 09:00:00"},
        // Either side of the hour the spring change skips, and inside it:
        // standard time, as the clock had not yet moved.
        {date_of(2010, 3, 28, 2, 59, 59), "2010-03-27 23:59:59", "2010-03-28 00:59:59"},
        {date_of(2010, 3, 28, 3, 30), "2010-03-28 00:30:00", "2010-03-28 01:30:00"},
        {date_of(2010, 3, 28, 3, 59, 59), "2010-03-28 00:59:59", "2010-03-28 01:59:59"},
        {date_of(2010, 3, 28, 4), "2010-03-28 01:00:00", "2010-03-28 01:00:00"},
        // Either side of the hour the autumn change repeats.
        {date_of(2010, 10, 31, 2, 59, 59), "2010-10-30 23:59:59", "2010-10-30 23:59:59"},
        {date_of(2010, 10, 31, 4), "2010-10-31 01:00:00", "2010-10-31 02:00:00"},
        {date_of(1970, 1, 1, 1), "1969-12-31 22:00:00", "1969-12-31 23:00:00"},
        {date_of(2040, 7, 1, 16), "2040-07-01 13:00:00", "2040-07-01 13:00:00"},
        {date_of(9999, 12, 31, 23), "9999-12-31 20:00:00", "9999-12-31 21:00:00"},
        // Before 1601 in GMT, or no date at all: 0.0.
        {date_of(1601, 1, 1), kNoResult, kNoResult},
        {1e10, kNoResult, kNoResult},
        {kNaN, kNoResult, kNoResult},
    };
    check_cases("_Local_To_GMT@8", cases, std::size(cases));
}

// Whether a wall-clock text lies in the Helsinki changing hour, 03:00-04:00
// on the last Sunday of the month.
bool in_changing_hour(const std::string& text, const char* month) {
    const int64_t days = days_from_civil(std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2)),
                                         std::stoi(text.substr(8, 2)));
    const bool sunday = (days + 4) % 7 == 0;  // 1970-01-01 was a Thursday
    return g_zone == Zone::helsinki && text.compare(5, 2, month) == 0 && std::stoi(text.substr(8, 2)) >= 25 &&
           sunday && text.compare(11, 2, "03") == 0;
}

// Each direction undoes the other over the years of the time count and
// beyond, except for the hour the autumn change repeats (two GMT times for
// one local time) and the hour the spring change skips (a local time that
// never happens, read as standard time: it comes back an hour later).
void round_trip() {
    Convert to_local = fn<Convert>("_GMT_To_Local@8");
    Convert to_gmt = fn<Convert>("_Local_To_GMT@8");
    if (!ok(to_local && to_gmt, "the conversions are missing")) return;
    int failures = 0, steps = 0;
    for (double gmt = date_of(1969, 12, 1); gmt < date_of(2200, 1, 1) && failures < 5; gmt += 5 + 3607.0 / 86400) {
        ++steps;
        const double local = to_local(gmt);
        const double back = to_gmt(local);
        const std::string local_text = text_of(local);
        const double hours_off = std::fabs(back - gmt) * 24;
        const bool repeated = in_changing_hour(local_text, "10") && hours_off > 0.999 && hours_off < 1.001;
        if (text_of(back) != text_of(gmt) && !repeated) {
            ++failures;
            ok(false, "GMT %s -> local %s -> GMT %s, expected the GMT it began with", text_of(gmt).c_str(),
               local_text.c_str(), text_of(back).c_str());
        }
        const double again = to_local(to_gmt(gmt));
        const bool skipped = in_changing_hour(text_of(gmt), "03");
        const std::string want = text_of(skipped ? gmt + 1.0 / 24 : gmt);
        if (text_of(again) != want) {
            ++failures;
            ok(false, "local %s -> GMT -> local %s, expected %s", text_of(gmt).c_str(), text_of(again).c_str(),
               want.c_str());
        }
    }
    ok(failures == 0 && steps > 5000, "round trips: %d failures in %d steps", failures, steps);

    // In the repeated hour both GMT times come to the same local time, and
    // it goes back to one of them.
    if (g_zone == Zone::helsinki) {
        const double first = date_of(2010, 10, 31, 0, 30), second = date_of(2010, 10, 31, 1, 30);
        ok(text_of(to_local(first)) == "2010-10-31 03:30:00" && text_of(to_local(second)) == "2010-10-31 03:30:00",
           "repeated hour: got %s and %s, expected 2010-10-31 03:30:00 for both", text_of(to_local(first)).c_str(),
           text_of(to_local(second)).c_str());
        const std::string back = text_of(to_gmt(date_of(2010, 10, 31, 3, 30)));
        ok(back == text_of(first) || back == text_of(second),
           "repeated hour back to GMT: got %s, expected 00:30 or 01:30", back.c_str());
    }
}

void seconds_since_1970() {
    const ZoneCase cases[] = {
        {0.0, "1970-01-01 03:00:00", "1970-01-01 02:00:00"},
        {-0.5, "1970-01-01 03:00:00", "1970-01-01 02:00:00"},
        {1.9, "1970-01-01 03:00:01", "1970-01-01 02:00:01"},
        {1269527400.7, "2010-03-25 17:30:00", "2010-03-25 16:30:00"},
        {1279195200.0, "2010-07-15 15:00:00", "2010-07-15 15:00:00"},
        {1288486800.0, "2010-10-31 04:00:00", "2010-10-31 03:00:00"},  // 01:00 UTC, the autumn change
        {2147483647.0, "2038-01-19 06:14:07", "2038-01-19 05:14:07"},
        {2147483647.9, "2038-01-19 06:14:07", "2038-01-19 05:14:07"},
        {2147483648.0, "2038-01-19 06:14:08", "2038-01-19 05:14:08"},
        {2.2e9, "2039-09-19 02:06:40", "2039-09-19 02:06:40"},
        {253402289999.0, "9999-12-31 23:59:59", "9999-12-31 22:59:59"},
        // No moment a DATE can show: 0.0.
        {253402300800.0, kNoResult, kNoResult},
        {-1.0, kNoResult, kNoResult},
        {-1.5, kNoResult, kNoResult},
        {-2147483649.0, kNoResult, kNoResult},
        {1e20, kNoResult, kNoResult},
        {-std::numeric_limits<double>::infinity(), kNoResult, kNoResult},
        {kNaN, kNoResult, kNoResult},
    };
    check_cases("_Hyl_GetDateByNsecFrom1970@8", cases, std::size(cases));
    Convert from_1970 = fn<Convert>("_Hyl_GetDateByNsecFrom1970@8");
    const double epoch = g_zone == Zone::moscow ? 25569.125 : 25569.0 + 2.0 / 24;
    ok(from_1970 && from_1970(0.0) == epoch, "seconds 0: got %.17g, expected %.17g", from_1970 ? from_1970(0.0) : 0,
       epoch);
}

// --- Field texts --------------------------------------------------------

struct TextCase {
    std::string text;
    std::string moscow;
    std::string helsinki;  // empty: as in Moscow
};

// The cases whose result depends on nothing but the zone.
std::vector<TextCase> fixed_text_cases() {
    return {
        {"25.03.2010", "2010-03-25 00:00:00", ""},
        {"25.3.10", "2010-03-25 00:00:00", ""},
        {"25.03.2010 14:30", "2010-03-25 14:30:00", ""},
        {"25.03.2010 14:30:15", "2010-03-25 14:30:15", ""},
        {"25.03.2010 14.30", "2010-03-25 14:30:00", ""},
        {"25.03.2010 25:70:99", "2010-03-26 02:11:39", ""},
        {"25.03.2010\xE3.", "2010-03-25 00:00:00", ""},
        // Blanks before the date are skipped, not read as a time of day.
        {" 25.03.2010", "2010-03-25 00:00:00", ""},
        {" 25.03.2010 14:30", "2010-03-25 14:30:00", ""},
        {"   25.03.2010 14:30", "2010-03-25 14:30:00", ""},
        {" 20100325", "2010-03-25 00:00:00", ""},
        {"2010.03.25", "2030-08-31 00:00:00", ""},
        {"01.01.1981", "1981-01-01 00:00:00", ""},
        // A date reads as its own wall-clock time in summer and in winter.
        {"25.01.2010", "2010-01-25 00:00:00", ""},
        {"25.07.2010 12:00", "2010-07-25 12:00:00", ""},
        {"27.03.2010", "2010-03-27 00:00:00", ""},
        {"28.03.2010 02:59", "2010-03-28 02:59:00", ""},
        {"28.03.2010 03:30", "2010-03-28 03:30:00", "2010-03-28 04:30:00"},  // skipped in Helsinki
        {"28.03.2010 04:00", "2010-03-28 04:00:00", ""},
        {"31.10.2010 12:00", "2010-10-31 12:00:00", ""},
        {"31.10.2010 03:30", "2010-10-31 03:30:00", ""},  // the repeated hour in Helsinki
        // Past the ends of the 32-bit time count (2038-01-19 03:14:07 UTC)
        // and of 32-bit local seconds (2048-01-18 03:14:07), to 9999.
        {"19.01.2038 05:14:08", "2038-01-19 05:14:08", ""},
        {"19.01.2038 06:14:08", "2038-01-19 06:14:08", ""},
        {"01.05.2040", "2040-05-01 00:00:00", ""},
        {"18.01.2048 03:14:08", "2048-01-18 03:14:08", ""},
        {"29.02.2100", "2100-03-01 00:00:00", ""},
        {"20400501", "2040-05-01 00:00:00", ""},
        {"20991231", "2099-12-31 00:00:00", ""},
        {"24000229", "2400-02-29 00:00:00", ""},
        {"31.12.9999 23:59:59", "9999-12-31 23:59:59", ""},
        // No date.
        {"01.01.10000", kNoDate, ""},
        {"31.12.1980", kNoDate, ""},
        {"25.03.50", kNoDate, ""},
        {"25.03.1949", kNoDate, ""},  // the year as written, not 3849
        {"19491231", kNoDate, ""},
        {".", kNoDate, ""},
        {":", kNoDate, ""},
        {"31.12.1980 10:00", kNoDate, ""},
        {"31.12.1980 25:00", kNoDate, ""},
        {"99999999999.03.2010", kNoDate, ""},
        {"25.03.99999999999", kNoDate, ""},
        {"25.03.2010 99999999999:00", kNoDate, ""},
        // Digits at fixed places.
        {"20100325", "2010-03-25 00:00:00", ""},
        {"201003251", "2010-03-25 00:00:00", ""},
        {"100325", "2010-03-25 00:00:00", ""},
        {"10032", "2010-03-02 00:00:00", ""},
        {"2010032", "2020-10-03 00:00:00", ""},
        {"20100015", "2009-12-15 00:00:00", ""},
        {"100015", "2009-12-15 00:00:00", ""},
        {"", kNoDate, ""},
        {"12", kNoDate, ""},
        {"XYZ", kNoDate, ""},
        {"03-", kNoDate, ""},
        {"19801231", kNoDate, ""},
    };
}

// The cases that take what the text leaves out from today's local date.
std::vector<TextCase> today_text_cases() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const int64_t y = now.wYear;
    return {
        {"25.", ymd_text(y, now.wMonth, 25), ""},
        {"25:", ymd_text(y, now.wMonth, 25), ""},
        {"25.03", ymd_text(y, 3, 25), ""},
        {"0325", ymd_text(y, 3, 25), ""},
        {"0015", ymd_text(y, 1, 15), ""},
        {"0325 14", ymd_text(y, 3, 25), ""},
        {"03 5", ymd_text(y, 3, 5), ""},
        {"031", ymd_text(y, 3, 1), ""},
        {"25-03-2010", ymd_text(y + 1, 12, 31), ""},  // month 25, day 0 of this year
        // A signed month counts back from January.
        {"-512", ymd_text(y - 1, 8, 12), ""},
        {"-112", ymd_text(y - 1, 12, 12), ""},
        {"-012", ymd_text(y, 1, 12), ""},
        {" -512", ymd_text(y - 1, 8, 12), ""},
    };
}

void field_dates() {
    const TableApi api;
    auto create = api.create;
    auto define = api.define;
    auto open_read = api.open_read;
    auto open_append = api.open_append;
    auto close = api.close;
    auto append = api.append;
    auto records = api.records;
    auto put = api.put;
    auto field_date = api.field_date;

    clear_log();
    std::vector<TextCase> cases = fixed_text_cases();
    for (TextCase& c : today_text_cases()) cases.push_back(c);

    // WHEN holds the text under test, DAY a compact date in every record.
    const std::string path = work_path("dates.dbf");
    ok(create(2, path.c_str()) == 1, "create %s failed", path.c_str());
    ok(define(0, 30, "WHEN", "C", 0) == 1 && define(1, 8, "DAY", "D", 0) == 1, "defining the fields failed");
    if (!ok(open_append(path.c_str()) == 1, "open for append failed")) return;
    // A text of eight digits goes into the D field too, as dBASE writes dates.
    auto in_day_field = [](const std::string& text) {
        return text.size() == 8 && text.find_first_not_of("0123456789") == std::string::npos;
    };
    for (const TextCase& c : cases) {
        put(c.text.c_str(), 0);
        put(in_day_field(c.text) ? c.text.c_str() : "20100725", 1);  // also blanks the record after an empty text
        ok(append() == 1, "append of '%s' failed", c.text.c_str());
    }
    close();
    if (!ok(open_read(path.c_str()) == 1, "open for read failed")) return;
    const int count = static_cast<int>(cases.size());
    ok(records() == count, "records: got %d, expected %d", records(), count);

    for (int r = 0; r < count; ++r) {
        const TextCase& c = cases[static_cast<size_t>(r)];
        const std::string& want = g_zone == Zone::helsinki && !c.helsinki.empty() ? c.helsinki : c.moscow;
        const std::string got = text_of(field_date(r, 0));
        ok(got == want, "field date of '%s': got %s, expected %s", c.text.c_str(), got.c_str(), want.c_str());
        const std::string day = text_of(field_date(r, 1));
        ok(!in_day_field(c.text) || day == want, "D field %s: got %s, expected %s", c.text.c_str(), day.c_str(),
           want.c_str());
    }
    const std::string day = text_of(field_date(0, 1));
    ok(day == "2010-07-25 00:00:00", "the D field: got %s, expected 2010-07-25 00:00:00", day.c_str());

    // Exact DATEs the host compares against.
    struct Exact {
        const char* text;
        double date;
    } exact[] = {{"31.12.1980", 28824.0}, {"25.03.2010", 40262.0}, {"01.01.1981", 29587.0}};
    for (const Exact& e : exact)
        for (int r = 0; r < count; ++r)
            if (cases[static_cast<size_t>(r)].text == e.text)
                ok(field_date(r, 0) == e.date, "field date of '%s': got %.17g, expected %.17g", e.text,
                   field_date(r, 0), e.date);

    // No such record or field: the text is empty, so no date.
    for (auto rf : {std::pair{count, 0}, std::pair{-1, 0}, std::pair{0, 2}, std::pair{0, -1}}) {
        const double got = field_date(rf.first, rf.second);
        ok(got == 28824.0, "field date of record %d field %d: got %s, expected the no-date %s", rf.first,
           rf.second, text_of(got).c_str(), kNoDate);
    }
    close();
    ok(log_entries().empty(), "unexpected messages: %u", static_cast<unsigned>(log_entries().size()));
}

void dates() {
    g_zone = detect_zone();
    if (g_zone == Zone::unknown) {
        TIME_ZONE_INFORMATION tzi{};
        GetTimeZoneInformation(&tzi);
        ok(false, "unknown zone: bias %ld, daylight from month %u, expected Moscow (-180, none) or Helsinki (-120, 3)",
           tzi.Bias, tzi.DaylightDate.wMonth);
        return;
    }
    if (g_zone == Zone::helsinki) {
        // The expected values below presume the last-Sunday rules.
        TIME_ZONE_INFORMATION tzi{};
        GetTimeZoneInformation(&tzi);
        const SYSTEMTIME& on = tzi.DaylightDate;
        const SYSTEMTIME& off = tzi.StandardDate;
        if (!ok(on.wMonth == 3 && on.wDay == 5 && on.wDayOfWeek == 0 && on.wHour == 3 && off.wMonth == 10 &&
                    off.wDay == 5 && off.wDayOfWeek == 0 && off.wHour == 4 && tzi.DaylightBias == -60,
                "Helsinki rules: summer from %u/%u/%u %u:00, back at %u/%u/%u %u:00, shift %ld; expected "
                "3/5/0 3:00, 10/5/0 4:00, -60",
                on.wMonth, on.wDay, on.wDayOfWeek, on.wHour, off.wMonth, off.wDay, off.wDayOfWeek, off.wHour,
                tzi.DaylightBias))
            return;
    }
    gmt_to_local();
    local_to_gmt();
    round_trip();
    seconds_since_1970();
    field_dates();
}

}  // namespace

void register_date_groups(std::vector<Group>& out) { out.push_back({"dates", dates}); }

}  // namespace host
