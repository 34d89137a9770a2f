// Power cuts: a table written on the memory platform's disk, which keeps
// only what was flushed, with the power cut before each call that changes
// or flushes a file of an append, an update, a delete and a pack, and the
// disk left as several seeds pick.  Afterwards the table opens, check holds
// it sound only when it is what it may be, repair leaves it sound, and it
// is what it may be: nothing acknowledged lost, no record torn, a pack the
// old table or the new one whole.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <map>
#include <tuple>

#include "tables/check.h"
#include "tables/repair.h"
#include "tables/table.h"
#include "tests/fuzz/memory_platform.h"
#include "writing/pack.h"
#include "writing/table_writer.h"

using namespace hyl;

namespace {

constexpr char kPath[] = "/power/t.dbf";
constexpr uint32_t kSeeds = 16;  // 0 keeps everything, 1 nothing unflushed, the rest a random part

// Each record as a row: its deletion flag, then its values as text.
using Rows = std::vector<std::vector<std::string>>;

Value text(const std::string& s) {
    Value v;
    v.kind = ValueKind::kString, v.text = s;
    return v;
}

std::string name(int id, int generation) { return "n" + std::to_string(id) + "g" + std::to_string(generation); }

// Memo texts of many lengths, some over several blocks and sectors.
std::string note(int id, int generation) {
    std::string s = "note " + std::to_string(id) + "/" + std::to_string(generation);
    const std::size_t length = 10 + static_cast<std::size_t>(id * 211 + generation * 97) % 700;
    while (s.size() < length) s += " " + std::to_string(s.size());
    return s;
}

std::vector<int> ids(int first, int last) {
    std::vector<int> out;
    for (int id = first; id <= last; ++id) out.push_back(id);
    return out;
}

std::vector<std::string> row(int id, int generation, bool deleted = false) {
    return {deleted ? "*" : " ", std::to_string(id), name(id, generation), note(id, generation)};
}

// The rows as the reader gives them; a value that does not read is marked.
Rows read_rows() {
    TableReader t;
    if (t.open(kPath) != ReaderStatus::kOpened) return {{"does not open: " + t.error()}};
    Rows out;
    t.for_each_batch(0, t.record_count(), [&](const RecordBatch& batch) {
        Value v;
        for (int64_t k = 0; k < batch.size(); ++k) {
            out.push_back({batch.deleted(k) ? "*" : " "});
            for (int f = 0; f < 3; ++f)
                out.back().push_back(batch.value(k, f, v) == ValueProblem::kNone ? v.text : "(unreadable)");
        }
        return true;
    });
    return out;
}

// A step of an operation: its call, and what the rows become once it is done.
struct Step {
    std::function<WriteOutcome(TableWriter&)> run;
    std::function<void(Rows&)> done;
};

// After a cut in the step after the last acknowledged: the rows the table
// may hold, from those of the acknowledged steps (BEFORE) and of the one cut (AFTER).
enum class Holds {
    kPrefix,  // appends: all of BEFORE, and the first few of AFTER's new rows
    kEach,    // edits: each row as BEFORE or AFTER has it
    kWhole,   // a pack: BEFORE or AFTER, whole
};

bool may_hold(const Rows& got, const Rows& before, const Rows& after, Holds holds) {
    switch (holds) {
        case Holds::kPrefix:
            return got.size() >= before.size() && got.size() <= after.size() && std::equal(got.begin(), got.end(), after.begin());
        case Holds::kEach:
            if (got.size() != before.size() || got.size() != after.size()) return false;
            for (std::size_t i = 0; i < got.size(); ++i)
                if (got[i] != before[i] && got[i] != after[i]) return false;
            return true;
        case Holds::kWhole: return got == before || got == after;
    }
    return false;
}

WriteOutcome append(TableWriter& w, std::vector<int> ids) {
    std::vector<RecordDraft> drafts;
    for (int id : ids) {
        const Value values[] = {text(std::to_string(id)), text(name(id, 0)), text(note(id, 0))};
        std::vector<FieldProblem> problems;
        drafts.emplace_back();
        if (!w.draft({&values[0], &values[1], &values[2]}, {}, &drafts.back(), &problems)) return {WriteStatus::kRefused, "draft"};
    }
    return w.append(drafts);
}

WriteOutcome change(TableWriter& w, std::vector<int> ids, int generation) {
    std::vector<RecordDraft> drafts;
    for (int id : ids) {
        const Value n = text(name(id, generation)), m = text(note(id, generation));
        std::vector<FieldProblem> problems;
        drafts.emplace_back();
        if (!w.draft_change(id, {{1, &n}, {2, &m}}, {}, &drafts.back(), &problems)) return {WriteStatus::kRefused, "draft"};
    }
    return w.update(drafts);
}

struct Operation {
    const char* name;
    Holds holds;
    std::vector<Step> steps;
};

std::vector<Operation> operations() {
    auto appended = [](std::vector<int> ids) { return [ids](Rows& r) { for (int id : ids) r.push_back(row(id, 0)); }; };
    auto changed = [](std::vector<int> ids, int generation) {
        return [ids, generation](Rows& r) {
            for (int id : ids) r[static_cast<std::size_t>(id)] = row(id, generation, r[static_cast<std::size_t>(id)][0] == "*");
        };
    };
    auto flagged = [](std::vector<int64_t> ids, bool deleted) {
        return [ids, deleted](Rows& r) { for (int64_t id : ids) r[static_cast<std::size_t>(id)][0] = deleted ? "*" : " "; };
    };
    auto flag = [](std::vector<int64_t> ids, bool deleted) { return [ids, deleted](TableWriter& w) { return w.set_deleted(ids, deleted); }; };
    return {
        {"append", Holds::kPrefix,
         {{[](TableWriter& w) { return append(w, ids(12, 16)); }, appended(ids(12, 16))},
          {[](TableWriter& w) { return append(w, {17}); }, appended({17})},
          {[](TableWriter& w) { return append(w, ids(18, 23)); }, appended(ids(18, 23))}}},
        {"update", Holds::kEach,
         {{[](TableWriter& w) { return change(w, {0, 2, 4, 10}, 1); }, changed({0, 2, 4, 10}, 1)},
          {[](TableWriter& w) { return change(w, {4, 5, 11}, 2); }, changed({4, 5, 11}, 2)}}},
        {"delete", Holds::kEach,
         {{flag({0, 3, 10}, true), flagged({0, 3, 10}, true)}, {flag({1, 3}, false), flagged({1, 3}, false)}}},
        {"pack", Holds::kWhole,
         {{[](TableWriter& w) {
               w.close();  // pack opens the table itself
               PackReport report;
               return Table_Pack(kPath, {}, &report);
           },
           [](Rows& r) { std::erase_if(r, [](const std::vector<std::string>& x) { return x[0] == "*"; }); }}}},
    };
}

// Runs OPERATION's steps until one is not acknowledged; how many were.
std::size_t run(const Operation& operation) {
    TableWriter w;
    if (!w.open(kPath).ok()) return 0;
    std::size_t acknowledged = 0;
    for (const Step& step : operation.steps) {
        if (!step.run(w).ok()) break;
        ++acknowledged;
    }
    return acknowledged;
}

struct MemoryDisk {
    const PlatformOps previous = install_platform(hylfuzz::memory_platform());
    ~MemoryDisk() { install_platform(previous); }
};

}  // namespace

// Each format with a memo file, each operation: run once whole to count its
// calls, then cut before each of them (and after the last) with every seed.
// A fault is reported at its first cut and counted over the rest.
TEST(PowerCut, NothingAcknowledgedIsLostAndRepairLeavesTheTableWhole) {
    MemoryDisk disk;
    const struct {
        TableFormat format;
        int codepage;
    } formats[] = {{TableFormat::kDbase3, 866}, {TableFormat::kDbase4, 1252}, {TableFormat::kFoxPro, 1251},
                   {TableFormat::kVisualFoxPro, kCodePageUtf8}};
    std::map<std::string, int> faults;  // what went wrong, and how often
    for (const auto& format : formats)
        for (const Operation& operation : operations()) {
            const std::string what = std::string(Format_Name(format.format)) + ", " + operation.name;
            // The table before: 12 records with memo texts, three deleted, on the disk.
            hylfuzz::reset_files({});
            NewTable table;
            table.format = format.format, table.codepage = format.codepage;
            for (const auto& [field, type, length] : {std::tuple{"ID", 'C', 6}, {"NAME", 'C', 200}, {"NOTE", 'M', 0}}) {
                table.fields.emplace_back();
                table.fields.back().name = field, table.fields.back().type = type, table.fields.back().length = length;
                std::string problem;
                ASSERT_TRUE(Field_CheckDefinition(type, &table.fields.back().length, 0, format.format, &problem)) << problem;
            }
            ASSERT_TRUE(TableWriter::create(kPath, table).ok()) << what;
            {
                TableWriter w;
                ASSERT_TRUE(w.open(kPath).ok());
                ASSERT_TRUE(append(w, ids(0, 11)).ok());
                ASSERT_TRUE(w.set_deleted({1, 4, 9}, true).ok());
            }
            std::vector<Rows> stages(1);
            for (int id : ids(0, 11)) stages[0].push_back(row(id, 0, id == 1 || id == 4 || id == 9));
            ASSERT_EQ(read_rows(), stages[0]) << what;
            for (const Step& step : operation.steps) stages.push_back(stages.back()), step.done(stages.back());
            hylfuzz::restart_after_power_cut(0);
            std::vector<std::pair<std::string, std::vector<uint8_t>>> before;
            for (const std::string& path : hylfuzz::file_names()) before.emplace_back(path, *hylfuzz::file_bytes(path));
            auto restore = [&] {
                hylfuzz::reset_files({});
                for (const auto& [path, bytes] : before) hylfuzz::put_file(path, bytes.data(), bytes.size());
            };

            restore();
            ASSERT_EQ(run(operation), operation.steps.size()) << what;
            const int calls = hylfuzz::disk_calls();
            ASSERT_EQ(read_rows(), stages.back()) << what;
            for (int call = 1; call <= calls + 1; ++call)
                for (uint32_t seed = 0; seed < kSeeds; ++seed) {
                    restore();
                    hylfuzz::cut_power_before(call);
                    const std::size_t acknowledged = run(operation);
                    const bool pending = hylfuzz::restart_after_power_cut(seed);
                    const Rows& may_before = stages[acknowledged];
                    const Rows& may_after = stages[std::min(acknowledged + 1, stages.size() - 1)];
                    auto fault = [&](const std::string& how) {
                        if (faults[what + ": " + how]++ == 0)
                            ADD_FAILURE() << what << ": " << how << " (first at call " << call << " of " << calls << ", seed "
                                          << seed << ", " << acknowledged << " steps acknowledged)";
                    };
                    const CheckReport check = Check_Table(kPath);
                    if (!check.checked()) {
                        fault("the table does not open for check: " + check.why);
                        continue;
                    }
                    if (check.sound() && !may_hold(read_rows(), may_before, may_after, operation.holds))
                        fault("check finds nothing wrong with a table that is not what it may be");
                    RepairOptions no_backup;
                    no_backup.backup = false;
                    const RepairResult repair = Repair_Table(kPath, no_backup);
                    if (repair.outcome != RepairOutcome::kSound && repair.outcome != RepairOutcome::kMended) {
                        std::string left = repair.why;
                        for (const Finding& f : repair.after.findings) left += " " + std::string(Check_ProblemCode(f.problem));
                        fault("repair leaves it unsound:" + left);
                        continue;
                    }
                    if (!may_hold(read_rows(), may_before, may_after, operation.holds))
                        fault("after repair the records are not what they may be");
                    TableWriter again;
                    if (const WriteOutcome opened = again.open(kPath); !opened.ok())
                        fault("after repair the writer refuses it: " + opened.why);
                    if (!pending) break;  // every seed leaves the disk so
                }
        }
    for (const auto& [how, times] : faults) std::cout << times << "x " << how << "\n";
}
