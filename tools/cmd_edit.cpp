// Editing tables in place: delete and undelete (the deletion flags of the
// records named) and pack (the deleted records and the memo entries nobody
// points to removed), through the writer of tables (writing/), which has
// what it wrote on the disk before the command says it is done.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tables/check.h"
#include "tables/memo.h"
#include "tables/table.h"
#include "tools/tool.h"
#include "writing/pack.h"
#include "writing/table_writer.h"

namespace hyltool {
namespace {

struct EditOptions {
    std::string table;
    std::vector<std::string> records;
    bool drop_index = false;
    bool no_backup = false;
};

// The records named: numbers from 0, or ranges FIRST-LAST.
struct RecordRange {
    int64_t first = 0, last = 0;
};

bool whole(const std::string& text, int64_t* n) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *n = std::stoll(text);
    return true;
}

// "3", "3-7"; an empty string when the text is one of them.
std::string parse_range(const std::string& text, RecordRange* range) {
    const std::size_t dash = text.find('-');
    const bool ok = dash == std::string::npos ? whole(text, &range->first) && (range->last = range->first, true)
                                              : whole(text.substr(0, dash), &range->first) &&
                                                    whole(text.substr(dash + 1), &range->last);
    if (!ok) return "'" + text + "' is not a record number (0, 1, 2, ... as dump numbers them) nor a range such as 3-7";
    if (range->last < range->first) return "'" + text + "' is a range that ends before it begins";
    return "";
}

int run_mark(const EditOptions& o, bool deleted) {
    const char* command = deleted ? "delete" : "undelete";
    std::vector<RecordRange> ranges;
    for (const std::string& text : o.records) {
        RecordRange range;
        if (const std::string problem = parse_range(text, &range); !problem.empty()) return usage_error(command, problem);
        ranges.push_back(range);
    }
    // The records are checked against the table before it is opened for
    // writing, which with --drop-index changes its header.
    const std::string path = library_path(o.table);
    {
        hyl::TableReader t;
        if (t.open(path) != hyl::ReaderStatus::kOpened) return fail(1, "cannot open table " + o.table + ": " + t.error());
        for (const RecordRange& r : ranges)
            if (r.last >= t.record_count())
                return fail(1, "record " + std::to_string(r.last) + " is not in " + o.table + " (it has " +
                                   hyl::Words_Plural(t.record_count(), "record", "records") + "); nothing changed");
    }
    std::vector<int64_t> records;
    for (const RecordRange& r : ranges)
        for (int64_t k = r.first; k <= r.last; ++k) records.push_back(k);
    std::sort(records.begin(), records.end());
    records.erase(std::unique(records.begin(), records.end()), records.end());

    hyl::TableWriter writer;
    hyl::WriterOptions options;
    options.drop_index = o.drop_index;
    const std::string verb = std::string("cannot ") + command + " records of ";
    if (const hyl::WriteOutcome opened = writer.open(path, options); !opened.ok())
        return fail(1, verb + o.table + ": " + opened.why);
    say_notice(o.table, writer.notice());
    if (const hyl::WriteOutcome marked = writer.set_deleted(records, deleted); !marked.ok())
        return fail(1, verb + o.table + ": " + marked.why);
    writer.close();
    const std::string count = hyl::Words_Plural(static_cast<int64_t>(records.size()), "record", "records");
    const char* them = records.size() == 1 ? "it" : "them";
    if (deleted)
        std::printf("%s: %s marked deleted (hyl pack removes %s, hyl undelete takes the mark off)\n", o.table.c_str(),
                    count.c_str(), them);
    else
        std::printf("%s: %s no longer marked deleted\n", o.table.c_str(), count.c_str());
    return 0;
}

int run_pack(const EditOptions& o) {
    const std::string path = library_path(o.table);
    hyl::PackOptions options;
    options.backup = !o.no_backup;
    options.drop_index = o.drop_index;
    hyl::PackReport report;
    const hyl::WriteOutcome packed = hyl::Table_Pack(path, options, &report);
    say_notice(o.table, report.notice);
    if (!packed.ok()) return fail(1, "cannot pack " + o.table + ": " + packed.why);
    const char* table = o.table.c_str();
    std::string backups;
    for (std::size_t i = 0; i < report.backups.size(); ++i)
        backups += (i == 0 ? "" : i + 1 == report.backups.size() ? " and " : ", ") + report.backups[i];
    if (!backups.empty())
        std::printf("%s: kept the old %s as %s\n", table, report.backups.size() == 1 ? "file" : "files", backups.c_str());
    std::printf("%s: %s kept, %s removed\n", table, hyl::Words_Plural(report.kept, "record", "records").c_str(),
                hyl::Words_Grouped(report.removed).c_str());
    if (report.memo_before >= 0)
        std::printf("%s: memo file %s: %s before, %s after\n", table, hyl::Memo_Find(path).c_str(),
                    hyl::Words_Plural(report.memo_before, "byte", "bytes").c_str(),
                    hyl::Words_Plural(report.memo_after, "byte", "bytes").c_str());
    return 0;
}

}  // namespace

void add_edit_commands(CLI::App& app) {
    const char* records =
        "RECORD is a record number, counting from 0 as dump and plan number them, or a range such as\n"
        "3-7.  A deleted record stays in the table, marked, until hyl pack removes it; dump --json\n"
        "shows the mark (\"_deleted\": true).  Each flag is one byte, on the disk when the command ends.\n";
    for (const bool deleted : {true, false}) {
        auto mark = std::make_shared<EditOptions>();
        CLI::App* cmd = app.add_subcommand(deleted ? "delete" : "undelete",
                                           deleted ? "Mark records deleted" : "Take the deletion mark off records");
        cmd->footer(std::string(records) + "\n" + kWriteRefusals);
        cmd->add_option("TABLE", mark->table, "the table file")->required();
        cmd->add_option("RECORD", mark->records, "record numbers or ranges FIRST-LAST")->required();
        add_drop_index_flag(cmd, mark->drop_index);
        cmd->callback([mark, deleted] { set_exit_status(run_mark(*mark, deleted)); });
    }

    auto pack = std::make_shared<EditOptions>();
    CLI::App* cmd = app.add_subcommand("pack", "Remove the deleted records, and the memo entries no record points to");
    cmd->footer(std::string(
                    "Writes the records not deleted, and the memo entries they point to, to new files beside\n"
                    "the old (TABLE.packing), flushes them, copies the old files to TABLE.bak and the memo\n"
                    "file's .bak, and renames the new ones over the old.  A crash or a power cut leaves the\n"
                    "old table or the new one whole; a pack cut short between its two renames is finished by\n"
                    "hyl repair, and hyl check says so until then.  An existing backup is not overwritten.\n"
                    "Says how many records were kept and removed, and the memo file's size before and after.\n\n") +
                kWriteRefusals);
    cmd->add_option("TABLE", pack->table, "the table file")->required();
    cmd->add_flag("--no-backup", pack->no_backup, "keep no copy of the old files");
    add_drop_index_flag(cmd, pack->drop_index);
    cmd->callback([pack] { set_exit_status(run_pack(*pack)); });
}

}  // namespace hyltool
