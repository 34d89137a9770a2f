#include "platform/message_log.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace hyl {

const char* message_log_path() {
    const char* path = std::getenv("HYL_MESSAGE_LOG");
    return (path && *path) ? path : nullptr;
}

bool message_log_append(const char* tag, const char* text) {
    const char* path = message_log_path();
    if (!path) return false;
    std::string entry = tag;
    if (text) {
        entry += ' ';
        for (const char* p = text; *p; ++p) {
            switch (*p) {
                case '\n': entry += "\\n"; break;
                case '\r': entry += "\\r"; break;
                case '\\': entry += "\\\\"; break;
                default: entry += *p;
            }
        }
    }
    entry += '\n';
    std::FILE* f = std::fopen(path, "ab");
    if (!f) return false;
    bool ok = std::fwrite(entry.data(), 1, entry.size(), f) == entry.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

}  // namespace hyl
