// Reading field values straight from the file.
#include <gtest/gtest.h>

#include <cstring>

#include "dbf/dbf.h"
#include "frame/frame.h"
#include "hyl.h"
#include "tests/dbf_builder.h"
#include "tests/fake_platform.h"

using namespace hyl;
using hyltest::ansi;
using hyltest::DbfBuilder;
using hyltest::FakePlatform;

namespace {

class FieldTest : public ::testing::Test {
protected:
    void SetUp() override { frame_load(); }
    void TearDown() override { frame_unload(); }
    std::string put(const DbfBuilder& b, const std::string& name = "f.dbf") {
        std::string p = dir.path(name);
        hyltest::write_file(p, b.build());
        return p;
    }
    hyltest::TempDir dir;
};

DbfBuilder sample() {
    DbfBuilder b;
    b.fields = {{"NAME", 'C', 10, 0}, {"NUM", 'N', 8, 2}, {"LONG", 'C', 255, 0}};
    std::string cyr = "\x8A\xAE\xE2\xA5\xAB";  // "Котел" in 866
    b.records = {"ABC          12.50" + std::string(255, 'x'), cyr + "     " + "        " + "tail   ",
                 std::string("A\0B", 3) + "       " + "1e3     "};
    return b;
}

}  // namespace

TEST_F(FieldTest, TextAndNumbers) {
    FakePlatform fake;
    ASSERT_EQ(Hyl_OpenTableForRead(put(sample()).c_str()), 1);
    struct Case {
        int record, field;
        std::string text;
        double number;
    } cases[] = {
        {0, 0, "ABC", 0},   {0, 1, "   12.50", 12.5}, {0, 2, std::string(255, 'x'), 0},
        {1, 0, ansi("Котел"), 0}, {1, 1, "", 0},      {1, 2, "tail", 0},
        {2, 0, "A", 0},     {2, 1, "1e3", 1000},      // a NUL cuts the text
        {0, -1, "", 0},     {0, 3, "", 0},            {3, 0, "", 0},  // past the last record
        {-1, 0, "", 0},     {-5, 1, "", 0},           // before the records: empty
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::string(Hyl_GetFieldText(c.record, c.field)), c.text) << c.record << "," << c.field;
        EXPECT_EQ(Hyl_GetFieldNumeric(c.record, c.field), c.number) << c.record << "," << c.field;
    }
    EXPECT_TRUE(fake.events.empty());
}

TEST_F(FieldTest, OneBufferSharedByTheTextExports) {
    ASSERT_EQ(Hyl_OpenTableForRead(put(sample()).c_str()), 1);
    const char* first = Hyl_GetFieldText(0, 0);
    const char* second = Hyl_GetFieldText(1, 2);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "tail");
    Hyl_GetFieldNumeric(0, 1);
    EXPECT_STREQ(first, "   12.50");
    Hyl_GetFieldDate(0, 0);
    EXPECT_STREQ(first, "ABC");
}

TEST_F(FieldTest, OtherLanguageBytesAreNotConverted) {
    DbfBuilder b = sample();
    b.language = 0x57;
    ASSERT_EQ(Hyl_OpenTableForRead(put(b).c_str()), 1);
    EXPECT_STREQ(Hyl_GetFieldText(1, 0), "\x8A\xAE\xE2\xA5\xAB");
}

TEST_F(FieldTest, EveryReadSeesTheFileAsItIsNow) {
    FakePlatform fake;
    std::string p = put(sample());
    ASSERT_EQ(Hyl_OpenTableForRead(p.c_str()), 1);
    EXPECT_STREQ(Hyl_GetFieldText(0, 0), "ABC");
    auto bytes = hyltest::read_file(p);
    bytes[g_current_table.header_length() + 1] = 'Z';
    hyltest::write_file(p, bytes);
    EXPECT_STREQ(Hyl_GetFieldText(0, 0), "ZBC");
    EXPECT_EQ(fake.opens, 1);  // through the handle kept open since opening
}

TEST_F(FieldTest, ModeZeroOpensAndClosesAroundEachRead) {
    FakePlatform fake;
    std::string p = put(sample());
    ASSERT_EQ(Dbf_ReadHead(g_current_table, p.c_str(), 0), 1);
    EXPECT_EQ(g_current_table.handle, -1);
    EXPECT_STREQ(Hyl_GetFieldText(0, 0), "ABC");
    EXPECT_STREQ(Hyl_GetFieldText(1, 2), "tail");
    EXPECT_EQ(fake.opens, 3);
    EXPECT_EQ(g_current_table.handle, -1);
}

TEST_F(FieldTest, BrokenRecordLengthNeverReadsTheHeader) {
    for (int rl : {0, -3}) {
        DbfBuilder b = sample();
        b.record_length = rl;
        b.records.clear();
        ASSERT_EQ(Hyl_OpenTableForRead(put(b, "r.dbf").c_str()), 1) << rl;
        for (int r : {0, 1, 2}) EXPECT_STREQ(Hyl_GetFieldText(r, 0), "") << rl;
    }
}

TEST_F(FieldTest, AfterCloseEveryFieldIsEmpty) {
    ASSERT_EQ(Hyl_OpenTableForRead(put(sample()).c_str()), 1);
    Hyl_CloseTable();
    EXPECT_STREQ(Hyl_GetFieldText(0, 0), "");
    EXPECT_EQ(Hyl_GetFieldNumeric(0, 1), 0.0);
}
