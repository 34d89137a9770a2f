// The date object, the DATE breakdown and local seconds, in a zone without
// daylight saving and one with it, called in summer and in winter.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/dates_support.h"
#include "textime/localsec.h"

using namespace hyl;
using namespace hyltest;

namespace {

SystemTime fields(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    SystemTime st;
    st.wYear = static_cast<uint16_t>(y);
    st.wMonth = static_cast<uint16_t>(mo);
    st.wDay = static_cast<uint16_t>(d);
    st.wHour = static_cast<uint16_t>(h);
    st.wMinute = static_cast<uint16_t>(mi);
    st.wSecond = static_cast<uint16_t>(s);
    return st;
}

std::string text_of_fields(const SystemTime& st) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
    return text;
}

}  // namespace

TEST(DateObject, BreakdownOfDates) {
    struct Case {
        double date;
        const char* fields;  // nullptr: cannot be broken down
    } cases[] = {
        {40262.5, "2010-03-25 12:00:00"},
        {40262.0 + 14.5 / 24, "2010-03-25 14:30:00"},
        {0.0, "1899-12-30 00:00:00"},
        // A negative DATE's fraction counts forward from the start of its day.
        {-1.25, "1899-12-29 06:00:00"},
        {-0.5, "1899-12-30 12:00:00"},
        // Fractions of a second go to the nearest second, across midnight too.
        {40262.0 + (14.5 * 3600 - 0.4) / 86400, "2010-03-25 14:30:00"},
        {40262.0 + (14.5 * 3600 + 0.4) / 86400, "2010-03-25 14:30:00"},
        {40262.0 - 0.2 / 86400, "2010-03-25 00:00:00"},
        {-1.0 - (86400 - 0.3) / 86400, "1899-12-30 00:00:00"},
        {-657434.0, "0100-01-01 00:00:00"},
        {2958465.0 + 86399.0 / 86400, "9999-12-31 23:59:59"},
        {2958465.0 + (86400 - 0.2) / 86400, nullptr},
        {-657435.0, nullptr},
        {2958466.0, nullptr},
        {1e300, nullptr},
        {std::numeric_limits<double>::quiet_NaN(), nullptr},
        {std::numeric_limits<double>::infinity(), nullptr},
    };
    for (const auto& c : cases) {
        SystemTime st;
        const bool ok = VariantTimeToSystemTime(c.date, &st);
        ASSERT_EQ(ok, c.fields != nullptr) << c.date;
        if (ok) {
            EXPECT_EQ(text_of_fields(st), c.fields) << c.date;
        }
        COleDateTime d(c.date);
        EXPECT_EQ(d.GetYear(), ok ? st.wYear : -1) << c.date;
        EXPECT_EQ(d.GetSecond(), ok ? st.wSecond : -1) << c.date;
    }
    SystemTime st;
    ASSERT_TRUE(VariantTimeToSystemTime(40262.5, &st));
    EXPECT_EQ(st.wDayOfWeek, 4);  // a Thursday
    const COleDateTime noon(40262.5);
    EXPECT_EQ(noon.GetMonth(), 3);
    EXPECT_EQ(noon.GetDay(), 25);
    EXPECT_EQ(noon.GetHour(), 12);
    EXPECT_EQ(noon.GetMinute(), 0);
}

TEST(DateObject, AssignmentFromFields) {
    struct Case {
        SystemTime fields;
        double date;  // 0.0 with the status invalid when the fields are no date
    } cases[] = {
        {fields(2010, 3, 25, 14, 30), date_of("2010-03-25 14:30")},
        {fields(1899, 12, 29, 6), -1.25},
        {fields(2000, 2, 29), date_of("2000-02-29")},
        {fields(9999, 12, 31, 23, 59, 59), 2958465.0 + 86399.0 / 86400},
        {fields(2010, 2, 29), 0.0},
        {fields(2010, 13, 1), 0.0},
        {fields(2010, 0, 1), 0.0},
        {fields(2010, 3, 0), 0.0},
        {fields(2010, 3, 25, 24), 0.0},
        {fields(2010, 3, 25, 0, 60), 0.0},
        {fields(2010, 3, 25, 0, 0, 60), 0.0},
        {fields(99, 12, 31), 0.0},
        {fields(10000, 1, 1), 0.0},
    };
    for (const auto& c : cases) {
        COleDateTime d(12345.0);
        d = c.fields;
        EXPECT_DOUBLE_EQ(d.m_dt, c.date) << text_of_fields(c.fields);
        EXPECT_EQ(d.m_status, c.date == 0.0 ? COleDateTime::invalid : COleDateTime::valid)
            << text_of_fields(c.fields);
        SystemTime back;
        if (d.m_status == COleDateTime::valid) {
            ASSERT_TRUE(VariantTimeToSystemTime(d.m_dt, &back));
            EXPECT_EQ(text_of_fields(back), text_of_fields(c.fields));
        }
    }
    // Day of the week and milliseconds play no part.
    SystemTime odd = fields(2010, 3, 25, 14, 30);
    odd.wDayOfWeek = 6;
    odd.wMilliseconds = 999;
    COleDateTime d;
    d = odd;
    EXPECT_DOUBLE_EQ(d.m_dt, date_of("2010-03-25 14:30"));
}

TEST(DateObject, AssignmentFromTimeCount) {
    for_each_zone_and_season([](const DateZone& zone, const Season&) {
        struct Case {
            int64_t time_count;
            const char* local;  // nullptr: invalid, DATE 0.0
        } cases[] = {
            {0, "1970-01-01 03:00:00"},
            {time_of_wall("2010-03-25 17:30", 3), "2010-03-25 17:30:00"},
            {time_of_wall("2010-07-25 12:00", 0), zone.summer_shift ? "2010-07-25 16:00:00" : "2010-07-25 15:00:00"},
            {std::numeric_limits<int32_t>::max(), "2038-01-19 06:14:07"},
            {int64_t{1} << 31, "2038-01-19 06:14:08"},
            {time_of_wall("2100-07-01 12:00", 0), zone.summer_shift ? "2100-07-01 16:00:00" : "2100-07-01 15:00:00"},
            {time_of_wall("9999-12-31 23:59:59", 3), "9999-12-31 23:59:59"},
            {time_of_wall("10000-01-01 00:00:00", 3), nullptr},
            {std::numeric_limits<int64_t>::max(), nullptr},
            {-1, nullptr},
            {std::numeric_limits<int32_t>::min(), nullptr},
        };
        for (const auto& c : cases) {
            COleDateTime d(12345.0);
            d = c.time_count;
            if (c.local) {
                EXPECT_EQ(d.m_status, COleDateTime::valid) << c.time_count;
                EXPECT_EQ(text_of_date(d.m_dt), c.local) << c.time_count;
            } else {
                EXPECT_EQ(d.m_status, COleDateTime::invalid) << c.time_count;
                EXPECT_EQ(d.m_dt, 0.0) << c.time_count;
                EXPECT_EQ(d.GetYear(), -1);
            }
        }
        COleDateTime d;
        d = 0;
        EXPECT_DOUBLE_EQ(d.m_dt, 25569.125);
        // A double is a DATE, never a time count.
        d = 40262.5;
        EXPECT_EQ(d.m_status, COleDateTime::valid);
        EXPECT_EQ(d.m_dt, 40262.5);
    });
}

TEST(LocalSeconds, TimeCountToLocalSeconds) {
    for_each_zone_and_season([](const DateZone& zone, const Season&) {
        struct Case {
            const char* local;
            bool summer;
            int64_t local_seconds;
        } cases[] = {
            {"1981-01-01 00:00:00", false, 31708800},
            {"1981-01-01 00:00:01", false, 31708801},
            {"1980-12-31 23:59:59", false, 0},
            {"1975-06-01 00:00:00", false, 0},
            {"2000-02-29 00:00:00", false, 636336000},
            {"2000-03-01 00:00:00", false, 636422400},
            {"2010-01-01 00:00:00", false, 946857600},
            {"2010-03-25 00:00:00", false, 954028800},
            {"2010-03-25 14:30:00", false, 954081000},
            {"2010-07-25 00:00:00", true, 964569600},
            {"2038-01-19 06:14:07", false, 1832048047},
            {"2038-01-19 06:14:08", false, 1832048048},
            {"2048-01-18 03:14:08", false, 2147483648},
            {"2100-03-01 00:00:00", false, 3792096000},
            {"2400-02-29 00:00:00", false, 13259116800},
            {"9999-12-31 23:59:59", false, 253086854399},
        };
        for (const auto& c : cases) {
            const int64_t t = time_of_wall(c.local, offset_hours(zone, c.summer));
            EXPECT_EQ(Dt_ConvertLocalSec(t, 0), c.local_seconds) << c.local;
        }
        EXPECT_EQ(Dt_ConvertLocalSec(time_of_wall("10000-01-01 00:00:00", 3), 0), 0);
        EXPECT_EQ(Dt_ConvertLocalSec(-1, 0), 0);
        EXPECT_EQ(Dt_ConvertLocalSec(std::numeric_limits<int32_t>::min(), 0), 0);
    });
}

TEST(LocalSeconds, LocalSecondsToTimeCount) {
    for_each_zone_and_season([](const DateZone& zone, const Season&) {
        struct Case {
            int64_t local_seconds;
            const char* local;  // nullptr: cannot be expressed, -1
            bool summer;
        } cases[] = {
            {86400, "1980-01-01 00:00:00", false},
            {31622400, "1980-12-31 00:00:00", false},
            {31708800, "1981-01-01 00:00:00", false},
            {636336000, "2000-02-29 00:00:00", false},
            {954081000, "2010-03-25 14:30:00", false},
            // Winter time still, though 3,651 days earlier summer time was in force.
            {954201600, "2010-03-27 00:00:00", false},
            {964569600, "2010-07-25 00:00:00", true},
            {1832048047, "2038-01-19 06:14:07", false},
            {1832048048, "2038-01-19 06:14:08", false},
            {std::numeric_limits<int32_t>::max(), "2048-01-18 03:14:07", false},
            {2147483648, "2048-01-18 03:14:08", false},
            {3792009600, "2100-02-28 00:00:00", false},
            {3792096000, "2100-03-01 00:00:00", false},  // 2100 has no 29th of February
            {13259116800, "2400-02-29 00:00:00", false},
            {253086854399, "9999-12-31 23:59:59", false},
            {253086854400, nullptr, false},
            {std::numeric_limits<int64_t>::max(), nullptr, false},
            // No calendar day: the no-date moment, whatever the time of day.
            {0, "1978-11-30 00:00:00", false},
            {1, "1978-11-30 00:00:00", false},
            {36000, "1978-11-30 00:00:00", false},
            {86399, "1978-11-30 00:00:00", false},
            {-5, "1978-11-30 00:00:00", false},
            {std::numeric_limits<int32_t>::min(), "1978-11-30 00:00:00", false},
        };
        for (const auto& c : cases) {
            const int64_t want = c.local ? time_of_wall(c.local, offset_hours(zone, c.summer)) : -1;
            EXPECT_EQ(text_of_time(Dt_ConvertLocalSec(c.local_seconds, 1)), text_of_time(want)) << c.local_seconds;
        }
        COleDateTime no_date;
        no_date = Dt_ConvertLocalSec(0, 1);
        EXPECT_DOUBLE_EQ(no_date.m_dt, 28824.0);
    });
}

// Every day from 1981 (local seconds of 1980 and before read as no date) to
// 2200, past both 2038 and 2048, at a time of day that moves through the
// hours, decodes to the wall-clock time that encodes back to it; only the
// hour that the spring change skips has no wall-clock time of its own.
TEST(LocalSeconds, RoundTripsThroughTheTimeCount) {
    for_each_zone_and_season([](const DateZone& zone, const Season&) {
        int failures = 0;
        for (int64_t value = 31708800 + 7; value <= 6942672000 && failures < 5; value += 86400 + 3607) {
            const int64_t t = Dt_ConvertLocalSec(value, 1);
            const int64_t back = Dt_ConvertLocalSec(t, 0);
            if (back == value) continue;
            // 02:00-03:00 on the last Sunday of March is skipped by the clock.
            const bool skipped_hour = zone.summer_shift && back == value + 3600 && value % 86400 >= 7200 &&
                                      value % 86400 < 10800;
            if (!skipped_hour) {
                ++failures;
                ADD_FAILURE() << value << " came back as " << back;
            }
        }
    });
}

TEST(LocalSeconds, FromHostDates) {
    for_each_zone_and_season([](const DateZone&, const Season&) {
        struct Case {
            double date;
            int64_t local_seconds;
        } cases[] = {
            // The date decides daylight saving, not the season of the call.
            {date_of("2010-01-25"), 948931200},
            {date_of("2010-07-25"), 964569600},
            {date_of("2010-03-27"), 954201600},
            {date_of("2010-03-25 14:30"), 954081000},
            {date_of("2010-03-25 14:30") + 0.4 / 86400, 954081000},
            {date_of("2010-03-25 14:30") - 0.4 / 86400, 954081000},
            {date_of("1981-01-01"), 31708800},
            {date_of("1980-12-31 23:59:59"), 0},
            {date_of("1969-12-31 12:00"), 0},
            {date_of("2038-01-19 06:14:07"), 1832048047},
            {date_of("2038-01-19 06:14:08"), 1832048048},
            {date_of("2040-05-01"), 1903996800},
            {date_of("2400-02-29"), 13259116800},
            {date_of("9999-12-31 23:59:59"), 253086854399},
            {1e10, 0},
            {std::numeric_limits<double>::quiet_NaN(), 0},
        };
        for (const auto& c : cases)
            EXPECT_EQ(Dt_LocalSecFromDate(COleDateTime(c.date)), c.local_seconds) << text_of_date(c.date);
        COleDateTime invalid;
        invalid = -1;
        EXPECT_EQ(Dt_LocalSecFromDate(invalid), 0);
    });
}

TEST(LocalSeconds, FieldsAsStandardTime) {
    for_each_zone_and_season([](const DateZone&, const Season&) {
        struct Case {
            SystemTime fields;
            const char* utc;  // nullptr: -1
        } cases[] = {
            // Standard time is presumed even in summer.
            {fields(2010, 7, 25, 12), "2010-07-25 09:00:00"},
            {fields(2010, 1, 25, 12), "2010-01-25 09:00:00"},
            // Out-of-range fields carry over.
            {fields(2010, 0, 25, 12), "2009-12-25 09:00:00"},
            {fields(2010, 3, 0), "2010-02-27 21:00:00"},
            {fields(2010, 3, 25, 25), "2010-03-25 22:00:00"},
            {fields(1970, 1, 1, 3), "1970-01-01 00:00:00"},
            {fields(1970, 1, 1, 2, 59, 59), nullptr},
            {fields(2038, 1, 19, 6, 14, 7), "2038-01-19 03:14:07"},
            {fields(2038, 1, 19, 6, 14, 8), "2038-01-19 03:14:08"},
            {fields(2200, 7, 1, 12), "2200-07-01 09:00:00"},
            {fields(9999, 12, 31, 23, 59, 59), "9999-12-31 20:59:59"},
            {fields(10000, 1, 1), nullptr},
            {fields(65535, 65535, 65535, 65535, 65535, 65535), nullptr},
        };
        for (const auto& c : cases) {
            const int64_t want = c.utc ? wall_seconds(c.utc) : -1;
            EXPECT_EQ(text_of_time(Dt_TimeFromSystemTime(&c.fields)), text_of_time(want))
                << text_of_fields(c.fields);
        }
    });
}
