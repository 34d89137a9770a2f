// The monthly plan lookup: walking the plan entries of one object and piece
// of equipment whose period meets a date range, one entry per call, over the
// table image of the plan file.
//
// Each record is one entry: NAMEOBJ and NAMEEQU (code page 866, compared by
// prefix in 1251 without regard to case), TIMERZN and TIMERZK (local seconds
// of the period's start and end; the period covers their whole days) and
// NCE, which must not be 0 for the entry to take part.  The host carries the
// previous index from call to call; the search keeps no position of its own.
//
// A search is one pass over the records, so it is kept lean: the five fields
// are found once per call, names are compared in place through a folding
// table, and numbers are read straight from the field bytes.
#include "plan/plan.h"

#include <array>
#include <cstring>
#include <limits>
#include <string_view>

#include "plan/dbfimage.h"
#include "platform/codepage.h"
#include "textime/localsec.h"
#include "textime/text.h"

namespace hyl {
namespace {

// The built-in path; the override replaces its drive letter and nothing else.
constexpr char kPlanPath[] = "X:\\QUV\\HYL_CE\\zmec.dbf";
constexpr int32_t kObjectBytes = 31;     // of NAMEOBJ taking part in the comparison
constexpr int32_t kEquipmentBytes = 63;  // of NAMEEQU
constexpr int32_t kNumberBytes = 254;    // of a number field
constexpr int64_t kDay = 86400;

char g_drive_override = 0;  // 0: the built-in letter

// Toward zero into 64 bits, so counts past 2,147,483,647 (2048-01-18) are
// the numbers they are; a value no 64-bit count holds gives the "integer
// indefinite" 0x8000000000000000, as the processor's conversion does, which
// is no date but not the 0 that leaves an entry out.
int64_t truncate_count(double value) {
    if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0))
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

// The midnight that begins the day of a local-seconds count; the remainder
// taken as in truncating division, so a negative count moves toward zero.
int64_t day_start(int64_t count) { return count - count % kDay; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The number a field holds, as LVParseNumberN reads its first 254 bytes,
// truncated.  Counts are stored right-aligned as plain whole numbers; those
// are read here directly, anything else goes to the full reading.
int64_t read_count(std::string_view field) {
    if (field.size() > static_cast<std::size_t>(kNumberBytes)) field = field.substr(0, kNumberBytes);
    std::size_t i = 0;
    while (i < field.size() && field[i] == ' ')
        ++i;
    const bool negative = i < field.size() && field[i] == '-';
    std::size_t p = negative ? i + 1 : i;
    const std::size_t first_digit = p;
    int64_t value = 0;
    while (p < field.size() && is_digit(field[p]) && p - first_digit < 15)
        value = value * 10 + (field[p++] - '0');
    const bool plain =
        p > first_digit &&
        (p == field.size() || (field[p] != '.' && field[p] != 'e' && field[p] != 'E' && !is_digit(field[p])));
    if (plain) return truncate_count(static_cast<double>(negative ? -value : value));
    return truncate_count(LVParseNumberN(field.data(), static_cast<int32_t>(field.size())));
}

// A stored name as it takes part: its first LIMIT bytes up to a NUL, with
// trailing blanks and control bytes dropped.  Still in code page 866.
std::string_view stored_name(std::string_view field, int32_t limit) {
    if (field.size() > static_cast<std::size_t>(limit)) field = field.substr(0, limit);
    if (field.empty()) return field;  // an absent field has no bytes at all
    if (const void* nul = std::memchr(field.data(), 0, field.size()))
        field = field.substr(0, static_cast<const char*>(nul) - field.data());
    while (!field.empty() && static_cast<uint8_t>(field.back()) <= 0x20)
        field.remove_suffix(1);
    return field;
}

// 866 byte -> its 1251 form -> lower case: a stored byte as it is compared.
struct FoldTables {
    std::array<uint8_t, 256> ansi{};
    std::array<uint8_t, 256> folded{};
    FoldTables() {
        for (int b = 0; b < 256; ++b) {
            ansi[b] = oem_to_ansi_byte(static_cast<uint8_t>(b));
            folded[b] = LVLowerTable[ansi[b]];
        }
    }
};

const FoldTables& fold_tables() {
    static const FoldTables tables;
    return tables;
}

// A name the host asked for, lowered once.  Longer than the stored limit it
// can match nothing; it is kept one byte past the limit to say so.
struct NamePattern {
    std::array<uint8_t, kEquipmentBytes + 1> folded{};
    std::size_t length = 0;

    explicit NamePattern(const char* name) {
        if (!name) return;
        for (; length < folded.size() && name[length]; ++length)
            folded[length] = LVLowerTable[static_cast<uint8_t>(name[length])];
    }

    // The stored name (the field's first LIMIT bytes, see stored_name),
    // converted to 1251, is not empty and begins with the pattern; an empty
    // pattern matches every such name.
    bool matches(std::string_view field, int32_t limit) const {
        if (field.size() > static_cast<std::size_t>(limit)) field = field.substr(0, limit);
        if (length == 0 || length > field.size()) return matches_trimmed(stored_name(field, limit));
        const FoldTables& t = fold_tables();
        for (std::size_t i = 0; i < length; ++i)
            if (t.folded[static_cast<uint8_t>(field[i])] != folded[i]) return false;
        // The pattern's bytes matched, so none of them is a NUL.  Unless the
        // last of them is a blank or control byte, the trimmed name is at
        // least as long as the pattern, and no trimming need be done.
        if (static_cast<uint8_t>(field[length - 1]) > 0x20 && t.ansi[static_cast<uint8_t>(field[0])] != 0)
            return true;
        return matches_trimmed(stored_name(field, limit));
    }

    bool matches_trimmed(std::string_view stored) const {
        const FoldTables& t = fold_tables();
        if (stored.empty() || t.ansi[static_cast<uint8_t>(stored[0])] == 0) return false;
        if (stored.size() < length) return false;
        for (std::size_t i = 0; i < length; ++i)
            if (t.folded[static_cast<uint8_t>(stored[i])] != folded[i]) return false;
        return true;
    }
};

struct PlanColumns {
    DbfImgColumn nce, object, equipment, start, end;
};

// The five fields, wherever they lie; false when any is missing, in which
// case no entry can take part.
bool find_plan_columns(const DbfImage& image, PlanColumns* columns) {
    const int32_t nce = DbfImg_FindField(image, "NCE");
    const int32_t object = DbfImg_FindField(image, "NAMEOBJ");
    const int32_t equipment = DbfImg_FindField(image, "NAMEEQU");
    const int32_t start = DbfImg_FindField(image, "TIMERZN");
    const int32_t end = DbfImg_FindField(image, "TIMERZK");
    if (nce < 0 || object < 0 || equipment < 0 || start < 0 || end < 0) return false;
    *columns = {DbfImg_GetColumn(image, nce), DbfImg_GetColumn(image, object),
                DbfImg_GetColumn(image, equipment), DbfImg_GetColumn(image, start),
                DbfImg_GetColumn(image, end)};
    return true;
}

bool load_plan() {
    char path[kDbfImgPathMax + 1] = {};
    std::memcpy(path, kPlanPath, sizeof kPlanPath);
    if (g_drive_override != 0) path[0] = g_drive_override;
    return DbfImg_Load(g_table_image, path) != nullptr;
}

}  // namespace

void Plan_LoadDefaults() {
    DbfImg_Free(g_table_image);
    g_table_image = DbfImage{};
    g_drive_override = 0;
}

void Plan_Unload() { DbfImg_Free(g_table_image); }

void Plan_SetDrive(const char* text) { g_drive_override = text ? text[0] : 0; }

int32_t Plan_GetNextMesplan(const char* object, const char* equipment, double from, double to,
                            int32_t previous) {
    const int64_t from_sec = Dt_LocalSecFromDate(COleDateTime(from));
    const int64_t to_sec = Dt_LocalSecFromDate(COleDateTime(to));
    if (!g_table_image.block && !load_plan()) return -1;
    const DbfImage& image = g_table_image;
    // A header may claim billions of records; only those inside the image
    // can match, so a broken plan costs no more than a sound one.
    const int32_t count = DbfImg_RecordsWithin(image);
    PlanColumns columns;
    if (!find_plan_columns(image, &columns)) return -1;
    const NamePattern object_pattern(object);
    const NamePattern equipment_pattern(equipment);

    // An index below -1 would begin before the first record.
    const int64_t first = previous < -1 ? 0 : static_cast<int64_t>(previous) + 1;
    for (int64_t r64 = first; r64 < count; ++r64) {
        const auto r = static_cast<int32_t>(r64);
        // The tests are independent, so the cheapest goes first.
        if (!object_pattern.matches(DbfImg_ColumnBytes(image, r, columns.object), kObjectBytes)) continue;
        if (!equipment_pattern.matches(DbfImg_ColumnBytes(image, r, columns.equipment), kEquipmentBytes))
            continue;
        if (read_count(DbfImg_ColumnBytes(image, r, columns.nce)) == 0) continue;
        const int64_t start = read_count(DbfImg_ColumnBytes(image, r, columns.start));
        if (start == 0) continue;
        const int64_t end = read_count(DbfImg_ColumnBytes(image, r, columns.end));
        if (end == 0) continue;
        // The period's whole days and the range overlap.  The day after the
        // period is taken from the range's side (a range start lies within
        // the years of a DATE), so no stored count, however large, overflows.
        if (day_start(start) < to_sec && from_sec - kDay < day_start(end)) return r;
    }
    return -1;
}

double Plan_GetDate(const char* field_name, int32_t record) {
    const DbfImage& image = g_table_image;
    if (!image.block || record < 0 || record >= DbfImg_GetQRecords(image)) return 0.0;
    if (!field_name) field_name = "";
    const int64_t value = truncate_count(DbfImg_GetNumericByName(image, field_name, record));
    if (value == 0) return 0.0;
    int64_t day = day_start(value);
    const std::size_t n = std::strlen(field_name);
    // TIMERZK names the period's last day; the host wants the day after it.
    // A count within a day of the largest has no day after it, nor any DATE.
    if (n > 0 && (field_name[n - 1] == 'K' || field_name[n - 1] == 'k')) {
        if (day > std::numeric_limits<int64_t>::max() - kDay) return 0.0;
        day += kDay;
    }
    COleDateTime date;
    date = Dt_ConvertLocalSec(day, 1);
    return date.m_dt;
}

int32_t Plan_FreeResource() { return DbfImg_Free(g_table_image); }

}  // namespace hyl
