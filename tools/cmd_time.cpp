// Date display and the time conversions.
#include <chrono>
#include <cmath>
#include <cstdio>

#include "hyl.h"
#include "tools/tool.h"

namespace hyltool {

std::string format_local_date(double date) {
    using namespace std::chrono;
    const long long total = std::llround(date * 86400.0);
    long long day = total / 86400, second = total % 86400;
    if (second < 0) {
        second += 86400;
        --day;
    }
    const year_month_day ymd{sys_days{1899y / December / 30} + days{day}};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), second / 3600,
                  second / 60 % 60, second % 60);
    return text;
}

int cmd_time(const Args&) { return usage_error("time conversions are not available in this build"); }

}  // namespace hyltool
