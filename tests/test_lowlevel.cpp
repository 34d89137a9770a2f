// The primitives under the table engine: messages, busy retries, chunked
// reads and writes, memory blocks, blank fill and trim.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "lowlevel/lv.h"
#include "tests/fake_platform.h"

using namespace hyl;
using hyltest::ansi;
using hyltest::FakePlatform;
using hyltest::UiEvent;

TEST(LVMessage, FlagsChooseBoxLineAndAlarm) {
    struct Case {
        int32_t flags;
        int beeps;
        bool box;
    } cases[] = {{0x00, 0, true}, {0x01, 10, true}, {0x02, 0, false}, {0x03, 10, true},
                 {0x10, 0, true}, {0x11, 10, true}, {0x12, 0, false}};
    for (const auto& c : cases) {
        FakePlatform fake;
        LVMessage(c.flags, "text %d", 7);
        EXPECT_EQ(fake.beeps(), c.beeps) << "flags " << c.flags;
        EXPECT_EQ(fake.boxes().size(), c.box ? 1u : 0u) << "flags " << c.flags;
        EXPECT_EQ(fake.lines().size(), c.box ? 0u : 1u) << "flags " << c.flags;
        // The beeps come before the text is shown.
        if (c.beeps) {
            EXPECT_EQ(fake.events.back().kind, UiEvent::kBox);
        }
    }
}

TEST(LVMessage, FormatsPointersCarriageReturnsAndLongTexts) {
    FakePlatform fake;
    LVMessage(0, "%p|%p", static_cast<void*>(nullptr), reinterpret_cast<void*>(0xABCDEF12u));
    LVMessage(0, "a\rb\nc");
    LVMessage(0, "%s %04x %5d %ld", "x", 0x8042u, 32, 123456L);
    std::string huge(9000, 'z');
    LVMessage(0, "%s", huge.c_str());
    auto boxes = fake.boxes();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0], "00000000|ABCDEF12");
    EXPECT_EQ(boxes[1], "arb\nc");
    EXPECT_EQ(boxes[2], "x 8042    32 123456");
    EXPECT_EQ(boxes[3].size(), 8123u);
}

TEST(LVMessage, MessagesAreWindows1251ByteForByte) {
    FakePlatform fake;
    LVFree(nullptr);
    ASSERT_EQ(fake.boxes().size(), 1u);
    // "LVFree::Попытка освободить уже свободную память 00000000" in 1251.
    EXPECT_EQ(fake.boxes()[0],
              "LVFree::\xCF\xEE\xEF\xFB\xF2\xEA\xE0 \xEE\xF1\xE2\xEE\xE1\xEE\xE4\xE8\xF2\xFC "
              "\xF3\xE6\xE5 \xF1\xE2\xEE\xE1\xEE\xE4\xED\xF3\xFE \xEF\xE0\xEC\xFF\xF2\xFC 00000000");
    EXPECT_EQ(fake.beeps(), 10);
}

TEST(LvvOpen, BusyFileIsRetriedWithLinesBeepsAndModeChange) {
    hyltest::TempDir dir;
    std::string path = dir.path("t.dbf");
    hyltest::write_file(path, {1, 2, 3});
    FakePlatform fake;
    fake.busy_opens = 1000;
    EXPECT_EQ(lvv_open(path.c_str(), kModeUpdate, kOpenAttempts), -1);
    auto lines = fake.lines();
    ASSERT_EQ(lines.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        char want[300];
        std::snprintf(want, sizeof want, "%s %s ofl=%s %d -1 32", path.c_str(), ansi("занят").c_str(),
                      i < 6 ? "8022" : "8042", i);
        EXPECT_EQ(lines[i], want);
    }
    EXPECT_EQ(fake.opens, 20);
    EXPECT_EQ(fake.beeps(), 200);
    EXPECT_EQ(fake.slept_ms(), 20u * 10u * 10u);
    EXPECT_STREQ(lv_last_path(), path.c_str());
}

TEST(LvvOpen, EscapeOrRightButtonAbortsWithinOneWatch) {
    for (int key : {kVkEscape, kVkRButton}) {
        FakePlatform fake;
        fake.busy_opens = 1000;
        int looks = 0;
        fake.key_down = [&](int vk) { return vk == key && ++looks > 3; };
        EXPECT_EQ(lvv_open("/nonexistent/x", kModeShareRead, kOpenAttempts), -1);
        EXPECT_EQ(fake.opens, 1);
        EXPECT_EQ(fake.lines().size(), 1u);
        EXPECT_LE(fake.slept_ms(), 30u);
    }
}

TEST(LvvOpen, MissingFileFailsAtOnceAndZeroAttemptsTouchNothing) {
    FakePlatform fake;
    EXPECT_EQ(lvv_open("/nonexistent/dir/file.dbf", kModeShareRead, kOpenAttempts), -1);
    EXPECT_EQ(fake.opens, 1);
    EXPECT_TRUE(fake.lines().empty());
    EXPECT_EQ(lvv_open("/zero/attempts", kModeShareRead, 0), -1);
    EXPECT_EQ(fake.opens, 1);
    EXPECT_STREQ(lv_last_path(), "/zero/attempts");
    std::string long_path(300, 'p');
    lvv_open(long_path.c_str(), kModeShareRead, 0);
    EXPECT_EQ(std::string(lv_last_path()), long_path.substr(0, 254));
}

TEST(LvvRead, ReadsInPiecesAndReportsBadCalls) {
    hyltest::TempDir dir;
    std::string path = dir.path("big");
    std::vector<uint8_t> bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    hyltest::write_file(path, bytes);
    FakePlatform fake;
    int32_t h = lvv_open(path.c_str(), kModeShareRead, kOpenAttempts);
    ASSERT_GT(h, 0);
    std::vector<uint8_t> got(80000, 0xEE);
    EXPECT_EQ(lvv_read(h, got.data(), 70000), 70000);
    EXPECT_EQ(fake.read_sizes, (std::vector<uint32_t>{65535, 4465}));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), got.begin()));
    // Past the end: the length asked for, the destination untouched.
    EXPECT_EQ(lvv_read(h, got.data(), 10), 10);
    EXPECT_EQ(got[0], bytes[0]);
    EXPECT_EQ(lvv_read(h, got.data(), 0), 0);
    EXPECT_EQ(fake.read_sizes.size(), 3u);
    lvv_close(h);

    for (int32_t bad : {0, -1}) {
        FakePlatform f2;
        EXPECT_EQ(lvv_read(bad, got.data(), 4), 0);
        EXPECT_EQ(f2.beeps(), 10);
        ASSERT_EQ(f2.boxes().size(), 1u);
        EXPECT_EQ(f2.boxes()[0], ansi("Некорректный вызов lvv_read <") + path + ">");
    }
}

TEST(LvvRead, FailedPieceIsReported) {
    hyltest::TempDir dir;
    std::string path = dir.path("f");
    hyltest::write_file(path, std::vector<uint8_t>(100, 1));
    FakePlatform fake;
    int32_t h = lvv_open(path.c_str(), kModeShareRead, 1);
    fake.fail_nth(1, {hyltest::Op::kRead});
    char buf[100];
    EXPECT_EQ(lvv_read(h, buf, 100), 0);
    ASSERT_EQ(fake.boxes().size(), 1u);
    EXPECT_EQ(fake.boxes()[0], ansi("Не читается 100 -1 <") + path + ">");
    lvv_close(h);
}

TEST(LvvWrite, WritesInPiecesAndFailsOnShortPiece) {
    hyltest::TempDir dir;
    std::string path = dir.path("w");
    hyltest::write_file(path, {});
    FakePlatform fake;
    int32_t h = lvv_open(path.c_str(), kModeUpdate, 1);
    std::vector<uint8_t> data(70000, 'q');
    EXPECT_EQ(lvv_write(h, data.data(), 70000), 70000);
    EXPECT_EQ(lvv_write(h, data.data(), 0), 0);
    fake.fail_nth(1, {hyltest::Op::kWrite}, /*short_write=*/true);
    EXPECT_EQ(lvv_write(h, data.data(), 10), 0);
    EXPECT_TRUE(fake.boxes().empty());
    EXPECT_EQ(lvv_close(h), 0);
    EXPECT_EQ(lvv_close(0), 0);
    EXPECT_EQ(lvv_close(-1), 0);
    EXPECT_EQ(hyltest::read_file(path).size(), 70005u);
}

TEST(LVMemory, AllocTwiceReportsAndReplaces) {
    FakePlatform fake;
    MemHandle a = LVAlloc(nullptr, 16);
    ASSERT_NE(a, nullptr);
    auto* p = static_cast<uint8_t*>(LVLock(a));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], 0);
    EXPECT_EQ(LVUnlock(a), 0);
    MemHandle b = LVAlloc(a, 8);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(fake.beeps(), 10);
    ASSERT_EQ(fake.boxes().size(), 1u);
    EXPECT_EQ(fake.boxes()[0].rfind("LVAlloc::", 0), 0u);
    EXPECT_EQ(LVFree(b), nullptr);
}

TEST(ByteText, NulToBlankAndTrimRight) {
    char a[4] = {'A', 0, 0, 'B'};
    EXPECT_EQ(LVNulToBlank(a, 4), 4);
    EXPECT_EQ(std::memcmp(a, "A  B", 4), 0);
    EXPECT_EQ(LVNulToBlank(a, 0), 0);

    struct Case {
        const char* in;
        int32_t length;
        const char* out;
        int32_t result;
    } cases[] = {
        {"NAME   ", 0, "NAME", 3},     {"     ", 0, "", -1},   {"AB\t", 0, "AB", 1},
        {"AB\r", 0, "AB", 1},          {"\xC0\xE1", 0, "\xC0\xE1", 1}, {"", 0, "", -1},
        {" lead", 0, " lead", 4},
    };
    for (const auto& c : cases) {
        char buf[32] = {};
        std::strcpy(buf, c.in);
        EXPECT_EQ(LVTrimRight(buf, c.length), c.result) << c.in;
        EXPECT_STREQ(buf, c.out);
    }
    char padded[16] = "AB";  // explicit length reaches past the NUL
    padded[5] = ' ';
    EXPECT_EQ(LVTrimRight(padded, 15), 1);
    EXPECT_EQ(padded[5], '\0');
}
