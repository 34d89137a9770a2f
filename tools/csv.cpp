// CSV as the tool reads and writes it (RFC 4180 quoting), and the text
// helpers the commands share.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "tools/tool.h"

namespace hyltool {

std::string to_utf8(const char* ansi) { return hyl::ansi_to_utf8(ansi ? ansi : ""); }

int display_width(const std::string& utf8) {
    int width = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++width;
    return width;
}

bool holds_special(std::string_view text, unsigned char below, std::string_view also) {
    // Eight bytes at a time: a byte of a word is zero exactly where
    // (w - 0x01..01) & ~w & 0x80..80 has its high bit, and below N (N at
    // most 0x80) where (w - N..N) & ~w & 0x80..80 has.
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, text.data() + i, 8);
        uint64_t hit = below ? (w - kOnes * below) & ~w & kHigh : 0;
        for (char c : also) {
            const uint64_t x = w ^ (kOnes * static_cast<unsigned char>(c));
            hit |= (x - kOnes) & ~x & kHigh;
        }
        if (hit) return true;
    }
    for (; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) < below || also.find(text[i]) != std::string_view::npos) return true;
    return false;
}

void csv_append(std::string& out, std::string_view field) {
    if (!holds_special(field, '\0', ",\"\r\n")) {
        out += field;
        return;
    }
    out += '"';
    for (std::size_t quote; (quote = field.find('"')) != std::string_view::npos; field.remove_prefix(quote + 1)) {
        out += field.substr(0, quote + 1);
        out += '"';
    }
    out += field;
    out += '"';
}

CsvText csv_read(std::string_view text) {
    CsvText out;
    // Spreadsheets often begin UTF-8 files with a byte order mark.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    CsvRow row;
    std::string field;
    bool quoted = false, closed = false, any = false;
    int line = 1, quote_line = 0;
    row.line = 1;
    auto fail = [&](const std::string& message) {
        out.error = message;
        out.error_line = line;
        out.error_column = row.fields.size();
        out.rows.push_back(std::move(row));  // the row the error is in
        return out;
    };
    auto end_row = [&] {
        if (any || !field.empty()) {
            row.fields.push_back(field);
            out.rows.push_back(std::move(row));
        }
        row = CsvRow{};
        field.clear();
        any = closed = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
                closed = true;
            } else {
                if (c == '\n') ++line;
                field += c;
            }
            continue;
        }
        if (c == ',') {
            row.fields.push_back(field);
            field.clear();
            any = true;
            closed = false;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            end_row();
            row.line = ++line;
        } else if (closed) {
            return fail("text after the closing quote of a value");
        } else if (c == '"') {
            if (!field.empty()) return fail("a quote inside a value that does not begin with one");
            quoted = any = true;
            quote_line = line;
        } else {
            field += c;
            any = true;
        }
    }
    if (quoted) {
        line = quote_line;
        return fail("a quoted value is not closed (its quote opens on line " + std::to_string(quote_line) + ")");
    }
    end_row();
    return out;
}

}  // namespace hyltool
