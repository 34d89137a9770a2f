// Checks of field definitions and values for import and append.
#include "tools/table_input.h"

#include <chrono>
#include <cstdio>
#include <string_view>

#include "platform/codepage.h"
#include "tables/codepage.h"

namespace hyltool {
namespace {

constexpr std::size_t kNameChars = 11;

// The next character of UTF-8 text; false at bytes that are not UTF-8.
bool next_char(std::string_view s, std::size_t& i, char32_t& c) { return hyl::Utf8_Next(s, &i, &c); }

std::string code_point(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

// A value as quoted in a message: long ones shortened.
std::string quoted(const std::string& utf8) {
    std::size_t i = 0, chars = 0;
    char32_t c = 0;
    while (i < utf8.size() && chars < 40 && next_char(utf8, i, c)) ++chars;
    return "'" + (i < utf8.size() ? utf8.substr(0, i) + "..." : utf8) + "'";
}

// Text in the table's code page, or false with a problem naming the first
// character that has no place there.  Control characters are refused too:
// readers take them for the end of a value.
bool to_codepage(const hyl::TextCodec& codec, const std::string& utf8, std::string* stored, std::string* problem) {
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t at = i;
        char32_t c = 0;
        if (!next_char(utf8, i, c)) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(utf8[at]));
            *problem = "not UTF-8 text (byte " + std::string(byte) + ")";
            return false;
        }
        if (c < 0x20 || c == 0x7F) {
            *problem = "a control character (" + code_point(c) + ")";
            return false;
        }
    }
    char32_t missing = 0;
    if (codec.encode(utf8, *stored, &missing)) return true;
    std::string character;
    hyl::Utf8_Append(character, missing);
    *problem = "'" + character + "' (" + code_point(missing) + ") has no place in " + hyl::CodePage_Name(codec.codepage());
    return false;
}

std::string shape(const FieldDef& f) {
    if (f.type == 'N' || f.type == 'F')
        return std::string(1, f.type) + "(" + std::to_string(f.length) + "," + std::to_string(f.decimals) + ")";
    return std::string(1, f.type) + "(" + std::to_string(f.length) + ")";
}

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

// A number as dBASE stores it: an optional minus, digits, and after a point
// at most `decimals` digits; the whole text, sign and point included, fits
// the field.
bool check_number(const FieldDef& f, const std::string& text, std::string* problem) {
    std::size_t i = text[0] == '-' ? 1 : 0;
    std::size_t whole = 0, fraction = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            ++(point ? fraction : whole);
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            *problem = quoted(text) + " is not a number";
            return false;
        }
    }
    if (whole + fraction == 0) {
        *problem = quoted(text) + " is not a number";
        return false;
    }
    if (point && f.decimals == 0) {
        *problem = quoted(text) + " does not fit " + shape(f) + ": it holds whole numbers";
        return false;
    }
    if (fraction > static_cast<std::size_t>(f.decimals)) {
        *problem = quoted(text) + " does not fit " + shape(f) + ": " + std::to_string(fraction) +
                   " digits after the point, it holds " + std::to_string(f.decimals);
        return false;
    }
    if (text.size() > static_cast<std::size_t>(f.length)) {
        *problem = quoted(text) + " does not fit " + shape(f) + ": " + std::to_string(text.size()) +
                   " characters, sign and point included, it holds " + std::to_string(f.length);
        return false;
    }
    return true;
}

bool check_date(const std::string& text, std::string* problem) {
    int digits = 0;
    for (char c : text) digits += c >= '0' && c <= '9';
    if (text.size() != 8 || digits != 8) {
        *problem = quoted(text) + " is not a date YYYYMMDD";
        return false;
    }
    using namespace std::chrono;
    const int y = std::stoi(text.substr(0, 4));
    const unsigned m = static_cast<unsigned>(std::stoi(text.substr(4, 2)));
    const unsigned d = static_cast<unsigned>(std::stoi(text.substr(6, 2)));
    if (y < 1 || !year_month_day{year{y}, month{m}, day{d}}.ok()) {
        *problem = quoted(text) + " is not a date: no such day";
        return false;
    }
    return true;
}

char32_t upper(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

}  // namespace

void InputProblems::add(int row, int line, const std::string& column, const std::string& what) {
    std::string text = data_ + ": row " + std::to_string(row);
    if (line != row) text += " (line " + std::to_string(line) + ")";
    if (!column.empty()) text += ", " + column;
    lines_.push_back(text + ": " + what);
}

void InputProblems::print(std::size_t shown) const {
    for (std::size_t i = 0; i < lines_.size() && i < shown; ++i) std::fprintf(stderr, "%s\n", lines_[i].c_str());
    if (lines_.size() > shown) std::fprintf(stderr, "... and %zu more\n", lines_.size() - shown);
}

bool check_field_name(const hyl::TextCodec& codec, const std::string& name, std::string* problem) {
    if (name.empty()) {
        *problem = "the field name is empty";
        return false;
    }
    std::string oem;
    if (!to_codepage(codec, name, &oem, problem)) {
        *problem = "field name " + quoted(name) + ": " + *problem;
        return false;
    }
    for (std::size_t i = 0, at = 0; i < name.size(); at = i) {
        char32_t c = 0;
        next_char(name, i, c);
        const auto b = static_cast<uint8_t>(hyl::unicode_to_oem866(c));
        if (c == ' ' || c == 0xA0) {
            *problem = "field name " + quoted(name) + " holds a blank";
            return false;
        }
        // Hosts read the names of 866 tables in 1251.
        if (codec.codepage() == 866 && hyl::ansi_to_oem_byte(hyl::oem_to_ansi_byte(b)) != b) {
            *problem = "field name " + quoted(name) + ": '" + name.substr(at, i - at) + "' (" + code_point(c) +
                       ") cannot be part of a field name";
            return false;
        }
    }
    if (oem.size() > kNameChars) {
        *problem = "field name " + quoted(name) + " has " + std::to_string(oem.size()) +
                   (codec.codepage() == hyl::kCodePageUtf8 ? " bytes in UTF-8" : " characters") +
                   "; a field name holds at most 11";
        return false;
    }
    return true;
}

bool same_field_name(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t ca = 0, cb = 0;
        if (!next_char(a, i, ca) || !next_char(b, j, cb)) return a == b;
        if (upper(ca) != upper(cb)) return false;
    }
    return i == a.size() && j == b.size();
}

bool parse_field_def(const hyl::TextCodec& codec, const std::string& cell, FieldDef* def, std::string* problem) {
    problem->clear();
    std::vector<std::string> parts(1);
    for (char c : cell) {
        if (c == ':')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (parts.size() < 3 || parts.size() > 4) {
        *problem = quoted(cell) + " is not NAME:TYPE:LENGTH[:DECIMALS]";
        return false;
    }
    if (!check_field_name(codec, parts[0], problem)) return false;
    def->name = parts[0];
    const std::string& type = parts[1];
    const char letter = type.size() == 1 ? static_cast<char>(upper(static_cast<unsigned char>(type[0]))) : '\0';
    if (letter == 'M') {
        *problem = "type M: memo values live in a memo file (.dbt), which this library does not write";
        return false;
    }
    if (letter == '\0' || std::string_view("CNFDL").find(letter) == std::string_view::npos) {
        *problem = "unknown field type " + quoted(type) + " (the tool makes C, N, F, D and L fields)";
        return false;
    }
    def->type = letter;
    if (!whole_number(parts[2], &def->length)) {
        *problem = "length " + quoted(parts[2]) + " is not a whole number";
        return false;
    }
    def->decimals = 0;
    if (parts.size() == 4 && !whole_number(parts[3], &def->decimals)) {
        *problem = "decimals " + quoted(parts[3]) + " is not a whole number";
        return false;
    }
    const int length = def->length, decimals = def->decimals;
    switch (letter) {
        case 'C':
            if (length < 1 || length > 254) *problem = "a C field is 1 to 254 characters long";
            break;
        case 'N':
        case 'F':
            if (length < 1 || length > 20)
                *problem = std::string("an ") + letter + " field is 1 to 20 characters long";
            else if (decimals > 0 && decimals > length - 2)
                *problem = shape(*def) + " leaves no room for a digit and the point before the decimals";
            break;
        case 'D':
            if (length != 8) *problem = "a D field is 8 characters long (YYYYMMDD)";
            break;
        case 'L':
            if (length != 1) *problem = "an L field is 1 character long";
            break;
    }
    if (problem->empty() && letter != 'N' && letter != 'F' && decimals != 0)
        *problem = std::string("a ") + letter + " field has no decimals";
    return problem->empty();
}

bool stored_value(const hyl::TextCodec& codec, const FieldDef& field, const std::string& utf8, bool truncate,
                  std::string* stored, bool* cut, std::string* problem) {
    *cut = false;
    if (field.type == 'C') {
        if (!to_codepage(codec, utf8, stored, problem)) return false;
        if (stored->size() <= static_cast<std::size_t>(field.length)) return true;
        const bool utf8_table = codec.codepage() == hyl::kCodePageUtf8;
        if (truncate) {
            std::size_t n = static_cast<std::size_t>(field.length);
            // A UTF-8 table is cut between characters, never inside one.
            while (utf8_table && n > 0 && (static_cast<uint8_t>((*stored)[n]) & 0xC0) == 0x80) --n;
            stored->resize(n);
            *cut = true;
            return true;
        }
        *problem = quoted(utf8) + " has " + std::to_string(stored->size()) +
                   (utf8_table ? " bytes in UTF-8; " : " characters; ") + shape(field) + " holds " +
                   std::to_string(field.length);
        return false;
    }
    // The other types hold ASCII alone; blanks around a number are layout.
    std::string text = utf8;
    if (field.type == 'N' || field.type == 'F') {
        text.erase(0, text.find_first_not_of(' '));
        text.erase(text.find_last_not_of(' ') + 1);
    }
    stored->clear();
    if (text.empty()) return true;
    switch (field.type) {
        case 'N':
        case 'F':
            if (!check_number(field, text, problem)) return false;
            *stored = std::string(static_cast<std::size_t>(field.length) - text.size(), ' ') + text;
            return true;
        case 'D':
            if (!check_date(text, problem)) return false;
            *stored = text;
            return true;
        case 'L':
            if (text.size() != 1 || std::string_view("?YyNnTtFf").find(text[0]) == std::string_view::npos) {
                *problem = quoted(text) + " is not a logical value (one of ? Y N T F)";
                return false;
            }
            *stored = text;
            return true;
        default:
            *problem = std::string("the tool cannot fill a field of type ") + field.type;
            return false;
    }
}

}  // namespace hyltool
