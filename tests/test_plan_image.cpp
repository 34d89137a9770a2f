// The table image: its load (attempts, beeps, pauses, messages, size
// limits), its release, and its accessors on regular and malformed headers.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "plan/dbfimage.h"
#include "tests/dbf_bytes.h"
#include "tests/fake_platform.h"

using namespace hyl;
using hyltest::ansi;
using hyltest::FakePlatform;
using hyltest::FieldSpec;
using hyltest::Op;
using hyltest::UiEvent;

namespace {

// An image freed at the end of the test whatever happened.
struct ImageGuard {
    DbfImage image;
    ~ImageGuard() { DbfImg_Free(image); }
};

void make_sized_file(const std::string& path, std::uintmax_t size) {
    hyltest::write_file(path, {});
    std::filesystem::resize_file(path, size);
}

const std::vector<FieldSpec> kThreeFields = {{"NCE", 'N', 10}, {"NAMEOBJ", 'C', 5}, {"DATA", 'C', 8}};

}  // namespace

TEST(DbfImgLoad, MissingFileTriesTenTimesWithBeepAndPauseThenMessageA) {
    hyltest::TempDir dir;
    const std::string path = dir.path("absent.dbf");
    FakePlatform fake;
    ImageGuard g;
    EXPECT_EQ(DbfImg_Load(g.image, path.c_str()), nullptr);
    EXPECT_EQ(g.image.block, nullptr);
    EXPECT_EQ(fake.opens, 10);
    // Ten times one beep and a 2-second pause, then the alarm and the box.
    ASSERT_EQ(fake.events.size(), 10u * 2 + 10 + 1);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(fake.events[2 * i].kind, UiEvent::kBeep);
        EXPECT_EQ(fake.events[2 * i + 1].kind, UiEvent::kSleep);
        EXPECT_EQ(fake.events[2 * i + 1].ms, 2000u);
    }
    EXPECT_EQ(fake.beeps(), 20);
    ASSERT_EQ(fake.boxes().size(), 1u);
    EXPECT_EQ(fake.boxes()[0], ansi("Не открыть <" + path + ">"));
    EXPECT_STREQ(g.image.path, path.c_str());
}

TEST(DbfImgLoad, BusyFileIsRetriedUntilItOpens) {
    hyltest::TempDir dir;
    const std::string path = dir.path("plan.dbf");
    hyltest::write_file(path, hyltest::dbf_bytes(kThreeFields, {{"1", "A", "x"}}));
    FakePlatform fake;
    fake.busy_opens = 2 * 20 + 5;  // two whole attempts and part of a third
    ImageGuard g;
    ASSERT_NE(DbfImg_Load(g.image, path.c_str()), nullptr);
    int long_pauses = 0;
    for (const auto& e : fake.events)
        if (e.kind == UiEvent::kSleep && e.ms == 2000) ++long_pauses;
    EXPECT_EQ(long_pauses, 2);
    EXPECT_TRUE(fake.boxes().empty());
    EXPECT_EQ(DbfImg_GetQRecords(g.image), 1);
}

TEST(DbfImgLoad, LengthLimitsAndBlockSize) {
    hyltest::TempDir dir;
    struct Case {
        std::uintmax_t size;
        bool loads;
        const char* message;  // UTF-8 with %ld for the length and %s for the path
        int32_t block_size;
    } cases[] = {
        {0, false, "Нев длина %ld <%s>", 0},
        {1, true, nullptr, 32769},
        {1000, true, nullptr, 34268},
        {1001, true, nullptr, 34269},
        {14999999, true, nullptr, 14999999 * 3 / 2 + 32768},
        {15000000, false, "Слишком большая длина %ld <%s>\n Редактируйте такие файлы другими средствами", 0},
    };
    for (const auto& c : cases) {
        const std::string path = dir.path("f" + std::to_string(c.size));
        make_sized_file(path, c.size);
        FakePlatform fake;
        ImageGuard g;
        uint8_t* block = DbfImg_Load(g.image, path.c_str());
        EXPECT_EQ(block != nullptr, c.loads) << c.size;
        EXPECT_EQ(g.image.block, block) << c.size;
        EXPECT_EQ(g.image.file_length, static_cast<int32_t>(c.size)) << c.size;
        if (c.loads) {
            EXPECT_EQ(g.image.block_size, c.block_size) << c.size;
            EXPECT_TRUE(fake.events.empty()) << c.size;
        } else {
            char want[400];
            std::snprintf(want, sizeof want, ansi(c.message).c_str(), static_cast<long>(c.size),
                          path.c_str());
            ASSERT_EQ(fake.boxes().size(), 1u) << c.size;
            EXPECT_EQ(fake.boxes()[0], want);
            EXPECT_EQ(fake.beeps(), 10) << c.size;
            EXPECT_EQ(fake.opens, 1) << c.size;
        }
    }
}

TEST(DbfImgLoad, BytesAfterTheFileAreZeroAndAreOnlyReadOnce) {
    hyltest::TempDir dir;
    const std::string path = dir.path("plan.dbf");
    std::vector<uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    hyltest::write_file(path, bytes);
    FakePlatform fake;
    ImageGuard g;
    ASSERT_NE(DbfImg_Load(g.image, path.c_str()), nullptr);
    EXPECT_EQ(std::memcmp(g.image.block, bytes.data(), bytes.size()), 0);
    for (int32_t i = 1000; i < g.image.block_size; ++i)
        ASSERT_EQ(g.image.block[i], 0) << i;
    // The file changing afterwards changes nothing in the image.
    hyltest::write_file(path, std::vector<uint8_t>(1000, 0xEE));
    EXPECT_EQ(g.image.block[0], bytes[0]);
    EXPECT_EQ(fake.read_sizes, std::vector<uint32_t>{1000});
}

TEST(DbfImgLoad, UnreadableFileKeepsAnEmptyImage) {
    hyltest::TempDir dir;
    const std::string path = dir.path("plan.dbf");
    hyltest::write_file(path, hyltest::dbf_bytes(kThreeFields, {{"1", "A", "x"}}));
    FakePlatform fake;
    fake.fail_nth(1, {Op::kRead});
    ImageGuard g;
    ASSERT_NE(DbfImg_Load(g.image, path.c_str()), nullptr);
    ASSERT_EQ(fake.boxes().size(), 1u);
    EXPECT_EQ(fake.boxes()[0].rfind(ansi("Не читается"), 0), 0u);
    EXPECT_EQ(DbfImg_GetQRecords(g.image), 0);
    EXPECT_EQ(DbfImg_FindField(g.image, "NCE"), -1);
}

TEST(DbfImgLoad, BlockThatCannotBeAllocatedLeavesNoImage) {
    hyltest::TempDir dir;
    const std::string path = dir.path("plan.dbf");
    hyltest::write_file(path, hyltest::dbf_bytes(kThreeFields, {{"1", "A", "x"}}));
    FakePlatform fake;
    fake.fail_nth(1, {Op::kAlloc});
    ImageGuard g;
    EXPECT_EQ(DbfImg_Load(g.image, path.c_str()), nullptr);
    EXPECT_EQ(g.image.block, nullptr);
    EXPECT_TRUE(fake.read_sizes.empty());
    // Nothing held: a later load starts afresh and succeeds.
    EXPECT_NE(DbfImg_Load(g.image, path.c_str()), nullptr);
}

TEST(DbfImgFree, ClearsLengthsKeepsPath) {
    hyltest::TempDir dir;
    const std::string path = dir.path("plan.dbf");
    make_sized_file(path, 1000);
    FakePlatform fake;
    DbfImage image;
    ASSERT_NE(DbfImg_Load(image, path.c_str()), nullptr);
    EXPECT_EQ(DbfImg_Free(image), 1);
    EXPECT_EQ(image.block, nullptr);
    EXPECT_EQ(image.file_length, 0);
    EXPECT_EQ(image.block_size, 0);
    EXPECT_STREQ(image.path, path.c_str());
    EXPECT_EQ(DbfImg_Free(image), 1);  // freeing nothing is harmless and silent
    EXPECT_TRUE(fake.events.empty());
}

class DbfImgAccess : public ::testing::Test {
protected:
    // Loads BYTES as an image.
    void load(const std::vector<uint8_t>& bytes) {
        DbfImg_Free(image_);
        const std::string path = dir_.path("t.dbf");
        hyltest::write_file(path, bytes);
        ASSERT_NE(DbfImg_Load(image_, path.c_str()), nullptr);
    }
    ~DbfImgAccess() override { DbfImg_Free(image_); }

    hyltest::TempDir dir_;
    FakePlatform fake_;
    DbfImage image_;
};

TEST_F(DbfImgAccess, RegularTable) {
    const std::vector<FieldSpec> fields = {{"NCE", 'N', 10}, {"NAMEOBJ", 'C', 5}, {"DATA", 'C', 8}};
    load(hyltest::dbf_bytes(fields, {{"1500000001", "Abc", "x"}, {"-2.5", "Q", ""}}));
    EXPECT_EQ(DbfImg_GetQRecords(image_), 2);
    EXPECT_EQ(DbfImg_GetQFields(image_), 3);
    EXPECT_EQ(DbfImg_GetFieldOffset(image_, 0), 1);
    EXPECT_EQ(DbfImg_GetFieldOffset(image_, 1), 11);
    EXPECT_EQ(DbfImg_GetFieldOffset(image_, 2), 16);
    EXPECT_EQ(DbfImg_GetFieldOffset(image_, 3), -1);
    EXPECT_EQ(DbfImg_GetFieldOffset(image_, -1), -1);
    EXPECT_EQ(DbfImg_GetFieldLength(image_, 2), 8);
    EXPECT_EQ(DbfImg_GetFieldDesc(image_, 1), image_.block + 64);
    EXPECT_EQ(DbfImg_GetRecordPtr(image_, 1), image_.block + 129 + 24);
    EXPECT_EQ(DbfImg_GetFieldPtr(image_, 1, 2), image_.block + 129 + 24 + 16);

    struct Find {
        const char* name;
        int32_t field;
    } finds[] = {{"NCE", 0}, {"nce", 0},   {"nCe", 0}, {"NAMEOBJ", 1}, {"data", 2},
                 {"NC", -1}, {"NCEX", -1}, {"", -1},   {nullptr, -1}};
    for (const auto& f : finds)
        EXPECT_EQ(DbfImg_FindField(image_, f.name), f.field) << (f.name ? f.name : "null");

    EXPECT_DOUBLE_EQ(DbfImg_GetNumericByName(image_, "NCE", 0), 1500000001.0);
    EXPECT_DOUBLE_EQ(DbfImg_GetNumericByName(image_, "nce", 1), -2.5);
    EXPECT_DOUBLE_EQ(DbfImg_GetNumericByName(image_, "MISSING", 0), 0.0);
    EXPECT_DOUBLE_EQ(DbfImg_GetNumericByName(image_, "DATA", 1), 0.0);

    char buf[16];
    std::memset(buf, 'z', sizeof buf);
    EXPECT_EQ(DbfImg_GetFieldByName(image_, "nameobj", 0, buf, 10, 1), 1);
    EXPECT_EQ(std::string(buf, 6), std::string("Abc  \0", 6));
    std::memset(buf, 'z', sizeof buf);
    EXPECT_EQ(DbfImg_GetFieldByName(image_, "NOPE", 0, buf, 10, 1), 0);
    EXPECT_EQ(buf[0], 'z');
    // Capacity below the field's length: that many bytes and no NUL.
    EXPECT_EQ(DbfImg_GetField(image_, 0, 0, buf, 4, 1), 1);
    EXPECT_EQ(std::string(buf, 5), "1500z");
    std::memset(buf, 'z', sizeof buf);
    EXPECT_EQ(DbfImg_GetField(image_, 2, 0, buf, 15, 0), 1);  // no terminate asked
    EXPECT_EQ(std::string(buf, 9), "x       z");
}

TEST_F(DbfImgAccess, WideFieldCutAtCapacityAndCyrillicNamesExactCase) {
    // "ИМЯ" and "имя" in code page 866.
    const std::string upper = "\x88\x8C\x9F", lower = "\xA8\xAC\xEF";
    const std::vector<FieldSpec> fields = {{"WIDE", 'C', 40}, {upper, 'C', 10}};
    load(hyltest::dbf_bytes(fields, {{std::string(40, 'w'), "ten"}}));
    char buf[64];
    std::memset(buf, 'z', sizeof buf);
    DbfImg_GetField(image_, 0, 0, buf, 31, 1);
    EXPECT_EQ(std::string(buf, 32), std::string(31, 'w') + "z");
    std::memset(buf, 'z', sizeof buf);
    DbfImg_GetField(image_, 1, 0, buf, 31, 1);
    EXPECT_EQ(std::string(buf, 12), std::string("ten       \0z", 12));
    EXPECT_EQ(DbfImg_FindField(image_, upper.c_str()), 1);
    EXPECT_EQ(DbfImg_FindField(image_, lower.c_str()), -1);
    EXPECT_EQ(DbfImg_FindField(image_, "wide"), 0);
}

TEST_F(DbfImgAccess, HeaderLengthGivesFieldCount) {
    struct Case {
        int header_length;
        int32_t fields;
    } cases[] = {{129, 3}, {161, 4}, {63, 0}, {32, 0}, {31, 0}, {0, -1}, {-32768, -1025}};
    for (const auto& c : cases) {
        auto bytes = hyltest::dbf_bytes(kThreeFields, {{"1", "A", "x"}});
        hyltest::put_le16(bytes, 8, c.header_length);
        load(bytes);
        EXPECT_EQ(DbfImg_GetQFields(image_), c.fields) << c.header_length;
        if (c.fields <= 0) {
            EXPECT_EQ(DbfImg_FindField(image_, "NCE"), -1) << c.header_length;
            EXPECT_EQ(DbfImg_GetFieldOffset(image_, 0), -1) << c.header_length;
            EXPECT_EQ(DbfImg_GetFieldDesc(image_, 0), nullptr) << c.header_length;
        }
    }
}

TEST_F(DbfImgAccess, NothingIsReadOutsideTheBlock) {
    // Each header lies about where the records are; every read stays inside
    // the block (the ASan build checks it) and what lies outside is empty.
    struct Case {
        const char* what;
        uint32_t record_count;
        int header_length;
        int record_length;
        int32_t record;  // read as field 0 ("NCE")
        bool readable;
        int32_t searched;  // the records a search walks: those the file reaches
    } cases[] = {
        {"regular", 1, 129, 24, 0, true, 1},
        {"record past the block", 0x7FFFFFFF, 129, 24, 100000, false, 1},
        {"last record of a huge count", 0x7FFFFFFF, 129, 24, 0x7FFFFFFE, false, 1},
        {"negative record", 1, 129, 24, -1, true, 1},  // lands inside the header
        {"far negative record", 1, 129, 24, -1000000, false, 1},
        {"negative record length", 5, 129, -24, 3, true, 0},
        {"negative record length, far", 5, 129, -24, 100, false, 0},
        {"long records", 1000, 129, 32767, 2, false, 1},
        {"header length at the top", 1, 32767, 24, 0, true, 0},  // zero fill, still inside
        {"negative header length", 1, -32000, 24, 0, false, 1},
        // Not the 32,768 and more of the zero padding after the file.
        {"one-byte records", 0x7FFFFFFF, 129, 1, 30, true, 24},
    };
    for (const auto& c : cases) {
        auto bytes = hyltest::dbf_bytes(kThreeFields, {{"7", "A", "x"}});
        hyltest::put_le32(bytes, 4, c.record_count);
        hyltest::put_le16(bytes, 8, c.header_length);
        hyltest::put_le16(bytes, 10, c.record_length);
        load(bytes);
        // The descriptors keep their place whatever the header length says,
        // so NCE stays field 0 while the header has room for it.
        EXPECT_EQ(DbfImg_FindField(image_, "NCE"), c.header_length >= 64 ? 0 : -1) << c.what;
        EXPECT_EQ(DbfImg_GetFieldPtr(image_, c.record, 0) != nullptr, c.readable) << c.what;
        EXPECT_EQ(DbfImg_RecordsWithin(image_), c.searched) << c.what;
        char buf[16];
        std::memset(buf, 'z', sizeof buf);
        EXPECT_EQ(DbfImg_GetField(image_, 0, c.record, buf, 12, 1), 1) << c.what;
        if (!c.readable) {
            EXPECT_EQ(buf[0], '\0') << c.what;
            EXPECT_DOUBLE_EQ(DbfImg_GetNumericByName(image_, "NCE", c.record), 0.0) << c.what;
        }
    }
    // Fields whose lengths add up beyond the block, in a record that starts inside it.
    std::vector<FieldSpec> wide;
    for (int i = 0; i < 200; ++i)
        wide.push_back({"F" + std::to_string(i), 'C', 255});
    auto bytes = hyltest::dbf_bytes(wide, {});
    hyltest::put_le32(bytes, 4, 3);
    load(bytes);
    ASSERT_LT(image_.block_size, 200 * 255);
    EXPECT_NE(DbfImg_GetFieldPtr(image_, 0, 10), nullptr);
    EXPECT_EQ(DbfImg_GetFieldPtr(image_, 0, 199), nullptr);
    EXPECT_DOUBLE_EQ(DbfImg_GetNumericByName(image_, "F199", 2), 0.0);
    char buf[300];
    DbfImg_GetFieldByName(image_, "F199", 2, buf, 255, 1);
    EXPECT_EQ(buf[0], '\0');
}
