// The DLL's load and unload: process attach sets up the library's state,
// process detach tears it down (the current table's header is written back
// if records were appended).
#include <windows.h>

#include "frame/frame.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: {
            // The same probe a framework-based build makes before it starts.
            HLOCAL probe = LocalAlloc(LMEM_FIXED, 8192);
            if (!probe) return FALSE;
            LocalFree(probe);
            hyl::frame_load();
            break;
        }
        case DLL_PROCESS_DETACH:
            hyl::frame_unload();
            break;
        default:
            break;
    }
    return TRUE;
}
