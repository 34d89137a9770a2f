// Date and time text read from fields, in a zone without daylight saving and
// one with it, called in summer and in winter (the current year is 2010).
#include <gtest/gtest.h>

#include "dbf/dbf.h"
#include "frame/frame.h"
#include "hyl.h"
#include "tests/dates_support.h"
#include "tests/dbf_builder.h"
#include "textime/datetext.h"
#include "textime/dates.h"

using namespace hyl;
using namespace hyltest;

namespace {

constexpr const char* kNoDate = "1978-11-30 00:00:00";

}  // namespace

TEST(DateText, FieldTextAsDate) {
    for_each_zone_and_season([](const DateZone& zone, const Season& season) {
        // A lone day is in the current month.
        const bool summer = season.now == kSeasons[0].now;
        EXPECT_EQ(text_of_date(Dt_DateFromFieldText("25.")), summer ? "2010-07-25 00:00:00" : "2010-01-25 00:00:00");
        EXPECT_EQ(text_of_date(Dt_DateFromFieldText("25:")), summer ? "2010-07-25 00:00:00" : "2010-01-25 00:00:00");
        // A time the spring change skips is standard time: the clock had not yet moved.
        EXPECT_EQ(text_of_date(Dt_DateFromFieldText("28.03.2010 02:30")),
                  zone.summer_shift ? "2010-03-28 03:30:00" : "2010-03-28 02:30:00");
        struct Case {
            const char* text;
            const char* local;
        } cases[] = {
            {"25.03.2010", "2010-03-25 00:00:00"},
            {"25.3.10", "2010-03-25 00:00:00"},
            {"25.03.2010 14:30", "2010-03-25 14:30:00"},
            {"25.03.2010 14:30:15", "2010-03-25 14:30:15"},
            {"25.03.2010 14.30", "2010-03-25 14:30:00"},
            {"25.03.2010 25:70:99", "2010-03-26 02:11:39"},
            {"25.03.2010\xE3.", "2010-03-25 00:00:00"},  // a Cyrillic letter after the date
            // Blanks before the date are skipped, not read as a time of day.
            {" 25.03.2010", "2010-03-25 00:00:00"},
            {"   25.03.2010 14:30", "2010-03-25 14:30:00"},
            {"\t25.03.2010", "2010-03-25 00:00:00"},
            {" 20100325", "2010-03-25 00:00:00"},
            // What the text leaves out is today's.
            {"25.03", "2010-03-25 00:00:00"},
            {"2010.03.25", "2030-08-31 00:00:00"},
            {"01.01.1981", "1981-01-01 00:00:00"},
            // Daylight saving is the date's own, whatever the season of the call.
            {"25.01.2010", "2010-01-25 00:00:00"},
            {"25.07.2010", "2010-07-25 00:00:00"},
            {"27.03.2010", "2010-03-27 00:00:00"},
            {"31.10.2010 12:00", "2010-10-31 12:00:00"},
            // Past the ends of the 32-bit time count (2038-01-19 03:14:07 UTC)
            // and of 32-bit local seconds (2048-01-18 03:14:07), to 9999.
            {"19.01.2038 06:14:07", "2038-01-19 06:14:07"},
            {"19.01.2038 06:14:08", "2038-01-19 06:14:08"},
            {"01.05.2040", "2040-05-01 00:00:00"},
            {"18.01.2048 03:14:08", "2048-01-18 03:14:08"},
            {"31.12.2099 23:59", "2099-12-31 23:59:00"},
            {"29.02.2100", "2100-03-01 00:00:00"},
            {"20400501", "2040-05-01 00:00:00"},
            {"20991231", "2099-12-31 00:00:00"},
            {"24000229", "2400-02-29 00:00:00"},
            {"99991231", "9999-12-31 00:00:00"},
            {"31.12.9999 23:59:59", "9999-12-31 23:59:59"},
            // No date.
            {"31.12.9999 24:00", kNoDate},
            {"01.01.10000", kNoDate},
            {"31.12.1980", kNoDate},
            {"25.03.50", kNoDate},
            {"25.03.1949", kNoDate},  // four digits are the year as written, not 3849
            {"25.03.1000", kNoDate},
            {"19491231", kNoDate},
            {"25.03.150", "2050-03-25 00:00:00"},
            {".", kNoDate},
            {":", kNoDate},
            {"31.12.1980 10:00", kNoDate},
            {"31.12.1980 25:00", kNoDate},
            {"99999999999.03.2010", kNoDate},
            {"25.03.99999999999", kNoDate},
            {"25.03.2010 99999999999:00", kNoDate},
            // Compact digit dates.
            {"20100325", "2010-03-25 00:00:00"},
            {"201003251", "2010-03-25 00:00:00"},
            {"100325", "2010-03-25 00:00:00"},
            {"10032", "2010-03-02 00:00:00"},
            {"2010032", "2020-10-03 00:00:00"},
            {"0325", "2010-03-25 00:00:00"},
            {"0015", "2010-01-15 00:00:00"},
            {"20100015", "2009-12-15 00:00:00"},
            {"100015", "2009-12-15 00:00:00"},
            {"25-03-2010", "2011-12-31 00:00:00"},
            // A signed month counts back from January.
            {"-512", "2009-08-12 00:00:00"},
            {"  -512", "2009-08-12 00:00:00"},
            {"-112", "2009-12-12 00:00:00"},
            {"-012", "2010-01-12 00:00:00"},
            {"+312", "2010-03-12 00:00:00"},
            {"0325 14", "2010-03-25 00:00:00"},
            {"03 5", "2010-03-05 00:00:00"},
            // No number at the month or the day place: no date.
            {"", kNoDate},
            {"12", kNoDate},
            {"031", "2010-03-01 00:00:00"},
            {"XYZ", kNoDate},
            {"03-", kNoDate},
            {"19801231", kNoDate},
        };
        for (const auto& c : cases)
            EXPECT_EQ(text_of_date(Dt_DateFromFieldText(c.text)), c.local) << '"' << c.text << '"';
        EXPECT_DOUBLE_EQ(Dt_DateFromFieldText("31.12.1980"), 28824.0);
        EXPECT_DOUBLE_EQ(Dt_DateFromFieldText("25.03.2010"), 40262.0);
        EXPECT_DOUBLE_EQ(Dt_DateFromFieldText("01.01.1981"), 29587.0);
    });
}

TEST(DateText, ParsersGiveLocalSeconds) {
    for_each_zone_and_season([](const DateZone&, const Season&) {
        EXPECT_EQ(Dt_ParseDayMonthYear("25.03.2010"), 954028800);
        EXPECT_EQ(Dt_ParseDayMonthYear("25/7/10"), 964569600);
        EXPECT_EQ(Dt_ParseDayMonthYear("no digits"), 0);
        EXPECT_EQ(Dt_ParseDayMonthYear("31.12.1980"), 0);
        EXPECT_EQ(Dt_ParseCompactDate("20100325"), 954028800);
        EXPECT_EQ(Dt_ParseCompactDate("20100725"), 964569600);
        EXPECT_EQ(Dt_ParseCompactDate(""), 0);
    });
}

TEST(DateText, TimeOfDay) {
    struct Case {
        const char* text;
        int64_t seconds;
    } cases[] = {
        {"14:30", 52200},
        {"14:30:15", 52215},
        {"14.30", 52200},
        {"7", 25200},
        {"25:70:99", 94299},
        {"1:2:3:4", 3723},
        {"h 1 m 2", 3720},
        {"", 0},
        {"99999999999", 2147483647LL * 3600},
    };
    for (const auto& c : cases) EXPECT_EQ(Dt_ParseTimeOfDay(c.text), c.seconds) << '"' << c.text << '"';
}

// The export reads the field's text as stored: trailing blanks trimmed,
// leading ones kept and then skipped by the date reading.
TEST(DateText, FieldOfTheCurrentTable) {
    TempDir dir;
    DbfBuilder b;
    b.fields = {{"D", 'D', 8, 0}, {"WHEN", 'C', 20, 0}};
    b.records = {"20100325   25.03.2010 14:30", "         31.12.1980"};
    const std::string path = dir.path("dates.dbf");
    write_file(path, b.build());
    for_each_zone_and_season([&](const DateZone&, const Season&) {
        frame_load();
        ASSERT_EQ(Hyl_OpenTableForRead(path.c_str()), 1);
        EXPECT_EQ(text_of_date(Hyl_GetFieldDate(0, 0)), "2010-03-25 00:00:00");
        EXPECT_EQ(text_of_date(Hyl_GetFieldDate(0, 1)), "2010-03-25 14:30:00");
        EXPECT_EQ(text_of_date(Hyl_GetFieldDate(1, 0)), kNoDate);
        EXPECT_EQ(text_of_date(Hyl_GetFieldDate(1, 1)), kNoDate);
        EXPECT_EQ(text_of_date(Hyl_GetFieldDate(0, 7)), kNoDate);  // no such field
        frame_unload();
    });
}
