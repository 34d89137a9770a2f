// The plan search: walks every plan entry of an object and a piece of
// equipment whose period meets a date range, as a host does
// (planchart/walk.h), and prints each entry's record number, names, first
// day and the day after its last, and with --chart draws them as a timeline
// (planchart/chart.h).
//
// The plan lives at the library's built-in Windows path on drive X (or the
// --drive letter).  Natively, --root DIR names the folder that drive stands
// for, through the HYL_DRIVE_<LETTER> variable the library looks up.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "planchart/chart.h"
#include "planchart/walk.h"
#include "tools/tool.h"

namespace hyltool {
namespace {

bool read_number(const std::string& text, std::size_t at, std::size_t digits, int* value) {
    if (at + digits > text.size()) return false;
    int v = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = v;
    return true;
}

// YYYY-MM-DD[THH:MM[:SS]] (a blank may stand for the T) as a local DATE.
bool parse_iso_date(const std::string& text, double* date) {
    int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
    if (!read_number(text, 0, 4, &y) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
        !read_number(text, 5, 2, &m) || !read_number(text, 8, 2, &d))
        return false;
    if (text.size() > 10) {
        if ((text[10] != 'T' && text[10] != ' ') || text.size() < 16 || text[13] != ':' ||
            !read_number(text, 11, 2, &hh) || !read_number(text, 14, 2, &mm))
            return false;
        if (text.size() > 16 && (text.size() != 19 || text[16] != ':' || !read_number(text, 17, 2, &ss)))
            return false;
    }
    using namespace std::chrono;
    const year_month_day ymd{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok() || hh > 23 || mm > 59 || ss > 59) return false;
    const auto days_since = (sys_days{ymd} - sys_days{1899y / December / 30}).count();
    *date = static_cast<double>(days_since) + (hh * 3600 + mm * 60 + ss) / 86400.0;
    return true;
}

void print_hits(const std::vector<hyl::PlanEntry>& hits) {
    int object_width = 7, equipment_width = 7;  // the headings' own widths
    for (const hyl::PlanEntry& h : hits) {
        object_width = std::max(object_width, display_width(h.object));
        equipment_width = std::max(equipment_width, display_width(h.equipment));
    }
    auto cell = [](const std::string& text, int width) {
        return text + std::string(static_cast<std::size_t>(width - display_width(text)), ' ');
    };
    std::printf("record  %s  %s  %-19s  %s\n", cell("NAMEOBJ", object_width).c_str(),
                cell("NAMEEQU", equipment_width).c_str(), "first day", "day after last");
    for (const hyl::PlanEntry& h : hits)
        std::printf("%6d  %s  %s  %s  %s\n", h.record, cell(h.object, object_width).c_str(),
                    cell(h.equipment, equipment_width).c_str(), format_local_date(h.first_day).c_str(),
                    format_local_date(h.day_after_last).c_str());
}

struct PlanOptions {
    std::string object, equipment, from, to, root, drive, chart;
    bool quiet = false;
};

int write_chart(const PlanOptions& o, double from, double to, const std::vector<hyl::PlanEntry>& hits) {
    hyl::ChartRequest request;
    request.object = o.object;
    request.equipment = o.equipment;
    request.from = from;
    request.to = to;
    request.entries = hits;
    const std::string svg = hyl::plan_chart_svg(request);
    std::ofstream out(utf8_path(o.chart), std::ios::binary | std::ios::trunc);
    if (!out.write(svg.data(), static_cast<std::streamsize>(svg.size())) || !out.flush())
        return fail(1, "cannot write the chart " + o.chart);
    return 0;
}

int run_plan(const PlanOptions& o) {
    const std::string& root = o.root;
    const std::string& drive = o.drive;
    double from = 0.0, to = 0.0;
    if (!parse_iso_date(o.from, &from) || !parse_iso_date(o.to, &to))
        return usage_error("plan", "dates are YYYY-MM-DD[THH:MM[:SS]]");
    if (!o.chart.empty() && !hyl::chart_range_fits(from, to))
        return usage_error("plan", "--chart needs FROM before TO, at most ten years apart");
    char letter = 'X';
    if (!drive.empty()) {
        const char c = drive[0];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) ||
            (drive.size() > 1 && drive != std::string(1, c) + ":"))
            return usage_error("plan", "--drive takes a drive letter");
        letter = c;
    }
    if (!root.empty()) {
#ifdef _WIN32
        return usage_error("plan", "--root is for native builds; on Windows use --drive");
#else
        // Checked here so that a mistyped folder fails at once rather than
        // after the library's twenty seconds of load attempts.
        std::string relative = hyl::kPlanPathAfterDrive + 2;  // after the colon and the first backslash
        std::replace(relative.begin(), relative.end(), '\\', '/');
        const std::filesystem::path file = std::filesystem::path(root) / relative;
        if (!std::filesystem::is_regular_file(file)) return usage_error("plan", "no plan at " + file.string());
        const char upper = static_cast<char>(letter & ~0x20);
        setenv((std::string("HYL_DRIVE_") + upper).c_str(), root.c_str(), 1);
#endif
    }

    // A plan that cannot be loaded has said so through the library's own
    // messages; the command then lists nothing, as for a plan without a match.
    const std::vector<hyl::PlanEntry> hits = hyl::walk_plan(o.object, o.equipment, from, to, letter).entries;
    if (!o.chart.empty())
        if (int status = write_chart(o, from, to, hits)) return status;
    if (o.quiet) return 0;
    if (hits.empty()) {
        // A range given backwards meets no period; say so rather than let it
        // read as an empty plan.
        std::fprintf(stderr, "hyl: no plan entries match%s\n", from >= to ? " (FROM is not before TO)" : "");
        return 0;
    }
    print_hits(hits);
    return 0;
}

}  // namespace

void add_plan_command(CLI::App& app) {
    auto o = std::make_shared<PlanOptions>();
    CLI::App* cmd = app.add_subcommand("plan", "Walk the monthly plan's entries that meet a date range");
    cmd->footer(std::string("OBJECT and EQUIPMENT match by prefix without regard to case (\"\" matches every entry);\n"
                            "FROM and TO are local YYYY-MM-DD[THH:MM[:SS]].  The plan is read from the library's\n"
                            "built-in path X") +
                hyl::kPlanPathAfterDrive + ".");
    cmd->add_option("OBJECT", o->object, "object name, or its beginning")->required();
    cmd->add_option("EQUIPMENT", o->equipment, "equipment name, or its beginning")->required();
    cmd->add_option("FROM", o->from, "start of the range")->required();
    cmd->add_option("TO", o->to, "end of the range")->required();
    cmd->add_option("--root", o->root, "the folder the plan's drive stands for (native builds)")->type_name("DIR");
    cmd->add_option("--drive", o->drive, "the plan's drive letter instead of X")->type_name("LETTER");
    cmd->add_option("--chart", o->chart, "also draw the entries as a timeline in an SVG file")->type_name("FILE");
    cmd->add_flag("--quiet", o->quiet, "print no list (with --chart: only the chart)");
    cmd->callback([o] { set_exit_status(run_plan(*o)); });
}

}  // namespace hyltool
