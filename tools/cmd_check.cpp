// Finding and mending damage: check (any number of tables, in words or as
// JSON) and repair (one table, in place, after a backup).
//
// Exit statuses as fsck has them: 0 sound, 1 damage found (repair: damage
// left that it does not mend), 2 a table that cannot be read or worked on.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tables/check.h"
#include "tables/repair.h"
#include "tools/progress.h"
#include "tools/tool.h"

namespace hyltool {
namespace {

constexpr int kExitDamage = 1;

std::string shape(const hyl::CheckReport& r) {
    return hyl::Words_Plural(r.extent.counted, "record", "records") + ", " +
           hyl::Words_Plural(r.field_count, "field", "fields");
}

int status_of(const hyl::CheckReport& r) { return !r.checked() ? kExitUsage : r.sound() ? 0 : kExitDamage; }

// What repair would do about the findings, for the summary line: "" when
// nothing, else "; hyl repair settles the edit cut short and mends the end
// of the records".
std::string repair_would(const hyl::CheckReport& r) {
    const std::vector<bool> mends = hyl::Repair_Mends(r);
    bool edit = false, pack = false, end = false;
    for (std::size_t i = 0; i < r.findings.size(); ++i) {
        if (!mends[i]) continue;
        const hyl::CheckProblem p = r.findings[i].problem;
        edit = edit || p == hyl::CheckProblem::kEditCutShort;
        pack = pack || p == hyl::CheckProblem::kPackCutShort;
        end = end || (p != hyl::CheckProblem::kEditCutShort && p != hyl::CheckProblem::kPackCutShort);
    }
    std::vector<std::string> deeds;
    if (edit || pack)
        deeds.push_back(std::string("settles the ") + (edit && pack ? "edit and the pack" : edit ? "edit" : "pack") + " cut short");
    if (end) deeds.push_back("mends the end of the records");
    std::string said;
    for (std::size_t i = 0; i < deeds.size(); ++i)
        said += (i == 0 ? "; hyl repair " : i + 1 == deeds.size() ? " and " : ", ") + deeds[i];
    return said;
}

void print_report(const std::string& table, const hyl::CheckReport& r) {
    if (!r.checked()) {
        std::fprintf(stderr, "hyl: %s: %s\n", table.c_str(), r.why.c_str());
        return;
    }
    for (const hyl::Finding& f : r.findings) std::printf("%s: %s\n", table.c_str(), f.message.c_str());
    if (r.sound()) {
        std::printf("%s: sound (%s)\n", table.c_str(), shape(r).c_str());
        return;
    }
    std::printf("%s: %s (%s)%s\n", table.c_str(),
                hyl::Words_Plural(static_cast<int64_t>(r.findings.size()), "problem", "problems").c_str(),
                shape(r).c_str(), repair_would(r).c_str());
}

nlohmann::ordered_json json_of(const std::string& table, const hyl::CheckReport& r, const std::vector<std::string>& names) {
    nlohmann::ordered_json j;
    j["table"] = table;
    j["status"] = !r.checked() ? "unreadable" : r.sound() ? "sound" : "damaged";
    if (!r.checked()) {
        j["why"] = r.why;
        return j;
    }
    j["version"] = r.version;
    j["records"] = r.extent.counted;
    j["fields"] = r.field_count;
    j["header_length"] = r.header_length;
    j["record_length"] = r.record_length;
    j["language"] = r.language;
    j["code_page"] = r.code_page;
    if (!r.memo_file.empty()) j["memo_file"] = r.memo_file;
    j["file_length"] = r.file_length;
    j["findings"] = nlohmann::ordered_json::array();
    const std::vector<bool> mends = hyl::Repair_Mends(r);
    for (std::size_t i = 0; i < r.findings.size(); ++i) {
        const hyl::Finding& f = r.findings[i];
        nlohmann::ordered_json one;
        one["code"] = hyl::Check_ProblemCode(f.problem);
        one["message"] = f.message;
        one["count"] = f.count;
        one["repair_mends"] = static_cast<bool>(mends[i]);
        if (f.field >= 0) {
            one["field"] = f.field;
            if (f.field < static_cast<int32_t>(names.size())) one["field_name"] = names[static_cast<std::size_t>(f.field)];
        }
        if (f.record >= 0) one["record"] = f.record;
        if (!f.examples.empty()) {
            one["examples"] = nlohmann::ordered_json::array();
            for (const hyl::FindingExample& e : f.examples) one["examples"].push_back({{"record", e.record}, {"value", e.value}});
        }
        j["findings"].push_back(one);
    }
    return j;
}

// The field names in UTF-8, for the JSON findings.
std::vector<std::string> field_names(const std::string& path, const std::string& encoding) {
    std::vector<std::string> names;
    hyl::TableReader table;
    if (table.open(path, {encoding}) != hyl::ReaderStatus::kOpened) return names;
    for (const hyl::TableField& f : table.fields()) names.push_back(f.name);
    return names;
}

struct CheckOptions {
    std::vector<std::string> tables;
    bool json = false;
    std::string encoding;
    int threads = 0;  // 0: the machine's
};

int run_check(const CheckOptions& o) {
    int status = 0;
    int tally[3] = {0, 0, 0};  // sound, damaged, not checked
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const std::string& table : o.tables) {
        const std::string path = library_path(table);
        hyl::CheckReport report;
        {
            Progress progress("check " + table);
            report = hyl::Check_Table(
                path.c_str(), [&](int64_t done, int64_t total) { progress.update(done, total); }, {o.encoding},
                o.threads);
        }
        const int table_status = status_of(report);
        status = std::max(status, table_status);
        ++tally[table_status];
        if (o.json)
            all.push_back(json_of(table, report, field_names(path, o.encoding)));
        else
            print_report(table, report);
    }
    if (o.json)
        std::printf("%s\n", nlohmann::ordered_json{{"tables", all}, {"status", status}}.dump(2).c_str());
    else if (o.tables.size() > 1)
        std::printf("%s: %d sound, %d with damage, %d not checked\n",
                    hyl::Words_Plural(static_cast<int64_t>(o.tables.size()), "table", "tables").c_str(), tally[0],
                    tally[1], tally[2]);
    return status;
}

struct RepairOptions {
    std::string table;
    bool dry_run = false;
    bool no_backup = false;
    std::string encoding;
};

int run_repair(const RepairOptions& o) {
    const std::string path = library_path(o.table);
    hyl::RepairOptions options;
    options.dry_run = o.dry_run;
    options.backup = !o.no_backup;
    options.encoding = o.encoding;
    hyl::RepairResult result;
    {
        Progress progress("repair " + o.table);
        result = hyl::Repair_Table(path.c_str(), options,
                                      [&](int64_t done, int64_t total) { progress.update(done, total); });
    }
    const char* table = o.table.c_str();
    for (const std::string& action : result.actions) std::printf("%s: %s\n", table, action.c_str());
    if (result.outcome == hyl::RepairOutcome::kCannotWork) return fail(kExitUsage, o.table + ": " + result.why);
    if (result.outcome == hyl::RepairOutcome::kSound) {
        std::printf("%s: sound, nothing to mend (%s)\n", table, shape(result.after).c_str());
        return 0;
    }
    const bool mended_all = result.outcome == hyl::RepairOutcome::kMended;
    for (const hyl::Finding& f : result.after.findings) std::printf("%s: left as it is: %s\n", table, f.message.c_str());
    if (o.dry_run) {
        std::printf("%s: nothing changed (dry run)%s\n", table,
                    mended_all ? "; repair would leave it sound" : "; repair would leave the damage above");
    } else if (mended_all) {
        std::printf("%s: sound now (%s)\n", table, shape(result.after).c_str());
    } else {
        std::printf("%s: damage remains that repair does not mend (%s)\n", table, shape(result.after).c_str());
    }
    return mended_all ? 0 : kExitDamage;
}

}  // namespace

void add_check_commands(CLI::App& app) {
    auto check = std::make_shared<CheckOptions>();
    CLI::App* cmd = app.add_subcommand("check", "Read tables whole and report damage");
    cmd->footer(
        "Looks at the header, at where the records end against the count, at every value (text in\n"
        "the table's code page, memos in its memo file).\n"
        "Exit status: 0 sound, 1 damage found, 2 a table that cannot be read at all.");
    cmd->add_option("TABLE", check->tables, "the table files")->required();
    cmd->add_flag("--json", check->json, "print the findings as JSON");
    add_threads_option(cmd, check->threads);
    add_encoding_option(cmd, check->encoding);
    cmd->callback([check] { set_exit_status(run_check(*check)); });

    auto repair = std::make_shared<RepairOptions>();
    cmd = app.add_subcommand("repair", "Mend a damaged table where no guessing is needed");
    cmd->footer(
        "First settles what an edit or a pack cut short left beside TABLE: puts back the records\n"
        "TABLE.undo holds as they were before the edit (a torn TABLE.undo, left before the table\n"
        "changed, is removed), finishes a pack cut short between its renames, removes the new files\n"
        "of a pack cut short before them.  Then it changes only the header's record count (and a\n"
        "record length the file proves wrong) and the end of the file: counts the complete records an\n"
        "interrupted append left after the counted ones, lowers the count of a file that holds fewer,\n"
        "cuts off an incomplete record and ends the file with one 0x1A.  Before it changes the\n"
        "table's bytes it copies it to TABLE.bak.  A table another program holds for writing is refused.\n"
        "Exit status: 0 sound afterwards, 1 damage left that repair does not mend, 2 cannot work.");
    cmd->add_option("TABLE", repair->table, "the table file")->required();
    cmd->add_flag("--dry-run", repair->dry_run, "say what would be done; change nothing, make no backup");
    cmd->add_flag("--no-backup", repair->no_backup, "make no TABLE.bak");
    add_encoding_option(cmd, repair->encoding);
    cmd->callback([repair] { set_exit_status(run_repair(*repair)); });
}

}  // namespace hyltool
