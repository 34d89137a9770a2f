// What the DLL's entry point tells the per-thread storage: a thread that
// detaches takes its block with it, and an unload takes every block, those
// of threads still running included (the DLL's code goes with the unload,
// and nothing would free them later).
#pragma once

namespace hyl {

// The calling thread is ending: its block, if it has one, is freed.
void thread_detached();
// The library is being unloaded (not the process ending): every thread's
// block is freed.
void thread_blocks_release_all();

}  // namespace hyl
