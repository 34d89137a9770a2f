// POSIX implementation of the platform operations, for the native library
// and tool.
//
// Files: the 16-bit-style share modes are emulated between processes (and
// between opens within one process) with open-file-description locks on
// marker bytes far beyond any table's data.  An open takes a shared lock on
// the marker of each access it asks for and of each access it denies, then
// looks for a conflicting marker held by another open; if it finds one it
// gives up with a sharing violation.  Two opens racing each other may both
// give up, never both succeed, and the caller's retries settle it.
//
// Paths that begin with a drive letter and a colon ("X:\QUV\...") are looked
// up in the folder named by HYL_DRIVE_<LETTER>, backslashes becoming slashes,
// so a plan kept at a Windows path is found as a Windows host would find it.
//
// User interface: message boxes, screen lines and the alarm go to standard
// error in UTF-8 (or to HYL_MESSAGE_LOG); no key is ever held down.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/codepage.h"
#include "platform/message_log.h"
#include "platform/platform.h"

namespace hyl {
namespace {

// Each thread's own, as Windows keeps the last error: a thread that failed
// to open a table must learn why (a sharing violation, to be retried) even
// when another thread's open succeeded meanwhile.
thread_local int32_t g_last_error = 0;

// Marker bytes of the share-mode emulation.
constexpr off_t kMarkerBase = 0x7FFFFFFF00000000LL;
enum Marker { kHasRead = 0, kHasWrite = 1, kDeniesRead = 2, kDeniesWrite = 3 };

std::string host_path(const char* path) {
    std::string p = path ? path : "";
    if (p.size() >= 2 && p[1] == ':' &&
        ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) {
        char letter = static_cast<char>(p[0] & ~0x20);
        std::string var = "HYL_DRIVE_";
        var += letter;
        const char* root = std::getenv(var.c_str());
        if (root && *root) {
            std::string rest = p.substr(2);
            for (char& c : rest)
                if (c == '\\') c = '/';
            std::string r = root;
            if (!rest.empty() && rest[0] != '/' && (r.empty() || r.back() != '/')) r += '/';
            if (!rest.empty() && rest[0] == '/' && !r.empty() && r.back() == '/') r.pop_back();
            return r + rest;
        }
    }
    return p;
}

int32_t error_from_errno(int e) {
    switch (e) {
        case ENOENT:
        case ENOTDIR: return kErrorFileNotFound;
        case EACCES:
        case EPERM:
        case EISDIR: return kErrorAccessDenied;
        default: return 31;  // a general failure
    }
}

bool lock_marker(int fd, Marker m) {
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kMarkerBase + m;
    fl.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// True when another open holds the marker.
bool marker_held_elsewhere(int fd, Marker m) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kMarkerBase + m;
    fl.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

// Takes the markers of an open and checks them against the other opens.
bool claim_share(int fd, bool reads, bool writes, bool deny_read, bool deny_write) {
    if ((reads && !lock_marker(fd, kHasRead)) || (writes && !lock_marker(fd, kHasWrite)) ||
        (deny_read && !lock_marker(fd, kDeniesRead)) ||
        (deny_write && !lock_marker(fd, kDeniesWrite)))
        return false;
    if (reads && marker_held_elsewhere(fd, kDeniesRead)) return false;
    if (writes && marker_held_elsewhere(fd, kDeniesWrite)) return false;
    if (deny_read && marker_held_elsewhere(fd, kHasRead)) return false;
    if (deny_write && marker_held_elsewhere(fd, kHasWrite)) return false;
    return true;
}

int32_t open_shared(const char* path, int32_t flags, bool create) {
    const int access = flags & kOfAccessMask;
    const int share = flags & kOfShareMask;
    const bool writes = access == kOfWrite || access == kOfReadWrite || create;
    const bool reads = access != kOfWrite || create;
    const bool deny_read = share == kOfShareExclusive || share == kOfShareDenyRead;
    const bool deny_write = share == kOfShareExclusive || share == kOfShareDenyWrite;

    std::string p = host_path(path);
    // Write-only opens are made read-write: the share markers are read locks.
    int oflags = (writes ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if (create) oflags |= O_CREAT;
    int fd;
    do {
        fd = ::open(p.c_str(), oflags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        g_last_error = error_from_errno(errno);
        return -1;
    }
    // Handle 0 means no file to the library, and a table on descriptor 1 or
    // 2 would take whatever goes to standard output or error: a process
    // started with those closed gets its tables above them.
    if (fd <= 2) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        const int e = errno;
        ::close(fd);
        if (moved < 0) {
            errno = e;
            g_last_error = error_from_errno(e);
            return -1;
        }
        fd = moved;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        g_last_error = kErrorAccessDenied;
        return -1;
    }
    if (!claim_share(fd, reads, writes, deny_read, deny_write)) {
        ::close(fd);
        errno = EACCES;
        g_last_error = kErrorSharingViolation;
        return -1;
    }
    // Truncate only once the share check has let us in: a table that another
    // process holds must not lose its contents to a refused create.
    if (create && ftruncate(fd, 0) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        g_last_error = error_from_errno(e);
        return -1;
    }
    g_last_error = 0;
    return fd;
}

int32_t posix_open(const char* path, int32_t flags) { return open_shared(path, flags, false); }

int32_t posix_create(const char* path) {
    return open_shared(path, kOfReadWrite | kOfShareDenyNone, true);
}

int32_t posix_read(int32_t h, void* dst, uint32_t count) {
    ssize_t n;
    do {
        n = ::read(h, dst, count);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int32_t>(n);
}

int32_t posix_read_at(int32_t h, int64_t position, void* dst, uint32_t count) {
    if (position < 0) {
        errno = EINVAL;
        return -1;
    }
    ssize_t n;
    do {
        n = ::pread(h, dst, count, static_cast<off_t>(position));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int32_t>(n);
}

int32_t posix_write(int32_t h, const void* src, uint32_t count) {
    const char* p = static_cast<const char*>(src);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::write(h, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done ? static_cast<int32_t>(done) : -1;
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(done);
}

int32_t posix_write_at(int32_t h, int64_t position, const void* src, uint32_t count) {
    if (position < 0) {
        errno = EINVAL;
        return -1;
    }
    const char* p = static_cast<const char*>(src);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(h, p + done, count - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done ? static_cast<int32_t>(done) : -1;
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(done);
}

int32_t posix_seek(int32_t h, int32_t offset, int origin) {
    int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    off_t r = ::lseek(h, offset, whence);
    if (r < 0 || r > 0x7FFFFFFF) return -1;
    return static_cast<int32_t>(r);
}

void posix_close(int32_t h) { ::close(h); }

int64_t posix_length(int32_t h) {
    struct stat st {};
    return fstat(h, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

int posix_set_length(int32_t h, int64_t length) {
    return length >= 0 && ::ftruncate(h, static_cast<off_t>(length)) == 0;
}

// The data and what reading it back needs (its length); a file's times are
// not worth a wait.
int posix_sync(int32_t h) { return ::fdatasync(h) == 0; }

int posix_remove(const char* path) { return ::unlink(host_path(path).c_str()) == 0; }

int32_t posix_last_error() { return g_last_error; }

int posix_set_file_size(const char* path, int64_t size) {
    int32_t fd = open_shared(path, kOfReadWrite | kOfShareDenyNone, false);
    if (fd < 0) return 0;
    int ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    ::close(fd);
    return ok;
}

int posix_crt_errno() { return errno; }

int posix_rename(const char* from, const char* to) {
    return ::rename(host_path(from).c_str(), host_path(to).c_str()) == 0;
}

int posix_folder_sync(const char* path) {
    std::string folder = host_path(path);
    const std::size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    const int ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void to_stderr(const char* tag, const char* text) {
    std::string line = "hyl: ";
    line += tag;
    if (text) {
        line += ": ";
        line += ansi_to_utf8(text);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void posix_message_box(const char* text, const char* caption) {
    if (message_log_append("box", text)) return;
    (void)caption;
    to_stderr("message", text);
}

void posix_screen_line(const char* text, int, int) {
    if (message_log_append("line", text)) return;
    to_stderr("busy", text);
}

void posix_beep() {
    if (message_log_append("beep", nullptr)) return;
    std::fputc('\a', stderr);
    std::fflush(stderr);
}

bool posix_key_down(int) { return false; }

void posix_sleep_ms(uint32_t ms) {
    struct timespec ts {};
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// A memory block is a small header followed by its bytes, so that a handle
// is distinct from the pointer its lock gives, as with movable global memory.
struct Block {
    uint32_t size;
    uint32_t locks;
};

MemHandle posix_mem_alloc(uint32_t flags, uint32_t size) {
    (void)flags;  // zero-filled whatever the flags: nothing relies on garbage
    void* raw = std::calloc(1, sizeof(Block) + size + 1);
    if (!raw) return nullptr;
    static_cast<Block*>(raw)->size = size;
    return raw;
}

void* posix_mem_lock(MemHandle h) {
    if (!h) return nullptr;
    auto* b = static_cast<Block*>(h);
    ++b->locks;
    return b + 1;
}

void posix_mem_unlock(MemHandle h) {
    if (h && static_cast<Block*>(h)->locks) --static_cast<Block*>(h)->locks;
}

void posix_mem_free(MemHandle h) { std::free(h); }

int64_t posix_now() { return static_cast<int64_t>(std::time(nullptr)); }

bool posix_utc_to_local(int64_t utc, CivilTime* out, int* is_dst) {
    time_t t = static_cast<time_t>(utc);
    struct tm tm {};
    if (!localtime_r(&t, &tm)) return false;
    out->year = tm.tm_year + 1900;
    out->month = tm.tm_mon + 1;
    out->day = tm.tm_mday;
    out->hour = tm.tm_hour;
    out->minute = tm.tm_min;
    out->second = tm.tm_sec;
    if (is_dst) *is_dst = tm.tm_isdst > 0;
    return true;
}

struct tm tm_of(const CivilTime& local) {
    struct tm tm {};
    tm.tm_year = local.year - 1900;
    tm.tm_mon = local.month - 1;
    tm.tm_mday = local.day;
    tm.tm_hour = local.hour;
    tm.tm_min = local.minute;
    tm.tm_sec = local.second;
    return tm;
}

// Whether fields that mktime has normalised (to the local time of the
// moment it gave) still show this local wall-clock time.
bool shows_wall_time(const struct tm& tm, const CivilTime& local) {
    return tm.tm_year == local.year - 1900 && tm.tm_mon == local.month - 1 && tm.tm_mday == local.day &&
           tm.tm_hour == local.hour && tm.tm_min == local.minute && tm.tm_sec == local.second;
}

bool posix_local_to_utc(const CivilTime& local, int dst_hint, int64_t* utc) {
    struct tm tm = tm_of(local);
    tm.tm_isdst = dst_hint < 0 ? -1 : dst_hint > 0 ? 1 : 0;
    errno = 0;
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1) && errno != 0) return false;
    if (dst_hint < 0 && !shows_wall_time(tm, local)) {
        // No moment shows this time: the clock skipped it (03:30 when the
        // clock goes from 03:00 to 04:00).  It is read with the offset in
        // force before the jump, as the clock had not yet moved, so it
        // comes back as 04:30; the DLL reads it so too.  A day before the
        // wall-clock time read as UTC lies before the jump in every zone.
        struct tm wall_tm = tm_of(local);
        const time_t wall = timegm(&wall_tm);
        const time_t day_before = wall - 86400;
        struct tm before {};
        if (!localtime_r(&day_before, &before)) return false;
        t = wall - before.tm_gmtoff;
    }
    *utc = static_cast<int64_t>(t);
    return true;
}

constexpr PlatformOps kPosixOps = {
    .file_open = posix_open,
    .file_create = posix_create,
    .file_read = posix_read,
    .file_read_at = posix_read_at,
    .file_write = posix_write,
    .file_write_at = posix_write_at,
    .file_seek = posix_seek,
    .file_close = posix_close,
    .file_length = posix_length,
    .file_set_length = posix_set_length,
    .file_sync = posix_sync,
    .file_remove = posix_remove,
    .last_error = posix_last_error,
    .set_file_size = posix_set_file_size,
    .crt_errno = posix_crt_errno,
    .file_rename = posix_rename,
    .folder_sync = posix_folder_sync,
    .message_box = posix_message_box,
    .screen_line = posix_screen_line,
    .beep = posix_beep,
    .key_down = posix_key_down,
    .sleep_ms = posix_sleep_ms,
    .mem_alloc = posix_mem_alloc,
    .mem_lock = posix_mem_lock,
    .mem_unlock = posix_mem_unlock,
    .mem_free = posix_mem_free,
    .now = posix_now,
    .utc_to_local = posix_utc_to_local,
    .local_to_utc = posix_local_to_utc,
};

}  // namespace

constinit PlatformOps g_platform_ops = kPosixOps;

const PlatformOps& native_platform() { return kPosixOps; }

}  // namespace hyl
