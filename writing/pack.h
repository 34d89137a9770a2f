// Packing a table: its live records, and the memo entries they point to,
// written to new files beside the old (TABLE.packing, MEMO.packing),
// flushed, the old files copied to their backups (TABLE.bak, MEMO.bak, as
// repair names its backup), and the new ones renamed over the old, the memo
// file first.  A crash or a power cut at any moment leaves the old table
// whole or the new one: before the renames the old files stand and the new
// ones are leftovers; between them (the memo file new, the table old, and
// TABLE.packing still there) repair finishes the pack, and check says so
// until it does.  Entries no live record points to are left behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tables/interrupted.h"
#include "writing/table_writer.h"

namespace hyl {

struct PackOptions {
    bool backup = true;
    bool drop_index = false;
    std::string encoding;
};

struct PackReport {
    int64_t kept = 0;
    int64_t removed = 0;
    int64_t memo_before = -1;  // the memo file's length, -1 for none
    int64_t memo_after = -1;
    std::vector<std::string> backups;  // the backups made
    std::string notice;                // what opening it for writing did (an index flag cleared)
};

WriteOutcome Table_Pack(const std::string& path, const PackOptions& options, PackReport* report);

}  // namespace hyl
