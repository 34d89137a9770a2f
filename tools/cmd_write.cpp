// Writing tables: import (a new table from CSV) and append (CSV rows added
// to an existing table).  The whole CSV is checked first, the definitions by
// the rules of writing a table (writing/definition.h) and each value by its
// type's rule (tables/fieldtypes.h):
// with a problem anywhere the command says every one and writes nothing, so
// no table is left half imported.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "dbf/dbf.h"
#include "hyl.h"
#include "platform/codepage.h"
#include "tables/memo.h"
#include "tables/table.h"
#include "tools/input_problems.h"
#include "writing/definition.h"
#include "tools/tool.h"

namespace hyltool {

namespace {

constexpr std::size_t kProblemsShown = 20;

struct WriteOptions {
    std::string table, data;
    bool truncate = false;
    std::string encoding;  // import: the code page of the new table
};

// One CSV column and the table field it fills.
struct Column {
    hyl::TableField def;
    int field = 0;
};

// What the CSV holds, checked: the columns (none where the header cell was
// unsound) and every record as the table stores it, in code page 866.
struct CheckedData {
    std::vector<std::optional<Column>> columns;
    std::vector<std::vector<std::string>> records;  // by field number
    int cut = 0;
};

std::string column_label(std::size_t index) { return "column " + std::to_string(index + 1); }

// The CSV file read and split; false when it cannot be read.
bool load_csv(const std::string& data, CsvText* csv) {
    std::ifstream in(utf8_path(data), std::ios::binary);
    if (!in) return false;
    std::stringstream buffer;
    buffer << in.rdbuf();
    *csv = csv_read(buffer.str());
    return true;
}

// Quoting faults end the reading: nothing after them can be trusted.
void add_csv_error(const CsvText& csv, const std::vector<std::optional<Column>>& columns, InputProblems& problems) {
    const int row = static_cast<int>(csv.rows.size());
    std::string column = column_label(csv.error_column);
    if (row > 1 && csv.error_column < columns.size() && columns[csv.error_column])
        column += " (" + columns[csv.error_column]->def.name + ")";
    problems.add(row, csv.error_line, column, "malformed CSV: " + csv.error);
}

// Checks rows 2.. against the columns and keeps them as records of
// `field_count` fields.
void check_rows(const hyl::TextCodec& codec, const CsvText& csv, std::size_t field_count, bool truncate,
                CheckedData& data, InputProblems& problems) {
    const std::size_t last = csv.error.empty() ? csv.rows.size() : csv.rows.size() - 1;
    for (std::size_t r = 1; r < last; ++r) {
        const CsvRow& row = csv.rows[r];
        const int number = static_cast<int>(r) + 1;
        if (row.fields.size() != data.columns.size()) {
            problems.add(number, row.line, "",
                         std::to_string(row.fields.size()) + " values, the header names " +
                             std::to_string(data.columns.size()) + " columns");
            continue;
        }
        std::vector<std::string> record(field_count);
        for (std::size_t c = 0; c < data.columns.size(); ++c) {
            if (!data.columns[c]) continue;
            const Column& column = *data.columns[c];
            std::string problem;
            hyl::Value value;
            value.kind = hyl::ValueKind::kString;
            value.text = row.fields[c];
            hyl::FieldBytes stored;
            if (!hyl::Field_Write(column.def, value, codec, {truncate}, &stored, &problem))
                problems.add(number, row.line, "column " + column.def.name, problem);
            record[column.field] = std::move(stored.bytes);
            data.cut += stored.cut;
        }
        data.records.push_back(std::move(record));
    }
    if (!csv.error.empty()) add_csv_error(csv, data.columns, problems);
}

// Puts one record into the record being assembled.  Putting field 0 starts
// a new record, so it goes first, and never empty: an empty put would leave
// no buffer to append on the first row.
void put_record(const std::vector<std::string>& record) {
    Hyl_PutField(record.empty() || record[0].empty() ? " " : record[0].c_str(), 0);
    for (std::size_t f = 1; f < record.size(); ++f) Hyl_PutField(record[f].c_str(), static_cast<int>(f));
}

// Appends the records to the table open for appending, then closes it,
// which writes the header with the new record count.  The number appended,
// or -1 when an append failed.
int append_records(const std::string& table, const std::vector<std::vector<std::string>>& records) {
    int appended = 0;
    for (const auto& record : records) {
        put_record(record);
        if (!Hyl_AppendRecord()) {
            std::fprintf(stderr, "hyl: cannot append record %d to %s\n", appended, table.c_str());
            Hyl_CloseTable();
            return -1;
        }
        ++appended;
    }
    Hyl_CloseTable();
    return appended;
}

int refuse(const InputProblems& problems, const std::string& data, const std::string& outcome) {
    problems.print(kProblemsShown);
    return fail(1, std::to_string(problems.count()) + (problems.count() == 1 ? " problem" : " problems") + " in " +
                       data + "; nothing written: " + outcome);
}

void report_cut(const WriteOptions& o, int cut) {
    if (cut)
        std::fprintf(stderr, "hyl: %s: %d %s cut to the field's length (--truncate)\n", o.data.c_str(), cut,
                     cut == 1 ? "value" : "values");
}

// The header row of import: a field definition in every cell.
void check_definitions(const hyl::TextCodec& codec, const CsvRow& header, CheckedData& data, InputProblems& problems) {
    std::vector<hyl::TableField> fields;
    for (std::size_t c = 0; c < header.fields.size(); ++c) {
        hyl::TableField def;
        std::string problem;
        data.columns.emplace_back();
        if (!hyl::Definition_Parse(codec, header.fields[c], &def, &problem)) {
            problems.add(1, header.line, column_label(c), problem);
            continue;
        }
        for (std::size_t k = 0; k < c; ++k)
            if (data.columns[k] && hyl::Definition_SameName(data.columns[k]->def.name, def.name))
                problem = "field name '" + def.name + "' is repeated (" + column_label(k) + " has it)";
        if (!problem.empty()) {
            problems.add(1, header.line, column_label(c), problem);
            continue;
        }
        fields.push_back(def);
        data.columns.back() = Column{def, static_cast<int>(c)};
    }
    // Every header cell is a field, the ones refused above as well.
    fields.resize(std::max(fields.size(), header.fields.size()));
    for (const std::string& problem : hyl::Definition_CheckTable(fields)) problems.add(1, header.line, "", problem);
}

// A .cpg beside a table names its code page for GIS programs and for our
// reader: UTF-8 has no language byte, so a UTF-8 table needs one.  One that
// is there already is made to name the new table's code page.
bool write_cpg(const std::string& table, int codepage) {
    const std::filesystem::path cpg = utf8_path(hyl::Memo_Stem(table) + ".cpg");
    std::error_code ignored;
    if (codepage != hyl::kCodePageUtf8 && !std::filesystem::exists(cpg, ignored)) return true;
    std::ofstream out(cpg, std::ios::binary | std::ios::trunc);
    out << (codepage == hyl::kCodePageUtf8 ? std::string("UTF-8") : std::to_string(codepage)) << '\n';
    return static_cast<bool>(out);
}

int run_import(const WriteOptions& o) {
    hyl::TextCodec codec;
    codec.set(o.encoding.empty() ? 866 : hyl::CodePage_FromName(o.encoding));
    if (codec.multibyte())
        return usage_error("import", hyl::CodePage_Name(codec.codepage()) + ": the tool writes tables in single-byte code pages and UTF-8");
    CsvText csv;
    if (!load_csv(o.data, &csv)) return usage_error("import", "cannot read " + o.data);
    InputProblems problems(o.data);
    CheckedData data;
    if (csv.rows.empty()) {
        problems.add(1, 1, "", "no header row (NAME:TYPE:LENGTH[:DECIMALS] for each field)");
    } else if (csv.rows.size() == 1 && !csv.error.empty()) {
        add_csv_error(csv, data.columns, problems);
    } else {
        check_definitions(codec, csv.rows[0], data, problems);
        check_rows(codec, csv, data.columns.size(), o.truncate, data, problems);
    }
    if (!problems.empty()) {
        std::error_code ignored;
        const bool exists = std::filesystem::exists(utf8_path(o.table), ignored);
        return refuse(problems, o.data, o.table + (exists ? " is unchanged" : " was not made"));
    }

    const std::string path = library_path(o.table);
    if (!Hyl_CreateDbf(static_cast<int>(data.columns.size()), path.c_str()))
        return fail(1, "cannot create " + o.table);
    // The export marks every table it makes as 866 and stores names given
    // in 1251; a table in another code page has its names stored as they
    // are, and its own language byte, which the first field writes.
    const bool oem = codec.codepage() == 866;
    hyl::g_current_table.header[29] = hyl::CodePage_Language(codec.codepage());
    for (const auto& column : data.columns) {
        const hyl::TableField& f = column->def;
        std::string name;
        char32_t unused = 0;
        codec.encode(f.name, name, &unused);
        // The name was checked to hold only characters that survive the trip through 1251.
        const bool defined = oem ? Hyl_CreateNewField(column->field, f.length, hyl::utf8_to_ansi(f.name).c_str(),
                                                      std::string(1, f.type).c_str(), f.decimals)
                                 : hyl::Dbf_CreateNewField(hyl::g_current_table, column->field, name.c_str(), f.type,
                                                           f.length, f.decimals);
        if (!defined) return fail(1, "cannot define field " + std::to_string(column->field) + " of " + o.table);
    }
    if (!write_cpg(o.table, codec.codepage())) return fail(1, "cannot write " + hyl::Memo_Stem(o.table) + ".cpg");
    if (!Hyl_OpenTableForAppend(path.c_str())) return fail(1, "cannot open " + o.table + " for appending");
    const int appended = append_records(o.table, data.records);
    if (appended < 0) return 1;
    std::printf("%s: %zu fields, %d records\n", o.table.c_str(), data.columns.size(), appended);
    report_cut(o, data.cut);
    return 0;
}

// The fields of an existing table and its code page, read without opening
// it for writing.
bool read_fields(const std::string& table, std::vector<hyl::TableField>* fields, hyl::TextCodec* codec, std::string* why) {
    hyl::TableReader t;
    if (t.open(library_path(table)) != hyl::ReaderStatus::kOpened) {
        *why = t.error();
        return false;
    }
    *fields = t.fields();
    codec->set(t.codec().codepage());
    if (codec->multibyte()) {
        *why = "its text is in " + hyl::CodePage_Name(codec->codepage()) + ", which the tool does not write";
        return false;
    }
    return true;
}

// The header row of append: each cell names a field of the table (a
// NAME:TYPE:... cell counts by its name).
void check_names(const CsvRow& header, const std::string& table, const std::vector<hyl::TableField>& fields,
                 CheckedData& data, InputProblems& problems) {
    for (std::size_t c = 0; c < header.fields.size(); ++c) {
        const std::string name = header.fields[c].substr(0, header.fields[c].find(':'));
        data.columns.emplace_back();
        int found = -1;
        for (std::size_t f = 0; f < fields.size(); ++f)
            if (found < 0 && hyl::Definition_SameName(fields[f].name, name)) found = static_cast<int>(f);
        std::string problem;
        if (found < 0) {
            problem = table + " has no field '" + name + "'";
        } else if (std::string_view("CNFDL").find(fields[found].type) == std::string_view::npos) {
            problem = "field " + fields[found].name + " is of type " + std::string(1, fields[found].type) +
                      "; the tool fills C, N, F, D and L fields";
        } else {
            for (std::size_t k = 0; k < c; ++k)
                if (data.columns[k] && data.columns[k]->field == found)
                    problem = "field '" + name + "' is named twice (" + column_label(k) + " names it)";
        }
        if (!problem.empty()) {
            problems.add(1, header.line, column_label(c), problem);
            continue;
        }
        data.columns.back() = Column{fields[found], found};
    }
}

// The header row names the fields to fill, in any order; fields it leaves
// out stay blank.
int run_append(const WriteOptions& o) {
    CsvText csv;
    if (!load_csv(o.data, &csv)) return usage_error("append", "cannot read " + o.data);
    std::vector<hyl::TableField> fields;
    hyl::TextCodec codec;
    std::string why;
    if (!read_fields(o.table, &fields, &codec, &why)) return fail(1, "cannot open table " + o.table + ": " + why);
    InputProblems problems(o.data);
    CheckedData data;
    if (csv.rows.empty()) {
        problems.add(1, 1, "", "no header row (the names of the fields to fill)");
    } else if (csv.rows.size() == 1 && !csv.error.empty()) {
        add_csv_error(csv, data.columns, problems);
    } else {
        check_names(csv.rows[0], o.table, fields, data, problems);
        check_rows(codec, csv, fields.size(), o.truncate, data, problems);
    }
    if (!problems.empty()) return refuse(problems, o.data, o.table + " is unchanged");

    if (!Hyl_OpenTableForAppend(library_path(o.table).c_str()))
        return fail(1, "cannot open " + o.table + " for appending");
    const int appended = append_records(o.table, data.records);
    if (appended < 0) return 1;
    std::printf("%s: %d records appended\n", o.table.c_str(), appended);
    report_cut(o, data.cut);
    return 0;
}

}  // namespace

void add_write_commands(CLI::App& app) {
    const char* checked =
        "Every value is checked before anything is written: it must fit its field (C text in the\n"
        "table's code page and no longer than the field; N and F numbers with no more decimals than the field has;\n"
        "D as YYYYMMDD; L one of ? Y N T F; any may be empty).  With a problem anywhere nothing is\n"
        "written and each problem is listed by row and column.";
    auto import = std::make_shared<WriteOptions>();
    CLI::App* cmd = app.add_subcommand("import", "Create a table from UTF-8 CSV");
    cmd->footer(std::string("The header row names each field as NAME:TYPE:LENGTH[:DECIMALS]: a name of at most 11\n"
                            "characters, a type C, N, F, D or L.\n") +
                checked);
    cmd->add_option("TABLE", import->table, "the table to create (an existing file is replaced)")->required();
    cmd->add_option("DATA", import->data, "the CSV file")->required();
    cmd->add_flag("--truncate", import->truncate, "cut C values longer than their field, and say how many");
    add_encoding_option(cmd, import->encoding);
    cmd->get_option("--encoding")->description("make the table in code page NAME (default 866): its language byte, and for UTF-8 a .cpg");
    cmd->callback([import] { set_exit_status(run_import(*import)); });

    auto append = std::make_shared<WriteOptions>();
    cmd = app.add_subcommand("append", "Append UTF-8 CSV rows to a table");
    cmd->footer(std::string("The header row names the fields to fill, in any order; the others stay blank.\n") +
                checked);
    cmd->add_option("TABLE", append->table, "the table to append to")->required();
    cmd->add_option("DATA", append->data, "the CSV file")->required();
    cmd->add_flag("--truncate", append->truncate, "cut C values longer than their field, and say how many");
    cmd->callback([append] { set_exit_status(run_append(*append)); });
}

}  // namespace hyltool
