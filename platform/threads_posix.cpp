// The library's lock and per-thread storage for the native library: a
// recursive pthread mutex, ready before any constructor runs, and a
// thread_local block that the thread's end frees.  A library opened with
// dlopen stays loaded until the threads that registered a release are gone,
// so no release outlives its code.
#include <pthread.h>

#include <cstdlib>

#include "platform/threads.h"

namespace hyl {
namespace {

pthread_mutex_t g_library_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

// Plain, so that a call on a thread that has its block costs one look.
constinit thread_local void* t_block = nullptr;

// Made on the thread's first allocation; its end frees the block.
struct BlockRelease {
    ~BlockRelease() {
        std::free(t_block);
        t_block = nullptr;
    }
};

void* make_block(std::size_t size) {
    thread_local BlockRelease release;
    t_block = std::calloc(1, size);
    return t_block;
}

}  // namespace

void library_lock() { pthread_mutex_lock(&g_library_mutex); }

void library_unlock() { pthread_mutex_unlock(&g_library_mutex); }

void* thread_block(std::size_t size) {
    if (void* block = t_block) return block;
    return make_block(size);
}

}  // namespace hyl
