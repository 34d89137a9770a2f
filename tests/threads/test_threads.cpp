// Several threads calling the exports at once, as a host with a worker
// thread and an interface thread does: every answer must be the one a
// single thread gets, and a text result must stay as its thread got it until
// that thread's next call of the same kind, whatever the other threads ask.
// Built on its own so that the ThreadSanitizer build (preset tsan) compiles
// and runs just this.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>

#include "frame/frame.h"
#include "hyl.h"
#include "platform/codepage.h"
#include "tables/check.h"
#include "tables/split.h"
#include "tests/dbf_bytes.h"
#include "tests/fake_platform.h"

using hyltest::FakePlatform;
using hyltest::FieldSpec;

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 30;

std::string oem(const std::string& utf8) {
    std::string s = hyl::utf8_to_ansi(utf8);
    hyl::ansi_to_oem(s.data());
    return s;
}

// A local DATE, or local seconds, of a calendar date and time of day.
double ole(int y, unsigned m, unsigned d, int hh = 0, int mm = 0) {
    using namespace std::chrono;
    const auto days = (sys_days{year{y} / month{m} / day{d}} - sys_days{1899y / December / 30}).count();
    return static_cast<double>(days) + (hh * 3600 + mm * 60) / 86400.0;
}
std::string local_sec(int y, unsigned m, unsigned d, int hh = 0) {
    using namespace std::chrono;
    const auto days = (sys_days{year{y} / month{m} / day{d}} - sys_days{1979y / December / 31}).count();
    return std::to_string(days * 86400LL + hh * 3600);
}

// One field per thread at least, Cyrillic names and texts in 866, numbers
// and both kinds of date text.
const std::vector<FieldSpec> kTableFields = {
    {oem("ИМЯ"), 'C', 24}, {"QTY", 'N', 10, 2}, {"DAY", 'D', 8},
    {oem("КОГДА"), 'C', 16}, {"NOTE", 'C', 40}, {"CODE", 'N', 6}};
constexpr int kTableRecords = 24;

std::vector<uint8_t> table_bytes() {
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; r < kTableRecords; ++r) {
        const std::string n = std::to_string(r);
        rows.push_back({oem("Котёл № ") + n, std::to_string(r * 7) + "." + std::to_string(r % 10) + "5",
                        "201003" + std::string(r % 28 < 9 ? "0" : "") + std::to_string(1 + r % 28),
                        std::to_string(1 + r % 28) + ".10.2010 0" + std::to_string(r % 6) + ":30",
                        oem("примечание ") + n, std::to_string(-r)});
    }
    return hyltest::dbf_bytes(kTableFields, rows);
}

const std::vector<FieldSpec> kPlanFields = {
    {"NCE", 'N', 8}, {"NAMEOBJ", 'C', 40}, {"NAMEEQU", 'C', 70}, {"TIMERZN", 'N', 12}, {"TIMERZK", 'N', 12}};

std::vector<uint8_t> plan_bytes() {
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; r < 40; ++r) {
        const unsigned day = 1 + static_cast<unsigned>(r % 27);
        rows.push_back({r % 9 == 4 ? "0" : "1", oem(r % 2 ? "Котельная № 1" : "Котельная № 2"),
                        oem(r % 3 ? "насос " : "котёл ") + std::to_string(r % 4), local_sec(2010, 3, day, 9),
                        local_sec(2010, 3 + r % 2, day + 1, 17)});
    }
    return hyltest::dbf_bytes(kPlanFields, rows);
}

struct PlanQuery {
    std::string object, equipment;  // 1251
    double from, to;
};

const PlanQuery kQueries[] = {
    {hyl::utf8_to_ansi("котельная"), "", ole(2010, 3, 5), ole(2010, 3, 12)},
    {hyl::utf8_to_ansi("КОТЕЛЬНАЯ № 1"), hyl::utf8_to_ansi("Насос 1"), ole(2010, 3, 1), ole(2010, 5, 1)},
    {"", hyl::utf8_to_ansi("котёл"), ole(2010, 3, 27, 12), ole(2010, 3, 29)},
};

// Around the changes of daylight saving in Helsinki in 2010 (28 March,
// 31 October) and away from them.
const double kDates[] = {ole(2010, 3, 28, 0, 59), ole(2010, 3, 28, 1), ole(2010, 3, 28, 3, 30),
                         ole(2010, 10, 31, 0, 30), ole(2010, 10, 31, 1, 30), ole(2010, 7, 25, 12), 40000.25};
const double kSeconds[] = {0.0, 1269738000.0, 1288486800.0, 1280059200.5, 2147483647.0, -1.0};

// What one thread saw, in one flat list, so that answers compare as a whole.
struct Answers {
    std::vector<std::string> texts;
    std::vector<double> numbers;
    bool operator==(const Answers&) const = default;
};

void read_table(Answers& a) {
    a.numbers.push_back(Hyl_GetQRecords());
    a.numbers.push_back(Hyl_GetQFields());
    for (int r = 0; r < kTableRecords; ++r)
        for (int f = 0; f < static_cast<int>(kTableFields.size()); ++f) {
            a.texts.push_back(Hyl_GetFieldText(r, f));
            a.numbers.push_back(Hyl_GetFieldNumeric(r, f));
            a.numbers.push_back(Hyl_GetFieldDate(r, f));
            a.numbers.push_back(Hyl_GetFieldLenth(f));
            a.numbers.push_back(Hyl_GetFieldQuolity(f));
        }
}

void walk_plan(Answers& a) {
    for (const PlanQuery& q : kQueries) {
        const char* o = q.object.c_str();
        const char* e = q.equipment.c_str();
        for (int i = Hyl_pMonZvkGetNextMesplan(o, e, q.from, q.to, -1); i >= 0;
             i = Hyl_pMonZvkGetNextMesplan(o, e, q.from, q.to, i)) {
            a.numbers.push_back(i);
            a.numbers.push_back(Hyl_pMonZvkGetDate("TIMERZN", i));
            a.numbers.push_back(Hyl_pMonZvkGetDate("TIMERZK", i));
        }
        a.numbers.push_back(-1);
    }
}

void convert_dates(Answers& a) {
    for (double d : kDates) {
        a.numbers.push_back(GMT_To_Local(d));
        a.numbers.push_back(Local_To_GMT(d));
    }
    for (double s : kSeconds) a.numbers.push_back(Hyl_GetDateByNsecFrom1970(s));
}

using Work = void (*)(Answers&);
const Work kWork[] = {read_table, walk_plan, convert_dates};
const char* const kWorkNames[] = {"table", "plan", "dates"};

class Threads : public ::testing::Test {
protected:
    Threads() : tz_("Europe/Helsinki") {
        setenv("HYL_DRIVE_X", dir_.dir().c_str(), 1);
        hyl::frame_load();
        fake_.now = 1300000000;  // parts a date text leaves out come from a fixed today
        std::filesystem::create_directories(dir_.path("QUV/HYL_CE"));
        hyltest::write_file(dir_.path("QUV/HYL_CE/zmec.dbf"), plan_bytes());
        hyltest::write_file(table_, table_bytes());
    }
    ~Threads() override {
        hyl::frame_unload();
        unsetenv("HYL_DRIVE_X");
    }

    hyltest::TempDir dir_;
    hyltest::ScopedTz tz_;
    FakePlatform fake_;
    std::string table_ = dir_.path("t.dbf");
};

TEST_F(Threads, EveryThreadGetsTheSingleThreadedAnswers) {
    ASSERT_EQ(Hyl_OpenTableForRead(table_.c_str()), 1);
    Answers want[3];
    for (int k = 0; k < 3; ++k) kWork[k](want[k]);
    std::vector<std::string> names, types;
    for (int f = 0; f < static_cast<int>(kTableFields.size()); ++f) {
        names.push_back(Hyl_GetFieldName(f));
        types.push_back(Hyl_GetFieldType(f));
    }
    ASSERT_EQ(names[0], hyl::utf8_to_ansi("ИМЯ"));
    ASSERT_GT(want[1].numbers.size(), 3 * std::size(kQueries) + 10) << "the queries should find entries";
    // The threads race to load the plan again.
    ASSERT_EQ(Hyl_pMonZvkFreeResource(), 1);

    std::vector<std::vector<std::string>> faults(kThreads);
    auto work = [&](int t) {
        auto fault = [&](const std::string& what, int round) {
            if (faults[t].size() < 10) faults[t].push_back(what + " in round " + std::to_string(round));
        };
        // Each thread holds its own field's name and type, and a text, across
        // its other calls while the others ask for other fields.
        const int field = t % static_cast<int>(names.size());
        for (int round = 0; round < kRounds; ++round) {
            const char* name = Hyl_GetFieldName(field);
            const char* type = Hyl_GetFieldType(field);
            // The table opened again at once never looks closed to the others.
            if (t == 0 && Hyl_OpenTableForRead(table_.c_str()) != 1) fault("reopen", round);
            const char* text = nullptr;
            for (int step = 0; step < 3; ++step) {
                const int k = (t + round + step) % 3;
                Answers now;
                kWork[k](now);
                if (now != want[k]) fault(kWorkNames[k], round);
                if (k == 0) text = Hyl_GetFieldText(t, 4);
            }
            if (name != names[field] || type != types[field]) fault("name or type held", round);
            if (text != want[0].texts[t * kTableFields.size() + 4]) fault(std::string("text held ") + text, round);
            if (Hyl_GetFieldName(field) != name || Hyl_GetFieldText(0, 0) != text) fault("buffers moved", round);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
    for (auto& thread : threads) thread.join();

    for (int t = 0; t < kThreads; ++t)
        for (const std::string& f : faults[t]) ADD_FAILURE() << "thread " << t << ": " << f;
    EXPECT_TRUE(fake_.events.empty()) << "messages shown: " << fake_.events.size();
}

// A message box runs a modal loop on the thread that shows it, and the
// host's window procedures that the loop runs may call the library while
// the call that showed the box still holds the lock.
TEST_F(Threads, ACallFromInsideAMessageBoxGoesThrough) {
    std::vector<int> fields_seen;
    fake_.on_box = [&](const char*) { fields_seen.push_back(Hyl_GetQFields()); };
    std::promise<int> opened;
    std::future<int> result = opened.get_future();
    const std::string missing = dir_.path("missing.dbf");
    // On its own thread, so that a lock that deadlocks fails the test instead of hanging it.
    std::thread([&opened, missing] { opened.set_value(Hyl_OpenTableForRead(missing.c_str())); }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "the call from inside the message box never returned";
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(fields_seen, (std::vector<int>{0, 0})) << "one call from each of the two boxes";
}

}  // namespace

namespace {

// Why an open failed is the failing thread's to read: another thread's
// open that succeeds in between must not turn a sharing violation, which
// the busy-file wait retries, into some other failure.
TEST_F(Threads, AThreadKeepsWhyItsOwnOpenFailed) {
    const std::string held = dir_.path("held.dbf"), free = dir_.path("free.dbf");
    hyltest::write_file(held, {1, 2, 3});
    hyltest::write_file(free, {1, 2, 3});
    const hyl::PlatformOps& ops = hyl::native_platform();
    const int32_t holder = ops.file_open(held.c_str(), hyl::kOfReadWrite | hyl::kOfShareExclusive);
    ASSERT_NE(holder, -1);

    std::promise<void> failed, other_opened;
    std::future<void> failed_done = failed.get_future(), other_done = other_opened.get_future();
    std::thread other([&] {
        failed_done.wait();
        const int32_t h = ops.file_open(free.c_str(), hyl::kOfRead | hyl::kOfShareDenyNone);
        if (h != -1) ops.file_close(h);
        other_opened.set_value();
    });
    EXPECT_EQ(ops.file_open(held.c_str(), hyl::kOfRead | hyl::kOfShareDenyNone), -1);
    failed.set_value();
    other_done.wait();
    EXPECT_EQ(ops.last_error(), hyl::kErrorSharingViolation);
    other.join();
    ops.file_close(holder);
}

}  // namespace

namespace {

// The library's real files while a test reads on several threads at once:
// the recording platform counts and records from one thread at a time.
struct RealFiles {
    hyl::PlatformOps previous = hyl::install_platform(hyl::native_platform());
    ~RealFiles() { hyl::install_platform(previous); }
};

// Whatever the threads and however long each range takes, every range is
// worked on once, in a slot no undelivered range holds, and handed back in
// order on the calling thread; a range whose work fails (or throws) is the
// end, with every range before it handed back, and so is DONE saying stop.
TEST_F(Threads, RangesComeBackInOrderWhateverTheThreads) {
    const struct Case {
        int64_t count;
        int threads;
        int64_t fail_at;  // -1: none
        int64_t stop_after;  // DONE says stop after this range; -1: never
        bool throws;
    } cases[] = {
        {0, 4, -1, -1, false}, {1, 4, -1, -1, false}, {2, 2, -1, -1, false}, {37, 1, -1, -1, false},
        {37, 2, -1, -1, false}, {37, 3, -1, -1, false}, {200, 8, -1, -1, false}, {37, 3, 20, -1, false},
        {37, 3, 0, -1, false}, {37, 1, 20, -1, false}, {37, 4, -1, 11, false}, {37, 3, 25, -1, true},
    };
    std::mt19937 random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE("count " + std::to_string(c.count) + ", threads " + std::to_string(c.threads));
        const int window = hyl::Split_Window(c.threads);
        std::vector<int> spin(static_cast<std::size_t>(c.count));
        for (int& n : spin) n = static_cast<int>(random() % 20000);
        std::mutex m;
        std::vector<int64_t> owner(static_cast<std::size_t>(window), -1), worked(static_cast<std::size_t>(c.count), 0);
        std::vector<int64_t> delivered;
        std::vector<std::string> faults;
        const std::thread::id caller = std::this_thread::get_id();
        auto work = [&](int64_t range, int slot, int worker) {
            std::atomic<int> busy{0};
            for (int i = 0; i < spin[static_cast<std::size_t>(range)]; ++i) busy.fetch_add(1, std::memory_order_relaxed);
            std::lock_guard<std::mutex> lock(m);
            if (slot != range % window || owner[static_cast<std::size_t>(slot)] != -1) faults.push_back("slot of " + std::to_string(range));
            if (worker < 0 || worker >= c.threads || (worker == 0) != (std::this_thread::get_id() == caller))
                faults.push_back("worker of " + std::to_string(range));
            owner[static_cast<std::size_t>(slot)] = range;
            ++worked[static_cast<std::size_t>(range)];
            if (range == c.fail_at && c.throws) throw std::runtime_error("thrown");
            return range != c.fail_at;
        };
        auto done = [&](int64_t range, int slot) {
            std::lock_guard<std::mutex> lock(m);
            if (std::this_thread::get_id() != caller || owner[static_cast<std::size_t>(slot)] != range)
                faults.push_back("done of " + std::to_string(range));
            owner[static_cast<std::size_t>(slot)] = -1;
            delivered.push_back(range);
            return range != c.stop_after;
        };
        bool ok = false, thrown = false;
        try {
            ok = hyl::Split_Run(c.count, c.threads, work, done);
        } catch (const std::runtime_error&) {
            thrown = true;
        }
        const int64_t end = c.fail_at >= 0 ? c.fail_at : c.stop_after >= 0 ? c.stop_after + 1 : c.count;
        std::vector<int64_t> want(static_cast<std::size_t>(end));
        for (int64_t r = 0; r < end; ++r) want[static_cast<std::size_t>(r)] = r;
        EXPECT_EQ(delivered, want);
        EXPECT_EQ(ok, c.fail_at < 0 && c.stop_after < 0);
        EXPECT_EQ(thrown, c.throws);
        EXPECT_EQ(faults, std::vector<std::string>());
        for (int64_t r = 0; r < c.count; ++r) EXPECT_LE(worked[static_cast<std::size_t>(r)], 1) << "range " << r;
    }
}

// A table that splits unevenly (ranges of 1,024 records, since it has a
// memo field; the last one short), with bad values on both sides of the
// ranges' boundaries, more of a kind than a finding shows, memos past the
// end of the memo file and deletion flags neither blank nor '*': check
// finds the same, at the same records, with the same first examples, on
// any number of threads.
TEST_F(Threads, CheckFindsTheSameOnEveryThread) {
    const RealFiles files;
    const std::vector<FieldSpec> fields = {{"NAME", 'C', 12}, {"QTY", 'N', 6}, {"DAY", 'D', 8}, {"NOTE", 'M', 10}};
    const std::set<int> bad_qty = {5, 1023, 1024, 2050, 3400}, bad_day = {2047, 2048}, past_end = {1500, 3000};
    const int records = 3500;
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; r < records; ++r)
        rows.push_back({"n" + std::to_string(r), bad_qty.count(r) ? "x" + std::to_string(r) : std::to_string(r % 977),
                        bad_day.count(r) ? "2023023" + std::to_string(r % 10) : "20240301",
                        r % 7 ? std::to_string(past_end.count(r) ? 99 : 1) : ""});
    std::vector<uint8_t> table = hyltest::dbf_bytes(fields, rows);
    table[0] = 0x83;  // with a dBASE III memo file
    for (int r : {17, 1030, 3499}) table[hyltest::dbf_record_position(fields, r)] = r == 17 ? '*' : '?';
    hyltest::write_file(dir_.path("m.dbf"), table);
    std::string memo(512, '\0');
    memo += "the memo\x1A";
    hyltest::write_file(dir_.path("m.dbt"), std::vector<uint8_t>(memo.begin(), memo.end()));

    auto findings = [&](int threads) {
        const hyl::CheckReport report = hyl::Check_Table(dir_.path("m.dbf").c_str(), {}, {}, threads);
        EXPECT_TRUE(report.checked()) << report.why;
        std::vector<std::string> out;
        for (const hyl::Finding& f : report.findings) {
            std::string line = std::string(hyl::Check_ProblemCode(f.problem)) + " field " + std::to_string(f.field) +
                               " record " + std::to_string(f.record) + " count " + std::to_string(f.count) + ":";
            for (const hyl::FindingExample& e : f.examples) line += " " + std::to_string(e.record) + "=" + e.value;
            out.push_back(line + " | " + f.message);
        }
        return out;
    };
    const std::vector<std::string> one = findings(1);
    ASSERT_EQ(one.size(), 4u) << "deletion flags, numbers, dates, memos";
    EXPECT_NE(one[1].find("record 5 count 5: 5=x5 1023=x1023 1024=x1024 |"), std::string::npos) << one[1];
    for (int threads : {2, 3, 8}) EXPECT_EQ(findings(threads), one) << threads << " threads";
}

}  // namespace
