// Field definitions, names and the limits of a table, for the tool's import
// and the Python package's create, by format.
#include "writing/definition.h"

#include "dbf/dbf.h"
#include "platform/codepage.h"

namespace hyl {
namespace {

// The types the tool makes, in one format or another.
constexpr const char* kEveryFormat = "CNFDLMIBYTVQG";

// The bytes of a field name: eleven in dBASE III, as the DLL's engine and
// hosts make them; ten in the others, whose programs end a name with a NUL.
std::size_t name_bytes(TableFormat format) { return format == TableFormat::kDbase3 ? 11 : 10; }

bool whole_number(const std::string& text, int* value) {
    if (text.empty() || text.size() > 5) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

char32_t upper(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

}  // namespace

bool Definition_CheckName(const TextCodec& codec, TableFormat format, const std::string& name, std::string* problem) {
    if (name.empty()) {
        *problem = "the field name is empty";
        return false;
    }
    std::string stored;
    if (!Text_Encode(codec, name, &stored, problem)) {
        *problem = "field name " + Text_Quoted(name) + ": " + *problem;
        return false;
    }
    for (std::size_t i = 0, at = 0; i < name.size(); at = i) {
        char32_t c = 0;
        Utf8_Next(name, &i, &c);
        if (c == ' ' || c == 0xA0) {
            *problem = "field name " + Text_Quoted(name) + " holds a blank";
            return false;
        }
        // Import's header row gives a field as NAME:TYPE:LENGTH.
        if (c == ':') {
            *problem = "field name " + Text_Quoted(name) + " holds a colon";
            return false;
        }
        // Hosts read the names of 866 tables in 1251.
        const auto b = static_cast<uint8_t>(unicode_to_oem866(c));
        if (codec.codepage() == 866 && ansi_to_oem_byte(oem_to_ansi_byte(b)) != b) {
            *problem = "field name " + Text_Quoted(name) + ": '" + name.substr(at, i - at) + "' (" + Text_CodePoint(c) +
                       ") cannot be part of a field name";
            return false;
        }
    }
    const std::size_t most = name_bytes(format);
    if (stored.size() > most) {
        *problem = "field name " + Text_Quoted(name) + " has " + std::to_string(stored.size()) +
                   (codec.multibyte() || codec.codepage() == kCodePageUtf8 ? " bytes in " + CodePage_Name(codec.codepage()) : std::string(" characters")) +
                   "; a field name holds at most " + std::to_string(most) +
                   (format == TableFormat::kDbase3 ? "" : std::string(" in ") + Format_Name(format));
        return false;
    }
    if (format == TableFormat::kVisualFoxPro && Definition_SameName(name, "_NullFlags")) {
        *problem = "field name " + Text_Quoted(name) + " is Visual FoxPro's own, for its hidden field";
        return false;
    }
    return true;
}

bool Definition_SameName(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t ca = 0, cb = 0;
        if (!Utf8_Next(a, &i, &ca) || !Utf8_Next(b, &j, &cb)) return a == b;
        if (upper(ca) != upper(cb)) return false;
    }
    return i == a.size() && j == b.size();
}

bool Definition_Make(const TextCodec& codec, TableFormat format, const std::string& name, const std::string& type,
                     const std::string& length, const std::string& decimals, bool nullable, TableField* field,
                     std::string* problem) {
    problem->clear();
    if (format == TableFormat::kDbase7) {
        *problem = "dBASE 7 tables are read, not written";
        return false;
    }
    if (!Definition_CheckName(codec, format, name, problem)) return false;
    *field = TableField{};
    field->name = name;
    const char letter = type.size() == 1 ? static_cast<char>(upper(static_cast<unsigned char>(type[0]))) : '\0';
    if (letter == '\0' || std::string_view(kEveryFormat).find(letter) == std::string_view::npos) {
        *problem = "unknown field type " + Text_Quoted(type) +
                   " (the tool makes C, N, F, D, L and M fields, and in Visual FoxPro I, B, Y, T, V, Q and G)";
        return false;
    }
    // A type the format lacks: its rule says which format has it.
    int one = 0;
    if (!Field_CheckDefinition(letter, &one, 0, format, problem) && problem->rfind("type ", 0) == 0) return false;
    if (nullable && format != TableFormat::kVisualFoxPro) {
        *problem = std::string("a nullable field: Visual FoxPro has them, ") + Format_Name(format) + " does not (--format vfp)";
        return false;
    }
    field->type = letter;
    field->rule = Field_RuleOf(letter, format);
    field->memo = field->rule == FieldRule::kMemo;
    field->binary = field->rule == FieldRule::kVarbinary || (field->memo && letter != 'M');
    field->nullable = nullable;
    if (length.empty() && one == 0) {
        *problem = std::string(std::string_view("AEFHILMNORSX").find(letter) == std::string_view::npos ? "a " : "an ") +
                   letter + " field needs its length";
        return false;
    }
    field->length = 0;
    if (!length.empty() && !whole_number(length, &field->length)) {
        *problem = "length " + Text_Quoted(length) + " is not a whole number";
        return false;
    }
    // Y is kept in ten-thousandths; its programs give it 4 decimals.
    field->decimals = decimals.empty() && letter == 'Y' ? 4 : 0;
    if (!decimals.empty() && !whole_number(decimals, &field->decimals)) {
        *problem = "decimals " + Text_Quoted(decimals) + " is not a whole number";
        return false;
    }
    return Field_CheckDefinition(letter, &field->length, field->decimals, format, problem);
}

bool Definition_Parse(const TextCodec& codec, TableFormat format, const std::string& cell, TableField* field,
                      std::string* problem) {
    std::vector<std::string> parts(1);
    for (char c : cell) {
        if (c == ':')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    const bool nullable = parts.size() >= 3 && Definition_SameName(parts.back(), "NULL");
    if (nullable) parts.pop_back();
    if (parts.size() < 2 || parts.size() > 4) {
        *problem = Text_Quoted(cell) + " is not NAME:TYPE[:LENGTH[:DECIMALS]][:NULL]";
        return false;
    }
    const bool made = Definition_Make(codec, format, parts[0], parts[1], parts.size() >= 3 ? parts[2] : "",
                                      parts.size() == 4 ? parts[3] : "", nullable, field, problem);
    // A type that needs its length, given none: the cell is not what the header row takes.
    if (!made && parts.size() == 2 && problem->ends_with("needs its length"))
        *problem = Text_Quoted(cell) + " is not NAME:TYPE:LENGTH[:DECIMALS]: " + *problem;
    return made;
}

std::vector<std::string> Definition_CheckTable(TableFormat format, const std::vector<TableField>& fields) {
    std::vector<std::string> problems;
    // dBASE III tables are what hosts make through the DLL's engine, to its
    // limits; dBASE IV, FoxPro and Visual FoxPro have their programs' own.
    int64_t most_fields = kDbfMaxFields, most_bytes = kDbfMaxRecordLength;
    if (format == TableFormat::kDbase4) most_fields = 255, most_bytes = 4000;
    if (format == TableFormat::kFoxPro || format == TableFormat::kVisualFoxPro) most_fields = 255;
    int64_t record_length = 1, count = static_cast<int64_t>(fields.size()), bits = 0;
    for (const TableField& f : fields) {
        record_length += f.length;
        if (format == TableFormat::kVisualFoxPro) bits += f.nullable + (f.type == 'V' || f.type == 'Q');
    }
    // Visual FoxPro keeps its null and length bits in a hidden field of its own.
    if (bits) ++count, record_length += (bits + 7) / 8;
    const std::string table = format == TableFormat::kDbase3 ? "a table" : std::string("a ") + Format_Name(format) + " table";
    const std::string hidden = bits ? " (with its hidden _NullFlags)" : "";
    if (count > most_fields)
        problems.push_back(std::to_string(count) + " fields" + hidden + "; " + table + " holds at most " +
                           std::to_string(most_fields));
    if (record_length > most_bytes)
        problems.push_back("a record of " + std::to_string(record_length) + " bytes" + hidden + "; " + table +
                           " holds at most " + std::to_string(most_bytes));
    return problems;
}

}  // namespace hyl
