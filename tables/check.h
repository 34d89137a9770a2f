// Checking a table whole: what is wrong with its header, with where its
// records end against what the header counts, and with the values of the
// counted records.  What it finds is said in plain words for the people who
// keep the tables (UTF-8, record and field numbers counted from 0), and kept
// as data for scripts and for repair.
//
// Not damage: deleted records ('*' flags), and a table with no 0x1A after
// its last record (this library writes none; peers read both).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tables/snapshot.h"
#include "tables/table.h"

namespace hyl {

enum class CheckProblem {
    // The header.
    kUnknownVersion,
    kShortHeader,      // the file ends inside its header or descriptors
    kNoTerminator,     // no 0x0D after the descriptors
    kHeaderLength,     // the header length does not fit the descriptors and the terminator
    kRecordLength,     // not 1 + the sum of the field lengths
    kEmptyName,
    kDuplicateName,
    kUnreadableName,   // control bytes in a name
    kUnknownType,
    kDateLength,       // a D field not 8 long
    // Where the records end.
    kRecordsBeyondCount,  // complete records after the counted ones (an interrupted append)
    kPartialRecord,       // an incomplete record at the end
    kFileShort,           // fewer records in the file than the header counts
    kBytesAfterEnd,       // bytes after the 0x1A end marker
    kUnknownTail,         // bytes after the records that do not read as records
    kUnwrittenTail,       // bytes after the records holding a sector of zeros the disk never got (a power cut in an append)
    // The values of the counted records.
    kDeletionFlag,  // neither blank nor '*'
    kNotANumber,    // an N or F field
    kNotADate,      // a D field
    kNotALogical,   // an L field
    kNotADateTime,  // a T or @ field: a day of 0 with a time, or a time past the day
    kVarcharLength, // a V or Q length byte past its field
    kBadText,       // bytes that are not text in the table's code page
    // Memo files.
    kMemoMissing,         // memo fields, and no memo file beside the table
    kNotABlockNumber,     // an M field that holds no block number
    kMemoPastEnd,         // a block number past the memo file's end
    kMemoLengthPastEnd,   // an entry whose length runs past the memo file's end
    // What a writer cut short left beside the table.
    kEditCutShort,        // TABLE.undo: an edit's records as they were
    kPackCutShort,        // TABLE.packing, MEMO.packing: a pack's new files
};

// A stable name for scripts ("record-length", "records-beyond-count", ...).
const char* Check_ProblemCode(CheckProblem problem);

struct FindingExample {
    int64_t record = 0;
    std::string value;  // UTF-8; control bytes written \xNN
};

struct Finding {
    CheckProblem problem;
    int32_t field = -1;    // the field it concerns, -1 for none
    int64_t record = -1;   // the record it concerns (the first of several), -1 for none
    int64_t count = 0;     // how many values, records or bytes it concerns
    std::vector<FindingExample> examples;  // the first few of several values
    std::string message;   // in plain words
};

// How the records lie against what the header counts: what repair works from.
struct RecordExtent {
    int64_t counted = 0;        // the header's count (taken unsigned)
    int64_t present = 0;        // counted records whose bytes are all in the file
    int64_t beyond = 0;         // complete records after the counted ones with a blank or '*' flag, up to the first that has neither
    int64_t partial_bytes = 0;  // an incomplete record at the end
    bool end_marker = false;    // a 0x1A right after the last record
    int64_t after_marker = 0;   // bytes after that marker
    int64_t unknown_tail = 0;   // bytes after the records that do not read as records
    int64_t unwritten = 0;      // bytes after the records holding a whole 512-byte sector of zeros
    int64_t records_end = 0;    // where the last record (counted or beyond) ends
};

struct CheckReport {
    SnapshotStatus status = SnapshotStatus::kUnreadable;
    std::string why;  // when the table could not be checked at all, in plain words
    uint8_t version = 0;
    int32_t record_count = 0;
    int32_t header_length = 0;
    int32_t record_length = 0;
    uint8_t language = 0;
    int32_t field_count = 0;
    int64_t file_length = 0;
    int64_t fields_length = 0;  // the deletion flag and the fields
    bool laid_by_fields = false;  // the file proves the records lie by the fields, not the header's length
    std::string code_page;  // which, and why: "code page 1250 (language byte 0xC8)"
    std::string memo_file;  // the memo file read, empty for none
    RecordExtent extent;
    std::vector<Finding> findings;

    bool checked() const { return status == SnapshotStatus::kOpened; }
    bool sound() const { return checked() && findings.empty(); }
};

// Called now and then with the records done and the records to do.
using ProgressFn = std::function<void(int64_t done, int64_t total)>;

// Opens PATH shared for reading and checks it whole, with its memo file.
// The values of a large table are read on THREADS threads (0: the
// machine's; tables/split.h), with the same findings as on one.
CheckReport Check_Table(const char* path, const ProgressFn& progress = {}, const ReaderOptions& options = {},
                        int threads = 1);
// Checks an open table.  With VALUES_BEYOND_COUNT the values of the
// complete records after the counted ones are checked too, as if counted:
// what the table would hold once repair counts them.
CheckReport Check_Open(const TableReader& table, const ProgressFn& progress = {}, bool values_beyond_count = false,
                       int threads = 1);
// What a table that did not open is, as a report that was not checked.
CheckReport Check_NotChecked(ReaderStatus status, const std::string& why);

// Counts as people read them: "1,000,000"; "1 record", "3 records".
std::string Words_Grouped(int64_t n);
std::string Words_Plural(int64_t n, const char* one, const char* many);

// A field as the findings name it: "field 2 QTY (N 10.2)".
std::string Check_FieldLabel(const TableReader& table, int32_t field);

}  // namespace hyl
