// Shared pieces of the Win32 test host.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace host {

extern HMODULE g_dll;
extern std::string g_work;
extern std::string g_log;

FARPROC proc(const char* decorated);
// Entries of the message log: "box TEXT", "line TEXT", "beep".
std::vector<std::string> log_entries();
void clear_log();
std::string work_path(const char* name);
std::vector<uint8_t> read_bytes(const std::string& path);

struct Call {
    int stack_moved;  // bytes left on the stack by the callee (0: exactly its own removed)
    int eax;
    double st0;
};
Call call_measured(FARPROC fn, const uint32_t* args, int words, int skew, bool returns_double);

template <typename F>
F fn(const char* decorated) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(proc(decorated)));
}

struct Group {
    const char* name;
    void (*run)();
};
// Every group of checks, in the order they run.
std::vector<Group> groups();

}  // namespace host
