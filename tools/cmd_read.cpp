// Reading tables: info (the shape of a table, its code page and memo file)
// and dump (every record), both through the whole-table reader.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tables/check.h"
#include "tables/snapshot.h"
#include "tables/split.h"
#include "tables/table.h"
#include "textime/dates.h"
#include "tools/progress.h"
#include "tools/tool.h"

namespace hyltool {
namespace {

// info and dump show the records the header counts, as a host sees them.
// When the end of the file disagrees with that count (an append cut short, a
// copy cut off) they say so, so that no record is left out without a word.
void warn_of_extent(const hyl::Snapshot& scan, const std::string& table) {
    const int64_t length = scan.record_length();
    if (length < 1) return;
    const int64_t counted = std::max(scan.record_count(), 0);
    const int64_t end = scan.record_position(counted);
    const std::string see = " (hyl check " + table + " tells more)";
    if (scan.file_length() < end) {
        const int64_t whole = std::max<int64_t>(scan.file_length() - scan.header_length(), 0) / length;
        std::fprintf(stderr, "hyl: warning: %s: the header counts %s but the file holds %s; what the file lacks shows blank%s\n",
                     table.c_str(), hyl::Words_Plural(counted, "record", "records").c_str(),
                     hyl::Words_Plural(whole, "whole record", "whole records").c_str(), see.c_str());
        return;
    }
    // One 0x1A after the records is the end marker many writers put there.
    const int64_t tail = scan.file_length() - end;
    uint8_t marker = 0;
    if (tail == 0 || (tail == 1 && scan.read(end, &marker, 1) && marker == 0x1A)) return;
    std::fprintf(stderr, "hyl: warning: %s: %s after the %s the header counts are not shown%s\n", table.c_str(),
                 hyl::Words_Plural(tail, "byte", "bytes").c_str(), hyl::Words_Plural(counted, "record", "records").c_str(),
                 see.c_str());
}

// Opens TABLE for reading as a whole, or says why it cannot be.
int open_table(hyl::TableReader& table, const std::string& path, const std::string& encoding) {
    hyl::ReaderOptions options;
    options.encoding = encoding;
    if (table.open(library_path(path), options) == hyl::ReaderStatus::kOpened) return 0;
    return fail(1, "cannot open table " + path + ": " + table.error());
}

int run_info(const std::string& path, const std::string& encoding) {
    hyl::TableReader table;
    if (int status = open_table(table, path, encoding)) return status;
    std::printf("records: %lld\nfields: %d\n", static_cast<long long>(table.record_count()), table.field_count());
    for (int f = 0; f < table.field_count(); ++f) {
        const hyl::TableField& field = table.fields()[static_cast<std::size_t>(f)];
        const std::string type = field.type > 0x20 && field.type < 0x7F ? std::string(1, field.type) : "?";
        std::printf("%3d  %s%*s %s %3d %d%s\n", f, field.name.c_str(), std::max(0, 11 - display_width(field.name)), "",
                    type.c_str(), field.length, field.decimals, field.nullable ? " null" : "");
    }
    std::printf("code page: %s\n", table.code_page().describe().c_str());
    if (table.has_memo_fields())
        std::printf("memo file: %s\n", table.memo() ? (table.memo()->path() + " (" + table.memo()->describe() + ")").c_str()
                                                    : "none found (.dbt or .fpt)");
    warn_of_extent(table.scan(), path);
    return 0;
}

struct DumpOptions {
    std::string table;
    bool csv = false;
    bool json = false;
    std::string date_field;
    std::string encoding;
    std::vector<std::string> fields;  // empty: every field
    int threads = 0;                  // 0: the machine's
};

// A value as text and CSV show it: N, F, D and L as stored (numbers without
// the blanks before them), the rest in plain words.
void append_text(std::string& out, const hyl::TableField& field, const hyl::Value& v) {
    if (field.type && std::strchr("NFDL", field.type)) {
        out += v.text;
        return;
    }
    switch (v.kind) {
        case hyl::ValueKind::kNull: return;
        case hyl::ValueKind::kBool: out += v.boolean ? 'T' : 'F'; return;
        case hyl::ValueKind::kInteger: out += std::to_string(v.integer); return;
        case hyl::ValueKind::kDouble: append_double(out, v.real); return;
        case hyl::ValueKind::kDecimal:
        case hyl::ValueKind::kString: out += v.text; return;
        case hyl::ValueKind::kDate: out += hyl::Date_Format(v.integer); return;
        case hyl::ValueKind::kDateTime: out += hyl::DateTime_Format(v.integer); return;
        case hyl::ValueKind::kBinary: out += "<binary, " + hyl::Words_Plural(v.integer, "byte>", "bytes>"); return;
    }
}

// What a script reads: JSON with each value typed.
void append_json(std::string& out, const hyl::Value& v) {
    switch (v.kind) {
        case hyl::ValueKind::kNull: out += "null"; return;
        case hyl::ValueKind::kBool: out += v.boolean ? "true" : "false"; return;
        case hyl::ValueKind::kInteger: out += std::to_string(v.integer); return;
        case hyl::ValueKind::kDouble:
            if (std::isfinite(v.real))
                append_double(out, v.real);
            else
                out += "null";
            return;
        case hyl::ValueKind::kDecimal: append_json_decimal(out, v.text); return;
        case hyl::ValueKind::kString: append_json_string(out, v.text); return;
        case hyl::ValueKind::kDate: out += '"' + hyl::Date_Format(v.integer) + '"'; return;
        case hyl::ValueKind::kDateTime: out += '"' + hyl::DateTime_Format(v.integer) + '"'; return;
        case hyl::ValueKind::kBinary: out += "{\"bytes\":" + std::to_string(v.integer) + "}"; return;
    }
}

// What a range of records comes to: its lines, and how many of its memos
// could not be read.
struct DumpSlot {
    std::string out;
    int64_t unread_memos = 0;
};

// Every record, read as one snapshot in large blocks, each value as the
// table's types and code page say.  A large table is cut into ranges of
// records that several threads turn into text at once (tables/split.h);
// the ranges are written in the order of the records as each is done, so
// the output is the one a single thread writes, and no more of it than a
// few ranges' is held at a time.
int run_dump(const DumpOptions& o) {
    if (o.csv && o.json) return usage_error("dump", "--csv and --json cannot be given together");
    hyl::TableReader table;
    if (int status = open_table(table, o.table, o.encoding)) return status;
    std::vector<int> shown;  // the fields shown: those --fields names, else all but _NullFlags
    if (o.fields.empty()) {
        for (int f = 0; f < table.field_count(); ++f)
            if (!table.fields()[static_cast<std::size_t>(f)].hidden) shown.push_back(f);
    }
    for (const std::string& name : o.fields) {
        const int f = table.find_field(name);
        if (f < 0) return usage_error("dump", "--fields: no field named " + name + " in " + o.table);
        if (std::find(shown.begin(), shown.end(), f) != shown.end())
            return usage_error("dump", "--fields: " + name + " is named twice");
        shown.push_back(f);
    }
    std::vector<std::string> names, keys;
    int date_index = -1;
    for (int f : shown) {
        const hyl::TableField& field = table.fields()[static_cast<std::size_t>(f)];
        names.push_back(field.name);
        std::string key = names.size() == 1 ? "{" : ",";
        append_json_string(key, field.name);
        keys.push_back(key + ":");
        if (!o.date_field.empty() && field.name == o.date_field) date_index = f;
    }
    if (!o.date_field.empty() && date_index < 0)
        return usage_error("dump", "no field named " + o.date_field + " in " + o.table +
                                       (o.fields.empty() ? "" : "'s fields that --fields names"));

    std::string head;
    if (o.csv) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (i) head += ',';
            csv_append(head, names[i]);
        }
        head += '\n';
    }
    std::fwrite(head.data(), 1, head.size(), stdout);
    // Text mode lines up the values after the names.
    std::vector<std::string> labels;
    for (const std::string& name : names)
        labels.push_back(name + std::string(static_cast<std::size_t>(std::max(0, 11 - display_width(name))), ' ') + ' ');

    const int64_t records = table.record_count();
    const hyl::RecordRanges ranges = hyl::Split_Ranges(table, 0, records);
    const int threads = hyl::Split_Threads(ranges, o.threads);
    std::vector<std::unique_ptr<hyl::TableCursor>> cursors;
    for (int t = 0; t < threads; ++t) cursors.push_back(std::make_unique<hyl::TableCursor>(table));
    std::vector<DumpSlot> slots(static_cast<std::size_t>(hyl::Split_Window(threads)));
    // The records of RANGE as text, in SLOT, read by WORKER's cursor.  What
    // changes with every value lives on the thread's own stack: slots side by
    // side would share their processor cache lines between threads.
    auto work = [&](int64_t range, int slot, int worker) {
        DumpSlot& s = slots[static_cast<std::size_t>(slot)];
        hyl::Value v;
        std::string value, out;
        out.swap(s.out);  // the slot's storage, kept from range to range
        out.clear();
        int64_t unread_memos = 0;
        auto one = [&](const hyl::RecordBatch& batch) {
            for (int64_t k = 0; k < batch.size(); ++k) {
                if (!o.csv && !o.json) out += "-- record " + std::to_string(batch.first() + k) + '\n';
                for (std::size_t i = 0; i < shown.size(); ++i) {
                    const int f = shown[i];
                    const hyl::ValueProblem problem = batch.value(k, f, v);
                    unread_memos += problem == hyl::ValueProblem::kMemoMissing ||
                                    problem == hyl::ValueProblem::kMemoPastEnd ||
                                    problem == hyl::ValueProblem::kMemoUnreadable;
                    if (o.json) {
                        out += keys[i];
                        append_json(out, v);
                        continue;
                    }
                    value.clear();
                    if (f == date_index)
                        value = format_local_date(hyl::Dt_DateFromFieldText(v.text.c_str()));
                    else
                        append_text(value, table.fields()[static_cast<std::size_t>(f)], v);
                    if (o.csv) {
                        if (i) out += ',';
                        csv_append(out, value);
                    } else {
                        out += labels[i];
                        out += value;
                        out += '\n';
                    }
                }
                if (o.json) {
                    if (shown.empty()) out += '{';
                    if (batch.deleted(k)) out += shown.empty() ? "\"_deleted\":true" : ",\"_deleted\":true";
                    out += "}\n";
                } else if (o.csv) {
                    out += '\n';
                }
            }
            return true;
        };
        const bool read = cursors[static_cast<std::size_t>(worker)]->for_each_batch(ranges.first_of(range),
                                                                                   ranges.end_of(range), one);
        s.out.swap(out);
        s.unread_memos = unread_memos;
        return read;
    };

    Progress progress("dump " + o.table);
    // The bar leaves the line before records go to the same terminal.
    const bool records_on_terminal = stdout_is_terminal();
    int64_t unread_memos = 0;
    // Each range's text, written as soon as it and those before it are done.
    auto done = [&](int64_t range, int slot) {
        DumpSlot& s = slots[static_cast<std::size_t>(slot)];
        if (records_on_terminal) progress.clear();
        std::fwrite(s.out.data(), 1, s.out.size(), stdout);
        unread_memos += s.unread_memos;
        progress.update(ranges.end_of(range), records);
        return true;
    };
    const bool read = hyl::Split_Run(ranges.count(), threads, work, done);
    progress.clear();
    std::fflush(stdout);
    if (!read) return fail(1, "cannot read " + o.table + " to its end");
    warn_of_extent(table.scan(), o.table);
    if (unread_memos)
        std::fprintf(stderr, "hyl: warning: %s: %s could not be read from the memo file and show blank (hyl check %s tells more)\n",
                     o.table.c_str(), hyl::Words_Plural(unread_memos, "memo", "memos").c_str(), o.table.c_str());
    return 0;
}

}  // namespace

void add_read_commands(CLI::App& app) {
    auto table = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* info = app.add_subcommand("info", "Show a table's record count, fields, code page and memo file");
    info->add_option("TABLE", table->first, "the table file")->required();
    add_encoding_option(info, table->second);
    info->callback([table] { set_exit_status(run_info(table->first, table->second)); });

    auto dump = std::make_shared<DumpOptions>();
    CLI::App* cmd = app.add_subcommand("dump", "Print every record of a table");
    cmd->add_option("TABLE", dump->table, "the table file")->required();
    cmd->add_flag("--csv", dump->csv, "print CSV with a header row of field names");
    cmd->add_flag("--json", dump->json, "print one JSON object a record (JSON Lines), each value typed");
    cmd->add_option("--date", dump->date_field, "show FIELD read as a local date (ISO 8601)")
        ->type_name("FIELD");
    cmd->add_option("--fields", dump->fields, "show only these fields, in this order (NAME,NAME,...)")
        ->delimiter(',')
        ->type_name("NAMES");
    add_threads_option(cmd, dump->threads);
    add_encoding_option(cmd, dump->encoding);
    cmd->callback([dump] { set_exit_status(run_dump(*dump)); });
}

}  // namespace hyltool
