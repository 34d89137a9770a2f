// Date and time of day written as text in table fields.
//
// Dates are read day first (25.03.2010, 25.3.10) or as digits at fixed
// places (20100325, 100325, 0325); a time of day may follow a dotted date
// (25.03.2010 14:30).  Whatever a text leaves out of a date (the year of
// 25.03, the year of 0325) is taken from today's local date.  Dates come back
// in local seconds at 00:00:00; daylight saving is the zone's for the date
// read, so a date reads the same whatever the season of the call.
#pragma once

#include <cstdint>

namespace hyl {

// A two- or four-digit year as peers write it: four digits as written
// (1949 is 1949, and so no date), below 50 in the 2000s (10 is 2010),
// otherwise in the 1900s (75 is 1975, and so 150 is 2050).
int64_t Dt_YearFromNumber(int64_t number);

// Day, month and year as the first three runs of digits, whatever separates
// them; a missing month or year is the current one.  Out-of-range days and
// months carry over (day 2010 of March 2025 is 2030-08-31).  Local seconds,
// 0 for no date: no digit at all, a date in 1980 or earlier, or one after
// 9999-12-31.
int64_t Dt_ParseDayMonthYear(const char* text);

// Digits at fixed places, laid out by the length n of the leading run of
// digits: n >= 8 YYYYMMDD, n 5-7 YYMMDD (a five-digit run has a one-digit
// day, a seventh digit is ignored), n <= 4 MMDD of the current year (month 00
// is January there, December of the year before in the longer layouts, and a
// negative month counts back from January: "-512" is August 12 of last year).
// Each place is read as a two- or four-character signed number after any
// white space.  Local seconds, 0 for no date, also when no number stands at
// the month or day place (a blank field, a text of one or two digits).
int64_t Dt_ParseCompactDate(const char* text);

// Hours, minutes and seconds as up to three runs of digits, with no range
// checks (25:70:99 is 94,299 seconds).
int64_t Dt_ParseTimeOfDay(const char* text);

}  // namespace hyl
