// Date display and the time conversions:
//
//   hyl time to-local VALUE     a GMT date and time in local time
//   hyl time to-gmt VALUE       a local date and time in GMT (printed with Z)
//   hyl time from-epoch VALUE   seconds since 1970-01-01 00:00 UTC in local time
//
// VALUE of the first two is an ISO 8601 date and time (2010-07-25T12:00:00,
// seconds or the whole time may be left out; a space may stand for the T) or
// a DATE number (40384.5).  Natively the zone is TZ's.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "hyl.h"
#include "tools/tool.h"

namespace hyltool {
namespace {

using namespace std::chrono;

constexpr sys_days kDateEpoch{1899y / December / 30};

// A DATE of whole seconds from 1899-12-30 00:00; before it a DATE counts its
// day back and its time of day forward (-1.25 is 1899-12-29 06:00).
double date_of_seconds(long long seconds) {
    long long day = seconds / 86400, of_day = seconds % 86400;
    if (of_day < 0) {
        of_day += 86400;
        --day;
    }
    const double fraction = of_day / 86400.0;
    return day >= 0 ? day + fraction : day - fraction;
}

// "YYYY-MM-DD[THH:MM[:SS]]" as a DATE; a trailing Z only where allowed.
bool parse_iso(const std::string& text, bool z_allowed, double* date) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
    const char* p = text.c_str();
    if (std::sscanf(p, "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3) return false;
    p += used;
    if (*p == 'T' || *p == ' ') {
        if (std::sscanf(p + 1, "%2d:%2d%n", &h, &mi, &used) != 2) return false;
        p += 1 + used;
        if (*p == ':') {
            if (std::sscanf(p + 1, "%2d%n", &s, &used) != 1) return false;
            p += 1 + used;
        }
    }
    if (*p == 'Z' && z_allowed) ++p;
    const year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (*p || !ymd.ok() || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return false;
    *date = date_of_seconds((sys_days{ymd} - kDateEpoch).count() * 86400LL + h * 3600 + mi * 60 + s);
    return true;
}

bool parse_number(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(*value);
}

}  // namespace

std::string format_local_date(double date) {
    if (!std::isfinite(date) || std::fabs(date) > 3e6) return "(not a date)";
    const double whole = std::trunc(date);
    const long long total = static_cast<long long>(whole) * 86400 + std::llround(std::fabs(date - whole) * 86400.0);
    long long day = total / 86400, second = total % 86400;
    if (second < 0) {
        second += 86400;
        --day;
    }
    const year_month_day ymd{kDateEpoch + days{day}};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), second / 3600,
                  second / 60 % 60, second % 60);
    return text;
}

namespace {

int run_time(const std::string& how, const std::string& value) {
    double result = 0.0;
    if (how == "to-local" || how == "to-gmt") {
        double date = 0.0;
        if (!parse_iso(value, how == "to-local", &date) && !parse_number(value, &date))
            return usage_error("time", "not a date and time: " + value +
                                           " (YYYY-MM-DDTHH:MM:SS or a DATE number)");
        result = how == "to-local" ? GMT_To_Local(date) : Local_To_GMT(date);
    } else if (how == "from-epoch") {
        double seconds = 0.0;
        if (!parse_number(value, &seconds)) return usage_error("time", "not a number of seconds: " + value);
        result = Hyl_GetDateByNsecFrom1970(seconds);
    } else {
        return usage_error("time", "the conversion is to-local, to-gmt or from-epoch");
    }
    // The library answers 0.0 for what it cannot convert.
    if (result == 0.0) {
        std::fprintf(stderr, "hyl: %s cannot be converted\n", value.c_str());
        return 1;
    }
    std::printf("%s%s\n", format_local_date(result).c_str(), how == "to-gmt" ? "Z" : "");
    return 0;
}

}  // namespace

void add_time_command(CLI::App& app) {
    auto how = std::make_shared<std::string>();
    auto value = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("time", "Convert dates between GMT, local time and seconds since 1970");
    cmd->footer("  to-local VALUE    a GMT date and time in local time\n"
                "  to-gmt VALUE      a local date and time in GMT\n"
                "  from-epoch VALUE  seconds since 1970-01-01 00:00 UTC in local time\n"
                "VALUE is YYYY-MM-DDTHH:MM[:SS] or a DATE number; natively the zone is TZ's.");
    cmd->add_option("CONVERSION", *how, "to-local, to-gmt or from-epoch")
        ->required()
        ->check(CLI::IsMember({"to-local", "to-gmt", "from-epoch"}));
    cmd->add_option("VALUE", *value, "the date and time, or the seconds")->required();
    cmd->callback([how, value] { set_exit_status(run_time(*how, *value)); });
}

}  // namespace hyltool
