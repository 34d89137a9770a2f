// The monthly plan as a Gantt chart: the entries a plan walk found, drawn
// as one bar each on a date axis, in a self-contained SVG document (no
// scripts, no files beside it) that a browser or any SVG renderer shows.
//
// The chart only draws what it is given: a pure function of the entries and
// the range searched, so the tool's plan --chart and the Python package's
// plan_chart() draw the same document byte for byte.
#pragma once

#include <string>
#include <vector>

#include "planchart/walk.h"

namespace hyl {

struct ChartRequest {
    std::string object, equipment;  // what was searched for, UTF-8 ("" for any)
    double from = 0.0, to = 0.0;    // the searched range, local DATEs; the axis spans it
    std::vector<PlanEntry> entries;  // as the walk found them
};

// The SVG document.  Entries are grouped under their object (objects in the
// order they first appear, entries by first day and record); a period that
// runs past the range is cut at the axis edge and marked there.  An entry
// whose period ends before it begins gets its row and tooltip but no bar.
std::string plan_chart_svg(const ChartRequest& request);

// The longest range a chart is drawn for, in days: the axis has a column
// for every day, and past ten years it is no longer a picture anyone reads.
constexpr double kLongestChart = 3660;

// Whether FROM .. TO can be drawn: FROM before TO, at most kLongestChart
// days apart.
constexpr bool chart_range_fits(double from, double to) { return from < to && to - from <= kLongestChart; }

}  // namespace hyl
