// Ranges of records worked on by several threads and handed back in order.
#include "tables/split.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "tables/table.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace hyl {
namespace {

// Half a megabyte of records a range: enough that a range costs one read
// and handing it over is nothing beside its work, little enough that a
// couple of ranges' output a thread is all a dump holds.
constexpr int64_t kRangeBytes = 1 << 19;
// A record's memos may be long; ranges of a table with memo fields hold
// fewer records, so that a range's output stays small too.
constexpr int64_t kMemoRangeRecords = 1024;

// The lock and the signal the threads share, and the threads themselves:
// the standard library's natively, the system's on Windows (the tool is
// built there with a runtime that has no std::thread).
#if defined(_WIN32)
class Gate {
public:
    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }
    void wait() { SleepConditionVariableSRW(&signal_, &lock_, INFINITE, 0); }
    void wake_all() { WakeAllConditionVariable(&signal_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE signal_ = CONDITION_VARIABLE_INIT;
};

class Threads {
public:
    ~Threads() { join(); }
    // False when the system would start no thread.
    bool start(std::function<void()> body) {
        bodies_.push_back(std::make_unique<std::function<void()>>(std::move(body)));
        HANDLE h = CreateThread(nullptr, 0, run, bodies_.back().get(), 0, nullptr);
        if (!h) return bodies_.pop_back(), false;
        handles_.push_back(h);
        return true;
    }
    void join() {
        for (HANDLE h : handles_) WaitForSingleObject(h, INFINITE), CloseHandle(h);
        handles_.clear();
    }

private:
    static DWORD WINAPI run(void* body) {
        (*static_cast<std::function<void()>*>(body))();
        return 0;
    }
    std::vector<std::unique_ptr<std::function<void()>>> bodies_;
    std::vector<HANDLE> handles_;
};
#else
class Gate {
public:
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    void wait() {
        std::unique_lock<std::mutex> held(mutex_, std::adopt_lock);
        signal_.wait(held);
        held.release();
    }
    void wake_all() { signal_.notify_all(); }

private:
    std::mutex mutex_;
    std::condition_variable signal_;
};

class Threads {
public:
    ~Threads() { join(); }
    bool start(std::function<void()> body) {
        try {
            threads_.emplace_back(std::move(body));
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }
    void join() {
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }

private:
    std::vector<std::thread> threads_;
};
#endif

}  // namespace

RecordRanges Split_Ranges(int64_t first, int64_t end, int64_t per_range) {
    RecordRanges r;
    r.first = first;
    r.end = std::max(first, end);
    r.per_range = std::max<int64_t>(per_range, 1);
    return r;
}

RecordRanges Split_Ranges(const TableReader& table, int64_t first, int64_t end) {
    int64_t per_range = kRangeBytes / std::max<int64_t>(table.scan().stride(), 1);
    if (table.has_memo_fields()) per_range = std::min(per_range, kMemoRangeRecords);
    return Split_Ranges(first, end, per_range);
}

int Split_MachineThreads() {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return std::max<int>(static_cast<int>(info.dwNumberOfProcessors), 1);
#else
    // The processors this process may run on, which a container or
    // taskset may make fewer than the machine has.
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(CPU_COUNT(&set), 1);
    return std::max<int>(static_cast<int>(std::thread::hardware_concurrency()), 1);
#endif
}

int Split_Threads(const RecordRanges& ranges, int threads) {
    if (threads <= 0) threads = Split_MachineThreads();
    return static_cast<int>(std::clamp<int64_t>(ranges.count(), 1, threads));
}

int Split_Window(int threads) { return threads <= 1 ? 1 : 2 * threads; }

bool Split_Run(int64_t count, int threads, const std::function<bool(int64_t, int, int)>& work,
               const std::function<bool(int64_t, int)>& done) {
    if (threads <= 1 || count <= 1) {
        for (int64_t range = 0; range < count; ++range)
            if (!work(range, 0, 0) || !done(range, 0)) return false;
        return true;
    }
    const int window = Split_Window(threads);
    Gate gate;
    // All below is the gate's.
    int64_t next = 0;                          // the next range to work on
    int64_t delivered = 0;                     // ranges DONE has had
    int64_t failed = count;                    // the first range whose work failed
    bool stop = false;
    std::vector<int64_t> ready(static_cast<std::size_t>(window), -1);  // the range each slot holds, once worked
    std::exception_ptr thrown;

    auto may_take = [&] { return !stop && next < count && next < delivered + window; };
    // Works on the next range as worker ME; the gate is held before and after.
    auto take = [&](int me) {
        const int64_t range = next++;
        const int slot = static_cast<int>(range % window);
        gate.unlock();
        bool ok = false;
        std::exception_ptr error;
        try {
            ok = work(range, slot, me);
        } catch (...) {
            error = std::current_exception();
        }
        gate.lock();
        if (ok) {
            ready[static_cast<std::size_t>(slot)] = range;
        } else {
            if (range < failed) failed = range, thrown = error;
            stop = true;
        }
        gate.wake_all();
    };

    // Workers 1 .. THREADS - 1 on threads of their own; the calling thread
    // is worker 0, and works on a range whenever the next one to hand to
    // DONE is not ready, so that THREADS threads are busy, not one more.
    // Should the system start no thread, it does all the work itself.
    Threads pool;
    for (int t = 1; t < threads; ++t)
        pool.start([&, t] {
            gate.lock();
            for (;;) {
                while (!may_take() && !stop && next < count) gate.wait();
                if (!may_take()) break;
                take(t);
            }
            gate.unlock();
        });
    bool ok = true;
    gate.lock();
    while (delivered < count) {
        const int slot = static_cast<int>(delivered % window);
        if (ready[static_cast<std::size_t>(slot)] != delivered) {
            if (failed <= delivered) {
                ok = false;
                break;
            }
            if (may_take()) take(0);
            else gate.wait();
            continue;
        }
        gate.unlock();
        bool more = false;
        try {
            more = done(delivered, slot);
        } catch (...) {
            // The threads are stopped and joined before it goes on.
            gate.lock();
            if (!thrown) thrown = std::current_exception();
            ok = false;
            break;
        }
        gate.lock();
        ++delivered;
        gate.wake_all();
        if (!more) {
            ok = false;
            break;
        }
    }
    stop = true;
    gate.wake_all();
    gate.unlock();
    pool.join();
    if (thrown) std::rethrow_exception(thrown);
    return ok;
}

}  // namespace hyl
