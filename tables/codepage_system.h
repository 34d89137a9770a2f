// The system's own code-page converter, behind one small seam: iconv in
// glibc natively (codepage_iconv.cpp), MultiByteToWideChar in hyl.exe
// (codepage_win32.cpp).  Only the whole-table reader uses it; the DLL never
// links it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hyl {

// Each byte of single-byte code page CODEPAGE as a Unicode character, -1
// where the byte is no character of it.  False when the system does not
// know the code page.
bool SystemCodePage_Table(int codepage, int32_t (&characters)[256]);

// Text in a multi-byte code page (932, 936, 949, 950) appended as UTF-8;
// each sequence that is not valid becomes U+FFFD and is counted in *INVALID.
// False when the system does not know the code page.
bool SystemCodePage_Decode(int codepage, std::string_view bytes, std::string& utf8, int* invalid);

}  // namespace hyl
