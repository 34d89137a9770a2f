// What the date tests share: the two zones and two seasons every date case
// runs in, and wall-clock texts turned into time counts and DATEs by the C
// library's own UTC arithmetic, independently of the code under test.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "tests/fake_platform.h"

namespace hyltest {

struct DateZone {
    const char* name;
    const char* tz;
    bool summer_shift;  // one hour ahead from the last Sunday of March to the last of October
};

// UTC+3 all year, and UTC+3 with a one-hour summer shift.
inline const DateZone kDateZones[] = {
    {"fixed", "<+03>-3", false},
    {"shifted", "MSK-3MSD,M3.5.0/2,M10.5.0/3", true},
};

struct Season {
    const char* name;
    int64_t now;
};

// The moment of the call: 2010-07-15 12:00 UTC and 2010-01-15 12:00 UTC.
inline const Season kSeasons[] = {{"summer", 1279195200}, {"winter", 1263556800}};

// Runs body(zone, season) with the zone and the current moment set.
template <class Body>
void for_each_zone_and_season(Body body) {
    for (const auto& zone : kDateZones) {
        ScopedTz tz(zone.tz);
        for (const auto& season : kSeasons) {
            FakePlatform fake;
            fake.now = season.now;
            SCOPED_TRACE(std::string(zone.name) + " zone, " + season.name);
            body(zone, season);
        }
    }
}

// Hours east of UTC in the zone for a wall-clock time in or out of summer time.
inline int offset_hours(const DateZone& zone, bool summer) { return zone.summer_shift && summer ? 4 : 3; }

// "YYYY-MM-DD HH:MM:SS" (seconds, or the whole time, may be left out) as
// seconds since 1970-01-01 00:00 with no zone.
inline int64_t wall_seconds(const char* text) {
    struct tm tm {};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    std::sscanf(text, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<int64_t>(timegm(&tm));
}

// The time count of a local wall-clock time the given hours east of UTC.
inline int64_t time_of_wall(const char* text, int offset) { return wall_seconds(text) - offset * 3600; }

// The DATE of a wall-clock text.  Before 1899-12-30 a DATE is its day
// counted back, with the time of day still counting forward: -1.25 is
// 1899-12-29 06:00.
inline double date_of(const char* text) {
    const int64_t s = wall_seconds(text) + 25569LL * 86400;
    const int64_t day = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
    const double fraction = static_cast<double>(s - day * 86400) / 86400;
    return day >= 0 ? day + fraction : day - fraction;
}

// A DATE as "YYYY-MM-DD HH:MM:SS", rounded to the second, for readable failures.
inline std::string text_of_date(double date) {
    if (!std::isfinite(date)) return "not a number";
    const double whole = std::trunc(date);
    const int64_t s = static_cast<int64_t>(whole) * 86400 + std::llround(std::fabs(date - whole) * 86400.0);
    time_t t = static_cast<time_t>(s - 25569LL * 86400);
    struct tm tm {};
    gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

// A time count as the UTC wall-clock text of its moment.
inline std::string text_of_time(int64_t t) {
    if (t == -1) return "-1";
    return text_of_date(t / 86400.0 + 25569.0);
}

}  // namespace hyltest
