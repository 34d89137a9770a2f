// A small check harness in the manner of Wine's DLL tests: each fact is one
// ok(condition, "got ..., expected ...") line; failures print what was got.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace check {

inline int g_passed = 0;
inline int g_failed = 0;
inline const char* g_group = "";

inline bool ok_at(const char* file, int line, bool condition, const char* format, ...) {
    if (condition) {
        ++g_passed;
        return true;
    }
    ++g_failed;
    std::printf("%s:%d: [%s] Test failed: ", file, line, g_group);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
    return false;
}

inline int summary() {
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed ? 1 : 0;
}

}  // namespace check

#define ok(...) ::check::ok_at(__FILE__, __LINE__, __VA_ARGS__)
