// Repairing a table: check it while holding it, decide what needs no
// guessing, back it up, then change the count and the end of the file in
// the order that leaves it readable if the machine stops half way.
#include "tables/repair.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "lowlevel/lv.h"
#include "platform/platform.h"
#include "tables/interrupted.h"

namespace hyl {
namespace {

constexpr uint8_t kEndMarker = 0x1A;
constexpr int64_t kCopyBlock = 4 << 20;

// What repair will change, worked out from the check.
struct Mending {
    int64_t old_count = 0;
    int64_t new_count = 0;
    int32_t old_record_length = 0;
    int32_t new_record_length = 0;
    bool end_file = false;   // cut the file after the last record and put one 0x1A there
    int64_t records_end = 0; // where that marker goes
    bool marker_there = false;  // the byte there is a 0x1A already
    std::vector<RepairStep> steps;

    // A file one byte longer than its records ends right only when that
    // byte is the marker: a record torn after its first byte leaves the
    // same length.
    bool changes(int64_t file_length) const {
        return new_count != old_count || new_record_length != old_record_length ||
               (end_file && (file_length != records_end + 1 || !marker_there));
    }
};

bool has(const CheckReport& report, CheckProblem problem) {
    return std::any_of(report.findings.begin(), report.findings.end(),
                       [problem](const Finding& f) { return f.problem == problem; });
}

Mending plan(const CheckReport& report) {
    const RecordExtent& e = report.extent;
    Mending m;
    m.old_count = m.new_count = e.counted;
    m.old_record_length = m.new_record_length = report.record_length;
    m.records_end = e.records_end;
    m.marker_there = e.end_marker;
    // A file that ends inside its header has no place for records to end.
    if (has(report, CheckProblem::kShortHeader)) return m;
    // The records lie by the fields, as the file's length proves: the header
    // is made to say so, and the rest is mended as they lie.
    if (report.laid_by_fields) {
        m.new_record_length = static_cast<int32_t>(report.fields_length);
        m.steps.push_back({RepairStep::Kind::kRecordLength, m.old_record_length, m.new_record_length});
    }
    if (e.present < e.counted) {
        m.new_count = e.present;
        m.end_file = true;
        m.steps.push_back({RepairStep::Kind::kLowerCount, e.counted, e.present});
    } else if (e.beyond) {
        m.new_count = e.counted + e.beyond;
        m.steps.push_back({RepairStep::Kind::kCountBeyond, e.counted, m.new_count});
    }
    // Bytes after the records that do not read as records are left alone,
    // and so is the end of such a file.
    if (e.unknown_tail) return m;
    if (e.partial_bytes) {
        m.end_file = true;
        m.steps.push_back({RepairStep::Kind::kCutPartial, 0, e.partial_bytes});
    }
    if (e.after_marker) {
        m.end_file = true;
        m.steps.push_back({RepairStep::Kind::kCutAfterMarker, 0, e.after_marker});
    }
    // What a power cut left of an append the disk never got is no record.
    if (e.unwritten) {
        m.end_file = true;
        m.steps.push_back({RepairStep::Kind::kCutUnwritten, 0, e.unwritten});
    }
    if (e.beyond) m.end_file = true;
    if (m.end_file && !e.end_marker) m.steps.push_back({RepairStep::Kind::kEndMarker});
    return m;
}

// Whether the mending reaches a finding.
bool mends(const Mending& m, const Finding& f) {
    switch (f.problem) {
        case CheckProblem::kFileShort:
        case CheckProblem::kRecordsBeyondCount: return m.new_count != m.old_count;
        case CheckProblem::kPartialRecord:
        case CheckProblem::kBytesAfterEnd:
        case CheckProblem::kUnwrittenTail: return m.end_file;
        case CheckProblem::kRecordLength: return m.new_record_length != m.old_record_length;
        case CheckProblem::kEditCutShort:
        case CheckProblem::kPackCutShort: return true;  // settled before anything else
        default: return false;
    }
}

// What a dry run leaves: the findings the mending does not reach.
CheckReport left_after(const CheckReport& before, const Mending& m) {
    CheckReport after = before;
    after.findings.clear();
    for (const Finding& f : before.findings)
        if (!mends(m, f)) after.findings.push_back(f);
    return after;
}

// A byte-for-byte copy of the snapshot into BACKUP, on the disk before the
// table is touched.  False with WHY when it cannot be made.
bool make_backup(const Snapshot& scan, const std::string& backup, std::string* why, RepairRefusal* refusal) {
    const int32_t existing = platform().file_open(backup.c_str(), kModeShareRead);
    if (existing != -1) {
        platform().file_close(existing);
        *why = backup + " already exists: move it away, or repair with --no-backup";
        *refusal = RepairRefusal::kBackupExists;
        return false;
    }
    *refusal = RepairRefusal::kBackupFailed;
    const int32_t out = platform().file_create(backup.c_str());
    if (out == -1) {
        *why = "cannot create the backup " + backup;
        return false;
    }
    std::vector<uint8_t> block;
    bool ok = true;
    for (int64_t at = 0; ok && at < scan.file_length(); at += kCopyBlock) {
        const int64_t n = std::min(kCopyBlock, scan.file_length() - at);
        block.resize(static_cast<std::size_t>(n));
        ok = scan.read(at, block.data(), n) &&
             lvv_write_at(out, at, block.data(), static_cast<int32_t>(n)) == static_cast<int32_t>(n);
    }
    ok = ok && platform().file_sync(out);
    platform().file_close(out);
    if (!ok) {
        platform().file_remove(backup.c_str());
        *why = "cannot make the backup " + backup + "; the table is unchanged";
    }
    return ok;
}

bool write_le(const Snapshot& scan, int64_t position, int64_t value, int32_t bytes_long) {
    uint8_t bytes[4];
    for (int i = 0; i < bytes_long; ++i) bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
    return lvv_write_at(scan.handle(), position, bytes, bytes_long) == bytes_long;
}
bool write_count(const Snapshot& scan, int64_t count) { return write_le(scan, 4, count, 4); }

// The record length first: the file proves the records lie by it, so the
// header then reads as they lie whatever follows.  A count that goes down
// is written before the records go, one that goes up after the end is
// settled: at every moment the header counts no record the file does not hold.
bool apply(const Snapshot& scan, const Mending& m) {
    if (m.new_record_length != m.old_record_length && !write_le(scan, 10, m.new_record_length, 2)) return false;
    if (m.new_count < m.old_count && !write_count(scan, m.new_count)) return false;
    if (m.end_file) {
        if (lvv_write_at(scan.handle(), m.records_end, &kEndMarker, 1) != 1) return false;
        if (!platform().file_set_length(scan.handle(), m.records_end + 1)) return false;
    }
    if (m.new_count > m.old_count && !write_count(scan, m.new_count)) return false;
    return platform().file_sync(scan.handle()) != 0;
}

}  // namespace

std::string Repair_Describe(const RepairStep& step, bool done) {
    auto verb = [done](const char* past, const char* conditional) { return std::string(done ? past : conditional); };
    switch (step.kind) {
        case RepairStep::Kind::kPutBack:
            return verb("put back", "would put back") + " " + Words_Plural(step.to, "record", "records") +
                   " as they were before an edit that was cut short, from " + step.file;
        case RepairStep::Kind::kRemoveJournal:
            return verb("removed", "would remove") + " " + step.file + ", left by an edit cut short before it changed the table";
        case RepairStep::Kind::kFinishPack:
            return verb("finished", "would finish") + " the pack cut short between its renames: " + step.file +
                   " took the table's place";
        case RepairStep::Kind::kRemovePackFiles:
            return verb("removed", "would remove") + " the new files of a pack cut short before it changed the table";
        case RepairStep::Kind::kRecordLength:
            return verb("set", "would set") + " the record length from " + Words_Grouped(step.from) + " to " +
                   Words_Grouped(step.to) + ", as the records lie in the file";
        case RepairStep::Kind::kLowerCount:
            return verb("lowered", "would lower") + " the record count from " + Words_Grouped(step.from) + " to " +
                   Words_Grouped(step.to) + ", the complete records the file holds";
        case RepairStep::Kind::kCountBeyond:
            return verb("counted", "would count") + " the " +
                   Words_Plural(step.to - step.from, "complete record", "complete records") +
                   " after the counted ones: the record count " + verb("went", "would go") + " from " +
                   Words_Grouped(step.from) + " to " + Words_Grouped(step.to);
        case RepairStep::Kind::kCutPartial:
            return verb("cut off", "would cut off") + " an incomplete record of " + Words_Plural(step.to, "byte", "bytes");
        case RepairStep::Kind::kCutAfterMarker:
            return verb("cut off", "would cut off") + " " + Words_Plural(step.to, "byte", "bytes") + " after the 0x1A end marker";
        case RepairStep::Kind::kCutUnwritten:
            return verb("cut off", "would cut off") + " " + Words_Plural(step.to, "byte", "bytes") +
                   " of an append a power cut stopped, with a sector of zeros the disk never got";
        case RepairStep::Kind::kEndMarker: return verb("ended", "would end") + " the file with a 0x1A after the last record";
    }
    return {};
}

std::vector<bool> Repair_Mends(const CheckReport& report) {
    const Mending m = plan(report);
    const bool changes = report.checked() && m.changes(report.file_length);
    std::vector<bool> out;
    for (const Finding& f : report.findings)
        out.push_back(report.checked() && mends(m, f) &&
                      (changes || f.problem == CheckProblem::kEditCutShort || f.problem == CheckProblem::kPackCutShort));
    return out;
}

namespace {

// What an edit or a pack cut short left is settled before anything else:
// once it is, the table is whole again, and the rest of repair works on it.
// False, with RESULT saying why, when it cannot be.
bool settle(const std::string& path, const RepairOptions& options, RepairResult& result) {
    int64_t record_length = 0;
    std::vector<JournalRecord> records;
    const std::string journal_path = Table_JournalPath(path);
    const JournalState journal = Journal_Read(path, &record_length, &records);
    const std::string memo = Memo_Find(path);
    const PackLeftover leftover = Pack_Leftover(path, memo);
    std::vector<RepairStep> steps;
    if (journal == JournalState::kWhole)
        steps.push_back({RepairStep::Kind::kPutBack, 0, static_cast<int64_t>(records.size()), journal_path});
    if (journal == JournalState::kTorn) steps.push_back({RepairStep::Kind::kRemoveJournal, 0, 0, journal_path});
    // An emptied journal is what a finished edit leaves when a power cut
    // took back its removal: it goes without a word.
    if (journal == JournalState::kEmpty && !options.dry_run) platform().file_remove(journal_path.c_str());
    if (leftover == PackLeftover::kBetweenRenames)
        steps.push_back({RepairStep::Kind::kFinishPack, 0, 0, Table_PackingPath(path)});
    if (leftover == PackLeftover::kBeforeRenames) steps.push_back({RepairStep::Kind::kRemovePackFiles});
    if (steps.empty()) return true;
    if (options.dry_run) {
        for (const RepairStep& step : steps) result.actions.push_back(Repair_Describe(step, false));
        return true;
    }
    auto cannot = [&](RepairRefusal refusal, std::string why) {
        result.refusal = refusal;
        result.why = std::move(why);
        return false;
    };
    {
        // Held as an append holds it while its records go back.
        Snapshot held;
        switch (held.open(path.c_str(), true)) {
            case SnapshotStatus::kOpened: break;
            case SnapshotStatus::kInUse: return cannot(RepairRefusal::kInUse, "in use by another program; nothing changed");
            case SnapshotStatus::kMissing: return cannot(RepairRefusal::kMissing, "no such file");
            default: return cannot(RepairRefusal::kUnreadable, "cannot be opened");
        }
        if (journal == JournalState::kWhole) {
            if (record_length != held.record_length())
                return cannot(RepairRefusal::kNotATable, journal_path + " is not this table's: its records are " +
                                                             Words_Grouped(record_length) + " long, the table's " +
                                                             Words_Grouped(held.record_length()) + "; nothing changed");
            if (options.backup) {
                const std::string backup = path + ".bak";
                if (!make_backup(held, backup, &result.why, &result.refusal)) return false;
                result.backup_path = backup;
                result.actions.push_back("copied the table to " + backup);
            }
            for (const JournalRecord& r : records)
                if (lvv_write_at(held.handle(), held.header_length() + r.record * record_length + r.offset, r.bytes.data(),
                                 static_cast<int32_t>(r.bytes.size())) != static_cast<int32_t>(r.bytes.size()))
                    return cannot(RepairRefusal::kWriteFailed, "cannot write the table; " + journal_path + " is kept");
            if (!platform().file_sync(held.handle()))
                return cannot(RepairRefusal::kWriteFailed, "cannot write the table; " + journal_path + " is kept");
        }
    }
    if (journal == JournalState::kWhole || journal == JournalState::kTorn) {
        const int32_t handle = platform().file_open(journal_path.c_str(), kModeUpdate);
        const bool emptied = handle != -1 && platform().file_set_length(handle, 0) && platform().file_sync(handle);
        if (handle != -1) platform().file_close(handle);
        if (!emptied || !platform().file_remove(journal_path.c_str()))
            return cannot(RepairRefusal::kWriteFailed, "cannot remove " + journal_path);
    }
    if (leftover != PackLeftover::kNone && !Pack_Settle(path, memo, leftover))
        return cannot(RepairRefusal::kWriteFailed, leftover == PackLeftover::kBetweenRenames
                                                       ? "cannot rename " + Table_PackingPath(path) + " over the table"
                                                       : "cannot remove the new files of the pack");
    for (const RepairStep& step : steps) result.actions.push_back(Repair_Describe(step, true));
    return true;
}

}  // namespace

RepairResult Repair_Table(const char* path, const RepairOptions& options, const ProgressFn& progress) {
    RepairResult result;
    if (!settle(path ? path : "", options, result)) return result;
    const bool settled = !result.actions.empty() && !options.dry_run;
    // Memo files are read for the check, never written: what repair mends
    // lies in the table alone.
    TableReader table;
    ReaderOptions open_options;
    open_options.encoding = options.encoding;
    open_options.for_update = !options.dry_run;
    const ReaderStatus status = table.open(path, open_options);
    if (status != ReaderStatus::kOpened) {
        result.why = status == ReaderStatus::kInUse ? "in use by another program; nothing changed"
                     : status == ReaderStatus::kUnreadable ? "cannot be opened"
                                                          : table.error();
        switch (status) {
            case ReaderStatus::kMissing: result.refusal = RepairRefusal::kMissing; break;
            case ReaderStatus::kInUse: result.refusal = RepairRefusal::kInUse; break;
            case ReaderStatus::kNotATable:
            case ReaderStatus::kOtherLayout: result.refusal = RepairRefusal::kNotATable; break;
            case ReaderStatus::kUnknownEncoding: result.refusal = RepairRefusal::kUnknownEncoding; break;
            default: result.refusal = RepairRefusal::kUnreadable; break;
        }
        return result;
    }
    const Snapshot& scan = table.scan();
    result.before = Check_Open(table, progress);
    if (!result.before.checked()) {
        result.why = result.before.why;
        result.refusal = result.before.status == SnapshotStatus::kNotATable ? RepairRefusal::kNotATable
                                                                           : RepairRefusal::kUnreadable;
        return result;
    }
    const Mending m = plan(result.before);
    if (!m.changes(scan.file_length())) {
        result.after = options.dry_run ? left_after(result.before, m) : result.before;
        result.outcome = result.after.sound() ? (settled || (options.dry_run && !result.actions.empty()) ? RepairOutcome::kMended
                                                                                                        : RepairOutcome::kSound)
                                              : RepairOutcome::kDamageRemains;
        return result;
    }
    if (options.dry_run) {
        for (const RepairStep& step : m.steps) result.actions.push_back(Repair_Describe(step, false));
        // Records it would count have not had their values checked: what it
        // would leave is checked with them, as the repair checks it after.
        result.after = left_after(m.new_count > m.old_count ? Check_Open(table, progress, true) : result.before, m);
        result.outcome = result.after.sound() ? RepairOutcome::kMended : RepairOutcome::kDamageRemains;
        return result;
    }
    if (options.backup && result.backup_path.empty()) {
        const std::string backup = std::string(path) + ".bak";
        if (!make_backup(scan, backup, &result.why, &result.refusal)) return result;
        result.backup_path = backup;
        result.actions.push_back("copied the table to " + backup);
    }
    if (!apply(scan, m)) {
        result.refusal = RepairRefusal::kWriteFailed;
        result.why = "cannot write the table" +
                     (result.backup_path.empty() ? std::string() : "; " + result.backup_path + " holds it as it was");
        return result;
    }
    for (const RepairStep& step : m.steps) result.actions.push_back(Repair_Describe(step, true));
    table.close();
    result.after = Check_Table(path, progress, {options.encoding});
    if (!result.after.checked()) {
        result.refusal = RepairRefusal::kRecheckFailed;
        result.why = "mended, but it " + result.after.why + " to be checked again";
        return result;
    }
    result.outcome = result.after.sound() ? RepairOutcome::kMended : RepairOutcome::kDamageRemains;
    return result;
}

}  // namespace hyl
