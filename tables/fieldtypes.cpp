// Each field type's rules: reading a field's bytes, writing a value, and
// the lengths each type may be defined with.
#include "tables/fieldtypes.h"

#include <cmath>
#include <cstdio>

#include "tables/memo.h"

namespace hyl {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Writes N as DIGITS digits at TEXT.
void put_digits(char* text, int64_t n, int digits) {
    for (int i = digits - 1; i >= 0; --i, n /= 10) text[i] = static_cast<char>('0' + n % 10);
}

// YYYY-MM-DD at TEXT (10 bytes), for years 0 to 9999.
void put_date(char* text, int64_t days) {
    using namespace std::chrono;
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    put_digits(text, static_cast<int>(ymd.year()), 4);
    text[4] = '-';
    put_digits(text + 5, static_cast<unsigned>(ymd.month()), 2);
    text[7] = '-';
    put_digits(text + 8, static_cast<unsigned>(ymd.day()), 2);
}

// The last millisecond of 9999-12-31, the end of every date this library reads.
constexpr int64_t kLastMillisecond = int64_t{2932896} * kDayMilliseconds - 1;

}  // namespace

FieldRule Field_RuleOf(char type, TableFormat format) {
    const bool dbase7 = format == TableFormat::kDbase7;
    switch (type) {
        case 'N':
        case 'F': return FieldRule::kNumber;
        case 'D': return FieldRule::kDate;
        case 'L': return FieldRule::kLogical;
        case 'M':
        case 'G':
        case 'P':
        case 'W': return FieldRule::kMemo;
        case 'B': return format == TableFormat::kVisualFoxPro ? FieldRule::kDouble : FieldRule::kMemo;
        case 'I':
        case '+': return dbase7 ? FieldRule::kDbase7Integer : FieldRule::kInteger;
        // Only dBASE 7 defines O, and peers that write it elsewhere write it its way.
        case 'O': return FieldRule::kDbase7Double;
        case 'Y': return FieldRule::kCurrency;
        case 'T': return FieldRule::kDateTime;
        case '@': return dbase7 ? FieldRule::kDbase7Timestamp : FieldRule::kDateTime;
        case 'V': return FieldRule::kVarchar;
        case 'Q': return FieldRule::kVarbinary;
        case '0': return FieldRule::kNullFlags;
        default: return FieldRule::kText;
    }
}

DateTimeForm DateTime_Read(const uint8_t* bytes, int64_t* milliseconds) {
    if (std::all_of(bytes, bytes + 8, [](uint8_t b) { return b == ' '; })) return DateTimeForm::kNone;
    const int64_t day = Bytes_Le32(bytes), ms = Bytes_Le32(bytes + 4);
    if (day == 0) return ms == 0 ? DateTimeForm::kNone : DateTimeForm::kNotADateTime;
    if (ms >= kDayMilliseconds) return DateTimeForm::kNotADateTime;
    *milliseconds = (day - kJulianDay1970) * kDayMilliseconds + ms;
    return DateTimeForm::kDateTime;
}

DateTimeForm Dbase7Timestamp_Read(const uint8_t* bytes, int64_t* milliseconds) {
    if (std::all_of(bytes, bytes + 8, [](uint8_t b) { return b == 0; })) return DateTimeForm::kNone;
    // dBASE 7 stores it with its sign bit set, as it sorts O's doubles; a
    // writer that stores the plain double leaves the bit clear.  No moment
    // before year 1 is a timestamp, so both read as the positive count.
    const double count = Bytes_Double(Bytes_Be64(bytes) & ~(uint64_t{1} << 63));
    if (!(count >= 0) || count - static_cast<double>(kDbase7EpochMilliseconds) > static_cast<double>(kLastMillisecond))
        return DateTimeForm::kNotADateTime;
    *milliseconds = std::llround(count) - kDbase7EpochMilliseconds;
    return DateTimeForm::kDateTime;
}

MemoPointerForm MemoPointer_Read(const uint8_t* bytes, int32_t length, uint64_t* block) {
    *block = 0;
    if (length == 4) {
        *block = Bytes_Le32(bytes);
    } else {
        std::string_view v(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(std::max(length, 0)));
        while (!v.empty() && (v.front() == ' ' || v.front() == '\0')) v.remove_prefix(1);
        while (!v.empty() && (v.back() == ' ' || v.back() == '\0')) v.remove_suffix(1);
        if (!std::all_of(v.begin(), v.end(), is_digit) || v.size() > 18) return MemoPointerForm::kNotABlockNumber;
        for (char ch : v) *block = *block * 10 + static_cast<uint64_t>(ch - '0');
    }
    return *block ? MemoPointerForm::kBlock : MemoPointerForm::kNone;
}

namespace {

bool is_null(const uint8_t* record, const FieldContext& c, int32_t bit) {
    return bit >= 0 && bit < c.null_flags_bits && c.null_flags_offset >= 1 &&
           (record[c.null_flags_offset + bit / 8] >> (bit % 8) & 1) != 0;
}

ValueProblem read_memo(const TableField& f, const uint8_t* bytes, const FieldContext& c, Value& out) {
    uint64_t block = 0;
    if (MemoPointer_Read(bytes, f.length, &block) == MemoPointerForm::kNotABlockNumber) {
        std::string_view v(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(f.length));
        while (!v.empty() && (v.front() == ' ' || v.front() == '\0')) v.remove_prefix(1);
        while (!v.empty() && (v.back() == ' ' || v.back() == '\0')) v.remove_suffix(1);
        c.codec->append_utf8(out.text, v);
        out.kind = ValueKind::kString;
        return ValueProblem::kNotABlockNumber;
    }
    if (block == 0) return ValueProblem::kNone;
    if (!c.memo || !c.memo->is_open()) return ValueProblem::kMemoMissing;
    std::string& entry_bytes = *c.memo_bytes;
    const MemoEntry entry = c.memo->read(block, entry_bytes);
    switch (entry) {
        case MemoEntry::kPastEnd: return ValueProblem::kMemoPastEnd;
        case MemoEntry::kUnreadable: return ValueProblem::kMemoUnreadable;
        case MemoEntry::kText:
        case MemoEntry::kBinary:
        case MemoEntry::kLengthPastEnd: break;
    }
    const ValueProblem problem = entry == MemoEntry::kLengthPastEnd ? ValueProblem::kMemoLengthPastEnd : ValueProblem::kNone;
    if (entry == MemoEntry::kLengthPastEnd && entry_bytes.empty()) return problem;
    if (f.binary || entry == MemoEntry::kBinary) {
        out.kind = ValueKind::kBinary;
        out.integer = static_cast<int64_t>(entry_bytes.size());
        return problem;
    }
    out.kind = ValueKind::kString;
    const bool bad = c.codec->append_utf8(out.text, entry_bytes) != 0;
    return problem != ValueProblem::kNone ? problem : bad ? ValueProblem::kBadText : ValueProblem::kNone;
}

std::string currency_text(int64_t count) {
    const uint64_t magnitude = count < 0 ? 0 - static_cast<uint64_t>(count) : static_cast<uint64_t>(count);
    char digits[32];
    std::snprintf(digits, sizeof digits, "%s%llu.%04llu", count < 0 ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 10000), static_cast<unsigned long long>(magnitude % 10000));
    return digits;
}

}  // namespace

ValueProblem Field_Read(const TableField& f, const uint8_t* record, const FieldContext& c, Value& out) {
    out.kind = ValueKind::kNull;
    out.text.clear();
    if (f.offset < 1 || f.hidden) return ValueProblem::kNone;
    const uint8_t* bytes = record + f.offset;
    const bool null = is_null(record, c, f.null_bit);
    auto text = [&](std::string_view raw) {
        out.kind = ValueKind::kString;
        return c.codec->append_utf8(out.text, raw) ? ValueProblem::kBadText : ValueProblem::kNone;
    };
    // The N, D and L cases hold the stored text already: it is given once.
    auto as_stored = [&](std::string_view raw, ValueProblem problem) {
        out.text.clear();
        text(raw);
        return problem;
    };
    switch (f.rule) {
        case FieldRule::kNumber: {
            const std::string_view v = Number_Digits(Field_StoredText(bytes, f.length));
            c.codec->append_utf8(out.text, v);
            if (null) return ValueProblem::kNone;
            switch (Number_Read(v, &out.integer, &out.real)) {
                case NumberForm::kNone: return ValueProblem::kNone;
                case NumberForm::kNotANumber: return as_stored(v, ValueProblem::kNotANumber);
                case NumberForm::kInteger: out.kind = ValueKind::kInteger; break;
                case NumberForm::kDecimal: out.kind = ValueKind::kDecimal; break;
                case NumberForm::kDouble: out.kind = ValueKind::kDouble; break;
            }
            return ValueProblem::kNone;
        }
        case FieldRule::kDate: {
            const std::string_view v = Field_StoredText(bytes, f.length);
            out.text.assign(v);
            if (null) return ValueProblem::kNone;
            switch (Date_Read(v, &out.integer)) {
                case DateForm::kNone: return ValueProblem::kNone;
                case DateForm::kNotADate: return as_stored(v, ValueProblem::kNotADate);
                case DateForm::kDate: out.kind = ValueKind::kDate; return ValueProblem::kNone;
            }
            return ValueProblem::kNone;
        }
        case FieldRule::kLogical: {
            out.text.assign(Field_StoredText(bytes, f.length));
            if (null) return ValueProblem::kNone;
            const LogicalForm form = Logical_Read(bytes, f.length);
            if (form == LogicalForm::kNotALogical) return as_stored(Field_StoredText(bytes, f.length), ValueProblem::kNotALogical);
            if (form != LogicalForm::kNone) {
                out.kind = ValueKind::kBool;
                out.boolean = form == LogicalForm::kTrue;
            }
            return ValueProblem::kNone;
        }
        case FieldRule::kInteger:
        case FieldRule::kDbase7Integer:
            if (null || f.length != 4) return ValueProblem::kNone;
            // dBASE 7 leaves an I field that holds nothing as zeros.
            if (f.rule == FieldRule::kDbase7Integer && Bytes_Le32(bytes) == 0) return ValueProblem::kNone;
            out.kind = ValueKind::kInteger;
            out.integer = f.rule == FieldRule::kInteger ? Integer_Read(bytes) : Dbase7Integer_Read(bytes);
            return ValueProblem::kNone;
        case FieldRule::kDouble:
            if (null || f.length != 8) return ValueProblem::kNone;
            out.kind = ValueKind::kDouble;
            out.real = Double_Read(bytes);
            return ValueProblem::kNone;
        case FieldRule::kDbase7Double:
            if (null || f.length != 8 || Bytes_Le64(bytes) == 0) return ValueProblem::kNone;
            out.kind = ValueKind::kDouble;
            out.real = Dbase7Double_Read(bytes);
            return ValueProblem::kNone;
        case FieldRule::kCurrency:
            if (null || f.length != 8) return ValueProblem::kNone;
            out.kind = ValueKind::kDecimal;
            out.integer = Currency_Read(bytes);
            out.real = static_cast<double>(out.integer) / 10000;
            out.text = currency_text(out.integer);
            return ValueProblem::kNone;
        case FieldRule::kDateTime:
        case FieldRule::kDbase7Timestamp: {
            if (null || f.length != 8) return ValueProblem::kNone;
            const DateTimeForm form = f.rule == FieldRule::kDateTime ? DateTime_Read(bytes, &out.integer)
                                                                      : Dbase7Timestamp_Read(bytes, &out.integer);
            if (form == DateTimeForm::kDateTime) out.kind = ValueKind::kDateTime;
            return form == DateTimeForm::kNotADateTime ? ValueProblem::kNotADateTime : ValueProblem::kNone;
        }
        case FieldRule::kMemo: return null ? ValueProblem::kNone : read_memo(f, bytes, c, out);
        case FieldRule::kVarchar:
        case FieldRule::kVarbinary: {
            if (null) return ValueProblem::kNone;
            int32_t n = f.length;
            ValueProblem problem = ValueProblem::kNone;
            const bool shorter = is_null(record, c, f.length_bit) && f.length >= 1;
            if (shorter) {
                n = bytes[f.length - 1];
                if (n > f.length - 1) {
                    n = f.length - 1;
                    problem = ValueProblem::kVarcharLength;
                }
            }
            if (f.rule == FieldRule::kVarbinary) {
                out.kind = ValueKind::kBinary;
                out.integer = n;
                return problem;
            }
            const std::string_view v = shorter ? std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n))
                                               : Field_StoredText(bytes, n);
            const ValueProblem bad = text(v);
            return problem != ValueProblem::kNone ? problem : bad;
        }
        case FieldRule::kNullFlags: return ValueProblem::kNone;
        case FieldRule::kText: break;
    }
    return null ? ValueProblem::kNone : text(Field_StoredText(bytes, f.length));
}

// --- Writing -------------------------------------------------------------------

std::string Text_CodePoint(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

std::string Text_Quoted(std::string_view utf8) {
    std::size_t i = 0, chars = 0;
    char32_t c = 0;
    while (i < utf8.size() && chars < 40 && Utf8_Next(utf8, &i, &c)) ++chars;
    return "'" + (i < utf8.size() ? std::string(utf8.substr(0, i)) + "..." : std::string(utf8)) + "'";
}

namespace {

std::string shape(const TableField& f) {
    if (f.rule == FieldRule::kNumber)
        return std::string(1, f.type) + "(" + std::to_string(f.length) + "," + std::to_string(f.decimals) + ")";
    return std::string(1, f.type) + "(" + std::to_string(f.length) + ")";
}

// A double as a number field stores it: to the fifteen significant digits a
// double holds (so that 0.1 + 0.2 is 0.3, not its binary neighbour), in the
// fewest digits that give that back, never with an exponent.
std::string double_text(double d) {
    char text[400];
    const auto digits = std::to_chars(text, text + sizeof text, d, std::chars_format::general, 15);
    double rounded = d;
    std::from_chars(text, digits.ptr, rounded);
    return std::string(text, std::to_chars(text, text + sizeof text, rounded, std::chars_format::fixed).ptr);
}

// A number as dBASE stores it: an optional minus, digits, and after a point
// at most DECIMALS digits; the whole text, sign and point included, fits
// the field.
bool number_fits(const TableField& f, const std::string& text, std::string* problem) {
    std::size_t i = text[0] == '-' ? 1 : 0;
    std::size_t whole = 0, fraction = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (is_digit(text[i])) {
            ++(point ? fraction : whole);
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            *problem = Text_Quoted(text) + " is not a number";
            return false;
        }
    }
    if (whole + fraction == 0) {
        *problem = Text_Quoted(text) + " is not a number";
        return false;
    }
    if (point && f.decimals == 0) {
        *problem = Text_Quoted(text) + " does not fit " + shape(f) + ": it holds whole numbers";
        return false;
    }
    if (fraction > static_cast<std::size_t>(f.decimals)) {
        *problem = Text_Quoted(text) + " does not fit " + shape(f) + ": " + std::to_string(fraction) +
                   " digits after the point, it holds " + std::to_string(f.decimals);
        return false;
    }
    if (text.size() > static_cast<std::size_t>(f.length)) {
        *problem = Text_Quoted(text) + " does not fit " + shape(f) + ": " + std::to_string(text.size()) +
                   " characters, sign and point included, it holds " + std::to_string(f.length);
        return false;
    }
    return true;
}

// The text of a value given for a field of text-like storage (numbers,
// dates, logicals): what CSV gave, or the typed value written out.
std::string text_of(const Value& v) {
    char digits[32];
    switch (v.kind) {
        case ValueKind::kInteger: return std::string(digits, std::to_chars(digits, digits + sizeof digits, v.integer).ptr);
        case ValueKind::kDouble: return double_text(v.real);
        case ValueKind::kBool: return v.boolean ? "T" : "F";
        case ValueKind::kDate: return Date_Format(v.integer);
        case ValueKind::kDateTime: return DateTime_Format(v.integer);
        default: return v.text;
    }
}

bool write_text(const TableField& f, const Value& v, const TextCodec& codec, const WriteOptions& options, FieldBytes* out,
                std::string* problem) {
    if (v.kind != ValueKind::kString) return *problem = Text_Quoted(text_of(v)) + " is not text", false;
    std::string stored;
    if (!Text_Encode(codec, v.text, &stored, problem)) {
        const bool control = problem->rfind("a control", 0) == 0;
        if (problem->rfind("not UTF-8", 0) != 0) *problem = Text_Quoted(v.text) + (control ? " holds " : ": ") + *problem;
        return false;
    }
    const bool utf8_table = codec.codepage() == kCodePageUtf8;
    if (stored.size() > static_cast<std::size_t>(f.length)) {
        if (!options.truncate) {
            *problem = Text_Quoted(v.text) + " has " + std::to_string(stored.size()) +
                       (utf8_table ? " bytes in UTF-8; " : " characters; ") + shape(f) + " holds " + std::to_string(f.length);
            return false;
        }
        std::size_t n = static_cast<std::size_t>(f.length);
        // A UTF-8 table is cut between characters, never inside one.
        while (utf8_table && n > 0 && (static_cast<uint8_t>(stored[n]) & 0xC0) == 0x80) --n;
        stored.resize(n);
        out->cut = true;
    }
    out->bytes = stored;
    return true;
}

bool write_number(const TableField& f, const Value& v, FieldBytes* out, std::string* problem) {
    std::string text = text_of(v);
    // Blanks around a number are layout.
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    if (text.empty()) return true;
    if (!number_fits(f, text, problem)) return false;
    out->bytes = std::string(static_cast<std::size_t>(f.length) - text.size(), ' ') + text;
    return true;
}

bool write_date(const Value& v, FieldBytes* out, std::string* problem) {
    if (v.kind == ValueKind::kDateTime && v.integer % kDayMilliseconds != 0) {
        *problem = Text_Quoted(text_of(v)) + " has a time of day; a D field holds the date alone";
        return false;
    }
    std::string text;
    if (v.kind == ValueKind::kDate || v.kind == ValueKind::kDateTime) {
        const int64_t days = v.kind == ValueKind::kDate ? v.integer : v.integer / kDayMilliseconds;
        const std::string iso = Date_Format(days);
        text = iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2);
    } else {
        text = text_of(v);
    }
    if (text.empty()) return true;
    int64_t days = 0;
    const bool digits = text.size() == 8 && std::all_of(text.begin(), text.end(), is_digit);
    if (!digits) return *problem = Text_Quoted(text) + " is not a date YYYYMMDD", false;
    if (Date_Read(text, &days) != DateForm::kDate) return *problem = Text_Quoted(text) + " is not a date: no such day", false;
    out->bytes = text;
    return true;
}

bool write_logical(const Value& v, FieldBytes* out, std::string* problem) {
    const std::string text = text_of(v);
    if (text.empty()) return true;
    if (text.size() != 1 || std::string_view("?YyNnTtFf").find(text[0]) == std::string_view::npos) {
        *problem = Text_Quoted(text) + " is not a logical value (one of ? Y N T F)";
        return false;
    }
    out->bytes = text;
    return true;
}

void put_le(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
}

// A whole number from a value: an integer, a double with no fraction, or
// digits as text.
bool whole_of(const Value& v, int64_t* n) {
    if (v.kind == ValueKind::kInteger) return *n = v.integer, true;
    if (v.kind == ValueKind::kDouble)
        return std::trunc(v.real) == v.real && std::abs(v.real) < 9.2e18 && (*n = static_cast<int64_t>(v.real), true);
    std::string_view text = v.text;
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    const char* begin = text.data() + (!text.empty() && text[0] == '+');
    return !text.empty() && std::from_chars(begin, text.data() + text.size(), *n).ptr == text.data() + text.size();
}

bool write_integer(const TableField& f, const Value& v, FieldBytes* out, std::string* problem) {
    int64_t n = 0;
    if (!whole_of(v, &n)) return *problem = Text_Quoted(text_of(v)) + " is not a whole number", false;
    if (n < INT32_MIN || n > INT32_MAX)
        return *problem = Text_Quoted(text_of(v)) + " does not fit " + shape(f) + ": it holds -2147483648 to 2147483647",
               false;
    put_le(out->bytes, static_cast<uint32_t>(static_cast<int32_t>(n)), 4);
    return true;
}

bool write_double(const Value& v, FieldBytes* out, std::string* problem) {
    double d = v.real;
    if (v.kind == ValueKind::kInteger) {
        d = static_cast<double>(v.integer);
    } else if (v.kind != ValueKind::kDouble) {
        bool whole = false;
        std::string_view text = v.text;
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
        while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
        if (!Number_IsText(text, &whole)) return *problem = Text_Quoted(v.text) + " is not a number", false;
        std::from_chars(text.data() + (text[0] == '+'), text.data() + text.size(), d);
    }
    if (!std::isfinite(d)) return *problem = Text_Quoted(text_of(v)) + " is not a number", false;
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    put_le(out->bytes, bits, 8);
    return true;
}

// Y: ten-thousandths, exact; text and decimals with more than four places
// are refused, a double is taken to its fifteen significant digits first.
bool write_currency(const TableField& f, const Value& v, FieldBytes* out, std::string* problem) {
    std::string text = v.kind == ValueKind::kInteger || v.kind == ValueKind::kDouble ? text_of(v) : v.text;
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    const bool negative = !text.empty() && text[0] == '-';
    std::size_t i = negative || (!text.empty() && text[0] == '+') ? 1 : 0;
    // Visual FoxPro's range is a 64-bit integer's: one ten-thousandth more
    // below zero than above.
    const uint64_t most = static_cast<uint64_t>(INT64_MAX) + (negative ? 1 : 0);
    uint64_t units = 0;
    bool overflow = false;
    int fraction = -1, digits = 0;
    for (; i < text.size(); ++i) {
        if (text[i] == '.' && fraction < 0) {
            fraction = 0;
            continue;
        }
        if (!is_digit(text[i])) return *problem = Text_Quoted(text) + " is not a number", false;
        if (fraction >= 0 && ++fraction > 4)
            return *problem = Text_Quoted(text) + " does not fit " + shape(f) + ": " + std::to_string(fraction) +
                              " digits after the point, it holds 4",
                   false;
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        overflow = overflow || units > (most - digit) / 10;
        units = units * 10 + digit;
        ++digits;
    }
    if (digits == 0) return *problem = Text_Quoted(text) + " is not a number", false;
    for (int k = std::max(fraction, 0); k < 4; ++k) {
        overflow = overflow || units > most / 10;
        units *= 10;
    }
    if (overflow)
        return *problem = Text_Quoted(text) + " does not fit " + shape(f) +
                          ": it holds -922337203685477.5808 to 922337203685477.5807",
               false;
    put_le(out->bytes, negative ? 0 - units : units, 8);
    return true;
}

// YYYY-MM-DD, with a time THH:MM[:SS[.fff]] after a T or a blank.
bool parse_date_time(std::string_view text, int64_t* milliseconds) {
    auto number = [&](std::size_t at, std::size_t n, int* value) {
        if (at + n > text.size()) return false;
        int x = 0;
        for (std::size_t k = at; k < at + n; ++k) {
            if (!is_digit(text[k])) return false;
            x = x * 10 + (text[k] - '0');
        }
        *value = x;
        return true;
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, ms = 0;
    int64_t days = 0;
    if (!number(0, 4, &y) || text.size() < 10 || text[4] != '-' || text[7] != '-' || !number(5, 2, &mo) ||
        !number(8, 2, &d) || !Date_Days(y, static_cast<unsigned>(mo), static_cast<unsigned>(d), &days))
        return false;
    if (text.size() > 10) {
        if ((text[10] != 'T' && text[10] != ' ') || !number(11, 2, &h) || text.size() < 16 || text[13] != ':' ||
            !number(14, 2, &mi))
            return false;
        std::size_t at = 16;
        if (text.size() > at) {
            if (text[at] != ':' || !number(at + 1, 2, &sec)) return false;
            at += 3;
            if (text.size() > at) {
                if (text[at] != '.' || text.size() > at + 4 || text.size() == at + 1) return false;
                const std::size_t n = text.size() - at - 1;
                if (!number(at + 1, n, &ms)) return false;
                for (std::size_t k = n; k < 3; ++k) ms *= 10;
            }
        }
        if (h > 23 || mi > 59 || sec > 59) return false;
    }
    *milliseconds = days * kDayMilliseconds + ((h * 60 + mi) * 60 + sec) * int64_t{1000} + ms;
    return true;
}

bool write_date_time(const Value& v, FieldBytes* out, std::string* problem) {
    int64_t ms = 0;
    if (v.kind == ValueKind::kDateTime) {
        ms = v.integer;
    } else if (v.kind == ValueKind::kDate) {
        ms = v.integer * kDayMilliseconds;
    } else if (!parse_date_time(v.text, &ms)) {
        return *problem = Text_Quoted(text_of(v)) + " is not a date and time (YYYY-MM-DDTHH:MM:SS)", false;
    }
    int64_t day = ms / kDayMilliseconds, of_day = ms % kDayMilliseconds;
    if (of_day < 0) of_day += kDayMilliseconds, --day;
    if (day + kJulianDay1970 < 1 || ms > kLastMillisecond)
        return *problem = Text_Quoted(text_of(v)) + " is not a date and time this library writes (years 1 to 9999)", false;
    put_le(out->bytes, static_cast<uint32_t>(day + kJulianDay1970), 4);
    put_le(out->bytes, static_cast<uint32_t>(of_day), 4);
    return true;
}

// V and Q: the value, and where it is shorter than its field its length in
// the field's last byte (and the length bit set).
bool write_varying(const TableField& f, const Value& v, const TextCodec& codec, const WriteOptions& options,
                   FieldBytes* out, std::string* problem) {
    std::string stored;
    if (f.rule == FieldRule::kVarchar) {
        if (!write_text(f, v, codec, options, out, problem)) return false;
        stored = out->bytes;
    } else {
        if (v.kind != ValueKind::kBinary) return *problem = Text_Quoted(text_of(v)) + " is not bytes", false;
        if (v.text.size() > static_cast<std::size_t>(f.length))
            return *problem = std::to_string(v.text.size()) + " bytes; " + shape(f) + " holds " + std::to_string(f.length),
                   false;
        stored = v.text;
    }
    out->bytes = stored;
    if (stored.size() < static_cast<std::size_t>(f.length)) {
        out->shorter = true;
        out->bytes.resize(static_cast<std::size_t>(f.length) - 1, f.rule == FieldRule::kVarchar ? ' ' : '\0');
        out->bytes += static_cast<char>(stored.size());
    }
    return true;
}

bool write_memo(const TableField& f, const Value& v, const TextCodec& codec, FieldBytes* out, std::string* problem) {
    out->memo = true;
    out->memo_type = f.type == 'M' ? 1 : f.type == 'G' ? 2 : 0;
    if (f.binary) {
        if (v.kind != ValueKind::kBinary) return *problem = Text_Quoted(text_of(v)) + " is not bytes", false;
        out->memo_bytes = v.text;
        return true;
    }
    if (v.kind != ValueKind::kString) return *problem = Text_Quoted(text_of(v)) + " is not text", false;
    if (!Text_Encode(codec, v.text, &out->memo_bytes, problem, true)) {
        if (problem->rfind("not UTF-8", 0) != 0) *problem = Text_Quoted(v.text) + ": " + *problem;
        return false;
    }
    // Empty text needs no entry: the field points at none, as a blank one does.
    out->memo = !out->memo_bytes.empty();
    return true;
}

}  // namespace

bool Text_Encode(const TextCodec& codec, std::string_view utf8, std::string* stored, std::string* problem, bool lines) {
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t at = i;
        char32_t c = 0;
        if (!Utf8_Next(utf8, &i, &c)) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(utf8[at]));
            *problem = "not UTF-8 text (byte " + std::string(byte) + ")";
            return false;
        }
        // Readers take a control character for the end of a value.
        if ((c < 0x20 || c == 0x7F) && !(lines && (c == '\t' || c == '\n' || c == '\r'))) {
            *problem = "a control character (" + Text_CodePoint(c) + ")";
            return false;
        }
    }
    char32_t missing = 0;
    if (codec.encode(utf8, *stored, &missing)) return true;
    std::string character;
    Utf8_Append(character, missing);
    *problem = "'" + character + "' (" + Text_CodePoint(missing) + ") has no place in " + CodePage_Name(codec.codepage());
    return false;
}

std::string Field_MemoPointer(const TableField& f, uint64_t block) {
    std::string out;
    if (f.length == 4) {
        put_le(out, block, 4);
        return out;
    }
    if (block == 0) return std::string(static_cast<std::size_t>(std::max(f.length, 0)), ' ');
    out = std::to_string(block);
    return std::string(static_cast<std::size_t>(std::max<int64_t>(f.length - static_cast<int64_t>(out.size()), 0)), ' ') + out;
}

std::string Field_Blank(const TableField& f) {
    const bool binary = f.rule == FieldRule::kInteger || f.rule == FieldRule::kDbase7Integer || f.rule == FieldRule::kDouble ||
                        f.rule == FieldRule::kDbase7Double || f.rule == FieldRule::kCurrency ||
                        f.rule == FieldRule::kDateTime || f.rule == FieldRule::kDbase7Timestamp ||
                        f.rule == FieldRule::kNullFlags || f.rule == FieldRule::kVarbinary ||
                        (f.rule == FieldRule::kMemo && f.length == 4);
    return std::string(static_cast<std::size_t>(std::max(f.length, 0)), binary ? '\0' : ' ');
}

bool Field_Write(const TableField& f, const Value& value, const TextCodec& codec, const WriteOptions& options,
                 FieldBytes* out, std::string* problem) {
    out->bytes.clear();
    out->memo_bytes.clear();
    out->cut = out->null = out->shorter = out->memo = false;
    const bool empty_text = (value.kind == ValueKind::kString && value.text.empty() && f.rule != FieldRule::kText &&
                             f.rule != FieldRule::kVarchar && f.rule != FieldRule::kMemo);
    if (value.kind == ValueKind::kNull || empty_text) {
        out->null = f.nullable;
        out->bytes = Field_Blank(f);
        // A V or Q field's empty value is one of no length.
        if ((f.rule == FieldRule::kVarchar || f.rule == FieldRule::kVarbinary) && f.length >= 1) {
            out->shorter = true;
            out->bytes.back() = '\0';
        }
        return true;
    }
    bool written = true;
    switch (f.rule) {
        case FieldRule::kText: written = write_text(f, value, codec, options, out, problem); break;
        case FieldRule::kNumber: written = write_number(f, value, out, problem); break;
        case FieldRule::kDate: written = write_date(value, out, problem); break;
        case FieldRule::kLogical: written = write_logical(value, out, problem); break;
        case FieldRule::kInteger: written = write_integer(f, value, out, problem); break;
        case FieldRule::kDouble: written = write_double(value, out, problem); break;
        case FieldRule::kCurrency: written = write_currency(f, value, out, problem); break;
        case FieldRule::kDateTime: written = write_date_time(value, out, problem); break;
        case FieldRule::kVarchar:
        case FieldRule::kVarbinary: written = write_varying(f, value, codec, options, out, problem); break;
        case FieldRule::kMemo: written = write_memo(f, value, codec, out, problem); break;
        default:
            *problem = std::string("a field of type ") + f.type + " is not written here";
            written = false;
    }
    if (!written) return false;
    if (f.rule == FieldRule::kMemo) {
        out->bytes = Field_Blank(f);  // the pointer, once the entry has its block
    } else if (out->bytes.size() < static_cast<std::size_t>(std::max(f.length, 0))) {
        out->bytes.resize(static_cast<std::size_t>(f.length), Field_Blank(f).empty() ? ' ' : Field_Blank(f)[0]);
    }
    return true;
}

const char* Format_Name(TableFormat format) {
    switch (format) {
        case TableFormat::kDbase3: return "dBASE III";
        case TableFormat::kDbase4: return "dBASE IV";
        case TableFormat::kFoxPro: return "FoxPro";
        case TableFormat::kVisualFoxPro: return "Visual FoxPro";
        case TableFormat::kDbase7: return "dBASE 7";
    }
    return "";
}

bool Field_CheckDefinition(char type, int* length, int decimals, TableFormat format, std::string* problem) {
    problem->clear();
    const bool vfp = format == TableFormat::kVisualFoxPro;
    // Types only Visual FoxPro has are refused elsewhere with its name.
    if (std::string_view("IBYTVQG").find(type) != std::string_view::npos && !vfp) {
        *problem = std::string("type ") + type + ": Visual FoxPro has it, " + Format_Name(format) + " does not (--format vfp)";
        return false;
    }
    // The types with one length take it when none is given.
    int one = 0;
    switch (type) {
        case 'D': case 'T': case 'B': case 'Y': one = 8; break;
        case 'L': one = 1; break;
        case 'I': one = 4; break;
        case 'M': case 'G': one = vfp ? 4 : 10; break;
    }
    if (*length == 0 && one) *length = one;
    switch (type) {
        case 'C':
        case 'V':
        case 'Q':
            if (*length < 1 || *length > 254) *problem = std::string("a ") + type + " field is 1 to 254 characters long";
            break;
        case 'N':
        case 'F':
            if (*length < 1 || *length > 20)
                *problem = std::string("an ") + type + " field is 1 to 20 characters long";
            else if (decimals > 0 && decimals > *length - 2)
                *problem = std::string(1, type) + "(" + std::to_string(*length) + "," + std::to_string(decimals) +
                           ") leaves no room for a digit and the point before the decimals";
            break;
        case 'D':
            if (*length != 8) *problem = "a D field is 8 characters long (YYYYMMDD)";
            break;
        case 'L':
            if (*length != 1) *problem = "an L field is 1 character long";
            break;
        default:
            if (one && *length != one)
                *problem = std::string(type == 'I' || type == 'M' ? "an " : "a ") + type + " field is " +
                           std::to_string(one) + " bytes long in " + Format_Name(format);
            break;
    }
    const bool decimals_allowed = type == 'N' || type == 'F' || type == 'B' || (type == 'Y' && decimals == 4);
    if (problem->empty() && !decimals_allowed && decimals != 0)
        *problem = type == 'Y' ? "a Y field has 4 decimals, ten-thousandths"
                               : std::string(type == 'I' || type == 'L' || type == 'M' ? "an " : "a ") + type +
                                     " field has no decimals";
    if (problem->empty() && type == 'B' && decimals > 18) *problem = "a B field shows at most 18 decimals";
    return problem->empty();
}

// --- Showing -------------------------------------------------------------------

std::string Date_Format(int64_t days) {
    char text[10];
    put_date(text, days);
    return std::string(text, sizeof text);
}

std::string DateTime_Format(int64_t milliseconds) {
    int64_t days = milliseconds / kDayMilliseconds, ms = milliseconds % kDayMilliseconds;
    if (ms < 0) ms += kDayMilliseconds, --days;
    char text[23];
    put_date(text, days);
    const int64_t s = ms / 1000;
    text[10] = 'T';
    put_digits(text + 11, s / 3600, 2);
    text[13] = ':';
    put_digits(text + 14, s / 60 % 60, 2);
    text[16] = ':';
    put_digits(text + 17, s % 60, 2);
    text[19] = '.';
    put_digits(text + 20, ms % 1000, 3);
    return std::string(text, ms % 1000 ? 23 : 19);
}

}  // namespace hyl
