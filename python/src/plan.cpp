// The monthly plan: the search a host makes, walked from -1 to the last
// entry over the library's one table image under its lock, as the exports
// walk it, and the chart of the entries found (planchart/chart.h).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <string_view>

#include "dbf/dbf.h"
#include "platform/codepage.h"
#include "platform/threads.h"
#include "plan/dbfimage.h"
#include "plan/plan.h"
#include "python/src/package.h"
#include "planchart/chart.h"

namespace hylpy {
namespace {

struct Entry {
    int record = 0;
    std::string object, equipment;  // UTF-8
    double first_day = 0, day_after_last = 0;
};

// A name of a plan entry as the field-text export gives it: up to a NUL,
// trailing blanks and control bytes cut, in UTF-8.
std::string name_of(const hyl::DbfImage& image, const char* field, int32_t record) {
    const int32_t index = hyl::DbfImg_FindField(image, field);
    if (index < 0) return {};
    std::string_view bytes = hyl::DbfImg_ColumnBytes(image, record, hyl::DbfImg_GetColumn(image, index));
    bytes = bytes.substr(0, strnlen(bytes.data(), bytes.size()));
    while (!bytes.empty() && static_cast<uint8_t>(bytes.back()) <= 0x20) bytes.remove_suffix(1);
    std::string ansi(bytes);
    if (hyl::Dbf_LanguageIsOem(image.block[29]))
        for (char& c : ansi) c = static_cast<char>(hyl::oem_to_ansi_byte(static_cast<uint8_t>(c)));
    return hyl::ansi_to_utf8(ansi);
}

// Every entry of OBJECT and EQUIPMENT (UTF-8, matched by prefix) whose
// period meets FROM .. TO (local DATEs), with the plan's drive LETTER
// standing for ROOT.
std::vector<Entry> search(const std::string& object, const std::string& equipment, double from, double to, char letter,
                          const std::string& root) {
    const std::string o = hyl::utf8_to_ansi(object), e = hyl::utf8_to_ansi(equipment);
    std::vector<Entry> entries;
    std::string text;
    bool loaded = false;
    {
        py::gil_scoped_release released;
        hyl::LibraryLock lock;
        Shown shown({root});
        DriveRoot drive(letter, root);
        // A plan loaded from another root, or before the file changed, is let go.
        hyl::Plan_FreeResource();
        const char drive_text[2] = {letter, '\0'};
        hyl::Plan_SetDrive(drive_text);
        for (int32_t r = hyl::Plan_GetNextMesplan(o.c_str(), e.c_str(), from, to, -1); r != -1;
             r = hyl::Plan_GetNextMesplan(o.c_str(), e.c_str(), from, to, r))
            entries.push_back({r, name_of(hyl::g_table_image, "NAMEOBJ", r), name_of(hyl::g_table_image, "NAMEEQU", r),
                               hyl::Plan_GetDate("TIMERZN", r), hyl::Plan_GetDate("TIMERZK", r)});
        loaded = hyl::g_table_image.block != nullptr;
        hyl::Plan_FreeResource();
        hyl::Plan_SetDrive(nullptr);
        text = shown.text();
    }
    if (!loaded) raise(Failure::kError, text.empty() ? "the plan cannot be read" : text);
    return entries;
}

}  // namespace

void bind_plan(py::module_& m) {
    m.def("plan", [](const std::string& object, const std::string& equipment, py::handle from, py::handle to, char letter,
                     const std::string& root) {
        py::list out;
        for (const Entry& e : search(object, equipment, date_of(from), date_of(to), letter, root))
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
        for (const Entry& e : search(object, equipment, request.from, request.to, letter, root))
            request.entries.push_back({e.record, e.object, e.equipment, e.first_day, e.day_after_last});
        return hyl::plan_chart_svg(request);
    });
}

}  // namespace hylpy
