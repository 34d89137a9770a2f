// The library's lock and per-thread storage for the native library: a
// recursive pthread mutex, ready before any constructor runs, and a
// thread_local block that the thread's end frees.  A library opened with
// dlopen stays loaded until the threads that used the block are gone, so
// no block outlives its code.
#include <pthread.h>

#include <cstdlib>

#include "platform/threads.h"

namespace hyl {
namespace {

pthread_mutex_t g_library_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

struct ThreadBlock {
    void* bytes = nullptr;
    ~ThreadBlock() { std::free(bytes); }
};

thread_local ThreadBlock t_block;

}  // namespace

void library_lock() { pthread_mutex_lock(&g_library_mutex); }

void library_unlock() { pthread_mutex_unlock(&g_library_mutex); }

void* thread_block(std::size_t size) {
    if (!t_block.bytes) t_block.bytes = std::calloc(1, size);
    return t_block.bytes;
}

}  // namespace hyl
