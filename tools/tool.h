// Shared pieces of the command-line tool.  Each command file adds its
// commands to the one CLI11 application; tables are read whole through the
// typed reader (tables/), written through the writer of tables (writing/);
// the plan and the time conversions go through the library's exports,
// whose Windows-1251 text is shown in UTF-8.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace hyltool {

// Exit statuses: 0 done, 1 the work failed (or, for check, damage found),
// 2 a usage error (or a table that cannot be worked on at all).
constexpr int kExitUsage = 2;

void add_read_commands(CLI::App& app);   // info, dump
void add_write_commands(CLI::App& app);  // import, append, update
void add_edit_commands(CLI::App& app);   // delete, undelete, pack
void add_check_commands(CLI::App& app);  // check, repair
void add_plan_command(CLI::App& app);
void add_time_command(CLI::App& app);

// What the commands that write say of the tables they refuse, and their
// --drop-index flag; a notice of the writer ("cleared the production index
// flag ...") on standard error.
extern const char* kWriteRefusals;
void add_drop_index_flag(CLI::App* command, bool& drop_index);
void say_notice(const std::string& table, const std::string& notice);

// What the command that ran answers; its callback sets it.
void set_exit_status(int status);
int exit_status();

std::string to_utf8(const char* ansi);
// The command line in UTF-8 on every platform (Windows hands programs its
// ANSI code page otherwise).
std::vector<std::string> utf8_arguments(int argc, char** argv);
// A file name from the command line as the standard library's files take it
// (a wide name on Windows).
std::filesystem::path utf8_path(const std::string& utf8);
// A file name from the command line as the library's file calls take it:
// unchanged natively, in the ANSI code page on Windows.
std::string library_path(const std::string& utf8);
// Whether TEXT holds a byte below BELOW or one of ALSO: what CSV quotes and
// JSON escapes, looked for eight bytes at a time.
bool holds_special(std::string_view text, unsigned char below, std::string_view also);
// Appends one CSV field, quoted when it holds a comma, a quote or a line break.
void csv_append(std::string& out, std::string_view field);
// CSV text split into rows of fields (RFC 4180 quoting); blank lines are
// skipped.  Text that breaks the quoting rules stops the reading: error
// says how, and the last row is the one it happened in.
struct CsvRow {
    std::vector<std::string> fields;
    int line = 0;  // where the row begins
};
struct CsvText {
    std::vector<CsvRow> rows;
    std::string error;
    int error_line = 0;
    std::size_t error_column = 0;  // counting from 0
};
CsvText csv_read(std::string_view text);
// Values as dump writes them: a double in the fewest digits that read back
// the same; a string as JSON; a decimal's text as a JSON number.
void append_double(std::string& out, double value);
void append_json_string(std::string& out, std::string_view utf8);
void append_json_decimal(std::string& out, std::string_view text);
// --encoding NAME, checked to name a code page this system converts.
void add_encoding_option(CLI::App* command, std::string& encoding);
// --threads N, 1 to 1024; left at 0 when not given: the machine's processors.
void add_threads_option(CLI::App* command, int& threads);
// A local DATE as ISO 8601 (YYYY-MM-DDTHH:MM:SS).
std::string format_local_date(double date);
// Characters, not bytes, so Cyrillic names line up.
int display_width(const std::string& utf8);
// "hyl: MESSAGE" and a hint to COMMAND's help on standard error; returns 2.
int usage_error(const std::string& command, const std::string& message);
// "hyl: MESSAGE" on standard error; returns STATUS.
int fail(int status, const std::string& message);

}  // namespace hyltool
