// Host DATEs between GMT and local time, and seconds since 1970 as a DATE.
//
// The two directions between GMT and local time are exact inverses under
// the zone's rules for the date converted, whatever the season of the call;
// only the hour that the autumn change repeats has two GMT times, of which
// the zone's rules pick one.  These two work on calendar fields, not on the
// 32-bit time count, so they reach the same years: 1601 (where the Windows
// zone rules begin; natively the same limit keeps both builds alike) to 9999.
// A DATE outside them gives 0.0, as every date that cannot be converted does.
#include <cmath>

#include "platform/platform.h"
#include "textime/dates.h"
#include "textime/localsec.h"

namespace hyl {
namespace {

constexpr int kFirstZoneYear = 1601;

CivilTime civil_of(const SystemTime& f) { return {f.wYear, f.wMonth, f.wDay, f.wHour, f.wMinute, f.wSecond}; }


// The DATE of calendar fields, 0.0 when they are none.
double date_of(const SystemTime& fields) {
    COleDateTime date;
    date = fields;
    return date.m_dt;
}

}  // namespace

double Dt_GmtToLocal(double gmt) {
    SystemTime utc;
    if (!VariantTimeToSystemTime(gmt, &utc) || utc.wYear < kFirstZoneYear) return 0.0;
    CivilTime local;
    if (!platform().utc_to_local(Dt_SecondsFromCivil(utc), &local, nullptr) || local.year < kFirstZoneYear ||
        local.year > 9999)
        return 0.0;
    return date_of(Dt_SystemTimeFromCivil(local));
}

double Dt_LocalToGmt(double local) {
    SystemTime wall;
    if (!VariantTimeToSystemTime(local, &wall) || wall.wYear < kFirstZoneYear) return 0.0;
    int64_t moment = 0;
    SystemTime utc;
    if (!platform().local_to_utc(civil_of(wall), -1, &moment) || !Dt_CivilFromSeconds(moment, &utc) ||
        utc.wYear < kFirstZoneYear)
        return 0.0;
    return date_of(utc);
}

double Dt_DateFromSeconds1970(double seconds) {
    // Truncated toward zero into the time count; a count no DATE can show
    // (or not a number) is no moment, and the object says so with 0.0.
    COleDateTime date;
    if (seconds > -9.2e18 && seconds < 9.2e18)
        date = static_cast<int64_t>(seconds);
    else
        date = -1;
    return date.m_dt;
}

}  // namespace hyl
