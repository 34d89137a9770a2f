// The in-memory platform of the fuzz targets; see memory_platform.h.
//
// Share modes follow the POSIX platform: an open reads unless it is
// write-only, writes when it asks to write, and denies reading or writing
// by its sharing bits (compatibility sharing denies nothing); a create and a
// size change by path read and write and deny nothing.  Two openers conflict
// when either denies what the other does.
//
// The disk: a file's pending changes are kept as a list of writes and
// length changes, and the folders' names not yet flushed as a list of
// creates, renames and removals; a power cut plays a part of each list
// onto what the disk held.
#include "tests/fuzz/memory_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
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
constexpr int64_t kSectorBytes = 512;

// A write (bytes at an offset) or a length change (no bytes) not yet on the disk.
struct Change {
    int64_t offset = 0;
    Bytes bytes;
    bool sets_length = false;
};

struct File {
    Bytes live;  // as programs see it
    Bytes disk;  // as the disk holds it
    std::vector<Change> pending;
};

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
    std::shared_ptr<File> file;  // null: a free handle
    Access access;
    int64_t position = 0;
};

struct NamedFile {
    std::string path;
    std::shared_ptr<File> file;
};

// A change of a folder's names not yet on the disk: a new name for FILE
// (create), FROM given the name TO (rename), or FROM removed.
struct NameChange {
    enum Kind { kCreate, kRename, kRemove } kind;
    std::string from, to;
    std::shared_ptr<File> file;
};

struct State {
    std::vector<NamedFile> files;  // a run holds a few: looked through in order
    std::vector<NamedFile> disk_names;  // the names as the disk holds them
    std::vector<NameChange> pending_names;
    std::vector<Opener> handles;  // handle kFirstHandle + i
    // Another process's hold on a file, until (and with) open number held_until.
    std::shared_ptr<File> held;
    Access holder;
    int held_until = 0;
    FaultPlan plan;
    int opens = 0, reads = 0, writes = 0, allocs = 0;
    int32_t last_error = 0;
    int crt_errno = 0;
    int disk_calls = 0, power_cut_before = 0;
};

State g;

// The file at a path; null when there is none.
std::shared_ptr<File> find_file(const char* path) {
    for (const NamedFile& f : g.files)
        if (f.path == path) return f.file;
    return nullptr;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// One change of names played onto NAMES.
void play(std::vector<NamedFile>& names, const NameChange& c) {
    auto named = [&](const std::string& path) {
        return std::find_if(names.begin(), names.end(), [&](const NamedFile& f) { return f.path == path; });
    };
    if (c.kind == NameChange::kCreate) {
        if (named(c.from) == names.end()) names.push_back({c.from, c.file});
        return;
    }
    const auto from = named(c.from);
    if (from == names.end()) return;
    if (c.kind == NameChange::kRemove) {
        names.erase(from);
        return;
    }
    const std::shared_ptr<File> moved = from->file;
    names.erase(from);
    if (const auto to = named(c.to); to != names.end()) names.erase(to);
    names.push_back({c.to, moved});
}

// One pending change played onto BYTES: whole, or of a write only the
// pieces [begin, end) of PIECES.
void play(Bytes& bytes, const Change& c, const std::vector<std::pair<int64_t, int64_t>>& pieces) {
    if (c.sets_length) {
        bytes.resize(static_cast<std::size_t>(c.offset), 0);
        return;
    }
    for (const auto& [begin, end] : pieces) {
        if (bytes.size() < static_cast<std::size_t>(c.offset + end)) bytes.resize(static_cast<std::size_t>(c.offset + end), 0);
        std::copy(c.bytes.begin() + begin, c.bytes.begin() + end, bytes.begin() + c.offset + begin);
    }
}

// True when the power has gone before this call that changes or flushes
// files: it fails, changing nothing.
bool power_out() {
    ++g.disk_calls;
    if (g.power_cut_before == 0 || g.disk_calls < g.power_cut_before) return false;
    g.last_error = 21;  // ERROR_NOT_READY
    g.crt_errno = EIO;
    return true;
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
    const std::shared_ptr<File> file = find_file(path);
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

int32_t new_handle(std::shared_ptr<File> file, const Access& access) {
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
    std::shared_ptr<File> file = find_file(path);
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
    if (power_out()) return -1;
    std::shared_ptr<File> file = find_file(path);
    if (file) {
        file->live.clear();  // the same file, emptied: other openers see it so
        file->pending.push_back({0, {}, true});
    } else {
        g.files.push_back({path, file = std::make_shared<File>()});
        g.pending_names.push_back({NameChange::kCreate, path, {}, file});
    }
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
    const int64_t size = static_cast<int64_t>(o.file->live.size());
    const int64_t n = std::max<int64_t>(0, std::min(want, size - position));
    if (n > 0) std::memcpy(dst, o.file->live.data() + position, static_cast<size_t>(n));
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
    if (power_out()) return -1;
    uint32_t n = count;
    if (write_fails()) {
        n = count / 2;
        if (n == 0) return -1;
    }
    if (position + n > kMaxFileBytes) {
        fail_with(31, EFBIG);
        return -1;
    }
    Bytes& bytes = o.file->live;
    if (bytes.size() < static_cast<size_t>(position + n)) bytes.resize(static_cast<size_t>(position + n), 0);
    if (n) std::memcpy(bytes.data() + position, src, n);
    const auto* from = static_cast<const uint8_t*>(src);
    if (n) o.file->pending.push_back({position, Bytes(from, from + n), false});
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
    const int64_t base = origin == 1 ? o->position : origin == 2 ? static_cast<int64_t>(o->file->live.size()) : 0;
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
    return o ? static_cast<int64_t>(o->file->live.size()) : -1;
}

bool resize(File& file, int64_t length) {
    if (length < 0 || length > kMaxFileBytes) return false;
    file.live.resize(static_cast<size_t>(length), 0);
    file.pending.push_back({length, {}, true});
    return true;
}

int mem_set_length(int32_t h, int64_t length) {
    Opener* o = opener_of(h);
    if (!o || !o->access.writes || power_out() || write_fails()) return 0;
    return resize(*o->file, length);
}

int mem_sync(int32_t h) {
    Opener* o = opener_of(h);
    if (!o || power_out() || write_fails()) return 0;
    o->file->disk = o->file->live;
    o->file->pending.clear();
    return 1;
}

int32_t mem_last_error() { return g.last_error; }

int mem_set_file_size(const char* path, int64_t size) {
    if (!path) path = "";
    if (!share_allows(path, kReadWriteShareAll)) {
        fail_with(hyl::kErrorSharingViolation, EACCES);
        return 0;
    }
    const std::shared_ptr<File> file = find_file(path);
    if (!file) {
        fail_with(hyl::kErrorFileNotFound, ENOENT);
        return 0;
    }
    return !power_out() && !write_fails() && resize(*file, size);
}

int mem_crt_errno() { return g.crt_errno; }

// Open handles keep the bytes they were reading; the name goes at once.
int mem_remove(const char* path) {
    for (auto f = g.files.begin(); f != g.files.end(); ++f)
        if (f->path == path) {
            if (power_out()) return 0;
            g.files.erase(f);
            g.pending_names.push_back({NameChange::kRemove, path, {}, {}});
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
    if (power_out() || write_fails()) return 0;
    const NameChange change{NameChange::kRename, from, to, {}};
    play(g.files, change);
    g.pending_names.push_back(change);
    return 1;
}

// The names of PATH's folder on the disk, in the order they were changed.
int mem_folder_sync(const char* path) {
    if (power_out() || write_fails()) return 0;
    const std::string folder = folder_of(path ? path : "");
    std::vector<NameChange> rest;
    for (const NameChange& c : g.pending_names)
        if (folder_of(c.from) == folder)
            play(g.disk_names, c);
        else
            rest.push_back(c);
    g.pending_names = std::move(rest);
    return 1;
}

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
    auto file = std::make_shared<File>();
    file->live = file->disk = Bytes(data, data + size);
    for (std::vector<NamedFile>* names : {&g.files, &g.disk_names}) {
        auto f = std::find_if(names->begin(), names->end(), [&](const NamedFile& n) { return n.path == path; });
        if (f != names->end())
            f->file = file;
        else
            names->push_back({path, file});
    }
}

const std::vector<uint8_t>* file_bytes(const std::string& path) {
    const std::shared_ptr<File> file = find_file(path.c_str());
    return file ? &file->live : nullptr;
}

std::vector<std::string> file_names() {
    std::vector<std::string> names;
    for (const NamedFile& f : g.files) names.push_back(f.path);
    return names;
}

int disk_calls() { return g.disk_calls; }

void cut_power_before(int call) { g.power_cut_before = call; }

bool restart_after_power_cut(uint32_t seed) {
    std::mt19937 random(seed);
    bool pending = !g.pending_names.empty();
    auto pick = [&](std::size_t n) { return n ? static_cast<std::size_t>(random() % n) : 0; };
    const bool all = seed == 0, none = seed == 1;
    // The first few names not flushed, in the order they were changed.
    const std::size_t names_kept = all ? g.pending_names.size() : none ? 0 : pick(g.pending_names.size() + 1);
    for (std::size_t i = 0; i < names_kept; ++i) play(g.disk_names, g.pending_names[i]);
    std::vector<NamedFile> files;
    for (const NamedFile& named : g.disk_names) {
        File& f = *named.file;
        if (!f.pending.empty()) {
            pending = true;
            std::vector<std::size_t> order(f.pending.size());
            for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
            if (!all) std::shuffle(order.begin(), order.end(), random);
            for (std::size_t i : order) {
                const Change& c = f.pending[i];
                const auto n = static_cast<int64_t>(c.bytes.size());
                std::vector<std::pair<int64_t, int64_t>> pieces;
                switch (all ? 1 : none ? 0 : pick(4)) {
                    case 0: continue;  // lost
                    case 1: pieces.push_back({0, n}); break;
                    case 2: {  // a prefix: one byte, all but one, or any length between
                        const int64_t any = 1 + static_cast<int64_t>(pick(static_cast<std::size_t>(std::max<int64_t>(n - 1, 1))));
                        const int64_t lengths[] = {1, std::max<int64_t>(n - 1, 1), any};
                        pieces.push_back({0, lengths[pick(3)]});
                        break;
                    }
                    default:  // some of the sectors it covers, each whole
                        for (int64_t at = 0; at < n;) {
                            const int64_t end = std::min(n, (c.offset + at) / kSectorBytes * kSectorBytes + kSectorBytes - c.offset);
                            if (pick(2)) pieces.push_back({at, end});
                            at = end;
                        }
                }
                play(f.disk, c, pieces);
            }
            f.pending.clear();
        }
        f.live = f.disk;
        files.push_back(named);
    }
    g.files = std::move(files);
    g.pending_names.clear();
    g.handles.clear();
    g.held.reset();
    g.power_cut_before = 0;
    g.disk_calls = 0;
    return pending;
}

const PlatformOps& memory_platform() { return memory_ops(); }

}  // namespace hylfuzz
