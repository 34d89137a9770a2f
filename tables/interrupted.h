// What an edit or a pack cut short leaves beside a table, for the writers
// that make it (writing/), for check, which names it, and for repair, which
// settles it.
//
//   TABLE.undo      the journal of an edit: the bytes of the records it
//                   changes, as they were, written and flushed before any
//                   of them changes, emptied and removed once all of them
//                   have.  A whole one puts the bytes back; a torn one was
//                   cut short before the table changed, and says nothing.
//                     "HYLUNDO2", record length (4), count (4), then each
//                     piece's record number (8), its place in the record
//                     (2), its length (2) and its bytes, then an FNV-1a hash
//                     of all before it, taken eight bytes at a time (8);
//                     numbers little-endian.
//   TABLE.packing,  a pack's new files.  Before its renames they are
//   MEMO.packing    leftovers beside a whole old table; after the memo
//                   file's rename and before the table's (the new table
//                   still there, its memo file gone) the pack must be finished.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hyl {

std::string Table_JournalPath(const std::string& path);
std::string Table_PackingPath(const std::string& path);

// A piece of a record as it was: BYTES at OFFSET in record RECORD.
struct JournalRecord {
    int64_t record = 0;
    int32_t offset = 0;
    std::string bytes;
};

// The journal's bytes for the pieces of records of RECORD_LENGTH.
std::string Journal_Make(int64_t record_length, const std::vector<JournalRecord>& pieces);

// kEmpty: the journal of an edit that finished, whose removal a power cut
// took back; it says nothing.
enum class JournalState { kNone, kEmpty, kTorn, kWhole };
// The journal of the table at PATH, and with kWhole its records.
JournalState Journal_Read(const std::string& path, int64_t* record_length, std::vector<JournalRecord>* records);

enum class PackLeftover {
    kNone,
    kBeforeRenames,   // new files left over; the table is the old one, whole
    kBetweenRenames,  // the memo file renamed, the table not: TABLE.packing must be
};
// What a pack of the table at PATH, whose memo file is MEMO_PATH (empty for
// none), left when it was cut short.
PackLeftover Pack_Leftover(const std::string& path, const std::string& memo_path);
// Removes the leftovers, or renames TABLE.packing over the table; the
// folder flushed.  False when that fails.
bool Pack_Settle(const std::string& path, const std::string& memo_path, PackLeftover leftover);

bool File_Exists(const std::string& path);

}  // namespace hyl
