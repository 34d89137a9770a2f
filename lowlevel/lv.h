// Diagnostics and low-level primitives: the message routine, file access with
// busy retries and user abort, chunked reads and writes, movable memory
// blocks, and the byte-level blank fill and trailing trim.
//
// Every file the table engine and the plan image touch is opened, read,
// written and closed here, and every failure the user could act on is shown
// here at once; callers learn of failures only through results.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace hyl {

// LVMessage flags.
constexpr int32_t kMsgAlarm = 0x01;       // ten beeps, then a message box
constexpr int32_t kMsgScreenLine = 0x02;  // without kMsgAlarm: a line on the screen

constexpr int kMessageCapacity = 8124;    // the formatted text and its NUL
constexpr int kLastPathMax = 254;
constexpr int32_t kModeShareRead = 0x8040;   // read, share everything
constexpr int32_t kModeUpdate = 0x8022;      // read and write, deny others writing
constexpr int kOpenAttempts = 20;
constexpr uint32_t kMaxPiece = 65535;        // the 16-bit-style calls' largest move

// Formats with the run-time conventions (%s, %d, %ld, %x, %04x, %5d ...); %p
// prints upper-case hexadecimal digits, eight of them but in the 64-bit DLL,
// which prints all sixteen (kPointerDigits).  Carriage returns become 'r'.
void LVMessage(int32_t flags, const char* format, ...);
// Ten default beeps in a row.
void LVAlarm();

int32_t lvv_open(const char* path, int32_t mode, int attempts);
int32_t lvv_seek(int32_t handle, int32_t offset, int origin);
int32_t lvv_read(int32_t handle, void* dst, int32_t length);
// A read at an absolute position, with lvv_read's messages and results.
int32_t lvv_read_at(int32_t handle, int64_t position, void* dst, int32_t length);
int32_t lvv_write(int32_t handle, const void* src, int32_t length);
// A write at an absolute position, with lvv_write's results.
int32_t lvv_write_at(int32_t handle, int64_t position, const void* src, int32_t length);
int32_t lvv_close(int32_t handle);

MemHandle LVAlloc(MemHandle old_block, int32_t size);
MemHandle LVFree(MemHandle block);
void* LVLock(MemHandle block);
int32_t LVUnlock(MemHandle block);

int32_t LVNulToBlank(void* buffer, int32_t length);
int32_t LVTrimRight(char* text, int32_t length);

// The path given to the most recent lvv_open, at most 254 characters.
const char* lv_last_path();
void lv_reset_last_path();

}  // namespace hyl
