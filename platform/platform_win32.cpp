// Win32 implementation of the platform operations: the real calls of the DLL.
//
// Files go through the 16-bit-style calls (_lopen, _lcreat, _lread, _lwrite,
// _llseek, _lclose) so the open modes and share flags are exactly those the
// host's other programs see; a positioned read uses ReadFile with an offset on
// the same handle.  A file's length is set through the run-time library's
// _open/_chsize/_close.  Time zones are the system's Windows zone rules,
// never the C run-time's localtime/mktime, whose 32-bit count and reading of
// a TZ variable differ from the system's.
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>

#include "platform/message_log.h"
#include "platform/platform.h"

namespace hyl {
namespace {

int32_t win_open(const char* path, int32_t flags) {
    HFILE h = _lopen(path, flags);
    return h == HFILE_ERROR ? -1 : static_cast<int32_t>(h);
}

int32_t win_create(const char* path) {
    HFILE h = _lcreat(path, 0);
    return h == HFILE_ERROR ? -1 : static_cast<int32_t>(h);
}

int32_t win_read(int32_t h, void* dst, uint32_t count) {
    UINT n = _lread(static_cast<HFILE>(h), dst, count);
    return n == static_cast<UINT>(HFILE_ERROR) ? -1 : static_cast<int32_t>(n);
}

// The handles of the 16-bit-style calls are the system's file handles.
HANDLE file_of(int32_t h) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(h)); }

int32_t win_read_at(int32_t h, int64_t position, void* dst, uint32_t count) {
    if (position < 0) return -1;
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(position & 0xFFFFFFFF);
    ov.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD got = 0;
    if (!ReadFile(file_of(h), dst, count, &got, &ov)) {
        if (GetLastError() == ERROR_HANDLE_EOF) return 0;
        return -1;
    }
    return static_cast<int32_t>(got);
}

int32_t win_write(int32_t h, const void* src, uint32_t count) {
    UINT n = _lwrite(static_cast<HFILE>(h), static_cast<LPCCH>(src), count);
    return n == static_cast<UINT>(HFILE_ERROR) ? -1 : static_cast<int32_t>(n);
}

int32_t win_write_at(int32_t h, int64_t position, const void* src, uint32_t count) {
    if (position < 0) return -1;
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(position & 0xFFFFFFFF);
    ov.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD put = 0;
    if (!WriteFile(file_of(h), src, count, &put, &ov)) return -1;
    return static_cast<int32_t>(put);
}

int32_t win_seek(int32_t h, int32_t offset, int origin) {
    return _llseek(static_cast<HFILE>(h), offset, origin);
}

void win_close(int32_t h) { _lclose(static_cast<HFILE>(h)); }

int64_t win_length(int32_t h) {
    LARGE_INTEGER size;
    return GetFileSizeEx(file_of(h), &size) ? static_cast<int64_t>(size.QuadPart) : -1;
}

int win_set_length(int32_t h, int64_t length) {
    if (length < 0) return 0;
    // Through the handle's own position, which is put back afterwards.
    LARGE_INTEGER here{}, zero{}, to{};
    to.QuadPart = length;
    if (!SetFilePointerEx(file_of(h), zero, &here, FILE_CURRENT)) return 0;
    const bool ok = SetFilePointerEx(file_of(h), to, nullptr, FILE_BEGIN) && SetEndOfFile(file_of(h));
    SetFilePointerEx(file_of(h), here, nullptr, FILE_BEGIN);
    return ok;
}

int win_sync(int32_t h) { return FlushFileBuffers(file_of(h)) != 0; }

int win_remove(const char* path) { return DeleteFileA(path) != 0; }

int32_t win_last_error() { return static_cast<int32_t>(GetLastError()); }

int win_set_file_size(const char* path, int64_t size) {
    if (size < 0 || size > 0x7FFFFFFF) return 0;
    int fd = _open(path, _O_BINARY | _O_RDWR);
    if (fd < 0) return 0;
    int ok = _chsize(fd, static_cast<long>(size)) == 0;
    _close(fd);
    return ok;
}

int win_crt_errno() { return errno; }

// A rename written through to the disk before it answers: Windows has no
// flush of a folder, and this is what stands for one.
int win_rename(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int win_folder_sync(const char*) { return 1; }

void win_message_box(const char* text, const char* caption) {
    if (message_log_append("box", text)) return;
    MessageBoxA(nullptr, text, caption, 0);
}

void win_screen_line(const char* text, int x, int y) {
    if (message_log_append("line", text)) return;
    HDC dc = GetDC(nullptr);
    if (!dc) return;
    SetBkColor(dc, RGB(255, 255, 255));
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text)));
    ReleaseDC(nullptr, dc);
}

void win_beep() {
    if (message_log_append("beep", nullptr)) return;
    MessageBeep(0);
}

bool win_key_down(int vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; }

void win_sleep_ms(uint32_t ms) { Sleep(ms); }

MemHandle win_mem_alloc(uint32_t flags, uint32_t size) { return GlobalAlloc(flags, size); }
void* win_mem_lock(MemHandle h) { return GlobalLock(h); }
void win_mem_unlock(MemHandle h) { GlobalUnlock(h); }
void win_mem_free(MemHandle h) { GlobalFree(h); }

constexpr int64_t kUnixEpochInFileTime = 116444736000000000LL;

int64_t win_now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return (static_cast<int64_t>(u.QuadPart) - kUnixEpochInFileTime) / 10000000LL;
}

bool to_system_time(int64_t unix_seconds, SYSTEMTIME* st) {
    int64_t ticks = unix_seconds * 10000000LL + kUnixEpochInFileTime;
    if (ticks < 0) return false;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    return FileTimeToSystemTime(&ft, st) != 0;
}

bool from_system_time(const SYSTEMTIME& st, int64_t* unix_seconds) {
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft)) return false;
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    *unix_seconds = (static_cast<int64_t>(u.QuadPart) - kUnixEpochInFileTime) / 10000000LL;
    return true;
}

bool win_utc_to_local(int64_t utc, CivilTime* out, int* is_dst) {
    SYSTEMTIME u{}, l{};
    if (!to_system_time(utc, &u)) return false;
    TIME_ZONE_INFORMATION tzi{};
    GetTimeZoneInformation(&tzi);
    if (!SystemTimeToTzSpecificLocalTime(&tzi, &u, &l)) return false;
    out->year = l.wYear;
    out->month = l.wMonth;
    out->day = l.wDay;
    out->hour = l.wHour;
    out->minute = l.wMinute;
    out->second = l.wSecond;
    if (is_dst) {
        int64_t local_seconds = 0;
        from_system_time(l, &local_seconds);
        int64_t offset_minutes = (local_seconds - utc) / 60;
        *is_dst = tzi.DaylightDate.wMonth != 0 && tzi.DaylightBias != tzi.StandardBias &&
                  offset_minutes == -(tzi.Bias + tzi.DaylightBias);
    }
    return true;
}

SYSTEMTIME system_time_of(const CivilTime& c) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(c.year);
    st.wMonth = static_cast<WORD>(c.month);
    st.wDay = static_cast<WORD>(c.day);
    st.wHour = static_cast<WORD>(c.hour);
    st.wMinute = static_cast<WORD>(c.minute);
    st.wSecond = static_cast<WORD>(c.second);
    return st;
}

// Whether the moment breaks down to exactly this local wall-clock time.
bool shows_wall_time(int64_t utc, const CivilTime& local) {
    CivilTime back;
    return win_utc_to_local(utc, &back, nullptr) && back.year == local.year && back.month == local.month &&
           back.day == local.day && back.hour == local.hour && back.minute == local.minute &&
           back.second == local.second;
}

bool win_local_to_utc(const CivilTime& local, int dst_hint, int64_t* utc) {
    if (local.year < 1601 || local.year > 30827) return false;
    const SYSTEMTIME l = system_time_of(local);
    int64_t wall = 0;
    if (!from_system_time(l, &wall)) return false;
    TIME_ZONE_INFORMATION tzi{};
    GetTimeZoneInformation(&tzi);
    if (dst_hint < 0) {
        SYSTEMTIME u{};
        if (TzSpecificLocalTimeToSystemTime(&tzi, &l, &u) && from_system_time(u, utc) &&
            shows_wall_time(*utc, local))
            return true;
        // No moment shows this time: the clock skipped it (03:30 when the
        // clock goes from 03:00 to 04:00).  It is read with the offset in
        // force before the jump, as the clock had not yet moved, so it comes
        // back as 04:30, as in the native build; what the system call makes
        // of such a time is not relied on.  A day before the wall-clock time
        // read as UTC lies before the jump in every zone.
        CivilTime before;
        int64_t before_wall = 0;
        if (!win_utc_to_local(wall - 86400, &before, nullptr) ||
            !from_system_time(system_time_of(before), &before_wall))
            return false;
        *utc = wall - (before_wall - (wall - 86400));
        return true;
    }
    LONG bias = tzi.Bias + (dst_hint > 0 ? tzi.DaylightBias : tzi.StandardBias);
    *utc = wall + static_cast<int64_t>(bias) * 60;
    return true;
}

constexpr PlatformOps kWin32Ops = {
    .file_open = win_open,
    .file_create = win_create,
    .file_read = win_read,
    .file_read_at = win_read_at,
    .file_write = win_write,
    .file_write_at = win_write_at,
    .file_seek = win_seek,
    .file_close = win_close,
    .file_length = win_length,
    .file_set_length = win_set_length,
    .file_sync = win_sync,
    .file_remove = win_remove,
    .last_error = win_last_error,
    .set_file_size = win_set_file_size,
    .crt_errno = win_crt_errno,
    .file_rename = win_rename,
    .folder_sync = win_folder_sync,
    .message_box = win_message_box,
    .screen_line = win_screen_line,
    .beep = win_beep,
    .key_down = win_key_down,
    .sleep_ms = win_sleep_ms,
    .mem_alloc = win_mem_alloc,
    .mem_lock = win_mem_lock,
    .mem_unlock = win_mem_unlock,
    .mem_free = win_mem_free,
    .now = win_now,
    .utc_to_local = win_utc_to_local,
    .local_to_utc = win_local_to_utc,
};

}  // namespace

constinit PlatformOps g_platform_ops = kWin32Ops;

const PlatformOps& native_platform() { return kWin32Ops; }

}  // namespace hyl
