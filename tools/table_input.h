// What import and append may write into a table, checked before anything is
// written.  The library stores what it is given, cut to the field without a
// word (hosts rely on that), so the tool is where a user learns that a value
// does not fit: every field definition and every value is checked here, and
// a table is created or touched only when all of them are sound.
#pragma once

#include <string>
#include <vector>

#include "tables/codepage.h"

namespace hyltool {

// A field as a table defines it.  The tool makes and fills C, N, F, D and L
// fields; M is refused because its values live in a memo file (.dbt) that
// the tool does not write.
struct FieldDef {
    std::string name;  // UTF-8
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

// The problems found, as "DATA.csv: row 3, column QTY: what is wrong" lines.
class InputProblems {
  public:
    explicit InputProblems(std::string data) : data_(std::move(data)) {}
    // Rows count from 1, the header being row 1, as a spreadsheet shows
    // them; the line is named too where a value spanning lines or a blank
    // line makes the two differ.  column is a field name or "column 3", or
    // "" for a problem with the whole row.
    void add(int row, int line, const std::string& column, const std::string& what);
    bool empty() const { return lines_.empty(); }
    std::size_t count() const { return lines_.size(); }
    // The first `shown` lines on standard error, then how many more there are.
    void print(std::size_t shown) const;

  private:
    std::string data_;
    std::vector<std::string> lines_;
};

// A header cell NAME:TYPE:LENGTH[:DECIMALS] of import; false with a problem
// when the name, type, length or decimals cannot make a field.
bool parse_field_def(const hyl::TextCodec& codec, const std::string& cell, FieldDef* def, std::string* problem);

// A field name as a descriptor holds it: 1 to 11 bytes in the table's code
// page, no blanks; in an 866 table only characters that 1251 holds too,
// since hosts read the names in 1251.
bool check_field_name(const hyl::TextCodec& codec, const std::string& name, std::string* problem);

// Names equal without regard to case, as readers of the table compare them.
bool same_field_name(const std::string& a, const std::string& b);

// A value checked against its field and made as the table stores it: in
// the table's code page, numbers right-aligned.  A C value longer than its
// field is a problem, or with `truncate` cut, and then *cut is set.
bool stored_value(const hyl::TextCodec& codec, const FieldDef& field, const std::string& utf8, bool truncate,
                  std::string* stored, bool* cut, std::string* problem);

}  // namespace hyltool
