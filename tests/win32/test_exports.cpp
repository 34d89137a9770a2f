// The export table, the fixed results and, in 32-bit code, the calling
// convention: stdcall's stack cleanup and the x87 return.
#include <cmath>
#include <cstring>
#include <string>

#include "tests/win32/check.h"
#include "tests/win32/host.h"

namespace host {
namespace {

struct Export {
    int ordinal;
    const char* name;
    int arg_bytes;
};

const Export kExports[] = {
    {1, "_FillBufCodVdr@0", 0},          {2, "_Freew1w2w3DbfFile@0", 0},
    {3, "_GMT_To_Local@8", 8},           {4, "_GetTextVdr14@4", 4},
    {5, "_GetTextVdr2@4", 4},            {6, "_Local_To_GMT@8", 8},
    {7, "_Readw1w2w3DbfFile@0", 0},      {8, "_Hyl_AppendRecord@0", 0},
    {9, "_Hyl_CloseTable@0", 0},         {10, "_Hyl_CreateDbf@8", 8},
    {11, "_Hyl_CreateNewField@20", 20},  {12, "_Hyl_GPRST_FreeRsource@0", 0},
    {13, "_Hyl_GetDateByNsecFrom1970@8", 8}, {14, "_Hyl_GetFieldDate@8", 8},
    {15, "_Hyl_GetFieldLenth@4", 4},     {16, "_Hyl_GetFieldName@4", 4},
    {17, "_Hyl_GetFieldNumeric@8", 8},   {18, "_Hyl_GetFieldQuolity@4", 4},
    {19, "_Hyl_GetFieldText@8", 8},      {20, "_Hyl_GetFieldType@4", 4},
    {21, "_Hyl_GetPrst@16", 16},         {22, "_Hyl_GetQFields@0", 0},
    {23, "_Hyl_GetQRecords@0", 0},       {24, "_Hyl_OpenTableForAppend@4", 4},
    {25, "_Hyl_OpenTableForRead@4", 4},  {26, "_Hyl_PutField@8", 8},
    {27, "_Hyl_SetNDisk@4", 4},          {28, "_Hyl_pMonZvkFreeResource@0", 0},
    {29, "_Hyl_pMonZvkGetDate@8", 8},    {30, "_Hyl_pMonZvkGetNextMesplan@28", 28},
    {31, "_w1GetField@8", 8},            {32, "_w1GetFieldByNum@8", 8},
    {33, "_w1GetNextHylNumerByType@8", 8}, {34, "_w1GetRekvByNum@8", 8},
    {35, "_w1GetRekvisit@12", 12},       {36, "_w1GetTimePrst@4", 4},
    {37, "_w1GetTypeField@4", 4},        {38, "_w1GetHylNumber@8", 8},
    {39, "_w1GetHylNumberByCom@4", 4},   {40, "_w1TestReaded@0", 0},
    {41, "_w2GetRekvisit@8", 8},         {42, "_w2TestReaded@0", 0},
    {43, "_w3GetRekvisit@8", 8},         {44, "_w3TestReaded@0", 0},
};

// The 32-bit DLL exports the decorated names alone.  The 64-bit one exports
// each plain name at the same ordinal, and its decorated name as an alias
// of the same function 44 ordinals on.
constexpr int kCount = static_cast<int>(std::size(kExports));

std::string plain_name(const char* decorated) {
    std::string name = decorated + 1;
    return name.substr(0, name.find('@'));
}

void by_name_and_ordinal() {
    for (const Export& e : kExports) {
        FARPROC named = proc(e.name);
        FARPROC numbered = GetProcAddress(g_dll, MAKEINTRESOURCEA(e.ordinal));
        ok(named != nullptr, "%s not found by name", e.name);
        ok(named == numbered, "%s: ordinal %d gives %p, name gives %p", e.name, e.ordinal,
           reinterpret_cast<void*>(numbered), reinterpret_cast<void*>(named));
        const std::string plain = plain_name(e.name);
#if defined(_WIN64)
        FARPROC by_plain = proc(plain.c_str());
        FARPROC alias_numbered = GetProcAddress(g_dll, MAKEINTRESOURCEA(e.ordinal + kCount));
        ok(by_plain != nullptr && by_plain == named, "%s gives %p, its alias %s gives %p", plain.c_str(),
           reinterpret_cast<void*>(by_plain), e.name, reinterpret_cast<void*>(named));
        ok(alias_numbered == named, "%s: ordinal %d gives %p, expected %p", e.name, e.ordinal + kCount,
           reinterpret_cast<void*>(alias_numbered), reinterpret_cast<void*>(named));
#else
        ok(proc(plain.c_str()) == nullptr, "the undecorated name %s is exported", plain.c_str());
#endif
    }
    const int past = sizeof(void*) == 8 ? 2 * kCount + 1 : kCount + 1;
    ok(GetProcAddress(g_dll, MAKEINTRESOURCEA(past)) == nullptr, "ordinal %d exists", past);
}

#if !defined(__i386__)
// A call with WORDS int arguments through x64's one convention, where the
// caller keeps its stack and the result comes back in a register: what is
// left to see is the result.
template <typename R>
R call_with(FARPROC p, const uint32_t* words, int count) {
    void* f = reinterpret_cast<void*>(p);
    int a[4];
    for (int i = 0; i < 4; ++i) a[i] = static_cast<int>(words[i]);
    switch (count) {
        case 0: return reinterpret_cast<R (*)()>(f)();
        case 1: return reinterpret_cast<R (*)(int)>(f)(a[0]);
        case 2: return reinterpret_cast<R (*)(int, int)>(f)(a[0], a[1]);
        case 3: return reinterpret_cast<R (*)(int, int, int)>(f)(a[0], a[1], a[2]);
        default: return reinterpret_cast<R (*)(int, int, int, int)>(f)(a[0], a[1], a[2], a[3]);
    }
}
#endif

void fixed_results() {
    struct Fixed {
        const char* name;
        int words;
        bool is_double;
        bool has_result;
        int value;
        const char* shares_with;
    } fixed[] = {
        {"_FillBufCodVdr@0", 0, false, false, 0, "_Hyl_GPRST_FreeRsource@0"},
        {"_Hyl_GPRST_FreeRsource@0", 0, false, false, 0, nullptr},
        {"_Freew1w2w3DbfFile@0", 0, false, true, 0, "_Readw1w2w3DbfFile@0"},
        {"_Readw1w2w3DbfFile@0", 0, false, true, 0, "_w1TestReaded@0"},
        {"_w1TestReaded@0", 0, false, true, 0, "_w2TestReaded@0"},
        {"_w2TestReaded@0", 0, false, true, 0, "_w3TestReaded@0"},
        {"_w3TestReaded@0", 0, false, true, 0, nullptr},
        {"_GetTextVdr14@4", 1, false, true, 0, "_GetTextVdr2@4"},
        {"_GetTextVdr2@4", 1, false, true, 0, "_w1GetTimePrst@4"},
        {"_w1GetTimePrst@4", 1, false, true, 0, "_w1GetTypeField@4"},
        {"_w1GetTypeField@4", 1, false, true, 0, nullptr},
        {"_w1GetField@8", 2, false, true, 0, "_w1GetFieldByNum@8"},
        {"_w1GetFieldByNum@8", 2, false, true, 0, "_w1GetRekvByNum@8"},
        {"_w1GetRekvByNum@8", 2, false, true, 0, "_w1GetHylNumber@8"},
        {"_w1GetHylNumber@8", 2, false, true, 0, nullptr},
        {"_w1GetRekvisit@12", 3, false, true, 0, nullptr},
        {"_w1GetNextHylNumerByType@8", 2, false, true, -32000, nullptr},
        {"_w1GetHylNumberByCom@4", 1, false, true, 10000, nullptr},
        {"_w2GetRekvisit@8", 2, true, true, 0, "_w3GetRekvisit@8"},
        {"_w3GetRekvisit@8", 2, true, true, 0, nullptr},
        {"_Hyl_GetPrst@16", 4, true, true, 0, nullptr},
    };
    const uint32_t args[4] = {0xDEADBEEF, 0x7FFFFFFF, 0x80000000, 12345};
    int records_before = fn<int(__stdcall*)()>("_Hyl_GetQRecords@0")();
    for (const Fixed& f : fixed) {
        FARPROC p = proc(f.name);
        if (!ok(p != nullptr, "%s missing", f.name)) continue;
        if (f.shares_with)
            ok(p == proc(f.shares_with), "%s and %s should share one entry point", f.name, f.shares_with);
#if defined(__i386__)
        for (int skew : {0, 4, 8, 12}) {
            Call c = call_measured(p, args, f.words, skew, f.is_double);
            ok(c.stack_moved == 0, "%s (skew %d): %d bytes of arguments left", f.name, skew, c.stack_moved);
            if (f.is_double)
                ok(c.st0 == 0.0, "%s: got %g, expected 0.0", f.name, c.st0);
            else if (f.has_result)
                ok(c.eax == f.value, "%s: got %d, expected %d", f.name, c.eax, f.value);
        }
#else
        if (f.is_double) {
            const double got = call_with<double>(p, args, f.words);
            ok(got == 0.0, "%s: got %g, expected 0.0", f.name, got);
        } else if (f.has_result) {
            const int got = call_with<int>(p, args, f.words);
            ok(got == f.value, "%s: got %d, expected %d", f.name, got, f.value);
        } else {
            call_with<void>(p, args, f.words);
        }
#endif
    }
    ok(fn<int(__stdcall*)()>("_Hyl_GetQRecords@0")() == records_before, "a fixed entry changed state");
}

#if defined(__i386__)
void working_exports_remove_their_arguments() {
    // Safe arguments for each working export: out-of-range numbers, empty texts.
    static const char kEmpty[] = "";
    const uint32_t text = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(kEmpty));
    struct Working {
        const char* name;
        std::vector<uint32_t> args;
        bool is_double;
    } working[] = {
        {"_Hyl_GetQRecords@0", {}, false},
        {"_Hyl_GetQFields@0", {}, false},
        {"_Hyl_CloseTable@0", {}, false},
        {"_Hyl_AppendRecord@0", {}, false},
        {"_Hyl_GetFieldLenth@4", {99}, false},
        {"_Hyl_GetFieldName@4", {99}, false},
        {"_Hyl_GetFieldType@4", {99}, false},
        {"_Hyl_GetFieldQuolity@4", {99}, false},
        {"_Hyl_GetFieldText@8", {0, 99}, false},
        {"_Hyl_GetFieldNumeric@8", {0, 99}, true},
        {"_Hyl_PutField@8", {text, 99}, false},
        {"_Hyl_CreateNewField@20", {5, 4, text, text, 0}, false},
        {"_GMT_To_Local@8", {0, 0x40E3A8C0}, true},  // 40262.0 as two words, low first
        {"_Local_To_GMT@8", {0, 0x40E3A8C0}, true},
        {"_Hyl_GetDateByNsecFrom1970@8", {0, 0}, true},
        {"_Hyl_pMonZvkGetDate@8", {text, 0}, true},
        {"_Hyl_pMonZvkFreeResource@0", {}, false},
    };
    for (const Working& w : working) {
        FARPROC p = proc(w.name);
        if (!ok(p != nullptr, "%s missing", w.name)) continue;
        for (int skew : {0, 4}) {
            Call c = call_measured(p, w.args.data(), static_cast<int>(w.args.size()), skew, w.is_double);
            ok(c.stack_moved == 0, "%s (skew %d): %d bytes of arguments left", w.name, skew, c.stack_moved);
        }
    }
    ok(fn<int(__stdcall*)()>("_Hyl_pMonZvkFreeResource@0")() == 1, "free resource should answer 1");
}
#endif

}  // namespace

void register_export_groups(std::vector<Group>& out) {
    out.push_back({"exports", by_name_and_ordinal});
    out.push_back({"fixed", fixed_results});
#if defined(__i386__)
    out.push_back({"convention", working_exports_remove_their_arguments});
#endif
}

}  // namespace host
