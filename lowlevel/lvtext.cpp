#include <cstring>

#include "lowlevel/lv.h"

namespace hyl {

int32_t LVNulToBlank(void* buffer, int32_t length) {
    if (length <= 0) return 0;
    auto* b = static_cast<unsigned char*>(buffer);
    for (int32_t i = 0; i < length; ++i)
        if (b[i] == 0) b[i] = ' ';
    return length;
}

int32_t LVTrimRight(char* text, int32_t length) {
    if (length == 0) length = static_cast<int32_t>(std::strlen(text));
    int32_t i = length - 1;
    while (i >= 0 && static_cast<unsigned char>(text[i]) <= 0x20) text[i--] = '\0';
    return i;
}

}  // namespace hyl
