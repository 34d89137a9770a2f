// A host for the real hyl.dll, built 32-bit and 64-bit: loads it as the
// legacy host does and calls its exports by decorated name and by ordinal
// (the 64-bit DLL has each decorated name as an alias of its plain one).
// Run under Wine with HYL_MESSAGE_LOG naming a file, so messages, busy lines
// and beeps are logged there instead of shown, and LC_ALL=ru_RU.UTF-8 so the
// system's own OEM and ANSI code pages are 866 and 1251.
//
//   host.exe DLL_PATH WORK_DIR [GROUP,GROUP...]
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/win32/check.h"
#include "tests/win32/host.h"

namespace host {

HMODULE g_dll = nullptr;
std::string g_work;
std::string g_log;

FARPROC proc(const char* decorated) { return GetProcAddress(g_dll, decorated); }

std::vector<std::string> log_entries() {
    std::vector<std::string> out;
    FILE* f = std::fopen(g_log.c_str(), "rb");
    if (!f) return out;
    char line[9000];
    while (std::fgets(line, sizeof line, f)) {
        std::string s = line;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        out.push_back(s);
    }
    std::fclose(f);
    return out;
}

void clear_log() { DeleteFileA(g_log.c_str()); }

std::string work_path(const char* name) { return g_work + "\\" + name; }

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    int c;
    while ((c = std::fgetc(f)) != EOF) out.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return out;
}

#if defined(__i386__)
// Calls fn with the given argument words on a stack misaligned by `skew`
// bytes and reports how far the stack pointer moved: 0 when the callee
// removed exactly its arguments, as the standard call convention wants.
Call call_measured(FARPROC fn, const uint32_t* args, int words, int skew, bool returns_double) {
    Call r{};
    int moved = words;
    int result = skew;
    double st0 = 0.0;
    if (returns_double) {
        asm volatile(
            "movl %%esp, %%esi\n\t"
            "subl %%eax, %%esp\n\t"
            "movl %%esp, %%edi\n\t"
            "1:\n\t"
            "testl %%ecx, %%ecx\n\t"
            "jz 2f\n\t"
            "decl %%ecx\n\t"
            "pushl (%%edx,%%ecx,4)\n\t"
            "jmp 1b\n\t"
            "2:\n\t"
            "call *%%ebx\n\t"
            "movl %%esp, %%ecx\n\t"
            "subl %%edi, %%ecx\n\t"
            "movl %%esi, %%esp\n\t"
            "fstpl %[st0]\n\t"
            : "+a"(result), "+c"(moved), [st0] "=m"(st0)
            : "b"(fn), "d"(args)
            : "esi", "edi", "memory", "cc");
    } else {
        asm volatile(
            "movl %%esp, %%esi\n\t"
            "subl %%eax, %%esp\n\t"
            "movl %%esp, %%edi\n\t"
            "1:\n\t"
            "testl %%ecx, %%ecx\n\t"
            "jz 2f\n\t"
            "decl %%ecx\n\t"
            "pushl (%%edx,%%ecx,4)\n\t"
            "jmp 1b\n\t"
            "2:\n\t"
            "call *%%ebx\n\t"
            "movl %%esp, %%ecx\n\t"
            "subl %%edi, %%ecx\n\t"
            "movl %%esi, %%esp\n\t"
            : "+a"(result), "+c"(moved)
            : "b"(fn), "d"(args)
            : "esi", "edi", "memory", "cc");
    }
    r.stack_moved = moved;
    r.eax = result;
    r.st0 = st0;
    return r;
}
#endif

}  // namespace host

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--append-child") == 0) return host::append_child(argv[2], argv[3]);
    if (argc < 3) {
        std::printf("usage: host.exe DLL_PATH WORK_DIR\n");
        return 2;
    }
    host::g_work = argv[2];
    const char* log = std::getenv("HYL_MESSAGE_LOG");
    if (!log || !*log) {
        std::printf("HYL_MESSAGE_LOG must name a file\n");
        return 2;
    }
    host::g_log = log;
    host::clear_log();
    host::g_dll = LoadLibraryA(argv[1]);
    if (!host::g_dll) {
        std::printf("cannot load %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    // An optional third argument lists the groups to run, separated by commas.
    std::string wanted = argc > 3 ? std::string(",") + argv[3] + "," : std::string();
    for (const auto& group : host::groups()) {
        check::g_group = group.name;
        if (!wanted.empty() && wanted.find(std::string(",") + group.name + ",") == std::string::npos) continue;
        group.run();
    }
    FreeLibrary(host::g_dll);
    return check::summary();
}
