// The bytes of a table file as one snapshot: the header and descriptors,
// and the records in blocks of a few megabytes through positioned reads.
// The typed reader (tables/table.h), check and repair stand on it; nothing
// here knows what a value is.  Not part of the DLL, whose exports keep the
// promise that every field read sees the file as it is at that moment.
//
// The header and descriptors are read as opening a table reads them (a
// header shorter than the file's own bytes reads as zeros, the fields end at
// the 0x0D terminator, offsets are summed from the lengths), and field_text
// gives what the field-text export gives for the same bytes, so the
// snapshot can be held to the exports (the fuzz target of check does).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hyl {

enum class SnapshotStatus {
    kOpened,
    kMissing,     // no such file
    kInUse,       // another program holds it in a mode that keeps this open out
    kUnreadable,  // any other failure to open or read it
    kNotATable,   // no header the library could open: a header length below 32
};

struct SnapshotField {
    std::string name;  // descriptor bytes 0-10 up to the first NUL, as stored
    char type = '\0';
    int32_t length = 0;
    int32_t decimals = 0;
    // Within the record, summed from the lengths before it in 16 bits as the
    // library sums them; below 1 when that sum wrapped, and then unreadable.
    int32_t offset = 0;
};

class Snapshot {
public:
    Snapshot() = default;
    ~Snapshot();
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    // Opens PATH shared for reading as a read of the library does, or, with
    // FOR_UPDATE, for reading and writing with other writers kept out, as
    // a table opened for appending is held; one attempt, no message shown.
    SnapshotStatus open(const char* path, bool for_update);
    void close();

    int32_t handle() const { return handle_; }
    int64_t file_length() const { return file_length_; }
    const uint8_t* header() const { return header_; }
    uint8_t version() const { return header_[0]; }
    int32_t record_count() const;
    int32_t header_length() const;  // signed 16 bits, at least 32 once opened
    int32_t record_length() const;  // signed 16 bits
    uint8_t language() const { return header_[29]; }
    bool oem() const;
    // The header length - 32 bytes after the header, zero where the file has none.
    const std::vector<uint8_t>& descriptors() const { return descriptors_; }
    const std::vector<SnapshotField>& fields() const { return fields_; }
    // What the records are laid by: the header's record length, unless
    // lay_records said otherwise.
    int64_t stride() const { return stride_; }
    // Where record R begins in the file.
    int64_t record_position(int64_t record) const;
    // Reads the records as laid by STRIDE bytes, their fields reaching REACH
    // bytes from each record's start (tables/layout.h decides both).
    void lay_records(int64_t stride, int32_t reach) { stride_ = stride, reach_ = reach; }

    // LENGTH bytes at POSITION; bytes past the end of the file (as it was
    // when opened) read as zero.  False on a read error, and when the file
    // gives nothing where it had bytes when it was opened.
    bool read(int64_t position, uint8_t* dst, int64_t length) const;

    // The records FIRST to END - 1, read in blocks of a few megabytes and
    // handed to VISIT with the first record's number, the number of records
    // and their bytes.  Each block also holds the bytes that a field running
    // past its record's length reaches (such a field reads on into the next
    // record, as a field read of the library does).  VISIT returns false to
    // stop.  False on a read error.  The blocks are read into BLOCK when
    // given (a reader of many ranges keeps its memory), else into a buffer
    // of the call's own.  Threads may read at once, each into its own.
    using BlockVisitor = std::function<bool(int64_t first, int64_t count, const uint8_t* bytes)>;
    bool for_each_block(int64_t first, int64_t end, const BlockVisitor& visit, std::vector<uint8_t>* block = nullptr) const;

    // Field F's name as the field-name export gives it: trailing blanks
    // and control bytes removed, in Windows-1251 when the language byte says 866.
    std::string field_name(int32_t field) const;

    // Field F's text in the record at RECORD_BYTES (as for_each_block hands
    // them) as the field-text export gives it: up to the first NUL, trailing
    // blanks and control bytes removed, in Windows-1251 when the table's
    // language byte says 866.  OUT holds at least 256 bytes; returns the
    // text's length.
    int32_t field_text(const uint8_t* record_bytes, int32_t field, char* out) const;

private:
    int32_t handle_ = -1;
    int64_t file_length_ = 0;
    uint8_t header_[32] = {};
    std::vector<uint8_t> descriptors_;
    std::vector<SnapshotField> fields_;
    int64_t stride_ = 0;
    int32_t reach_ = 0;  // bytes a record's fields reach from its start
};

// LENGTH bytes at POSITION of the file open as HANDLE, FILE_LENGTH bytes
// long when it was opened: what Snapshot::read does, for the memo file too.
bool Snapshot_ReadAt(int32_t handle, int64_t file_length, int64_t position, uint8_t* dst, int64_t length);

}  // namespace hyl
