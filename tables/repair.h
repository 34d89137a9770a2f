// Mending a damaged table in place, only where no guessing is needed.
//
// What an edit or a pack cut short left beside the table is settled first
// (tables/interrupted.h): a whole journal puts the records back as they
// were, a pack between its renames is finished, leftovers are removed.
//
// Repair touches nothing but the header's record count (bytes 4-7), its
// record length (bytes 10-11) where the file proves it wrong (the records
// lie by the fields, tables/layout.h), and the end of the file, never a
// descriptor or a record: it counts the complete
// records an interrupted append left after the counted ones (as far as their
// deletion flags are blank or '*'), lowers the count of a file that holds
// fewer records than it claims, cuts off an incomplete record and whatever
// follows an end marker, and then ends the file with one 0x1A.  Bytes after
// the records that do not read as records are left as they are (unless they
// hold a whole sector of zeros: room an append was given that a power cut
// kept from the disk, cut off too), and so is every other kind of damage:
// it is reported, not mended.
//
// The table is held as an append holds it (others may read, none may
// write) from the first read to the last write, and copied byte for byte to
// TABLE.bak before anything is changed.
#pragma once

#include <string>
#include <vector>

#include "tables/check.h"

namespace hyl {

struct RepairOptions {
    bool dry_run = false;  // say what would be done, change nothing, make no backup
    bool backup = true;
    std::string encoding;  // the code page to check the text in; empty: the table's own
};

enum class RepairOutcome {
    kSound,          // nothing needed mending
    kMended,         // sound afterwards (dry run: would be)
    kDamageRemains,  // damage that repair does not mend is left
    kCannotWork,     // missing, not a table, in use, or a write failed
};

// Why repair could not work, for callers to tell apart without reading words.
enum class RepairRefusal {
    kNone,
    kMissing,
    kInUse,            // another program holds it for writing
    kNotATable,        // not a table, or one of a layout hyl does not read
    kUnknownEncoding,
    kUnreadable,       // it cannot be read (to its end)
    kBackupExists,     // TABLE.bak is there already
    kBackupFailed,     // the backup could not be made; the table is unchanged
    kWriteFailed,      // a write of the mending failed; the backup holds the table as it was
    kRecheckFailed,    // mended, but it could not be checked again
};

// One change repair makes, to be said in the past (done) or the conditional
// (a dry run).
struct RepairStep {
    enum class Kind {
        kPutBack,          // the records an edit cut short was changing, back from its journal
        kRemoveJournal,    // a journal torn before the table changed
        kFinishPack,       // the packed table renamed into place
        kRemovePackFiles,  // a pack's new files, left before it changed the table
        kRecordLength,
        kLowerCount,
        kCountBeyond,
        kCutPartial,
        kCutAfterMarker,
        kCutUnwritten,
        kEndMarker,
    };
    Kind kind;
    int64_t from = 0, to = 0;  // a length or a count before and after; a number of bytes cut or records put back
    std::string file = {};     // the journal or the pack's new table
};
std::string Repair_Describe(const RepairStep& step, bool done);

struct RepairResult {
    RepairOutcome outcome = RepairOutcome::kCannotWork;
    RepairRefusal refusal = RepairRefusal::kNone;  // for kCannotWork
    std::string why;                   // for kCannotWork, in plain words
    std::vector<std::string> actions;  // what was done (dry run: would be), in plain words
    std::string backup_path;           // the backup made, if any
    CheckReport before;             // the check the mending worked from
    CheckReport after;              // the check made afterwards (dry run: what is left unmended)
};

// Which of a check's findings a repair of the same table would mend, one
// flag a finding in order: what check promises of repair is what it does.
std::vector<bool> Repair_Mends(const CheckReport& report);

RepairResult Repair_Table(const char* path, const RepairOptions& options,
                                const ProgressFn& progress = {});

}  // namespace hyl
