// A progress bar on standard error for work on a whole table that takes
// more than about a second, drawn only when standard error is a terminal:
// redirected output and scripts never see it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace hyltool {

class Progress {
public:
    explicit Progress(std::string label);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(int64_t done, int64_t total);
    // Takes the bar off the line (before other output goes to the terminal).
    void clear();

private:
    std::string label_;
    std::chrono::steady_clock::time_point start_, drawn_;
    bool terminal_ = false;
    bool shown_ = false;
};

// Whether standard error, or standard output, is a terminal.
bool stderr_is_terminal();
bool stdout_is_terminal();

}  // namespace hyltool
