// Reading tables: info (the shape of a table, through the exports) and dump
// (every record, through the whole-table scanner).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_check.h"
#include "dbf/dbf_scan.h"
#include "hyl.h"
#include "platform/codepage.h"
#include "textime/dates.h"
#include "tools/progress.h"
#include "tools/tool.h"

namespace hyltool {
namespace {

// info and dump show the records the header counts, as a host sees them.
// When the end of the file disagrees with that count (an append cut short, a
// copy cut off) they say so, so that no record is left out without a word.
void warn_of_extent(const hyl::DbfScan& scan, const std::string& table) {
    const int64_t length = scan.record_length();
    if (length < 1) return;
    const int64_t counted = std::max(scan.record_count(), 0);
    const int64_t end = scan.record_position(counted);
    const std::string see = " (hyl check " + table + " tells more)";
    if (scan.file_length() < end) {
        const int64_t whole = std::max<int64_t>(scan.file_length() - scan.header_length(), 0) / length;
        std::fprintf(stderr, "hyl: warning: %s: the header counts %s but the file holds %s; what the file lacks shows blank%s\n",
                     table.c_str(), hyl::Dbf_Plural(counted, "record", "records").c_str(),
                     hyl::Dbf_Plural(whole, "whole record", "whole records").c_str(), see.c_str());
        return;
    }
    // One 0x1A after the records is the end marker many writers put there.
    const int64_t tail = scan.file_length() - end;
    uint8_t marker = 0;
    if (tail == 0 || (tail == 1 && scan.read(end, &marker, 1) && marker == 0x1A)) return;
    std::fprintf(stderr, "hyl: warning: %s: %s after the %s the header counts are not shown%s\n", table.c_str(),
                 hyl::Dbf_Plural(tail, "byte", "bytes").c_str(), hyl::Dbf_Plural(counted, "record", "records").c_str(),
                 see.c_str());
}

int open_or_fail(const std::string& path) {
    if (!Hyl_OpenTableForRead(library_path(path).c_str())) return fail(1, "cannot open table " + path);
    return 0;
}

int run_info(const std::string& path) {
    if (int status = open_or_fail(path)) return status;
    int fields = Hyl_GetQFields();
    std::printf("records: %d\nfields: %d\n", Hyl_GetQRecords(), fields);
    for (int f = 0; f < fields; ++f) {
        std::string name = to_utf8(Hyl_GetFieldName(f));
        std::string type = Hyl_GetFieldType(f);
        std::printf("%3d  %s%*s %s %3d %d\n", f, name.c_str(), 11 - display_width(name), "", type.c_str(),
                    Hyl_GetFieldLenth(f), Hyl_GetFieldQuolity(f));
    }
    Hyl_CloseTable();
    hyl::DbfScan scan;
    if (scan.open(library_path(path).c_str(), false) == hyl::DbfScanStatus::kOpened) warn_of_extent(scan, path);
    return 0;
}

struct DumpOptions {
    std::string table;
    bool csv = false;
    std::string date_field;
};

// Windows-1251 bytes to UTF-8, one table lookup a byte.
class Utf8Table {
public:
    Utf8Table() {
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            const std::string u = hyl::ansi_to_utf8(std::string_view(&c, 1));
            length_[b] = static_cast<uint8_t>(u.size());
            for (std::size_t i = 0; i < u.size(); ++i) bytes_[b][i] = u[i];
        }
    }
    void append(std::string& out, std::string_view ansi) const {
        for (char c : ansi) {
            const auto b = static_cast<uint8_t>(c);
            out.append(bytes_[b], length_[b]);
        }
    }

private:
    char bytes_[256][4] = {};
    uint8_t length_[256] = {};
};

// Every record, read as one snapshot in large blocks; each field's text is
// what the field-text export gives for it, so the output is the same as
// reading the table field by field.
int run_dump(const DumpOptions& o) {
    hyl::DbfScan scan;
    const hyl::DbfScanStatus status = scan.open(library_path(o.table).c_str(), false);
    if (status != hyl::DbfScanStatus::kOpened) return fail(1, "cannot open table " + o.table);
    const int fields = static_cast<int>(scan.fields().size());
    std::vector<std::string> names;
    std::vector<bool> numeric;
    int date_index = -1;
    for (int f = 0; f < fields; ++f) {
        names.push_back(to_utf8(scan.field_name(f).c_str()));
        const char type = scan.fields()[static_cast<std::size_t>(f)].type;
        numeric.push_back(type == 'N' || type == 'F');
        if (!o.date_field.empty() && names.back() == o.date_field) date_index = f;
    }
    if (!o.date_field.empty() && date_index < 0)
        return usage_error("dump", "no field named " + o.date_field + " in " + o.table);

    static const Utf8Table utf8;
    std::string out;
    auto flush = [&] {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    };
    if (o.csv) {
        for (int f = 0; f < fields; ++f) {
            if (f) out += ',';
            csv_append(out, names[f]);
        }
        out += '\n';
    }
    // Text mode lines up the values after the names.
    std::vector<std::string> labels;
    for (const std::string& name : names)
        labels.push_back(name + std::string(static_cast<std::size_t>(std::max(0, 11 - display_width(name))), ' ') + ' ');

    Progress progress("dump " + o.table);
    // The bar leaves the line before records go to the same terminal.
    const bool records_on_terminal = stdout_is_terminal();
    const int64_t records = std::max(scan.record_count(), 0);
    char text[256];
    std::string value;
    const bool ok = scan.for_each_block(0, records, [&](int64_t first, int64_t count, const uint8_t* bytes) {
        for (int64_t k = 0; k < count; ++k) {
            const uint8_t* record = bytes + k * scan.record_length();
            if (!o.csv) out += "-- record " + std::to_string(first + k) + '\n';
            for (int f = 0; f < fields; ++f) {
                const int32_t n = scan.field_text(record, f, text);
                value.clear();
                if (f == date_index) {
                    value = format_local_date(hyl::Dt_DateFromFieldText(text));
                } else {
                    std::string_view ansi(text, static_cast<std::size_t>(n));
                    // Numbers are stored right-aligned; the blanks before them are layout.
                    if (numeric[f]) ansi.remove_prefix(std::min(ansi.find_first_not_of(' '), ansi.size()));
                    utf8.append(value, ansi);
                }
                if (o.csv) {
                    if (f) out += ',';
                    csv_append(out, value);
                } else {
                    out += labels[f];
                    out += value;
                    out += '\n';
                }
            }
            if (o.csv) out += '\n';
        }
        progress.update(first + count, records);
        if (out.size() > (1 << 20)) {
            if (records_on_terminal) progress.clear();
            flush();
        }
        return true;
    });
    progress.clear();
    flush();
    std::fflush(stdout);
    if (!ok) return fail(1, "cannot read " + o.table + " to its end");
    warn_of_extent(scan, o.table);
    return 0;
}

}  // namespace

void add_read_commands(CLI::App& app) {
    auto table = std::make_shared<std::string>();
    CLI::App* info = app.add_subcommand("info", "Show a table's record count, field count and fields");
    info->add_option("TABLE", *table, "the table file")->required();
    info->callback([table] { set_exit_status(run_info(*table)); });

    auto dump = std::make_shared<DumpOptions>();
    CLI::App* cmd = app.add_subcommand("dump", "Print every record of a table");
    cmd->add_option("TABLE", dump->table, "the table file")->required();
    cmd->add_flag("--csv", dump->csv, "print CSV with a header row of field names");
    cmd->add_option("--date", dump->date_field, "show FIELD read as a local date (ISO 8601)")
        ->type_name("FIELD");
    cmd->callback([dump] { set_exit_status(run_dump(*dump)); });
}

}  // namespace hyltool
