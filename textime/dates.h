// Dates as the exports see them: a field's text read as a date, and the
// conversions between GMT, local time and seconds since 1970.  Every DATE is
// an OLE Automation date (days since 1899-12-30 00:00, the fraction the time
// of day), a local wall-clock time unless its name says GMT.
#pragma once

#include <cstdint>

namespace hyl {

// A field text (Windows-1251, trailing blanks trimmed) read as a local date.
double Dt_DateFromFieldText(const char* text);
double Dt_GmtToLocal(double gmt);
double Dt_LocalToGmt(double local);
// Seconds since 1970-01-01 00:00 UTC, truncated toward zero, as a local DATE.
double Dt_DateFromSeconds1970(double seconds);

}  // namespace hyl
