// The typed reader: a table's layout, code page and memo file, and each
// field's bytes read as the value its type says.
#include "tables/table.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "lowlevel/lv.h"
#include "platform/platform.h"

namespace hyl {
namespace {

constexpr int64_t kHeadBytes = 16 << 10;    // enough for 255 dBASE 7 descriptors
constexpr int64_t kJulian1970 = 2440588;    // the Julian day of 1970-01-01
constexpr int64_t kDayMs = 86400000;

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
int64_t le64(const uint8_t* p) {
    return static_cast<int64_t>(le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32);
}
int le16(const uint8_t* p) { return p[0] | p[1] << 8; }
double le_double(const uint8_t* p) {
    const uint64_t bits = le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A field's text as the field-text export cuts it: up to the first NUL,
// without trailing blanks and control bytes.
std::string_view stored(const uint8_t* bytes, int32_t length) {
    const auto* text = reinterpret_cast<const char*>(bytes);
    std::size_t n = strnlen(text, static_cast<std::size_t>(length));
    while (n > 0 && static_cast<uint8_t>(text[n - 1]) <= 0x20) --n;
    return {text, n};
}

}  // namespace

bool Table_IsNumber(std::string_view v, bool* whole) {
    std::size_t i = 0;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) ++i;
    int digits = 0;
    while (i < v.size() && is_digit(v[i])) ++i, ++digits;
    *whole = true;
    if (i < v.size() && v[i] == '.') {
        *whole = false;
        ++i;
        while (i < v.size() && is_digit(v[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
        *whole = false;
        ++i;
        if (i < v.size() && (v[i] == '-' || v[i] == '+')) ++i;
        const std::size_t exponent = i;
        while (i < v.size() && is_digit(v[i])) ++i;
        if (i == exponent) return false;
    }
    return i == v.size();
}

namespace {

bool days_of(int y, unsigned m, unsigned d, int64_t* days) {
    using namespace std::chrono;
    const year_month_day ymd{year{y}, month{m}, day{d}};
    if (y < 1 || !ymd.ok()) return false;
    *days = sys_days(ymd).time_since_epoch().count();
    return true;
}

std::string hex(uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

// The first bytes of the file at PATH, for telling layouts apart when the
// snapshot would not open it.
std::vector<uint8_t> head_of(const std::string& path) {
    std::vector<uint8_t> head;
    const int32_t handle = platform().file_open(path.c_str(), kModeShareRead);
    if (handle == -1) return head;
    const int64_t length = std::min(std::max<int64_t>(platform().file_length(handle), 0), kHeadBytes);
    head.resize(static_cast<std::size_t>(length));
    if (!Snapshot_ReadAt(handle, length, 0, head.data(), length)) head.clear();
    lvv_close(handle);
    return head;
}

// The text of STEM.cpg in any letter case, empty when there is none.
std::string cpg_text(const std::string& stem) {
    for (int letters = 0; letters < 8; ++letters) {
        std::string path = stem + '.';
        for (int k = 0; k < 3; ++k) path += static_cast<char>(letters >> k & 1 ? "CPG"[k] : "cpg"[k]);
        const int32_t handle = platform().file_open(path.c_str(), kModeShareRead);
        if (handle == -1) continue;
        char text[64] = {};
        const int64_t length = std::min<int64_t>(std::max<int64_t>(platform().file_length(handle), 0), sizeof text - 1);
        const bool read = Snapshot_ReadAt(handle, length, 0, reinterpret_cast<uint8_t*>(text), length);
        lvv_close(handle);
        // A .cpg that says nothing readable says nothing.
        return read ? std::string(text, strnlen(text, static_cast<std::size_t>(length))) : std::string();
    }
    return {};
}

}  // namespace

std::string Table_OtherLayout(const uint8_t* head, int64_t length) {
    if (length < 32) return {};
    const uint8_t version = head[0];
    const int header_length = le16(head + 8);
    // dBASE 7: the descriptors begin at 68 and are 48 bytes each.
    if (version == 0x04 || version == 0x8C || version == 0x44) {
        for (int64_t at = 68; at < std::min<int64_t>(header_length, length); at += 48)
            if (head[at] == 0x0D)
                return "a dBASE 7 table (version byte " + hex(version) +
                       ", 48-byte field descriptors), which hyl does not read";
    }
    // dBASE II: a 16-bit record count, 16-byte descriptors from byte 8.  A
    // header that reads whole as dBASE III's is FoxBASE's, which shares the byte.
    if (version == 0x02) {
        const bool dbase3 = header_length >= 33 && (header_length - 33) % 32 == 0 && header_length <= length &&
                            head[header_length - 1] == 0x0D;
        for (int64_t at = 8; !dbase3 && at <= std::min<int64_t>(8 + 16 * 32, length - 1); at += 16)
            if (head[at] == 0x0D)
                return "a dBASE II table (version byte 0x02, 16-byte field descriptors), which hyl does not read";
    }
    return {};
}

bool TableReader::visual_foxpro() const {
    const uint8_t v = scan_.version();
    return v == 0x30 || v == 0x31 || v == 0x32;
}

bool TableReader::has_memo_fields() const {
    return std::any_of(fields_.begin(), fields_.end(), [](const TableField& f) { return f.memo; });
}

ReaderStatus TableReader::open(const std::string& path, const ReaderOptions& options) {
    fields_.clear();
    memo_.close();
    null_flags_ = -1;
    error_.clear();
    auto refuse = [&](ReaderStatus status, std::string why) {
        scan_.close();
        error_ = std::move(why);
        return status;
    };
    const SnapshotStatus status = scan_.open(path.c_str(), options.for_update);
    switch (status) {
        case SnapshotStatus::kOpened: break;
        case SnapshotStatus::kMissing: return refuse(ReaderStatus::kMissing, "no such file");
        case SnapshotStatus::kInUse: return refuse(ReaderStatus::kInUse, "in use by another program");
        case SnapshotStatus::kUnreadable: return refuse(ReaderStatus::kUnreadable, "cannot be read");
        case SnapshotStatus::kNotATable: {
            const std::vector<uint8_t> head = head_of(path);
            const std::string other = Table_OtherLayout(head.data(), static_cast<int64_t>(head.size()));
            return other.empty() ? refuse(ReaderStatus::kNotATable, "not a dBASE table")
                                 : refuse(ReaderStatus::kOtherLayout, other);
        }
    }
    {
        std::vector<uint8_t> head(static_cast<std::size_t>(std::min(scan_.file_length(), kHeadBytes)));
        if (!scan_.read(0, head.data(), static_cast<int64_t>(head.size())))
            return refuse(ReaderStatus::kUnreadable, "cannot be read");
        const std::string other = Table_OtherLayout(head.data(), static_cast<int64_t>(head.size()));
        if (!other.empty()) return refuse(ReaderStatus::kOtherLayout, other);
    }

    std::string unknown;
    if (!CodePage_Choose(options.encoding, cpg_text(Memo_Stem(path)), scan_.language(), &code_page_, &unknown))
        return refuse(ReaderStatus::kUnknownEncoding, "'" + unknown + "' names no code page");
    if (!codec_.set(code_page_.codepage))
        return refuse(ReaderStatus::kUnknownEncoding,
                      CodePage_Name(code_page_.codepage) + " is not one this system converts");

    const bool vfp = visual_foxpro();
    const auto& descriptors = scan_.descriptors();
    int32_t bit = 0;
    for (std::size_t i = 0; i < scan_.fields().size(); ++i) {
        const SnapshotField& s = scan_.fields()[i];
        const uint8_t flags = descriptors[32 * i + 18];
        TableField f;
        f.type = s.type;
        f.length = s.length;
        f.decimals = s.decimals;
        f.offset = s.offset;
        codec_.append_utf8(f.name, stored(reinterpret_cast<const uint8_t*>(s.name.data()), static_cast<int32_t>(s.name.size())));
        f.hidden = s.type == '0';
        f.memo = std::strchr("MGPW", s.type) != nullptr || (s.type == 'B' && !vfp);
        f.binary = std::strchr("GPWQ", s.type) != nullptr || (s.type == 'B' && !vfp);
        if (vfp) {
            // Visual FoxPro gives each V and Q field a bit that says its value
            // is shorter than the field, then each nullable field a bit that
            // says it holds none, in the order of the fields.
            if (s.type == 'V' || s.type == 'Q') f.length_bit = bit++;
            f.nullable = (flags & 0x02) != 0 && !f.hidden;
            if (f.nullable) f.null_bit = bit++;
        }
        if (f.hidden && null_flags_ < 0) null_flags_ = static_cast<int32_t>(i);
        fields_.push_back(std::move(f));
    }
    // Bits the _NullFlags field has no room for say nothing.
    const int32_t room = null_flags_ >= 0 ? 8 * fields_[static_cast<std::size_t>(null_flags_)].length : 0;
    for (TableField& f : fields_) {
        if (f.null_bit >= room) f.null_bit = -1;
        if (f.length_bit >= room) f.length_bit = -1;
    }
    if (has_memo_fields()) memo_.open(path, scan_.version());
    return ReaderStatus::kOpened;
}

bool TableReader::is_null(const uint8_t* record, int32_t bit) const {
    const TableField& flags = fields_[static_cast<std::size_t>(null_flags_)];
    return flags.offset >= 1 && (record[flags.offset + bit / 8] >> (bit % 8) & 1) != 0;
}

bool TableReader::for_each_batch(int64_t first, int64_t end, const std::function<bool(const RecordBatch&)>& visit) const {
    RecordBatch batch;
    batch.table_ = this;
    batch.record_length_ = scan_.record_length();
    return scan_.for_each_block(first, end, [&](int64_t from, int64_t count, const uint8_t* bytes) {
        batch.first_ = from;
        batch.size_ = count;
        batch.bytes_ = bytes;
        return visit(batch);
    });
}

bool TableReader::read_column(int32_t field, int64_t first, int64_t end,
                        const std::function<void(int64_t record, const Value&)>& visit) const {
    Value v;
    return for_each_batch(first, end, [&](const RecordBatch& batch) {
        for (int64_t k = 0; k < batch.size(); ++k) {
            batch.value(k, field, v);
            visit(batch.first() + k, v);
        }
        return true;
    });
}

ValueProblem RecordBatch::value(int64_t k, int32_t field, Value& out) const { return table_->decode(record(k), field, out); }

ValueProblem TableReader::decode(const uint8_t* record, int32_t field, Value& out) const {
    out.kind = ValueKind::kNull;
    out.text.clear();
    if (field < 0 || field >= field_count()) return ValueProblem::kNone;
    const TableField& f = fields_[static_cast<std::size_t>(field)];
    if (f.offset < 1 || f.hidden) return ValueProblem::kNone;
    const uint8_t* bytes = record + f.offset;
    const bool null = f.null_bit >= 0 && is_null(record, f.null_bit);
    auto text = [&](std::string_view raw) {
        out.kind = ValueKind::kString;
        return codec_.append_utf8(out.text, raw) ? ValueProblem::kBadText : ValueProblem::kNone;
    };
    // The N, D and L cases hold the stored text already: it is given once.
    auto as_stored = [&](std::string_view raw, ValueProblem problem) {
        out.text.clear();
        text(raw);
        return problem;
    };
    switch (f.type) {
        case 'N':
        case 'F': {
            std::string_view v = stored(bytes, f.length);
            v.remove_prefix(std::min(v.find_first_not_of(' '), v.size()));
            codec_.append_utf8(out.text, v);
            if (null || v.empty() || v.find_first_not_of('*') == std::string_view::npos) return ValueProblem::kNone;
            bool whole = false;
            if (!Table_IsNumber(v, &whole)) return as_stored(v, ValueProblem::kNotANumber);
            const char* end = v.data() + v.size();
            const char* begin = v.data() + (v[0] == '+');
            if (whole && std::from_chars(begin, end, out.integer).ptr == end) {
                out.kind = ValueKind::kInteger;
                return ValueProblem::kNone;
            }
            std::from_chars(begin, end, out.real);
            out.kind = (v.find_first_of("eE") == std::string_view::npos && !whole) ? ValueKind::kDecimal : ValueKind::kDouble;
            return ValueProblem::kNone;
        }
        case 'D': {
            const std::string_view v = stored(bytes, f.length);
            out.text.assign(v);
            if (null || v.empty() || v.find_first_not_of('0') == std::string_view::npos) return ValueProblem::kNone;
            const bool digits = v.size() == 8 && std::all_of(v.begin(), v.end(), is_digit);
            auto number = [&](std::size_t at, std::size_t n) {
                int x = 0;
                for (std::size_t i = at; i < at + n; ++i) x = x * 10 + (v[i] - '0');
                return x;
            };
            if (!digits || !days_of(number(0, 4), static_cast<unsigned>(number(4, 2)), static_cast<unsigned>(number(6, 2)),
                                    &out.integer))
                return as_stored(v, ValueProblem::kNotADate);
            out.kind = ValueKind::kDate;
            return ValueProblem::kNone;
        }
        case 'L': {
            out.text.assign(stored(bytes, f.length));
            if (null || f.length < 1) return ValueProblem::kNone;
            const char c = static_cast<char>(bytes[0]);
            if (std::strchr("TtYy", c) && c) {
                out.kind = ValueKind::kBool;
                out.boolean = true;
            } else if (std::strchr("FfNn", c) && c) {
                out.kind = ValueKind::kBool;
                out.boolean = false;
            } else if (!std::strchr("? ", c) || f.length != 1) {
                return as_stored(stored(bytes, f.length), ValueProblem::kNotALogical);
            }
            return ValueProblem::kNone;
        }
        case 'I':
        case '+':
            if (null || f.length != 4) return ValueProblem::kNone;
            out.kind = ValueKind::kInteger;
            out.integer = static_cast<int32_t>(le32(bytes));
            return ValueProblem::kNone;
        case 'O':
            if (null || f.length != 8) return ValueProblem::kNone;
            out.kind = ValueKind::kDouble;
            out.real = le_double(bytes);
            return ValueProblem::kNone;
        case 'Y': {
            if (null || f.length != 8) return ValueProblem::kNone;
            out.kind = ValueKind::kDecimal;
            out.integer = le64(bytes);
            out.real = static_cast<double>(out.integer) / 10000;
            const uint64_t magnitude = out.integer < 0 ? 0 - static_cast<uint64_t>(out.integer) : static_cast<uint64_t>(out.integer);
            char digits[32];
            std::snprintf(digits, sizeof digits, "%s%llu.%04llu", out.integer < 0 ? "-" : "",
                          static_cast<unsigned long long>(magnitude / 10000), static_cast<unsigned long long>(magnitude % 10000));
            out.text = digits;
            return ValueProblem::kNone;
        }
        case 'T':
        case '@': {
            if (null || f.length != 8) return ValueProblem::kNone;
            if (std::all_of(bytes, bytes + 8, [](uint8_t b) { return b == ' '; })) return ValueProblem::kNone;
            const int64_t day = le32(bytes), ms = le32(bytes + 4);
            if (day == 0) return ms == 0 ? ValueProblem::kNone : ValueProblem::kNotADateTime;
            if (ms >= kDayMs) return ValueProblem::kNotADateTime;
            out.kind = ValueKind::kDateTime;
            out.integer = (day - kJulian1970) * kDayMs + ms;
            return ValueProblem::kNone;
        }
        case 'B':
            if (visual_foxpro()) {
                if (null || f.length != 8) return ValueProblem::kNone;
                out.kind = ValueKind::kDouble;
                out.real = le_double(bytes);
                return ValueProblem::kNone;
            }
            [[fallthrough]];
        case 'M':
        case 'G':
        case 'P':
        case 'W':
            return null ? ValueProblem::kNone : decode_memo(f, bytes, out);
        case 'V':
        case 'Q': {
            if (null) return ValueProblem::kNone;
            int32_t n = f.length;
            ValueProblem problem = ValueProblem::kNone;
            if (f.length_bit >= 0 && is_null(record, f.length_bit) && f.length >= 1) {
                n = bytes[f.length - 1];
                if (n > f.length - 1) {
                    n = f.length - 1;
                    problem = ValueProblem::kVarcharLength;
                }
            }
            if (f.type == 'Q') {
                out.kind = ValueKind::kBinary;
                out.integer = n;
                return problem;
            }
            const std::string_view v = f.length_bit >= 0 && is_null(record, f.length_bit)
                                           ? std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n))
                                           : stored(bytes, n);
            const ValueProblem bad = text(v);
            return problem != ValueProblem::kNone ? problem : bad;
        }
        default:
            // C, and types no writer we know of makes: text as stored.
            return null ? ValueProblem::kNone : text(stored(bytes, f.length));
    }
}

ValueProblem TableReader::decode_memo(const TableField& f, const uint8_t* bytes, Value& out) const {
    uint64_t block = 0;
    if (f.length == 4) {
        block = le32(bytes);
    } else {
        std::string_view v(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(f.length));
        while (!v.empty() && (v.front() == ' ' || v.front() == '\0')) v.remove_prefix(1);
        while (!v.empty() && (v.back() == ' ' || v.back() == '\0')) v.remove_suffix(1);
        if (!std::all_of(v.begin(), v.end(), is_digit) || v.size() > 18) {
            codec_.append_utf8(out.text, v);
            out.kind = ValueKind::kString;
            return ValueProblem::kNotABlockNumber;
        }
        for (char c : v) block = block * 10 + static_cast<uint64_t>(c - '0');
    }
    if (block == 0) return ValueProblem::kNone;
    if (!memo_.is_open()) return ValueProblem::kMemoMissing;
    const MemoEntry entry = memo_.read(block, memo_bytes_);
    switch (entry) {
        case MemoEntry::kPastEnd: return ValueProblem::kMemoPastEnd;
        case MemoEntry::kUnreadable: return ValueProblem::kMemoUnreadable;
        case MemoEntry::kText:
        case MemoEntry::kBinary:
        case MemoEntry::kLengthPastEnd: break;
    }
    const ValueProblem problem = entry == MemoEntry::kLengthPastEnd ? ValueProblem::kMemoLengthPastEnd : ValueProblem::kNone;
    if (entry == MemoEntry::kLengthPastEnd && memo_bytes_.empty()) return problem;
    if (f.binary || entry == MemoEntry::kBinary) {
        out.kind = ValueKind::kBinary;
        out.integer = static_cast<int64_t>(memo_bytes_.size());
        return problem;
    }
    out.kind = ValueKind::kString;
    const bool bad = codec_.append_utf8(out.text, memo_bytes_) != 0;
    return problem != ValueProblem::kNone ? problem : bad ? ValueProblem::kBadText : ValueProblem::kNone;
}

namespace {

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

}  // namespace

std::string Table_FormatDate(int64_t days) {
    char text[10];
    put_date(text, days);
    return std::string(text, sizeof text);
}

std::string Table_FormatDateTime(int64_t milliseconds) {
    int64_t days = milliseconds / kDayMs, ms = milliseconds % kDayMs;
    if (ms < 0) ms += kDayMs, --days;
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
