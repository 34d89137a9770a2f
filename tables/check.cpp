// Checking a table: the header, where the records end, then every value of
// the counted records in one pass over the snapshot.
#include "tables/check.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>

#include "dbf/dbf.h"
#include "platform/codepage.h"
#include "tables/interrupted.h"
#include "tables/split.h"
#include "textime/text.h"

namespace hyl {
namespace {

constexpr uint8_t kEndMarker = 0x1A;
constexpr std::size_t kExamples = 3;

// Version bytes that dBASE, FoxPro and their peers write.
bool known_version(uint8_t v) {
    static constexpr uint8_t kKnown[] = {0x02, 0x03, 0x04, 0x05, 0x30, 0x31, 0x32, 0x43, 0x44, 0x63,
                                         0x7B, 0x83, 0x8B, 0x8C, 0x8E, 0xB3, 0xCB, 0xE5, 0xF5, 0xFB};
    return std::find(std::begin(kKnown), std::end(kKnown), v) != std::end(kKnown);
}
bool dbase3(uint8_t v) { return v == 0x03 || v == 0x83; }
bool visual_foxpro(uint8_t v) { return v == 0x30 || v == 0x31 || v == 0x32; }
constexpr int32_t kFoxProBacklink = 263;

// Field types that dBASE III to Visual FoxPro define.
bool known_type(char t) { return t != '\0' && std::strchr("CNFDLMBGPYTIV0@+OWQ", t) != nullptr; }

bool blank_byte(uint8_t b) { return b == ' ' || b == 0; }

// Stored bytes in the table's code page, in UTF-8; control bytes and NULs
// are written \xNN so that a finding never hides them.
std::string shown(std::string_view bytes, const TextCodec& codec) {
    std::string out;
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t run = at;
        while (run < bytes.size() && static_cast<uint8_t>(bytes[run]) >= 0x20 && bytes[run] != 0x7F) ++run;
        codec.append_utf8(out, bytes.substr(at, run - at));
        if (run == bytes.size()) break;
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<uint8_t>(bytes[run]));
        out += esc;
        at = run + 1;
    }
    return out;
}

std::string hex_byte(uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

// The text of a value as it is shown in a finding: blanks at both ends dropped.
std::string_view trimmed(std::string_view v) {
    while (!v.empty() && blank_byte(static_cast<uint8_t>(v.front()))) v.remove_prefix(1);
    while (!v.empty() && blank_byte(static_cast<uint8_t>(v.back()))) v.remove_suffix(1);
    return v;
}

class Checker {
public:
    Checker(const TableReader& table, CheckReport& report, bool values_beyond_count)
        : table_(table), scan_(table.scan()), layout_(table.layout()), report_(report),
          values_beyond_count_(values_beyond_count) {}

    void header();
    void interrupted();
    int64_t first_zero_sector(int64_t from);
    void extent();
    bool values(const ProgressFn& progress, int threads);
    // False once a read of the table failed: then nothing found can be trusted.
    bool read_ok() const { return read_ok_; }

private:
    void add(CheckProblem problem, std::string message, int32_t field = -1, int64_t record = -1, int64_t count = 1) {
        report_.findings.push_back({problem, field, record, count, {}, std::move(message)});
    }
    uint8_t byte_at(int64_t position) {
        uint8_t b = 0;
        read_ok_ = scan_.read(position, &b, 1) && read_ok_;
        return b;
    }
    std::string label(int32_t field) const { return Check_FieldLabel(table_, field); }
    std::string problem_words(CheckProblem p, bool many) const;

    const TableReader& table_;
    const Snapshot& scan_;
    const TableLayout& layout_;
    CheckReport& report_;
    const bool values_beyond_count_;
    bool read_ok_ = true;
};

void Checker::header() {
    const auto& fields = layout_.fields;
    const int32_t n = static_cast<int32_t>(fields.size());
    const int32_t hl = scan_.header_length();
    const bool dbase7 = layout_.format == TableFormat::kDbase7;
    if (!known_version(scan_.version()))
        add(CheckProblem::kUnknownVersion, "header: version byte " + hex_byte(scan_.version()) +
                                             " is not one that dBASE or FoxPro writes");
    if (scan_.file_length() < hl)
        add(CheckProblem::kShortHeader, "header: the file ends at byte " + Words_Grouped(scan_.file_length()) +
                                          ", inside its " + Words_Grouped(hl) + "-byte header");
    const int32_t expected = layout_.descriptors_at + layout_.descriptor_size * n + 1;
    const std::string sum_text = std::to_string(layout_.descriptor_size) + " x " + std::to_string(n) + " + " +
                                 std::to_string(layout_.descriptors_at + 1);
    if (!layout_.terminated) {
        add(CheckProblem::kNoTerminator, "header: no 0x0D terminator after the " +
                                           Words_Plural(n, "field descriptor", "field descriptors") +
                                           " (header length " + Words_Grouped(hl) + ")");
    } else if (dbase7 ? hl < expected
                      : hl != expected && !(visual_foxpro(scan_.version()) && hl == expected + kFoxProBacklink) &&
                            (dbase3(scan_.version()) || !known_version(scan_.version()))) {
        // dBASE 7 keeps its field properties after the terminator, inside the header.
        add(CheckProblem::kHeaderLength, "header: length " + Words_Grouped(hl) + " does not fit " +
                                           Words_Plural(n, "descriptor", "descriptors") + " and the terminator (" +
                                           sum_text + " = " + Words_Grouped(expected) + ")");
    }
    if (scan_.record_length() != layout_.fields_length)
        add(CheckProblem::kRecordLength,
            "header: record length " + Words_Grouped(scan_.record_length()) + ", but the deletion flag and the fields make " +
                Words_Grouped(layout_.fields_length) +
                (layout_.laid_by_fields ? "; the file's length shows the records laid by the fields, and they are read so" : ""));

    std::map<std::string, int32_t> seen;
    for (int32_t i = 0; i < n; ++i) {
        const LayoutField& f = fields[static_cast<std::size_t>(i)];
        const std::string_view name = trimmed(f.name);
        if (name.empty()) {
            add(CheckProblem::kEmptyName, "field " + std::to_string(i) + " has no name", i);
        } else if (std::any_of(f.name.begin(), f.name.end(),
                               [](char c) { return static_cast<uint8_t>(c) < 0x20 || c == 0x7F; })) {
            add(CheckProblem::kUnreadableName, label(i) + ": the name holds control bytes", i);
        } else {
            // Names are told apart without regard to case, as readers look them up.
            std::string key;
            for (char c : name) {
                const auto b = static_cast<uint8_t>(scan_.oem() ? oem_to_ansi_byte(static_cast<uint8_t>(c)) : c);
                key += static_cast<char>(LVLowerTable[b]);
            }
            const auto [it, fresh] = seen.emplace(key, i);
            if (!fresh)
                add(CheckProblem::kDuplicateName, label(i) + ": the same name as field " + std::to_string(it->second), i);
        }
        if (!known_type(f.type))
            add(CheckProblem::kUnknownType, label(i) + ": type " +
                                              (f.type > 0x20 && f.type < 0x7F ? std::string("'") + f.type + "'"
                                                                               : hex_byte(static_cast<uint8_t>(f.type))) +
                                              " is not a dBASE field type", i);
        if (f.type == 'D' && f.length != 8)
            add(CheckProblem::kDateLength, label(i) + ": a date field is 8 long, this one " + std::to_string(f.length), i);
    }
    if (table_.has_memo_fields() && !table_.memo()) {
        int32_t first = 0;
        while (!table_.fields()[static_cast<std::size_t>(first)].memo) ++first;
        add(CheckProblem::kMemoMissing, "memo: no memo file (.dbt or .fpt) beside the table; " + label(first) + " keeps its values there",
            first);
    }
}

void Checker::interrupted() {
    const std::string& path = table_.path();
    int64_t record_length = 0;
    std::vector<JournalRecord> records;
    switch (Journal_Read(path, &record_length, &records)) {
        case JournalState::kNone:
        case JournalState::kEmpty: break;
        case JournalState::kTorn:
            add(CheckProblem::kEditCutShort, "edit: " + Table_JournalPath(path) +
                                                 " is left by an edit cut short before it changed the table (hyl repair removes it)");
            break;
        case JournalState::kWhole:
            add(CheckProblem::kEditCutShort,
                "edit: an edit of " + Words_Plural(static_cast<int64_t>(records.size()), "record", "records") +
                    " was cut short; " + Table_JournalPath(path) + " holds them as they were (hyl repair puts them back)",
                -1, records.empty() ? -1 : records[0].record, static_cast<int64_t>(records.size()));
            break;
    }
    const std::string memo = table_.memo() ? table_.memo()->path() : std::string();
    switch (Pack_Leftover(path, memo)) {
        case PackLeftover::kNone: break;
        case PackLeftover::kBeforeRenames:
            add(CheckProblem::kPackCutShort, "pack: new files are left by a pack cut short before it changed the table "
                                             "(hyl repair removes them)");
            break;
        case PackLeftover::kBetweenRenames:
            add(CheckProblem::kPackCutShort, "pack: a pack was cut short between its renames: the memo file " + memo +
                                                 " is the packed one, the table not yet (hyl repair finishes the pack from " +
                                                 Table_PackingPath(path) + ")");
            break;
    }
}

// Where the first whole 512-byte sector of zeros at or after FROM begins
// that holds where a record would begin (a deletion flag no record written
// has; zeros inside a long record's binary fields are its values); the
// file's length when there is none.
int64_t Checker::first_zero_sector(int64_t from) {
    constexpr int64_t kSector = 512, kChunk = 1 << 20;
    const int64_t size = scan_.file_length(), hl = scan_.header_length(), rl = scan_.stride();
    auto holds_a_flag = [&](int64_t sector) { return hl + (sector - hl + rl - 1) / rl * rl < sector + kSector; };
    std::vector<uint8_t> chunk;
    for (int64_t at = (from + kSector - 1) / kSector * kSector; at + kSector <= size; at += kChunk) {
        const int64_t n = std::min(kChunk, (size - at) / kSector * kSector);
        chunk.resize(static_cast<std::size_t>(n));
        if (!scan_.read(at, chunk.data(), n)) {
            read_ok_ = false;
            return size;
        }
        for (int64_t s = 0; s < n; s += kSector)
            if (holds_a_flag(at + s) &&
                std::all_of(chunk.begin() + s, chunk.begin() + s + kSector, [](uint8_t b) { return b == 0; }))
                return at + s;
    }
    return size;
}

void Checker::extent() {
    RecordExtent& e = report_.extent;
    const int64_t hl = scan_.header_length(), rl = scan_.stride(), size = scan_.file_length();
    e.counted = static_cast<uint32_t>(scan_.record_count());
    const int64_t data = std::max<int64_t>(0, size - hl);
    const int64_t complete = data / rl;
    if (e.counted > complete) {
        e.present = complete;
        e.records_end = hl + complete * rl;
        e.partial_bytes = data - complete * rl;
        if (e.partial_bytes == 1 && byte_at(e.records_end) == kEndMarker) {
            e.partial_bytes = 0;
            e.end_marker = true;
        }
        std::string message = "records: the header counts " + Words_Plural(e.counted, "record", "records") +
                              ", the file holds " + Words_Grouped(complete);
        if (e.partial_bytes) message += " and " + Words_Plural(e.partial_bytes, "byte", "bytes") + " of one more";
        add(CheckProblem::kFileShort, message, -1, complete, e.counted - complete);
        return;
    }
    e.present = e.counted;
    // A whole sector of zeros after the counted records, where a record
    // would begin, is one the disk never got: the system gave the file the
    // room of an append, and the power went before the records were on the
    // disk.  No record that reaches into it is taken for one.
    const int64_t unwritten = first_zero_sector(hl + e.counted * rl);
    // Records an interrupted append left after the counted ones; the walk
    // stops at the first chunk whose deletion flag no record has.
    const int64_t walk_end = std::min(complete, std::max(e.counted, (unwritten - hl) / rl));
    const bool walked = scan_.for_each_block(e.counted, walk_end, [&](int64_t, int64_t count, const uint8_t* bytes) {
        for (int64_t k = 0; k < count; ++k) {
            if (bytes[k * rl] != ' ' && bytes[k * rl] != '*') return false;
            ++e.beyond;
        }
        return true;
    });
    read_ok_ = read_ok_ && walked;
    e.records_end = hl + (e.counted + e.beyond) * rl;
    const int64_t rest = size - e.records_end;
    if (rest > 0) {
        if (byte_at(e.records_end) == kEndMarker) {
            e.end_marker = true;
            e.after_marker = rest - 1;
        } else if (unwritten < size) {
            e.unwritten = rest;
        } else if (rest < rl) {
            e.partial_bytes = rest;
        } else {
            e.unknown_tail = rest;
        }
    }
    if (e.beyond)
        add(CheckProblem::kRecordsBeyondCount,
            "records: " + Words_Plural(e.beyond, "complete record", "complete records") + " after the " +
                Words_Plural(e.counted, "record", "records") + " the header counts (left by an append that was cut short)",
            -1, e.counted, e.beyond);
    if (e.partial_bytes)
        add(CheckProblem::kPartialRecord, "records: an incomplete record of " + Words_Plural(e.partial_bytes, "byte", "bytes") +
                                            " at the end of the file (a record is " + Words_Grouped(rl) + ")",
            -1, e.counted + e.beyond, e.partial_bytes);
    if (e.after_marker)
        add(CheckProblem::kBytesAfterEnd,
            "records: " + Words_Plural(e.after_marker, "byte", "bytes") + " after the 0x1A end marker", -1, -1,
            e.after_marker);
    if (e.unwritten)
        add(CheckProblem::kUnwrittenTail,
            "records: " + Words_Plural(e.unwritten, "byte", "bytes") + " after record " +
                Words_Grouped(e.counted + e.beyond - 1) +
                " hold a sector of zeros the disk never got (left by an append a power cut stopped)",
            -1, e.counted + e.beyond, e.unwritten);
    if (e.unknown_tail)
        add(CheckProblem::kUnknownTail,
            "records: " + Words_Plural(e.unknown_tail, "byte", "bytes") + " after record " +
                Words_Grouped(e.counted + e.beyond - 1) + " that do not read as records (deletion flag " +
                hex_byte(byte_at(e.records_end)) + ")",
            -1, e.counted + e.beyond, e.unknown_tail);
}

// What each problem the typed reader finds is, as a finding.
CheckProblem problem_of(ValueProblem p) {
    switch (p) {
        case ValueProblem::kNone: break;
        case ValueProblem::kNotANumber: return CheckProblem::kNotANumber;
        case ValueProblem::kNotADate: return CheckProblem::kNotADate;
        case ValueProblem::kNotALogical: return CheckProblem::kNotALogical;
        case ValueProblem::kNotADateTime: return CheckProblem::kNotADateTime;
        case ValueProblem::kVarcharLength: return CheckProblem::kVarcharLength;
        case ValueProblem::kBadText: return CheckProblem::kBadText;
        case ValueProblem::kMemoMissing: return CheckProblem::kMemoMissing;
        case ValueProblem::kMemoPastEnd: return CheckProblem::kMemoPastEnd;
        case ValueProblem::kMemoLengthPastEnd: return CheckProblem::kMemoLengthPastEnd;
        case ValueProblem::kMemoUnreadable: return CheckProblem::kMemoLengthPastEnd;
        case ValueProblem::kNotABlockNumber: return CheckProblem::kNotABlockNumber;
    }
    return CheckProblem::kDeletionFlag;  // no problem: never tallied
}

std::string Checker::problem_words(CheckProblem p, bool many) const {
    const std::string memo = table_.memo() ? table_.memo()->path() : "the memo file";
    switch (p) {
        case CheckProblem::kNotANumber: return "not a number";
        case CheckProblem::kNotADate: return "not a date (YYYYMMDD)";
        case CheckProblem::kNotALogical: return "not a logical value (? Y N T F)";
        case CheckProblem::kNotADateTime: return "not a date and time (a day of 0 with a time, or a time past the day)";
        case CheckProblem::kVarcharLength: return many ? "length bytes past the field" : "a length byte past the field";
        case CheckProblem::kBadText: return "not text in " + CodePage_Name(table_.codec().codepage()) + " (shown as U+FFFD)";
        case CheckProblem::kNotABlockNumber: return "not a memo block number";
        case CheckProblem::kMemoPastEnd:
            return (many ? "memo blocks past the end of " : "a memo block past the end of ") + memo;
        case CheckProblem::kMemoLengthPastEnd:
            return (many ? "memo entries that run past the end of " : "a memo entry that runs past the end of ") +
                   memo;
        default: return Check_ProblemCode(p);
    }
}

bool Checker::values(const ProgressFn& progress, int threads) {
    // Problems of one kind in one field are many or none: one finding each,
    // with its count and its first few values.  Each range of records is
    // tallied apart (on several threads for a large table) and the ranges'
    // tallies are added up in the order of the records, so the first record
    // and the first examples of a finding are the ones one pass would find.
    using Tallies = std::map<std::pair<int32_t, CheckProblem>, Finding>;
    const int64_t total = report_.extent.present + (values_beyond_count_ ? report_.extent.beyond : 0);
    const RecordRanges ranges = Split_Ranges(table_, 0, total);
    threads = Split_Threads(ranges, threads);
    std::vector<std::unique_ptr<TableCursor>> cursors;
    for (int t = 0; t < threads; ++t) cursors.push_back(std::make_unique<TableCursor>(table_));
    std::vector<Tallies> slots(static_cast<std::size_t>(Split_Window(threads)));
    const auto& fields = table_.fields();
    const int64_t rl = scan_.stride();

    auto work = [&](int64_t range, int slot, int worker) {
        Tallies& tallies = slots[static_cast<std::size_t>(slot)];
        TableCursor& cursor = *cursors[static_cast<std::size_t>(worker)];
        auto tally = [&](int32_t field, CheckProblem problem, int64_t record) -> Finding& {
            Finding& f = tallies[{field, problem}];
            if (f.count++ == 0) {
                f.problem = problem;
                f.field = field;
                f.record = record;
            }
            return f;
        };
        // Every value is read as the typed reader reads it, and what is wrong
        // with it is what the reader says; the value as stored (or, for a memo,
        // its block number) is the example, the text read where it is not text.
        Value value;
        auto note_value = [&](int32_t field, int64_t record, const uint8_t* bytes) {
            const CheckProblem problem = problem_of(cursor.decode(bytes, field, value));
            if (problem == CheckProblem::kDeletionFlag) return;
            // Without a memo file every memo is missing: the one finding says so.
            if (problem == CheckProblem::kMemoMissing) return;
            Finding& f = tally(field, problem, record);
            if (f.examples.size() >= kExamples) return;
            const TableField& d = fields[static_cast<std::size_t>(field)];
            const std::string_view raw(reinterpret_cast<const char*>(bytes + d.offset), static_cast<std::size_t>(d.length));
            f.examples.push_back({record, problem == CheckProblem::kBadText && value.kind == ValueKind::kString
                                              ? value.text
                                              : shown(trimmed(raw), table_.codec())});
        };
        return cursor.for_each_batch(ranges.first_of(range), ranges.end_of(range), [&](const RecordBatch& batch) {
            for (int64_t k = 0; k < batch.size(); ++k) {
                const uint8_t* record = batch.record(k);
                const int64_t r = batch.first() + k;
                if (record[0] != ' ' && record[0] != '*') {
                    Finding& f = tally(-1, CheckProblem::kDeletionFlag, r);
                    if (f.examples.size() < kExamples) f.examples.push_back({r, hex_byte(record[0])});
                }
                for (std::size_t i = 0; i < fields.size(); ++i) {
                    const TableField& f = fields[i];
                    // A field that runs past its record, or a date field of another
                    // length, has its own finding; its values would only repeat it.
                    if (f.hidden || f.offset < 1 || f.offset + f.length > rl || (f.type == 'D' && f.length != 8)) continue;
                    note_value(static_cast<int32_t>(i), r, record);
                }
            }
            return true;
        });
    };
    Tallies tallies;
    auto done = [&](int64_t range, int slot) {
        for (auto& [key, part] : slots[static_cast<std::size_t>(slot)]) {
            Finding& f = tallies[key];
            if (f.count == 0) {
                f = std::move(part);
                continue;
            }
            f.count += part.count;
            for (FindingExample& e : part.examples)
                if (f.examples.size() < kExamples) f.examples.push_back(std::move(e));
        }
        slots[static_cast<std::size_t>(slot)].clear();
        if (progress) progress(ranges.end_of(range), total);
        return true;
    };
    const bool ok = Split_Run(ranges.count(), threads, work, done);
    for (auto& [key, f] : tallies) {
        std::string examples;
        for (const FindingExample& e : f.examples)
            examples += (examples.empty() ? "" : ", ") + std::string("record ") + Words_Grouped(e.record) + " " +
                        (f.problem == CheckProblem::kDeletionFlag ? e.value : "\"" + e.value + "\"");
        if (f.count > static_cast<int64_t>(f.examples.size())) examples += ", ...";
        if (f.problem == CheckProblem::kDeletionFlag) {
            f.message = f.count == 1 ? "record " + Words_Grouped(f.record) + ": deletion flag " + f.examples[0].value +
                                           ", neither blank nor *"
                                     : "records: " + Words_Grouped(f.count) +
                                           " deletion flags are neither blank nor *: " + examples;
        } else {
            const std::string what = problem_words(f.problem, f.count > 1);
            f.message = f.count == 1 ? label(f.field) + ": record " + Words_Grouped(f.record) + " holds \"" +
                                           f.examples[0].value + "\", " + what
                                     : label(f.field) + ": " + Words_Grouped(f.count) + " values are " + what + ": " +
                                           examples;
        }
        report_.findings.push_back(std::move(f));
    }
    return ok;
}

}  // namespace

std::string Words_Grouped(int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return n < 0 ? "-" + out : out;
}

std::string Words_Plural(int64_t n, const char* one, const char* many) {
    return Words_Grouped(n) + " " + (n == 1 ? one : many);
}

const char* Check_ProblemCode(CheckProblem problem) {
    switch (problem) {
        case CheckProblem::kUnknownVersion: return "unknown-version";
        case CheckProblem::kShortHeader: return "short-header";
        case CheckProblem::kNoTerminator: return "no-terminator";
        case CheckProblem::kHeaderLength: return "header-length";
        case CheckProblem::kRecordLength: return "record-length";
        case CheckProblem::kEmptyName: return "empty-name";
        case CheckProblem::kDuplicateName: return "duplicate-name";
        case CheckProblem::kUnreadableName: return "unreadable-name";
        case CheckProblem::kUnknownType: return "unknown-type";
        case CheckProblem::kDateLength: return "date-length";
        case CheckProblem::kRecordsBeyondCount: return "records-beyond-count";
        case CheckProblem::kPartialRecord: return "partial-record";
        case CheckProblem::kFileShort: return "file-short";
        case CheckProblem::kBytesAfterEnd: return "bytes-after-end";
        case CheckProblem::kUnknownTail: return "unknown-tail";
        case CheckProblem::kUnwrittenTail: return "unwritten-tail";
        case CheckProblem::kDeletionFlag: return "deletion-flag";
        case CheckProblem::kNotANumber: return "not-a-number";
        case CheckProblem::kNotADate: return "not-a-date";
        case CheckProblem::kNotALogical: return "not-a-logical";
        case CheckProblem::kNotADateTime: return "not-a-date-time";
        case CheckProblem::kVarcharLength: return "varchar-length";
        case CheckProblem::kBadText: return "bad-text";
        case CheckProblem::kMemoMissing: return "memo-missing";
        case CheckProblem::kNotABlockNumber: return "not-a-block-number";
        case CheckProblem::kMemoPastEnd: return "memo-past-end";
        case CheckProblem::kMemoLengthPastEnd: return "memo-length-past-end";
        case CheckProblem::kEditCutShort: return "edit-cut-short";
        case CheckProblem::kPackCutShort: return "pack-cut-short";
    }
    return "unknown";
}

std::string Check_FieldLabel(const TableReader& table, int32_t field) {
    const auto& fields = table.layout().fields;
    if (field < 0 || field >= static_cast<int32_t>(fields.size())) return "field " + std::to_string(field);
    const LayoutField& f = fields[static_cast<std::size_t>(field)];
    std::string shape = f.type > 0x20 && f.type < 0x7F ? std::string(1, f.type) : hex_byte(static_cast<uint8_t>(f.type));
    shape += " " + std::to_string(f.length);
    if (f.decimals) shape += "." + std::to_string(f.decimals);
    return "field " + std::to_string(field) + " " + shown(trimmed(f.name), table.codec()) + " (" + shape + ")";
}

CheckReport Check_Open(const TableReader& table, const ProgressFn& progress, bool values_beyond_count, int threads) {
    const Snapshot& scan = table.scan();
    CheckReport report;
    report.status = SnapshotStatus::kOpened;
    report.version = scan.version();
    report.record_count = scan.record_count();
    report.header_length = scan.header_length();
    report.record_length = scan.record_length();
    report.language = scan.language();
    report.field_count = table.field_count();
    report.fields_length = table.layout().fields_length;
    report.laid_by_fields = table.layout().laid_by_fields;
    report.file_length = scan.file_length();
    report.code_page = table.code_page().describe();
    if (table.memo()) report.memo_file = table.memo()->path();
    // What no reading of the header can place records by is not a table.
    if (scan.file_length() < 32 || scan.stride() < 1 || (!known_version(scan.version()) && !table.layout().terminated)) {
        report.status = SnapshotStatus::kNotATable;
        report.why = "not a dBASE table";
        return report;
    }
    Checker checker(table, report, values_beyond_count);
    checker.header();
    checker.interrupted();
    checker.extent();
    if (!checker.values(progress, threads) || !checker.read_ok()) {
        report.status = SnapshotStatus::kUnreadable;
        report.why = "cannot be read to its end";
    }
    return report;
}

CheckReport Check_NotChecked(ReaderStatus status, const std::string& why) {
    CheckReport report;
    report.status = status == ReaderStatus::kMissing      ? SnapshotStatus::kMissing
                    : status == ReaderStatus::kInUse      ? SnapshotStatus::kInUse
                    : status == ReaderStatus::kNotATable || status == ReaderStatus::kOtherLayout ? SnapshotStatus::kNotATable
                                                         : SnapshotStatus::kUnreadable;
    report.why = why;
    return report;
}

CheckReport Check_Table(const char* path, const ProgressFn& progress, const ReaderOptions& options, int threads) {
    TableReader table;
    const ReaderStatus status = table.open(path ? path : "", options);
    if (status != ReaderStatus::kOpened) return Check_NotChecked(status, table.error());
    return Check_Open(table, progress, false, threads);
}

}  // namespace hyl
