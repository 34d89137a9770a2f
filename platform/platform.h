// The library's one seam to the operating system.
//
// Every file call, message, beep, key query, pause, memory block and clock or
// zone reading the library makes goes through the table of operations below.
// There is one implementation for Win32 (the real calls the DLL makes) and one
// for POSIX (the native library and tool).  Tests install a table of their own
// that wraps the real one to fail the n-th call, hold a key down, or record what
// the user would see without waiting.  Nothing outside platform/ includes a
// system header for these things.
#pragma once

#include <cstdint>

namespace hyl {

// 16-bit-style open flags: bits 0-3 access, bits 4-6 sharing, bit 15 reopen.
enum OpenFlag : int32_t {
    kOfRead = 0x0000,
    kOfWrite = 0x0001,
    kOfReadWrite = 0x0002,
    kOfAccessMask = 0x000F,
    kOfShareCompat = 0x0000,
    kOfShareExclusive = 0x0010,
    kOfShareDenyWrite = 0x0020,
    kOfShareDenyRead = 0x0030,
    kOfShareDenyNone = 0x0040,
    kOfShareMask = 0x0070,
    kOfReopen = 0x8000,
};

// What the platform's last-error code says after a failed open.
constexpr int32_t kErrorFileNotFound = 2;
constexpr int32_t kErrorAccessDenied = 5;
constexpr int32_t kErrorSharingViolation = 32;

// Virtual keys the busy-file wait watches.
constexpr int kVkRButton = 0x02;
constexpr int kVkEscape = 0x1B;

// Global-memory allocation flags.
constexpr uint32_t kGmemFixed = 0x0000;
constexpr uint32_t kGmemMoveable = 0x0002;
constexpr uint32_t kGmemZeroInit = 0x0040;
constexpr uint32_t kGmemDdeShare = 0x2000;

using MemHandle = void*;

// The hexadecimal digits of a pointer in messages (%p).  The 64-bit DLL
// prints the whole pointer, as the 64-bit Windows run-time does; the 32-bit
// DLL prints its eight, and so does the native build, whose messages are
// the 32-bit DLL's byte for byte.
#if defined(_WIN64)
constexpr int kPointerDigits = 16;
#else
constexpr int kPointerDigits = 8;
#endif

// A calendar date and time of day with no zone attached.
struct CivilTime {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

struct PlatformOps {
    // --- Files.  Handles are the 32-bit handles of the 16-bit-style calls;
    // -1 means failure.  Reads and writes move at most 65535 bytes a call.
    int32_t (*file_open)(const char* path, int32_t open_flags);
    // Creates the file, or truncates an existing one, open for reading and writing.
    int32_t (*file_create)(const char* path);
    int32_t (*file_read)(int32_t handle, void* dst, uint32_t count);
    // Reads at an absolute position without a separate seek; -1 on failure.
    int32_t (*file_read_at)(int32_t handle, int64_t position, void* dst, uint32_t count);
    int32_t (*file_write)(int32_t handle, const void* src, uint32_t count);
    // Writes at an absolute position without a separate seek; -1 on failure.
    int32_t (*file_write_at)(int32_t handle, int64_t position, const void* src, uint32_t count);
    int32_t (*file_seek)(int32_t handle, int32_t offset, int origin);
    void (*file_close)(int32_t handle);
    // The length of an open file in bytes; -1 on failure.
    int64_t (*file_length)(int32_t handle);
    // Sets an open file's length (cutting it or extending it with zeros); 1 done, 0 not.
    int (*file_set_length)(int32_t handle, int64_t length);
    // Puts what was written to an open file on the disk before answering; 1 done, 0 not.
    int (*file_sync)(int32_t handle);
    // Removes a closed file; 1 done, 0 not.
    int (*file_remove)(const char* path);
    // The system's error code of the last failed file call (32: sharing violation).
    int32_t (*last_error)();
    // Sets a closed file's length through the run-time library; 1 done, 0 not.
    int (*set_file_size)(const char* path, int64_t size);
    // The run-time library's current error number, as messages quote it.
    int (*crt_errno)();
    // Gives a closed file a new name, replacing a file that has it; 1 done, 0 not.
    int (*file_rename)(const char* from, const char* to);
    // Puts the names in the folder that holds PATH (a new file, a rename, a
    // removal) on the disk before answering, where the system lets a folder
    // be flushed; 1 done, 0 not.
    int (*folder_sync)(const char* path);

    // --- What the user sees.  Texts are Windows-1251.
    void (*message_box)(const char* text, const char* caption);
    void (*screen_line)(const char* text, int x, int y);
    void (*beep)();
    bool (*key_down)(int virtual_key);
    void (*sleep_ms)(uint32_t milliseconds);

    // --- Global memory blocks.  A fixed block's handle locks to itself.
    MemHandle (*mem_alloc)(uint32_t flags, uint32_t size);
    void* (*mem_lock)(MemHandle block);
    void (*mem_unlock)(MemHandle block);
    void (*mem_free)(MemHandle block);

    // --- Clock and zone.
    // Seconds since 1970-01-01 00:00 UTC.
    int64_t (*now)();
    // The local wall-clock time of a UTC moment under the zone's rules for
    // that moment; *is_dst tells whether daylight saving was in force.
    bool (*utc_to_local)(int64_t utc, CivilTime* local, int* is_dst);
    // The UTC moment of a local wall-clock time.  dst_hint < 0 lets the
    // zone's rules decide for that date, 0 presumes standard time, > 0
    // daylight saving time.  The fields are already normalised.
    bool (*local_to_utc)(const CivilTime& local, int dst_hint, int64_t* utc);
};

// The operations in force.
extern PlatformOps g_platform_ops;
inline const PlatformOps& platform() { return g_platform_ops; }
// The real operations of this build.
const PlatformOps& native_platform();
// Replaces the operations in force (tests); returns the previous table.  Only
// while no other thread is inside the library: the table itself is not
// guarded, and the library's lock (threads.h) is not part of it.
PlatformOps install_platform(const PlatformOps& ops);

}  // namespace hyl
