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

#if defined(__i386__)
// What only 32-bit code has to show: stdcall's stack cleanup and the x87 return.
struct Call {
    int stack_moved;  // bytes left on the stack by the callee (0: exactly its own removed)
    int eax;
    double st0;
};
Call call_measured(FARPROC fn, const uint32_t* args, int words, int skew, bool returns_double);
#endif

template <typename F>
F fn(const char* decorated) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(proc(decorated)));
}

// The table exports, found by decorated name.
struct TableApi {
    using CreateDbf = int(__stdcall*)(int, const char*);
    using CreateNewField = int(__stdcall*)(int, int, const char*, const char*, int);
    using OpenTable = int(__stdcall*)(const char*);
    using NoArgs = int(__stdcall*)();
    using PutField = int(__stdcall*)(const char*, int);
    using FieldQuery = const char*(__stdcall*)(int);
    using FieldNumber = int(__stdcall*)(int);
    using FieldText = const char*(__stdcall*)(int, int);
    using FieldDouble = double(__stdcall*)(int, int);

    CreateDbf create = fn<CreateDbf>("_Hyl_CreateDbf@8");
    CreateNewField define = fn<CreateNewField>("_Hyl_CreateNewField@20");
    OpenTable open_read = fn<OpenTable>("_Hyl_OpenTableForRead@4");
    OpenTable open_append = fn<OpenTable>("_Hyl_OpenTableForAppend@4");
    NoArgs close = fn<NoArgs>("_Hyl_CloseTable@0");
    NoArgs records = fn<NoArgs>("_Hyl_GetQRecords@0");
    NoArgs fields = fn<NoArgs>("_Hyl_GetQFields@0");
    NoArgs append = fn<NoArgs>("_Hyl_AppendRecord@0");
    PutField put = fn<PutField>("_Hyl_PutField@8");
    FieldQuery name = fn<FieldQuery>("_Hyl_GetFieldName@4");
    FieldQuery type = fn<FieldQuery>("_Hyl_GetFieldType@4");
    FieldNumber length = fn<FieldNumber>("_Hyl_GetFieldLenth@4");
    FieldNumber decimals = fn<FieldNumber>("_Hyl_GetFieldQuolity@4");
    FieldText text = fn<FieldText>("_Hyl_GetFieldText@8");
    FieldDouble number = fn<FieldDouble>("_Hyl_GetFieldNumeric@8");
    FieldDouble field_date = fn<FieldDouble>("_Hyl_GetFieldDate@8");
};

struct Group {
    const char* name;
    void (*run)();
};
// Every group of checks, in the order they run.
std::vector<Group> groups();
// The appending host the crash group starts and ends: host.exe --append-child DLL TABLE.
int append_child(const char* dll_path, const char* table);

}  // namespace host
