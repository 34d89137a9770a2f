// Process-global state of the library: what loading sets up and unloading
// tears down, in that order and its reverse.
#pragma once

namespace hyl {

// The current table's defaults, then the cleared table image.
void frame_load();
// The table image is released first, then the current table is closed
// (its header written back if records were appended).
void frame_unload();

}  // namespace hyl
