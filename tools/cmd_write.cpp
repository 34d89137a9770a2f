// Writing tables from CSV: import (a new table), append (records added) and
// update (values of records changed in place), all through the one writer
// of tables (writing/table_writer.h), which has what it wrote on the disk
// before the command says it is done.  The whole CSV is checked first, the
// definitions by the rules of writing a table (writing/definition.h) and
// each value by its type's rule (tables/fieldtypes.h): with a problem
// anywhere the command says every one and writes nothing, so no table is
// left half imported or half changed.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tables/check.h"
#include "tables/table.h"
#include "tools/input_problems.h"
#include "tools/tool.h"
#include "writing/definition.h"
#include "writing/table_writer.h"

namespace hyltool {

namespace {

constexpr std::size_t kProblemsShown = 20;
constexpr int kRecordColumn = -1;  // update's RECORD column, which names the record a row changes

struct WriteOptions {
    std::string table, data;
    bool truncate = false;
    bool drop_index = false;
    std::string encoding;  // import: the code page of the new table
    std::string format = "dbase3";
    int64_t memo_block_size = 0;
};

// One CSV column and the table field it fills.
struct Column {
    hyl::TableField def;
    int field = 0;  // or kRecordColumn
};

// What the CSV holds, checked: the columns (none where the header cell was
// unsound) and each row's values, one a column.
struct CheckedData {
    std::vector<std::optional<Column>> columns;
    std::vector<std::vector<hyl::Value>> rows;
    std::vector<int> lines;         // where each row begins in the file
    std::vector<int64_t> records;   // update: the record each row changes
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

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A CSV value as the writer takes it for field F: empty is no value (null
// where F may be null); the bytes of a binary field in hexadecimal
// (0x0102FF); anything else is text, which the field's rule reads.
bool csv_value(const hyl::TableField& f, const std::string& text, hyl::Value* v, std::string* problem) {
    v->text.clear();
    if (text.empty()) {
        v->kind = hyl::ValueKind::kNull;
        return true;
    }
    if (!f.binary) {
        v->kind = hyl::ValueKind::kString;
        v->text = text;
        return true;
    }
    v->kind = hyl::ValueKind::kBinary;
    bool hex = text.size() % 2 == 0 && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0);
    for (std::size_t i = 2; hex && i < text.size(); i += 2) {
        const int high = hex_digit(text[i]), low = hex_digit(text[i + 1]);
        hex = high >= 0 && low >= 0;
        v->text += static_cast<char>(high * 16 + low);
    }
    v->integer = static_cast<int64_t>(v->text.size());
    if (!hex) *problem = hyl::Text_Quoted(text) + " is not bytes in hexadecimal (0x0102FF)";
    return hex;
}

// A record number of update's RECORD column: digits, counting from 0.
bool record_number(const std::string& text, int64_t* record) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *record = std::stoll(text);
    return true;
}

// Checks rows 2.. against the columns and keeps their values.  RECORDS is
// the table's record count where a RECORD column names records.
void check_rows(const hyl::TextCodec& codec, const CsvText& csv, bool truncate, int64_t records, CheckedData& data,
                InputProblems& problems) {
    const std::size_t last = csv.error.empty() ? csv.rows.size() : csv.rows.size() - 1;
    std::map<int64_t, int> named;  // record -> the row that names it
    hyl::FieldBytes stored;
    for (std::size_t r = 1; r < last; ++r) {
        const CsvRow& row = csv.rows[r];
        const int number = static_cast<int>(r) + 1;
        if (row.fields.size() != data.columns.size()) {
            problems.add(number, row.line, "",
                         std::to_string(row.fields.size()) + " values, the header names " +
                             std::to_string(data.columns.size()) + " columns");
            continue;
        }
        std::vector<hyl::Value> values(data.columns.size());
        int64_t record = -1;
        for (std::size_t c = 0; c < data.columns.size(); ++c) {
            if (!data.columns[c]) continue;
            const Column& column = *data.columns[c];
            const std::string& text = row.fields[c];
            std::string problem;
            if (column.field == kRecordColumn) {
                if (!record_number(text, &record))
                    problem = hyl::Text_Quoted(text) + " is not a record number (0, 1, 2, ... as dump numbers them)";
                else if (record >= records)
                    problem = "record " + std::to_string(record) + " is not in the table (it has " +
                              hyl::Words_Plural(records, "record", "records") + ")";
                else if (const auto [at, first] = named.emplace(record, number); !first)
                    problem = "record " + std::to_string(record) + " is named twice (row " + std::to_string(at->second) +
                              " names it)";
            } else if (csv_value(column.def, text, &values[c], &problem) &&
                       hyl::Field_Write(column.def, values[c], codec, {truncate}, &stored, &problem)) {
                data.cut += stored.cut;
            }
            if (!problem.empty()) problems.add(number, row.line, "column " + column.def.name, problem);
        }
        data.rows.push_back(std::move(values));
        data.lines.push_back(row.line);
        data.records.push_back(record);
    }
    if (!csv.error.empty()) add_csv_error(csv, data.columns, problems);
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
void check_definitions(const hyl::TextCodec& codec, hyl::TableFormat format, const CsvRow& header, CheckedData& data,
                       InputProblems& problems) {
    std::vector<hyl::TableField> fields;
    for (std::size_t c = 0; c < header.fields.size(); ++c) {
        hyl::TableField def;
        std::string problem;
        data.columns.emplace_back();
        if (!hyl::Definition_Parse(codec, format, header.fields[c], &def, &problem)) {
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
    for (const std::string& problem : hyl::Definition_CheckTable(format, fields)) problems.add(1, header.line, "", problem);
}

// Whether the writer writes a field of an existing table: not dBASE 7's
// types (its tables are read, not written), nor Visual FoxPro's _NullFlags,
// which follows from the values.
bool writable(const hyl::TableField& f) {
    switch (f.rule) {
        case hyl::FieldRule::kDbase7Integer:
        case hyl::FieldRule::kDbase7Double:
        case hyl::FieldRule::kDbase7Timestamp:
        case hyl::FieldRule::kNullFlags: return false;
        default: return !f.hidden;
    }
}

// The header row of append and update: each cell names a field of the table
// (a NAME:TYPE:... cell counts by its name); update's names RECORD too.
void check_names(const CsvRow& header, const std::string& table, const std::vector<hyl::TableField>& fields, bool update,
                 CheckedData& data, InputProblems& problems) {
    int record_column = -1;
    for (std::size_t c = 0; c < header.fields.size(); ++c) {
        const std::string name = header.fields[c].substr(0, header.fields[c].find(':'));
        data.columns.emplace_back();
        if (update && hyl::Definition_SameName(name, "RECORD")) {
            if (record_column >= 0)
                problems.add(1, header.line, column_label(c),
                             "RECORD is named twice (" + column_label(static_cast<std::size_t>(record_column)) + " names it)");
            record_column = static_cast<int>(c);
            hyl::TableField label;
            label.name = "RECORD";
            data.columns.back() = Column{label, kRecordColumn};
            continue;
        }
        int found = -1;
        for (std::size_t f = 0; f < fields.size(); ++f)
            if (found < 0 && !fields[f].hidden && hyl::Definition_SameName(fields[f].name, name)) found = static_cast<int>(f);
        std::string problem;
        if (found < 0) {
            problem = table + " has no field '" + name + "'";
        } else if (!writable(fields[found])) {
            problem = "field " + fields[found].name + " is of type " + std::string(1, fields[found].type) +
                      ", which the tool does not write";
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
    if (update && record_column < 0)
        problems.add(1, header.line, "",
                     "no RECORD column: it names the record each row changes (counting from 0, as dump numbers them)");
}

// Record drafts from the checked rows: new records, or (update) the records
// the rows name with the values given.  False, with the problems the
// writer found, when one does not make a record.
bool draft_rows(hyl::TableWriter& writer, const CheckedData& data, bool update, bool truncate,
                std::vector<hyl::RecordDraft>* drafts, InputProblems& problems) {
    std::vector<hyl::FieldProblem> found;
    std::vector<const hyl::Value*> values;
    std::vector<std::pair<int32_t, const hyl::Value*>> changes;
    drafts->resize(data.rows.size());
    for (std::size_t r = 0; r < data.rows.size(); ++r) {
        values.assign(writer.fields().size(), nullptr);
        changes.clear();
        for (std::size_t c = 0; c < data.columns.size(); ++c) {
            if (!data.columns[c] || data.columns[c]->field == kRecordColumn) continue;
            const auto field = static_cast<std::size_t>(data.columns[c]->field);
            if (field < values.size()) values[field] = &data.rows[r][c];
            changes.emplace_back(static_cast<int32_t>(field), &data.rows[r][c]);
        }
        found.clear();
        const bool made = update ? writer.draft_change(data.records[r], changes, {truncate}, &(*drafts)[r], &found)
                                 : writer.draft(values, {truncate}, &(*drafts)[r], &found);
        for (const hyl::FieldProblem& p : found) {
            const bool named = p.field >= 0 && p.field < static_cast<int32_t>(writer.fields().size());
            problems.add(static_cast<int>(r) + 2, data.lines[r],
                         named ? "column " + writer.fields()[static_cast<std::size_t>(p.field)].name : "", p.what);
        }
        if (!made && found.empty()) problems.add(static_cast<int>(r) + 2, data.lines[r], "", "cannot be made a record");
    }
    return problems.empty();
}

bool format_of(const std::string& name, hyl::TableFormat* format) {
    static const std::map<std::string, hyl::TableFormat> kFormats = {{"dbase3", hyl::TableFormat::kDbase3},
                                                                     {"dbase4", hyl::TableFormat::kDbase4},
                                                                     {"foxpro", hyl::TableFormat::kFoxPro},
                                                                     {"vfp", hyl::TableFormat::kVisualFoxPro}};
    const auto found = kFormats.find(name);
    if (found == kFormats.end()) return false;
    *format = found->second;
    return true;
}

// What a memo file of FORMAT cannot have as its block size; empty when it can.
std::string block_size_problem(hyl::TableFormat format, int64_t size) {
    if (size == 0) return "";
    switch (format) {
        case hyl::TableFormat::kDbase3:
            return size == 512 ? "" : "a dBASE III memo file has blocks of 512 bytes";
        case hyl::TableFormat::kDbase4:
            return size % 512 == 0 && size >= 512 && size <= 16384 ? ""
                                                                    : "a dBASE IV memo file has blocks of 512 bytes times 1 to 32";
        default:
            return (size >= 33 && size <= 511) || (size % 512 == 0 && size >= 512 && size <= 16384)
                       ? ""
                       : std::string("a ") + hyl::Format_Name(format) +
                             " memo file has blocks of 33 to 511 bytes, or 512 bytes times 1 to 32";
    }
}

int run_import(const WriteOptions& o) {
    hyl::TableFormat format = hyl::TableFormat::kDbase3;
    if (!format_of(o.format, &format)) return usage_error("import", "--format " + o.format + ": one of dbase3, dbase4, foxpro, vfp");
    if (const std::string problem = block_size_problem(format, o.memo_block_size); !problem.empty())
        return usage_error("import", "--memo-block-size " + std::to_string(o.memo_block_size) + ": " + problem);
    hyl::TextCodec codec;
    codec.set(o.encoding.empty() ? 866 : hyl::CodePage_FromName(o.encoding));
    CsvText csv;
    if (!load_csv(o.data, &csv)) return usage_error("import", "cannot read " + o.data);
    InputProblems problems(o.data);
    CheckedData data;
    if (csv.rows.empty()) {
        problems.add(1, 1, "", "no header row (NAME:TYPE[:LENGTH[:DECIMALS]][:NULL] for each field)");
    } else if (csv.rows.size() == 1 && !csv.error.empty()) {
        add_csv_error(csv, data.columns, problems);
    } else {
        check_definitions(codec, format, csv.rows[0], data, problems);
        check_rows(codec, csv, o.truncate, 0, data, problems);
    }
    if (!problems.empty()) {
        std::error_code ignored;
        const bool exists = std::filesystem::exists(utf8_path(o.table), ignored);
        return refuse(problems, o.data, o.table + (exists ? " is unchanged" : " was not made"));
    }

    hyl::NewTable table;
    table.format = format;
    table.codepage = codec.codepage();
    table.memo_block_size = o.memo_block_size;
    for (const auto& column : data.columns) table.fields.push_back(column->def);
    const std::string path = library_path(o.table);
    if (const hyl::WriteOutcome made = hyl::TableWriter::create(path, table); !made.ok())
        return fail(1, "cannot create " + o.table + ": " + made.why);
    hyl::TableWriter writer;
    hyl::WriterOptions options;
    options.encoding = std::to_string(codec.codepage());
    if (const hyl::WriteOutcome opened = writer.open(path, options); !opened.ok())
        return fail(1, "cannot write the records of " + o.table + ": " + opened.why);
    std::vector<hyl::RecordDraft> drafts;
    if (!draft_rows(writer, data, false, o.truncate, &drafts, problems)) return refuse(problems, o.data, o.table + " is empty");
    if (const hyl::WriteOutcome written = writer.append(drafts); !written.ok())
        return fail(1, "cannot write the records of " + o.table + ": " + written.why);
    writer.close();
    std::printf("%s: %s, %s\n", o.table.c_str(), hyl::Words_Plural(static_cast<int64_t>(data.columns.size()), "field", "fields").c_str(),
                hyl::Words_Plural(static_cast<int64_t>(drafts.size()), "record", "records").c_str());
    report_cut(o, data.cut);
    return 0;
}

// Append and update: the CSV checked against the table as it is, read
// without holding it, then the table opened for writing (a production
// index flag cleared only then, with --drop-index), the records drafted
// and written.
int run_change(const WriteOptions& o, bool update) {
    const char* command = update ? "update" : "append";
    CsvText csv;
    if (!load_csv(o.data, &csv)) return usage_error(command, "cannot read " + o.data);
    const std::string path = library_path(o.table);
    std::vector<hyl::TableField> fields;
    hyl::TextCodec codec;
    int64_t records = 0;
    {
        hyl::TableReader t;
        if (t.open(path) != hyl::ReaderStatus::kOpened) return fail(1, "cannot open table " + o.table + ": " + t.error());
        fields = t.fields();
        codec.set(t.codec().codepage());
        records = t.record_count();
    }
    InputProblems problems(o.data);
    CheckedData data;
    if (csv.rows.empty()) {
        problems.add(1, 1, "", update ? "no header row (RECORD and the names of the fields to change)"
                                      : "no header row (the names of the fields to fill)");
    } else if (csv.rows.size() == 1 && !csv.error.empty()) {
        add_csv_error(csv, data.columns, problems);
    } else {
        check_names(csv.rows[0], o.table, fields, update, data, problems);
        check_rows(codec, csv, o.truncate, records, data, problems);
    }
    if (!problems.empty()) return refuse(problems, o.data, o.table + " is unchanged");

    hyl::TableWriter writer;
    hyl::WriterOptions options;
    options.drop_index = o.drop_index;
    const std::string verb = update ? "cannot update " : "cannot append to ";
    if (const hyl::WriteOutcome opened = writer.open(path, options); !opened.ok())
        return fail(1, verb + o.table + ": " + opened.why);
    say_notice(o.table, writer.notice());
    std::vector<hyl::RecordDraft> drafts;
    if (!draft_rows(writer, data, update, o.truncate, &drafts, problems))
        return refuse(problems, o.data, o.table + " is unchanged");
    const hyl::WriteOutcome written = update ? writer.update(drafts) : writer.append(drafts);
    if (!written.ok()) return fail(1, verb + o.table + ": " + written.why);
    writer.close();
    if (update)
        std::printf("%s: %s changed\n", o.table.c_str(),
                    hyl::Words_Plural(static_cast<int64_t>(drafts.size()), "record", "records").c_str());
    else
        std::printf("%s: %s appended\n", o.table.c_str(),
                    hyl::Words_Plural(static_cast<int64_t>(drafts.size()), "record", "records").c_str());
    report_cut(o, data.cut);
    return 0;
}

}  // namespace

void say_notice(const std::string& table, const std::string& notice) {
    if (!notice.empty()) std::fprintf(stderr, "hyl: %s: %s\n", table.c_str(), notice.c_str());
}

void add_drop_index_flag(CLI::App* command, bool& drop_index) {
    command->add_flag("--drop-index", drop_index,
                      "write to a table that has a production index (.mdx, .cdx): clear the table's index flag and "
                      "leave the index file as it is, no longer matching");
}

const char* kWriteRefusals =
    "A table whose header says it has a production index (.mdx, .cdx) is refused, since its\n"
    "index would no longer match it; --drop-index clears the flag, leaves the index file where\n"
    "it is, and says so.  A table another program is writing is refused (exit 1).";

void add_write_commands(CLI::App& app) {
    const char* checked =
        "Every value is checked before anything is written, each by its field's type: C and V text in\n"
        "the table's code page, no longer than the field; N and F numbers with no more decimals than\n"
        "the field has; D a date YYYYMMDD; L one of ? Y N T F; M text of any length (line breaks\n"
        "allowed, in quotes); I a whole number; B a number; Y a number with up to 4 decimals;\n"
        "T YYYY-MM-DDTHH:MM:SS[.fff] (a blank for the T, or just YYYY-MM-DD); Q and G bytes in\n"
        "hexadecimal (0x0102FF).  An empty value is none (null, where the field may be null).\n"
        "With a problem anywhere nothing is written and each problem is listed by row and column.";
    auto import = std::make_shared<WriteOptions>();
    CLI::App* cmd = app.add_subcommand("import", "Create a table from UTF-8 CSV");
    cmd->footer(std::string(
                    "The header row defines each field as NAME:TYPE[:LENGTH[:DECIMALS]][:NULL]:\n"
                    "  NAME:C:20,QTY:N:8:2,WHEN:D,OK:L,NOTE:M                   every format\n"
                    "  ID:I,RATE:B,PRICE:Y,STAMP:T,TAG:V:30,RAW:Q:16,PIC:G       --format vfp\n"
                    "  REMARK:C:20:NULL,QTY:N:8:2:NULL                           --format vfp: may be null\n"
                    "A name has at most 11 characters (10 outside dBASE III).  C (1 to 254), N and F (1 to 20,\n"
                    "DECIMALS leaving room for a digit and the point), V and Q (1 to 254) need their LENGTH;\n"
                    "D L M G I B Y T have one.  I, B, Y, T, V, Q, G and NULL are Visual FoxPro's.\n\n") +
                checked +
                "\n\nhyl dump gives the values back as they were written; Q and G it shows as their length\n"
                "(<binary, 3 bytes>, with --json {\"bytes\": 3}), not as their bytes.");
    cmd->add_option("TABLE", import->table, "the table to create (an existing file is replaced)")->required();
    cmd->add_option("DATA", import->data, "the CSV file")->required();
    cmd->add_option("--format", import->format,
                    "dbase3 (the default: 0x03, 0x83 with a .dbt), dbase4 (0x8B with a .dbt), foxpro (0xF5 with an "
                    ".fpt) or vfp (Visual FoxPro: 0x30 with an .fpt)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"dbase3", "dbase4", "foxpro", "vfp"}));
    cmd->add_flag("--truncate", import->truncate, "cut C and V values longer than their field, and say how many");
    add_encoding_option(cmd, import->encoding);
    cmd->get_option("--encoding")
        ->description("make the table in code page NAME (default 866): its language byte, and where none names it "
                      "(UTF-8, ISO-8859-2, ...) a .cpg");
    cmd->add_option("--memo-block-size", import->memo_block_size,
                    "the memo file's block size in bytes (512 in dBASE III and IV, 64 in FoxPro and Visual FoxPro)")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    cmd->callback([import] { set_exit_status(run_import(*import)); });

    auto append = std::make_shared<WriteOptions>();
    cmd = app.add_subcommand("append", "Append UTF-8 CSV rows to a table");
    cmd->footer(std::string("The header row names the fields to fill, in any order; the others are left empty.\n"
                            "The values go in the table's own code page, memo values into its memo file.\n\n") +
                checked + "\n\n" + kWriteRefusals);
    cmd->add_option("TABLE", append->table, "the table to append to")->required();
    cmd->add_option("DATA", append->data, "the CSV file")->required();
    cmd->add_flag("--truncate", append->truncate, "cut C and V values longer than their field, and say how many");
    add_drop_index_flag(cmd, append->drop_index);
    cmd->callback([append] { set_exit_status(run_change(*append, false)); });

    auto update = std::make_shared<WriteOptions>();
    cmd = app.add_subcommand("update", "Change values of records from UTF-8 CSV");
    cmd->footer(std::string(
                    "The header row names RECORD, the record each row changes (counting from 0, as dump and\n"
                    "plan number them), and the fields to change, in any order; the other fields keep their\n"
                    "values.  Each record named is written whole, or, after a crash or a power cut, put back\n"
                    "as it was by hyl repair from TABLE.undo, which holds the records until they are written.\n"
                    "A memo value changed gets a new entry in the memo file; hyl pack reclaims the old one.\n\n") +
                checked + "\n\n" + kWriteRefusals);
    cmd->add_option("TABLE", update->table, "the table to change")->required();
    cmd->add_option("DATA", update->data, "the CSV file")->required();
    cmd->add_flag("--truncate", update->truncate, "cut C and V values longer than their field, and say how many");
    add_drop_index_flag(cmd, update->drop_index);
    cmd->callback([update] { set_exit_status(run_change(*update, true)); });
}

}  // namespace hyltool
