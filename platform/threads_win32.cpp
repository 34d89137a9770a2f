// The library's lock and per-thread storage in the DLL: a critical section
// (recursive, as the lock must be) and a thread-storage slot of the system,
// which works the same whether the host linked the DLL or loaded it with
// LoadLibrary.  Both are made by the run-time start-up, before DllMain sees
// the process attach, and go after it has seen the detach.
//
// The blocks are also kept in a list, under a lock of their own that is
// never held while anything else is called, so that DllMain may take it
// while the system holds the loader's lock: an unload frees the blocks of
// threads that are still running.
#include <windows.h>

#include "platform/threads.h"
#include "platform/threads_win32.h"

namespace hyl {
namespace {

// Each block is this link, then the bytes the caller asked for.
struct BlockLink {
    BlockLink* previous;
    BlockLink* next;
};

struct Threads {
    CRITICAL_SECTION lock;
    CRITICAL_SECTION blocks_lock;
    BlockLink* blocks = nullptr;
    DWORD slot;
    Threads() : slot(TlsAlloc()) {
        InitializeCriticalSection(&lock);
        InitializeCriticalSection(&blocks_lock);
    }
    ~Threads() {
        DeleteCriticalSection(&blocks_lock);
        DeleteCriticalSection(&lock);
        if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
    }
};

Threads g_threads;

// TlsGetValue clears the thread's last error; a host that looks at it after
// a call must see what the call's own work left there.
void* slot_value() {
    const DWORD error = GetLastError();
    void* value = TlsGetValue(g_threads.slot);
    SetLastError(error);
    return value;
}

BlockLink* link_of(void* bytes) { return static_cast<BlockLink*>(bytes) - 1; }

void unlink_and_free(BlockLink* link) {
    EnterCriticalSection(&g_threads.blocks_lock);
    if (link->previous) link->previous->next = link->next;
    if (link->next) link->next->previous = link->previous;
    if (g_threads.blocks == link) g_threads.blocks = link->next;
    LeaveCriticalSection(&g_threads.blocks_lock);
    HeapFree(GetProcessHeap(), 0, link);
}

}  // namespace

void library_lock() { EnterCriticalSection(&g_threads.lock); }

void library_unlock() { LeaveCriticalSection(&g_threads.lock); }

void* thread_block(std::size_t size) {
    if (g_threads.slot == TLS_OUT_OF_INDEXES) return nullptr;
    if (void* bytes = slot_value()) return bytes;
    auto* link = static_cast<BlockLink*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BlockLink) + size));
    if (!link) return nullptr;
    void* bytes = link + 1;
    if (!TlsSetValue(g_threads.slot, bytes)) {
        HeapFree(GetProcessHeap(), 0, link);
        return nullptr;
    }
    EnterCriticalSection(&g_threads.blocks_lock);
    link->next = g_threads.blocks;
    if (link->next) link->next->previous = link;
    g_threads.blocks = link;
    LeaveCriticalSection(&g_threads.blocks_lock);
    return bytes;
}

void thread_detached() {
    if (g_threads.slot == TLS_OUT_OF_INDEXES) return;
    if (void* bytes = slot_value()) {
        TlsSetValue(g_threads.slot, nullptr);
        unlink_and_free(link_of(bytes));
    }
}

void thread_blocks_release_all() {
    EnterCriticalSection(&g_threads.blocks_lock);
    BlockLink* link = g_threads.blocks;
    g_threads.blocks = nullptr;
    LeaveCriticalSection(&g_threads.blocks_lock);
    while (link) {
        BlockLink* next = link->next;
        HeapFree(GetProcessHeap(), 0, link);
        link = next;
    }
    if (g_threads.slot != TLS_OUT_OF_INDEXES) TlsSetValue(g_threads.slot, nullptr);
}

}  // namespace hyl
