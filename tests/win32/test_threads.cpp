// Several threads calling the real DLL at once, as a host with a worker
// thread and an interface thread does: each reads every field of a table,
// walks the plan on X: and converts dates while one of them opens the same
// table again and again, and every answer must be the one the host's main
// thread got alone.  Each thread's text results are its own: a name it
// holds stays while the others ask for other names.  One more thread only
// converts dates, so it has no text buffers to free when it ends.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/win32/check.h"
#include "tests/win32/host.h"

namespace host {
namespace {

using SetNDisk = void(__stdcall*)(const char*);
using NextMesplan = int(__stdcall*)(const char*, const char*, double, double, int);
using PlanDate = double(__stdcall*)(const char*, int);
using Convert = double(__stdcall*)(double);

struct Api : TableApi {
    SetNDisk set_drive = fn<SetNDisk>("_Hyl_SetNDisk@4");
    NextMesplan next = fn<NextMesplan>("_Hyl_pMonZvkGetNextMesplan@28");
    PlanDate date = fn<PlanDate>("_Hyl_pMonZvkGetDate@8");
    NoArgs free = fn<NoArgs>("_Hyl_pMonZvkFreeResource@0");
    Convert to_local = fn<Convert>("_GMT_To_Local@8");
    Convert to_gmt = fn<Convert>("_Local_To_GMT@8");
    Convert from_1970 = fn<Convert>("_Hyl_GetDateByNsecFrom1970@8");
};

constexpr int kReaders = 4;
constexpr int kRounds = 20;
constexpr int kRecords = 16;
constexpr int kFields = 4;
const char kFieldName[] = "\xC8\xCC\xDF";       // ИМЯ, 1251
const char kBoiler[] = "\xCA\xEE\xF2\xB8\xEB";  // Котёл, 1251
const char kPlant[] = "\xCA\xEE\xF2\xE5\xEB\xFC\xED\xE0\xFF";  // Котельная
const char kPump[] = "\xCD\xE0\xF1\xEE\xF1";                  // Насос

std::string oem(const std::string& ansi) {
    std::string s = ansi;
    CharToOemA(s.data(), s.data());
    return s;
}

// Local seconds as TIMERZN and TIMERZK hold them, of a day in March 2010.
std::string march_2010(int day, int hour) {
    const long long days_from_1980 = 30 * 365 + 8 + 31 + 28 + day;  // 1980-01-01 is day 1
    return std::to_string(days_from_1980 * 86400 + hour * 3600);
}

bool write_table(Api& api, const std::string& path) {
    bool made = api.create(kFields, path.c_str()) == 1 && api.define(0, 20, kFieldName, "C", 0) == 1 &&
                api.define(1, 8, "QTY", "N", 2) == 1 && api.define(2, 16, "DAY", "C", 0) == 1 &&
                api.define(3, 30, "NOTE", "C", 0) == 1 && api.open_append(path.c_str()) == 1;
    for (int r = 0; made && r < kRecords; ++r) {
        char qty[16], day[24];
        std::snprintf(qty, sizeof qty, "%8.2f", r * 1.25 - 3);
        std::snprintf(day, sizeof day, "%02d.03.2010 %02d:%02d", 1 + r, r % 24, 7 * r % 60);
        api.put(oem(std::string(kBoiler) + " " + std::to_string(r)).c_str(), 0);
        api.put(qty, 1);
        api.put(day, 2);
        api.put(("note " + std::to_string(r * r)).c_str(), 3);
        made = api.append() == 1;
    }
    api.close();
    return made;
}

bool write_plan(Api& api) {
    CreateDirectoryA("X:\\QUV", nullptr);
    CreateDirectoryA("X:\\QUV\\HYL_CE", nullptr);
    const char* path = "X:\\QUV\\HYL_CE\\zmec.dbf";
    bool made = api.create(5, path) == 1 && api.define(0, 8, "NCE", "N", 0) == 1 &&
                api.define(1, 40, "NAMEOBJ", "C", 0) == 1 && api.define(2, 70, "NAMEEQU", "C", 0) == 1 &&
                api.define(3, 12, "TIMERZN", "N", 0) == 1 && api.define(4, 12, "TIMERZK", "N", 0) == 1 &&
                api.open_append(path) == 1;
    for (int r = 0; made && r < 24; ++r) {
        api.put(r % 7 == 3 ? "0" : "1", 0);
        api.put(oem(std::string(kPlant) + (r % 2 ? " 1" : " 2")).c_str(), 1);
        api.put(oem(std::string(kPump) + " " + std::to_string(r % 3)).c_str(), 2);
        api.put(march_2010(1 + r, 8).c_str(), 3);
        api.put(march_2010(2 + r + r % 4, 18).c_str(), 4);
        made = api.append() == 1;
    }
    api.close();
    return made;
}

// Everything one pass of a kind of work answered, in order.
struct Answers {
    std::vector<std::string> texts;
    std::vector<double> numbers;
    bool operator==(const Answers&) const = default;
};

void read_table(Api& api, Answers& a) {
    for (int r = 0; r < kRecords; ++r)
        for (int f = 0; f < kFields; ++f) {
            a.texts.push_back(api.text(r, f));
            a.numbers.push_back(api.number(r, f));
            a.numbers.push_back(api.field_date(r, f));
        }
}

void walk_plan(Api& api, Answers& a) {
    const double from = 40238.0, to = 40250.5;  // 2010-03-01 .. 2010-03-13 12:00
    const char* queries[][2] = {{kPlant, ""}, {"", kPump}, {kPlant, "\xED\xE0\xF1\xEE\xF1 1"}};
    for (const auto& q : queries) {
        for (int i = api.next(q[0], q[1], from, to, -1); i >= 0; i = api.next(q[0], q[1], from, to, i)) {
            a.numbers.push_back(i);
            a.numbers.push_back(api.date("TIMERZN", i));
            a.numbers.push_back(api.date("TIMERZK", i));
        }
        a.numbers.push_back(-1);
    }
}

void convert_dates(Api& api, Answers& a) {
    for (double d = 40200.0; d < 40600.0; d += 13.375) {
        a.numbers.push_back(api.to_local(d));
        a.numbers.push_back(api.to_gmt(d));
        a.numbers.push_back(api.from_1970(d * 32000.0));
    }
}

using Work = void (*)(Api&, Answers&);
const Work kWork[] = {read_table, walk_plan, convert_dates};
const char* const kWorkNames[] = {"table", "plan", "dates"};

std::string g_table;
Answers g_want[3];
std::string g_names[kFields];

struct Worker {
    int index = 0;  // the last one only converts dates
    const char* text_buffer = nullptr;
    int faults = 0;
    char first_fault[160] = {};

    void fault(const char* what, int round) {
        if (faults++ == 0) std::snprintf(first_fault, sizeof first_fault, "%s in round %d", what, round);
    }
};

DWORD WINAPI work(LPVOID parameter) {
    auto* w = static_cast<Worker*>(parameter);
    Api api;
    const int field = w->index % kFields;
    for (int round = 0; round < kRounds; ++round) {
        const char* name = w->index < kReaders ? api.name(field) : nullptr;
        // The same table opened again never looks closed to the others.
        if (w->index == 0 && api.open_read(g_table.c_str()) != 1) w->fault("open again", round);
        for (int step = 0; step < 3; ++step) {
            const int k = w->index < kReaders ? (w->index + round + step) % 3 : 2;
            Answers now;
            kWork[k](api, now);
            if (!(now == g_want[k])) w->fault(kWorkNames[k], round);
        }
        if (!name) continue;
        if (name != g_names[field]) w->fault("the name held", round);
        const char* text = api.text(0, 0);
        if (w->text_buffer && text != w->text_buffer) w->fault("the text buffer moved", round);
        w->text_buffer = text;
    }
    return 0;
}

void many_threads() {
    Api api;
    if (!ok(api.next && api.to_local && api.from_1970, "exports missing")) return;
    clear_log();
    api.set_drive("");
    api.free();  // whatever an earlier group left
    g_table = work_path("threads.dbf");
    if (!ok(write_table(api, g_table), "writing %s failed", g_table.c_str())) return;
    if (!ok(write_plan(api), "writing the plan on X: failed")) return;

    ok(api.open_read(g_table.c_str()) == 1, "open for read failed");
    for (int k = 0; k < 3; ++k) kWork[k](api, g_want[k]);
    for (int f = 0; f < kFields; ++f) g_names[f] = api.name(f);
    ok(g_names[0] == kFieldName, "name of field 0: got %s", g_names[0].c_str());
    ok(g_want[1].numbers.size() > 20, "the plan walks found only %u numbers",
       static_cast<unsigned>(g_want[1].numbers.size()));
    api.free();  // the threads race to load it again
    const char* main_text = api.text(0, 0);

    Worker workers[kReaders + 1];
    HANDLE threads[kReaders + 1];
    for (int t = 0; t <= kReaders; ++t) {
        workers[t].index = t;
        threads[t] = CreateThread(nullptr, 0, work, &workers[t], 0, nullptr);
        ok(threads[t] != nullptr, "CreateThread %d: error %lu", t, GetLastError());
    }
    const DWORD waited = WaitForMultipleObjects(kReaders + 1, threads, TRUE, 300000);
    ok(waited == WAIT_OBJECT_0, "waiting for the threads: %lu", waited);
    for (HANDLE h : threads) CloseHandle(h);

    for (const Worker& w : workers)
        ok(w.faults == 0, "thread %d: %d answers differ, the first: %s", w.index, w.faults, w.first_fault);
    for (int t = 0; t < kReaders; ++t) {
        ok(workers[t].text_buffer && workers[t].text_buffer != main_text, "thread %d shares the main text buffer", t);
        for (int u = t + 1; u < kReaders; ++u)
            ok(workers[t].text_buffer != workers[u].text_buffer, "threads %d and %d share a text buffer", t, u);
    }
    ok(std::strcmp(main_text, g_want[0].texts[0].c_str()) == 0, "the main thread's text changed: %s", main_text);
    api.close();
    api.free();
    const std::vector<std::string> log = log_entries();
    ok(log.empty(), "unexpected messages: %u, the first: %s", static_cast<unsigned>(log.size()),
       log.empty() ? "" : log[0].c_str());
}

}  // namespace

void register_thread_groups(std::vector<Group>& out) { out.push_back({"threads", many_threads}); }

}  // namespace host
