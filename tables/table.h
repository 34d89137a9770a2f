// Tables from anywhere, read whole: the typed reader that the tool's info,
// dump and check stand on, and that other programs (a Python package among
// them) can stand on too.  It prints nothing and decides no exit status: it
// hands out a table's shape, its code page, and each value typed.
//
//   TableReader t;
//   if (t.open("stock.dbf") != ReaderStatus::kOpened) fail(t.error());
//   Value v;
//   t.for_each_batch(0, t.record_count(), [&](const RecordBatch& batch) {
//       for (int64_t k = 0; k < batch.size(); ++k)
//           for (int f = 0; f < t.field_count(); ++f) batch.value(k, f, v);
//       return true;
//   });
//
// What it reads: dBASE III, dBASE IV, FoxPro and Visual FoxPro tables (the
// 32-byte header and 32-byte descriptors), with their memo files
// (tables/memo.h), in any code page (tables/codepage.h).  dBASE 7 tables
// (48-byte descriptors) and dBASE II tables (16-byte descriptors) are named
// and refused.  The records are read in blocks of a few megabytes, as one
// snapshot of the file as it was when opened (tables/snapshot.h).
//
// Values, by field type:
//   C, V            kString: UTF-8, up to a NUL, trailing blanks cut
//   N, F            kInteger when the text has no point and fits 64 bits,
//                   kDouble with an exponent, else kDecimal (text as stored,
//                   and its double); blank or '*' fill kNull
//   D               kDate; blank or zeros kNull
//   L               kBool; '?' and blank kNull
//   M               kString, the memo's text (kBinary for a FoxPro picture or
//                   object entry); no memo (block 0) kNull
//   I, +            kInteger (4 bytes, little-endian)
//   B               kDouble in Visual FoxPro; elsewhere a binary memo
//   O               kDouble
//   Y               kDecimal: integer = ten-thousandths, text with 4 decimals
//   T, @            kDateTime: milliseconds since 1970-01-01T00:00; all
//                   zeros or blanks kNull
//   G, P, W, B      kBinary: integer = the memo's length in bytes
//   Q               kBinary: the value's length in bytes
//   0 (_NullFlags)  hidden; says which nullable fields hold no value
// Values that do not read as their type (letters in a number, a date that
// is no day) come as kString with the text as stored, and decode() says so.
//
// A TableReader is used by one thread at a time: reading memos moves its window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tables/codepage.h"
#include "tables/memo.h"
#include "tables/snapshot.h"

namespace hyl {

enum class ReaderStatus {
    kOpened,
    kMissing,          // no such file
    kInUse,            // another program holds it so that it cannot be read
    kUnreadable,       // any other failure to open or read it
    kNotATable,        // no dBASE header
    kOtherLayout,      // dBASE 7 or dBASE II: named, not read
    kUnknownEncoding,  // --encoding or the .cpg names no code page this system knows
};

enum class ValueKind : uint8_t { kNull, kBool, kInteger, kDouble, kDecimal, kString, kDate, kDateTime, kBinary };

struct Value {
    ValueKind kind = ValueKind::kNull;
    bool boolean = false;
    // kInteger; kDecimal of a Y field: ten-thousandths;
    // kDate: days since 1970-01-01; kDateTime: milliseconds since 1970-01-01T00:00;
    // kBinary: length in bytes.
    int64_t integer = 0;
    double real = 0;  // kDouble, and the nearest double of kDecimal
    // kString: the text.  kDecimal: the digits ("-12.50", "0.1000").  For N,
    // F, D and L fields, whatever the kind: the stored text, blanks cut.
    std::string text;
};

// What is wrong with a value, for check; kNone when nothing.
enum class ValueProblem : uint8_t {
    kNone,
    kNotANumber,
    kNotADate,
    kNotALogical,
    kNotADateTime,    // a T or @ value with a day of 0 and a time, or a time past the day
    kVarcharLength,   // a V or Q length byte past its field
    kBadText,         // bytes not valid in the code page (shown as U+FFFD)
    kMemoMissing,     // a memo block number, and no memo file
    kMemoPastEnd,     // the block lies past the memo file's end
    kMemoLengthPastEnd,
    kMemoUnreadable,
    kNotABlockNumber,  // an M field of 10 that is not digits
};

struct TableField {
    std::string name;  // UTF-8
    char type = '\0';
    int32_t length = 0;
    int32_t decimals = 0;
    int32_t offset = 0;      // within the record; below 1 when unreadable
    bool nullable = false;   // Visual FoxPro's flag
    bool hidden = false;     // _NullFlags, the system field
    bool memo = false;       // its value lives in the memo file
    bool binary = false;     // its value is bytes, shown as their length
    int32_t null_bit = -1;   // in _NullFlags: set when the value is null
    int32_t length_bit = -1; // in _NullFlags: set when a V or Q value is shorter than its field
};

struct ReaderOptions {
    std::string encoding;  // a code page name; empty: decide by .cpg and language byte
    // Held as a table opened for appending is held (others may read, none
    // may write), for repair.
    bool for_update = false;
};

class TableReader;

// Records FIRST .. FIRST + SIZE - 1 as read from the file.
class RecordBatch {
public:
    int64_t first() const { return first_; }
    int64_t size() const { return size_; }
    bool deleted(int64_t k) const { return record(k)[0] == '*'; }
    const uint8_t* record(int64_t k) const { return bytes_ + k * record_length_; }
    // Field FIELD of record FIRST + K.  OUT's string keeps its storage from
    // call to call, so a column of a million values costs no allocation a value.
    ValueProblem value(int64_t k, int32_t field, Value& out) const;

private:
    friend class TableReader;
    const TableReader* table_ = nullptr;
    int64_t first_ = 0, size_ = 0, record_length_ = 0;
    const uint8_t* bytes_ = nullptr;
};

class TableReader {
public:
    TableReader() = default;
    TableReader(const TableReader&) = delete;
    TableReader& operator=(const TableReader&) = delete;

    // Opens PATH shared for reading (one attempt; nothing shown or waited
    // for), with its memo file when it has one.
    ReaderStatus open(const std::string& path, const ReaderOptions& options = {});
    // Why open failed, in plain words ("no such file", "a dBASE 7 table ...").
    const std::string& error() const { return error_; }

    void close() { scan_.close(), memo_.close(); }
    const Snapshot& scan() const { return scan_; }
    const std::vector<TableField>& fields() const { return fields_; }
    int32_t field_count() const { return static_cast<int32_t>(fields_.size()); }
    // The records the header counts.
    int64_t record_count() const { return std::max<int64_t>(scan_.record_count(), 0); }
    const CodePageChoice& code_page() const { return code_page_; }
    const TextCodec& codec() const { return codec_; }
    bool has_memo_fields() const;
    // The memo file, when one was found.
    const MemoFile* memo() const { return memo_.is_open() ? &memo_ : nullptr; }
    bool visual_foxpro() const;

    // Hands VISIT the records FIRST to END - 1 in batches; VISIT returns
    // false to stop.  False on a read error.
    bool for_each_batch(int64_t first, int64_t end, const std::function<bool(const RecordBatch&)>& visit) const;
    // One field of the records FIRST to END - 1: the cheap way to fill a
    // column (only that field is decoded, and only its memos read).
    bool read_column(int32_t field, int64_t first, int64_t end,
                     const std::function<void(int64_t record, const Value&)>& visit) const;

    // Field FIELD of the record at RECORD (its deletion flag first).
    ValueProblem decode(const uint8_t* record, int32_t field, Value& out) const;

private:
    ValueProblem decode_memo(const TableField& f, const uint8_t* bytes, Value& out) const;
    bool is_null(const uint8_t* record, int32_t bit) const;

    Snapshot scan_;
    std::vector<TableField> fields_;
    CodePageChoice code_page_;
    TextCodec codec_;
    mutable MemoFile memo_;
    mutable std::string memo_bytes_;
    int32_t null_flags_ = -1;  // the _NullFlags field
    std::string error_;
};

// The layout a file's first LENGTH bytes have when it is not dBASE III's
// ("a dBASE 7 table (...), which hyl does not read"), or empty.
std::string Table_OtherLayout(const uint8_t* head, int64_t length);

// A number as dBASE and its peers write one: a sign, digits with at most
// one point, an exponent.  *WHOLE when it has neither point nor exponent.
bool Table_IsNumber(std::string_view text, bool* whole);

// Days since 1970-01-01 as YYYY-MM-DD; milliseconds since 1970 as
// YYYY-MM-DDTHH:MM:SS, with .fff when there are milliseconds.
std::string Table_FormatDate(int64_t days);
std::string Table_FormatDateTime(int64_t milliseconds);

}  // namespace hyl
