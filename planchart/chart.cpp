// The plan chart in SVG.  The people who read it write dates as 01.03 and
// name months in Russian, so the axis and the tooltips speak that way.
//
// Geometry: the axis maps a local DATE linearly onto x, FROM at the plot's
// left edge and TO at its right, so a day is a column of fixed width; a
// tick marks every midnight in the range.  A bar spans its entry's first
// day up to the midnight after its last day, cut to the range.  Every bar
// carries its record number (data-record) and every tick and label its day
// (data-day), so a reader of the file can check one against the other.
#include "planchart/chart.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace hyl {
namespace {

using namespace std::chrono;

constexpr sys_days kDateEpoch{1899y / December / 30};

// Layout, in pixels.
constexpr double kMargin = 12;
constexpr double kHeadingBaseline = 22;
constexpr double kMonthBaseline = 46;
constexpr double kDayBaseline = 62;
constexpr double kPlotTop = 70;
constexpr double kRowHeight = 22;
constexpr double kBarHeight = 14;
constexpr double kIndent = 14;      // equipment names under their object
constexpr double kMarkSize = 6;     // the clipping marks
constexpr double kWideDay = 36;     // room for "01.03" under every day
constexpr double kPlotWidth = 2232; // what a long range is squeezed into
constexpr int kRowsBeforeFooter = 20;  // taller charts repeat the day labels below

constexpr const char* kMonths[] = {"Январь", "Февраль", "Март",     "Апрель",  "Май",    "Июнь",
                                   "Июль",   "Август",  "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"};

struct Civil {
    int year;
    unsigned month, day;
    bool weekend;
};

Civil civil_of_day(long long day) {
    const sys_days sd = kDateEpoch + days{day};
    const year_month_day ymd{sd};
    const unsigned wd = weekday{sd}.c_encoding();  // 0 Sunday .. 6 Saturday
    return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
            wd == 0 || wd == 6};
}

std::string iso_day(long long day) {
    const Civil c = civil_of_day(day);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", c.year, c.month, c.day);
    return text;
}

std::string short_day(long long day) {
    const Civil c = civil_of_day(day);
    char text[8];
    std::snprintf(text, sizeof text, "%02u.%02u", c.day, c.month);
    return text;
}

std::string long_day(long long day) {
    const Civil c = civil_of_day(day);
    char text[16];
    std::snprintf(text, sizeof text, "%02u.%02u.%04d", c.day, c.month, c.year);
    return text;
}

// A range end as given: the day, and the time of day when it is not midnight.
std::string range_end(double date) {
    const double day = std::floor(date);
    std::string text = long_day(static_cast<long long>(day));
    const long seconds = std::lround((date - day) * 86400.0);
    if (seconds > 0 && seconds < 86400) {
        char time[16];
        std::snprintf(time, sizeof time, " %02ld:%02ld", seconds / 3600, seconds / 60 % 60);
        text += time;
    }
    return text;
}

// Text for XML: markup characters escaped, and control characters (which
// XML cannot carry at all) shown as the replacement character.
std::string xml_text(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
                    out += "\xEF\xBF\xBD";
                else
                    out += c;
        }
    }
    return out;
}

// A rough width for laying out columns: DejaVu Sans averages a little over
// 0.6 em per letter, Latin or Cyrillic.
double text_width(const std::string& utf8, double em) {
    int chars = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++chars;
    return chars * em * 0.62;
}

std::string num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    std::string s = text;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

struct Group {
    std::string object;
    std::vector<const PlanEntry*> entries;
};

std::vector<Group> group_by_object(const std::vector<PlanEntry>& entries) {
    std::vector<Group> groups;
    std::map<std::string, std::size_t> index;
    for (const PlanEntry& e : entries) {
        auto [it, added] = index.emplace(e.object, groups.size());
        if (added) groups.push_back({e.object, {}});
        groups[it->second].entries.push_back(&e);
    }
    for (Group& g : groups)
        std::stable_sort(g.entries.begin(), g.entries.end(), [](const PlanEntry* a, const PlanEntry* b) {
            return a->first_day != b->first_day ? a->first_day < b->first_day : a->record < b->record;
        });
    return groups;
}

class Chart {
  public:
    explicit Chart(const ChartRequest& r) : r_(r), groups_(group_by_object(r.entries)) {
        const double span = std::max(r.to - r.from, 1.0 / 1440);
        day_width_ = span <= 62 ? kWideDay : std::max(kPlotWidth / span, 1.0);
        double labels = 140;
        for (const Group& g : groups_) {
            labels = std::max(labels, text_width(g.object, 13) + 16);
            for (const PlanEntry* e : g.entries)
                labels = std::max(labels, kIndent + text_width(e->equipment, 12) + 16);
        }
        x0_ = std::ceil(kMargin + labels);
        rows_ = static_cast<int>(groups_.size() + r.entries.size());
        plot_bottom_ = kPlotTop + std::max(rows_, 1) * kRowHeight;
        footer_ = static_cast<int>(r.entries.size()) > kRowsBeforeFooter;
        width_ = std::max(x(r.to) + 2 * kMarkSize + kMargin, kMargin * 2 + text_width(heading(), 15));
        height_ = plot_bottom_ + (footer_ ? 22 : 0) + kMargin;
    }

    std::string svg() {
        // The body first: month names may reach past the plot, and the
        // document's width has to hold them.
        stripes();
        axis();
        rows();
        std::string body = std::move(out_);
        out_.clear();
        out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width_) + "\" height=\"" + num(height_) +
                "\" viewBox=\"0 0 " + num(width_) + " " + num(height_) +
                "\" font-family=\"'DejaVu Sans', Verdana, 'Liberation Sans', Arial, sans-serif\" font-size=\"12\">\n";
        out_ += "<title>" + xml_text(heading()) + "</title>\n";
        out_ += "<style>\n"
                "text { fill: #1f2328; }\n"
                ".heading { font-size: 15px; font-weight: bold; }\n"
                ".month { font-size: 12px; font-weight: bold; }\n"
                ".day { font-size: 10px; fill: #57606a; text-anchor: middle; }\n"
                ".object { font-size: 13px; font-weight: bold; }\n"
                ".stripe { fill: #f6f8fa; }\n"
                ".weekend { fill: #e4e8ee; fill-opacity: 0.75; }\n"
                ".tick { stroke: #d0d7de; stroke-width: 1; }\n"
                ".month-start { stroke: #6e7781; stroke-width: 1; }\n"
                ".edge { stroke: #6e7781; stroke-width: 1; fill: none; }\n"
                ".bar { fill: #4a7fc1; stroke: #2f5f9a; stroke-width: 1; }\n"
                ".clip { fill: #c9372c; }\n"
                ".empty { fill: #6e7781; font-style: italic; }\n"
                "</style>\n";
        out_ += "<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
        out_ += "<text class=\"heading\" x=\"" + num(kMargin) + "\" y=\"" + num(kHeadingBaseline) + "\">" +
                xml_text(heading()) + "</text>\n";
        out_ += body;
        out_ += "</svg>\n";
        return out_;
    }

  private:
    double x(double date) const { return x0_ + (date - r_.from) * day_width_; }
    double plot_width() const { return x(r_.to) - x0_; }

    std::string heading() const {
        const std::string object = r_.object.empty() ? "все объекты" : r_.object;
        const std::string equipment = r_.equipment.empty() ? "всё оборудование" : r_.equipment;
        return "План работ: " + object + " / " + equipment + ", " + range_end(r_.from) + " – " + range_end(r_.to);
    }

    // Which days get a label: every day when a column holds "01.03",
    // Mondays when a week does, else the first of each month.
    bool labelled(long long day) const {
        if (day_width_ >= 30) return true;
        const Civil c = civil_of_day(day);
        if (day_width_ * 7 >= 36) return weekday{kDateEpoch + days{day}}.c_encoding() == 1;
        return c.day == 1;
    }

    void stripes() {
        for (int row = 1; row < rows_; row += 2)
            out_ += "<rect class=\"stripe\" x=\"0\" y=\"" + num(kPlotTop + row * kRowHeight) +
                    "\" width=\"100%\" height=\"" + num(kRowHeight) + "\"/>\n";
    }

    void axis() {
        const long long first = static_cast<long long>(std::floor(r_.from));
        const long long last = static_cast<long long>(std::ceil(r_.to));  // the cell after the range
        out_ += "<g class=\"axis\">\n";
        // Weekends first, so ticks and bars lie over them.
        for (long long d = first; d < last; ++d) {
            if (!civil_of_day(d).weekend) continue;
            const double left = x(std::max<double>(d, r_.from)), right = x(std::min<double>(d + 1, r_.to));
            if (right <= left) continue;
            out_ += "<rect class=\"weekend\" data-day=\"" + iso_day(d) + "\" x=\"" + num(left) + "\" y=\"" +
                    num(kPlotTop) + "\" width=\"" + num(right - left) + "\" height=\"" +
                    num(plot_bottom_ - kPlotTop) + "\"/>\n";
        }
        const bool day_ticks = day_width_ >= 5;
        for (long long d = first; d <= last; ++d) {
            if (d < r_.from || d > r_.to) continue;
            const Civil c = civil_of_day(d);
            if (!day_ticks && c.day != 1) continue;
            out_ += "<line class=\"" + std::string(c.day == 1 ? "tick month-start" : "tick") + "\" data-day=\"" +
                    iso_day(d) + "\" x1=\"" + num(x(d)) + "\" y1=\"" + num(kPlotTop - 4) + "\" x2=\"" + num(x(d)) +
                    "\" y2=\"" + num(plot_bottom_) + "\"/>\n";
        }
        for (long long d = first; d < last; ++d) {
            const double left = std::max<double>(d, r_.from), right = std::min<double>(d + 1, r_.to);
            if (right - left < 0.5 || !labelled(d)) continue;
            day_label(d, (x(left) + x(right)) / 2, kDayBaseline);
            if (footer_) day_label(d, (x(left) + x(right)) / 2, plot_bottom_ + 14);
        }
        month_labels(first, last);
        out_ += "<rect class=\"edge\" x=\"" + num(x0_) + "\" y=\"" + num(kPlotTop) + "\" width=\"" +
                num(plot_width()) + "\" height=\"" + num(plot_bottom_ - kPlotTop) + "\"/>\n";
        out_ += "</g>\n";
    }

    void day_label(long long d, double center, double baseline) {
        out_ += "<text class=\"day\" data-day=\"" + iso_day(d) + "\" x=\"" + num(center) + "\" y=\"" +
                num(baseline) + "\">" + short_day(d) + "</text>\n";
    }

    // A month's name where it starts; the range's first month is named at
    // the axis start too when there is room before the next one begins.
    void month_labels(long long first, long long last) {
        double free_from = x0_;
        for (long long d = first; d < last; ++d) {
            const Civil c = civil_of_day(d);
            const bool starts = c.day == 1 && d >= r_.from;
            if (!starts && d != first) continue;
            const std::string name = std::string(kMonths[c.month - 1]) + " " + std::to_string(c.year);
            const double at = starts ? x(d) : x0_;
            if (!starts) {
                long long next = d;
                while (next < last && civil_of_day(next).day != 1) ++next;
                if (next < last && x(next) - at < text_width(name, 12) + 8) continue;
            }
            if (at < free_from) continue;
            out_ += "<text class=\"month\" data-day=\"" + iso_day(d) + "\" x=\"" + num(at + 3) + "\" y=\"" +
                    num(kMonthBaseline) + "\">" + name + "</text>\n";
            free_from = at + text_width(name, 12) + 8;
            width_ = std::max(width_, free_from + kMargin);
        }
    }

    void rows() {
        double top = kPlotTop;
        if (groups_.empty())
            out_ += "<text class=\"empty\" x=\"" + num(x0_ + 8) + "\" y=\"" + num(top + 15) +
                    "\">нет записей в этом диапазоне</text>\n";
        for (const Group& g : groups_) {
            out_ += "<g class=\"group\">\n<text class=\"object\" x=\"" + num(kMargin) + "\" y=\"" + num(top + 16) +
                    "\">" + xml_text(g.object) + "</text>\n";
            top += kRowHeight;
            for (const PlanEntry* e : g.entries) {
                entry(*e, top);
                top += kRowHeight;
            }
            out_ += "</g>\n";
        }
    }

    void entry(const PlanEntry& e, double top) {
        const std::string record = std::to_string(e.record);
        out_ += "<g class=\"entry\" data-record=\"" + record + "\">\n";
        out_ += "<text class=\"equipment\" x=\"" + num(kMargin + kIndent) + "\" y=\"" + num(top + 15) + "\">" +
                xml_text(e.equipment) + "</text>\n";
        const long long first = static_cast<long long>(std::floor(e.first_day));
        const long long after = static_cast<long long>(std::floor(e.day_after_last));
        std::string tip = xml_text(e.object) + " / " + xml_text(e.equipment) + "\nзапись " + record;
        const double left = std::max(e.first_day, r_.from), right = std::min(e.day_after_last, r_.to);
        if (after <= first || right <= left) {
            tip += ": конец раньше начала, с " + long_day(first) + " по " + long_day(after - 1);
            out_ += "<text class=\"empty\" x=\"" + num(x0_ + 8) + "\" y=\"" + num(top + 15) + "\"><title>" + tip +
                    "</title>период не задан: конец раньше начала</text>\n</g>\n";
            return;
        }
        // People read "с 04.03 по 06.03" as both days included.
        tip += ": с " + long_day(first) + " по " + long_day(after - 1);
        const double bar_top = top + (kRowHeight - kBarHeight) / 2, middle = top + kRowHeight / 2;
        out_ += "<rect class=\"bar\" data-record=\"" + record + "\" x=\"" + num(x(left)) + "\" y=\"" +
                num(bar_top) + "\" width=\"" + num(x(right) - x(left)) + "\" height=\"" + num(kBarHeight) +
                "\"><title>" + tip + "</title></rect>\n";
        if (e.first_day < r_.from)
            out_ += "<path class=\"clip clip-start\" data-record=\"" + record + "\" d=\"M" + num(x0_) + " " +
                    num(middle - kMarkSize) + " L" + num(x0_ - kMarkSize) + " " + num(middle) + " L" + num(x0_) +
                    " " + num(middle + kMarkSize) + " Z\"><title>начало " + long_day(first) + "</title></path>\n";
        if (e.day_after_last > r_.to)
            out_ += "<path class=\"clip clip-end\" data-record=\"" + record + "\" d=\"M" + num(x(r_.to)) + " " +
                    num(middle - kMarkSize) + " L" + num(x(r_.to) + kMarkSize) + " " + num(middle) + " L" +
                    num(x(r_.to)) + " " + num(middle + kMarkSize) + " Z\"><title>окончание " +
                    long_day(after - 1) + "</title></path>\n";
        out_ += "</g>\n";
    }

    const ChartRequest& r_;
    std::vector<Group> groups_;
    double day_width_ = kWideDay, x0_ = 0, plot_bottom_ = 0, width_ = 0, height_ = 0;
    int rows_ = 0;
    bool footer_ = false;
    std::string out_;
};

}  // namespace

std::string plan_chart_svg(const ChartRequest& request) { return Chart(request).svg(); }

}  // namespace hyl
