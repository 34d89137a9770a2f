// The library's own date count and the date object it hands DATEs through.
//
// Local seconds: a signed 64-bit count, 86,400 x D + seconds of the day,
// where D counts local calendar days from 1979-12-31 (1980-01-01 is day 1);
// wall-clock time with no zone or daylight saving in it; 0 means no date.
// The time count is seconds since 1970-01-01 00:00 UTC, 64 bits wide on every
// platform; it reaches from 1970 to the last local day a DATE has,
// 9999-12-31, so dates do not stop at 2038 (or, for local seconds, 2048).
#pragma once

#include <concepts>
#include <cstdint>
#include <utility>

#include "platform/platform.h"

namespace hyl {

// The Windows broken-down time: eight unsigned 16-bit fields.
struct SystemTime {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;  // 1-12
    uint16_t wDayOfWeek = 0;
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

// A DATE (days since 1899-12-30 00:00, the fraction the time of day) with a
// status, standing in for the framework's date class.
class COleDateTime {
public:
    enum DateTimeStatus { valid = 0, invalid = 1 };

    COleDateTime() = default;
    explicit COleDateTime(double date) : m_dt(date), m_status(valid) {}

    // Every assignment that cannot give a date leaves the DATE 0.0 with the
    // status invalid, never a value from before the assignment: callers
    // return the DATE unexamined, and 0.0 is what an absent number reads as.

    // A DATE as it is (status valid).  Declared so that a double never
    // slips into the time-count assignment by conversion.
    COleDateTime& operator=(double date);
    // Breaks the time count down in local time.  A negative count (before
    // 1970-01-01 00:00 UTC, or -1, the failure value of the conversions) or
    // one whose local time lies past 9999-12-31 cannot be: invalid.  Any
    // integer type is taken as it is, never cut short.
    template <std::integral Count>
    COleDateTime& operator=(Count time_count) {
        return SetTimeCount(std::in_range<int64_t>(time_count) ? static_cast<int64_t>(time_count) : -1);
    }
    COleDateTime& SetTimeCount(int64_t time_count);
    // The DATE of the calendar fields year to second (day of the week and
    // milliseconds play no part); invalid unless they name a real date and
    // time of day in the years 100 to 9999.
    COleDateTime& operator=(const SystemTime& fields);

    // The calendar fields of the DATE, seconds rounded to the nearest; -1
    // when the status is invalid or the DATE cannot be broken down.
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;

    double m_dt = 0.0;
    DateTimeStatus m_status = valid;
};

// A DATE broken down into calendar fields (fractions of a second rounded to
// the nearest second); false when the DATE lies outside what it can express.
// Calendar fields as the Windows broken-down time holds them.
SystemTime Dt_SystemTimeFromCivil(const CivilTime& fields);

bool VariantTimeToSystemTime(double date, SystemTime* fields);

// Direction 0 (and any direction but 1): time count to local seconds, 0 for
// no date (1980 or earlier, or a count outside the range).  Direction 1:
// local seconds to time count under the zone's rules for that date; -1 when
// it cannot be expressed.
// Values below 86,400 (0, a time of day with no day, negative) have no
// calendar day and all give the no-date moment, 1978-11-30 00:00 local.
int64_t Dt_ConvertLocalSec(int64_t value, int direction);
// The local seconds of a host DATE taken as local wall-clock time under the
// zone's rules for that date; 0 for no date.
int64_t Dt_LocalSecFromDate(COleDateTime date);
// The time count of the fields taken as local standard time whatever the
// season; -1 when it cannot be expressed.
int64_t Dt_TimeFromSystemTime(const SystemTime* fields);

// Calendar fields that may lie outside their ranges (month 0 or 13, day 0
// or 2010, 25 hours); they carry over into the next larger field the way
// the standard normalisation does (month 0 is December of the year before).
struct LocalFields {
    int64_t year = 0;
    int64_t month = 1;  // 1-12 when in range
    int64_t day = 1;
    int64_t hour = 0;
    int64_t minute = 0;
    int64_t second = 0;
};

// The time count of local fields after normalisation.  dst_hint < 0 lets
// the zone's rules decide for the date, 0 presumes standard time, > 0
// daylight saving time.  -1 when the moment lies outside the time count or
// the wall-clock time outside the years 1970 to 9999.
int64_t Dt_TimeFromLocalFields(const LocalFields& fields, int dst_hint);

// DATE arithmetic shared by the conversions.
// Whole seconds since 1899-12-30 00:00 of a DATE (a negative DATE counts its
// fraction forward from the start of its day), the fraction rounded to the
// nearest second; false for a DATE outside the years 100 to 9999 or not a number.
bool Dt_SecondsFromDate(double date, int64_t* seconds);
// The DATE of whole seconds since 1899-12-30 00:00.
double Dt_DateFromSeconds(int64_t seconds);
// Whole seconds since 1970-01-01 00:00 of calendar fields, with no zone.
int64_t Dt_SecondsFromCivil(const SystemTime& fields);
// Calendar fields of whole seconds since 1970-01-01 00:00, with no zone;
// false outside the years 100 to 9999.
bool Dt_CivilFromSeconds(int64_t seconds, SystemTime* fields);

}  // namespace hyl
