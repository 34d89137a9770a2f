// The DLL's load and unload: process attach sets up the library's state,
// process detach tears it down (the current table's header is written back
// if records were appended).  Each thread's text results go when the thread
// detaches, and those of threads still running when the library is unloaded.
#include <windows.h>

#include "frame/frame.h"
#include "platform/threads_win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: {
            // The same probe a framework-based build makes before it starts.
            HLOCAL probe = LocalAlloc(LMEM_FIXED, 8192);
            if (!probe) return FALSE;
            LocalFree(probe);
            hyl::frame_load();
            break;
        }
        case DLL_THREAD_DETACH:
            hyl::thread_detached();
            break;
        case DLL_PROCESS_DETACH:
            hyl::frame_unload();
            // At the process's end its memory goes anyway, and the other
            // threads were stopped wherever they were: the blocks are left.
            if (!reserved) hyl::thread_blocks_release_all();
            break;
        default:
            break;
    }
    return TRUE;
}
