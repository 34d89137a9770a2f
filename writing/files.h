// Files as the writers use them: whole writes and reads at a position, in
// the pieces the platform's calls take.
#pragma once

#include <cstdint>

namespace hyl {

// LENGTH bytes at POSITION of the file open as HANDLE, all of them, or false.
bool File_WriteAll(int32_t handle, int64_t position, const void* bytes, int64_t length);
bool File_ReadAll(int32_t handle, int64_t position, void* bytes, int64_t length);

}  // namespace hyl
