// The Python package's side of the library: what a call would have shown
// (kept per thread and raised as the exception's text), the exceptions,
// dates as Python has them, and the parts of the module.
//
// Rules every part keeps:
// - A Python object is touched only with the GIL held; file work, and every
//   wait of the library, runs with it released.
// - The GIL is never waited for while the library's lock or a table's own
//   mutex is held by the waiting thread, and neither of those is waited for
//   while the GIL is held, so no two threads can hold one and want the other.
// - The library's lock is held around whatever opens a file through lvv_open
//   (it remembers the last path for the whole process) and around the plan,
//   which lives in the one table image (the plan walk takes it itself).
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tables/table.h"

namespace hylpy {

namespace py = pybind11;

// What the library would have shown during a call on this thread, in UTF-8:
// the busy-file line (the last of the retries) and each message box.  From
// construction to destruction the thread's messages go here and nowhere
// else.  The library writes its messages in Windows-1251 around the paths it
// was given; those paths (VERBATIM) are kept as they are.
class Shown {
public:
    explicit Shown(std::vector<std::string> verbatim = {});
    ~Shown();
    Shown(const Shown&) = delete;
    Shown& operator=(const Shown&) = delete;

    // The busy line, then each box, a line each; empty when nothing was shown.
    std::string text() const;
    bool any_box() const { return !boxes_.empty(); }

    void box(const char* text) { boxes_.push_back(utf8(text)); }
    void line(const char* text) { busy_line_ = utf8(text); }

private:
    std::string utf8(const char* ansi) const;

    std::vector<std::string> verbatim_;
    std::vector<std::string> boxes_;
    std::string busy_line_;
    Shown* outer_;
};

// For a call on this thread: a path that begins with LETTER and a colon is
// looked up under ROOT (the plan's root=), backslashes becoming slashes.
class DriveRoot {
public:
    DriveRoot(char letter, std::string root);
    ~DriveRoot();
    DriveRoot(const DriveRoot&) = delete;
    DriveRoot& operator=(const DriveRoot&) = delete;
};

enum class Failure { kError, kInUse, kNotATable, kMissing, kDenied, kValue, kEncoding };

// The Python class binary memos are read as (hyl.BinaryMemo), set at import.
extern PyObject* g_binary_memo;

// Raises the exception of KIND with TEXT (the GIL held).
[[noreturn]] void raise(Failure kind, const std::string& text);
// The failure a failed open stands for, by the platform's last error.
Failure failure_of_open(int32_t last_error);

// The failure a table the reader did not open stands for.
Failure failure_of(hyl::ReaderStatus status);
// Checks ENCODING (check_encoding), then waits for PATH as the library
// waits for a busy table (20 attempts, about two seconds, the lines it
// would show kept) and lets it go; raises TableInUse, FileNotFoundError and
// the like when it cannot be had.  The reader, check and repair open tables
// once: this gives them the library's retries.  NAME is the path as the
// user wrote it.
void wait_for_table(const std::string& path, int32_t mode, const std::string& name, const std::string& encoding);
// Raises LookupError unless ENCODING is empty or names a code page this
// system converts.
void check_encoding(const std::string& encoding);

// Whether CODEC's code page has one byte a character.
bool single_byte(const hyl::TextCodec& codec);
// The character BYTE stands for in a single-byte code page; U+FFFD, and
// *VALID false, for a byte the code page does not use.
char32_t character_of(const hyl::TextCodec& codec, uint8_t byte, bool* valid);

// A local DATE (days since 1899-12-30, the fraction the time of day) and a
// naive datetime.  date_of takes a date or a naive datetime; ValueError else.
double date_of(py::handle value);
py::object datetime_of(double date);
// The calendar date of a date or a datetime (*TIME_OF_DAY when a
// datetime's time is not midnight); false for anything else.
bool calendar_date(py::handle value, int* year, int* month, int* day, bool* time_of_day);
// Days since 1970-01-01 into a date, and milliseconds since 1970 into a datetime.
PyObject* new_date(int64_t days);
PyObject* new_datetime(int64_t milliseconds);

void bind_reader(py::module_& m);
void bind_writer(py::module_& m);
void bind_checks(py::module_& m);
void bind_plan(py::module_& m);

}  // namespace hylpy
