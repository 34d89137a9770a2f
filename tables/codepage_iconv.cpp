// The code-page seam natively: glibc's iconv, converting to UTF-32LE.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "tables/codepage.h"
#include "tables/codepage_system.h"

namespace hyl {
namespace {

std::string iconv_name(int codepage) {
    if (codepage >= 28591 && codepage <= 28606) return "ISO-8859-" + std::to_string(codepage - 28590);
    switch (codepage) {
        case 20866: return "KOI8-R";
        case 21866: return "KOI8-U";
        case 20127: return "ASCII";
        case 10000: return "MACINTOSH";
        case 10007: return "MAC-CYRILLIC";
        case 10029: return "MAC-CENTRALEUROPE";
        default: return "CP" + std::to_string(codepage);
    }
}

class Converter {
public:
    explicit Converter(int codepage) : cd_(iconv_open("UTF-32LE", iconv_name(codepage).c_str())) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The first character of IN (of SIZE bytes); its bytes in *USED.
    // False when IN does not begin with a whole, valid character.
    bool first(const char* in, std::size_t size, char32_t* c, std::size_t* used) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        unsigned char out[4];
        char* src = const_cast<char*>(in);
        char* dst = reinterpret_cast<char*>(out);
        std::size_t in_left = size, out_left = sizeof out;
        const std::size_t done = iconv(cd_, &src, &in_left, &dst, &out_left);
        // A full output buffer (E2BIG) after one character is what we want.
        if (out_left != 0 || (done == static_cast<std::size_t>(-1) && errno != E2BIG)) return false;
        *c = out[0] | out[1] << 8 | out[2] << 16 | static_cast<char32_t>(out[3]) << 24;
        *used = size - in_left;
        return true;
    }

private:
    iconv_t cd_;
};

}  // namespace

bool SystemCodePage_Table(int codepage, int32_t (&characters)[256]) {
    Converter converter(codepage);
    if (!converter.ok()) return false;
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        char32_t c = 0;
        std::size_t used = 0;
        characters[b] = converter.first(&byte, 1, &c, &used) ? static_cast<int32_t>(c) : -1;
    }
    return true;
}

bool SystemCodePage_Decode(int codepage, std::string_view bytes, std::string& utf8, int* invalid) {
    Converter converter(codepage);
    if (!converter.ok()) return false;
    for (std::size_t at = 0; at < bytes.size();) {
        char32_t c = 0;
        std::size_t used = 0;
        // A character is at most two bytes in these code pages; four covers GB18030 too.
        if (converter.first(bytes.data() + at, std::min<std::size_t>(4, bytes.size() - at), &c, &used) && used) {
            Utf8_Append(utf8, c);
            at += used;
        } else {
            Utf8_Append(utf8, 0xFFFD);
            ++*invalid;
            ++at;
        }
    }
    return true;
}

}  // namespace hyl
