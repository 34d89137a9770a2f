#include "tools/progress.h"

#include <cstdio>

namespace hyltool {
namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kQuietFor = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int kWidth = 30;
}  // namespace

Progress::Progress(std::string label)
    : label_(std::move(label)), start_(Clock::now()), drawn_(start_), terminal_(stderr_is_terminal()) {}

Progress::~Progress() { clear(); }

void Progress::update(int64_t done, int64_t total) {
    if (!terminal_ || total <= 0) return;
    const auto now = Clock::now();
    if (now - start_ < kQuietFor || (shown_ && now - drawn_ < kRedrawEvery && done < total)) return;
    drawn_ = now;
    shown_ = true;
    const int filled = static_cast<int>(kWidth * done / total);
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(), std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(),
                 static_cast<int>(100 * done / total));
    std::fflush(stderr);
}

void Progress::clear() {
    if (!shown_) return;
    // Blanks over the whole bar, then back to the start of the line.
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kWidth + 8, "");
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace hyltool
