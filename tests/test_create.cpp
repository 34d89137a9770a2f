// Creating tables and appending records.
#include <gtest/gtest.h>

#include <cstring>

#include "dbf/dbf.h"
#include "frame/frame.h"
#include "hyl.h"
#include "tests/dbf_builder.h"
#include "tests/fake_platform.h"

using namespace hyl;
using hyltest::ansi;
using hyltest::FakePlatform;
using hyltest::Op;

namespace {

class CreateTest : public ::testing::Test {
protected:
    void SetUp() override {
        frame_load();
        path = dir.path("new.dbf");
    }
    void TearDown() override { frame_unload(); }
    // The three-field table the host makes: lengths 10, 5 and 8.
    void create_three() {
        ASSERT_EQ(Hyl_CreateDbf(3, path.c_str()), 1);
        ASSERT_EQ(Hyl_CreateNewField(0, 10, "NAME", "C", 0), 1);
        ASSERT_EQ(Hyl_CreateNewField(1, 5, "QTY", "N", 1), 1);
        ASSERT_EQ(Hyl_CreateNewField(2, 8, "DAY", "D", 0), 1);
    }
    std::vector<uint8_t> file() const { return hyltest::read_file(path); }
    hyltest::TempDir dir;
    std::string path;
};

uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

}  // namespace

TEST_F(CreateTest, HeaderThenDescriptors) {
    FakePlatform fake;
    ASSERT_EQ(Hyl_CreateDbf(3, path.c_str()), 1);
    auto b = file();
    ASSERT_EQ(b.size(), 32u);
    std::vector<uint8_t> want(32, 0);
    want[0] = 3, want[1] = 4, want[2] = 2, want[3] = 0x1B, want[8] = 0x81, want[10] = 1, want[29] = 0x65;
    EXPECT_EQ(b, want);
    EXPECT_EQ(Hyl_GetQFields(), 3);
    EXPECT_STREQ(Hyl_GetFieldName(0), "");  // no descriptors in memory yet

    ASSERT_EQ(Hyl_CreateNewField(0, 10, "NAME", "C", 0), 1);
    ASSERT_EQ(Hyl_CreateNewField(1, 5, "qty", "Number", 1), 1);
    ASSERT_EQ(Hyl_CreateNewField(2, 8, ansi("ДАТА_ВВОДА_ДОЛГАЯ").c_str(), "D", 0), 1);
    b = file();
    ASSERT_EQ(b.size(), 129u);
    EXPECT_EQ(b[128], 0x0D);
    EXPECT_EQ(le16(b, 10), 24);
    EXPECT_EQ(le16(b, 32 + 12), 1);
    EXPECT_EQ(le16(b, 64 + 12), 11);
    EXPECT_EQ(le16(b, 96 + 12), 16);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[64]), 3), "qty");  // case kept
    EXPECT_EQ(b[64 + 11], 'N');
    EXPECT_EQ(b[64 + 17], 1);
    // Cut to 11 characters and stored in code page 866, no NUL.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[96]), 11), "\x84\x80\x92\x80_\x82\x82\x8E\x84\x80_");
    EXPECT_EQ(Hyl_CreateNewField(3, 4, "X", "C", 0), 0);  // index equal to the count
    EXPECT_EQ(file().size(), 129u);
    EXPECT_TRUE(fake.events.empty());
}

TEST_F(CreateTest, ZeroFieldsAndLimits) {
    FakePlatform fake;
    ASSERT_EQ(Hyl_CreateDbf(0, path.c_str()), 1);
    EXPECT_EQ(le16(file(), 8), 33);
    EXPECT_EQ(Hyl_CreateNewField(0, 4, "A", "C", 0), 0);
    EXPECT_EQ(file().size(), 32u);

    // Refused field counts neither create nor truncate a file.
    hyltest::write_file(path, {1, 2, 3});
    for (int n : {-1, 1023, 100000}) EXPECT_EQ(Hyl_CreateDbf(n, path.c_str()), 0) << n;
    EXPECT_EQ(file(), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Hyl_CreateDbf(1022, path.c_str()), 1);
    EXPECT_EQ(le16(file(), 8), 32 * 1022 + 33);

    ASSERT_EQ(Hyl_CreateDbf(200, path.c_str()), 1);
    struct Case {
        int length, decimals, result;
    } cases[] = {{-1, 0, 0}, {256, 0, 0}, {10, -1, 0}, {10, 256, 0}, {255, 255, 1}};
    int index = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(Hyl_CreateNewField(index, c.length, "F", "C", c.decimals), c.result) << c.length;
        if (c.result) ++index;
    }
    // The record length stops below 32768.
    while (Hyl_CreateNewField(index, 255, "F", "C", 0) == 1) ++index;
    EXPECT_EQ(index, 128);  // 1 + 128 * 255 = 32641; one more would pass 32767
    EXPECT_EQ(le16(file(), 10), 32641);
    EXPECT_EQ(Hyl_CreateNewField(index, 126, "F", "C", 0), 1);
    EXPECT_EQ(le16(file(), 10), 32767);

    std::string long_path = dir.dir() + "/" + std::string(260, 'b');
    EXPECT_EQ(Hyl_CreateDbf(1, long_path.c_str()), 0);
    EXPECT_TRUE(hyltest::read_file(long_path.substr(0, 254)).empty());
}

TEST_F(CreateTest, PutAndAppend) {
    FakePlatform fake;
    create_three();
    EXPECT_EQ(Hyl_PutField("before open", 0), 1);  // no descriptors: stores nothing
    EXPECT_EQ(Hyl_AppendRecord(), 1);               // a blank record of the right length
    ASSERT_EQ(Hyl_OpenTableForAppend(path.c_str()), 1);
    EXPECT_EQ(Hyl_GetQRecords(), 1);
    EXPECT_EQ(Hyl_AppendRecord(), 0);  // nothing put since the open

    EXPECT_EQ(Hyl_PutField("THIRTEEN CHAR", 0), 1);
    auto* rec = g_current_table.assembly_bytes;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rec), 24), " THIRTEEN C" + std::string(13, ' '));
    EXPECT_EQ(Hyl_PutField("12345", 1), 1);
    EXPECT_EQ(Hyl_PutField("ab", 1), 1);  // covers the first two, keeps the rest
    EXPECT_EQ(Hyl_PutField("", 2), 0);
    EXPECT_EQ(Hyl_PutField(nullptr, 2), 0);
    EXPECT_EQ(Hyl_PutField("x", 7), 1);  // outside the fields: stores nothing
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rec), 24), " THIRTEEN Cab345" + std::string(8, ' '));
    EXPECT_EQ(rec[24], 0);  // the spare bytes stay zero
    EXPECT_EQ(Hyl_AppendRecord(), 1);
    EXPECT_EQ(Hyl_AppendRecord(), 1);  // the same record again
    EXPECT_EQ(Hyl_PutField("", 0), 0);  // field 0 clears even when empty
    EXPECT_EQ(rec[1], 0);
    EXPECT_EQ(Hyl_PutField("Z", 2), 1);
    EXPECT_EQ(Hyl_AppendRecord(), 1);
    EXPECT_EQ(Hyl_GetQRecords(), 4);
    EXPECT_EQ(file()[4], 4);  // each record is counted on disk as it is appended
    EXPECT_EQ(Hyl_CloseTable(), 1);
    auto b = file();
    EXPECT_EQ(b[4], 4);
    ASSERT_EQ(b.size(), 129u + 4 * 24);  // kept open: no size change needed, no end byte
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[129 + 72]), 24), std::string(16, ' ') + "Z       ");

    ASSERT_EQ(Hyl_OpenTableForRead(path.c_str()), 1);
    EXPECT_STREQ(Hyl_GetFieldText(1, 0), "THIRTEEN C");
    EXPECT_STREQ(Hyl_GetFieldText(2, 1), "ab345");
    EXPECT_STREQ(Hyl_GetFieldText(3, 2), "Z");
    EXPECT_TRUE(fake.events.empty());
}

TEST_F(CreateTest, AppendOverwritesAnEndOfFileByteAndModeZeroSetsTheSize) {
    FakePlatform fake;
    hyltest::DbfBuilder b;
    b.fields = {{"A", 'C', 3, 0}};
    b.records = {"one", "two", "thr", "fou", "fiv"};
    b.eof_byte = true;
    hyltest::write_file(path, b.build());
    ASSERT_EQ(Hyl_OpenTableForAppend(path.c_str()), 1);
    Hyl_PutField("six", 0);
    Hyl_AppendRecord();
    Hyl_PutField("sev", 0);
    Hyl_AppendRecord();
    EXPECT_EQ(Hyl_GetQRecords(), 7);
    EXPECT_EQ(hyltest::read_file(path)[4], 7);  // counted on disk as they are appended
    Hyl_CloseTable();
    auto bytes = hyltest::read_file(path);
    EXPECT_EQ(bytes[4], 7);
    EXPECT_EQ(bytes.size(), 65u + 7 * 4);

    // Mode 0 (a table created before any open): the size is set at write-back.
    frame_unload();
    frame_load();
    b.records = {"one"};
    hyltest::write_file(path, b.build());
    ASSERT_EQ(Dbf_ReadHead(g_current_table, path.c_str(), 0), 1);
    Dbf_PutField(g_current_table, 0, "two");
    ASSERT_EQ(Dbf_AppendRecord(g_current_table, g_current_table.assembly_bytes), 1);
    auto with_garbage = hyltest::read_file(path);
    with_garbage.insert(with_garbage.end(), {0x1A, 'x', 'y'});
    hyltest::write_file(path, with_garbage);
    Dbf_Close(g_current_table);
    bytes = hyltest::read_file(path);
    EXPECT_EQ(bytes.size(), 65u + 2 * 4);
    EXPECT_EQ(bytes[4], 2);
}

TEST_F(CreateTest, FailedWritesAreReportedAndCountNothing) {
    create_three();
    ASSERT_EQ(Hyl_OpenTableForAppend(path.c_str()), 1);
    Hyl_PutField("keep", 0);
    ASSERT_EQ(Hyl_AppendRecord(), 1);
    {
        FakePlatform fake;
        fake.fail_nth(1, {Op::kWrite}, /*short_write=*/true);
        EXPECT_EQ(Hyl_AppendRecord(), 0);
        EXPECT_EQ(Hyl_GetQRecords(), 1);
        ASSERT_EQ(fake.boxes().size(), 1u);
        EXPECT_EQ(fake.boxes()[0].rfind(ansi("Dbf_AppendRecord:: не записать <") + path + "> errno=", 0), 0u);
        EXPECT_EQ(fake.beeps(), 0);
    }
    ASSERT_EQ(Hyl_AppendRecord(), 1);
    Hyl_CloseTable();
    auto b = file();
    EXPECT_EQ(b[4], 2);
    EXPECT_EQ(b.size(), 129u + 2 * 24);

    FakePlatform fake;
    fake.fail_nth(1, {Op::kWrite});
    EXPECT_EQ(Hyl_CreateDbf(2, path.c_str()), 0);
    ASSERT_EQ(fake.boxes().size(), 1u);
    EXPECT_EQ(fake.boxes()[0].rfind(ansi("Dbf_CreateNewBase:: не записать <") + path + "> ", 0), 0u);
    EXPECT_EQ(Hyl_CreateNewField(0, 4, "A", "C", 0), 0);  // no header to define against

    // A failed definition leaves the record length as it was, so a retry is right.
    ASSERT_EQ(Hyl_CreateDbf(2, path.c_str()), 1);
    ASSERT_EQ(Hyl_CreateNewField(0, 4, "A", "C", 0), 1);
    fake.fail_nth(2, {Op::kWrite});  // the terminator
    EXPECT_EQ(Hyl_CreateNewField(1, 6, "B", "C", 0), 0);
    EXPECT_EQ(fake.boxes().back().rfind(ansi("Dbf_CreateNewField:: не записать <") + path + "> errno=", 0), 0u);
    fake.fail_nth(0, {});
    fake.busy_opens = 20;  // a busy file, then a retry
    EXPECT_EQ(Hyl_CreateNewField(1, 6, "B", "C", 0), 0);
    EXPECT_EQ(Hyl_CreateNewField(1, 6, "B", "C", 0), 1);
    b = file();
    EXPECT_EQ(le16(b, 10), 11);
    EXPECT_EQ(le16(b, 64 + 12), 5);
}

TEST_F(CreateTest, CreateFailureKeepsNoFileOpen) {
    FakePlatform fake;
    std::string bad = dir.path("missing-dir/new.dbf");
    EXPECT_EQ(Hyl_CreateDbf(2, bad.c_str()), 0);
    ASSERT_EQ(fake.boxes().size(), 1u);
    EXPECT_EQ(fake.boxes()[0].rfind(ansi("Dbf_CreateNewBase:: не открыть <") + bad + "> ", 0), 0u);
    EXPECT_EQ(g_current_table.handle, -1);
    EXPECT_EQ(Hyl_CreateNewField(0, 4, "A", "C", 0), 0);
}

TEST_F(CreateTest, AssemblyBufferNeverOverrunsOnBrokenHeaders) {
    FakePlatform fake;
    hyltest::DbfBuilder b;
    b.fields = {{"A", 'C', 200, 0}, {"B", 'C', 200, 0}};
    b.record_length = 50;  // the header understates the fields
    hyltest::write_file(path, b.build());
    ASSERT_EQ(Hyl_OpenTableForAppend(path.c_str()), 1);
    std::string big(200, 'q');
    EXPECT_EQ(Hyl_PutField(big.c_str(), 0), 1);
    EXPECT_EQ(Hyl_PutField(big.c_str(), 1), 1);
    EXPECT_EQ(g_current_table.assembly_bytes[50], 0);
    EXPECT_EQ(Hyl_AppendRecord(), 1);
    Hyl_CloseTable();
    EXPECT_EQ(hyltest::read_file(path).size(), 97u + 50);
}
