// Field definitions, names and the limits of a table, for the tool's import
// and the Python package's create.
#include "writing/definition.h"

#include "dbf/dbf.h"
#include "platform/codepage.h"

namespace hyl {
namespace {

constexpr std::size_t kNameBytes = 11;

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

bool Definition_CheckName(const TextCodec& codec, const std::string& name, std::string* problem) {
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
    if (stored.size() > kNameBytes) {
        *problem = "field name " + Text_Quoted(name) + " has " + std::to_string(stored.size()) +
                   (codec.codepage() == kCodePageUtf8 ? " bytes in UTF-8" : " characters") +
                   "; a field name holds at most 11";
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

bool Definition_Make(const TextCodec& codec, const std::string& name, const std::string& type, const std::string& length,
                     const std::string& decimals, TableField* field, std::string* problem) {
    problem->clear();
    if (!Definition_CheckName(codec, name, problem)) return false;
    field->name = name;
    const char letter = type.size() == 1 ? static_cast<char>(upper(static_cast<unsigned char>(type[0]))) : '\0';
    if (letter == 'M') {
        *problem = "type M: memo values live in a memo file (.dbt), which this library does not write";
        return false;
    }
    if (letter == '\0' || std::string_view("CNFDL").find(letter) == std::string_view::npos) {
        *problem = "unknown field type " + Text_Quoted(type) + " (the tool makes C, N, F, D and L fields)";
        return false;
    }
    field->type = letter;
    field->rule = Field_RuleOf(letter, TableFormat::kDbase3);
    if (!whole_number(length, &field->length)) {
        *problem = "length " + Text_Quoted(length) + " is not a whole number";
        return false;
    }
    field->decimals = 0;
    if (!decimals.empty() && !whole_number(decimals, &field->decimals)) {
        *problem = "decimals " + Text_Quoted(decimals) + " is not a whole number";
        return false;
    }
    return Field_CheckDefinition(letter, &field->length, field->decimals, TableFormat::kDbase3, problem);
}

bool Definition_Make(const TextCodec& codec, const std::string& name, const std::string& type, const std::string& length,
                     const std::string& decimals, TableFormat format, bool nullable, TableField* field,
                     std::string* problem) {
    problem->clear();
    if (!Definition_CheckName(codec, name, problem)) return false;
    field->name = name;
    const char letter = type.size() == 1 ? static_cast<char>(upper(static_cast<unsigned char>(type[0]))) : '\0';
    if (letter == '\0' || std::string_view("CNFDLMIBYTVQG").find(letter) == std::string_view::npos) {
        *problem = "unknown field type " + Text_Quoted(type) +
                   " (C, N, F, D, L and M; in Visual FoxPro also I, B, Y, T, V, Q and G)";
        return false;
    }
    field->type = letter;
    field->rule = Field_RuleOf(letter, format);
    field->length = 0;
    if (!length.empty() && !whole_number(length, &field->length)) {
        *problem = "length " + Text_Quoted(length) + " is not a whole number";
        return false;
    }
    field->decimals = 0;
    if (!decimals.empty() && !whole_number(decimals, &field->decimals)) {
        *problem = "decimals " + Text_Quoted(decimals) + " is not a whole number";
        return false;
    }
    if (length.empty() && std::string_view("CNFVQ").find(letter) != std::string_view::npos) {
        // A type the format lacks is named as such before its length.
        int some = 1;
        if (!Field_CheckDefinition(letter, &some, 0, format, problem) && problem->rfind("type ", 0) == 0) return false;
        *problem = std::string(letter == 'N' || letter == 'F' ? "an " : "a ") + letter + " field needs its length";
        return false;
    }
    if (!Field_CheckDefinition(letter, &field->length, field->decimals, format, problem)) return false;
    field->nullable = nullable;
    if (nullable && format != TableFormat::kVisualFoxPro) {
        *problem = std::string("a field that may be null: Visual FoxPro has them, ") + Format_Name(format) +
                   " does not (--format vfp)";
        return false;
    }
    return true;
}

bool Definition_Parse(const TextCodec& codec, const std::string& cell, TableField* field, std::string* problem) {
    std::vector<std::string> parts(1);
    for (char c : cell) {
        if (c == ':')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (parts.size() < 3 || parts.size() > 4) {
        *problem = Text_Quoted(cell) + " is not NAME:TYPE:LENGTH[:DECIMALS]";
        return false;
    }
    return Definition_Make(codec, parts[0], parts[1], parts[2], parts.size() == 4 ? parts[3] : "", field, problem);
}

std::vector<std::string> Definition_CheckTable(const std::vector<TableField>& fields) {
    std::vector<std::string> problems;
    int64_t record_length = 1;
    for (const TableField& f : fields) record_length += f.length;
    if (fields.size() > static_cast<std::size_t>(kDbfMaxFields))
        problems.push_back(std::to_string(fields.size()) + " fields; a table holds at most " + std::to_string(kDbfMaxFields));
    if (record_length > kDbfMaxRecordLength)
        problems.push_back("a record of " + std::to_string(record_length) + " bytes; a table holds at most " +
                           std::to_string(kDbfMaxRecordLength));
    return problems;
}

}  // namespace hyl
