#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "lowlevel/lv.h"
#include "platform/codepage.h"

namespace hyl {
namespace {

constexpr auto kCaption = cp1251(u8"Это все");

// The run-time library's formatting, except that %p is always upper-case
// hexadecimal digits, kPointerDigits of them: eight, as on the 32-bit
// platform the messages come from, or sixteen in the 64-bit DLL.  Each
// conversion is handed to vsnprintf-compatible snprintf on its own
// so the argument types stay those the format names.
void format_message(char* out, std::size_t capacity, const char* format, va_list args) {
    std::string text;
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            text += *p++;
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            text += '%';
            ++p;
            continue;
        }
        while (*p && std::strchr("-+ #0", *p)) ++p;
        while (*p >= '0' && *p <= '9') ++p;
        if (*p == '.') {
            ++p;
            while (*p >= '0' && *p <= '9') ++p;
        }
        int longs = 0;
        while (*p == 'l') {
            ++longs;
            ++p;
        }
        if (*p == 'h') ++p;
        char conv = *p ? *p++ : '\0';
        std::string spec(start, p);
        char piece[8200];
        piece[0] = '\0';
        switch (conv) {
            case 'd':
            case 'i':
                if (longs >= 2)
                    std::snprintf(piece, sizeof piece, spec.c_str(), va_arg(args, long long));
                else if (longs == 1)
                    std::snprintf(piece, sizeof piece, spec.c_str(), va_arg(args, long));
                else
                    std::snprintf(piece, sizeof piece, spec.c_str(), va_arg(args, int));
                break;
            case 'u':
            case 'x':
            case 'X':
            case 'o':
            case 'c':
                if (longs >= 2)
                    std::snprintf(piece, sizeof piece, spec.c_str(), va_arg(args, unsigned long long));
                else if (longs == 1)
                    std::snprintf(piece, sizeof piece, spec.c_str(), va_arg(args, unsigned long));
                else
                    std::snprintf(piece, sizeof piece, spec.c_str(), va_arg(args, unsigned));
                break;
            case 'f':
            case 'g':
            case 'e':
                std::snprintf(piece, sizeof piece, spec.c_str(), va_arg(args, double));
                break;
            case 's': {
                const char* s = va_arg(args, const char*);
                std::snprintf(piece, sizeof piece, spec.c_str(), s ? s : "(null)");
                break;
            }
            case 'p': {
                const uint64_t v = reinterpret_cast<uintptr_t>(va_arg(args, void*));
                const auto low = static_cast<unsigned>(v & 0xFFFFFFFFu);
                if (kPointerDigits > 8)
                    std::snprintf(piece, sizeof piece, "%08X%08X", static_cast<unsigned>(v >> 32), low);
                else
                    std::snprintf(piece, sizeof piece, "%08X", low);
                break;
            }
            default:
                text += spec;
                continue;
        }
        text += piece;
        if (text.size() >= capacity) break;
    }
    std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

void LVAlarm() {
    for (int i = 0; i < 10; ++i) platform().beep();
}

void LVMessage(int32_t flags, const char* format, ...) {
    char text[kMessageCapacity] = {};
    va_list args;
    va_start(args, format);
    format_message(text, sizeof text, format, args);
    va_end(args);
    for (char* c = text; *c; ++c)
        if (*c == '\r') *c = 'r';
    if (flags & kMsgAlarm) LVAlarm();
    char shown[kMessageCapacity] = {};
    std::memcpy(shown, text, sizeof shown);
    if ((flags & (kMsgAlarm | kMsgScreenLine)) == kMsgScreenLine) {
        platform().screen_line(shown, 10, 20);
        return;
    }
    platform().message_box(shown, kCaption);
}

}  // namespace hyl
