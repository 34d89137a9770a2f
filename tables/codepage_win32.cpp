// The code-page seam in hyl.exe: MultiByteToWideChar.
#include <windows.h>

#include <string>

#include "tables/codepage.h"
#include "tables/codepage_system.h"

namespace hyl {

bool SystemCodePage_Known(int codepage) { return IsValidCodePage(static_cast<UINT>(codepage)); }

bool SystemCodePage_First(int codepage, std::string_view bytes, char32_t* c, std::size_t* used) {
    if (bytes.empty()) return false;
    wchar_t wide[2];
    const int lead =
        IsDBCSLeadByteEx(static_cast<UINT>(codepage), static_cast<BYTE>(bytes[0])) && bytes.size() > 1 ? 2 : 1;
    if (MultiByteToWideChar(static_cast<UINT>(codepage), MB_ERR_INVALID_CHARS, bytes.data(), lead, wide, 2) != 1)
        return false;
    *c = wide[0];
    *used = static_cast<std::size_t>(lead);
    return true;
}

}  // namespace hyl
