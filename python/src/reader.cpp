// Reading a table whole through the reader that dump and check stand on
// (tables/table.h): records as dicts or tuples, one at a time or all at
// once, and the columns of a DataFrame, each in one pass over the snapshot.
//
// The file is read in blocks of a few megabytes with the GIL released; the
// GIL is taken back for each block to make its values into Python objects.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

#include "lowlevel/lv.h"
#include "python/src/package.h"
#include "tables/table.h"

namespace hylpy {
namespace {

using hyl::Value;
using hyl::ValueKind;

// A value as Python has it, a new reference: C text as str, numbers as int
// or float, dates as date and datetime, logicals as bool, a binary memo as
// hyl.BinaryMemo (its length); no value (blank, '?') as None.
PyObject* object_of(const Value& v) {
    switch (v.kind) {
        case ValueKind::kNull: Py_RETURN_NONE;
        case ValueKind::kBinary: return PyObject_CallFunction(g_binary_memo, "L", static_cast<long long>(v.integer));
        case ValueKind::kBool: return PyBool_FromLong(v.boolean);
        case ValueKind::kInteger: return PyLong_FromLongLong(v.integer);
        case ValueKind::kDouble:
        case ValueKind::kDecimal: return PyFloat_FromDouble(v.real);
        case ValueKind::kString: return PyUnicode_DecodeUTF8(v.text.data(), static_cast<Py_ssize_t>(v.text.size()), "replace");
        case ValueKind::kDate: return new_date(v.integer);
        case ValueKind::kDateTime: return new_datetime(v.integer);
    }
    Py_RETURN_NONE;
}

PyObject* checked(PyObject* o) {
    if (!o) throw py::error_already_set();
    return o;
}

// Text in a single-byte code page made into str directly, a code point a
// byte, without UTF-8 on the way; texts met again (columns of names and
// kinds repeat) given as the str already made, which costs neither the time
// nor the memory of another.
// The characters of a single-byte code page's 256 bytes.
using Characters = std::array<char32_t, 256>;

class TextMaker {
public:
    // CHARACTERS is the table's code page (it outlives the maker); SLOTS how
    // many texts are kept.
    TextMaker(const Characters& characters, std::size_t slots) : points_(characters), size_(slots) {}
    TextMaker(const TextMaker&) = delete;
    TextMaker& operator=(const TextMaker&) = delete;

    // A new reference to the str of BYTES.
    PyObject* make(std::string_view bytes) {
        const uint64_t hash = std::hash<std::string_view>{}(bytes);
        if (slots_.empty()) slots_.resize(size_);
        Slot& slot = slots_[hash % size_];
        if (!slot.text || slot.hash != hash || slot.bytes != bytes) {
            PyObject* text = decode(bytes);
            if (!text) return nullptr;
            Py_XDECREF(slot.text);
            slot = {hash, std::string(bytes), text};
        }
        Py_INCREF(slot.text);
        return slot.text;
    }

    ~TextMaker() {
        for (Slot& slot : slots_) Py_XDECREF(slot.text);
    }

private:
    PyObject* decode(std::string_view bytes) const {
        char32_t widest = 0;
        for (char b : bytes) widest = std::max(widest, points_[static_cast<uint8_t>(b)]);
        const auto n = static_cast<Py_ssize_t>(bytes.size());
        PyObject* text = PyUnicode_New(n, widest);
        if (!text) return nullptr;
        const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
        switch (PyUnicode_KIND(text)) {
            case PyUnicode_1BYTE_KIND: fill(PyUnicode_1BYTE_DATA(text), in, n); break;
            case PyUnicode_2BYTE_KIND: fill(PyUnicode_2BYTE_DATA(text), in, n); break;
            default: fill(PyUnicode_4BYTE_DATA(text), in, n); break;
        }
        return text;
    }
    template <typename Unit>
    void fill(Unit* out, const uint8_t* in, Py_ssize_t n) const {
        for (Py_ssize_t i = 0; i < n; ++i) out[i] = static_cast<Unit>(points_[in[i]]);
    }

    struct Slot {
        uint64_t hash = 0;
        std::string bytes;
        PyObject* text = nullptr;
    };
    const Characters& points_;
    std::size_t size_;
    std::vector<Slot> slots_;  // made at the first text
};

// Dates met again given as the date already made.
class DateMaker {
public:
    explicit DateMaker(std::size_t slots) : size_(slots) {}
    DateMaker(const DateMaker&) = delete;
    DateMaker& operator=(const DateMaker&) = delete;
    PyObject* make(int64_t days) {
        if (slots_.empty()) slots_.resize(size_);
        Slot& slot = slots_[static_cast<uint64_t>(days) % size_];
        if (!slot.date || slot.days != days) {
            PyObject* date = new_date(days);
            if (!date) return nullptr;
            Py_XDECREF(slot.date);
            slot = {days, date};
        }
        Py_INCREF(slot.date);
        return slot.date;
    }
    ~DateMaker() {
        for (Slot& slot : slots_) Py_XDECREF(slot.date);
    }

private:
    struct Slot {
        int64_t days = 0;
        PyObject* date = nullptr;
    };
    std::size_t size_;
    std::vector<Slot> slots_;  // made at the first date
};

// How the values of one field become Python objects, for one pass over a
// table (made and ended with the GIL held).
class FieldMaker;

// What one pass over a table keeps: how each field's values become objects,
// and the dict each record's dict is copied from, its keys in place.
struct Pass {
    std::vector<std::unique_ptr<FieldMaker>> fields;
    py::object shape;
};

class FieldMaker {
public:
    // CHARACTERS: the code page's, or null when it is not single-byte.
    FieldMaker(const hyl::TableReader& table, int32_t field, const Characters* characters, std::size_t slots)
        : field_(field), f_(table.fields()[static_cast<std::size_t>(field)]),
          texts_(characters ? *characters : kNoCharacters, slots), dates_(slots) {
        // Plain C, N and D fields (no Visual FoxPro null flag) are made
        // into objects here, straight from their bytes, by the same rules the
        // reader reads them by (tables/fieldtypes.h); a value those rules do
        // not read as its type goes to the reader, which gives it as stored.
        if (f_.null_bit < 0 && f_.offset >= 1) {
            if (f_.rule == hyl::FieldRule::kText && characters) way_ = Way::kText;
            if (f_.rule == hyl::FieldRule::kNumber) way_ = Way::kNumber;
            if (f_.rule == hyl::FieldRule::kDate) way_ = Way::kDate;
        }
    }
    FieldMaker(const FieldMaker&) = delete;
    FieldMaker& operator=(const FieldMaker&) = delete;

    // A new reference to the value of this field in record K of BATCH.
    PyObject* make(const hyl::RecordBatch& batch, int64_t k, Value& v) {
        if (way_ != Way::kReader) {
            const std::string_view stored = hyl::Field_StoredText(batch.record(k) + f_.offset, f_.length);
            PyObject* made = way_ == Way::kText     ? texts_.make(stored)
                             : way_ == Way::kNumber ? number(stored)
                                                    : date(stored);
            if (made != kUnread) return made;
        }
        batch.value(k, field_, v);
        if (v.kind == ValueKind::kDate) return dates_.make(v.integer);
        return object_of(v);
    }

private:
    enum class Way { kReader, kText, kNumber, kDate };
    static inline const Characters kNoCharacters{};
    // What the plain readings answer for a value they leave to the reader.
    static inline char kUnreadTag = 0;
    static inline PyObject* const kUnread = reinterpret_cast<PyObject*>(&kUnreadTag);

    static PyObject* number(std::string_view stored) {
        int64_t integer = 0;
        double real = 0;
        switch (hyl::Number_Read(hyl::Number_Digits(stored), &integer, &real)) {
            case hyl::NumberForm::kNone: Py_RETURN_NONE;
            case hyl::NumberForm::kInteger: return PyLong_FromLongLong(integer);
            case hyl::NumberForm::kDecimal:
            case hyl::NumberForm::kDouble: return PyFloat_FromDouble(real);
            case hyl::NumberForm::kNotANumber: break;
        }
        return kUnread;
    }

    PyObject* date(std::string_view stored) {
        int64_t days = 0;
        switch (hyl::Date_Read(stored, &days)) {
            case hyl::DateForm::kNone: Py_RETURN_NONE;
            case hyl::DateForm::kDate: return dates_.make(days);
            case hyl::DateForm::kNotADate: break;
        }
        return kUnread;
    }

    int32_t field_;
    const hyl::TableField& f_;
    Way way_ = Way::kReader;
    TextMaker texts_;
    DateMaker dates_;
};

// One column of a DataFrame as it fills: typed while its values allow
// (Int64 while every number is whole, then float64; boolean; datetime64[ns]),
// Python objects from the first value that does not fit.
class Column {
public:
    enum class Mode { kInt, kFloat, kBool, kTime, kObject };

    Column(const hyl::TableField& f, int64_t capacity) : type_(f.type) {
        using hyl::FieldRule;
        switch (f.rule) {
            case FieldRule::kNumber:
            case FieldRule::kInteger:
            case FieldRule::kDbase7Integer: mode_ = Mode::kInt; break;
            case FieldRule::kDouble:
            case FieldRule::kDbase7Double:
            case FieldRule::kCurrency: mode_ = Mode::kFloat; break;
            case FieldRule::kDate:
            case FieldRule::kDateTime:
            case FieldRule::kDbase7Timestamp: mode_ = Mode::kTime; break;
            case FieldRule::kLogical: mode_ = Mode::kBool; break;
            default: mode_ = Mode::kObject; break;
        }
        if (mode_ == Mode::kObject) objects_.reserve(static_cast<std::size_t>(capacity));
        else nulls_.reserve(static_cast<std::size_t>(capacity));
    }
    ~Column() {
        for (PyObject* o : objects_) Py_XDECREF(o);
    }
    Column(Column&& other) noexcept = default;

    bool holds_objects() const { return mode_ == Mode::kObject; }
    void add_object(PyObject* o) { objects_.push_back(o); }

    void add(const Value& v) {
        if (mode_ != Mode::kObject) {
            if (v.kind == ValueKind::kNull) {
                nulls_.push_back(kNone);
                numbers_.push_back(0);
                return;
            }
            if (mode_ == Mode::kInt && (v.kind == ValueKind::kDouble || v.kind == ValueKind::kDecimal)) to_floats();
            int64_t n = 0;
            if (fits(v, &n)) {
                nulls_.push_back(mode_ == Mode::kFloat && v.kind == ValueKind::kInteger ? kWhole : 0);
                numbers_.push_back(n);
                return;
            }
            to_objects();
        }
        objects_.push_back(checked(object_of(v)));
    }

    // (dtype, values, mask or None), the values' storage given over.
    py::tuple take() {
        const auto n = static_cast<py::ssize_t>(mode_ == Mode::kObject ? objects_.size() : nulls_.size());
        switch (mode_) {
            case Mode::kInt: return py::make_tuple("Int64", array<int64_t>(numbers_), mask());
            case Mode::kBool: {
                std::vector<uint8_t> flags(numbers_.begin(), numbers_.end());
                return py::make_tuple("boolean", array<bool>(flags), mask());
            }
            case Mode::kFloat: {
                for (std::size_t i = 0; i < nulls_.size(); ++i) {
                    const double d = nulls_[i] == kWhole ? static_cast<double>(numbers_[i]) : as_double(i);
                    as_double(i) = nulls_[i] == kNone ? std::numeric_limits<double>::quiet_NaN() : d;
                }
                return py::make_tuple("float64", array<double>(numbers_), py::none());
            }
            case Mode::kTime:
                for (std::size_t i = 0; i < nulls_.size(); ++i)
                    if (nulls_[i]) numbers_[i] = std::numeric_limits<int64_t>::min();  // NaT
                return py::make_tuple("datetime64[ns]", array<int64_t>(numbers_), py::none());
            case Mode::kObject: break;
        }
        py::array values(py::dtype("object"), std::vector<py::ssize_t>{n});
        auto** slots = static_cast<PyObject**>(values.mutable_data());
        for (py::ssize_t i = 0; i < n; ++i) {
            PyObject* old = slots[i];
            slots[i] = objects_[static_cast<std::size_t>(i)];
            Py_XDECREF(old);
        }
        objects_.clear();
        return py::make_tuple("object", values, py::none());
    }

private:
    static constexpr int64_t kNsPerDay = 86400000000000;

    // The value as this column's mode stores it (in *N), or false.
    bool fits(const Value& v, int64_t* n) const {
        switch (mode_) {
            case Mode::kInt:
                *n = v.integer;
                return v.kind == ValueKind::kInteger;
            case Mode::kFloat: {
                *n = v.integer;
                if (v.kind != ValueKind::kInteger) std::memcpy(n, &v.real, sizeof v.real);
                return v.kind == ValueKind::kInteger || v.kind == ValueKind::kDouble || v.kind == ValueKind::kDecimal;
            }
            case Mode::kBool:
                *n = v.boolean;
                return v.kind == ValueKind::kBool;
            case Mode::kTime:
                // datetime64[ns] reaches from 1677 to 2262; other dates stay dates.
                if (v.kind == ValueKind::kDate && v.integer > -106750 && v.integer < 106750) {
                    *n = v.integer * kNsPerDay;
                    return true;
                }
                if (v.kind == ValueKind::kDateTime && v.integer > -9223372036000 && v.integer < 9223372036000) {
                    *n = v.integer * 1000000;
                    return true;
                }
                return false;
            case Mode::kObject: break;
        }
        return false;
    }

    double& as_double(std::size_t i) { return *reinterpret_cast<double*>(&numbers_[i]); }

    void to_floats() {
        for (uint8_t& tag : nulls_)
            if (tag != kNone) tag = kWhole;
        mode_ = Mode::kFloat;
    }

    void to_objects() {
        objects_.reserve(nulls_.capacity());
        for (std::size_t i = 0; i < nulls_.size(); ++i) {
            Value v;
            if (nulls_[i] != kNone) {
                const int64_t x = numbers_[i];
                switch (mode_) {
                    case Mode::kInt: v.kind = ValueKind::kInteger, v.integer = x; break;
                    case Mode::kFloat:
                        if (nulls_[i] == kWhole) v.kind = ValueKind::kInteger, v.integer = x;
                        else v.kind = ValueKind::kDouble, v.real = as_double(i);
                        break;
                    case Mode::kBool: v.kind = ValueKind::kBool, v.boolean = x != 0; break;
                    case Mode::kTime:
                        if (type_ == 'D') v.kind = ValueKind::kDate, v.integer = x / kNsPerDay;
                        else v.kind = ValueKind::kDateTime, v.integer = x / 1000000;
                        break;
                    case Mode::kObject: break;
                }
            }
            objects_.push_back(checked(object_of(v)));
        }
        std::vector<int64_t>().swap(numbers_);
        std::vector<uint8_t>().swap(nulls_);
        mode_ = Mode::kObject;
    }

    py::object mask() const { return array<bool>(nulls_); }

    template <typename T, typename Stored>
    static py::array array(const std::vector<Stored>& stored) {
        static_assert(sizeof(T) == sizeof(Stored));
        py::array_t<T> out(static_cast<py::ssize_t>(stored.size()));
        if (!stored.empty()) std::memcpy(out.mutable_data(), stored.data(), stored.size() * sizeof(T));
        return out;
    }

    char type_;
    Mode mode_;
    std::vector<int64_t> numbers_;  // kInt, kBool, kTime; kFloat: the doubles' bits, or the whole numbers
    // Each value: kNone, or in kFloat kWhole for a whole number kept as it
    // is until the column is made, so that a column that ends as objects
    // holds it as the int it read as.
    std::vector<uint8_t> nulls_;
    static constexpr uint8_t kNone = 1, kWhole = 2;
    std::vector<PyObject*> objects_;  // owned
};

// While a pass makes many objects, each new arena of Python's object
// allocator is made resident in one call as it is made, rather than a page
// fault at a time as objects first touch it: a million records fill
// hundreds of arenas, and on a virtual machine each fault costs
// microseconds (a third of the time of rows() went to them).  The
// allocator is Python's own underneath (PyObject_SetArenaAllocator, its
// documented hook); the first pass puts the wrapper in and the last takes
// it out, both with the GIL held.
class ResidentArenas {
public:
    ResidentArenas() {
        if (users_++ == 0) {
            PyObject_GetArenaAllocator(&previous_);
            PyObjectArenaAllocator wrapper = {nullptr, alloc, free};
            PyObject_SetArenaAllocator(&wrapper);
        }
    }
    ~ResidentArenas() {
        if (--users_ == 0) PyObject_SetArenaAllocator(&previous_);
    }
    ResidentArenas(const ResidentArenas&) = delete;
    ResidentArenas& operator=(const ResidentArenas&) = delete;

private:
    static void* alloc(void*, size_t size) {
        void* arena = previous_.alloc(previous_.ctx, size);
#ifdef MADV_POPULATE_WRITE
        // A kernel without it says no, and the pages fault in as before.
        if (arena) madvise(arena, size, MADV_POPULATE_WRITE);
#endif
        return arena;
    }
    static void free(void*, void* arena, size_t size) { previous_.free(previous_.ctx, arena, size); }

    static inline int users_ = 0;
    static inline PyObjectArenaAllocator previous_{};
};

class Reader {
public:
    Reader(const py::bytes& path_bytes, const std::string& name, const std::string& encoding) : name_(name) {
        const std::string path = path_bytes;
        wait_for_table(path, hyl::kModeShareRead, name, encoding);
        hyl::ReaderStatus status;
        {
            py::gil_scoped_release released;
            hyl::ReaderOptions options;
            options.encoding = encoding;
            status = table_.open(path, options);
        }
        if (status != hyl::ReaderStatus::kOpened) raise(failure_of(status), name + ": " + table_.error());
        open_ = true;
        count_ = table_.record_count();
        single_byte_ = single_byte(table_.codec());
        bool valid = false;
        for (int b = 0; single_byte_ && b < 256; ++b)
            characters_[static_cast<std::size_t>(b)] = character_of(table_.codec(), static_cast<uint8_t>(b), &valid);
        for (int32_t f = 0; f < table_.field_count(); ++f) {
            const hyl::TableField& field = table_.fields()[static_cast<std::size_t>(f)];
            if (field.hidden) continue;
            shown_.push_back(f);
            keys_.push_back(py::reinterpret_steal<py::object>(checked(PyUnicode_InternFromString(field.name.c_str()))));
        }
    }

    py::list fields() const {
        py::list out;
        for (std::size_t i = 0; i < shown_.size(); ++i) {
            const hyl::TableField& f = table_.fields()[static_cast<std::size_t>(shown_[i])];
            const std::string type(1, f.type > 0x20 && f.type < 0x7F ? f.type : '?');
            out.append(py::make_tuple(keys_[i], type, f.length, f.decimals, f.nullable));
        }
        return out;
    }

    std::string encoding() const { return hyl::CodePage_PythonName(table_.code_page().codepage); }
    int64_t size() const { return count_; }

    // Hands VISIT each block of the records FIRST .. END - 1, with the GIL.
    template <typename Visit>
    void each(int64_t first, int64_t end, Visit&& visit) {
        bool open = false, read = true;
        {
            py::gil_scoped_release released;
            std::lock_guard<std::mutex> lock(mutex_);
            open = open_;
            if (open)
                read = table_.for_each_batch(first, end, [&](const hyl::RecordBatch& batch) {
                    py::gil_scoped_acquire acquired;
                    visit(batch);
                    return true;
                });
        }
        if (!open) raise(Failure::kValue, name_ + ": the table is closed");
        if (!read) raise(Failure::kError, name_ + ": cannot be read to its end");
    }

    // A pass whose dicts say whether their record is deleted when FLAG (the GIL held).
    Pass pass(bool flag) const {
        Pass out;
        py::dict shape;
        // Texts and dates kept for a column, made as they are first met: up
        // to 1,024 (what a processor's cache holds), a handful for a small table.
        const auto slots = static_cast<std::size_t>(std::clamp<int64_t>(count_, 16, 1024));
        for (std::size_t i = 0; i < shown_.size(); ++i) {
            out.fields.push_back(std::make_unique<FieldMaker>(table_, shown_[i], single_byte_ ? &characters_ : nullptr, slots));
            shape[keys_[i]] = py::none();
        }
        if (flag) shape["_deleted"] = py::none();
        out.shape = shape;
        return out;
    }

    // Record K of BATCH as a dict or a tuple, with its deletion flag when asked.
    PyObject* record_of(const hyl::RecordBatch& batch, int64_t k, bool dict, bool flag, Pass& pass) {
        const auto n = static_cast<Py_ssize_t>(shown_.size());
        PyObject* out = checked(dict ? PyDict_Copy(pass.shape.ptr()) : PyTuple_New(n + flag));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* o = pass.fields[static_cast<std::size_t>(i)]->make(batch, k, value_);
            if (!o) {
                Py_DECREF(out);
                throw py::error_already_set();
            }
            if (!dict) {
                PyTuple_SET_ITEM(out, i, o);
                continue;
            }
            const int set = PyDict_SetItem(out, keys_[static_cast<std::size_t>(i)].ptr(), o);
            Py_DECREF(o);
            if (set != 0) {
                Py_DECREF(out);
                throw py::error_already_set();
            }
        }
        if (flag) {
            PyObject* deleted = PyBool_FromLong(batch.deleted(k));
            if (dict) {
                PyDict_SetItemString(out, "_deleted", deleted);
                Py_DECREF(deleted);
            } else {
                PyTuple_SET_ITEM(out, n, deleted);
            }
        }
        return out;
    }

    // Records FIRST .. END - 1 into OUT, the deleted ones only when asked.
    void collect(int64_t first, int64_t end, bool dicts, bool deleted, Pass& pass, py::list& out) {
        ResidentArenas resident;
        each(first, end, [&](const hyl::RecordBatch& batch) {
            for (int64_t k = 0; k < batch.size(); ++k) {
                if (!deleted && batch.deleted(k)) continue;
                PyObject* r = record_of(batch, k, dicts, deleted, pass);
                const int appended = PyList_Append(out.ptr(), r);
                Py_DECREF(r);
                if (appended != 0) throw py::error_already_set();
            }
        });
    }

    int64_t index(int64_t i) const {
        if (i < 0) i += count_;
        if (i < 0 || i >= count_) throw py::index_error("record " + std::to_string(i) + " is not in the table");
        return i;
    }

    py::object record(int64_t i) {
        i = index(i);
        // One pass serves every record asked for by number: made once, it is
        // used with the mutex held.
        if (!single_) single_ = std::make_unique<Pass>(pass(false));
        py::object out;
        each(i, i + 1, [&](const hyl::RecordBatch& batch) {
            out = py::reinterpret_steal<py::object>(record_of(batch, 0, true, false, *single_));
        });
        return out;
    }

    py::list all(bool dicts, bool deleted) {
        py::list out;
        Pass all = pass(deleted);
        collect(0, count_, dicts, deleted, all, out);
        return out;
    }

    // The columns of a DataFrame: (name, dtype, values, mask or None) each.
    py::list columns() {
        const std::size_t n = shown_.size();
        std::vector<Column> columns;
        columns.reserve(n);
        for (std::size_t c = 0; c < n; ++c)
            columns.emplace_back(table_.fields()[static_cast<std::size_t>(shown_[c])], count_);
        Pass all = pass(false);
        ResidentArenas resident;
        each(0, count_, [&](const hyl::RecordBatch& batch) {
            for (int64_t k = 0; k < batch.size(); ++k) {
                if (batch.deleted(k)) continue;
                for (std::size_t c = 0; c < n; ++c) {
                    if (columns[c].holds_objects()) {
                        columns[c].add_object(checked(all.fields[c]->make(batch, k, value_)));
                        continue;
                    }
                    batch.value(k, shown_[c], value_);
                    columns[c].add(value_);
                }
            }
        });
        py::list out;
        for (std::size_t c = 0; c < n; ++c) {
            py::tuple typed = columns[c].take();
            out.append(py::make_tuple(keys_[c], typed[0], typed[1], typed[2]));
        }
        return out;
    }

    void close() {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(mutex_);
        table_.close();
        open_ = false;
    }

private:
    std::string name_;
    std::mutex mutex_;
    hyl::TableReader table_;
    bool open_ = false;
    int64_t count_ = 0;
    std::vector<int32_t> shown_;    // the fields handed out: all but _NullFlags
    std::vector<py::object> keys_;  // their names
    Value value_;                   // used with the mutex held
    std::unique_ptr<Pass> single_;  // for records asked for by number
    bool single_byte_ = false;      // the code page has a byte a character,
    Characters characters_{};       // these
};

// Iterating a table: records read a few thousand at a time.
class Records {
public:
    Records(Reader& reader, bool dicts, bool deleted)
        : reader_(reader), dicts_(dicts), deleted_(deleted), pass_(reader.pass(deleted)) {}
    Records(const Records&) = delete;
    Records(Records&&) = default;

    py::object next() {
        while (at_ >= static_cast<std::size_t>(PyList_GET_SIZE(chunk_.ptr()))) {
            if (next_ >= reader_.size()) throw py::stop_iteration();
            const int64_t end = std::min(reader_.size(), next_ + kChunk);
            chunk_ = py::list();
            at_ = 0;
            reader_.collect(next_, end, dicts_, deleted_, pass_, chunk_);
            next_ = end;
        }
        return chunk_[at_++];
    }

private:
    static constexpr int64_t kChunk = 4096;
    Reader& reader_;
    bool dicts_, deleted_;
    int64_t next_ = 0;
    Pass pass_;
    py::list chunk_;
    std::size_t at_ = 0;
};

}  // namespace

void bind_reader(py::module_& m) {
    py::class_<Reader>(m, "Reader")
        .def(py::init<const py::bytes&, const std::string&, const std::string&>())
        .def("fields", &Reader::fields)
        .def("encoding", &Reader::encoding)
        .def("__len__", &Reader::size)
        .def("record", &Reader::record)
        .def("all", &Reader::all)
        .def("columns", &Reader::columns)
        .def("iter", [](Reader& r, bool dicts, bool deleted) { return Records(r, dicts, deleted); }, py::keep_alive<0, 1>())
        .def("close", &Reader::close);
    py::class_<Records>(m, "Records")
        .def("__iter__", [](Records& r) -> Records& { return r; })
        .def("__next__", &Records::next);
}

}  // namespace hylpy
