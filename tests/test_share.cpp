// Share modes between two real processes: a table held for appending keeps
// other writers out (they retry, then give up) while readers still get in.
// Drive letters, and the descriptors of a process started with its standard
// streams closed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dbf/dbf.h"
#include "frame/frame.h"
#include "hyl.h"
#include "lowlevel/lv.h"
#include "platform/platform.h"
#include "tables/snapshot.h"
#include "tests/dbf_builder.h"
#include "tests/dbf_bytes.h"
#include "tests/fake_platform.h"
#include "tests/fuzz/memory_platform.h"

using namespace hyl;

namespace {

// Runs a child that opens the file with the given flags and holds it until
// told to let go; returns its pid once the file is held.
pid_t hold_in_child(const std::string& path, int32_t flags, int release_fd[2]) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(release_fd) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        int32_t h = native_platform().file_open(path.c_str(), flags);
        char c = h == -1 ? 'n' : 'y';
        (void)!write(ready[1], &c, 1);
        (void)!read(release_fd[0], &c, 1);
        _exit(0);
    }
    char c = 0;
    (void)!read(ready[0], &c, 1);
    close(ready[0]);
    close(ready[1]);
    return c == 'y' ? pid : -1;
}

void release(pid_t pid, int release_fd[2]) {
    (void)!write(release_fd[1], "x", 1);
    int status = 0;
    waitpid(pid, &status, 0);
    close(release_fd[0]);
    close(release_fd[1]);
}

}  // namespace

TEST(ShareModes, AppendingProcessKeepsWritersOutAndReadersIn) {
    hyltest::TempDir dir;
    std::string path = dir.path("held.dbf");
    hyltest::write_file(path, std::vector<uint8_t>(64, ' '));
    int release_fd[2];
    pid_t child = hold_in_child(path, kModeUpdate, release_fd);
    ASSERT_GT(child, 0);
    {
        hyltest::FakePlatform fake;
        EXPECT_EQ(lvv_open(path.c_str(), kModeUpdate, kOpenAttempts), -1);
        EXPECT_EQ(fake.lines().size(), 20u);
        EXPECT_EQ(fake.opens, 20);
        int32_t reader = lvv_open(path.c_str(), kModeShareRead, kOpenAttempts);
        EXPECT_NE(reader, -1);
        EXPECT_EQ(fake.lines().size(), 20u);
        lvv_close(reader);
        // Creating (truncating) the held file is refused and leaves it whole.
        EXPECT_EQ(platform().file_create(path.c_str()), -1);
        EXPECT_EQ(platform().last_error(), kErrorSharingViolation);
        EXPECT_EQ(hyltest::read_file(path).size(), 64u);
    }
    release(child, release_fd);
    int32_t writer = native_platform().file_open(path.c_str(), kModeUpdate);
    EXPECT_NE(writer, -1);
    native_platform().file_close(writer);
}

TEST(ShareModes, ReaderSharingEverythingDoesNotBlockWriters) {
    hyltest::TempDir dir;
    std::string path = dir.path("read.dbf");
    hyltest::write_file(path, std::vector<uint8_t>(8, ' '));
    int release_fd[2];
    pid_t child = hold_in_child(path, kModeShareRead, release_fd);
    ASSERT_GT(child, 0);
    int32_t writer = native_platform().file_open(path.c_str(), kModeUpdate);
    EXPECT_NE(writer, -1);
    // But while this process holds it for appending, the reader's open of a
    // deny-write mode is refused.
    int32_t second = native_platform().file_open(path.c_str(), kModeUpdate);
    EXPECT_EQ(second, -1);
    EXPECT_EQ(native_platform().last_error(), kErrorSharingViolation);
    native_platform().file_close(writer);
    release(child, release_fd);
}

TEST(DriveLetters, MapToFoldersNamedByTheEnvironment) {
    hyltest::TempDir dir;
    std::string sub = dir.path("QUV");
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    hyltest::write_file(sub + "/zmec.dbf", {1, 2, 3});
    setenv("HYL_DRIVE_Q", dir.dir().c_str(), 1);
    for (const char* p : {"Q:\\QUV\\zmec.dbf", "q:\\QUV\\zmec.dbf", "Q:QUV\\zmec.dbf"}) {
        int32_t h = native_platform().file_open(p, kModeShareRead);
        EXPECT_NE(h, -1) << p;
        if (h != -1) native_platform().file_close(h);
    }
    EXPECT_EQ(native_platform().file_open("R:\\QUV\\zmec.dbf", kModeShareRead), -1);
    unsetenv("HYL_DRIVE_Q");
}

// A service may start with standard input (or output) closed, so the first
// file it opens lands on descriptor 0 (or 1, 2).  The table must still open,
// read and close, and give its descriptor back.  Each case runs in a child,
// which answers with the number of the first step that went wrong.
TEST(Descriptors, TablesOpenWithTheStandardStreamsClosed) {
    hyltest::TempDir dir;
    hyltest::DbfBuilder b;
    b.fields = {{"NAME", 'C', 5, 0}};
    b.records = {"alpha"};
    const std::string path = dir.path("t.dbf");
    hyltest::write_file(path, b.build());
    const std::vector<int> closed_sets[] = {{0}, {1}, {0, 1, 2}};
    for (const auto& closed : closed_sets) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            hyltest::FakePlatform fake;  // no message reaches a closed stream
            for (int fd : closed) close(fd);
            frame_load();
            int step = 1;
            if (Hyl_OpenTableForRead(path.c_str()) != 1) _exit(step);
            ++step;
            if (g_current_table.handle <= 2) _exit(step);
            ++step;
            if (std::string(Hyl_GetFieldText(0, 0)) != "alpha") _exit(step);
            ++step;
            Hyl_CloseTable();
            // The lowest descriptor is free again: nothing was kept.
            if (open("/dev/null", O_RDONLY) != closed[0]) _exit(step);
            ++step;
            if (!fake.events.empty()) _exit(step);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "descriptors closed: " << closed.size() << " from " << closed[0];
    }
}

// The fuzz targets' files in memory answer as real files do: a second open,
// create or size change next to a held file is let in or refused with a
// sharing violation alike, for every pair of modes; and a run of reads,
// writes, seeks and length changes gives the same results and bytes.
TEST(ShareModes, MemoryFilesAnswerAsRealFiles) {
    hyltest::TempDir dir;
    const std::string path = dir.path("m.dbf");
    const std::vector<uint8_t> bytes = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const PlatformOps& real = native_platform();
    const PlatformOps& memory = hylfuzz::memory_platform();
    auto fresh = [&] {
        hyltest::write_file(path, bytes);
        hylfuzz::reset_files({});
        hylfuzz::put_file(path, bytes.data(), bytes.size());
    };
    constexpr int32_t kCreate = -1, kSetSize = -2;
    const int32_t modes[] = {0x00, 0x02, 0x10, 0x12, 0x20, 0x22, 0x30, 0x32, 0x40, 0x41, 0x42, 0x8022, 0x8040};
    std::vector<int32_t> seconds(std::begin(modes), std::end(modes));
    seconds.insert(seconds.end(), {kCreate, kSetSize});
    // What the second call gives next to a held file: let in, or the error.
    auto second_call = [&](const PlatformOps& ops, int32_t held, int32_t second) {
        const int32_t h = ops.file_open(path.c_str(), held);
        if (h == -1) return std::string("the first open failed");
        int32_t result = 0;
        if (second == kSetSize) {
            result = ops.set_file_size(path.c_str(), 10) ? 1 : -1;
        } else {
            result = second == kCreate ? ops.file_create(path.c_str()) : ops.file_open(path.c_str(), second);
            if (result != -1) ops.file_close(result);
        }
        const std::string answer = result == -1 ? "error " + std::to_string(ops.last_error()) : "let in";
        ops.file_close(h);
        return answer;
    };
    for (int32_t held : modes)
        for (int32_t second : seconds) {
            fresh();
            const std::string want = second_call(real, held, second);
            EXPECT_EQ(second_call(memory, held, second), want) << std::hex << held << " then " << second;
        }

    // The same calls on each, then the bytes.
    auto run = [&](const PlatformOps& ops, std::vector<uint8_t>* after) {
        std::vector<int64_t> results;
        const int32_t h = ops.file_open(path.c_str(), kModeUpdate);
        char buf[16] = {};
        results.push_back(ops.file_read(h, buf, 4));
        results.push_back(ops.file_seek(h, 8, 0));
        results.push_back(ops.file_read(h, buf, 16));  // short: the end of the file
        results.push_back(ops.file_read_at(h, 12, buf, 4));
        results.push_back(ops.file_write_at(h, 14, "AB", 2));  // past the end: a gap of zeros
        results.push_back(ops.file_length(h));
        results.push_back(ops.file_seek(h, -3, 2));
        results.push_back(ops.file_write(h, "xyz!", 4));
        results.push_back(ops.file_seek(h, -1, 0));
        results.push_back(ops.file_set_length(h, 6));
        results.push_back(ops.file_seek(h, 0, 1));
        results.push_back(ops.file_read(h, buf, 4));
        results.push_back(ops.file_sync(h));
        const int32_t reader = ops.file_open(path.c_str(), kModeShareRead);
        results.push_back(ops.file_write(reader, "no", 2));  // read only
        ops.file_close(reader);
        ops.file_close(h);
        results.push_back(ops.set_file_size(path.c_str(), 3));
        results.push_back(ops.file_open((path + ".none").c_str(), kModeShareRead));
        results.push_back(ops.last_error());
        const int32_t created = ops.file_create(path.c_str());
        results.push_back(ops.file_length(created));
        results.push_back(ops.file_write(created, "new", 3));
        ops.file_close(created);
        *after = hylfuzz::file_bytes(path) && &ops == &memory ? *hylfuzz::file_bytes(path) : hyltest::read_file(path);
        return results;
    };
    fresh();
    std::vector<uint8_t> real_bytes, memory_bytes;
    const std::vector<int64_t> real_results = run(real, &real_bytes);
    EXPECT_EQ(run(memory, &memory_bytes), real_results);
    EXPECT_EQ(memory_bytes, real_bytes);
}

// A reader that opens a table while another program appends to it: the
// appender writes each record before the count that includes it, so every
// record the snapshot's header counts lies within the snapshot's length.
TEST(ShareModes, ASnapshotTakenDuringAnAppendHoldsEveryRecordItCounts) {
    hyltest::TempDir dir;
    const std::string path = dir.path("live.dbf");
    const std::vector<hyltest::FieldSpec> fields = {{"NAME", 'C', 5}};
    std::vector<uint8_t> bytes = hyltest::dbf_bytes(fields, {{"a"}, {"b"}});
    hyltest::write_file(path, bytes);
    hyltest::FakePlatform fake;
    bool appended = false;
    // The append lands between the snapshot's first look at the file and
    // its read of the header.
    fake.read_at = [&](int32_t h, int64_t position, void* dst, uint32_t n) {
        if (!appended && position == 0) {
            appended = true;
            const int32_t writer = native_platform().file_open(path.c_str(), kOfReadWrite | kOfShareDenyNone);
            const uint8_t record[] = {' ', 'c', ' ', ' ', ' ', ' '}, count[] = {3, 0, 0, 0};
            native_platform().file_write_at(writer, static_cast<int64_t>(bytes.size()), record, sizeof record);
            native_platform().file_write_at(writer, 4, count, sizeof count);
            native_platform().file_close(writer);
        }
        return native_platform().file_read_at(h, position, dst, n);
    };
    Snapshot scan;
    ASSERT_EQ(scan.open(path.c_str(), false), SnapshotStatus::kOpened);
    ASSERT_EQ(scan.record_count(), 3);
    std::string last;
    scan.for_each_block(2, 3, [&](int64_t, int64_t, const uint8_t* record) {
        last.assign(reinterpret_cast<const char*>(record), 6);
        return true;
    });
    EXPECT_EQ(last, " c    ");
}
