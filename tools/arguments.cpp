// The command line, file names and the terminal across platforms.
#include "tools/progress.h"
#include "tools/tool.h"

namespace hyltool {

std::filesystem::path utf8_path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace hyltool

#if defined(_WIN32)
#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

namespace hyltool {
namespace {

std::string narrow(const wchar_t* wide, UINT code_page) {
    int n = WideCharToMultiByte(code_page, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(code_page, 0, wide, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

}  // namespace

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(narrow(wide[i], CP_UTF8));
    LocalFree(wide);
    return out;
}

std::string library_path(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (n <= 0) return utf8;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
    return narrow(wide.c_str(), CP_ACP);
}

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }
bool stdout_is_terminal() { return _isatty(_fileno(stdout)) != 0; }

}  // namespace hyltool
#else
#include <unistd.h>

namespace hyltool {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::string library_path(const std::string& utf8) { return utf8; }

bool stderr_is_terminal() { return isatty(2) != 0; }
bool stdout_is_terminal() { return isatty(1) != 0; }

}  // namespace hyltool
#endif
