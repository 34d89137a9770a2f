// The system's own code-page converter, behind one small seam: iconv in
// glibc natively (codepage_iconv.cpp), MultiByteToWideChar in hyl.exe
// (codepage_win32.cpp).  Only the whole-table reader uses it; the DLL never
// links it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hyl {

// Whether the system can convert code page CODEPAGE.
bool SystemCodePage_Known(int codepage);

// The first character of BYTES in CODEPAGE, and in *USED how many bytes it
// takes; false when BYTES does not begin with a whole, valid character.
// The tables of single-byte code pages and the decoding of multi-byte ones
// (tables/codepage.cpp) are built on this one question.
bool SystemCodePage_First(int codepage, std::string_view bytes, char32_t* c, std::size_t* used);

}  // namespace hyl
