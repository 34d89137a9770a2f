// Each field type's rules, both ways, in one place: how a field's bytes read
// as a value (or why they are not one), and how a value is written as a
// field's bytes (or why it is refused).  The whole-table reader (dump,
// info), check (its value findings are the reader's reasons), import,
// append and the Python package's reader, writer, plan and check all call
// these, so no two of them can judge a value differently.  The DLL's engine
// keeps its own reading: hosts depend on its exact texts.
//
// The small rules are inline, so that a fast path (the Python package
// filling a column) calls the same rule the reader does.
//
// A field's rule is decided once a table, from its type letter and the
// table's format (Field_RuleOf):
//   C, and letters no writer we know makes   text as stored
//   N, F          digits as text: an integer, a decimal, a double; blank or
//                 '*' fill no value
//   D             YYYYMMDD; blank or zeros no date
//   L             T t Y y, F f N n; '?' and blank no value
//   M G P W, and B outside Visual FoxPro    a block of the memo file
//   I, + (dBASE 7: big-endian, sign bit flipped)   4-byte integer
//   B in Visual FoxPro   8-byte double, little-endian
//   O             8-byte double, big-endian, sign bit flipped (all bits
//                 for a negative), in a table of any format
//   Y             8-byte count of ten-thousandths
//   T, and @ outside dBASE 7   Julian day and milliseconds
//   @ in dBASE 7  a big-endian double of milliseconds from the day before
//                 1 January of year 1
//   V, Q          Visual FoxPro's varchar and varbinary
//   0             _NullFlags: hidden; which nullable fields hold no value
#pragma once

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

#include "tables/codepage.h"

namespace hyl {

class MemoFile;

enum class ValueKind : uint8_t { kNull, kBool, kInteger, kDouble, kDecimal, kString, kDate, kDateTime, kBinary };

struct Value {
    ValueKind kind = ValueKind::kNull;
    bool boolean = false;
    // kInteger; kDecimal of a Y field: ten-thousandths;
    // kDate: days since 1970-01-01; kDateTime: milliseconds since 1970-01-01T00:00;
    // kBinary: length in bytes.
    int64_t integer = 0;
    double real = 0;  // kDouble, and the nearest double of kDecimal
    // kString: the text.  kDecimal: the digits ("-12.50", "0.1000").  For N,
    // F, D and L fields, whatever the kind: the stored text, blanks cut.
    // kBinary given to Field_Write: the bytes.
    std::string text;
};

// What is wrong with a value's bytes; kNone when nothing.
enum class ValueProblem : uint8_t {
    kNone,
    kNotANumber,
    kNotADate,
    kNotALogical,
    kNotADateTime,    // a T or @ value with a day of 0 and a time, or a time past the day
    kVarcharLength,   // a V or Q length byte past its field
    kBadText,         // bytes not valid in the code page (shown as U+FFFD)
    kMemoMissing,     // a memo block number, and no memo file
    kMemoPastEnd,     // the block lies past the memo file's end
    kMemoLengthPastEnd,
    kMemoUnreadable,
    kNotABlockNumber,  // a memo field of 10 that is not digits
};

// The layouts of table this library knows.
enum class TableFormat : uint8_t { kDbase3, kDbase4, kFoxPro, kVisualFoxPro, kDbase7 };

// How a field's bytes are laid.
enum class FieldRule : uint8_t {
    kText,
    kNumber,
    kDate,
    kLogical,
    kMemo,
    kInteger,
    kDbase7Integer,
    kDouble,
    kDbase7Double,
    kCurrency,
    kDateTime,
    kDbase7Timestamp,
    kVarchar,
    kVarbinary,
    kNullFlags,
};

FieldRule Field_RuleOf(char type, TableFormat format);

// A field as a table defines it, with what reading and writing it need.
struct TableField {
    std::string name;  // UTF-8
    char type = '\0';
    int32_t length = 0;
    int32_t decimals = 0;
    int32_t offset = 0;      // within the record; below 1 when unreadable
    FieldRule rule = FieldRule::kText;
    bool nullable = false;   // Visual FoxPro's flag
    bool hidden = false;     // _NullFlags, the system field
    bool memo = false;       // its value lives in the memo file
    bool binary = false;     // its value is bytes, shown as their length
    int32_t null_bit = -1;   // in _NullFlags: set when the value is null
    int32_t length_bit = -1; // in _NullFlags: set when a V or Q value is shorter than its field
};

// --- Reading, rule by rule ---------------------------------------------------

// A field's text as the field-text export cuts it: up to the first NUL,
// without trailing blanks and control bytes.
inline std::string_view Field_StoredText(const uint8_t* bytes, int32_t length) {
    const auto* text = reinterpret_cast<const char*>(bytes);
    std::size_t n = strnlen(text, static_cast<std::size_t>(length));
    while (n > 0 && static_cast<uint8_t>(text[n - 1]) <= 0x20) --n;
    return {text, n};
}

// A number as dBASE and its peers write one: a sign, digits with at most
// one point, an exponent.  *WHOLE when it has neither point nor exponent.
inline bool Number_IsText(std::string_view v, bool* whole) {
    std::size_t i = 0;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) ++i;
    int digits = 0;
    while (i < v.size() && (v[i] >= '0' && v[i] <= '9')) ++i, ++digits;
    *whole = true;
    if (i < v.size() && v[i] == '.') {
        *whole = false;
        ++i;
        while (i < v.size() && (v[i] >= '0' && v[i] <= '9')) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
        *whole = false;
        ++i;
        if (i < v.size() && (v[i] == '-' || v[i] == '+')) ++i;
        const std::size_t exponent = i;
        while (i < v.size() && (v[i] >= '0' && v[i] <= '9')) ++i;
        if (i == exponent) return false;
    }
    return i == v.size();
}


enum class NumberForm : uint8_t { kNone, kInteger, kDecimal, kDouble, kNotANumber };

// An N or F field's stored text (Field_StoredText) without the blanks before it.
inline std::string_view Number_Digits(std::string_view stored) {
    stored.remove_prefix(std::min(stored.find_first_not_of(' '), stored.size()));
    return stored;
}

// DIGITS (Number_Digits) read: no value when blank or '*' fill (a value too
// wide for its field); an integer when it has no point and fits 64 bits; a
// decimal with a point; a double with an exponent or past 64 bits.
inline NumberForm Number_Read(std::string_view digits, int64_t* integer, double* real) {
    if (digits.empty() || digits.find_first_not_of('*') == std::string_view::npos) return NumberForm::kNone;
    bool whole = false;
    if (!Number_IsText(digits, &whole)) return NumberForm::kNotANumber;
    const char* end = digits.data() + digits.size();
    const char* begin = digits.data() + (digits[0] == '+');
    // A whole number past 64 bits is out of range: from_chars then leaves
    // *INTEGER as it was, and the number is read as a double.
    if (whole) {
        const auto [at, error] = std::from_chars(begin, end, *integer);
        if (error == std::errc() && at == end) return NumberForm::kInteger;
    }
    std::from_chars(begin, end, *real);
    return digits.find_first_of("eE") == std::string_view::npos && !whole ? NumberForm::kDecimal : NumberForm::kDouble;
}

// Days since 1970-01-01 of a real calendar day (years from 1), or false.
inline bool Date_Days(int year, unsigned month, unsigned day, int64_t* days) {
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year{year}, std::chrono::month{month}, std::chrono::day{day}};
    if (year < 1 || !ymd.ok()) return false;
    *days = sys_days(ymd).time_since_epoch().count();
    return true;
}

enum class DateForm : uint8_t { kNone, kDate, kNotADate };

// A D field's stored text: YYYYMMDD of a real day; blank or zeros no date.
inline DateForm Date_Read(std::string_view stored, int64_t* days) {
    if (stored.find_first_not_of('0') == std::string_view::npos) return DateForm::kNone;
    if (stored.size() != 8) return DateForm::kNotADate;
    unsigned n[8];
    for (std::size_t i = 0; i < 8; ++i) {
        n[i] = static_cast<unsigned>(stored[i] - '0');
        if (n[i] > 9) return DateForm::kNotADate;
    }
    const int year = static_cast<int>(n[0] * 1000 + n[1] * 100 + n[2] * 10 + n[3]);
    return Date_Days(year, n[4] * 10 + n[5], n[6] * 10 + n[7], days) ? DateForm::kDate : DateForm::kNotADate;
}

enum class LogicalForm : uint8_t { kNone, kTrue, kFalse, kNotALogical };

// An L field: T t Y y true, F f N n false, '?', blank or NUL no value; an
// L field is one byte, and a longer one holds no '?' or blank.
inline LogicalForm Logical_Read(const uint8_t* bytes, int32_t length) {
    if (length < 1) return LogicalForm::kNone;
    switch (bytes[0]) {
        case 'T': case 't': case 'Y': case 'y': return LogicalForm::kTrue;
        case 'F': case 'f': case 'N': case 'n': return LogicalForm::kFalse;
        case '?': case ' ': case '\0': return length == 1 ? LogicalForm::kNone : LogicalForm::kNotALogical;
        default: return LogicalForm::kNotALogical;
    }
}

inline uint32_t Bytes_Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint32_t Bytes_Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
inline uint64_t Bytes_Le64(const uint8_t* p) { return Bytes_Le32(p) | static_cast<uint64_t>(Bytes_Le32(p + 4)) << 32; }
inline uint64_t Bytes_Be64(const uint8_t* p) { return static_cast<uint64_t>(Bytes_Be32(p)) << 32 | Bytes_Be32(p + 4); }
inline double Bytes_Double(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// FoxPro's I and +: 4 bytes, little-endian.
inline int32_t Integer_Read(const uint8_t* bytes) { return static_cast<int32_t>(Bytes_Le32(bytes)); }
// dBASE 7's I and +: 4 bytes, big-endian, the sign bit flipped so that the
// bytes sort as the numbers do.
inline int32_t Dbase7Integer_Read(const uint8_t* bytes) { return static_cast<int32_t>(Bytes_Be32(bytes) ^ 0x80000000u); }
// Visual FoxPro's B: 8 bytes, little-endian.
inline double Double_Read(const uint8_t* bytes) { return Bytes_Double(Bytes_Le64(bytes)); }
// dBASE 7's O: 8 bytes, big-endian; the sign bit flipped for a positive
// number, every bit for a negative one, so that the bytes sort as the numbers do.
inline uint64_t Dbase7Double_Bits(const uint8_t* bytes) {
    const uint64_t bits = Bytes_Be64(bytes);
    return bits >> 63 ? bits ^ (uint64_t{1} << 63) : ~bits;
}
inline double Dbase7Double_Read(const uint8_t* bytes) { return Bytes_Double(Dbase7Double_Bits(bytes)); }
// Visual FoxPro's Y: 8 bytes, a count of ten-thousandths.
inline int64_t Currency_Read(const uint8_t* bytes) { return static_cast<int64_t>(Bytes_Le64(bytes)); }

enum class DateTimeForm : uint8_t { kNone, kDateTime, kNotADateTime };

constexpr int64_t kJulianDay1970 = 2440588;  // the Julian day of 1970-01-01
constexpr int64_t kDayMilliseconds = 86400000;
// dBASE 7's count begins the day before 0001-01-01: 719,163 days before 1970.
constexpr int64_t kDbase7EpochMilliseconds = int64_t{719163} * kDayMilliseconds;

// Visual FoxPro's T: a Julian day and the milliseconds of the day, both
// 4 bytes little-endian.  Zeros or blanks no value; a time with no day, or
// one past the day, is none.
DateTimeForm DateTime_Read(const uint8_t* bytes, int64_t* milliseconds);
// dBASE 7's @ (see above).  Zeros no value.
DateTimeForm Dbase7Timestamp_Read(const uint8_t* bytes, int64_t* milliseconds);

enum class MemoPointerForm : uint8_t { kNone, kBlock, kNotABlockNumber };

// A memo field's pointer: 4 bytes little-endian in a field of 4 (Visual
// FoxPro), else digits among blanks and NULs; block 0 is no entry.
MemoPointerForm MemoPointer_Read(const uint8_t* bytes, int32_t length, uint64_t* block);

// --- Reading a field whole ---------------------------------------------------

// What reading a field needs beyond its own bytes.
struct FieldContext {
    const TextCodec* codec = nullptr;
    MemoFile* memo = nullptr;             // the table's memo file, or null
    std::string* memo_bytes = nullptr;    // room for a memo entry (with MEMO)
    int32_t null_flags_offset = -1;       // where _NullFlags lies in a record
    int32_t null_flags_bits = 0;
};

// Field F of the record at RECORD (its deletion flag first) as its rule
// reads it, and what is wrong with it.  OUT's string keeps its storage from
// call to call.  A value that does not read as its type comes as kString
// with the text as stored.
ValueProblem Field_Read(const TableField& f, const uint8_t* record, const FieldContext& context, Value& out);

// --- Writing -----------------------------------------------------------------

// A value made into a field's bytes.
struct FieldBytes {
    std::string bytes;      // the field's LENGTH bytes; a memo field's pointer is put
                            // there once its entry has a block (Field_MemoPointer)
    bool cut = false;       // text cut to the field (with truncate)
    bool null = false;      // a nullable field given no value: its null bit is set
    bool shorter = false;   // a V or Q value shorter than its field: its length bit is set
    bool memo = false;      // the value is MEMO_BYTES, an entry of the memo file
    std::string memo_bytes;
    uint32_t memo_type = 1;  // FoxPro's kind of entry: 1 text, 0 picture or binary, 2 object
};

struct WriteOptions {
    bool truncate = false;  // cut C text longer than its field instead of refusing it
};

// VALUE (a typed value, or text as CSV gives every value) checked against
// field F and made into its bytes in CODEC's code page: text padded with
// blanks, numbers right-aligned, binary numbers as their format stores them;
// a memo value made into the entry the memo file will hold.  kNull, and
// empty text, leave the field without a value (blank, or null where it may
// be null).  False, with *PROBLEM in plain words naming the value, when the
// value does not fit.
bool Field_Write(const TableField& f, const Value& value, const TextCodec& codec, const WriteOptions& options,
                 FieldBytes* out, std::string* problem);

// The bytes of a memo field that points at BLOCK (0: no entry): ten digits
// right-aligned after blanks, or, in a field of 4 (Visual FoxPro), the
// block number little-endian.
std::string Field_MemoPointer(const TableField& f, uint64_t block);

// The bytes of field F holding no value: blanks where the value is text,
// zeros where it is binary.
std::string Field_Blank(const TableField& f);

// Whether a field of TYPE, LENGTH and DECIMALS can be defined in a table
// of FORMAT; false with *PROBLEM ("a C field is 1 to 254 characters long",
// "type Y: Visual FoxPro has it, dBASE III does not (--format vfp)").
// *LENGTH of 0 is taken as the type's one length where it has one.
bool Field_CheckDefinition(char type, int* length, int decimals, TableFormat format, std::string* problem);

// "dBASE III", "Visual FoxPro": a format as messages name it.
const char* Format_Name(TableFormat format);

// UTF-8 text in CODEC's code page, or false with *PROBLEM naming what
// cannot be written: bytes that are not UTF-8 ("not UTF-8 text (byte
// 0xFF)"), a control character, which readers take for the end of a value
// ("a control character (U+0009)"; with LINES, tabs and line breaks are
// text, as in a memo), or a character the code page lacks ("'«' (U+00AB)
// has no place in code page 866").
bool Text_Encode(const TextCodec& codec, std::string_view utf8, std::string* stored, std::string* problem,
                 bool lines = false);

// A value as a message quotes it: long ones shortened.
std::string Text_Quoted(std::string_view utf8);
// "U+00AB".
std::string Text_CodePoint(char32_t c);

// --- Showing -----------------------------------------------------------------

// Days since 1970-01-01 as YYYY-MM-DD; milliseconds since 1970 as
// YYYY-MM-DDTHH:MM:SS, with .fff when there are milliseconds.
std::string Date_Format(int64_t days);
std::string DateTime_Format(int64_t milliseconds);

}  // namespace hyl
