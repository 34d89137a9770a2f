// The code-page seam in hyl.exe: MultiByteToWideChar.
#include <windows.h>

#include <string>

#include "tables/codepage.h"
#include "tables/codepage_system.h"

namespace hyl {
namespace {

// The first character of IN: its bytes (1 or 2) in *USED.
bool first(int codepage, const char* in, int size, char32_t* c, int* used) {
    wchar_t wide[2];
    const int lead = IsDBCSLeadByteEx(static_cast<UINT>(codepage), static_cast<BYTE>(in[0])) && size > 1 ? 2 : 1;
    if (MultiByteToWideChar(static_cast<UINT>(codepage), MB_ERR_INVALID_CHARS, in, lead, wide, 2) != 1) return false;
    *c = wide[0];
    *used = lead;
    return true;
}

}  // namespace

bool SystemCodePage_Table(int codepage, int32_t (&characters)[256]) {
    if (!IsValidCodePage(static_cast<UINT>(codepage))) return false;
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        char32_t c = 0;
        int used = 0;
        characters[b] = first(codepage, &byte, 1, &c, &used) ? static_cast<int32_t>(c) : -1;
    }
    return true;
}

bool SystemCodePage_Decode(int codepage, std::string_view bytes, std::string& utf8, int* invalid) {
    if (!IsValidCodePage(static_cast<UINT>(codepage))) return false;
    for (std::size_t at = 0; at < bytes.size();) {
        char32_t c = 0;
        int used = 0;
        if (first(codepage, bytes.data() + at, static_cast<int>(std::min<std::size_t>(2, bytes.size() - at)), &c, &used)) {
            Utf8_Append(utf8, c);
            at += static_cast<std::size_t>(used);
        } else {
            Utf8_Append(utf8, 0xFFFD);
            ++*invalid;
            ++at;
        }
    }
    return true;
}

}  // namespace hyl
