// Opening a table: header edge cases, field queries, close and reopen,
// and the load and unload of the library's state.
#include <gtest/gtest.h>

#include <cstring>

#include "dbf/dbf.h"
#include "frame/frame.h"
#include "hyl.h"
#include "lowlevel/lv.h"
#include "tests/dbf_builder.h"
#include "tests/fake_platform.h"

using namespace hyl;
using hyltest::ansi;
using hyltest::DbfBuilder;
using hyltest::FakePlatform;

namespace {

class TableTest : public ::testing::Test {
protected:
    void SetUp() override { frame_load(); }
    void TearDown() override { frame_unload(); }
    std::string put(const std::string& name, const DbfBuilder& b) {
        std::string p = dir.path(name);
        hyltest::write_file(p, b.build());
        return p;
    }
    hyltest::TempDir dir;
};

DbfBuilder three_fields() {
    DbfBuilder b;
    b.fields = {{"NAME", 'C', 10, 0}, {"QTY", 'N', 5, 2}, {"\x84\x80\x92\x80", 'D', 8, 0}};  // ДАТА
    b.records = {"alpha        1.5020100325", "beta        22.0019991231"};
    b.stored_offset = 777;  // stored offsets are ignored
    return b;
}

}  // namespace

TEST_F(TableTest, FreshLoadAnswersEmpty) {
    EXPECT_EQ(Hyl_GetQRecords(), 0);
    EXPECT_EQ(Hyl_GetQFields(), 0);
    EXPECT_EQ(Hyl_CloseTable(), 1);
    EXPECT_STREQ(Hyl_GetFieldName(0), "");
    EXPECT_EQ(g_current_table.language(), 0x65);
    EXPECT_EQ(g_current_table.handle, -1);
}

TEST_F(TableTest, OpensAndDescribesFields) {
    FakePlatform fake;
    std::string p = put("t.dbf", three_fields());
    ASSERT_EQ(Hyl_OpenTableForRead(p.c_str()), 1);
    EXPECT_EQ(Hyl_GetQRecords(), 2);
    EXPECT_EQ(Hyl_GetQFields(), 3);
    struct Want {
        const char* name;
        const char* type;
        int length, decimals, offset;
    } want[] = {{"NAME", "C", 10, 0, 1}, {"\xC4\xC0\xD2\xC0", "D", 8, 0, 16}, {"QTY", "N", 5, 2, 11}};
    int order[] = {0, 2, 1};
    for (int k = 0; k < 3; ++k) {
        int f = order[k];
        EXPECT_STREQ(Hyl_GetFieldName(f), want[k].name) << f;
        EXPECT_STREQ(Hyl_GetFieldType(f), want[k].type) << f;
        EXPECT_EQ(Hyl_GetFieldLenth(f), want[k].length) << f;
        EXPECT_EQ(Hyl_GetFieldQuolity(f), want[k].decimals) << f;
        EXPECT_EQ(Dbf_GetFieldInfo(g_current_table, f).offset, want[k].offset) << f;
    }
    for (int bad : {-1, 3}) {
        EXPECT_STREQ(Hyl_GetFieldName(bad), "");
        EXPECT_STREQ(Hyl_GetFieldType(bad), "");
        EXPECT_EQ(Hyl_GetFieldLenth(bad), 0);
        EXPECT_EQ(Hyl_GetFieldQuolity(bad), 0);
        EXPECT_EQ(Dbf_GetFieldInfo(g_current_table, bad).offset, -1);
    }
    EXPECT_TRUE(fake.events.empty());
    EXPECT_NE(g_current_table.handle, -1);  // kept open
    EXPECT_EQ(Hyl_CloseTable(), 1);
    EXPECT_EQ(Hyl_GetQFields(), 0);
    EXPECT_EQ(Hyl_GetQRecords(), 2);  // the closed table's count stays
    EXPECT_STREQ(Hyl_GetFieldName(0), "");
    EXPECT_EQ(g_current_table.handle, -1);
}

TEST_F(TableTest, NamesAndTextsAreConvertedOnlyForTheOemLanguageBytes) {
    // 0x65 as dBASE III and this library mark code page 866, 0x26 as dBASE
    // IV, Visual FoxPro and python-dbf do; 0x57 is Windows-1251 itself.
    const struct {
        uint8_t language;
        bool converted;
    } cases[] = {{0x65, true}, {0x26, true}, {0x57, false}, {0x00, false}};
    for (const auto& c : cases) {
        FakePlatform fake;
        DbfBuilder b;
        b.fields = {{"\x8A\xAE\xA4   ", 'C', 3, 0}, {"ELEVENCHARS", 'C', 2, 0}};  // "Код" + blanks
        b.records = {"\x8A\xAE\xA4" "ab"};
        b.language = c.language;
        std::string p = put("lang.dbf", b);
        ASSERT_EQ(Hyl_OpenTableForRead(p.c_str()), 1);
        const std::string want = c.converted ? ansi("Код") : "\x8A\xAE\xA4";
        EXPECT_EQ(std::string(Hyl_GetFieldName(0)), want) << int(c.language);
        EXPECT_EQ(std::string(Hyl_GetFieldText(0, 0)), want) << int(c.language);
        EXPECT_STREQ(Hyl_GetFieldName(1), "ELEVENCHARS");
    }
}

TEST_F(TableTest, HeaderLengthEdgeCases) {
    // The fields are the descriptors before the 0x0D terminator; dBASE IV
    // and Visual FoxPro put bytes after it (263 in Visual FoxPro).  With no
    // terminator every whole descriptor the header length holds counts.
    struct Case {
        int header_length;
        int result;
        int fields;
        bool terminator = true;
    } cases[] = {{129, 1, 3},        {32, 1, 0}, {159, 1, 3}, {161, 1, 3}, {129 + 263, 1, 3},
                 {161, 1, 4, false}, {0, 0, 0},  {31, 0, 0}};
    for (const auto& c : cases) {
        FakePlatform fake;
        DbfBuilder b = three_fields();
        b.header_length = c.header_length;
        b.terminator = c.terminator;
        std::string p = put("h.dbf", b);
        EXPECT_EQ(Hyl_OpenTableForRead(p.c_str()), c.result) << c.header_length;
        EXPECT_EQ(Hyl_GetQFields(), c.fields) << c.header_length;
        if (!c.result) {
            ASSERT_EQ(fake.boxes().size(), 1u);
            char want[400];
            std::snprintf(want, sizeof want, "%s %d %s %s", ansi("Dbf_ReadHead::не выделить").c_str(),
                          c.header_length - 32, ansi("под заголовок").c_str(), p.c_str());
            EXPECT_EQ(fake.boxes()[0], want);
            EXPECT_EQ(fake.beeps(), 0);
        }
    }
}

TEST_F(TableTest, MissingFileShowsBothMessages) {
    FakePlatform fake;
    std::string p = dir.path("none.dbf");
    EXPECT_EQ(Hyl_OpenTableForRead(p.c_str()), 0);
    EXPECT_EQ(Hyl_GetQFields(), 0);
    auto boxes = fake.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    char address[16];
    std::snprintf(address, sizeof address, "%08X",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(&g_current_table) & 0xFFFFFFFFu));
    EXPECT_EQ(boxes[0], std::string("Dbf_ReadHead ") + address + " handle=-1 <" + p + ">");
    EXPECT_EQ(boxes[1].rfind(ansi("Dbf_ReadHead::не прочесть голову ") + p + " errno=", 0), 0u);
    EXPECT_EQ(fake.beeps(), 10);
    EXPECT_TRUE(fake.lines().empty());
}

TEST_F(TableTest, ShortDescriptorsFailWithMessagesDAndB) {
    FakePlatform fake;
    DbfBuilder b = three_fields();
    std::vector<uint8_t> bytes = b.build();
    std::string p = dir.path("short.dbf");
    hyltest::write_file(p, bytes);
    int32_t h = 0;
    fake.read = [&](int32_t handle, void* dst, uint32_t n) -> int32_t {
        if (n == 97) return -1;  // the descriptors
        h = handle;
        return native_platform().file_read(handle, dst, n);
    };
    EXPECT_EQ(Hyl_OpenTableForRead(p.c_str()), 0);
    auto boxes = fake.boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].rfind(ansi("Не читается 97 -1 <"), 0), 0u);
    EXPECT_NE(boxes[1].find(" LHead=97 <" + p + ">"), std::string::npos);
    EXPECT_EQ(boxes[2].rfind(ansi("Dbf_ReadHead::не прочесть голову"), 0), 0u);
    EXPECT_EQ(Hyl_GetQFields(), 0);
}

TEST_F(TableTest, NullPathReopensTheLastTableAndLongPathsAreRefused) {
    FakePlatform fake;
    std::string p = put("t.dbf", three_fields());
    ASSERT_EQ(Hyl_OpenTableForRead(p.c_str()), 1);
    Hyl_CloseTable();
    EXPECT_EQ(Hyl_OpenTableForRead(nullptr), 1);
    EXPECT_EQ(Hyl_GetQFields(), 3);
    // A path that would have to be cut is refused, not cut to another file.
    std::string long_path = dir.dir() + "/" + std::string(260, 'a');
    std::string cut = long_path.substr(0, 254);
    hyltest::write_file(cut, three_fields().build());
    EXPECT_EQ(Hyl_OpenTableForRead(long_path.c_str()), 0);
    EXPECT_EQ(Hyl_GetQFields(), 0);
    EXPECT_EQ(fake.boxes().size(), 2u);
    // The refused path is not remembered: a null path reopens the table last named.
    EXPECT_EQ(Hyl_OpenTableForRead(nullptr), 1);
    EXPECT_STREQ(g_current_table.path, p.c_str());
    EXPECT_EQ(Hyl_OpenTableForAppend(long_path.c_str()), 0);
    EXPECT_EQ(Hyl_CreateDbf(1, long_path.c_str()), 0);
    EXPECT_EQ(Hyl_OpenTableForAppend(nullptr), 1);
    EXPECT_EQ(Hyl_GetQFields(), 3);
    EXPECT_EQ(hyltest::read_file(cut), three_fields().build());  // never touched
}

TEST_F(TableTest, BusyTableIsRetriedThenReported) {
    FakePlatform fake;
    std::string p = put("t.dbf", three_fields());
    fake.busy_opens = 3;
    EXPECT_EQ(Hyl_OpenTableForRead(p.c_str()), 1);
    EXPECT_EQ(fake.lines().size(), 3u);
    EXPECT_EQ(fake.beeps(), 30);
    fake.busy_opens = 100;
    EXPECT_EQ(Hyl_OpenTableForRead(p.c_str()), 0);
    EXPECT_EQ(fake.lines().size(), 23u);
}

TEST_F(TableTest, UnloadWritesBackTheHeaderOfAnAppendedTable) {
    FakePlatform fake;
    std::string p = put("t.dbf", three_fields());
    ASSERT_EQ(Hyl_OpenTableForAppend(p.c_str()), 1);
    Hyl_PutField("gamma", 0);
    ASSERT_EQ(Hyl_AppendRecord(), 1);
    EXPECT_EQ(hyltest::read_file(p)[4], 3);  // counted on disk at once
    // Whatever became of the header since, the unload writes it back whole.
    auto bytes = hyltest::read_file(p);
    bytes[4] = 0;
    hyltest::write_file(p, bytes);
    frame_unload();
    EXPECT_EQ(hyltest::read_file(p)[4], 3);
    frame_load();
}
