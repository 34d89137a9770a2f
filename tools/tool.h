// Shared pieces of the command-line tool: it uses the library only through
// its public exports, and shows the library's Windows-1251 text in UTF-8.
#pragma once

#include <string>
#include <vector>

namespace hyltool {

using Args = std::vector<std::string>;

int cmd_info(const Args& args);
int cmd_dump(const Args& args);
int cmd_import(const Args& args);
int cmd_append(const Args& args);
int cmd_plan(const Args& args);
int cmd_time(const Args& args);

std::string to_utf8(const char* ansi);
// The command line in UTF-8 on every platform (Windows hands programs its
// ANSI code page otherwise).
std::vector<std::string> utf8_arguments(int argc, char** argv);
// A file name from the command line as the library's file calls take it:
// unchanged natively, in the ANSI code page on Windows.
std::string library_path(const std::string& utf8);
// One CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_quote(const std::string& field);
// Splits CSV text into rows of fields (RFC 4180 quoting).
std::vector<std::vector<std::string>> csv_parse(const std::string& text);
// A local DATE as ISO 8601 (YYYY-MM-DDTHH:MM:SS).
std::string format_local_date(double date);
// Prints to standard error and returns 2, the usage-error exit code.
int usage_error(const std::string& message);

}  // namespace hyltool
