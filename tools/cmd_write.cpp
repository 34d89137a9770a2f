// Writing tables: import (a new table from CSV) and append (CSV rows added
// to an existing table).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "hyl.h"
#include "platform/codepage.h"
#include "tools/tool.h"

namespace hyltool {

namespace {

// One CSV column and the table field it fills.
struct Column {
    std::string name;  // Windows-1251
    std::string type;
    int length = 0;
    int decimals = 0;
    int field = 0;
};

bool read_csv_file(const std::string& path, std::vector<std::vector<std::string>>& rows) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream buffer;
    buffer << in.rdbuf();
    rows = csv_parse(buffer.str());
    return true;
}

std::vector<std::string> split_header_cell(const std::string& cell) {
    std::vector<std::string> parts;
    std::stringstream ss(cell);
    for (std::string part; std::getline(ss, part, ':');) parts.push_back(part);
    return parts;
}

// A value as the table stores it: code page 866, numbers right-aligned.
std::string stored_value(const Column& c, const std::string& utf8) {
    std::string oem = hyl::utf8_to_ansi(utf8);
    hyl::ansi_to_oem(oem.data());
    if ((c.type == "N" || c.type == "F") && static_cast<int>(oem.size()) < c.length)
        oem.insert(0, static_cast<std::size_t>(c.length) - oem.size(), ' ');
    return oem;
}

// Puts one CSV row into the record being assembled.  Putting field 0 starts
// a new record, so it goes first, and never empty: an empty put would leave
// no buffer to append on the first row.
void put_row(const std::vector<Column>& columns, const std::vector<std::string>& row) {
    std::string first = " ";
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i].field == 0 && i < row.size()) {
            std::string value = stored_value(columns[i], row[i]);
            if (!value.empty()) first = value;
        }
    Hyl_PutField(first.c_str(), 0);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].field == 0) continue;
        std::string value = stored_value(columns[i], i < row.size() ? row[i] : std::string());
        Hyl_PutField(value.c_str(), columns[i].field);
    }
}

// Appends rows 1.. to the table open for appending, then closes it, which
// writes the header with the new record count.  The number appended, or -1
// when an append failed.
int append_rows(const std::string& table, const std::vector<Column>& columns,
                const std::vector<std::vector<std::string>>& rows) {
    int appended = 0;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        put_row(columns, rows[r]);
        if (!Hyl_AppendRecord()) {
            std::fprintf(stderr, "hyl: cannot append record %zu to %s\n", r, table.c_str());
            Hyl_CloseTable();
            return -1;
        }
        ++appended;
    }
    Hyl_CloseTable();
    return appended;
}

int run_import(const std::string& table, const std::string& data) {
    std::vector<std::vector<std::string>> rows;
    if (!read_csv_file(data, rows)) return usage_error("import", "cannot read " + data);
    if (rows.empty()) return usage_error("import", data + ": no header row");
    std::vector<Column> columns;
    for (const std::string& cell : rows[0]) {
        std::vector<std::string> parts = split_header_cell(cell);
        if (parts.size() < 3 || parts.size() > 4 || parts[1].size() != 1)
            return usage_error("import", "bad column '" + cell + "': expected NAME:TYPE:LENGTH[:DECIMALS]");
        Column c;
        c.name = hyl::utf8_to_ansi(parts[0]);
        c.type = parts[1];
        c.length = std::atoi(parts[2].c_str());
        c.decimals = parts.size() == 4 ? std::atoi(parts[3].c_str()) : 0;
        c.field = static_cast<int>(columns.size());
        columns.push_back(c);
    }
    if (!Hyl_CreateDbf(static_cast<int>(columns.size()), library_path(table).c_str()))
        return std::fprintf(stderr, "hyl: cannot create %s\n", table.c_str()), 1;
    for (const Column& c : columns) {
        if (!Hyl_CreateNewField(c.field, c.length, c.name.c_str(), c.type.c_str(), c.decimals))
            return std::fprintf(stderr, "hyl: cannot define field %d of %s\n", c.field, table.c_str()), 1;
    }
    if (!Hyl_OpenTableForAppend(library_path(table).c_str()))
        return std::fprintf(stderr, "hyl: cannot open %s for appending\n", table.c_str()), 1;
    int appended = append_rows(table, columns, rows);
    if (appended < 0) return 1;
    std::printf("%s: %zu fields, %d records\n", table.c_str(), columns.size(), appended);
    return 0;
}

// The header row names the fields to fill, in any order (a NAME:TYPE:... cell
// counts by its name); fields it leaves out stay blank.  Values are stored in
// code page 866, as import stores them.
int run_append(const std::string& table, const std::string& data) {
    std::vector<std::vector<std::string>> rows;
    if (!read_csv_file(data, rows)) return usage_error("append", "cannot read " + data);
    if (rows.empty()) return usage_error("append", data + ": no header row");
    if (!Hyl_OpenTableForAppend(library_path(table).c_str()))
        return std::fprintf(stderr, "hyl: cannot open %s for appending\n", table.c_str()), 1;
    std::vector<Column> columns;
    for (const std::string& cell : rows[0]) {
        std::vector<std::string> parts = split_header_cell(cell);
        Column c;
        c.name = hyl::utf8_to_ansi(parts.empty() ? std::string() : parts[0]);
        c.field = -1;
        for (int f = 0; f < Hyl_GetQFields(); ++f)
            if (c.name == Hyl_GetFieldName(f)) c.field = f;
        if (c.field < 0) {
            Hyl_CloseTable();
            return usage_error("append", table + " has no field named '" + cell + "'");
        }
        c.type = Hyl_GetFieldType(c.field);
        c.length = Hyl_GetFieldLenth(c.field);
        c.decimals = Hyl_GetFieldQuolity(c.field);
        columns.push_back(c);
    }
    int appended = append_rows(table, columns, rows);
    if (appended < 0) return 1;
    std::printf("%s: %d records appended\n", table.c_str(), appended);
    return 0;
}

struct WriteOptions {
    std::string table, data;
};

}  // namespace

void add_write_commands(CLI::App& app) {
    auto import = std::make_shared<WriteOptions>();
    CLI::App* cmd = app.add_subcommand("import", "Create a table from UTF-8 CSV");
    cmd->footer("The header row names each field as NAME:TYPE:LENGTH[:DECIMALS].");
    cmd->add_option("TABLE", import->table, "the table to create (an existing file is replaced)")->required();
    cmd->add_option("DATA", import->data, "the CSV file")->required();
    cmd->callback([import] { set_exit_status(run_import(import->table, import->data)); });

    auto append = std::make_shared<WriteOptions>();
    cmd = app.add_subcommand("append", "Append UTF-8 CSV rows to a table");
    cmd->footer("The header row names the fields to fill, in any order; the others stay blank.");
    cmd->add_option("TABLE", append->table, "the table to append to")->required();
    cmd->add_option("DATA", append->data, "the CSV file")->required();
    cmd->callback([append] { set_exit_status(run_append(append->table, append->data)); });
}

}  // namespace hyltool
