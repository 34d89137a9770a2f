// Whole writes and reads, a piece at a time.
#include "writing/files.h"

#include <algorithm>

#include "lowlevel/lv.h"
#include "platform/platform.h"

namespace hyl {

bool File_WriteAll(int32_t handle, int64_t position, const void* bytes, int64_t length) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
        const auto piece = static_cast<int32_t>(std::min<int64_t>(length, kMaxPiece));
        if (lvv_write_at(handle, position, p, piece) != piece) return false;
        position += piece, p += piece, length -= piece;
    }
    return true;
}

bool File_ReadAll(int32_t handle, int64_t position, void* bytes, int64_t length) {
    auto* p = static_cast<uint8_t*>(bytes);
    while (length > 0) {
        const auto piece = static_cast<uint32_t>(std::min<int64_t>(length, kMaxPiece));
        const int32_t got = platform().file_read_at(handle, position, p, piece);
        if (got <= 0) return false;
        position += got, p += got, length -= got;
    }
    return true;
}

}  // namespace hyl
