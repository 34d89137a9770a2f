// Load and unload of the native shared library: run when the library is
// loaded into a process and when it is unloaded or the process exits.
#include "frame/frame.h"

__attribute__((constructor)) static void hyl_library_loaded() { hyl::frame_load(); }
__attribute__((destructor)) static void hyl_library_unloaded() { hyl::frame_unload(); }
