#include <cstring>

#include "lowlevel/lv.h"
#include "platform/codepage.h"

namespace hyl {
namespace {

char g_last_path[kLastPathMax + 1] = {};

constexpr auto kBusy = cp1251(u8"%s занят ofl=%04x %d %d %d");
constexpr auto kBadRead = cp1251(u8"Некорректный вызов lvv_read <%s>");
constexpr auto kUnreadable = cp1251(u8"Не читается %ld %d <%s>");

void remember_path(const char* path) {
    std::memset(g_last_path, 0, sizeof g_last_path);
    if (path) std::strncpy(g_last_path, path, kLastPathMax);
}

// Ten looks at Escape and the right mouse button, 10 ms apart.
bool user_aborts() {
    for (int look = 0; look < 10; ++look) {
        if (platform().key_down(kVkEscape) || platform().key_down(kVkRButton)) return true;
        platform().sleep_ms(10);
    }
    return false;
}

}  // namespace

const char* lv_last_path() { return g_last_path; }
void lv_reset_last_path() { std::memset(g_last_path, 0, sizeof g_last_path); }

int32_t lvv_open(const char* path, int32_t mode, int attempts) {
    int32_t result = -1;
    for (int i = 0; i < attempts; ++i) {
        result = platform().file_open(path, mode);
        if (result != -1) break;
        int32_t error = platform().last_error();
        if (error != kErrorSharingViolation) break;
        // After repeated refusals ask for no more than the other holder allows:
        // keep the access, share everything.
        if (i > 5) mode = (mode & kOfAccessMask) | kModeShareRead;
        LVMessage(kMsgScreenLine, kBusy, path ? path : "", static_cast<unsigned>(mode), i, result,
                  static_cast<int>(error));
        LVAlarm();
        if (user_aborts()) break;
    }
    remember_path(path);
    return result;
}

int32_t lvv_seek(int32_t handle, int32_t offset, int origin) {
    return platform().file_seek(handle, offset, origin);
}

namespace {

// Reads LENGTH bytes in pieces of at most 65535, each through READ_PIECE
// (destination, piece size, bytes already read); a failed piece is shown
// with the last path and ends the read with 0.
template <typename ReadPiece>
int32_t read_in_pieces(int32_t handle, void* dst, int32_t length, ReadPiece read_piece) {
    if (handle <= 0) {
        LVMessage(kMsgAlarm | 0x10, kBadRead, g_last_path);
        return 0;
    }
    if (length <= 0) return length;
    auto* out = static_cast<char*>(dst);
    int32_t done = 0;
    while (done < length) {
        const int32_t remaining = length - done;
        const uint32_t piece = remaining > static_cast<int32_t>(kMaxPiece) ? kMaxPiece
                                                                           : static_cast<uint32_t>(remaining);
        if (read_piece(out + done, piece, done) == -1) {
            LVMessage(kMsgAlarm | 0x10, kUnreadable, static_cast<long>(piece), -1, g_last_path);
            return 0;
        }
        done += static_cast<int32_t>(piece);
    }
    return length;
}

}  // namespace

int32_t lvv_read(int32_t handle, void* dst, int32_t length) {
    return read_in_pieces(handle, dst, length, [handle](char* to, uint32_t piece, int32_t) {
        return platform().file_read(handle, to, piece);
    });
}

int32_t lvv_read_at(int32_t handle, int64_t position, void* dst, int32_t length) {
    return read_in_pieces(handle, dst, length, [handle, position](char* to, uint32_t piece, int32_t done) {
        return platform().file_read_at(handle, position + done, to, piece);
    });
}

namespace {

// Writes LENGTH bytes in pieces of at most 65535, each through WRITE_PIECE
// (source, piece size, bytes already written); a piece that moves fewer
// bytes than its size ends the write with 0 and no message: callers report.
template <typename WritePiece>
int32_t write_in_pieces(const void* src, int32_t length, WritePiece write_piece) {
    if (length <= 0) return length;
    const auto* in = static_cast<const char*>(src);
    int32_t done = 0;
    while (done < length) {
        const int32_t remaining = length - done;
        const uint32_t piece = remaining > static_cast<int32_t>(kMaxPiece) ? kMaxPiece
                                                                           : static_cast<uint32_t>(remaining);
        if (write_piece(in + done, piece, done) != static_cast<int32_t>(piece)) return 0;
        done += static_cast<int32_t>(piece);
    }
    return length;
}

}  // namespace

int32_t lvv_write(int32_t handle, const void* src, int32_t length) {
    return write_in_pieces(src, length, [handle](const char* from, uint32_t piece, int32_t) {
        return platform().file_write(handle, from, piece);
    });
}

int32_t lvv_write_at(int32_t handle, int64_t position, const void* src, int32_t length) {
    return write_in_pieces(src, length, [handle, position](const char* from, uint32_t piece, int32_t done) {
        return platform().file_write_at(handle, position + done, from, piece);
    });
}

int32_t lvv_close(int32_t handle) {
    if (handle != 0 && handle != -1) platform().file_close(handle);
    return 0;
}

}  // namespace hyl
