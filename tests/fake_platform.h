// A platform for tests: the real POSIX files underneath, with every
// operation replaceable, what the user would see recorded instead of shown,
// pauses counted instead of waited, and an optional fixed clock.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace hyltest {

struct UiEvent {
    enum Kind { kBox, kLine, kBeep, kSleep } kind;
    std::string text;  // Windows-1251, as the library passed it
    uint32_t ms = 0;
};

// Which operation a fault-injection count covers (kWrite: positioned writes too;
// kSetSize: setting a length by path or through a handle).
// kShare: from the n-th open on, the file is held by another process for
// all the attempts of that open (sharing violations).
enum class Op { kOpen, kCreate, kRead, kReadAt, kWrite, kSeek, kAlloc, kSetSize, kShare, kSync };

class FakePlatform {
public:
    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    // Replacements; when unset the real POSIX operation runs.
    std::function<int32_t(const char* path, int32_t flags)> open;
    std::function<int32_t(int32_t h, void* dst, uint32_t n)> read;
    std::function<int32_t(int32_t h, int64_t pos, void* dst, uint32_t n)> read_at;
    std::function<int32_t(int32_t h, const void* src, uint32_t n)> write;
    std::function<bool(int vk)> key_down;
    // Runs inside each message box, after it is recorded: what a host's window
    // procedures do while the box's modal loop runs on the calling thread.
    std::function<void(const char* text)> on_box;
    std::optional<int64_t> now;
    // Sharing violations for the next n opens.
    int busy_opens = 0;

    // Fail the n-th counted operation (1-based) of the given kinds; 0: never.
    void fail_nth(int n, std::vector<Op> kinds, bool short_write = false);
    int counted_ops() const { return counted_; }
    bool fault_fired() const { return fired_; }

    std::vector<UiEvent> events;
    std::vector<std::string> boxes() const;
    std::vector<std::string> lines() const;
    int beeps() const;
    uint32_t slept_ms() const;
    int opens = 0;  // calls of the open operation
    std::vector<uint32_t> read_sizes;  // sizes asked of file_read / file_read_at

    // Internal: the trampolines reach the installed instance through this.
    static FakePlatform* current;
    bool should_fail(Op op);
    bool short_write_ = false;

private:
    hyl::PlatformOps previous_;
    int fail_at_ = 0;
    int counted_ = 0;
    bool fired_ = false;
    std::vector<Op> fail_kinds_;
};

// Sets TZ for the life of the object (natively the zone is the process's TZ).
class ScopedTz {
public:
    explicit ScopedTz(const char* tz);
    ~ScopedTz();

private:
    std::optional<std::string> previous_;
};

// A fresh temporary folder, removed with its contents at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
// A text in Windows-1251 from UTF-8, for comparing messages byte for byte.
std::string ansi(const std::string& utf8);

}  // namespace hyltest
