// The monthly plan: the search a host makes, walked whole as the tool walks
// it (planchart/walk.h), and the chart of the entries found
// (planchart/chart.h).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "planchart/chart.h"
#include "planchart/walk.h"
#include "python/src/package.h"

namespace hylpy {
namespace {

// Every entry of OBJECT and EQUIPMENT (UTF-8, matched by prefix) whose
// period meets FROM .. TO (local DATEs), with the plan's drive LETTER
// standing for ROOT.
std::vector<hyl::PlanEntry> search(const std::string& object, const std::string& equipment, double from, double to,
                                   char letter, const std::string& root) {
    hyl::PlanWalk walk;
    std::string text;
    {
        py::gil_scoped_release released;
        Shown shown({root});
        DriveRoot drive(letter, root);
        walk = hyl::walk_plan(object, equipment, from, to, letter);
        text = shown.text();
    }
    if (!walk.loaded) raise(Failure::kError, text.empty() ? "the plan cannot be read" : text);
    return std::move(walk.entries);
}

}  // namespace

void bind_plan(py::module_& m) {
    m.def("plan", [](const std::string& object, const std::string& equipment, py::handle from, py::handle to, char letter,
                     const std::string& root) {
        py::list out;
        for (const hyl::PlanEntry& e : search(object, equipment, date_of(from), date_of(to), letter, root))
            out.append(py::make_tuple(e.record, e.object, e.equipment, datetime_of(e.first_day), datetime_of(e.day_after_last)));
        return out;
    });
    m.def("plan_chart", [](const std::string& object, const std::string& equipment, py::handle from, py::handle to,
                           char letter, const std::string& root) {
        hyl::ChartRequest request;
        request.object = object;
        request.equipment = equipment;
        request.from = date_of(from);
        request.to = date_of(to);
        if (!hyl::chart_range_fits(request.from, request.to))
            raise(Failure::kValue, "a chart needs the start before the end, at most ten years apart");
        request.entries = search(object, equipment, request.from, request.to, letter, root);
        return hyl::plan_chart_svg(request);
    });
}

}  // namespace hylpy
