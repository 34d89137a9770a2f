// The module hyl._core: the library's platform as the package runs it
// (nothing shown, every message kept for the exception of the call that
// made it), the exceptions, and the date conversions.
#include <pybind11/pybind11.h>

#include <datetime.h>

#include <atomic>
#include <chrono>
#include <cmath>

#include "lowlevel/lv.h"
#include "platform/codepage.h"
#include "platform/platform.h"
#include "platform/threads.h"
#include "python/src/package.h"
#include "tables/codepage.h"
#include "textime/dates.h"
#include "textime/localsec.h"

namespace hylpy {

PyObject* g_binary_memo = nullptr;
namespace {

using namespace std::chrono;

thread_local Shown* t_shown = nullptr;
thread_local char t_drive_letter = 0;
thread_local const std::string* t_drive_root = nullptr;
std::atomic<bool> g_no_waits{false};

// The exceptions of hyl/__init__.py, handed over at import.
PyObject* g_error = nullptr;
PyObject* g_in_use = nullptr;
PyObject* g_not_a_table = nullptr;

const hyl::PlatformOps& native() { return hyl::native_platform(); }

void package_message_box(const char* text, const char*) {
    if (t_shown) t_shown->box(text);
}
void package_screen_line(const char* text, int, int) {
    if (t_shown) t_shown->line(text);
}
void package_beep() {}
void package_sleep_ms(uint32_t ms) {
    if (!g_no_waits.load(std::memory_order_relaxed)) native().sleep_ms(ms);
}

int32_t package_file_open(const char* path, int32_t flags) {
    if (t_drive_root && path && (path[0] & ~0x20) == t_drive_letter && path[1] == ':') {
        std::string mapped = *t_drive_root;
        std::string rest = path + 2;
        for (char& c : rest)
            if (c == '\\') c = '/';
        if (!rest.empty() && rest[0] != '/') mapped += '/';
        return native().file_open((mapped + rest).c_str(), flags);
    }
    return native().file_open(path, flags);
}

hyl::PlatformOps package_platform() {
    hyl::PlatformOps ops = native();
    ops.file_open = package_file_open;
    ops.message_box = package_message_box;
    ops.screen_line = package_screen_line;
    ops.beep = package_beep;
    ops.sleep_ms = package_sleep_ms;
    return ops;
}

constexpr sys_days kDateEpoch{1899y / December / 30};

}  // namespace

Shown::Shown(std::vector<std::string> verbatim) : verbatim_(std::move(verbatim)), outer_(t_shown) { t_shown = this; }
Shown::~Shown() { t_shown = outer_; }

std::string Shown::utf8(const char* ansi) const {
    // The paths inside a message are as they were given (UTF-8 natively);
    // only the library's own words around them are Windows-1251.
    std::string_view rest(ansi);
    std::string out;
    while (!rest.empty()) {
        std::size_t at = std::string_view::npos, length = 0;
        for (const std::string& v : verbatim_) {
            const std::size_t found = v.empty() ? std::string_view::npos : rest.find(v);
            if (found < at) at = found, length = v.size();
        }
        out += hyl::ansi_to_utf8(rest.substr(0, at));
        if (at == std::string_view::npos) break;
        out += rest.substr(at, length);
        rest.remove_prefix(at + length);
    }
    return out;
}

std::string Shown::text() const {
    std::string out = busy_line_;
    for (const std::string& b : boxes_) out += (out.empty() ? "" : "\n") + b;
    return out;
}

DriveRoot::DriveRoot(char letter, std::string root) {
    t_drive_letter = static_cast<char>(letter & ~0x20);
    t_drive_root = new std::string(std::move(root));
}
DriveRoot::~DriveRoot() {
    delete t_drive_root;
    t_drive_root = nullptr;
    t_drive_letter = 0;
}

void raise(Failure kind, const std::string& text) {
    PyObject* type = PyExc_ValueError;
    switch (kind) {
        case Failure::kError: type = g_error; break;
        case Failure::kInUse: type = g_in_use; break;
        case Failure::kNotATable: type = g_not_a_table; break;
        case Failure::kMissing: type = PyExc_FileNotFoundError; break;
        case Failure::kDenied: type = PyExc_PermissionError; break;
        case Failure::kValue: type = PyExc_ValueError; break;
        case Failure::kEncoding: type = PyExc_LookupError; break;
    }
    PyErr_SetString(type ? type : PyExc_RuntimeError, text.c_str());
    throw py::error_already_set();
}

Failure failure_of_open(int32_t last_error) {
    switch (last_error) {
        case hyl::kErrorSharingViolation: return Failure::kInUse;
        case hyl::kErrorFileNotFound:
        case 3:  // no such folder
            return Failure::kMissing;
        case hyl::kErrorAccessDenied: return Failure::kDenied;
        default: return Failure::kError;
    }
}

Failure failure_of(hyl::ReaderStatus status) {
    switch (status) {
        case hyl::ReaderStatus::kMissing: return Failure::kMissing;
        case hyl::ReaderStatus::kInUse: return Failure::kInUse;
        case hyl::ReaderStatus::kNotATable:
        case hyl::ReaderStatus::kOtherLayout: return Failure::kNotATable;
        case hyl::ReaderStatus::kUnknownEncoding: return Failure::kEncoding;
        default: return Failure::kError;
    }
}

void wait_for_table(const std::string& path, int32_t mode, const std::string& name, const std::string& encoding) {
    check_encoding(encoding);
    std::string text;
    int32_t error = 0;
    {
        py::gil_scoped_release released;
        hyl::LibraryLock lock;
        Shown shown({path});
        const int32_t handle = hyl::lvv_open(path.c_str(), mode, hyl::kOpenAttempts);
        if (handle != -1) {
            hyl::lvv_close(handle);
            return;
        }
        error = hyl::platform().last_error();
        text = shown.text();
    }
    const Failure failure = failure_of_open(error);
    if (text.empty())
        text = name + (failure == Failure::kMissing ? ": no such file" : ": cannot be opened");
    raise(failure, text);
}

void check_encoding(const std::string& encoding) {
    if (encoding.empty()) return;
    hyl::TextCodec codec;
    const int codepage = hyl::CodePage_FromName(encoding);
    if (codepage == 0) raise(Failure::kEncoding, "'" + encoding + "' names no code page");
    if (!codec.set(codepage)) raise(Failure::kEncoding, hyl::CodePage_Name(codepage) + " is not one this system converts");
}

bool single_byte(const hyl::TextCodec& codec) {
    return codec.codepage() != hyl::kCodePageUtf8 && !codec.multibyte();
}

char32_t character_of(const hyl::TextCodec& codec, uint8_t byte, bool* valid) {
    const char b = static_cast<char>(byte);
    std::string utf8;
    *valid = codec.append_utf8(utf8, std::string_view(&b, 1)) == 0;
    std::size_t at = 0;
    char32_t c = 0xFFFD;
    hyl::Utf8_Next(utf8, &at, &c);
    return c;
}

double date_of(py::handle value) {
    PyObject* v = value.ptr();
    if (!PyDate_Check(v)) throw py::value_error(py::repr(value).cast<std::string>() + " is not a date or datetime");
    const year_month_day ymd{year{PyDateTime_GET_YEAR(v)}, month{static_cast<unsigned>(PyDateTime_GET_MONTH(v))},
                             day{static_cast<unsigned>(PyDateTime_GET_DAY(v))}};
    double seconds = 0;
    if (PyDateTime_Check(v)) {
        if (!value.attr("tzinfo").is_none())
            throw py::value_error("a naive datetime is wanted (local or GMT wall-clock time), not one with a zone");
        seconds = PyDateTime_DATE_GET_HOUR(v) * 3600 + PyDateTime_DATE_GET_MINUTE(v) * 60 +
                  PyDateTime_DATE_GET_SECOND(v) + PyDateTime_DATE_GET_MICROSECOND(v) / 1e6;
    }
    return static_cast<double>((sys_days{ymd} - kDateEpoch).count()) + seconds / 86400.0;
}

py::object datetime_of(double date) {
    int64_t seconds = 0;
    if (!hyl::Dt_SecondsFromDate(date, &seconds)) return py::none();
    const int64_t day = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const int64_t of_day = seconds - day * 86400;
    const year_month_day ymd{kDateEpoch + days{day}};
    PyObject* dt = PyDateTime_FromDateAndTime(static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                                              static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(of_day / 3600),
                                              static_cast<int>(of_day / 60 % 60), static_cast<int>(of_day % 60), 0);
    if (!dt) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(dt);
}

bool calendar_date(py::handle value, int* y, int* m, int* d, bool* time_of_day) {
    PyObject* v = value.ptr();
    if (!PyDate_Check(v)) return false;
    *y = PyDateTime_GET_YEAR(v);
    *m = PyDateTime_GET_MONTH(v);
    *d = PyDateTime_GET_DAY(v);
    *time_of_day = PyDateTime_Check(v) && (PyDateTime_DATE_GET_HOUR(v) || PyDateTime_DATE_GET_MINUTE(v) ||
                                          PyDateTime_DATE_GET_SECOND(v) || PyDateTime_DATE_GET_MICROSECOND(v));
    return true;
}

PyObject* new_date(int64_t days_since_1970) {
    const year_month_day ymd{sys_days{days{days_since_1970}}};
    return PyDate_FromDate(static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                           static_cast<int>(static_cast<unsigned>(ymd.day())));
}

PyObject* new_datetime(int64_t milliseconds) {
    int64_t day = milliseconds / 86400000, ms = milliseconds % 86400000;
    if (ms < 0) ms += 86400000, --day;
    const year_month_day ymd{sys_days{days{day}}};
    return PyDateTime_FromDateAndTime(static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                                      static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(ms / 3600000),
                                      static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                                      static_cast<int>(ms % 1000) * 1000);
}

namespace {

// A conversion's answer: 0.0 is the library's word for "cannot be".
py::object converted(double result, const char* what) {
    if (result == 0.0) throw py::value_error(std::string(what) + " cannot be converted");
    return datetime_of(result);
}

}  // namespace
}  // namespace hylpy

PYBIND11_MODULE(_core, m) {
    using namespace hylpy;
    PyDateTime_IMPORT;
    if (!PyDateTimeAPI) throw py::error_already_set();
    // This module's own copy of the library: its platform shows nothing.
    hyl::install_platform(package_platform());

    m.def("_errors", [](py::object error, py::object in_use, py::object not_a_table) {
        g_error = error.release().ptr();
        g_in_use = in_use.release().ptr();
        g_not_a_table = not_a_table.release().ptr();
    });
    m.def("_binary_memo", [](py::object type) { g_binary_memo = type.release().ptr(); });
    m.def("_no_waits", [](bool on) { g_no_waits = on; },
          "Tests: the library's pauses (busy-file retries, plan reloads) take no time.");
    m.def("to_local", [](py::handle gmt) { return converted(hyl::Dt_GmtToLocal(date_of(gmt)), "the time"); });
    m.def("to_gmt", [](py::handle local) { return converted(hyl::Dt_LocalToGmt(date_of(local)), "the time"); });
    m.def("from_epoch", [](double seconds) {
        return converted(hyl::Dt_DateFromSeconds1970(seconds), "the count of seconds");
    });
    bind_plan(m);
    bind_reader(m);
    bind_writer(m);
    bind_checks(m);
}
