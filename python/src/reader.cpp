// Reading a table whole through the reader that dump and check stand on
// (tables/table.h): records as dicts or tuples, one at a time or all at
// once, and the columns of a DataFrame, of every field or of those asked for.
//
// The records are decoded with the GIL released, a large table's on several
// threads: its records are cut into ranges (tables/split.h), and each range's
// values become cells (numbers, dates, the bytes of texts) that need no
// Python.  The calling thread takes the ranges back in the order of the
// records and, with the GIL, makes their cells into Python objects, while
// the other threads decode the ranges after them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

#include "lowlevel/lv.h"
#include "python/src/package.h"
#include "tables/split.h"
#include "tables/table.h"

namespace hylpy {
namespace {

using hyl::Value;
using hyl::ValueKind;

// A value decoded without the GIL, as a Python object will hold it.
struct Cell {
    ValueKind kind = ValueKind::kNull;
    bool boolean = false;
    uint32_t text = 0;    // kString: its place in the piece's distinct texts
    int64_t integer = 0;  // as Value has it
    double real = 0;      // kDouble and kDecimal
};

// A text of a piece, the first time a field of the piece holds it.
struct Distinct {
    std::size_t at = 0;  // its bytes in the piece's text
    uint32_t size = 0;
    // Its bytes as stored, in the table's single-byte code page, rather
    // than UTF-8; then its characters as str holds them (a unit of 1, 2 or
    // 4 bytes a character, by the widest) are in the piece's units.
    bool stored = false;
    char32_t widest = 0;
    std::size_t units = 0;
    uint64_t hash = 0;
};

// The characters of a single-byte code page's 256 bytes.
using Characters = std::array<char32_t, 256>;

// How a column of a DataFrame holds its values: typed while they allow
// (Int64 while every number is whole, then float64; boolean;
// datetime64[ns]), Python objects from the first value that does not fit.
enum class Mode : uint8_t { kInt, kFloat, kBool, kTime, kObject };

// Each value of a typed column: missing (kNone), a number as its mode
// stores it (0), or in a float64 column a whole number kept as it read
// (kWhole) until the column is made, so that a column that ends as objects
// holds it as the int rows() gives.
constexpr uint8_t kNone = 1, kWhole = 2;

// A field's values in a piece as a typed column holds them: the numbers
// (a float64 column's as the bits of its doubles, or whole) and their tags;
// kObject when a value does not fit any.
struct Typed {
    Mode mode = Mode::kObject;
    std::vector<int64_t> numbers;
    std::vector<uint8_t> tags;
};

// Some fields of a range of records, decoded by the thread that read them,
// a field's cells together (the calling thread takes a DataFrame's column
// by column).  MADE is the calling thread's, with the GIL: the str of each
// distinct text, borrowed from whatever holds the reference first handed
// out for it (a column, or a record in the list being made), which lets
// it go no sooner than the piece is taken.
struct alignas(64) Piece {  // a processor cache line of its own: threads fill pieces side by side
    int64_t records = 0;
    std::vector<std::vector<Cell>> cells;  // each field's
    std::vector<uint8_t> deleted;     // each record's flag, when asked for
    std::string text;                 // the texts' bytes
    std::vector<Distinct> distinct;   // each field's texts, once each
    std::string units;                // the characters of the stored ones
    std::vector<Typed> typed;         // each field's values, for a DataFrame
    std::vector<Distinct> each;       // the decoding thread's: a distinct text for each text cell
    std::vector<int64_t> seen;        // and its table of them by hash
    std::vector<PyObject*> made;      // the str of each distinct text, once made

    void clear() {
        records = 0;
        for (std::vector<Cell>& field : cells) field.clear();
        deleted.clear();
        text.clear();
        distinct.clear();
        units.clear();
    }
    std::string_view text_of(const Distinct& d) const { return {text.data() + d.at, d.size}; }
};

constexpr int64_t kNsPerDay = 86400000000000;

// The mode a column of field F begins in: what its header says it holds.
Mode mode_of(const hyl::TableField& f) {
    using hyl::FieldRule;
    switch (f.rule) {
        // An N or F field with decimals holds decimals, even where all are
        // blank: a DataFrame's dtype is what the header says, as a Dask
        // DataFrame's must be before a record is read (hyl.dask).
        case FieldRule::kNumber: return f.decimals > 0 ? Mode::kFloat : Mode::kInt;
        case FieldRule::kInteger:
        case FieldRule::kDbase7Integer: return Mode::kInt;
        case FieldRule::kDouble:
        case FieldRule::kDbase7Double:
        case FieldRule::kCurrency: return Mode::kFloat;
        case FieldRule::kDate:
        case FieldRule::kDateTime:
        case FieldRule::kDbase7Timestamp: return Mode::kTime;
        case FieldRule::kLogical: return Mode::kBool;
        default: return Mode::kObject;
    }
}

int64_t float_bits(double d) {
    int64_t n;
    std::memcpy(&n, &d, sizeof n);
    return n;
}

// V as a column of MODE stores it (in *N), or false.
bool fits(Mode mode, const Cell& v, int64_t* n) {
    switch (mode) {
        case Mode::kInt:
            *n = v.integer;
            return v.kind == ValueKind::kInteger;
        case Mode::kFloat:
            *n = v.kind == ValueKind::kInteger ? v.integer : float_bits(v.real);
            return v.kind == ValueKind::kInteger || v.kind == ValueKind::kDouble || v.kind == ValueKind::kDecimal;
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

// The whole numbers of a column of whole numbers tagged as such, for a
// column of floats.
void to_floats(std::vector<uint8_t>& tags) {
    for (uint8_t& tag : tags)
        if (tag != kNone) tag = kWhole;
}

// Adds V to a typed column of *MODE (the number and its tag), a column of
// whole numbers becoming one of floats at the first decimal; false when V
// does not fit.
bool add_typed(Mode* mode, std::vector<int64_t>& numbers, std::vector<uint8_t>& tags, const Cell& v) {
    if (v.kind == ValueKind::kNull) {
        tags.push_back(kNone);
        numbers.push_back(0);
        return true;
    }
    if (*mode == Mode::kInt && (v.kind == ValueKind::kDouble || v.kind == ValueKind::kDecimal)) {
        to_floats(tags);
        *mode = Mode::kFloat;
    }
    int64_t n = 0;
    if (!fits(*mode, v, &n)) return false;
    tags.push_back(*mode == Mode::kFloat && v.kind == ValueKind::kInteger ? kWhole : 0);
    numbers.push_back(n);
    return true;
}

// How the values of the fields asked for are decoded.  Plain C, N and D
// fields (no Visual FoxPro null flag) straight from their bytes, by the
// same inline rules the reader reads them by (tables/fieldtypes.h); a
// value those rules do not read as its type, and every other field, through
// the reader, which gives it as stored.  Used by every decoding thread at once.
class Decoder {
public:
    // FIELDS: the fields in the order asked for; CHARACTERS: the code
    // page's when it has a byte a character, else null (it outlives the
    // decoder); TYPED: each piece's values are also typed as the columns of
    // a DataFrame hold them.
    Decoder(const hyl::TableReader& table, std::vector<int32_t> fields, const Characters* characters, bool typed)
        : fields_(std::move(fields)), characters_(characters), typed_(typed) {
        for (int32_t field : fields_) {
            const hyl::TableField& f = table.fields()[static_cast<std::size_t>(field)];
            ways_.push_back({&f, field, Way::kReader, mode_of(f)});
            Way& way = ways_.back().way;
            if (f.null_bit >= 0 || f.offset < 1) continue;
            if (f.rule == hyl::FieldRule::kText && characters) way = Way::kText;
            if (f.rule == hyl::FieldRule::kNumber) way = Way::kNumber;
            if (f.rule == hyl::FieldRule::kDate) way = Way::kDate;
        }
    }

    const std::vector<int32_t>& fields() const { return fields_; }

    // The cells of the record at RECORD added to PIECE; V is the thread's own.
    void decode(hyl::TableCursor& cursor, const uint8_t* record, Piece& piece, Value& v) const {
        piece.cells.resize(ways_.size());
        for (std::size_t i = 0; i < ways_.size(); ++i) {
            const Field& f = ways_[i];
            Cell& c = piece.cells[i].emplace_back();
            if (f.way != Way::kReader && plain(f, record, piece, c)) continue;
            cursor.decode(record, f.field, v);
            c.kind = v.kind;
            c.boolean = v.boolean;
            c.integer = v.integer;
            c.real = v.real;
            if (v.kind == ValueKind::kString) add_text(piece, c, v.text, false);
        }
        ++piece.records;
    }

    // What the calling thread would otherwise do for each value, done once
    // PIECE is decoded, on the thread that decoded it: a field's texts met
    // again in the piece are one text (made into one str), and, for a
    // DataFrame, each field's values typed.
    void finish(Piece& piece) const {
        const std::size_t width = ways_.size();
        piece.cells.resize(width);
        std::vector<Distinct>& texts = piece.each;
        texts.swap(piece.distinct);
        piece.distinct.clear();
        std::vector<int64_t>& seen = piece.seen;  // a distinct text's place + 1 by its hash; 0 free
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t first = piece.distinct.size();
            std::size_t mask = 0;
            for (Cell& cell : piece.cells[i]) {
                if (cell.kind != ValueKind::kString) continue;
                if (piece.distinct.size() == first) {
                    seen.assign(std::bit_ceil(static_cast<std::size_t>(2 * piece.records)), 0);
                    mask = seen.size() - 1;
                }
                const Distinct& d = texts[cell.text];
                const std::string_view bytes = piece.text_of(d);
                for (std::size_t at = d.hash & mask;; at = (at + 1) & mask) {
                    const int64_t place = seen[at];
                    if (place == 0) {
                        seen[at] = static_cast<int64_t>(piece.distinct.size()) + 1;
                        cell.text = static_cast<uint32_t>(piece.distinct.size());
                        piece.distinct.push_back(d);
                        if (d.stored) characters(piece, piece.distinct.back());
                        break;
                    }
                    const Distinct& e = piece.distinct[static_cast<std::size_t>(place - 1)];
                    if (e.hash == d.hash && piece.text_of(e) == bytes) {
                        cell.text = static_cast<uint32_t>(place - 1);
                        break;
                    }
                }
            }
        }
        if (!typed_) return;
        piece.typed.resize(width);
        for (std::size_t i = 0; i < width; ++i) {
            Typed& t = piece.typed[i];
            t.mode = ways_[i].mode;
            t.numbers.clear();
            t.tags.clear();
            if (t.mode == Mode::kObject) continue;
            for (const Cell& cell : piece.cells[i])
                if (!add_typed(&t.mode, t.numbers, t.tags, cell)) {
                    t.mode = Mode::kObject;
                    break;
                }
        }
    }

private:
    enum class Way : uint8_t { kReader, kText, kNumber, kDate };
    struct Field {
        const hyl::TableField* f;
        int32_t field;
        Way way;
        Mode mode;  // a DataFrame column's, to begin with
    };

    static void add_text(Piece& piece, Cell& c, std::string_view text, bool stored) {
        c.kind = ValueKind::kString;
        c.text = static_cast<uint32_t>(piece.distinct.size());
        Distinct& d = piece.distinct.emplace_back();
        d.at = piece.text.size();
        d.size = static_cast<uint32_t>(text.size());
        d.stored = stored;
        d.hash = std::hash<std::string_view>{}(text);
        piece.text.append(text);
    }

    // False for a value the plain rules leave to the reader.
    static bool plain(const Field& f, const uint8_t* record, Piece& piece, Cell& c) {
        const std::string_view stored = hyl::Field_StoredText(record + f.f->offset, f.f->length);
        switch (f.way) {
            case Way::kText: add_text(piece, c, stored, true); return true;
            case Way::kNumber:
                switch (hyl::Number_Read(hyl::Number_Digits(stored), &c.integer, &c.real)) {
                    case hyl::NumberForm::kNone: return true;
                    case hyl::NumberForm::kInteger: c.kind = ValueKind::kInteger; return true;
                    case hyl::NumberForm::kDecimal:
                    case hyl::NumberForm::kDouble: c.kind = ValueKind::kDouble; return true;
                    case hyl::NumberForm::kNotANumber: break;
                }
                c = Cell{};
                return false;
            case Way::kDate:
                switch (hyl::Date_Read(stored, &c.integer)) {
                    case hyl::DateForm::kNone: return true;
                    case hyl::DateForm::kDate: c.kind = ValueKind::kDate; return true;
                    case hyl::DateForm::kNotADate: break;
                }
                c = Cell{};
                return false;
            case Way::kReader: break;
        }
        return false;
    }

    // The characters of D (a stored text) in PIECE's units, as str holds them.
    void characters(Piece& piece, Distinct& d) const {
        const Characters& points = *characters_;
        const std::string_view bytes = piece.text_of(d);
        for (char b : bytes) d.widest = std::max(d.widest, points[static_cast<uint8_t>(b)]);
        d.units = piece.units.size();
        const std::size_t unit = d.widest < 0x100 ? 1 : d.widest < 0x10000 ? 2 : 4;
        piece.units.resize(d.units + unit * bytes.size());
        char* out = piece.units.data() + d.units;
        for (std::size_t i = 0; i < bytes.size(); ++i, out += unit) {
            const char32_t c = points[static_cast<uint8_t>(bytes[i])];
            const auto narrow = static_cast<uint16_t>(c);
            if (unit == 1) *out = static_cast<char>(c);
            else if (unit == 2) std::memcpy(out, &narrow, 2);
            else std::memcpy(out, &c, 4);
        }
    }

    std::vector<int32_t> fields_;
    std::vector<Field> ways_;
    const Characters* characters_;
    bool typed_;
};

PyObject* checked(PyObject* o) {
    if (!o) throw py::error_already_set();
    return o;
}

// Texts met again (columns of names and kinds repeat) given as the str
// already made, which costs neither the time nor the memory of another.
class TextMaker {
public:
    // SLOTS: how many texts are kept.
    explicit TextMaker(std::size_t slots) : size_(slots) {}
    TextMaker(const TextMaker&) = delete;
    TextMaker& operator=(const TextMaker&) = delete;

    // A new reference to the str of D, a stored text of PIECE.  A text is
    // kept the second time in a row its slot sees it, so that texts met
    // once (a column of notes) do not push out those met again and again.
    PyObject* make(const Distinct& d, const Piece& piece) {
        if (slots_.empty()) slots_.resize(size_);
        const std::string_view bytes = piece.text_of(d);
        Slot& slot = slots_[d.hash % size_];
        if (slot.text && slot.hash == d.hash && slot.bytes == bytes) {
            Py_INCREF(slot.text);
            return slot.text;
        }
        // The characters were worked out by the thread that decoded them.
        PyObject* text = PyUnicode_New(static_cast<Py_ssize_t>(bytes.size()), d.widest);
        if (!text) return nullptr;
        std::memcpy(PyUnicode_DATA(text), piece.units.data() + d.units, bytes.size() * PyUnicode_KIND(text));
        if (slot.seen != d.hash) {
            slot.seen = d.hash;
            return text;
        }
        Py_XDECREF(slot.text);
        slot.hash = d.hash;
        slot.bytes.assign(bytes);  // in the storage the slot had
        slot.text = text;
        Py_INCREF(text);
        return text;
    }

    ~TextMaker() {
        for (Slot& slot : slots_) Py_XDECREF(slot.text);
    }

private:
    struct Slot {
        uint64_t hash = 0;
        std::string bytes;
        PyObject* text = nullptr;
        uint64_t seen = 0;  // the hash of the last text it did not keep
    };
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

// How the cells of one field become Python objects, for one pass over a
// table (made and ended with the GIL held), new references: C text as str,
// numbers as int or float, dates as date and datetime, logicals as bool, a
// binary memo as hyl.BinaryMemo (its length); no value (blank, '?') as None.
class FieldMaker {
public:
    // SLOTS: how many texts and dates are kept.
    explicit FieldMaker(std::size_t slots) : texts_(slots), dates_(slots) {}
    FieldMaker(const FieldMaker&) = delete;
    FieldMaker& operator=(const FieldMaker&) = delete;

    // C of PIECE (whose MADE is as long as its distinct texts).
    PyObject* make(const Cell& c, Piece& piece) {
        switch (c.kind) {
            case ValueKind::kNull: Py_RETURN_NONE;
            case ValueKind::kBinary: return PyObject_CallFunction(g_binary_memo, "L", static_cast<long long>(c.integer));
            case ValueKind::kBool: return PyBool_FromLong(c.boolean);
            case ValueKind::kInteger: return PyLong_FromLongLong(c.integer);
            case ValueKind::kDouble:
            case ValueKind::kDecimal: return PyFloat_FromDouble(c.real);
            case ValueKind::kString: {
                PyObject*& made = piece.made[c.text];
                if (made) {
                    Py_INCREF(made);
                    return made;
                }
                const Distinct& d = piece.distinct[c.text];
                const std::string_view text = piece.text_of(d);
                made = d.stored ? texts_.make(d, piece)
                                : PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
                return made;
            }
            case ValueKind::kDate: return dates_.make(c.integer);
            case ValueKind::kDateTime: return new_datetime(c.integer);
        }
        Py_RETURN_NONE;
    }

private:
    TextMaker texts_;
    DateMaker dates_;
};

// What one pass over a table keeps: how each field's values are decoded and
// become objects, and the dict each record's dict is copied from, its keys
// in place.
struct Pass {
    std::unique_ptr<Decoder> decoder;
    std::vector<std::unique_ptr<FieldMaker>> fields;
    py::object shape;
};

// One column of a DataFrame as it fills, in the mode of mode_of() and
// add_typed(), its values added a piece at a time.
class Column {
public:
    Column(const hyl::TableField& f, int64_t capacity) : type_(f.type), mode_(mode_of(f)) {
        if (mode_ == Mode::kObject) objects_.reserve(static_cast<std::size_t>(capacity));
        else nulls_.reserve(static_cast<std::size_t>(capacity)), numbers_.reserve(static_cast<std::size_t>(capacity));
    }
    ~Column() {
        for (PyObject* o : objects_) Py_XDECREF(o);
    }
    Column(Column&& other) noexcept = default;

    // Field I of PIECE, made by MAKER where the column holds objects.
    void add(Piece& piece, std::size_t i, FieldMaker& maker) {
        const Typed& t = piece.typed[i];
        if (mode_ != Mode::kObject && t.mode != Mode::kObject) {
            if (mode_ == Mode::kInt && t.mode == Mode::kFloat) to_floats(nulls_), mode_ = Mode::kFloat;
            const std::size_t from = nulls_.size();
            nulls_.insert(nulls_.end(), t.tags.begin(), t.tags.end());
            numbers_.insert(numbers_.end(), t.numbers.begin(), t.numbers.end());
            // A piece of whole numbers in a column of floats: whole numbers kept so.
            if (mode_ == Mode::kFloat && t.mode == Mode::kInt)
                for (std::size_t k = from; k < nulls_.size(); ++k)
                    if (nulls_[k] != kNone) nulls_[k] = kWhole;
            return;
        }
        for (const Cell& v : piece.cells[i]) {
            if (mode_ != Mode::kObject) {
                if (add_typed(&mode_, numbers_, nulls_, v)) continue;
                to_objects(maker, piece);
            }
            objects_.push_back(checked(maker.make(v, piece)));
        }
    }

    // (dtype, values, mask or None): the column's own storage handed to
    // numpy as it is, not copied.
    py::tuple take() {
        switch (mode_) {
            case Mode::kInt: {
                py::array values = given<int64_t>(std::move(numbers_));
                return py::make_tuple("Int64", values, given<bool>(std::move(nulls_)));
            }
            case Mode::kBool: {
                py::array values = given<bool>(std::vector<uint8_t>(numbers_.begin(), numbers_.end()));
                return py::make_tuple("boolean", values, given<bool>(std::move(nulls_)));
            }
            case Mode::kFloat:
                for (std::size_t i = 0; i < nulls_.size(); ++i) {
                    const double d = nulls_[i] == kWhole ? static_cast<double>(numbers_[i]) : as_double(i);
                    as_double(i) = nulls_[i] == kNone ? std::numeric_limits<double>::quiet_NaN() : d;
                }
                return py::make_tuple("float64", given<double>(std::move(numbers_)), py::none());
            case Mode::kTime:
                for (std::size_t i = 0; i < nulls_.size(); ++i)
                    if (nulls_[i]) numbers_[i] = std::numeric_limits<int64_t>::min();  // NaT
                return py::make_tuple("datetime64[ns]", given<int64_t>(std::move(numbers_)), py::none());
            case Mode::kObject: break;
        }
        // The references go with the storage: what holds it lets them go.
        auto owned = std::make_unique<std::vector<PyObject*>>(std::move(objects_));
        objects_.clear();
        py::capsule base(owned.get(), [](void* p) {
            auto* objects = static_cast<std::vector<PyObject*>*>(p);
            for (PyObject* o : *objects) Py_XDECREF(o);
            delete objects;
        });
        std::vector<PyObject*>* objects = owned.release();
        py::array values(py::dtype("object"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(objects->size())},
                         std::vector<py::ssize_t>{sizeof(PyObject*)}, objects->data(), base);
        return py::make_tuple("object", values, py::none());
    }

private:
    double& as_double(std::size_t i) { return *reinterpret_cast<double*>(&numbers_[i]); }

    void to_objects(FieldMaker& maker, Piece& piece) {
        objects_.reserve(nulls_.capacity());
        for (std::size_t i = 0; i < nulls_.size(); ++i) {
            Cell v;
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
            objects_.push_back(checked(maker.make(v, piece)));
        }
        std::vector<int64_t>().swap(numbers_);
        std::vector<uint8_t>().swap(nulls_);
        mode_ = Mode::kObject;
    }

    // STORED as an array of T that owns it.
    template <typename T, typename Stored>
    static py::array given(std::vector<Stored>&& stored) {
        static_assert(sizeof(T) == sizeof(Stored));
        auto owned = std::make_unique<std::vector<Stored>>(std::move(stored));
        py::capsule base(owned.get(), [](void* p) { delete static_cast<std::vector<Stored>*>(p); });
        const std::vector<Stored>* values = owned.release();
        return py::array_t<T>(std::vector<py::ssize_t>{static_cast<py::ssize_t>(values->size())},
                              reinterpret_cast<const T*>(values->data()), base);
    }

    char type_;
    Mode mode_;
    std::vector<int64_t> numbers_;  // kInt, kBool, kTime; kFloat: the doubles' bits, or the whole numbers
    std::vector<uint8_t> nulls_;    // each value's tag (kNone, kWhole)
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
            keys_.push_back(py::reinterpret_steal<py::object>(checked(PyUnicode_InternFromString(field.name.c_str()))));
            if (!field.hidden) shown_.push_back(f);
        }
    }

    py::list fields() const {
        py::list out;
        for (int32_t field : shown_) {
            const hyl::TableField& f = table_.fields()[static_cast<std::size_t>(field)];
            const std::string type(1, f.type > 0x20 && f.type < 0x7F ? f.type : '?');
            out.append(py::make_tuple(keys_[static_cast<std::size_t>(field)], type, f.length, f.decimals, f.nullable));
        }
        return out;
    }

    std::string encoding() const { return hyl::CodePage_PythonName(table_.code_page().codepage); }
    int64_t size() const { return count_; }

    // The fields NAMES names (None: every field but _NullFlags), in that
    // order; ValueError naming a field the table lacks, or one named twice.
    std::vector<int32_t> chosen(const std::optional<std::vector<std::string>>& names) const {
        if (!names) return shown_;
        std::vector<int32_t> out;
        for (const std::string& name : *names) {
            const int32_t field = table_.find_field(name);
            if (field < 0) raise(Failure::kValue, name_ + ": no field named '" + name + "'");
            if (std::find(out.begin(), out.end(), field) != out.end())
                raise(Failure::kValue, name_ + ": field '" + name + "' is asked for twice");
            out.push_back(field);
        }
        return out;
    }

    // A pass over FIELDS whose dicts say whether their record is deleted
    // when FLAG (the GIL held).
    // With TYPED, each piece's values are also typed for a DataFrame.
    Pass pass(const std::vector<int32_t>& fields, bool flag, bool typed = false) const {
        Pass out;
        out.decoder = std::make_unique<Decoder>(table_, fields, single_byte_ ? &characters_ : nullptr, typed);
        py::dict shape;
        // Texts and dates kept for a column, made as they are first met: up
        // to 4,096 (what a processor's cache holds), a handful for a small table.
        const auto slots = static_cast<std::size_t>(std::clamp<int64_t>(count_, 16, 4096));
        for (int32_t field : fields) {
            out.fields.push_back(std::make_unique<FieldMaker>(slots));
            shape[keys_[static_cast<std::size_t>(field)]] = py::none();
        }
        if (flag) shape["_deleted"] = py::none();
        out.shape = shape;
        return out;
    }

    // Decodes the records FIRST .. END - 1 (the deleted ones only with
    // DELETED, each then with its flag) as PASS says, on THREADS threads
    // (0: the machine's) without the GIL, in ranges of PER_RANGE records (0:
    // of half a megabyte), and hands TAKE each range's piece in the order of the
    // records, with the GIL.
    template <typename Take>
    void read(int64_t first, int64_t end, const Pass& pass, int threads, bool deleted, int64_t per_range, Take&& take) {
        bool open = false, read = true;
        {
            py::gil_scoped_release released;
            std::lock_guard<std::mutex> lock(mutex_);
            open = open_;
            if (open) read = decode(first, end, *pass.decoder, threads, deleted, per_range, take);
        }
        if (!open) raise(Failure::kValue, name_ + ": the table is closed");
        if (!read) raise(Failure::kError, name_ + ": cannot be read to its end");
    }

    // Record R of PIECE as a dict or a tuple, with its deletion flag when asked.
    PyObject* record_of(Piece& piece, int64_t r, bool dict, bool flag, Pass& pass) {
        const auto n = static_cast<Py_ssize_t>(pass.fields.size());
        const std::vector<int32_t>& fields = pass.decoder->fields();
        PyObject* out = checked(dict ? PyDict_Copy(pass.shape.ptr()) : PyTuple_New(n + flag));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* o = pass.fields[static_cast<std::size_t>(i)]->make(
                piece.cells[static_cast<std::size_t>(i)][static_cast<std::size_t>(r)], piece);
            if (!o) {
                Py_DECREF(out);
                throw py::error_already_set();
            }
            if (!dict) {
                PyTuple_SET_ITEM(out, i, o);
                continue;
            }
            const int set = PyDict_SetItem(out, keys_[static_cast<std::size_t>(fields[static_cast<std::size_t>(i)])].ptr(), o);
            Py_DECREF(o);
            if (set != 0) {
                Py_DECREF(out);
                throw py::error_already_set();
            }
        }
        if (flag) {
            PyObject* deleted = PyBool_FromLong(piece.deleted[static_cast<std::size_t>(r)]);
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
    void collect(int64_t first, int64_t end, bool dicts, bool deleted, Pass& pass, int threads, int64_t per_range,
                 py::list& out) {
        ResidentArenas resident;
        read(first, end, pass, threads, deleted, per_range, [&](Piece& piece) {
            for (int64_t r = 0; r < piece.records; ++r) {
                PyObject* o = record_of(piece, r, dicts, deleted, pass);
                const int appended = PyList_Append(out.ptr(), o);
                Py_DECREF(o);
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
        if (!single_) single_ = std::make_unique<Pass>(pass(shown_, false));
        py::object out;
        read(i, i + 1, *single_, 1, true, 0, [&](Piece& piece) {
            out = py::reinterpret_steal<py::object>(record_of(piece, 0, true, false, *single_));
        });
        return out;
    }

    py::list all(bool dicts, bool deleted, const std::optional<std::vector<std::string>>& names, int threads) {
        py::list out;
        Pass all = pass(chosen(names), deleted);
        collect(0, count_, dicts, deleted, all, threads, 0, out);
        return out;
    }

    // The columns of a DataFrame of the records FIRST .. END - 1 (END
    // below 0: to the last) that are not deleted, or of all of them with
    // DELETED, then with a last column that says which are: (name, dtype,
    // values, mask or None) each.
    py::list columns(const std::optional<std::vector<std::string>>& names, int threads, bool deleted, int64_t first,
                     int64_t end) {
        end = end < 0 ? count_ : std::min(end, count_);
        first = std::clamp<int64_t>(first, 0, end);
        const std::vector<int32_t> fields = chosen(names);
        const std::size_t n = fields.size();
        std::vector<Column> columns;
        columns.reserve(n);
        for (int32_t field : fields) columns.emplace_back(table_.fields()[static_cast<std::size_t>(field)], end - first);
        std::vector<uint8_t> flags;
        Pass all = pass(fields, false, true);
        ResidentArenas resident;
        read(first, end, all, threads, deleted, 0, [&](Piece& piece) {
            for (std::size_t c = 0; c < n; ++c) columns[c].add(piece, c, *all.fields[c]);
            flags.insert(flags.end(), piece.deleted.begin(), piece.deleted.end());
        });
        py::list out;
        for (std::size_t c = 0; c < n; ++c) {
            py::tuple typed = columns[c].take();
            out.append(py::make_tuple(keys_[static_cast<std::size_t>(fields[c])], typed[0], typed[1], typed[2]));
        }
        if (deleted) {
            py::array_t<bool> values(static_cast<py::ssize_t>(flags.size()));
            if (!flags.empty()) std::memcpy(values.mutable_data(), flags.data(), flags.size());
            out.append(py::make_tuple("_deleted", "bool", values, py::none()));
        }
        return out;
    }

    void close() {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(mutex_);
        cursors_.clear();
        table_.close();
        open_ = false;
    }

private:
    // read's work, with the mutex held and without the GIL.
    template <typename Take>
    bool decode(int64_t first, int64_t end, const Decoder& decoder, int threads, bool deleted, int64_t per_range,
                Take& take) {
        const hyl::RecordRanges ranges =
            per_range > 0 ? hyl::Split_Ranges(first, end, per_range) : hyl::Split_Ranges(table_, first, end);
        threads = hyl::Split_Threads(ranges, threads);
        // Made here, on the calling thread, as the package opens every file.
        while (cursors_.size() < static_cast<std::size_t>(threads))
            cursors_.push_back(std::make_unique<hyl::TableCursor>(table_));
        std::vector<Piece> pieces(static_cast<std::size_t>(hyl::Split_Window(threads)));
        auto work = [&](int64_t range, int slot, int worker) {
            Piece& piece = pieces[static_cast<std::size_t>(slot)];
            piece.clear();
            hyl::TableCursor& cursor = *cursors_[static_cast<std::size_t>(worker)];
            Value v;  // on the thread's own stack, its cache lines its own
            return cursor.for_each_batch(ranges.first_of(range), ranges.end_of(range), [&](const hyl::RecordBatch& batch) {
                for (int64_t k = 0; k < batch.size(); ++k) {
                    const bool gone = batch.deleted(k);
                    if (gone && !deleted) continue;
                    decoder.decode(cursor, batch.record(k), piece, v);
                    if (deleted) piece.deleted.push_back(gone);
                }
                return true;
            }) && (decoder.finish(piece), true);
        };
        auto done = [&](int64_t, int slot) {
            py::gil_scoped_acquire acquired;
            Piece& piece = pieces[static_cast<std::size_t>(slot)];
            piece.made.assign(piece.distinct.size(), nullptr);
            take(piece);
            return true;
        };
        return hyl::Split_Run(ranges.count(), threads, work, done);
    }

    std::string name_;
    std::mutex mutex_;
    hyl::TableReader table_;
    std::vector<std::unique_ptr<hyl::TableCursor>> cursors_;  // a decoding thread's each, used with the mutex held
    bool open_ = false;
    int64_t count_ = 0;
    std::vector<int32_t> shown_;    // the fields handed out: all but _NullFlags
    std::vector<py::object> keys_;  // each field's name
    std::unique_ptr<Pass> single_;  // for records asked for by number
    bool single_byte_ = false;      // the code page has a byte a character,
    Characters characters_{};       // these
};

// Iterating a table: records decoded a few thousand at a time on each
// thread the machine has.
class Records {
public:
    Records(Reader& reader, bool dicts, bool deleted)
        : reader_(reader), dicts_(dicts), deleted_(deleted), pass_(reader.pass(reader.chosen(std::nullopt), deleted)),
          threads_(hyl::Split_MachineThreads()) {}
    Records(const Records&) = delete;
    Records(Records&&) = default;

    py::object next() {
        while (at_ >= static_cast<std::size_t>(PyList_GET_SIZE(chunk_.ptr()))) {
            if (next_ >= reader_.size()) throw py::stop_iteration();
            const int64_t end = std::min(reader_.size(), next_ + kChunk * threads_);
            chunk_ = py::list();
            at_ = 0;
            reader_.collect(next_, end, dicts_, deleted_, pass_, threads_, kChunk, chunk_);
            next_ = end;
        }
        return chunk_[at_++];
    }

private:
    static constexpr int64_t kChunk = 4096;
    Reader& reader_;
    bool dicts_, deleted_;
    Pass pass_;
    int threads_;
    int64_t next_ = 0;
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
        .def("all", &Reader::all, py::arg("dicts"), py::arg("deleted"), py::arg("columns") = std::nullopt,
             py::arg("threads") = 0)
        .def("columns", &Reader::columns, py::arg("columns") = std::nullopt, py::arg("threads") = 0,
             py::arg("deleted") = false, py::arg("first") = 0, py::arg("end") = -1)
        .def("iter", [](Reader& r, bool dicts, bool deleted) { return Records(r, dicts, deleted); }, py::keep_alive<0, 1>())
        .def("close", &Reader::close);
    py::class_<Records>(m, "Records")
        .def("__iter__", [](Records& r) -> Records& { return r; })
        .def("__next__", &Records::next);
}

}  // namespace hylpy
