// The plan lookup through its exports: overlap of periods and ranges, NCE,
// name prefixes, the 31- and 63-byte cuts, the previous index, the drive
// override, the image's life, and the search against a word-for-word
// rendering of the lookup on random plans.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <random>

#include "frame/frame.h"
#include "hyl.h"
#include "lowlevel/lv.h"
#include "plan/dbfimage.h"
#include "plan/plan.h"
#include "platform/codepage.h"
#include "tests/dbf_bytes.h"
#include "tests/fake_platform.h"
#include "textime/localsec.h"
#include "textime/text.h"

using namespace hyl;
using hyltest::FakePlatform;
using hyltest::FieldSpec;

namespace {

constexpr const char* kPlanRelative = "QUV/HYL_CE/zmec.dbf";

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) previous_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (previous_)
            setenv(name_, previous_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

// A local DATE of a calendar date and time of day.
double ole(int y, unsigned m, unsigned d, int hh = 0, int mm = 0, int ss = 0) {
    using namespace std::chrono;
    const auto days = (sys_days{year{y} / month{m} / day{d}} - sys_days{1899y / December / 30}).count();
    return static_cast<double>(days) + (hh * 3600 + mm * 60 + ss) / 86400.0;
}

// Local seconds of a calendar date and time of day.
int64_t local_sec(int y, unsigned m, unsigned d, int hh = 0, int mm = 0, int ss = 0) {
    using namespace std::chrono;
    const auto days = (sys_days{year{y} / month{m} / day{d}} - sys_days{1979y / December / 31}).count();
    return days * 86400LL + hh * 3600 + mm * 60 + ss;
}

std::string oem(const std::string& utf8) {
    std::string s = utf8_to_ansi(utf8);
    ansi_to_oem(s.data());
    return s;
}

std::string ansi1251(const std::string& utf8) { return utf8_to_ansi(utf8); }

// The plan's fields, with an unrelated one in front and not in the usual order.
const std::vector<FieldSpec> kPlanFields = {{"ID", 'C', 4},       {"NAMEEQU", 'C', 70}, {"TIMERZN", 'N', 12},
                                            {"NAMEOBJ", 'C', 40}, {"NCE", 'N', 8},      {"TIMERZK", 'N', 12}};

struct Entry {
    std::string object;     // code page 866
    std::string equipment;  // code page 866
    std::string start;      // TIMERZN text
    std::string end;        // TIMERZK text
    std::string nce = "1";
};

std::vector<std::string> row(const Entry& e) { return {"", e.equipment, e.start, e.object, e.nce, e.end}; }

// An entry from 2010-03-10 12:00 to 2010-03-12 08:00: its period is the
// whole days 2010-03-10 to 2010-03-12.
Entry example_entry() { return {"OBJ", "EQU", "952776000", "952934400"}; }

class PlanSearch : public ::testing::Test {
protected:
    PlanSearch() : drive_x_("HYL_DRIVE_X", dir_.dir()), tz_("UTC0") { Plan_LoadDefaults(); }
    ~PlanSearch() override { Plan_LoadDefaults(); }

    void write_plan(const std::vector<Entry>& entries) {
        std::vector<std::vector<std::string>> rows;
        for (const auto& e : entries)
            rows.push_back(row(e));
        write_plan_bytes(hyltest::dbf_bytes(kPlanFields, rows));
    }
    void write_plan_bytes(const std::vector<uint8_t>& bytes, const std::string& root = "") {
        const std::string base = root.empty() ? dir_.dir() : root;
        std::filesystem::create_directories(base + "/QUV/HYL_CE");
        hyltest::write_file(base + "/" + kPlanRelative, bytes);
    }

    int32_t next(const char* object, const char* equipment, double from, double to, int32_t previous) {
        return Hyl_pMonZvkGetNextMesplan(object, equipment, from, to, previous);
    }
    std::vector<int32_t> walk(const char* object, const char* equipment, double from, double to) {
        std::vector<int32_t> hits;
        for (int32_t r = next(object, equipment, from, to, -1); r != -1 && hits.size() < 100000;
             r = next(object, equipment, from, to, r))
            hits.push_back(r);
        return hits;
    }

    hyltest::TempDir dir_;
    ScopedEnv drive_x_;
    hyltest::ScopedTz tz_;
    FakePlatform fake_;
};

TEST_F(PlanSearch, PeriodOfWholeDaysMeetsTheRange) {
    write_plan({example_entry()});
    struct Case {
        double from, to;
        bool match;
    } cases[] = {
        {ole(2010, 3, 12, 23), ole(2010, 3, 20), true},
        {ole(2010, 3, 12, 23, 59, 59), ole(2010, 3, 20), true},
        {ole(2010, 3, 13), ole(2010, 3, 20), false},  // the range begins as the period ends
        {ole(2010, 3, 1), ole(2010, 3, 10), false},   // the range ends as the period begins
        {ole(2010, 3, 1), ole(2010, 3, 10, 0, 0, 1), true},
        {ole(2010, 3, 11), ole(2010, 3, 11), true},  // an empty range inside the period
        {ole(2010, 3, 20), ole(2010, 3, 1), false},  // a reversed range
        {0.0, ole(2010, 3, 11), true},               // no date: no lower bound
        {ole(1975, 1, 1), ole(2010, 3, 11), true},
        {0.0, ole(2010, 3, 10), false},
        {ole(2010, 3, 1), 0.0, false},              // no date as the end: nothing matches
        {ole(2010, 3, 1), ole(2040, 1, 1), true},  // past 2038
        {ole(2010, 3, 1), ole(10000, 1, 1), false},  // past 9999: no date
    };
    for (const auto& c : cases)
        EXPECT_EQ(next("OBJ", "EQU", c.from, c.to, -1), c.match ? 0 : -1) << c.from << " .. " << c.to;
}

TEST_F(PlanSearch, DatesOfAnEntry) {
    Entry zero_start = example_entry();
    zero_start.start = "0";
    Entry late_second = example_entry();
    late_second.end = "952991970";  // 2010-03-12 23:59:30, exact, not rounded up to the 13th
    Entry big = example_entry();
    big.start = std::to_string(local_sec(2014, 6, 1, 23, 59, 59));  // above 2^30
    big.end = std::to_string(local_sec(2014, 6, 30, 23, 59, 59));
    Entry to_2048 = example_entry();  // ends 2048-01-18 03:14:07, the end of 32-bit local seconds
    to_2048.start = std::to_string(local_sec(2030, 1, 1));
    to_2048.end = "2147483647";
    auto period = [](int64_t start, int64_t end) {
        return Entry{"OBJ", "EQU", std::to_string(start), std::to_string(end)};
    };
    write_plan({example_entry(), zero_start, late_second, big, to_2048,
                period(local_sec(2038, 1, 20), local_sec(2038, 1, 25)),
                period(local_sec(2040, 5, 1, 8), local_sec(2040, 5, 31, 17)),
                period(2200000000, 2300000000),  // 2049-09-16 23:06:40 to 2052-11-17 08:53:20
                period(local_sec(2400, 2, 29), 999999999999)});  // ends past 9999

    EXPECT_EQ(Hyl_pMonZvkGetDate("TIMERZN", 0), 0.0) << "no image yet";
    ASSERT_EQ(next(nullptr, nullptr, 0.0, ole(2030, 1, 1), -1), 0);
    struct Case {
        const char* name;
        int record;
        double date;
    } cases[] = {
        {"TIMERZN", 0, 40247.0},
        {"TIMERZK", 0, 40250.0},
        {"timerzk", 0, 40250.0},
        {"timerzn", 0, 40247.0},
        {"TIMERZN", 1, 0.0},
        {"TIMERZK", 2, 40250.0},
        {"TIMERZN", 3, ole(2014, 6, 1)},
        {"TIMERZK", 3, ole(2014, 7, 1)},
        {"", 0, 0.0},
        {nullptr, 0, 0.0},
        {"NOPE", 0, 0.0},
        {"TIMERZN", -1, 0.0},
        {"TIMERZN", 4, ole(2030, 1, 1)},
        {"TIMERZK", 4, ole(2048, 1, 19)},
        {"TIMERZN", 5, ole(2038, 1, 20)},
        {"TIMERZK", 5, ole(2038, 1, 26)},
        {"TIMERZN", 6, ole(2040, 5, 1)},
        {"TIMERZK", 6, ole(2040, 6, 1)},
        {"TIMERZN", 7, ole(2049, 9, 16)},
        {"TIMERZK", 7, ole(2052, 11, 18)},
        {"TIMERZN", 8, ole(2400, 2, 29)},
        {"TIMERZK", 8, 0.0},  // no DATE past 9999
        {"TIMERZN", 9, 0.0},  // outside the table
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hyl_pMonZvkGetDate(c.name, c.record), c.date)
            << (c.name ? c.name : "null") << " " << c.record;
    // The entry ending at 23:59:30 ends with its day: a range from the next midnight misses it.
    EXPECT_EQ(next("OBJ", "EQU", ole(2010, 3, 13), ole(2010, 4, 1), 1), -1);
    EXPECT_EQ(next("OBJ", "EQU", ole(2010, 3, 12, 23, 59, 59), ole(2010, 4, 1), 1), 2);
    // Periods past 2038 and 2048 meet the ranges they overlap, also a range
    // that begins before 2038.
    const std::vector<int32_t> late_january_2038 = {4, 5}, may_2040 = {4, 6}, in_2050 = {7, 8};
    EXPECT_EQ(walk("OBJ", "EQU", ole(2037, 12, 1), ole(2038, 2, 1)), late_january_2038);
    EXPECT_EQ(walk("OBJ", "EQU", ole(2040, 5, 31, 23), ole(2040, 6, 2)), may_2040);
    EXPECT_EQ(walk("OBJ", "EQU", ole(2050, 1, 1), ole(2050, 1, 2)), std::vector<int32_t>{7});
    EXPECT_EQ(walk("OBJ", "EQU", ole(2050, 1, 1), ole(2401, 1, 1)), in_2050);
    EXPECT_EQ(Hyl_pMonZvkFreeResource(), 1);
    EXPECT_EQ(Hyl_pMonZvkGetDate("TIMERZN", 0), 0.0) << "image released";
}

TEST_F(PlanSearch, NceMustBeNonZeroAfterTruncation) {
    struct Case {
        const char* nce;
        bool takes_part;
    } cases[] = {{"1", true},  {"-1", true},   {"2", true},     {"1e3", true},
                 {"0", false}, {"0.5", false}, {"-0.5", false}, {"0.999", false},
                 {"", false},  {"abc", false}, {"1.5", true},   {"9999999", true},
                 // A point after a letter ends an abbreviation: the digits after it count.
                 {"No.7", true}, {"\xA4.1", true}, {" +.5", false}, {".9", false}};
    std::vector<Entry> entries;
    for (const auto& c : cases) {
        Entry e = example_entry();
        e.nce = c.nce;
        entries.push_back(e);
    }
    write_plan(entries);
    std::vector<int32_t> want;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        if (cases[i].takes_part) want.push_back(static_cast<int32_t>(i));
    EXPECT_EQ(walk("OBJ", "EQU", ole(2010, 1, 1), ole(2011, 1, 1)), want);
}

TEST_F(PlanSearch, NamesMatchByPrefixWithoutRegardToCase) {
    const std::string forty(40, 'q');
    const std::string seventy(70, 'e');
    struct Case {
        std::string stored;                   // UTF-8 of the stored NAMEOBJ
        std::optional<std::string> argument;  // UTF-8; none: a null argument
        bool match;
    } cases[] = {
        {"Котельная № 1", "Кот", true},
        {"Котельная № 1", "кОТЕЛЬНАЯ", true},
        {"Котельная № 1", "Котельная № 1", true},
        {"Котельная № 1", "Котельная № 12", false},  // longer than the stored name
        {"Котельная № 1", "Котельная № 1 ", false},  // the stored blanks are gone
        {"Котельная № 1", "Насос", false},
        {"Котельная № 1", "", true},
        {"Котельная № 1", std::nullopt, true},
        {"abc", "ABC", true},
        {"Ёмкость", "ё", false},  // Ё is not folded
        {"Ёмкость", "Ё", true},
        {"", "", false},  // an empty stored name never matches
        {"   ", std::nullopt, false},
        {forty, std::string(31, 'Q'), true},  // only the first 31 bytes take part
        {forty, std::string(32, 'q'), false},
    };
    std::vector<Entry> entries;
    for (const auto& c : cases) {
        Entry e = example_entry();
        e.object = oem(c.stored);
        entries.push_back(e);
    }
    Entry wide = example_entry();
    wide.equipment = seventy;
    entries.push_back(wide);
    write_plan(entries);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::string arg = c.argument ? ansi1251(*c.argument) : "";
        const int32_t got = next(c.argument ? arg.c_str() : nullptr, "EQU", ole(2010, 1, 1), ole(2011, 1, 1),
                                 static_cast<int32_t>(i) - 1);
        EXPECT_EQ(got == static_cast<int32_t>(i), c.match)
            << "stored '" << c.stored << "' argument '" << c.argument.value_or("null") << "' got " << got;
    }
    const auto last = static_cast<int32_t>(std::size(cases));
    EXPECT_EQ(next("OBJ", std::string(63, 'E').c_str(), ole(2010, 1, 1), ole(2011, 1, 1), last - 1), last);
    EXPECT_EQ(next("OBJ", std::string(64, 'e').c_str(), ole(2010, 1, 1), ole(2011, 1, 1), last - 1), -1);
}

TEST_F(PlanSearch, PreviousIndexAndDeletedRecords) {
    write_plan(std::vector<Entry>(5, example_entry()));
    auto bytes = hyltest::read_file(dir_.path(kPlanRelative));
    bytes[hyltest::dbf_record_position(kPlanFields, 2)] = '*';
    write_plan_bytes(bytes);
    const double from = ole(2010, 1, 1), to = ole(2011, 1, 1);
    EXPECT_EQ(walk("OBJ", "EQU", from, to), (std::vector<int32_t>{0, 1, 2, 3, 4}));
    struct Case {
        int32_t previous, result;
    } cases[] = {{-1, 0},
                 {0, 1},
                 {3, 4},
                 {4, -1},
                 {5, -1},
                 {1000, -1},
                 {std::numeric_limits<int32_t>::max(), -1},
                 {-2, 0},
                 {-1000, 0},
                 {std::numeric_limits<int32_t>::min(), 0}};
    for (const auto& c : cases)
        EXPECT_EQ(next("OBJ", "EQU", from, to, c.previous), c.result) << c.previous;
}

TEST_F(PlanSearch, MissingFieldsMeanNoEntryTakesPart) {
    for (const char* missing : {"NCE", "NAMEOBJ", "NAMEEQU", "TIMERZN", "TIMERZK"}) {
        std::vector<FieldSpec> fields;
        std::vector<std::string> values;
        const std::vector<std::string> all = row(example_entry());
        for (std::size_t i = 0; i < kPlanFields.size(); ++i) {
            if (kPlanFields[i].name == missing) continue;
            fields.push_back(kPlanFields[i]);
            values.push_back(all[i]);
        }
        write_plan_bytes(hyltest::dbf_bytes(fields, {values}));
        Hyl_pMonZvkFreeResource();
        EXPECT_EQ(next(nullptr, nullptr, 0.0, ole(2030, 1, 1), -1), -1) << missing;
    }
    // Field names in any case.
    std::vector<FieldSpec> lower = kPlanFields;
    for (auto& f : lower)
        for (char& ch : f.name)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    write_plan_bytes(hyltest::dbf_bytes(lower, {row(example_entry())}));
    Hyl_pMonZvkFreeResource();
    EXPECT_EQ(next("OBJ", "EQU", 0.0, ole(2030, 1, 1), -1), 0);
}

TEST_F(PlanSearch, DriveOverrideCountsFromTheNextLoad) {
    hyltest::TempDir d_root, e_root;
    ScopedEnv drive_d("HYL_DRIVE_D", d_root.dir());
    ScopedEnv drive_e("HYL_DRIVE_E", e_root.dir());
    Entry on_x = example_entry(), on_d = example_entry(), on_e = example_entry();
    on_x.object = "XXX";
    on_d.object = "DDD";
    on_e.object = "EEE";
    write_plan({on_x});
    write_plan_bytes(hyltest::dbf_bytes(kPlanFields, {row(on_d)}), d_root.dir());
    write_plan_bytes(hyltest::dbf_bytes(kPlanFields, {row(on_e)}), e_root.dir());
    std::vector<std::string> opened;
    fake_.open = [&](const char* path, int32_t flags) {
        opened.push_back(path);
        return native_platform().file_open(path, flags);
    };
    const double from = 0.0, to = ole(2030, 1, 1);

    Hyl_SetNDisk("D:");
    EXPECT_EQ(next("DDD", nullptr, from, to, -1), 0);
    Hyl_SetNDisk("E");  // the image is held: nothing changes yet
    EXPECT_EQ(next("DDD", nullptr, from, to, -1), 0);
    EXPECT_EQ(opened, (std::vector<std::string>{"D:\\QUV\\HYL_CE\\zmec.dbf"}));
    Hyl_pMonZvkFreeResource();
    EXPECT_EQ(next("EEE", nullptr, from, to, -1), 0);
    Hyl_SetNDisk("");
    Hyl_pMonZvkFreeResource();
    EXPECT_EQ(next("XXX", nullptr, from, to, -1), 0);
    Hyl_SetNDisk(nullptr);
    Hyl_pMonZvkFreeResource();
    EXPECT_EQ(next("XXX", nullptr, from, to, -1), 0);
    EXPECT_EQ(opened, (std::vector<std::string>{"D:\\QUV\\HYL_CE\\zmec.dbf", "E:\\QUV\\HYL_CE\\zmec.dbf",
                                                "X:\\QUV\\HYL_CE\\zmec.dbf", "X:\\QUV\\HYL_CE\\zmec.dbf"}));
    EXPECT_TRUE(fake_.boxes().empty());
}

TEST_F(PlanSearch, ImageLivesUntilFreedAndFailedLoadsAreRetried) {
    const double from = 0.0, to = ole(2030, 1, 1);
    // No plan file: the load's ten attempts and message, then -1; the next
    // search starts over.
    EXPECT_EQ(next(nullptr, nullptr, from, to, -1), -1);
    EXPECT_EQ(fake_.boxes().size(), 1u);
    EXPECT_EQ(fake_.opens, 10);
    EXPECT_EQ(fake_.slept_ms(), 10u * 2000u);
    write_plan({example_entry()});
    EXPECT_EQ(next(nullptr, nullptr, from, to, -1), 0);
    EXPECT_EQ(fake_.opens, 11);
    // The file changes; the image does not until it is freed.
    write_plan({});
    EXPECT_EQ(next(nullptr, nullptr, from, to, -1), 0);
    EXPECT_EQ(fake_.opens, 11);
    EXPECT_EQ(Hyl_pMonZvkFreeResource(), 1);
    EXPECT_EQ(next(nullptr, nullptr, from, to, -1), -1);
    EXPECT_EQ(fake_.opens, 12);
    // Unloading the library releases the image.
    ASSERT_NE(g_table_image.block, nullptr);
    frame_unload();
    EXPECT_EQ(g_table_image.block, nullptr);
    frame_load();
}

// The lookup as its steps are worded: every field looked up by name, names
// copied, trimmed and converted, numbers read from copies.
int32_t reference_search(const char* object, const char* equipment, double from, double to,
                         int32_t previous) {
    const int64_t from_sec = Dt_LocalSecFromDate(COleDateTime(from));
    const int64_t to_sec = Dt_LocalSecFromDate(COleDateTime(to));
    const DbfImage& image = g_table_image;
    // Out of the 64-bit range a count reads as 0x8000000000000000, as the
    // conversion instruction gives it.
    auto count_of = [&](const char* name, int32_t r) -> int64_t {
        const double v = std::trunc(DbfImg_GetNumericByName(image, name, r));
        if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(v);
    };
    auto day_start = [](int64_t v) { return v - v % 86400; };
    for (int64_t r = previous < -1 ? 0 : int64_t{previous} + 1; r < DbfImg_GetQRecords(image); ++r) {
        const auto rec = static_cast<int32_t>(r);
        if (count_of("NCE", rec) == 0) continue;
        char obj[32] = {}, equ[64] = {};
        DbfImg_GetFieldByName(image, "NAMEOBJ", rec, obj, 31, 1);
        LVTrimRight(obj, 0);
        oem_to_ansi(obj);
        DbfImg_GetFieldByName(image, "NAMEEQU", rec, equ, 63, 1);
        LVTrimRight(equ, 0);
        oem_to_ansi(equ);
        if (LVPrefixCompare(obj, object, 0) != 0 || LVPrefixCompare(equ, equipment, 0) != 0) continue;
        const int64_t start = count_of("TIMERZN", rec), end = count_of("TIMERZK", rec);
        if (start == 0 || end == 0) continue;
        if (day_start(start) < to_sec && from_sec < day_start(end) + 86400) return rec;
    }
    return -1;
}

TEST_F(PlanSearch, AgreesWithTheWordForWordLookupOnRandomPlans) {
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    // 866 bytes: Latin and Cyrillic letters in both cases, blanks, a tab, a NUL.
    const std::string alphabet = std::string("aAbB \t") + std::string(1, '\0') + "\x80\xA0\x81\xA1\xF0\xF1";
    auto random_name = [&](int max) {
        std::string s;
        for (int i = pick(max + 1); i > 0; --i)
            s += alphabet[pick(static_cast<int>(alphabet.size()))];
        return s;
    };
    const int64_t base = local_sec(2010, 1, 1);
    // Mostly plain counts; now and then the other forms a number field may hold.
    const std::vector<std::string> odd_counts = {"",
                                                 "0",
                                                 "-0",
                                                 "abc",
                                                 "-",
                                                 "- 5",
                                                 ".5",
                                                 "12.",
                                                 "1e3",
                                                 "1.5e3",
                                                 "-1e9",
                                                 "-2.5e9",
                                                 "\t7",
                                                 "7abc",
                                                 "x952776000",
                                                 "No.952776000",
                                                 " +.952776000",
                                                 "v.9.52776e8",
                                                 "99999999999",
                                                 "-99999999999",
                                                 "1234567890123456789",
                                                 std::string("95\0"
                                                             "2776000",
                                                             10)};
    auto random_count = [&]() -> std::string {
        switch (pick(10)) {
            case 0:
                return odd_counts[static_cast<std::size_t>(pick(static_cast<int>(odd_counts.size())))];
            case 1:
                return std::to_string(base + pick(400 * 86400)) + ".75";
            case 2:
                return std::to_string(base + pick(400 * 86400)) + "e0";
            case 3:
                return "-" + std::to_string(pick(1000000));
            default:
                return std::to_string(base + pick(400 * 86400));
        }
    };
    const char* nces[] = {"1", "0", "0.5", "-1", "", "3", " 1x", "1e-3", "0.5e1", "abc1"};
    for (int round = 0; round < 20; ++round) {
        std::vector<Entry> entries;
        for (int i = 0; i < 150; ++i)
            entries.push_back({random_name(4) + (pick(3) == 0 ? std::string(35, 'a') : ""), random_name(3),
                               random_count(), random_count(),
                               nces[pick(static_cast<int>(std::size(nces)))]});
        write_plan(entries);
        Hyl_pMonZvkFreeResource();
        for (int q = 0; q < 30; ++q) {
            std::string object = random_name(2), equipment = random_name(2);
            object.erase(std::find(object.begin(), object.end(), '\0'), object.end());
            equipment.erase(std::find(equipment.begin(), equipment.end(), '\0'), equipment.end());
            oem_to_ansi(object.data());
            oem_to_ansi(equipment.data());
            const double from = ole(2010, 1, 1) + pick(400), to = from + pick(60);
            const char* obj = pick(5) == 0 ? nullptr : object.c_str();
            const char* equ = pick(5) == 0 ? nullptr : equipment.c_str();
            // A whole walk, then a few starts anywhere.
            for (int32_t previous = -1, steps = 0; steps <= 150; ++steps) {
                const int32_t got = next(obj, equ, from, to, previous);
                ASSERT_EQ(got, reference_search(obj, equ, from, to, previous))
                    << "round " << round << " query " << q << " previous " << previous;
                if (got == -1) break;
                previous = got;
            }
            for (int k = 0; k < 5; ++k) {
                const int32_t previous = pick(160) - 5;
                ASSERT_EQ(next(obj, equ, from, to, previous), reference_search(obj, equ, from, to, previous))
                    << "round " << round << " query " << q << " previous " << previous;
            }
        }
    }
}

}  // namespace

TEST_F(PlanSearch, ClaimedRecordsBeyondTheImageCostNothingAndMatchNothing) {
    write_plan(std::vector<Entry>(3, example_entry()));
    auto bytes = hyltest::read_file(dir_.path(kPlanRelative));
    const double from = ole(2010, 1, 1), to = ole(2011, 1, 1);
    struct Case {
        uint32_t count;
        int record_length;  // -1: as written
        std::vector<int32_t> hits;
    } cases[] = {
        {0x7FFFFFFF, -1, {0, 1, 2}},  // every search would otherwise scan two billion records
        {0xFFFFFFFF, -1, {}},         // a negative count holds no records
        {0x7FFFFFFF, 0, {}},          // no room for a field in a record
        {3, -7, {}},
    };
    for (const auto& c : cases) {
        auto broken = bytes;
        for (int i = 0; i < 4; ++i) broken[4 + i] = static_cast<uint8_t>(c.count >> (8 * i));
        if (c.record_length >= -100 && c.record_length != -1) hyltest::put_le16(broken, 10, c.record_length);
        write_plan_bytes(broken);
        Hyl_pMonZvkFreeResource();
        EXPECT_EQ(walk("OBJ", "EQU", from, to), c.hits) << c.count << " " << c.record_length;
    }
}
