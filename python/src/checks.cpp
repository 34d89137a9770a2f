// Finding and mending damage: hyl check and hyl repair, their reports as
// plain Python values (hyl/__init__.py makes them Report and Finding).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "lowlevel/lv.h"
#include "python/src/package.h"
#include "tables/check.h"
#include "tables/repair.h"

namespace hylpy {
namespace {

py::object number_or_none(int64_t n) { return n < 0 ? py::object(py::none()) : py::object(py::int_(n)); }

py::dict report_of(const hyl::CheckReport& r) {
    py::list findings;
    const std::vector<bool> mends = hyl::Repair_Mends(r);
    for (std::size_t i = 0; i < r.findings.size(); ++i) {
        const hyl::Finding& f = r.findings[i];
        py::list examples;
        for (const hyl::FindingExample& e : f.examples) examples.append(py::make_tuple(e.record, e.value));
        findings.append(py::make_tuple(hyl::Check_ProblemCode(f.problem), f.message, number_or_none(f.record),
                                       number_or_none(f.field), f.count, examples, static_cast<bool>(mends[i])));
    }
    py::dict out;
    out["sound"] = r.sound();
    out["records"] = r.extent.counted;
    out["fields"] = r.field_count;
    out["findings"] = findings;
    out["code_page"] = r.code_page;
    out["memo_file"] = r.memo_file.empty() ? py::object(py::none()) : py::object(py::bytes(r.memo_file));
    return out;
}

[[noreturn]] void raise_not_checked(const hyl::CheckReport& r, const std::string& name) {
    const Failure kind = r.status == hyl::SnapshotStatus::kMissing     ? Failure::kMissing
                         : r.status == hyl::SnapshotStatus::kInUse     ? Failure::kInUse
                         : r.status == hyl::SnapshotStatus::kNotATable ? Failure::kNotATable
                                                                      : Failure::kError;
    raise(kind, name + ": " + r.why);
}

}  // namespace

void bind_checks(py::module_& m) {
    m.def("check", [](const py::bytes& path_bytes, const std::string& name, const std::string& encoding) {
        const std::string path = path_bytes;
        wait_for_table(path, hyl::kModeShareRead, name, encoding);
        hyl::CheckReport report;
        {
            py::gil_scoped_release released;
            hyl::ReaderOptions options;
            options.encoding = encoding;
            report = hyl::Check_Table(path.c_str(), {}, options);
        }
        if (!report.checked()) raise_not_checked(report, name);
        return report_of(report);
    });

    m.def("repair", [](const py::bytes& path_bytes, const std::string& name, bool dry_run, bool backup,
                       const std::string& encoding) {
        const std::string path = path_bytes;
        // Repair holds the table as an append does, so it waits as one.
        wait_for_table(path, dry_run ? hyl::kModeShareRead : hyl::kModeUpdate, name, encoding);
        hyl::RepairResult result;
        hyl::ReaderStatus status;
        std::string why;
        {
            py::gil_scoped_release released;
            // What repair would only say in words, the reader tells apart.
            hyl::TableReader table;
            status = table.open(path, {encoding});
            why = table.error();
        }
        if (status != hyl::ReaderStatus::kOpened) raise(failure_of(status), name + ": " + why);
        {
            py::gil_scoped_release released;
            hyl::RepairOptions options;
            options.dry_run = dry_run;
            options.backup = backup;
            options.encoding = encoding;
            result = hyl::Repair_Table(path.c_str(), options);
        }
        if (result.outcome == hyl::RepairOutcome::kCannotWork) {
            raise(result.refusal == hyl::RepairRefusal::kInUse ? Failure::kInUse : Failure::kError, name + ": " + result.why);
        }
        static const char* const kOutcomes[] = {"sound", "mended", "damage remains", ""};
        py::dict out;
        out["outcome"] = kOutcomes[static_cast<int>(result.outcome)];
        out["actions"] = py::cast(result.actions);
        out["backup"] = result.backup_path.empty() ? py::object(py::none()) : py::object(py::bytes(result.backup_path));
        out["after"] = report_of(result.after);
        return out;
    });
}

}  // namespace hylpy
