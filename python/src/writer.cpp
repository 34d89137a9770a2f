// Creating tables and appending to them.  Each writer has a table of its
// own (never the exports' one current table), held as an append holds it:
// others may read it, none may write it.  Every value is checked by its
// type's rule (tables/fieldtypes.h), as the tool's import and append check
// theirs, before anything is written, and each record is appended as the
// library appends one: the record, then the count on disk.
#include <pybind11/pybind11.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "dbf/dbf.h"
#include "lowlevel/lv.h"
#include "platform/codepage.h"
#include "platform/threads.h"
#include "python/src/package.h"
#include "tables/table.h"
#include "writing/definition.h"

namespace hylpy {
namespace {

constexpr std::size_t kProblemsShown = 20;

// The problems found, a line each: "stock.dbf: rows[3], field QTY: what is
// wrong"; ITEM is the index in the rows of write_many or the fields of
// create, -1 for none.
class Problems {
public:
    Problems(std::string table, std::string items) : table_(std::move(table)), items_(std::move(items)) {}
    void add(int64_t item, const std::string& field, const std::string& what) {
        std::string line = table_ + ": ";
        if (item >= 0) line += items_ + "[" + std::to_string(item) + "]" + (field.empty() ? ": " : ", ");
        if (!field.empty()) line += field + ": ";
        lines_.push_back(line + what);
    }
    bool empty() const { return lines_.empty(); }
    // ValueError with the first problems, how many there were and what became of the table.
    [[noreturn]] void raise_all(const std::string& outcome) const {
        std::string text;
        for (std::size_t i = 0; i < lines_.size() && i < kProblemsShown; ++i) text += lines_[i] + "\n";
        if (lines_.size() > kProblemsShown) text += "... and " + std::to_string(lines_.size() - kProblemsShown) + " more\n";
        text += std::to_string(lines_.size()) + (lines_.size() == 1 ? " problem" : " problems") + "; nothing written: " + outcome;
        raise(Failure::kValue, text);
    }

private:
    std::string table_, items_;
    std::vector<std::string> lines_;
};

std::string repr_of(py::handle value) { return py::repr(value).cast<std::string>(); }

// Why records appended to the table SCAN reads would not be read back as
// written: a header whose record length is not that of its fields, or that
// runs past the file, or a file that ends before the records its header
// counts (a record appended after the count would leave a gap of zeros).
// Empty when appending is safe.
std::string unsafe_to_append(const hyl::Snapshot& scan) {
    int64_t fields_length = 1;
    for (const hyl::SnapshotField& f : scan.fields()) fields_length += f.length;
    const auto fields = static_cast<int64_t>(scan.fields().size());
    if (fields == 0 || scan.record_length() != fields_length || scan.header_length() < 32 * fields + 33 ||
        scan.header_length() > scan.file_length())
        return "its header does not describe records that can be appended to";
    if (scan.file_length() < scan.record_position(std::max(scan.record_count(), 0)))
        return "the file ends before the records its header counts (hyl.repair mends that)";
    return {};
}

// VALUE as the typed value the field's rule takes, or false with
// *PROBLEM when Python's type of it is not one the field can hold.
bool value_of(const hyl::TableField& f, py::handle value, hyl::Value* out, std::string* problem) {
    PyObject* v = value.ptr();
    out->kind = hyl::ValueKind::kString;
    out->text.clear();
    if (value.is_none()) {
        out->kind = hyl::ValueKind::kNull;
        return true;
    }
    if (PyUnicode_Check(v) && f.type != 'N' && f.type != 'F' && f.type != 'D' && f.type != 'L' && f.type != 'C')
        return *problem = "a field of type " + std::string(1, f.type) + "; hyl writes C, N, F, D and L fields", false;
    if (PyUnicode_Check(v)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(v, &size);
        if (!utf8) throw py::error_already_set();
        out->text.assign(utf8, static_cast<std::size_t>(size));
        return true;
    }
    switch (f.type) {
        case 'C': return *problem = repr_of(value) + " is not text", false;
        case 'N':
        case 'F': {
            if (PyBool_Check(v)) return *problem = repr_of(value) + " is not a number", false;
            if (PyFloat_Check(v)) {
                out->kind = hyl::ValueKind::kDouble;
                out->real = PyFloat_AS_DOUBLE(v);
                return true;
            }
            py::object whole;
            if (PyLong_Check(v)) whole = py::reinterpret_borrow<py::object>(value);
            else if (PyIndex_Check(v)) whole = py::reinterpret_steal<py::object>(PyNumber_Index(v));
            if (whole) {
                int overflow = 0;
                out->integer = PyLong_AsLongLongAndOverflow(whole.ptr(), &overflow);
                out->kind = overflow ? hyl::ValueKind::kString : hyl::ValueKind::kInteger;
                if (overflow) out->text = py::str(whole).cast<std::string>();
                return true;
            }
            if (!PyNumber_Check(v)) return *problem = repr_of(value) + " is not a number", false;
            out->text = py::str(value).cast<std::string>();  // Decimal
            return true;
        }
        case 'D': {
            int y = 0, m = 0, d = 0;
            bool time_of_day = false;
            if (!calendar_date(value, &y, &m, &d, &time_of_day)) return *problem = repr_of(value) + " is not a date", false;
            if (time_of_day) return *problem = repr_of(value) + " has a time of day; a D field holds the date alone", false;
            hyl::Date_Days(y, static_cast<unsigned>(m), static_cast<unsigned>(d), &out->integer);
            out->kind = hyl::ValueKind::kDate;
            return true;
        }
        case 'L':
            if (!PyBool_Check(v)) return *problem = repr_of(value) + " is not a logical value (True, False or None)", false;
            out->kind = hyl::ValueKind::kBool;
            out->boolean = v == Py_True;
            return true;
        default:
            return *problem = "a field of type " + std::string(1, f.type) + "; hyl writes C, N, F, D and L fields", false;
    }
}

class Writer {
public:
    Writer(const py::bytes& path_bytes, const std::string& name, const std::string& encoding)
        : path_(path_bytes), name_(name) {
        check_encoding(encoding);
        bool opened = false, held = false;
        int32_t error = 0;
        std::string text;
        hyl::ReaderStatus read = hyl::ReaderStatus::kOpened;
        hyl::TableReader reader;
        std::string refusal;
        {
            py::gil_scoped_release released;
            {
                hyl::LibraryLock lock;
                Shown shown({path_});
                hyl::Dbf_SetDefaults(table_);
                opened = hyl::Dbf_ReadHead(table_, path_.c_str(), hyl::DbfModeWrite | hyl::DbfModeKeepOpen) == 1;
                error = hyl::platform().last_error();
                held = table_.handle != -1;
                text = shown.text();
                if (!opened && held) hyl::Dbf_Close(table_);
            }
            // The names, types and code page as the reader sees them; it
            // shares the table with the writer that holds it.
            if (opened) {
                hyl::ReaderOptions options;
                options.encoding = encoding;
                read = reader.open(path_, options);
                if (read == hyl::ReaderStatus::kOpened) refusal = unsafe_to_append(reader.scan());
                if (read != hyl::ReaderStatus::kOpened || !refusal.empty()) hyl::Dbf_Close(table_);
            }
        }
        if (!opened)
            raise(held ? Failure::kNotATable : failure_of_open(error), text.empty() ? name + ": cannot be opened" : text);
        if (read != hyl::ReaderStatus::kOpened) raise(Failure::kError, name + ": " + reader.error());
        if (!refusal.empty()) raise(Failure::kNotATable, name + ": " + refusal + "; nothing written (hyl.check tells more)");
        open_ = true;
        codec_.set(reader.codec().codepage());
        for (const hyl::TableField& f : reader.fields())
            if (!f.hidden) targets_.push_back(f);
        record_length_ = table_.record_length();
    }

    ~Writer() {
        if (open_) hyl::Dbf_Close(table_);
    }

    py::list fields() const {
        py::list out;
        for (const hyl::TableField& t : targets_)
            out.append(py::make_tuple(t.name, std::string(1, t.type), t.length, t.decimals));
        return out;
    }

    int64_t size() {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(mutex_);
        return std::max<int64_t>(table_.record_count(), 0);
    }

    void write(py::handle row) {
        Problems problems(name_, "rows");
        std::string record;
        record_of(row, -1, problems, record);
        if (!problems.empty()) problems.raise_all(name_ + " is unchanged");
        append(record, 1);
    }

    int64_t write_many(py::iterable rows) {
        Problems problems(name_, "rows");
        std::string records;
        int64_t n = 0;
        for (py::handle row : rows) record_of(row, n++, problems, records);
        if (!problems.empty()) problems.raise_all(name_ + " is unchanged");
        append(records, n);
        return n;
    }

    void close() {
        std::string text;
        {
            py::gil_scoped_release released;
            std::lock_guard<std::mutex> lock(mutex_);
            if (!open_) return;
            Shown shown({path_});
            hyl::Dbf_Close(table_);
            open_ = false;
            if (shown.any_box()) text = shown.text();
        }
        if (!text.empty()) raise(Failure::kError, text);
    }

private:
    // The bytes of one record made from ROW (a mapping of field names to
    // values, or a sequence of values in field order) added to RECORDS;
    // fields it leaves out stay blank.  What does not fit is added to PROBLEMS.
    void record_of(py::handle row, int64_t where, Problems& problems, std::string& records) {
        const std::size_t start = records.size();
        records.append(static_cast<std::size_t>(std::max(record_length_, 1)), ' ');
        char* record = records.data() + start;
        const bool mapping = PyDict_Check(row.ptr()) || py::hasattr(row, "keys");
        if (mapping) {
            for (auto item : py::dict(py::reinterpret_borrow<py::object>(row))) {
                const hyl::TableField* target = nullptr;
                const std::string key = py::str(item.first).cast<std::string>();
                for (const hyl::TableField& t : targets_)
                    if (!target && hyl::Definition_SameName(t.name, key)) target = &t;
                if (!target)
                    problems.add(where, "", name_ + " has no field " + hyl::Text_Quoted(key));
                else
                    put(*target, item.second, record, where, problems);
            }
        } else if (PySequence_Check(row.ptr()) && !PyUnicode_Check(row.ptr()) && !PyBytes_Check(row.ptr())) {
            const py::sequence values = py::reinterpret_borrow<py::sequence>(row);
            if (values.size() != targets_.size())
                problems.add(where, "", std::to_string(values.size()) + " values; the table has " +
                                            std::to_string(targets_.size()) + " fields");
            else
                for (std::size_t i = 0; i < targets_.size(); ++i) put(targets_[i], values[i], record, where, problems);
        } else {
            problems.add(where, "", repr_of(row) + " is neither a mapping of field names to values nor a sequence of values");
        }
    }

    // VALUE checked against TARGET and put into RECORD as the table stores it.
    void put(const hyl::TableField& target, py::handle value, char* record, int64_t where, Problems& problems) {
        if (value.is_none()) return;
        std::string problem;
        if (!value_of(target, value, &value_, &problem) ||
            !hyl::Field_Write(target, value_, codec_, {}, &stored_, &problem)) {
            problems.add(where, "field " + target.name, problem);
            return;
        }
        // Only inside the record, whatever the descriptors claim.
        if (target.offset < 1 || target.offset >= record_length_) return;
        const std::size_t room = static_cast<std::size_t>(record_length_ - target.offset);
        std::memcpy(record + target.offset, stored_.bytes.data(), std::min(stored_.bytes.size(), room));
    }

    // Appends the N records of RECORDS, each as the library appends one.
    void append(const std::string& records, int64_t n) {
        std::string text;
        bool open = false;
        int64_t done = 0;
        {
            py::gil_scoped_release released;
            std::lock_guard<std::mutex> lock(mutex_);
            open = open_;
            Shown shown({path_});
            const auto* bytes = reinterpret_cast<const uint8_t*>(records.data());
            for (; open && done < n; ++done)
                if (!hyl::Dbf_AppendRecord(table_, bytes + done * record_length_)) break;
            text = shown.text();
        }
        if (!open) raise(Failure::kValue, name_ + ": the writer is closed");
        if (done < n)
            raise(Failure::kError, (text.empty() ? "" : text + "\n") + name_ + ": " + std::to_string(done) + " of " +
                                       std::to_string(n) + " records appended");
    }

    std::string path_, name_;
    std::mutex mutex_;
    hyl::DbfTable table_;
    bool open_ = false;
    int32_t record_length_ = 0;
    hyl::TextCodec codec_;
    std::vector<hyl::TableField> targets_;
    hyl::Value value_;          // the value being put, its storage kept from value to value
    hyl::FieldBytes stored_;
};

// The definitions of a new table, checked as import checks its header row.
std::vector<hyl::TableField> checked_definitions(const std::string& name, py::iterable fields, const hyl::TextCodec& codec) {
    Problems problems(name, "fields");
    std::vector<hyl::TableField> defs;
    for (py::handle spec : fields) {
        const auto where = static_cast<int64_t>(defs.size());
        defs.emplace_back();
        const py::tuple t = py::tuple(py::reinterpret_borrow<py::object>(spec));
        std::string problem;
        if (t.size() < 2 || t.size() > 4) {
            problems.add(where, "", repr_of(spec) + " is not (NAME, TYPE[, LENGTH[, DECIMALS]])");
            continue;
        }
        const std::string field = py::str(t[0]).cast<std::string>();
        const std::string type = py::str(t[1]).cast<std::string>();
        const char letter = type.size() == 1 ? static_cast<char>(type[0] & ~0x20) : '\0';
        // D and L fields have one length; the others need theirs given.
        std::string length = letter == 'D' ? "8" : letter == 'L' ? "1" : "";
        if (t.size() >= 3) length = py::str(t[2]).cast<std::string>();
        const std::string decimals = t.size() == 4 ? py::str(t[3]).cast<std::string>() : "0";
        if (length.empty())
            problem = "a " + type + " field needs its length";
        else if (hyl::Definition_Make(codec, field, type, length, decimals, &defs.back(), &problem))
            for (std::size_t k = 0; k + 1 < defs.size() && problem.empty(); ++k)
                if (hyl::Definition_SameName(defs[k].name, field))
                    problem = "field name " + hyl::Text_Quoted(field) + " is repeated (fields[" + std::to_string(k) + "] has it)";
        if (!problem.empty()) problems.add(where, "", problem);
    }
    if (defs.empty()) problems.add(-1, "", "a table needs at least one field");
    for (const std::string& problem : hyl::Definition_CheckTable(defs)) problems.add(-1, "", problem);
    if (!problems.empty()) problems.raise_all(name + " was not made");
    return defs;
}

// A name as a descriptor holds it, in the table's code page (checked to hold it).
std::string stored_name(const hyl::TextCodec& codec, const std::string& utf8) {
    std::string out;
    char32_t missing = 0;
    codec.encode(utf8, out, &missing);
    return out;
}

void create(const py::bytes& path_bytes, const std::string& name, py::iterable fields) {
    const std::string path = path_bytes;
    // New tables are made in code page 866, as the library makes them.
    hyl::TextCodec oem;
    oem.set(866);
    const std::vector<hyl::TableField> defs = checked_definitions(name, fields, oem);
    bool made = false;
    int32_t error = 0;
    std::string text;
    {
        py::gil_scoped_release released;
        hyl::LibraryLock lock;
        Shown shown({path});
        hyl::DbfTable table;
        hyl::Dbf_SetDefaults(table);
        made = hyl::Dbf_CreateNewBase(table, static_cast<int32_t>(defs.size()), path.c_str()) == 1;
        error = hyl::platform().last_error();
        for (std::size_t i = 0; made && i < defs.size(); ++i)
            made = hyl::Dbf_CreateNewField(table, static_cast<int32_t>(i), stored_name(oem, defs[i].name).c_str(), defs[i].type,
                                           defs[i].length, defs[i].decimals) == 1;
        hyl::Dbf_Close(table);
        text = shown.text();
    }
    if (!made) {
        const Failure kind = error == hyl::kErrorSharingViolation ? Failure::kInUse : Failure::kError;
        raise(kind, text.empty() ? name + ": cannot be made" : text);
    }
}

}  // namespace

void bind_writer(py::module_& m) {
    m.def("create", &create);
    py::class_<Writer>(m, "Writer")
        .def(py::init<const py::bytes&, const std::string&, const std::string&>())
        .def("fields", &Writer::fields)
        .def("__len__", &Writer::size)
        .def("write", &Writer::write)
        .def("write_many", &Writer::write_many)
        .def("close", &Writer::close);
}

}  // namespace hylpy
