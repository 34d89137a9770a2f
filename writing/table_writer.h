// Writing tables as wide as they are read: new tables of dBASE III, dBASE
// IV, FoxPro and Visual FoxPro in any code page the reader knows, records
// appended with their memo values, records changed in place, deleted and
// undeleted.  The tool and the Python package write through this, never
// through the DLL's engine, whose exports keep what they do for hosts.
//
// Nothing is acknowledged before it is on the disk, and the order of what
// goes there leaves, after a crash or a power cut at any moment, a table
// that opens, whose damage check names and repair mends, with nothing lost
// that was acknowledged:
//   append   memo entries, flushed; the records after the counted ones and
//            the end marker, flushed; the header's count, flushed.
//   update   new memo entries, flushed; the records as they were, into the
//            journal TABLE.undo, flushed; the records as they become,
//            flushed; the journal emptied, flushed, removed.  A journal left
//            whole puts the records back as they were (repair does it).
//   delete   the deletion flags (one byte each, which no cut can tear), flushed.
// A table is held as an append holds it (others may read, none may write)
// from open to close.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tables/fieldtypes.h"
#include "tables/interrupted.h"
#include "tables/table.h"
#include "writing/memo_writer.h"

namespace hyl {

enum class WriteStatus {
    kDone,
    kMissing,     // no such file
    kInUse,       // another program holds it
    kNotATable,   // no table this library writes
    kRefused,     // a production index, a pack or an edit cut short, a header records cannot be added to
    kFailed,      // a read, write or flush failed; what was acknowledged before stays
};

struct WriteOutcome {
    WriteStatus status = WriteStatus::kDone;
    std::string why;  // in plain words
    bool ok() const { return status == WriteStatus::kDone; }
};

// A new table: its format, code page, fields (name in UTF-8, type, length,
// decimals, nullable; offsets are worked out) and memo block size (0: the
// format's own).
struct NewTable {
    TableFormat format = TableFormat::kDbase3;
    int codepage = 866;
    std::vector<TableField> fields;
    int64_t memo_block_size = 0;
};

struct WriterOptions {
    std::string encoding;     // the code page of the table's text, when it does not say
    bool drop_index = false;  // clear a production index flag rather than refuse the table
};

// A record made ready to write: its bytes, and the memo entries it points
// to, whose pointers are put in once their blocks are known.
struct RecordDraft {
    int64_t record = -1;  // the record it changes, or -1 for a new one
    std::string bytes;
    std::string before;   // the record it changes as it was when drafted
    std::vector<std::pair<int32_t, FieldBytes>> memos;  // by field
};

// What is wrong with a value for a field.
struct FieldProblem {
    int32_t field = -1;
    std::string what;
};

class TableWriter {
public:
    TableWriter() = default;
    ~TableWriter() { close(); }
    TableWriter(const TableWriter&) = delete;
    TableWriter& operator=(const TableWriter&) = delete;

    // Makes a table at PATH (an existing one is replaced), its memo file when
    // it has memo fields, and for UTF-8, which no language byte names, a
    // .cpg; all flushed, and the folder.  Fields are checked first
    // (writing/definition.h).
    static WriteOutcome create(const std::string& path, const NewTable& table);

    // Opens PATH for writing.  Refused: dBASE 7 and dBASE II tables, a header
    // whose record length is not its fields', a file shorter than its count,
    // a production index (unless OPTIONS.drop_index: then its flag is
    // cleared and notice() says so), a pack or an edit cut short.
    WriteOutcome open(const std::string& path, const WriterOptions& options = {});
    WriteOutcome close();
    bool is_open() const { return handle_ != -1; }

    // Every field, _NullFlags too (hidden).
    const std::vector<TableField>& fields() const { return reader_.fields(); }
    const TextCodec& codec() const { return reader_.codec(); }
    TableFormat format() const { return reader_.format(); }
    int64_t record_count() const { return count_; }
    // What open did that a user should hear of ("the index t.mdx ...").
    const std::string& notice() const { return notice_; }
    // The table as it was read when opened (pack reads its records).
    const TableReader& reader() const { return reader_; }

    // A new record from VALUES, one a field (null: left blank), checked by
    // each field's rule; false with PROBLEMS added.
    bool draft(const std::vector<const Value*>& values, const WriteOptions& options, RecordDraft* out,
               std::vector<FieldProblem>* problems);
    // Record RECORD as it is, with VALUES given to some of its fields.
    bool draft_change(int64_t record, const std::vector<std::pair<int32_t, const Value*>>& values,
                      const WriteOptions& options, RecordDraft* out, std::vector<FieldProblem>* problems);

    // Adds DRAFTS after the last record; on the disk when this returns kDone.
    WriteOutcome append(std::vector<RecordDraft>& drafts);
    // Writes the changed records DRAFTS (made by draft_change).
    WriteOutcome update(std::vector<RecordDraft>& drafts);
    // Marks RECORDS deleted or not.
    WriteOutcome set_deleted(const std::vector<int64_t>& records, bool deleted);

private:
    bool put_values(const std::vector<std::pair<int32_t, const Value*>>& values, const WriteOptions& options,
                    RecordDraft* out, std::vector<FieldProblem>* problems);
    bool ready_memo();
    bool put_memos(std::vector<RecordDraft>& drafts);
    void set_bit(std::string& record, int32_t bit) const;
    bool flush_table();
    // Record R's bytes as the file holds them, read with its neighbours a
    // piece at a time, so drafting changes in the order of the records
    // costs a read a piece rather than a read a record.  Null when unreadable.
    const char* stored_record(int64_t r);
    WriteOutcome failed(const std::string& what);

    std::string path_;
    TableReader reader_;
    int32_t handle_ = -1;  // the reader's, held for update
    MemoWriter memo_;
    int64_t count_ = 0;
    int64_t header_length_ = 0;
    int64_t record_length_ = 0;
    int32_t null_flags_offset_ = -1;
    std::string notice_;
    std::string piece_;         // records piece_first_ .. as read, for stored_record
    int64_t piece_first_ = -1;
    int64_t piece_count_ = 0;
};

}  // namespace hyl
