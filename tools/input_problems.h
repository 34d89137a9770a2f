// The problems import and append find in a CSV file, said by row and column.
// The library stores what it is given, cut to the field without a word
// (hosts rely on that), so the tool is where a user learns that a value does
// not fit: every field definition (writing/definition.h) and every value
// (its type's rule, tables/fieldtypes.h) is checked before anything is
// written, and each problem is one of these lines.
#pragma once

#include <string>
#include <vector>

namespace hyltool {

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

}  // namespace hyltool
