// Problems of a CSV file, a line each.
#include "tools/input_problems.h"

#include <cstdio>

namespace hyltool {

void InputProblems::add(int row, int line, const std::string& column, const std::string& what) {
    std::string text = data_ + ": row " + std::to_string(row);
    if (line != row) text += " (line " + std::to_string(line) + ")";
    if (!column.empty()) text += ", " + column;
    lines_.push_back(text + ": " + what);
}

void InputProblems::print(std::size_t shown) const {
    for (std::size_t i = 0; i < lines_.size() && i < shown; ++i) std::fprintf(stderr, "%s\n", lines_[i].c_str());
    if (lines_.size() > shown) std::fprintf(stderr, "... and %zu more\n", lines_.size() - shown);
}

}  // namespace hyltool
