// Reading tables: info (the shape of a table) and dump (every record).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "hyl.h"
#include "tools/tool.h"

namespace hyltool {
namespace {

bool is_numeric_type(const char* type) { return type && (type[0] == 'N' || type[0] == 'F'); }

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
    return 0;
}

struct DumpOptions {
    std::string table;
    bool csv = false;
    std::string date_field;
};

int run_dump(const DumpOptions& o) {
    if (int status = open_or_fail(o.table)) return status;
    const int fields = Hyl_GetQFields();
    const int records = Hyl_GetQRecords();
    std::vector<std::string> names;
    std::vector<bool> numeric;
    int date_index = -1;
    for (int f = 0; f < fields; ++f) {
        names.push_back(to_utf8(Hyl_GetFieldName(f)));
        numeric.push_back(is_numeric_type(Hyl_GetFieldType(f)));
        if (!o.date_field.empty() && names.back() == o.date_field) date_index = f;
    }
    if (!o.date_field.empty() && date_index < 0) {
        Hyl_CloseTable();
        return usage_error("dump", "no field named " + o.date_field + " in " + o.table);
    }
    if (o.csv) {
        for (int f = 0; f < fields; ++f) std::printf("%s%s", f ? "," : "", csv_quote(names[f]).c_str());
        std::printf("\n");
    }
    for (int r = 0; r < records; ++r) {
        if (!o.csv) std::printf("-- record %d\n", r);
        for (int f = 0; f < fields; ++f) {
            std::string value;
            if (f == date_index) {
                value = format_local_date(Hyl_GetFieldDate(r, f));
            } else {
                value = to_utf8(Hyl_GetFieldText(r, f));
                // Numbers are stored right-aligned; the blanks before them are layout.
                if (numeric[f]) value.erase(0, value.find_first_not_of(' ') == std::string::npos
                                                    ? value.size()
                                                    : value.find_first_not_of(' '));
            }
            if (o.csv)
                std::printf("%s%s", f ? "," : "", csv_quote(value).c_str());
            else
                std::printf("%s%*s %s\n", names[f].c_str(), 11 - display_width(names[f]), "", value.c_str());
        }
        if (o.csv) std::printf("\n");
    }
    Hyl_CloseTable();
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
