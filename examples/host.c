/*
 * A host in C that uses hyl both ways: linked against the library, and
 * loaded at run time and looked up by name, as the legacy host does.
 *
 *   host TABLE     prints the table's record and field counts and its
 *                  first field's text in every record (Windows-1251)
 */
#include <stdio.h>
#include <stdlib.h>

#include "hyl.h"

#if defined(_WIN32)
#include <windows.h>
typedef HMODULE Library;
#define LIBRARY_NAME "hyl.dll"
static Library load(void) { return LoadLibraryA(LIBRARY_NAME); }
/* The 32-bit DLL exports decorated stdcall names.  The 64-bit one exports
   the plain names, and the decorated ones as aliases, so a host moved to 64
   bits may keep the strings it always looked up. */
static void* lookup(Library l, const char* decorated, const char* plain) {
#if defined(_WIN64)
    (void)decorated;
    return (void*)GetProcAddress(l, plain);
#else
    (void)plain;
    return (void*)GetProcAddress(l, decorated);
#endif
}
static void unload(Library l) { FreeLibrary(l); }
#else
#include <dlfcn.h>
typedef void* Library;
#define LIBRARY_NAME "libhyl.so"
static Library load(void) {
    const char* path = getenv("HYL_LIBRARY");
    return dlopen(path ? path : LIBRARY_NAME, RTLD_NOW);
}
static void* lookup(Library l, const char* decorated, const char* plain) {
    (void)decorated;
    return dlsym(l, plain);
}
static void unload(Library l) { dlclose(l); }
#endif

typedef int(HYL_CALL* OpenFn)(const char*);
typedef int(HYL_CALL* CountFn)(void);
typedef const char*(HYL_CALL* TextFn)(int, int);

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: host TABLE\n");
        return 2;
    }

    /* Linked: the import library (Windows) or libhyl.so resolves the names. */
    if (!Hyl_OpenTableForRead(argv[1])) return 1;
    int records = Hyl_GetQRecords();
    printf("linked: %d records, %d fields\n", records, Hyl_GetQFields());
    Hyl_CloseTable();

    /* Loaded at run time: by name, as the legacy host finds the exports. */
    Library library = load();
    if (!library) {
        fprintf(stderr, "cannot load %s\n", LIBRARY_NAME);
        return 1;
    }
    OpenFn open = (OpenFn)lookup(library, "_Hyl_OpenTableForRead@4", "Hyl_OpenTableForRead");
    CountFn count = (CountFn)lookup(library, "_Hyl_GetQRecords@0", "Hyl_GetQRecords");
    TextFn text = (TextFn)lookup(library, "_Hyl_GetFieldText@8", "Hyl_GetFieldText");
    CountFn close = (CountFn)lookup(library, "_Hyl_CloseTable@0", "Hyl_CloseTable");
    if (!open || !count || !text || !close) {
        fprintf(stderr, "an export is missing\n");
        return 1;
    }
    if (!open(argv[1])) return 1;
    printf("loaded: %d records\n", count());
    for (int r = 0; r < count(); ++r) printf("%d: %s\n", r, text(r, 0));
    close();
    unload(library);
    return records == count() ? 0 : 1;
}
