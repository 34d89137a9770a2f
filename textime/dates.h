// Dates as the exports see them: a field's text read as a date, and the
// conversions between GMT, local time and seconds since 1970.  Every DATE is
// an OLE Automation date (days since 1899-12-30 00:00, the fraction the time
// of day), a local wall-clock time unless its name says GMT.
#pragma once

#include <cstdint>

namespace hyl {

// A field text (Windows-1251, trailing blanks trimmed) read as a local date
// (see datetext.h); a text that holds no usable date (1980 or earlier, after
// 9999-12-31, or no date at all) gives the no-date DATE 28,824.0
// (1978-11-30 00:00).
double Dt_DateFromFieldText(const char* text);
// GMT wall-clock time to local and back, each under the zone's rules for the
// date converted; 0.0 for a DATE outside the years 1601 to 9999.
double Dt_GmtToLocal(double gmt);
double Dt_LocalToGmt(double local);
// Seconds since 1970-01-01 00:00 UTC, truncated toward zero, as a local DATE;
// 0.0 before 1970 or when the local time lies past 9999-12-31.
double Dt_DateFromSeconds1970(double seconds);

}  // namespace hyl
