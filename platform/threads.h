// The library's one lock and each thread's own storage: what lets a host
// call every export from any thread.
//
// The exports that work on the shared state (the current table, the table
// image, the last path, the drive override) hold the lock for the whole of
// their work, waits included: while one thread shows a message box, retries
// a busy file or pauses between plan loads, the others wait.  The lock is
// recursive.  A message box runs a modal loop on its own thread, the loop
// runs the host's window procedures, and those may call the library again
// as a single-threaded host always could; that must not deadlock.
//
// Text results live in per-thread storage, so one thread's results are
// never overwritten by another's calls.
//
// Neither is part of the replaceable table of operations (platform.h): a
// test that installs a table of its own keeps the real lock, so the library
// is never left unguarded, and installing a table while a thread is inside
// the library cannot pair one table's lock with another's release.
#pragma once

#include <cstddef>

namespace hyl {

void library_lock();
void library_unlock();

// Holds the library's lock for the life of the object.
class LibraryLock {
public:
    LibraryLock() { library_lock(); }
    ~LibraryLock() { library_unlock(); }
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;
};

// The calling thread's own block of SIZE zero bytes: made at the thread's
// first call, the same block at every later one.  Null when the memory
// cannot be had (the next call tries again).  Every caller asks for the same
// size.  A thread that never asks has no block; a thread's block is freed
// when the thread ends, and every block when the library is unloaded.
void* thread_block(std::size_t size);

}  // namespace hyl
