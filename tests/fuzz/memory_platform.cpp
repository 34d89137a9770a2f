// The in-memory platform of the fuzz targets; see memory_platform.h.
//
// Share modes follow the POSIX platform: an open reads unless it is
// write-only, writes when it asks to write, and denies reading or writing
// by its sharing bits (compatibility sharing denies nothing); a create and a
// size change by path read and write and deny nothing.  Two openers conflict
// when either denies what the other does.
#include "tests/fuzz/memory_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <time.h>

#include "frame/frame.h"

namespace hylfuzz {
namespace {

using hyl::PlatformOps;

constexpr int32_t kFirstHandle = 3;
constexpr int64_t kMaxFileBytes = int64_t{64} << 20;
constexpr int64_t kClock = 1279195200;  // 2010-07-15 12:00 UTC
constexpr char kZone[] = "MSK-3MSD,M3.5.0/2,M10.5.0/3";

using Bytes = std::vector<uint8_t>;

struct Access {
    bool reads = false, writes = false, denies_read = false, denies_write = false;
};

Access access_of(int32_t flags) {
    const int32_t access = flags & hyl::kOfAccessMask;
    const int32_t share = flags & hyl::kOfShareMask;
    Access a;
    a.writes = access == hyl::kOfWrite || access == hyl::kOfReadWrite;
    a.reads = access != hyl::kOfWrite;
    a.denies_read = share == hyl::kOfShareExclusive || share == hyl::kOfShareDenyRead;
    a.denies_write = share == hyl::kOfShareExclusive || share == hyl::kOfShareDenyWrite;
    return a;
}

constexpr Access kReadWriteShareAll{true, true, false, false};

bool conflict(const Access& a, const Access& b) {
    return (a.reads && b.denies_read) || (a.writes && b.denies_write) || (a.denies_read && b.reads) ||
           (a.denies_write && b.writes);
}

struct Opener {
    std::shared_ptr<Bytes> file;  // null: a free handle
    Access access;
    int64_t position = 0;
};

struct NamedFile {
    std::string path;
    std::shared_ptr<Bytes> bytes;
};

struct State {
    std::vector<NamedFile> files;  // a run holds a few: looked through in order
    std::vector<Opener> handles;  // handle kFirstHandle + i
    // Another process's hold on a file, until (and with) open number held_until.
    std::shared_ptr<Bytes> held;
    Access holder;
    int held_until = 0;
    FaultPlan plan;
    int opens = 0, reads = 0, writes = 0, allocs = 0;
    int32_t last_error = 0;
    int crt_errno = 0;
};

State g;

// The file at a path; null when there is none.
std::shared_ptr<Bytes> find_file(const char* path) {
    for (const NamedFile& f : g.files)
        if (f.path == path) return f.bytes;
    return nullptr;
}

Opener* opener_of(int32_t handle) {
    const int64_t i = static_cast<int64_t>(handle) - kFirstHandle;
    if (i < 0 || i >= static_cast<int64_t>(g.handles.size()) || !g.handles[i].file) return nullptr;
    return &g.handles[i];
}

void fail_with(int32_t error, int crt) {
    g.last_error = error;
    g.crt_errno = crt;
}

// Counts an open by path and lets the planned holder take or drop its file;
// false when this open is refused for sharing.
bool share_allows(const char* path, const Access& wanted) {
    ++g.opens;
    const std::shared_ptr<Bytes> file = find_file(path);
    if (g.plan.held_at_open != 0 && g.opens == g.plan.held_at_open && file) {
        g.held = file;
        g.holder = access_of(kHolderModes[g.plan.holder & 7]);
        g.held_until = g.opens + (g.plan.holder >> 3);
    }
    if (g.held && g.opens > g.held_until) g.held.reset();
    if (!file) return true;
    if (g.held == file && conflict(wanted, g.holder)) return false;
    for (const Opener& o : g.handles)
        if (o.file == file && conflict(wanted, o.access)) return false;
    return true;
}

int32_t new_handle(std::shared_ptr<Bytes> file, const Access& access) {
    auto free_slot = std::find_if(g.handles.begin(), g.handles.end(), [](const Opener& o) { return !o.file; });
    if (free_slot == g.handles.end()) free_slot = g.handles.insert(g.handles.end(), Opener{});
    *free_slot = Opener{std::move(file), access, 0};
    return kFirstHandle + static_cast<int32_t>(free_slot - g.handles.begin());
}

// True when the planned write fault hits this write-like call.
bool write_fails() {
    ++g.writes;
    if (g.writes != g.plan.failed_write_at) return false;
    fail_with(31, ENOSPC);
    return true;
}

int32_t mem_open(const char* path, int32_t flags) {
    if (!path) path = "";
    const Access access = access_of(flags);
    if (!share_allows(path, access)) {
        fail_with(hyl::kErrorSharingViolation, EACCES);
        return -1;
    }
    std::shared_ptr<Bytes> file = find_file(path);
    if (!file) {
        fail_with(hyl::kErrorFileNotFound, ENOENT);
        return -1;
    }
    fail_with(0, 0);
    return new_handle(std::move(file), access);
}

int32_t mem_create(const char* path) {
    if (!path) path = "";
    if (!share_allows(path, kReadWriteShareAll)) {
        fail_with(hyl::kErrorSharingViolation, EACCES);
        return -1;
    }
    if (!*path) {
        fail_with(hyl::kErrorFileNotFound, ENOENT);
        return -1;
    }
    std::shared_ptr<Bytes> file = find_file(path);
    if (file)
        file->clear();  // the same file, emptied: other openers see it so
    else
        g.files.push_back({path, file = std::make_shared<Bytes>()});
    fail_with(0, 0);
    return new_handle(std::move(file), kReadWriteShareAll);
}

// The count a read delivers, after the planned short read; -1: it fails.
int64_t planned_read(uint32_t count) {
    ++g.reads;
    if (g.reads != g.plan.short_read_at) return count;
    if (g.plan.short_read_bytes == 0xFF) {
        fail_with(31, EIO);
        return -1;
    }
    return count ? g.plan.short_read_bytes % count : 0;
}

int32_t read_from(Opener& o, int64_t position, void* dst, uint32_t count) {
    const int64_t want = planned_read(count);
    if (want < 0) return -1;
    const int64_t size = static_cast<int64_t>(o.file->size());
    const int64_t n = std::max<int64_t>(0, std::min(want, size - position));
    if (n > 0) std::memcpy(dst, o.file->data() + position, static_cast<size_t>(n));
    return static_cast<int32_t>(n);
}

int32_t mem_read(int32_t h, void* dst, uint32_t count) {
    Opener* o = opener_of(h);
    if (!o) return -1;
    const int32_t n = read_from(*o, o->position, dst, count);
    if (n > 0) o->position += n;
    return n;
}

int32_t mem_read_at(int32_t h, int64_t position, void* dst, uint32_t count) {
    Opener* o = opener_of(h);
    if (!o || position < 0) return -1;
    return read_from(*o, position, dst, count);
}

int32_t write_to(Opener& o, int64_t position, const void* src, uint32_t count) {
    if (!o.access.writes) {
        fail_with(31, EBADF);
        return -1;
    }
    uint32_t n = count;
    if (write_fails()) {
        n = count / 2;
        if (n == 0) return -1;
    }
    if (position + n > kMaxFileBytes) {
        fail_with(31, EFBIG);
        return -1;
    }
    Bytes& bytes = *o.file;
    if (bytes.size() < static_cast<size_t>(position + n)) bytes.resize(static_cast<size_t>(position + n), 0);
    if (n) std::memcpy(bytes.data() + position, src, n);
    return static_cast<int32_t>(n);
}

int32_t mem_write(int32_t h, const void* src, uint32_t count) {
    Opener* o = opener_of(h);
    if (!o) return -1;
    const int32_t n = write_to(*o, o->position, src, count);
    if (n > 0) o->position += n;
    return n;
}

int32_t mem_write_at(int32_t h, int64_t position, const void* src, uint32_t count) {
    Opener* o = opener_of(h);
    if (!o || position < 0) return -1;
    return write_to(*o, position, src, count);
}

int32_t mem_seek(int32_t h, int32_t offset, int origin) {
    Opener* o = opener_of(h);
    if (!o) return -1;
    const int64_t base = origin == 1 ? o->position : origin == 2 ? static_cast<int64_t>(o->file->size()) : 0;
    const int64_t to = base + offset;
    if (to < 0 || to > 0x7FFFFFFF) {
        fail_with(31, EINVAL);
        return -1;
    }
    o->position = to;
    return static_cast<int32_t>(to);
}

void mem_close(int32_t h) {
    if (Opener* o = opener_of(h)) *o = Opener{};
}

int64_t mem_length(int32_t h) {
    Opener* o = opener_of(h);
    return o ? static_cast<int64_t>(o->file->size()) : -1;
}

bool resize(Bytes& bytes, int64_t length) {
    if (length < 0 || length > kMaxFileBytes) return false;
    bytes.resize(static_cast<size_t>(length), 0);
    return true;
}

int mem_set_length(int32_t h, int64_t length) {
    Opener* o = opener_of(h);
    if (!o || !o->access.writes || write_fails()) return 0;
    return resize(*o->file, length);
}

int mem_sync(int32_t h) { return opener_of(h) && !write_fails(); }

int32_t mem_last_error() { return g.last_error; }

int mem_set_file_size(const char* path, int64_t size) {
    if (!path) path = "";
    if (!share_allows(path, kReadWriteShareAll)) {
        fail_with(hyl::kErrorSharingViolation, EACCES);
        return 0;
    }
    const std::shared_ptr<Bytes> file = find_file(path);
    if (!file) {
        fail_with(hyl::kErrorFileNotFound, ENOENT);
        return 0;
    }
    return !write_fails() && resize(*file, size);
}

int mem_crt_errno() { return g.crt_errno; }

// Open handles keep the bytes they were reading; the name goes at once.
int mem_remove(const char* path) {
    for (auto f = g.files.begin(); f != g.files.end(); ++f)
        if (f->path == path) {
            g.files.erase(f);
            return 1;
        }
    fail_with(hyl::kErrorFileNotFound, ENOENT);
    return 0;
}

// A file open elsewhere keeps its bytes under its new name.
int mem_rename(const char* from, const char* to) {
    if (!from || !to || !find_file(from)) {
        fail_with(hyl::kErrorFileNotFound, ENOENT);
        return 0;
    }
    if (write_fails()) return 0;
    const std::shared_ptr<Bytes> moved = find_file(from);
    g.files.erase(std::remove_if(g.files.begin(), g.files.end(), [&](const NamedFile& f) { return f.path == to; }),
                  g.files.end());
    for (NamedFile& f : g.files)
        if (f.path == from) f.path = to;
    return moved != nullptr;
}

int mem_folder_sync(const char*) { return !write_fails(); }

void quiet_box(const char*, const char*) {}
void quiet_line(const char*, int, int) {}
void quiet_beep() {}
bool no_key(int) { return false; }
void no_sleep(uint32_t) {}

hyl::MemHandle mem_alloc(uint32_t flags, uint32_t size) {
    if (++g.allocs == g.plan.failed_alloc_at) return nullptr;
    return hyl::native_platform().mem_alloc(flags, size);
}

int64_t fixed_now() { return kClock; }

const PlatformOps& memory_ops() {
    static const PlatformOps ops = [] {
        PlatformOps o = hyl::native_platform();
        o.file_open = mem_open;
        o.file_create = mem_create;
        o.file_read = mem_read;
        o.file_read_at = mem_read_at;
        o.file_write = mem_write;
        o.file_write_at = mem_write_at;
        o.file_seek = mem_seek;
        o.file_close = mem_close;
        o.file_length = mem_length;
        o.file_set_length = mem_set_length;
        o.file_sync = mem_sync;
        o.file_remove = mem_remove;
        o.last_error = mem_last_error;
        o.set_file_size = mem_set_file_size;
        o.crt_errno = mem_crt_errno;
        o.file_rename = mem_rename;
        o.folder_sync = mem_folder_sync;
        o.message_box = quiet_box;
        o.screen_line = quiet_line;
        o.beep = quiet_beep;
        o.key_down = no_key;
        o.sleep_ms = no_sleep;
        o.mem_alloc = mem_alloc;
        o.now = fixed_now;
        return o;
    }();
    return ops;
}

}  // namespace

FaultPlan take_fault_plan(const uint8_t*& data, std::size_t& size) {
    uint8_t bytes[kFaultPlanBytes] = {};
    const std::size_t n = std::min(size, kFaultPlanBytes);
    if (n) std::memcpy(bytes, data, n);
    data += n;
    size -= n;
    return {bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]};
}

void install_memory_platform() {
    static const bool installed = [] {
        setenv("TZ", kZone, 1);
        tzset();
        hyl::install_platform(memory_ops());
        hyl::frame_load();
        return true;
    }();
    (void)installed;
}

void start_run(const FaultPlan& plan) {
    install_memory_platform();
    g.plan = FaultPlan{};  // the unload of the previous run's state meets no faults
    hyl::frame_unload();
    reset_files(plan);
    hyl::frame_load();
}

void reset_files(const FaultPlan& plan) {
    g = State{};
    g.plan = plan;
}

void put_file(const std::string& path, const uint8_t* data, std::size_t size) {
    auto bytes = std::make_shared<Bytes>(data, data + size);
    for (NamedFile& f : g.files)
        if (f.path == path) {
            f.bytes = std::move(bytes);
            return;
        }
    g.files.push_back({path, std::move(bytes)});
}

const std::vector<uint8_t>* file_bytes(const std::string& path) { return find_file(path.c_str()).get(); }

const PlatformOps& memory_platform() { return memory_ops(); }

}  // namespace hylfuzz
