// Whole-table work: the snapshot reads what the exports read, check names
// each kind of damage, and repair mends what needs no guessing, in an order
// that never leaves the header claiming records the file does not hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <random>
#include <set>

#include "tables/check.h"
#include "tables/repair.h"
#include "tables/snapshot.h"
#include "frame/frame.h"
#include "hyl.h"
#include "tests/dbf_builder.h"
#include "tests/dbf_bytes.h"
#include "tests/fake_platform.h"

using namespace hyl;
using hyltest::DbfBuilder;
using hyltest::FakePlatform;
using Bytes = std::vector<uint8_t>;

namespace {

const std::vector<hyltest::FieldSpec> kFields = {
    {"NAME", 'C', 6, 0}, {"QTY", 'N', 6, 2}, {"DAY", 'D', 8, 0}, {"OK", 'L', 1, 0}};
const int kRecordLength = 22;
const int kHeaderLength = 32 * 4 + 33;

Bytes good_table(int records = 3) {
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; r < records; ++r) rows.push_back({"row" + std::to_string(r), "1.50", "20100325", "T"});
    return hyltest::dbf_bytes(kFields, rows);
}

std::string record_bytes(const std::string& name) { return " " + name + std::string(6 - name.size(), ' ') + "  1.5020100325T"; }

std::set<std::string> codes(const CheckReport& r) {
    std::set<std::string> out;
    for (const auto& f : r.findings) out.insert(Check_ProblemCode(f.problem));
    return out;
}

uint32_t count_of(const Bytes& b) { return b[4] | b[5] << 8 | b[6] << 16 | static_cast<uint32_t>(b[7]) << 24; }

}  // namespace

// Random tables, sound and broken alike: every field of every counted
// record reads through the snapshot as the field-text export reads it.
TEST(Scan, ReadsWhatTheExportsRead) {
    std::mt19937 random(20261207);
    hyltest::TempDir dir;
    const std::string path = dir.path("random.dbf");
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    for (int round = 0; round < 200; ++round) {
        DbfBuilder b;
        const int fields = pick(6);
        for (int f = 0; f < fields; ++f)
            b.fields.push_back({"F" + std::to_string(f) + std::string(pick(2) ? "  " : ""), "CNDL"[pick(4)],
                                static_cast<uint8_t>(pick(4) ? pick(12) : 255), 0});
        b.language = std::array<uint8_t, 3>{0x65, 0x26, 0x57}[pick(3)];
        for (int r = pick(6); r > 0; --r) {
            std::string rec;
            for (int k = pick(300); k > 0; --k) rec += static_cast<char>(pick(5) ? "ab \x8A\x01"[pick(5)] : 0);
            b.records.push_back(rec);
        }
        if (pick(3) == 0) b.record_length = pick(40);
        if (pick(4) == 0) b.record_count = static_cast<int>(b.records.size()) + pick(3);
        if (pick(5) == 0) b.header_length = 32 + pick(200);
        b.terminator = pick(6) != 0;
        Bytes bytes = b.build();
        if (pick(4) == 0) bytes.resize(bytes.size() - static_cast<std::size_t>(pick(static_cast<int>(bytes.size()))));
        hyltest::write_file(path, bytes);

        frame_load();
        Snapshot scan;
        const bool scanned = scan.open(path.c_str(), false) == SnapshotStatus::kOpened;
        FakePlatform quiet;
        ASSERT_EQ(scanned, Hyl_OpenTableForRead(path.c_str()) == 1) << "round " << round;
        if (scanned) {
            ASSERT_EQ(static_cast<int>(scan.fields().size()), Hyl_GetQFields()) << "round " << round;
            for (int f = 0; f < Hyl_GetQFields(); ++f)
                EXPECT_EQ(scan.field_name(f), Hyl_GetFieldName(f)) << "round " << round << " field " << f;
            char text[256];
            scan.for_each_block(0, std::min(Hyl_GetQRecords(), 8), [&](int64_t first, int64_t count, const uint8_t* block) {
                for (int64_t k = 0; k < count; ++k)
                    for (int f = 0; f < Hyl_GetQFields(); ++f) {
                        scan.field_text(block + k * scan.record_length(), f, text);
                        EXPECT_EQ(std::string(text), Hyl_GetFieldText(static_cast<int>(first + k), f))
                            << "round " << round << " record " << first + k << " field " << f;
                    }
                return true;
            });
        }
        Hyl_CloseTable();
        frame_unload();
    }
    frame_load();
}

// Each kind of damage, made in a sound table, and what check names.
TEST(Check, NamesEachKindOfDamage) {
    const std::size_t first = hyltest::dbf_record_position(kFields, 0);
    const struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        std::set<std::string> want;  // empty: sound
        int exit = 1;                // as the tool answers: 0 sound, 1 damage, 2 not checked
    } cases[] = {
        {"sound", [](Bytes&) {}, {}, 0},
        {"no end marker is fine, one is fine", [](Bytes& b) { b.push_back(0x1A); }, {}, 0},
        {"deleted records are fine", [&](Bytes& b) { b[first] = '*'; }, {}, 0},
        {"blank and star-filled values are fine",
         [&](Bytes& b) { std::fill_n(b.begin() + first + 7, 6, '*'), std::fill_n(b.begin() + first + 13, 8, ' '); }, {}, 0},
        {"unknown version", [](Bytes& b) { b[0] = 0x77; }, {"unknown-version"}},
        {"record length: a byte after each record's fields",
         [](Bytes& b) {
             Bytes out(b.begin(), b.begin() + kHeaderLength);
             for (int r = 0; r < 3; ++r) {
                 const auto at = b.begin() + kHeaderLength + r * kRecordLength;
                 out.insert(out.end(), at, at + kRecordLength);
                 out.push_back(' ');
             }
             hyltest::put_le16(out, 10, kRecordLength + 1);
             b = out;
         },
         {"record-length"}},
        {"no terminator", [](Bytes& b) { b[kHeaderLength - 1] = 0; }, {"no-terminator"}},
        {"bytes after the terminator of a dBASE III header",
         [](Bytes& b) {
             b.insert(b.begin() + kHeaderLength, 4, 0);
             hyltest::put_le16(b, 8, kHeaderLength + 4);
         },
         {"header-length"}},
        {"names", [](Bytes& b) { b[32] = 0, b[64] = 'n', b[65] = 'a', b[66] = 'm', b[67] = 'e', b[64 + 4] = 0, b[96 + 2] = 1; },
         {"empty-name", "unreadable-name"}},
        {"duplicate name, other case", [](Bytes& b) { std::copy_n("name\0", 5, b.begin() + 64); }, {"duplicate-name"}},
        {"type and date length", [](Bytes& b) { b[32 + 11] = 'X', b[96 + 16] = 9; },
         {"unknown-type", "date-length", "record-length"}},
        {"records beyond the count", [](Bytes& b) { hyltest::put_le32(b, 4, 1); }, {"records-beyond-count"}},
        {"a partial record", [](Bytes& b) { b.insert(b.end(), 7, 'x'); }, {"partial-record"}},
        {"file shorter than its count", [](Bytes& b) { b.resize(b.size() - 30); }, {"file-short"}},
        {"bytes after the end marker", [](Bytes& b) { b.push_back(0x1A), b.push_back('x'); }, {"bytes-after-end"}},
        {"a tail that is no record", [](Bytes& b) { b.insert(b.end(), kRecordLength, 'x'); }, {"unknown-tail"}},
        {"a tail with a sector of zeros: an append a power cut stopped", [](Bytes& b) { b.resize(b.size() + 1024, 0); },
         {"unwritten-tail"}},
        {"values",
         [&](Bytes& b) {
             b[first] = 0;
             std::copy_n("  1,50", 6, b.begin() + first + 7);
             std::copy_n("20100231", 8, b.begin() + first + kRecordLength + 13);
             b[first + 2 * kRecordLength + 21] = 'x';
         },
         {"deletion-flag", "not-a-number", "not-a-date", "not-a-logical"}},
        {"not a table: too short", [](Bytes& b) { b.resize(20); }, {}, 2},
        {"not a table: no record length", [](Bytes& b) { hyltest::put_le16(b, 10, 0); }, {}, 2},
        {"not a table: unknown version, no terminator", [](Bytes& b) { b[0] = 0x77, b[kHeaderLength - 1] = 0; }, {}, 2},
    };
    hyltest::TempDir dir;
    for (const Case& c : cases) {
        Bytes bytes = good_table();
        c.damage(bytes);
        const std::string path = dir.path("t.dbf");
        hyltest::write_file(path, bytes);
        const CheckReport r = Check_Table(path.c_str());
        EXPECT_EQ(!r.checked() ? 2 : r.sound() ? 0 : 1, c.exit) << c.what;
        EXPECT_EQ(codes(r), c.want) << c.what;
        for (const auto& f : r.findings) EXPECT_FALSE(f.message.empty()) << c.what;
    }
    EXPECT_EQ(Check_Table(dir.path("none.dbf").c_str()).status, SnapshotStatus::kMissing);
}

TEST(Check, SummarisesRepeatedValueProblems) {
    hyltest::TempDir dir;
    Bytes bytes = good_table(50);
    for (int r = 0; r < 50; r += 5) std::copy_n("abc", 3, bytes.begin() + hyltest::dbf_record_position(kFields, r) + 8);
    hyltest::write_file(dir.path("t.dbf"), bytes);
    const CheckReport r = Check_Table(dir.path("t.dbf").c_str());
    ASSERT_EQ(r.findings.size(), 1u);
    const Finding& f = r.findings[0];
    EXPECT_EQ(f.field, 1);
    EXPECT_EQ(f.count, 10);
    ASSERT_EQ(f.examples.size(), 3u);
    EXPECT_EQ(f.examples[2].record, 10);
    EXPECT_EQ(f.examples[0].value, "abc50");
    EXPECT_EQ(f.message, "field 1 QTY (N 6.2): 10 values are not a number: record 0 \"abc50\", record 5 \"abc50\", "
                         "record 10 \"abc50\", ...");
}

// What repair leaves: the header's count, the file's length, the end
// marker, and the backup of the bytes it began from.
TEST(Repair, MendsOnlyWhatNeedsNoGuessing) {
    const std::size_t end3 = hyltest::dbf_record_position(kFields, 3);
    const struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        RepairOutcome outcome;
        uint32_t count;       // after
        std::size_t length;   // after
    } cases[] = {
        {"sound, with no end marker", [](Bytes&) {}, RepairOutcome::kSound, 3, end3},
        {"records an append left uncounted, then half a record",
         [](Bytes& b) {
             for (const char* name : {"four", "five"})
                 for (char c : record_bytes(name)) b.push_back(static_cast<uint8_t>(c));
             b[b.size() - kRecordLength] = '*';  // a deleted one counts too
             b.insert(b.end(), {' ', 's', 'i'});
         },
         RepairOutcome::kMended, 5, end3 + 2 * kRecordLength + 1},
        {"fewer records than counted, and half of one",
         [](Bytes& b) {
             hyltest::put_le32(b, 4, 9);
             b.insert(b.end(), {' ', 'x'});
         },
         RepairOutcome::kMended, 3, end3 + 1},
        {"bytes after the end marker", [](Bytes& b) { b.insert(b.end(), {0x1A, 'x', 'y'}); },
         RepairOutcome::kMended, 3, end3 + 1},
        {"a record torn after its first byte: the end marker takes its place", [](Bytes& b) { b.push_back(' '); },
         RepairOutcome::kMended, 3, end3 + 1},
        {"a power cut in an append: a record, a sector of zeros the disk never got, more records; the first counted",
         [](Bytes& b) {
             for (char c : record_bytes("four")) b.push_back(static_cast<uint8_t>(c));
             b.resize((b.size() / 512 + 2) * 512, 0);
             for (char c : record_bytes("five")) b.push_back(static_cast<uint8_t>(c));
             b.push_back(0x1A);
         },
         RepairOutcome::kMended, 4, end3 + kRecordLength + 1},
        {"records counted up to one whose flag no record has; the tail stays",
         [](Bytes& b) {
             for (char c : record_bytes("four")) b.push_back(static_cast<uint8_t>(c));
             for (char c : record_bytes("junk")) b.push_back(static_cast<uint8_t>(c));
             b[b.size() - kRecordLength] = 'J';
         },
         RepairOutcome::kDamageRemains, 4, end3 + 2 * kRecordLength},
        {"an uncounted record whose number is not one: counted, and said to be left",
         [](Bytes& b) {
             std::string r = record_bytes("four");
             r.replace(7, 6, "  abc ");
             b.insert(b.end(), r.begin(), r.end());
         },
         RepairOutcome::kDamageRemains, 4, end3 + kRecordLength + 1},
        {"damage it does not mend", [](Bytes& b) { b[0] = 0x77; }, RepairOutcome::kDamageRemains, 3, end3},
        {"a file that ends inside its header: no end to mend", [](Bytes& b) { b.resize(100); },
         RepairOutcome::kDamageRemains, 3, 100},
    };
    hyltest::TempDir dir;
    const std::string path = dir.path("t.dbf"), backup = path + ".bak";
    for (const Case& c : cases) {
        Bytes before = good_table();
        c.damage(before);
        for (bool dry_run : {true, false}) {
            hyltest::write_file(path, before);
            std::remove(backup.c_str());
            RepairOptions options;
            options.dry_run = dry_run;
            const RepairResult r = Repair_Table(path.c_str(), options);
            EXPECT_EQ(r.outcome, c.outcome) << c.what << (dry_run ? " (dry run)" : "");
            // What check says repair mends is what it mends.
            const std::vector<bool> mends = Repair_Mends(r.before);
            const std::set<std::string> left = codes(r.after);
            ASSERT_EQ(mends.size(), r.before.findings.size());
            for (std::size_t i = 0; i < mends.size(); ++i)
                EXPECT_NE(mends[i], left.count(Check_ProblemCode(r.before.findings[i].problem)) > 0)
                    << c.what << ": " << r.before.findings[i].message;
            const Bytes after = hyltest::read_file(path);
            const bool changes = !dry_run && after != before;
            EXPECT_EQ(hyltest::read_file(backup), changes || (!dry_run && count_of(before) != c.count) ? before : Bytes{})
                << c.what << (dry_run ? " (dry run)" : "");
            if (dry_run) {
                EXPECT_EQ(after, before) << c.what << ": a dry run changed the table";
                continue;
            }
            EXPECT_EQ(count_of(after), c.count) << c.what;
            ASSERT_EQ(after.size(), c.length) << c.what;
            // Nothing but the count and the end of the file changed.
            for (std::size_t i = 0; i + 1 < std::min(before.size(), after.size()); ++i)
                if (i < 4 || i > 7) {
                    ASSERT_EQ(after[i], before[i]) << c.what << " byte " << i;
                }
            if (c.outcome == RepairOutcome::kMended) {
                EXPECT_EQ(after.back(), 0x1A) << c.what;
                EXPECT_TRUE(r.after.sound()) << c.what;
            }
        }
    }
}

TEST(Repair, RefusesATableInUseAndAnExistingBackup) {
    hyltest::TempDir dir;
    const std::string path = dir.path("t.dbf");
    Bytes bytes = good_table();
    bytes.insert(bytes.end(), {' ', 'x'});
    hyltest::write_file(path, bytes);
    frame_load();
    {
        FakePlatform quiet;
        ASSERT_EQ(Hyl_OpenTableForAppend(path.c_str()), 1);
        const RepairResult r = Repair_Table(path.c_str(), {});
        EXPECT_EQ(r.outcome, RepairOutcome::kCannotWork);
        EXPECT_NE(r.why.find("in use"), std::string::npos) << r.why;
        Hyl_CloseTable();
    }
    frame_unload();
    EXPECT_EQ(hyltest::read_file(path), bytes);
    hyltest::write_file(path + ".bak", {1, 2, 3});
    EXPECT_EQ(Repair_Table(path.c_str(), {}).outcome, RepairOutcome::kCannotWork);
    EXPECT_EQ(hyltest::read_file(path), bytes);
    EXPECT_EQ(hyltest::read_file(path + ".bak"), (Bytes{1, 2, 3}));
    frame_load();
}

// Whatever read or write fails, the header never counts a record the file
// lacks, and a failure is said, never reported as mended.
TEST(Repair, AFailedWriteLeavesATableThatReadsTrue) {
    hyltest::TempDir dir;
    const std::string path = dir.path("t.dbf");
    for (const bool lower : {false, true}) {
        Bytes damaged = good_table();
        if (lower) hyltest::put_le32(damaged, 4, 7);
        for (char c : record_bytes("four")) damaged.push_back(static_cast<uint8_t>(c));
        damaged.push_back(' ');
        int fired = 0;
        for (int n = 1; n < 60; ++n) {
            hyltest::write_file(path, damaged);
            std::remove((path + ".bak").c_str());
            RepairResult r;
            bool hit;
            {
                FakePlatform fake;
                fake.fail_nth(n, {hyltest::Op::kWrite, hyltest::Op::kSetSize, hyltest::Op::kSync, hyltest::Op::kCreate,
                                  hyltest::Op::kReadAt});
                r = Repair_Table(path.c_str(), {});
                hit = fake.fault_fired();
            }
            if (!hit) break;
            ++fired;
            EXPECT_EQ(r.outcome, RepairOutcome::kCannotWork) << "n " << n;
            EXPECT_FALSE(r.why.empty());
            // The count is the one it began with, or one the file holds.
            const Bytes after = hyltest::read_file(path);
            EXPECT_TRUE(count_of(after) == count_of(damaged) ||
                        kHeaderLength + static_cast<std::size_t>(count_of(after)) * kRecordLength <= after.size())
                << "n " << n << " count " << count_of(after) << " size " << after.size();
        }
        EXPECT_GT(fired, 4);
    }
}
