// Fault injection in the manner of I/O error tests: for each n, the n-th
// platform operation of a create - define - append - close sequence (and of
// an open - read - close one) fails.  Whatever fails, nothing crashes, the
// export that met the failure says so, and the table on disk never claims
// records or fields that are not in its bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "dbf/dbf.h"
#include "frame/frame.h"
#include "hyl.h"
#include "tests/fake_platform.h"

using namespace hyl;
using hyltest::FakePlatform;
using hyltest::Op;

namespace {

uint32_t le(const std::vector<uint8_t>& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + i];
    return v;
}

// The header's claims hold: every record it counts and every descriptor it
// announces (once the definitions are done) lies in the file, and the record
// length is the sum of the described fields.
::testing::AssertionResult table_is_sound(const std::string& path, bool definitions_done) {
    auto b = hyltest::read_file(path);
    if (b.size() < 32) return ::testing::AssertionSuccess();  // no header written at all
    int hl = static_cast<int16_t>(le(b, 8, 2));
    int rl = static_cast<int16_t>(le(b, 10, 2));
    uint32_t count = le(b, 4, 4);
    if (count > 0 && static_cast<uint64_t>(hl) + static_cast<uint64_t>(count) * rl > b.size())
        return ::testing::AssertionFailure() << "header claims " << count << " records of " << rl
                                             << " bytes; the file has " << b.size();
    if (definitions_done && count > 0) {
        if (b.size() < static_cast<size_t>(hl)) return ::testing::AssertionFailure() << "descriptors missing";
        int sum = 1;
        for (int i = 0; i < (hl - 32) / 32; ++i) sum += b[32 + 32 * i + 16];
        if (sum != rl) return ::testing::AssertionFailure() << "record length " << rl << " but fields sum to " << sum;
    }
    return ::testing::AssertionSuccess();
}

struct Outcome {
    std::vector<int> results;
    int appended = 0;
};

Outcome create_and_fill(const std::string& path) {
    Outcome o;
    o.results.push_back(Hyl_CreateDbf(3, path.c_str()));
    o.results.push_back(Hyl_CreateNewField(0, 6, "NAME", "C", 0));
    o.results.push_back(Hyl_CreateNewField(1, 5, "QTY", "N", 0));
    o.results.push_back(Hyl_CreateNewField(2, 8, "DAY", "D", 0));
    o.results.push_back(Hyl_OpenTableForAppend(path.c_str()));
    for (int r = 0; r < 3; ++r) {
        o.results.push_back(Hyl_PutField("row", 0));
        o.results.push_back(Hyl_PutField("12", 1));
        o.results.push_back(Hyl_PutField("20100325", 2));
        int a = Hyl_AppendRecord();
        o.results.push_back(a);
        o.appended += a;
    }
    o.results.push_back(Hyl_CloseTable());
    return o;
}

}  // namespace

TEST(FaultInjection, CreateDefineAppendClose) {
    const std::vector<std::vector<Op>> kinds = {
        {Op::kOpen}, {Op::kCreate}, {Op::kWrite}, {Op::kSeek}, {Op::kAlloc}, {Op::kRead},
        {Op::kShare},
    };
    int runs = 0, fired = 0;
    for (const auto& kind : kinds) {
        const int fired_before = fired;
        for (bool short_write : {false, true}) {
            if (short_write && kind[0] != Op::kWrite) continue;
            for (int n = 1; n < 60; ++n) {
                hyltest::TempDir dir;
                std::string path = dir.path("t.dbf");
                frame_load();
                Outcome o;
                bool hit;
                {
                    FakePlatform fake;
                    fake.busy_opens = 0;
                    fake.fail_nth(n, kind, short_write);
                    o = create_and_fill(path);
                    hit = fake.fault_fired();
                }
                frame_unload();
                ++runs;
                if (!hit) break;  // n passed the last operation of this kind
                ++fired;
                bool all_ok = true;
                for (int r : o.results) all_ok = all_ok && r == 1;
                bool definitions_done = o.results[0] && o.results[1] && o.results[2] && o.results[3];
                EXPECT_TRUE(table_is_sound(path, definitions_done)) << "kind " << int(kind[0]) << " n " << n;
                // Every append that answered 1 is counted on disk, whether or
                // not the close got its header written: a crash loses none.
                if (const auto b = hyltest::read_file(path); b.size() >= 32) {
                    EXPECT_EQ(le(b, 4, 4), static_cast<uint32_t>(o.appended)) << "kind " << int(kind[0]) << " n " << n;
                }
                // Reading back through the library agrees with what was reported.
                frame_load();
                {
                    FakePlatform quiet;
                    if (Hyl_OpenTableForRead(path.c_str())) {
                        EXPECT_LE(Hyl_GetQRecords(), o.appended) << "kind " << int(kind[0]) << " n " << n;
                        if (all_ok) {
                            EXPECT_EQ(Hyl_GetQRecords(), 3);
                        }
                        for (int r = 0; all_ok && r < Hyl_GetQRecords(); ++r)
                            EXPECT_STREQ(Hyl_GetFieldText(r, 0), "row") << "kind " << int(kind[0]) << " n " << n;
                    }
                }
                frame_unload();
            }
        }
        EXPECT_GT(fired, fired_before) << "no fault of kind " << int(kind[0]) << " fired";
    }
    frame_load();
    EXPECT_GT(fired, 20);
    EXPECT_GT(runs, fired);
}

TEST(FaultInjection, OpenReadClose) {
    hyltest::TempDir dir;
    std::string path = dir.path("r.dbf");
    {
        FakePlatform quiet;
        frame_load();
        create_and_fill(path);
        frame_unload();
    }
    const auto before = hyltest::read_file(path);
    for (Op kind : {Op::kOpen, Op::kRead, Op::kReadAt, Op::kSeek, Op::kAlloc, Op::kShare}) {
        for (int n = 1; n < 30; ++n) {
            frame_load();
            bool hit;
            {
                FakePlatform fake;
                fake.fail_nth(n, {kind});
                int opened = Hyl_OpenTableForRead(path.c_str());
                for (int r = 0; r < 3; ++r) {
                    std::string text = Hyl_GetFieldText(r, 0);
                    // Either the value or, where the read failed, an empty field.
                    EXPECT_TRUE(text == "row" || text.empty()) << text;
                    if (!opened) {
                        EXPECT_EQ(text, "");
                    }
                }
                Hyl_CloseTable();
                hit = fake.fault_fired();
            }
            frame_unload();
            EXPECT_EQ(hyltest::read_file(path), before);  // reading never changes the table
            if (!hit) break;
        }
    }
    frame_load();
}
