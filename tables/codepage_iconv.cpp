// The code-page seam natively: glibc's iconv, converting to UTF-32LE.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

#include "tables/codepage.h"
#include "tables/codepage_system.h"

namespace hyl {
namespace {

class Converter {
public:
    explicit Converter(int codepage) : cd_(iconv_open("UTF-32LE", CodePage_IconvName(codepage).c_str())) {}
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

// The converter of the code page this thread asked for last: a table's
// values are decoded one by one, and opening a converter for each would
// cost more than the decoding.
Converter& converter_for(int codepage) {
    thread_local std::unique_ptr<Converter> converter;
    thread_local int converter_codepage = 0;
    if (!converter || converter_codepage != codepage) {
        converter = std::make_unique<Converter>(codepage);
        converter_codepage = codepage;
    }
    return *converter;
}

}  // namespace

bool SystemCodePage_Known(int codepage) { return converter_for(codepage).ok(); }

bool SystemCodePage_First(int codepage, std::string_view bytes, char32_t* c, std::size_t* used) {
    Converter& converter = converter_for(codepage);
    // A character is at most two bytes in the multi-byte code pages; four covers GB18030 too.
    return converter.ok() && converter.first(bytes.data(), std::min<std::size_t>(4, bytes.size()), c, used) &&
           *used > 0;
}

}  // namespace hyl
