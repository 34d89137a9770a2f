// GMT and local time, and seconds since 1970, through the exports, in a zone
// without daylight saving and one with it, called in summer and in winter.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hyl.h"
#include "tests/dates_support.h"
#include "textime/dates.h"

using namespace hyltest;
using hyl::Dt_DateFromFieldText;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kNoResult = "1899-12-30 00:00:00";

struct ZoneCase {
    double argument;
    const char* fixed;    // result in the zone without daylight saving
    const char* shifted;  // result in the zone with the summer shift
};

void check(const char* what, double (*convert)(double), const ZoneCase* cases, size_t count) {
    for_each_zone_and_season([&](const DateZone& zone, const Season&) {
        for (size_t i = 0; i < count; ++i) {
            const ZoneCase& c = cases[i];
            EXPECT_EQ(text_of_date(convert(c.argument)), zone.summer_shift ? c.shifted : c.fixed)
                << what << " of " << text_of_date(c.argument) << " (" << c.argument << ")";
        }
    });
}

// Whether a wall-clock text lies in the hour 02:00-03:00 of the last Sunday of the month.
bool in_changing_hour(const std::string& text, const char* month) {
    const bool sunday = (wall_seconds(text.c_str()) / 86400 + 4) % 7 == 0;  // 1970-01-01 was a Thursday
    return text.substr(5, 2) == month && std::stoi(text.substr(8, 2)) >= 25 && sunday && text.substr(11, 2) == "02";
}

}  // namespace

TEST(TimeZones, GmtToLocal) {
    const ZoneCase cases[] = {
        {40203.5, "2010-01-25 15:00:00", "2010-01-25 15:00:00"},
        {40384.5, "2010-07-25 15:00:00", "2010-07-25 16:00:00"},
        {40384.5 + 0.4 / 86400, "2010-07-25 15:00:00", "2010-07-25 16:00:00"},
        // The spring change: 02:00 standard time on the last Sunday of March.
        {date_of("2010-03-27 22:59:59"), "2010-03-28 01:59:59", "2010-03-28 01:59:59"},
        {date_of("2010-03-27 23:00:00"), "2010-03-28 02:00:00", "2010-03-28 03:00:00"},
        // The autumn change: 03:00 summer time on the last Sunday of October.
        {date_of("2010-10-30 22:59:59"), "2010-10-31 01:59:59", "2010-10-31 02:59:59"},
        {date_of("2010-10-30 23:00:00"), "2010-10-31 02:00:00", "2010-10-31 02:00:00"},
        // Outside the time count's years the zone's rules still apply.
        {date_of("1969-12-31 22:00"), "1970-01-01 01:00:00", "1970-01-01 01:00:00"},
        {date_of("2040-07-01 12:00"), "2040-07-01 15:00:00", "2040-07-01 16:00:00"},
        {date_of("1601-01-01 00:00"), "1601-01-01 03:00:00", "1601-01-01 03:00:00"},
        {date_of("9999-12-31 20:00"), "9999-12-31 23:00:00", "9999-12-31 23:00:00"},
        // Nothing to convert: 0.0.
        {date_of("1600-12-31 23:00"), kNoResult, kNoResult},
        {date_of("9999-12-31 22:00"), kNoResult, kNoResult},
        {1e10, kNoResult, kNoResult},
        {kNaN, kNoResult, kNoResult},
    };
    check("GMT_To_Local", GMT_To_Local, cases, std::size(cases));
}

TEST(TimeZones, LocalToGmt) {
    const ZoneCase cases[] = {
        {40203.5, "2010-01-25 09:00:00", "2010-01-25 09:00:00"},
        {40384.5, "2010-07-25 09:00:00", "2010-07-25 08:00:00"},
        {date_of("2010-03-28 01:59:59"), "2010-03-27 22:59:59", "2010-03-27 22:59:59"},
        {date_of("2010-03-28 03:00:00"), "2010-03-28 00:00:00", "2010-03-27 23:00:00"},
        // Skipped by the spring change: standard time, as the clock had not yet moved.
        {date_of("2010-03-28 02:30:00"), "2010-03-27 23:30:00", "2010-03-27 23:30:00"},
        {date_of("2010-10-31 03:00:00"), "2010-10-31 00:00:00", "2010-10-31 00:00:00"},
        {date_of("1970-01-01 01:00"), "1969-12-31 22:00:00", "1969-12-31 22:00:00"},
        {date_of("2040-07-01 16:00"), "2040-07-01 13:00:00", "2040-07-01 12:00:00"},
        {date_of("1601-01-01 00:00"), kNoResult, kNoResult},
        {1e10, kNoResult, kNoResult},
        {kNaN, kNoResult, kNoResult},
    };
    check("Local_To_GMT", Local_To_GMT, cases, std::size(cases));
}

// Each direction undoes the other, except where the clock skips an hour (a
// local time that never happens) or repeats one (two GMT times for it).
TEST(TimeZones, DirectionsAreInverses) {
    for_each_zone_and_season([](const DateZone& zone, const Season&) {
        int failures = 0;
        for (double gmt = date_of("1969-12-01"); gmt < date_of("2200-01-01") && failures < 5;
             gmt += 5 + 3607.0 / 86400) {
            const double local = GMT_To_Local(gmt);
            const double back = Local_To_GMT(local);
            const std::string local_text = text_of_date(local);
            const bool repeated_hour = zone.summer_shift && in_changing_hour(local_text, "10") &&
                                       std::fabs(back - gmt) * 24 > 0.999 && std::fabs(back - gmt) * 24 < 1.001;
            if (text_of_date(back) != text_of_date(gmt) && !repeated_hour) {
                ++failures;
                ADD_FAILURE() << text_of_date(gmt) << " -> " << local_text << " -> " << text_of_date(back);
            }
            // A skipped local time is standard time and comes back an hour later.
            const double again = GMT_To_Local(Local_To_GMT(gmt));
            const bool skipped_hour = zone.summer_shift && in_changing_hour(text_of_date(gmt), "03");
            if (text_of_date(again) != text_of_date(skipped_hour ? gmt + 1.0 / 24 : gmt)) {
                ++failures;
                ADD_FAILURE() << text_of_date(gmt) << " as local time came back as " << text_of_date(again);
            }
        }
    });
}

// A wall-clock time the clock skipped is read with the offset in force
// before the jump, in any zone and at any hour the jump happens; the times
// either side of the gap are what they always were.
TEST(TimeZones, SkippedTimesAreTheTimeBeforeTheJump) {
    struct Case {
        const char* tz;
        const char* local;
        const char* gmt;
        const char* field;       // the local time as a field text
        const char* read_back;   // that field read as a date
    } cases[] = {
        // Helsinki: 03:00 becomes 04:00 on the last Sunday of March.
        {"EET-2EEST,M3.5.0/3,M10.5.0/4", "2010-03-28 03:30:00", "2010-03-28 01:30:00", "28.03.2010 03:30",
         "2010-03-28 04:30:00"},
        {"EET-2EEST,M3.5.0/3,M10.5.0/4", "2010-03-28 03:00:00", "2010-03-28 01:00:00", "28.03.2010 03:00",
         "2010-03-28 04:00:00"},
        {"EET-2EEST,M3.5.0/3,M10.5.0/4", "2010-03-28 03:59:59", "2010-03-28 01:59:59", "28.03.2010 03:59:59",
         "2010-03-28 04:59:59"},
        {"EET-2EEST,M3.5.0/3,M10.5.0/4", "2010-03-28 02:59:59", "2010-03-28 00:59:59", "28.03.2010 02:59:59",
         "2010-03-28 02:59:59"},
        {"EET-2EEST,M3.5.0/3,M10.5.0/4", "2010-03-28 04:00:00", "2010-03-28 01:00:00", "28.03.2010 04:00",
         "2010-03-28 04:00:00"},
        // A southern zone whose clock jumps from midnight to 01:00 in October.
        {"<-03>3<-02>,M10.3.0/0,M2.3.0/0", "2010-10-17 00:30:00", "2010-10-17 03:30:00", "17.10.2010 00:30",
         "2010-10-17 01:30:00"},
        // A zone whose clock jumps two hours.
        {"<+01>-1<+03>-3,M3.5.0/1,M10.5.0/3", "2010-03-28 02:15:00", "2010-03-28 01:15:00", "28.03.2010 02:15",
         "2010-03-28 04:15:00"},
    };
    for (const auto& c : cases) {
        ScopedTz tz(c.tz);
        FakePlatform fake;
        fake.now = kSeasons[0].now;
        EXPECT_EQ(text_of_date(Local_To_GMT(date_of(c.local))), c.gmt) << c.tz << " " << c.local;
        EXPECT_EQ(text_of_date(Dt_DateFromFieldText(c.field)), c.read_back) << c.tz << " " << c.field;
    }
}

// Past the last rule change the zone database records, its last rules go
// on: Helsinki keeps its summer time in 2200 and in 9999.
TEST(TimeZones, FarFutureTakesTheZonesLastRules) {
    struct Case {
        const char* tz;
        const char* gmt;
        const char* local;
        const char* field;  // the local time as a field text
    } cases[] = {
        {"Europe/Helsinki", "2200-07-01 12:00", "2200-07-01 15:00:00", "01.07.2200 15:00"},
        {"Europe/Helsinki", "2200-01-15 12:00", "2200-01-15 14:00:00", "15.01.2200 14:00"},
        {"Europe/Helsinki", "9999-07-01 12:00", "9999-07-01 15:00:00", "01.07.9999 15:00"},
        {"America/New_York", "2500-07-04 16:00", "2500-07-04 12:00:00", "04.07.2500 12:00"},
    };
    for (const auto& c : cases) {
        ScopedTz tz(c.tz);
        EXPECT_EQ(text_of_date(GMT_To_Local(date_of(c.gmt))), c.local) << c.tz << " " << c.gmt;
        EXPECT_EQ(text_of_date(Local_To_GMT(date_of(c.local))), text_of_date(date_of(c.gmt))) << c.tz;
        EXPECT_EQ(text_of_date(Dt_DateFromFieldText(c.field)), c.local) << c.tz << " " << c.field;
    }
}

TEST(TimeZones, SecondsSince1970) {
    const ZoneCase cases[] = {
        {0.0, "1970-01-01 03:00:00", "1970-01-01 03:00:00"},
        {-0.5, "1970-01-01 03:00:00", "1970-01-01 03:00:00"},
        {1.9, "1970-01-01 03:00:01", "1970-01-01 03:00:01"},
        {1269527400.7, "2010-03-25 17:30:00", "2010-03-25 17:30:00"},
        {1279195200.0, "2010-07-15 15:00:00", "2010-07-15 16:00:00"},
        {2147483647.0, "2038-01-19 06:14:07", "2038-01-19 06:14:07"},
        {2147483647.9, "2038-01-19 06:14:07", "2038-01-19 06:14:07"},
        {2147483648.0, "2038-01-19 06:14:08", "2038-01-19 06:14:08"},
        {2.2e9, "2039-09-19 02:06:40", "2039-09-19 03:06:40"},
        {4102444800.0, "2100-01-01 03:00:00", "2100-01-01 03:00:00"},
        {253402289999.0, "9999-12-31 23:59:59", "9999-12-31 23:59:59"},
        // No moment a DATE can show: 0.0.
        {253402290000.0, kNoResult, kNoResult},
        {-1.0, kNoResult, kNoResult},
        {-1.5, kNoResult, kNoResult},
        {-2147483649.0, kNoResult, kNoResult},
        {1e20, kNoResult, kNoResult},
        {-std::numeric_limits<double>::infinity(), kNoResult, kNoResult},
        {kNaN, kNoResult, kNoResult},
    };
    check("Hyl_GetDateByNsecFrom1970", Hyl_GetDateByNsecFrom1970, cases, std::size(cases));
    ScopedTz tz("<+03>-3");
    EXPECT_DOUBLE_EQ(Hyl_GetDateByNsecFrom1970(0.0), 25569.125);
    EXPECT_DOUBLE_EQ(Hyl_GetDateByNsecFrom1970(-1.0), 0.0);
}
