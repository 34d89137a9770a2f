#include <cstring>

#include "lowlevel/lv.h"

namespace hyl {

int32_t LVNulToBlank(void* buffer, int32_t length) {
    if (length <= 0) return 0;
    // Each value put blank-fills the whole record, which after the first put
    // holds no NUL at all: look for them a word at a time.
    auto* b = static_cast<unsigned char*>(buffer);
    const auto* end = b + length;
    for (auto* p = b; (p = static_cast<unsigned char*>(std::memchr(p, 0, static_cast<std::size_t>(end - p)))); ++p)
        *p = ' ';
    return length;
}

int32_t LVTrimRight(char* text, int32_t length) {
    if (length == 0) length = static_cast<int32_t>(std::strlen(text));
    int32_t i = length - 1;
    while (i >= 0 && static_cast<unsigned char>(text[i]) <= 0x20) text[i--] = '\0';
    return i;
}

}  // namespace hyl
