// Writing tables: new ones made, records appended, changed in place,
// deleted and undeleted, and tables packed, all through the one writer of
// tables (writing/table_writer.h, writing/pack.h) that the tool writes
// through too.  A table written is held as an append holds it: others may
// read it, none may write it.  Every value is checked by its type's rule
// (tables/fieldtypes.h) before anything is written, and what a call
// writes is on the disk when it returns.
#include <pybind11/pybind11.h>

#include <datetime.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "lowlevel/lv.h"
#include "platform/platform.h"
#include "python/src/package.h"
#include "tables/table.h"
#include "writing/definition.h"
#include "writing/pack.h"
#include "writing/table_writer.h"

namespace hylpy {
namespace {

using hyl::FieldRule;
using hyl::ValueKind;

constexpr std::size_t kProblemsShown = 20;

// The problems found, a line each: "stock.dbf: rows[3], field QTY: what is
// wrong"; ITEM is the index in the rows of write_many, the records of an
// update or the fields of create, -1 for none.
class Problems {
public:
    Problems(std::string table, std::string items) : table_(std::move(table)), items_(std::move(items)) {}
    void add(int64_t item, const std::string& field, const std::string& what) {
        std::string line = table_ + ": ";
        if (item >= 0) line += items_ + "[" + std::to_string(item) + "]" + (field.empty() ? ": " : ", ");
        if (!field.empty()) line += field + ": ";
        lines_.push_back({item, line + what});
    }
    bool empty() const { return lines_.empty(); }
    // In the order of the items, those of one item in the order found.
    void sort() {
        std::stable_sort(lines_.begin(), lines_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    // ValueError with the first problems, how many there were and what became of the table.
    [[noreturn]] void raise_all(const std::string& outcome) const {
        std::string text;
        for (std::size_t i = 0; i < lines_.size() && i < kProblemsShown; ++i) text += lines_[i].second + "\n";
        if (lines_.size() > kProblemsShown) text += "... and " + std::to_string(lines_.size() - kProblemsShown) + " more\n";
        text += std::to_string(lines_.size()) + (lines_.size() == 1 ? " problem" : " problems") + "; nothing written: " + outcome;
        raise(Failure::kValue, text);
    }

private:
    std::string table_, items_;
    std::vector<std::pair<int64_t, std::string>> lines_;
};

std::string repr_of(py::handle value) { return py::repr(value).cast<std::string>(); }

void replace_all(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The writer's words with its options as Python spells them.
std::string pythonic(std::string text) {
    replace_all(text, "--drop-index, drop_index=True", "drop_index=True");
    replace_all(text, "--format vfp", "format='vfp'");
    return text;
}

Failure failure_of(hyl::WriteStatus status) {
    switch (status) {
        case hyl::WriteStatus::kMissing: return Failure::kMissing;
        case hyl::WriteStatus::kInUse: return Failure::kInUse;
        case hyl::WriteStatus::kNotATable: return Failure::kNotATable;
        default: return Failure::kError;  // a production index, a cut short edit, a failed write
    }
}

// What a field holds, as a refusal names it.
std::string holds(const hyl::TableField& f) {
    const std::string a = std::string(f.type == 'N' || f.type == 'F' ? "an " : "a ") + f.type + " field holds ";
    switch (f.rule) {
        case FieldRule::kNumber: return a + "numbers (int, float, Decimal or str)";
        case FieldRule::kDate: return a + "dates (datetime.date)";
        case FieldRule::kLogical: return a + "True, False or None";
        case FieldRule::kInteger: return a + "whole numbers (int)";
        case FieldRule::kDouble: return a + "numbers (float or int)";
        case FieldRule::kCurrency: return a + "amounts (Decimal, int, float or str)";
        case FieldRule::kDateTime: return a + "dates and times (datetime.datetime or datetime.date)";
        case FieldRule::kVarbinary: return a + "bytes";
        case FieldRule::kMemo: return a + (f.binary ? "bytes" : "text (str)");
        default: return a + "text (str)";
    }
}

// VALUE as the typed value field F's rule takes, or false with *PROBLEM
// when Python's type of it is not one the field can hold.  Text (str) goes
// to the rule of any field but a binary one, which reads it as the tool
// reads a CSV value.
bool value_of(const hyl::TableField& f, py::handle value, hyl::Value* out, std::string* problem) {
    PyObject* v = value.ptr();
    out->kind = ValueKind::kString;
    out->text.clear();
    if (value.is_none()) {
        out->kind = ValueKind::kNull;
        return true;
    }
    const bool binary = f.rule == FieldRule::kVarbinary || (f.rule == FieldRule::kMemo && f.binary);
    if (PyBytes_Check(v) || PyByteArray_Check(v) || PyMemoryView_Check(v)) {
        if (!binary) {
            *problem = f.rule == FieldRule::kMemo
                           ? "bytes given to a text memo: an M field holds text (str); decode them, or keep them in a "
                             "binary field (G, in a Visual FoxPro table)"
                           : repr_of(value) + " is bytes; " + holds(f);
            return false;
        }
        const py::bytes bytes = py::reinterpret_steal<py::bytes>(PyBytes_FromObject(v));
        if (!bytes) throw py::error_already_set();
        out->kind = ValueKind::kBinary;
        out->text = bytes;
        return true;
    }
    if (binary) return *problem = repr_of(value) + " is not bytes; " + holds(f), false;
    if (PyUnicode_Check(v)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(v, &size);
        if (!utf8) throw py::error_already_set();
        out->text.assign(utf8, static_cast<std::size_t>(size));
        return true;
    }
    const bool number = !PyBool_Check(v) && PyNumber_Check(v) && !PyDate_Check(v);
    // A whole number as the rules take it: an integer, or its digits past 64 bits.
    auto whole = [&]() {
        const py::object n = PyLong_Check(v) ? py::reinterpret_borrow<py::object>(value)
                                              : py::reinterpret_steal<py::object>(PyNumber_Index(v));
        if (!n) throw py::error_already_set();
        int overflow = 0;
        out->integer = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
        out->kind = overflow ? ValueKind::kString : ValueKind::kInteger;
        if (overflow) out->text = py::str(n).cast<std::string>();
        return true;
    };
    auto real = [&]() {
        out->kind = ValueKind::kDouble;
        out->real = PyFloat_AS_DOUBLE(v);
        return true;
    };
    switch (f.rule) {
        case FieldRule::kNumber:
        case FieldRule::kDouble:
        case FieldRule::kCurrency:
        case FieldRule::kInteger:
            if (!number) break;
            if (PyFloat_Check(v)) return real();
            if (PyLong_Check(v) || PyIndex_Check(v)) return whole();
            if (f.rule == FieldRule::kInteger) break;
            // A Decimal, in its digits: never with an exponent, which the rules refuse.
            out->text = py::str(py::module_::import("builtins").attr("format")(value, "f")).cast<std::string>();
            return true;
        case FieldRule::kDate: {
            int y = 0, m = 0, d = 0;
            bool time_of_day = false;
            if (!calendar_date(value, &y, &m, &d, &time_of_day)) break;
            if (time_of_day) return *problem = repr_of(value) + " has a time of day; a D field holds the date alone", false;
            hyl::Date_Days(y, static_cast<unsigned>(m), static_cast<unsigned>(d), &out->integer);
            out->kind = ValueKind::kDate;
            return true;
        }
        case FieldRule::kDateTime: {
            if (!PyDate_Check(v)) break;
            int y = PyDateTime_GET_YEAR(v), m = PyDateTime_GET_MONTH(v), d = PyDateTime_GET_DAY(v);
            int64_t days = 0;
            hyl::Date_Days(y, static_cast<unsigned>(m), static_cast<unsigned>(d), &days);
            out->kind = ValueKind::kDate;
            out->integer = days;
            if (!PyDateTime_Check(v)) return true;
            if (!value.attr("tzinfo").is_none())
                return *problem = repr_of(value) + " has a zone; a T field holds a naive datetime", false;
            const int micro = PyDateTime_DATE_GET_MICROSECOND(v);
            if (micro % 1000)
                return *problem = repr_of(value) + " has microseconds; a T field holds milliseconds (round it first)", false;
            out->kind = ValueKind::kDateTime;
            out->integer = days * hyl::kDayMilliseconds +
                           ((PyDateTime_DATE_GET_HOUR(v) * 60 + PyDateTime_DATE_GET_MINUTE(v)) * 60 +
                            PyDateTime_DATE_GET_SECOND(v)) * int64_t{1000} + micro / 1000;
            return true;
        }
        case FieldRule::kLogical:
            if (!PyBool_Check(v)) break;
            out->kind = ValueKind::kBool;
            out->boolean = v == Py_True;
            return true;
        default: break;
    }
    if (f.rule == FieldRule::kText || f.rule == FieldRule::kVarchar || f.rule == FieldRule::kMemo)
        return *problem = repr_of(value) + " is not text", false;
    if (f.rule == FieldRule::kLogical)
        return *problem = repr_of(value) + " is not a logical value (True, False or None)", false;
    if (f.rule == FieldRule::kNumber) return *problem = repr_of(value) + " is not a number", false;
    return *problem = repr_of(value) + ": " + holds(f), false;
}

// A table open for writing: appends (hyl.append) and changes in place
// (hyl.edit).  Its own TableWriter, held from open to close.
//
// Values are made into records with the GIL held and without the mutex
// (the fields, the code page and the record's length, which drafts read, do
// not change while the table is open, and close keeps them); whatever
// touches the files runs with the GIL released and the mutex held.
class Writer {
public:
    Writer(const py::bytes& path_bytes, const std::string& name, const std::string& encoding, bool drop_index)
        : path_(path_bytes), name_(name) {
        // The library's retries, and its words, for a table another program holds.
        wait_for_table(path_, hyl::kModeUpdate, name, encoding);
        hyl::WriteOutcome opened;
        {
            py::gil_scoped_release released;
            std::lock_guard<std::mutex> lock(mutex_);
            hyl::WriterOptions options;
            options.encoding = encoding;
            options.drop_index = drop_index;
            opened = writer_.open(path_, options);
        }
        if (!opened.ok()) raise(failure_of(opened.status), name + ": " + pythonic(opened.why) + "; nothing written");
        open_ = true;
        for (std::size_t i = 0; i < writer_.fields().size(); ++i) {
            const hyl::TableField& f = writer_.fields()[i];
            if (f.hidden) continue;
            shown_.push_back(static_cast<int32_t>(i));
            names_[py::str(f.name)] = py::int_(i);
        }
    }

    ~Writer() {
        if (open_) writer_.close();
    }

    py::list fields() const {
        py::list out;
        for (int32_t i : shown_) {
            const hyl::TableField& f = writer_.fields()[static_cast<std::size_t>(i)];
            out.append(py::make_tuple(f.name, std::string(1, f.type), f.length, f.decimals, f.nullable));
        }
        return out;
    }

    std::string encoding() const { return hyl::CodePage_PythonName(writer_.codec().codepage()); }
    std::string notice() const { return pythonic(writer_.notice()); }

    int64_t size() {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(mutex_);
        return writer_.record_count();
    }

    void write(py::handle row) {
        Problems problems(name_, "rows");
        std::vector<hyl::RecordDraft> drafts(1);
        std::vector<hyl::Value> values(writer_.fields().size());
        draft(row, -1, values, problems, drafts[0]);
        if (!problems.empty()) problems.raise_all(name_ + " is unchanged");
        run([&] { return writer_.append(drafts); }, "the record");
    }

    int64_t write_many(py::iterable rows) {
        Problems problems(name_, "rows");
        std::vector<hyl::RecordDraft> drafts;
        std::vector<hyl::Value> values(writer_.fields().size());  // their storage kept from row to row
        int64_t n = 0;
        for (py::handle row : rows) {
            drafts.emplace_back();
            draft(row, n++, values, problems, drafts.back());
        }
        if (!problems.empty()) problems.raise_all(name_ + " is unchanged");
        run([&] { return writer_.append(drafts); }, std::to_string(n) + (n == 1 ? " record" : " records"));
        return n;
    }

    // CHANGES: a mapping of record numbers (negative ones from the end) to
    // mappings of field names to values.
    int64_t update_many(py::handle changes) {
        if (!PyDict_Check(changes.ptr()) && !py::hasattr(changes, "items"))
            throw py::type_error("updates are a mapping of record numbers to mappings of field names to values");
        Problems problems(name_, "records");
        // Each change: its record and its values, VALUES[first, end).
        struct Change {
            int64_t record;
            std::size_t first, end;
        };
        std::vector<Change> wanted;
        std::vector<std::pair<int32_t, hyl::Value>> values;
        const int64_t count = size();
        each_item(changes, [&](py::handle number, py::handle fields) {
            const int64_t record = record_of(number, count);
            wanted.push_back({record, values.size(), values.size()});
            if (!PyDict_Check(fields.ptr()) && !py::hasattr(fields, "items")) {
                problems.add(record, "", repr_of(fields) + " is not a mapping of field names to values");
                return;
            }
            each_item(fields, [&](py::handle name, py::handle value) {
                const int32_t field = field_of(name, record, problems);
                if (field < 0) return;
                const hyl::TableField& f = writer_.fields()[static_cast<std::size_t>(field)];
                values.emplace_back(field, hyl::Value{});
                std::string problem;
                if (!value_of(f, value, &values.back().second, &problem)) {
                    problems.add(record, "field " + f.name, problem);
                    values.pop_back();
                }
            });
            wanted.back().end = values.size();
        });
        // In the order of the file, which its reads and writes then follow.
        std::stable_sort(wanted.begin(), wanted.end(), [](const Change& a, const Change& b) { return a.record < b.record; });
        for (std::size_t i = 1; i < wanted.size(); ++i)
            if (wanted[i].record == wanted[i - 1].record)
                throw py::value_error(name_ + ": record " + std::to_string(wanted[i].record) +
                                      " is given twice (a negative number counts from the end)");
        // Each record read as it is and the values put in (the values above
        // refused left out, so that every problem is named at once), then
        // all written together under one journal, when nothing was refused.
        const bool fitting = problems.empty();
        struct Refusal {
            int64_t record;
            int32_t field;
            std::string what;
        };
        std::vector<Refusal> refused;
        hyl::WriteOutcome outcome;
        bool open = true;
        {
            py::gil_scoped_release released;
            std::lock_guard<std::mutex> lock(mutex_);
            open = writer_.is_open();
            std::vector<hyl::RecordDraft> drafts(wanted.size());
            std::vector<hyl::FieldProblem> found;
            std::vector<std::pair<int32_t, const hyl::Value*>> given;
            for (std::size_t i = 0; open && i < wanted.size(); ++i) {
                given.clear();
                for (std::size_t k = wanted[i].first; k < wanted[i].end; ++k) given.emplace_back(values[k].first, &values[k].second);
                found.clear();
                if (writer_.draft_change(wanted[i].record, given, {}, &drafts[i], &found)) continue;
                for (const hyl::FieldProblem& p : found) refused.push_back({wanted[i].record, p.field, p.what});
            }
            if (open && fitting && refused.empty()) outcome = writer_.update(drafts);
        }
        if (!open) raise(Failure::kValue, name_ + ": the table is closed");
        for (const Refusal& r : refused) problems.add(r.record, field_name(r.field), r.what);
        problems.sort();
        if (!problems.empty()) problems.raise_all(name_ + " is unchanged");
        if (!outcome.ok()) raise(Failure::kError, name_ + ": " + outcome.why);
        return static_cast<int64_t>(wanted.size());
    }

    int64_t set_deleted(py::iterable records, bool deleted) {
        const int64_t count = size();
        std::vector<int64_t> marked;
        for (py::handle r : records) marked.push_back(record_of(r, count));
        run([&] { return writer_.set_deleted(marked, deleted); }, "");
        return static_cast<int64_t>(marked.size());
    }

    void close() {
        if (!open_) return;
        open_ = false;
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(mutex_);
        writer_.close();
    }

private:
    // VISIT(key, value) for each item of MAPPING (a dict's without a list of them).
    template <typename Visit>
    static void each_item(py::handle mapping, Visit&& visit) {
        if (PyDict_Check(mapping.ptr())) {
            PyObject *key = nullptr, *value = nullptr;
            Py_ssize_t at = 0;
            while (PyDict_Next(mapping.ptr(), &at, &key, &value))
                visit(py::reinterpret_borrow<py::object>(key), py::reinterpret_borrow<py::object>(value));
            return;
        }
        for (py::handle item : mapping.attr("items")()) {
            const py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
            visit(pair[0], pair[1]);
        }
    }

    // The record number of NUMBER (an int; negative from the end), or IndexError.
    int64_t record_of(py::handle number, int64_t count) const {
        if (PyBool_Check(number.ptr()) || !PyIndex_Check(number.ptr()))
            throw py::type_error("a record number is an int, not " + repr_of(number));
        int64_t r = py::cast<int64_t>(py::reinterpret_steal<py::object>(PyNumber_Index(number.ptr())));
        const int64_t given = r;
        if (r < 0) r += count;
        if (r < 0 || r >= count)
            throw py::index_error(name_ + ": record " + std::to_string(given) + " is not in the table (it has " +
                                  std::to_string(count) + " records, 0 to " + std::to_string(count - 1) + ")");
        return r;
    }

    // The field KEY names (any letter case), or -1 with the problem added.
    int32_t field_of(py::handle key, int64_t where, Problems& problems) {
        PyObject* known = PyDict_GetItemWithError(names_.ptr(), key.ptr());
        if (known) return static_cast<int32_t>(PyLong_AsLong(known));
        if (PyErr_Occurred()) throw py::error_already_set();
        if (PyUnicode_Check(key.ptr())) {
            const std::string wanted = py::str(key).cast<std::string>();
            for (int32_t i : shown_)
                if (hyl::Definition_SameName(writer_.fields()[static_cast<std::size_t>(i)].name, wanted)) {
                    names_[key] = py::int_(i);  // found at once the next time
                    return i;
                }
        }
        problems.add(where, "", name_ + " has no field " + (PyUnicode_Check(key.ptr()) ? hyl::Text_Quoted(py::str(key).cast<std::string>())
                                                                                       : repr_of(key)));
        return -1;
    }

    std::string field_name(int32_t field) const {
        if (field < 0 || field >= static_cast<int32_t>(writer_.fields().size())) return "";
        return "field " + writer_.fields()[static_cast<std::size_t>(field)].name;
    }

    // ROW (a mapping of field names to values, or a sequence of values in
    // field order) made into OUT, through VALUES (one a field); fields it
    // leaves out hold no value.  What does not fit is added to PROBLEMS.
    void draft(py::handle row, int64_t where, std::vector<hyl::Value>& values, Problems& problems, hyl::RecordDraft& out) {
        std::vector<const hyl::Value*> given(writer_.fields().size(), nullptr);
        auto put = [&](int32_t field, py::handle value) {
            const hyl::TableField& f = writer_.fields()[static_cast<std::size_t>(field)];
            hyl::Value& v = values[static_cast<std::size_t>(field)];
            std::string problem;
            if (value_of(f, value, &v, &problem))
                given[static_cast<std::size_t>(field)] = &v;
            else
                problems.add(where, "field " + f.name, problem);
        };
        PyObject* r = row.ptr();
        // Tuples and lists first: asking them for keys() would cost an AttributeError a row.
        const bool sequence = PyTuple_Check(r) || PyList_Check(r);
        if (!sequence && (PyDict_Check(r) || py::hasattr(row, "keys"))) {
            const py::dict items = PyDict_Check(r) ? py::reinterpret_borrow<py::dict>(row) : py::dict(py::reinterpret_borrow<py::object>(row));
            for (auto item : items) {
                const int32_t field = field_of(item.first, where, problems);
                if (field >= 0) put(field, item.second);
            }
        } else if (PySequence_Check(r) && !PyUnicode_Check(r) && !PyBytes_Check(r)) {
            const py::sequence items = py::reinterpret_borrow<py::sequence>(row);
            if (items.size() != shown_.size()) {
                problems.add(where, "", std::to_string(items.size()) + " values; the table has " +
                                            std::to_string(shown_.size()) + " fields");
                return;
            }
            for (std::size_t i = 0; i < shown_.size(); ++i) put(shown_[i], items[i]);
        } else {
            problems.add(where, "", repr_of(row) + " is neither a mapping of field names to values nor a sequence of values");
            return;
        }
        std::vector<hyl::FieldProblem> found;
        if (!writer_.draft(given, {}, &out, &found))
            for (const hyl::FieldProblem& p : found) problems.add(where, field_name(p.field), p.what);
    }

    // WORK (the writer's) run with the GIL released; hyl.Error when it fails.
    template <typename Work>
    void run(Work&& work, const std::string& what) {
        hyl::WriteOutcome outcome;
        bool open = true;
        {
            py::gil_scoped_release released;
            std::lock_guard<std::mutex> lock(mutex_);
            open = writer_.is_open();
            if (open) outcome = work();
        }
        if (!open) raise(Failure::kValue, name_ + ": the table is closed");
        if (outcome.status == hyl::WriteStatus::kRefused) raise(Failure::kValue, name_ + ": " + outcome.why);
        if (!outcome.ok())
            raise(Failure::kError, name_ + ": " + outcome.why + (what.empty() ? "" : " (" + what + " not written)"));
    }

    std::string path_, name_;
    std::mutex mutex_;
    hyl::TableWriter writer_;
    bool open_ = false;
    std::vector<int32_t> shown_;   // the fields handed out: all but _NullFlags
    py::dict names_;               // a name as given -> its field
};

// The definitions of a new table of FORMAT, checked as import checks its header row.
std::vector<hyl::TableField> checked_definitions(const std::string& name, py::iterable fields, const hyl::TextCodec& codec,
                                                 hyl::TableFormat format) {
    Problems problems(name, "fields");
    std::vector<hyl::TableField> defs;
    auto text = [](py::handle part) {
        // No length, or 0: the type's one length.
        if (part.is_none() || (PyLong_Check(part.ptr()) && !PyBool_Check(part.ptr()) && py::cast<int64_t>(part) == 0))
            return std::string();
        return py::str(part).cast<std::string>();
    };
    for (py::handle definition : fields) {
        const auto where = static_cast<int64_t>(defs.size());
        defs.emplace_back();
        std::string problem;
        if (!PyTuple_Check(definition.ptr()) && !PyList_Check(definition.ptr())) {
            problems.add(where, "", repr_of(definition) + " is not (NAME, TYPE[, LENGTH[, DECIMALS[, NULLABLE]]])");
            continue;
        }
        const py::sequence t = py::reinterpret_borrow<py::sequence>(definition);
        if (t.size() < 2 || t.size() > 5) {
            problems.add(where, "", repr_of(definition) + " is not (NAME, TYPE[, LENGTH[, DECIMALS[, NULLABLE]]])");
            continue;
        }
        const std::string field = py::str(t[0]).cast<std::string>();
        const std::string type = py::str(t[1]).cast<std::string>();
        const std::string length = t.size() >= 3 ? text(t[2]) : "";
        const std::string decimals = t.size() >= 4 && !t[3].is_none() ? py::str(t[3]).cast<std::string>() : "0";
        const bool nullable = t.size() == 5 && py::bool_(t[4]);
        if (hyl::Definition_Make(codec, format, field, type, length, decimals, nullable, &defs.back(), &problem))
            for (std::size_t k = 0; k + 1 < defs.size() && problem.empty(); ++k)
                if (hyl::Definition_SameName(defs[k].name, field))
                    problem = "field name " + hyl::Text_Quoted(field) + " is repeated (fields[" + std::to_string(k) + "] has it)";
        if (!problem.empty()) problems.add(where, "", pythonic(problem));
    }
    if (defs.empty()) problems.add(-1, "", "a table needs at least one field");
    for (const std::string& problem : hyl::Definition_CheckTable(format, defs)) problems.add(-1, "", problem);
    if (!problems.empty()) problems.raise_all(name + " was not made");
    return defs;
}

void create(const py::bytes& path_bytes, const std::string& name, py::iterable fields, int format, int codepage) {
    const std::string path = path_bytes;
    hyl::TextCodec codec;
    if (!codec.set(codepage)) raise(Failure::kEncoding, hyl::CodePage_Name(codepage) + " is not one this system converts");
    hyl::NewTable table;
    table.format = static_cast<hyl::TableFormat>(format);
    table.codepage = codepage;
    table.fields = checked_definitions(name, fields, codec, table.format);
    // A table another program holds is waited for as the library waits,
    // and refused in its words, before anything beside it is touched.
    if (hyl::File_Exists(path)) wait_for_table(path, hyl::kModeUpdate, name, "");
    hyl::WriteOutcome made;
    {
        py::gil_scoped_release released;
        made = hyl::TableWriter::create(path, table);
    }
    if (!made.ok()) raise(failure_of(made.status), name + ": " + made.why + "; no table made");
}

py::object size_or_none(int64_t n) { return n < 0 ? py::object(py::none()) : py::object(py::int_(n)); }

py::tuple pack(const py::bytes& path_bytes, const std::string& name, bool backup, bool drop_index,
               const std::string& encoding) {
    const std::string path = path_bytes;
    wait_for_table(path, hyl::kModeUpdate, name, encoding);
    hyl::PackReport report;
    hyl::WriteOutcome packed;
    {
        py::gil_scoped_release released;
        hyl::PackOptions options;
        options.backup = backup;
        options.drop_index = drop_index;
        options.encoding = encoding;
        packed = hyl::Table_Pack(path, options, &report);
    }
    if (!packed.ok()) raise(failure_of(packed.status), name + ": " + pythonic(packed.why));
    py::list backups;
    for (const std::string& b : report.backups) backups.append(py::bytes(b));
    return py::make_tuple(report.kept, report.removed, size_or_none(report.memo_before), size_or_none(report.memo_after),
                          backups, pythonic(report.notice));
}

}  // namespace

void bind_writer(py::module_& m) {
    if (!PyDateTimeAPI) PyDateTime_IMPORT;
    m.def("create", &create);
    m.def("pack", &pack);
    m.def("codepage", [](const std::string& name) { return hyl::CodePage_FromName(name); },
          "The code page a name stands for, 0 for none.");
    py::class_<Writer>(m, "Writer")
        .def(py::init<const py::bytes&, const std::string&, const std::string&, bool>())
        .def("fields", &Writer::fields)
        .def("encoding", &Writer::encoding)
        .def("notice", &Writer::notice)
        .def("__len__", &Writer::size)
        .def("write", &Writer::write)
        .def("write_many", &Writer::write_many)
        .def("update_many", &Writer::update_many)
        .def("set_deleted", &Writer::set_deleted)
        .def("close", &Writer::close);
}

}  // namespace hylpy
