// The library's own date count and the date object it hands DATEs through.
//
// Local seconds: a signed 32-bit count, 86,400 x D + seconds of the day,
// where D counts local calendar days from 1979-12-31 (1980-01-01 is day 1);
// wall-clock time with no zone or daylight saving in it; 0 means no date.
// The time count is seconds since 1970-01-01 00:00 UTC and keeps the range of
// a signed 32-bit count on every platform.
#pragma once

#include <cstdint>

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

    // Breaks the time count down in local time; invalid when it cannot be.
    COleDateTime& operator=(int32_t time_count);
    // The DATE of the calendar fields year to second.
    COleDateTime& operator=(const SystemTime& fields);

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
bool VariantTimeToSystemTime(double date, SystemTime* fields);

// Direction 0: time count to local seconds (0 for no date).  Direction 1:
// local seconds to time count (-1 when it cannot be expressed).
int32_t Dt_ConvertLocalSec(int32_t value, int direction);
int32_t Dt_LocalSecFromDate(COleDateTime date);
int32_t Dt_TimeFromSystemTime(const SystemTime* fields);

}  // namespace hyl
