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
// What it reads: dBASE III, dBASE IV, FoxPro, Visual FoxPro and dBASE 7
// tables (tables/layout.h), with their memo files (tables/memo.h), in any
// code page (tables/codepage.h).  dBASE II tables are named and refused.
// The records are read in blocks of a few megabytes, as one snapshot of the
// file as it was when opened (tables/snapshot.h).  Each field's bytes are
// read by its type's rule (tables/fieldtypes.h), which says what the value
// is and, for check, what is wrong with it.
//
// A TableReader is used by one thread at a time: reading memos moves its
// window.  Several threads read one table each through a TableCursor of its
// own (below; tables/split.h splits a table's records among them).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tables/codepage.h"
#include "tables/fieldtypes.h"
#include "tables/layout.h"
#include "tables/memo.h"
#include "tables/snapshot.h"

namespace hyl {

enum class ReaderStatus {
    kOpened,
    kMissing,          // no such file
    kInUse,            // another program holds it so that it cannot be read
    kUnreadable,       // any other failure to open or read it
    kNotATable,        // no dBASE header
    kOtherLayout,      // dBASE II: named, not read
    kUnknownEncoding,  // --encoding or the .cpg names no code page this system knows
};

struct ReaderOptions {
    std::string encoding;  // a code page name; empty: decide by the table (tables/codepage.h)
    // Held as a table opened for appending is held (others may read, none
    // may write), for repair.
    bool for_update = false;
};

class TableReader;
class TableCursor;

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
    friend class TableCursor;
    const std::vector<TableField>* fields_ = nullptr;
    const FieldContext* context_ = nullptr;  // the reader's or a cursor's
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
    // Why open failed, in plain words ("no such file", "a dBASE II table ...").
    const std::string& error() const { return error_; }

    void close() { scan_.close(), memo_.close(); }
    const Snapshot& scan() const { return scan_; }
    const TableLayout& layout() const { return layout_; }
    TableFormat format() const { return layout_.format; }
    const std::vector<TableField>& fields() const { return fields_; }
    int32_t field_count() const { return static_cast<int32_t>(fields_.size()); }
    // The records the header counts.
    int64_t record_count() const { return std::max<int64_t>(scan_.record_count(), 0); }
    const CodePageChoice& code_page() const { return code_page_; }
    const TextCodec& codec() const { return codec_; }
    bool has_memo_fields() const;
    // The memo file, when one was found.
    const MemoFile* memo() const { return memo_.is_open() ? &memo_ : nullptr; }
    bool visual_foxpro() const { return layout_.format == TableFormat::kVisualFoxPro; }

    // Hands VISIT the records FIRST to END - 1 in batches; VISIT returns
    // false to stop.  False on a read error.
    bool for_each_batch(int64_t first, int64_t end, const std::function<bool(const RecordBatch&)>& visit) const;
    // One field of the records FIRST to END - 1: the cheap way to fill a
    // column (only that field is decoded, and only its memos read).
    bool read_column(int32_t field, int64_t first, int64_t end,
                     const std::function<void(int64_t record, const Value&)>& visit) const;

    // Field FIELD of the record at RECORD (its deletion flag first).
    ValueProblem decode(const uint8_t* record, int32_t field, Value& out) const;
    // The bytes of the memo entry at BLOCK, as the memo file holds them (for
    // pack, which copies them).
    MemoEntry read_memo(uint64_t block, std::string& out) const {
        return memo_.is_open() ? memo_.read(block, out) : MemoEntry::kUnreadable;
    }
    // The path it was opened by.
    const std::string& path() const { return path_; }

    // The field named NAME (as fields() names it, _NullFlags never), or -1.
    int32_t find_field(std::string_view name) const;

private:
    friend class TableCursor;
    Snapshot scan_;
    TableLayout layout_;
    std::vector<TableField> fields_;
    CodePageChoice code_page_;
    TextCodec codec_;
    mutable MemoFile memo_;
    mutable std::string memo_bytes_;
    FieldContext context_;  // what every field's reading shares
    std::string path_;
    std::string error_;
};

// What one thread reads an open table's records and values with while
// other threads read the same table: the records come from the reader's
// snapshot (positioned reads, which threads may make at once), the memos
// through a memo file of the cursor's own, opened on the same path (a memo
// read moves its file's window), with its own room for an entry.  The
// reader outlives its cursors and is not closed while they read.
class TableCursor {
public:
    explicit TableCursor(const TableReader& table);
    TableCursor(const TableCursor&) = delete;
    TableCursor& operator=(const TableCursor&) = delete;

    // As TableReader::for_each_batch; the batches' values read through this
    // cursor.  False too when the reader's memo file would not open again.
    bool for_each_batch(int64_t first, int64_t end, const std::function<bool(const RecordBatch&)>& visit);
    // As TableReader::decode.
    ValueProblem decode(const uint8_t* record, int32_t field, Value& out);

private:
    const TableReader& table_;
    MemoFile memo_;
    bool memo_lost_ = false;
    std::string memo_bytes_;
    FieldContext context_;
    std::vector<uint8_t> block_;  // the records read, kept from range to range
};

}  // namespace hyl
