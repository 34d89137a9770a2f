#include "tests/fake_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/codepage.h"

namespace hyltest {

FakePlatform* FakePlatform::current = nullptr;

namespace {

const hyl::PlatformOps& real() { return hyl::native_platform(); }

int32_t fake_open(const char* path, int32_t flags) {
    auto* f = FakePlatform::current;
    ++f->opens;
    if (f->should_fail(Op::kOpen)) return -1;
    if (f->busy_opens > 0) {
        --f->busy_opens;
        return -1;
    }
    if (f->open) return f->open(path, flags);
    return real().file_open(path, flags);
}

int32_t g_last_error_override = 0;

int32_t fake_last_error() {
    auto* f = FakePlatform::current;
    (void)f;
    if (g_last_error_override) {
        int32_t e = g_last_error_override;
        g_last_error_override = 0;
        return e;
    }
    return real().last_error();
}

int32_t fake_create(const char* path) {
    if (FakePlatform::current->should_fail(Op::kCreate)) return -1;
    return real().file_create(path);
}

int32_t fake_read(int32_t h, void* dst, uint32_t n) {
    auto* f = FakePlatform::current;
    f->read_sizes.push_back(n);
    if (f->should_fail(Op::kRead)) return -1;
    if (f->read) return f->read(h, dst, n);
    return real().file_read(h, dst, n);
}

int32_t fake_read_at(int32_t h, int64_t pos, void* dst, uint32_t n) {
    auto* f = FakePlatform::current;
    f->read_sizes.push_back(n);
    if (f->should_fail(Op::kReadAt)) return -1;
    if (f->read_at) return f->read_at(h, pos, dst, n);
    return real().file_read_at(h, pos, dst, n);
}

int32_t fake_write(int32_t h, const void* src, uint32_t n) {
    auto* f = FakePlatform::current;
    if (f->should_fail(Op::kWrite)) {
        if (f->short_write_ && n > 1) return real().file_write(h, src, n / 2);
        errno = ENOSPC;
        return -1;
    }
    if (f->write) return f->write(h, src, n);
    return real().file_write(h, src, n);
}

int32_t fake_write_at(int32_t h, int64_t pos, const void* src, uint32_t n) {
    auto* f = FakePlatform::current;
    if (f->should_fail(Op::kWrite)) {
        if (f->short_write_ && n > 1) return real().file_write_at(h, pos, src, n / 2);
        errno = ENOSPC;
        return -1;
    }
    return real().file_write_at(h, pos, src, n);
}

int fake_set_length(int32_t h, int64_t length) {
    if (FakePlatform::current->should_fail(Op::kSetSize)) return 0;
    return real().file_set_length(h, length);
}

int fake_sync(int32_t h) {
    if (FakePlatform::current->should_fail(Op::kSync)) return 0;
    return real().file_sync(h);
}

int32_t fake_seek(int32_t h, int32_t off, int origin) {
    if (FakePlatform::current->should_fail(Op::kSeek)) return -1;
    return real().file_seek(h, off, origin);
}

int fake_set_size(const char* path, int64_t size) {
    if (FakePlatform::current->should_fail(Op::kSetSize)) return 0;
    return real().set_file_size(path, size);
}

void fake_box(const char* text, const char*) {
    auto* f = FakePlatform::current;
    f->events.push_back({UiEvent::kBox, text, 0});
    if (f->on_box) f->on_box(text);
}
void fake_line(const char* text, int, int) {
    FakePlatform::current->events.push_back({UiEvent::kLine, text, 0});
}
void fake_beep() { FakePlatform::current->events.push_back({UiEvent::kBeep, "", 0}); }
bool fake_key(int vk) {
    auto* f = FakePlatform::current;
    return f->key_down ? f->key_down(vk) : false;
}
void fake_sleep(uint32_t ms) { FakePlatform::current->events.push_back({UiEvent::kSleep, "", ms}); }

hyl::MemHandle fake_alloc(uint32_t flags, uint32_t size) {
    if (FakePlatform::current->should_fail(Op::kAlloc)) return nullptr;
    return real().mem_alloc(flags, size);
}

int64_t fake_now() {
    auto* f = FakePlatform::current;
    return f->now ? *f->now : real().now();
}

}  // namespace

// Sharing violations report error 32 through the last-error operation.
static int32_t fake_open_with_error(const char* path, int32_t flags) {
    auto* f = FakePlatform::current;
    if (f->should_fail(Op::kShare)) f->busy_opens = 20;  // every attempt of this open
    bool busy = f->busy_opens > 0;
    int32_t h = fake_open(path, flags);
    if (h == -1 && busy) g_last_error_override = hyl::kErrorSharingViolation;
    return h;
}

FakePlatform::FakePlatform() {
    current = this;
    hyl::PlatformOps ops = real();
    ops.file_open = fake_open_with_error;
    ops.file_create = fake_create;
    ops.file_read = fake_read;
    ops.file_read_at = fake_read_at;
    ops.file_write = fake_write;
    ops.file_write_at = fake_write_at;
    ops.file_set_length = fake_set_length;
    ops.file_sync = fake_sync;
    ops.file_seek = fake_seek;
    ops.last_error = fake_last_error;
    ops.set_file_size = fake_set_size;
    ops.message_box = fake_box;
    ops.screen_line = fake_line;
    ops.beep = fake_beep;
    ops.key_down = fake_key;
    ops.sleep_ms = fake_sleep;
    ops.mem_alloc = fake_alloc;
    ops.now = fake_now;
    previous_ = hyl::install_platform(ops);
}

FakePlatform::~FakePlatform() {
    hyl::install_platform(previous_);
    current = nullptr;
}

void FakePlatform::fail_nth(int n, std::vector<Op> kinds, bool short_write) {
    fail_at_ = n;
    counted_ = 0;
    fired_ = false;
    fail_kinds_ = std::move(kinds);
    short_write_ = short_write;
}

bool FakePlatform::should_fail(Op op) {
    if (fail_at_ <= 0) return false;
    if (std::find(fail_kinds_.begin(), fail_kinds_.end(), op) == fail_kinds_.end()) return false;
    if (++counted_ != fail_at_) return false;
    fired_ = true;
    return true;
}

std::vector<std::string> FakePlatform::boxes() const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.kind == UiEvent::kBox) out.push_back(e.text);
    return out;
}

std::vector<std::string> FakePlatform::lines() const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.kind == UiEvent::kLine) out.push_back(e.text);
    return out;
}

int FakePlatform::beeps() const {
    return static_cast<int>(std::count_if(events.begin(), events.end(),
                                          [](const UiEvent& e) { return e.kind == UiEvent::kBeep; }));
}

uint32_t FakePlatform::slept_ms() const {
    uint32_t total = 0;
    for (const auto& e : events)
        if (e.kind == UiEvent::kSleep) total += e.ms;
    return total;
}

ScopedTz::ScopedTz(const char* tz) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", tz, 1);
    tzset();
}

ScopedTz::~ScopedTz() {
    if (previous_)
        setenv("TZ", previous_->c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TempDir::TempDir() {
    char pattern[] = "/tmp/hyltest-XXXXXX";
    dir_ = mkdtemp(pattern);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ansi(const std::string& utf8) { return hyl::utf8_to_ansi(utf8); }

}  // namespace hyltest
