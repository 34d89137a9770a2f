// Table commands: info, dump, import and append.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "hyl.h"
#include "platform/codepage.h"
#include "tools/tool.h"

namespace hyltool {

std::string to_utf8(const char* ansi) { return hyl::ansi_to_utf8(ansi ? ansi : ""); }

std::string csv_quote(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string out = "\"";
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::vector<std::vector<std::string>> csv_parse(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, any = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
            any = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            if (any || !field.empty()) {
                row.push_back(field);
                rows.push_back(row);
            }
            row.clear();
            field.clear();
            any = false;
        } else {
            field += c;
            any = true;
        }
    }
    if (any || !field.empty()) {
        row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "hyl: %s\n", message.c_str());
    return 2;
}

namespace {

// Characters, not bytes, so Cyrillic names line up.
int display_width(const std::string& utf8) {
    int width = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++width;
    return width;
}

bool is_numeric_type(const char* type) { return type && (type[0] == 'N' || type[0] == 'F'); }

int open_or_fail(const std::string& path) {
    if (!Hyl_OpenTableForRead(library_path(path).c_str())) {
        std::fprintf(stderr, "hyl: cannot open table %s\n", path.c_str());
        return 0;
    }
    return 1;
}

}  // namespace

int cmd_info(const Args& args) {
    if (args.size() != 1) return usage_error("usage: hyl info TABLE");
    if (!open_or_fail(args[0])) return 1;
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

int cmd_dump(const Args& args) {
    std::string path, date_field;
    bool csv = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--csv") csv = true;
        else if (args[i] == "--date" && i + 1 < args.size()) date_field = args[++i];
        else if (path.empty()) path = args[i];
        else return usage_error("usage: hyl dump TABLE [--csv] [--date FIELD]");
    }
    if (path.empty()) return usage_error("usage: hyl dump TABLE [--csv] [--date FIELD]");
    if (!open_or_fail(path)) return 1;
    const int fields = Hyl_GetQFields();
    const int records = Hyl_GetQRecords();
    std::vector<std::string> names;
    std::vector<bool> numeric;
    int date_index = -1;
    for (int f = 0; f < fields; ++f) {
        names.push_back(to_utf8(Hyl_GetFieldName(f)));
        numeric.push_back(is_numeric_type(Hyl_GetFieldType(f)));
        if (!date_field.empty() && names.back() == date_field) date_index = f;
    }
    if (!date_field.empty() && date_index < 0) {
        Hyl_CloseTable();
        return usage_error("no field named " + date_field);
    }
    if (csv) {
        for (int f = 0; f < fields; ++f) std::printf("%s%s", f ? "," : "", csv_quote(names[f]).c_str());
        std::printf("\n");
    }
    for (int r = 0; r < records; ++r) {
        if (!csv) std::printf("-- record %d\n", r);
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
            if (csv)
                std::printf("%s%s", f ? "," : "", csv_quote(value).c_str());
            else
                std::printf("%s%*s %s\n", names[f].c_str(), 11 - display_width(names[f]), "", value.c_str());
        }
        if (csv) std::printf("\n");
    }
    Hyl_CloseTable();
    return 0;
}

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

}  // namespace

int cmd_import(const Args& args) {
    if (args.size() != 2) return usage_error("usage: hyl import TABLE DATA.csv");
    std::vector<std::vector<std::string>> rows;
    if (!read_csv_file(args[1], rows)) return usage_error("cannot read " + args[1]);
    if (rows.empty()) return usage_error(args[1] + ": no header row");
    std::vector<Column> columns;
    for (const std::string& cell : rows[0]) {
        std::vector<std::string> parts = split_header_cell(cell);
        if (parts.size() < 3 || parts.size() > 4 || parts[1].size() != 1)
            return usage_error("bad column '" + cell + "': expected NAME:TYPE:LENGTH[:DECIMALS]");
        Column c;
        c.name = hyl::utf8_to_ansi(parts[0]);
        c.type = parts[1];
        c.length = std::atoi(parts[2].c_str());
        c.decimals = parts.size() == 4 ? std::atoi(parts[3].c_str()) : 0;
        c.field = static_cast<int>(columns.size());
        columns.push_back(c);
    }
    const std::string& table = args[0];
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
int cmd_append(const Args& args) {
    if (args.size() != 2) return usage_error("usage: hyl append TABLE DATA.csv");
    std::vector<std::vector<std::string>> rows;
    if (!read_csv_file(args[1], rows)) return usage_error("cannot read " + args[1]);
    if (rows.empty()) return usage_error(args[1] + ": no header row");
    const std::string& table = args[0];
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
            return usage_error(table + " has no field named '" + cell + "'");
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

}  // namespace hyltool
