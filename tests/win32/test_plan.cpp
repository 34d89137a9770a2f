// The monthly plan lookup through the real DLL: a plan on drive X: (the
// built-in path), written through the DLL's own table exports, walked as a
// host walks it; the dates of each hit; the image held until freed; and the
// drive override to a plan on P:.
//
// The runner maps X: and P: to scratch folders.  Every search range lies in
// 2010, where the zone this group runs in (UTC+3) has no daylight saving.
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

struct Api : TableApi {
    SetNDisk set_drive = fn<SetNDisk>("_Hyl_SetNDisk@4");
    NextMesplan next = fn<NextMesplan>("_Hyl_pMonZvkGetNextMesplan@28");
    PlanDate date = fn<PlanDate>("_Hyl_pMonZvkGetDate@8");
    NoArgs free = fn<NoArgs>("_Hyl_pMonZvkFreeResource@0");
};

// Names in Windows-1251, as a host passes them; stored in 866.
#define KOTELNAYA "\xCA\xEE\xF2\xE5\xEB\xFC\xED\xE0\xFF"  // Котельная
#define NASOS "\xCD\xE0\xF1\xEE\xF1"                      // Насос
const char kBoiler1[] = KOTELNAYA " \xB9 1";               // Котельная № 1
const char kBoiler2Lower[] = "\xEA\xEE\xF2\xE5\xEB\xFC\xED\xE0\xFF \xB9 2";  // котельная № 2
const char kBoiler1Upper[] = "\xCA\xCE\xD2\xC5\xCB\xDC\xCD\xC0\xDF \xB9 1";  // КОТЕЛЬНАЯ № 1
const char kBoiler[] = KOTELNAYA;
const char kPump[] = NASOS;
const char kPump1[] = NASOS " 1";
const char kPump2[] = NASOS " 2";
const char kPump1Upper[] = "\xCD\xC0\xD1\xCE\xD1 1";     // НАСОС 1
const char kPump1Lower[] = "\xED\xE0\xF1\xEE\xF1 1";     // насос 1
const char kPumpHouse[] = NASOS "\xED\xE0\xFF";          // Насосная
const char kNewBoiler[] = "\xCD\xEE\xE2\xE0\xFF \xEA\xEE\xF2\xE5\xEB\xFC\xED\xE0\xFF";  // Новая котельная
const char kNew[] = "\xCD\xEE\xE2\xE0\xFF";                                             // Новая
const char kObjectOnP[] = "\xCE\xE1\xFA\xE5\xEA\xF2 \xED\xE0 P";                        // Объект на P
const char kObject[] = "\xCE\xE1\xFA\xE5\xEA\xF2";                                      // Объект
#undef KOTELNAYA
#undef NASOS

// Seconds from 1601-01-01 of a wall-clock time, by the system's own calendar.
int64_t seconds_1601(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return static_cast<int64_t>(u.QuadPart / 10000000ULL);
}

// The local DATE of a wall-clock time (from 1899-12-30 on).
double ole(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    return static_cast<double>(seconds_1601(y, m, d, h, mi, s) - seconds_1601(1899, 12, 30)) / 86400.0;
}

// Local seconds, as TIMERZN and TIMERZK hold them: 86,400 x days since
// 1979-12-31 + seconds of the day.
int64_t local_sec(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    return seconds_1601(y, m, d, h, mi, s) - seconds_1601(1979, 12, 31);
}

struct Entry {
    const char* object;     // 1251
    const char* equipment;  // 1251
    int64_t start;          // TIMERZN
    int64_t end;            // TIMERZK
    const char* nce;
};

std::string oem(const char* ansi) {
    std::string s = ansi;
    CharToOemA(s.data(), s.data());
    return s;
}

// Appends entries to the current table, numbers right-aligned as peers write them.
bool append_entries(Api& api, const std::vector<Entry>& entries) {
    bool all = true;
    for (const Entry& e : entries) {
        char nce[16], start[24], end[24];
        std::snprintf(nce, sizeof nce, "%8s", e.nce);
        std::snprintf(start, sizeof start, "%12lld", static_cast<long long>(e.start));
        std::snprintf(end, sizeof end, "%12lld", static_cast<long long>(e.end));
        api.put(nce, 0);
        api.put(oem(e.object).c_str(), 1);
        api.put(oem(e.equipment).c_str(), 2);
        api.put(start, 3);
        api.put(end, 4);
        all = api.append() == 1 && all;
    }
    return all;
}

std::string plan_path(char drive) { return std::string(1, drive) + ":\\QUV\\HYL_CE\\zmec.dbf"; }

// Writes a new plan at the built-in path on DRIVE through the DLL's exports.
bool write_plan(Api& api, char drive, const std::vector<Entry>& entries) {
    const std::string root = std::string(1, drive) + ":";
    CreateDirectoryA((root + "\\QUV").c_str(), nullptr);
    CreateDirectoryA((root + "\\QUV\\HYL_CE").c_str(), nullptr);
    const std::string path = plan_path(drive);
    bool made = api.create(5, path.c_str()) == 1 && api.define(0, 8, "NCE", "N", 0) == 1 &&
                api.define(1, 40, "NAMEOBJ", "C", 0) == 1 && api.define(2, 70, "NAMEEQU", "C", 0) == 1 &&
                api.define(3, 12, "TIMERZN", "N", 0) == 1 && api.define(4, 12, "TIMERZK", "N", 0) == 1 &&
                api.open_append(path.c_str()) == 1 && append_entries(api, entries);
    api.close();
    return ok(made, "writing the plan %s failed", path.c_str());
}

// Every entry a host would get: previous index -1, then each returned index.
std::vector<int> walk(Api& api, const char* object, const char* equipment, double from, double to) {
    std::vector<int> hits;
    for (int r = api.next(object, equipment, from, to, -1); r != -1 && hits.size() < 100;
         r = api.next(object, equipment, from, to, r))
        hits.push_back(r);
    return hits;
}

std::string list(const std::vector<int>& v) {
    std::string s = "{";
    for (size_t i = 0; i < v.size(); ++i) s += (i ? "," : "") + std::to_string(v[i]);
    return s + "}";
}

// The plan on X:.  Record 6 ends at 2010-03-12 23:59:30, which must end its
// period with the 12th, not the 13th.
std::vector<Entry> x_plan() {
    return {
        {kBoiler1, kPump1, 952776000, 952934400, "1"},  // 2010-03-10 12:00 .. 2010-03-12 08:00
        {kBoiler1, kPump2, local_sec(2010, 3, 15), local_sec(2010, 3, 20, 18), "1"},
        {kBoiler1, kPump1, local_sec(2010, 4, 1), local_sec(2010, 4, 30), "1"},
        {kBoiler1, kPump1, local_sec(2010, 3, 11), local_sec(2010, 3, 11), "0"},  // takes no part
        {kPumpHouse, kPump1, local_sec(2010, 3, 5), local_sec(2010, 3, 6), "1"},
        {kBoiler2Lower, kPump1Upper, local_sec(2010, 3, 25, 6), local_sec(2010, 4, 2, 6), "2"},
        {kBoiler1, kPump1, local_sec(2010, 3, 12), 952991970, "1"},
        {kBoiler1, kPump1, local_sec(2010, 3, 20), local_sec(2010, 3, 21), "0.5"},  // truncates to 0
    };
}

void walks_and_dates(Api& api) {
    struct Walk {
        const char* what;
        const char* object;
        const char* equipment;
        double from, to;
        std::vector<int> hits;
    } walks[] = {
        {"prefixes in March", kBoiler, kPump, ole(2010, 3, 1), ole(2010, 4, 1), {0, 1, 5, 6}},
        {"other case, March and April", kBoiler1Upper, kPump1Lower, ole(2010, 3, 1), ole(2010, 5, 1), {0, 2, 6}},
        {"empty names", "", "", ole(2010, 3, 5), ole(2010, 3, 6), {4}},
        {"null names", nullptr, nullptr, ole(2010, 3, 5, 12), ole(2010, 3, 10, 0, 0, 1), {0, 4}},
        {"from the end of the 12th", kBoiler1, kPump1, ole(2010, 3, 12, 23, 59, 59), ole(2010, 4, 1), {0, 6}},
        {"from the 13th", kBoiler1, kPump1, ole(2010, 3, 13), ole(2010, 4, 1), {}},
        {"no such object", kNew, nullptr, ole(2010, 1, 1), ole(2011, 1, 1), {}},
    };
    for (const Walk& w : walks) {
        const std::vector<int> got = walk(api, w.object, w.equipment, w.from, w.to);
        ok(got == w.hits, "walk %s: got %s, expected %s", w.what, list(got).c_str(), list(w.hits).c_str());
    }
    // The previous index past the last record, and below -1.
    const int last = api.next(kBoiler, kPump, ole(2010, 3, 1), ole(2010, 4, 1), 7);
    ok(last == -1, "previous index 7 of 8: got %d, expected -1", last);
    const int low = api.next(kBoiler, kPump, ole(2010, 3, 1), ole(2010, 4, 1), -5);
    ok(low == 0, "previous index -5: got %d, expected 0", low);

    // The dates of each hit of the first walk: the first day of the period
    // and the day after its last.
    struct Dates {
        int record;
        double start, after_end;
    } dates[] = {
        {0, 40247.0, 40250.0},
        {1, ole(2010, 3, 15), ole(2010, 3, 21)},
        {5, ole(2010, 3, 25), ole(2010, 4, 3)},
        {6, ole(2010, 3, 12), 40250.0},
    };
    for (const Dates& d : dates) {
        const double start = api.date("TIMERZN", d.record), end = api.date("TIMERZK", d.record);
        ok(start == d.start, "TIMERZN of %d: got %.17g, expected %.17g", d.record, start, d.start);
        ok(end == d.after_end, "TIMERZK of %d: got %.17g, expected %.17g", d.record, end, d.after_end);
    }
    ok(api.date("timerzk", 0) == 40250.0, "timerzk of 0: got %.17g", api.date("timerzk", 0));
    ok(api.date("TIMERZN", 8) == 0.0, "TIMERZN of record 8 of 8: got %.17g", api.date("TIMERZN", 8));
    ok(api.date("TIMERZN", -1) == 0.0, "TIMERZN of record -1: got %.17g", api.date("TIMERZN", -1));
    ok(api.date("NOPE", 0) == 0.0, "NOPE of 0: got %.17g", api.date("NOPE", 0));
}

// The image does not follow the file until it is freed.
void reload_after_change(Api& api) {
    const double from = ole(2010, 3, 1), to = ole(2010, 4, 1);
    ok(api.next(kBoiler, kPump, from, to, -1) == 0, "the image should be held");
    const std::string path = plan_path('X');
    const Entry added{kNewBoiler, kPump1, local_sec(2010, 3, 2), local_sec(2010, 3, 3), "1"};
    const bool appended = api.open_append(path.c_str()) == 1 && append_entries(api, {added});
    api.close();
    ok(appended, "appending to the plan failed");
    int got = api.next(kNew, nullptr, from, to, -1);
    ok(got == -1, "the new entry before the free: got %d, expected -1", got);
    ok(api.date("TIMERZN", 8) == 0.0, "TIMERZN of record 8 before the free: got %.17g", api.date("TIMERZN", 8));
    got = api.free();
    ok(got == 1, "free: got %d, expected 1", got);
    ok(api.date("TIMERZN", 0) == 0.0, "TIMERZN with no image: got %.17g", api.date("TIMERZN", 0));
    got = api.next(kNew, nullptr, from, to, -1);
    ok(got == 8, "the new entry after the free: got %d, expected 8", got);
    ok(api.date("TIMERZN", 8) == ole(2010, 3, 2), "TIMERZN of record 8: got %.17g, expected %.17g",
       api.date("TIMERZN", 8), ole(2010, 3, 2));
    const std::vector<int> hits = walk(api, kBoiler, kPump, from, to);
    ok(hits == std::vector<int>({0, 1, 5, 6}), "walk after the reload: got %s", list(hits).c_str());
}

// The override takes the drive letter from the next load on.
void drive_override(Api& api) {
    if (!write_plan(api, 'P', {{kObjectOnP, kPump1, local_sec(2010, 3, 1), local_sec(2010, 3, 31), "1"}})) return;
    const double from = ole(2010, 3, 1), to = ole(2010, 4, 1);
    ok(api.next(kBoiler, kPump, from, to, -1) == 0, "the image of X: should be held");
    api.set_drive("P");
    int got = api.next(kObject, nullptr, from, to, -1);
    ok(got == -1, "P: while the X: image is held: got %d, expected -1", got);
    got = api.next(kBoiler, kPump, from, to, -1);
    ok(got == 0, "X: while its image is held: got %d, expected 0", got);

    ok(api.free() == 1, "free");
    std::vector<int> hits = walk(api, kObject, nullptr, from, to);
    ok(hits == std::vector<int>({0}), "walk on P: got %s, expected {0}", list(hits).c_str());
    hits = walk(api, kBoiler, nullptr, from, to);
    ok(hits.empty(), "X: entries on P: got %s, expected {}", list(hits).c_str());
    ok(api.date("TIMERZK", 0) == ole(2010, 4, 1), "TIMERZK on P: got %.17g, expected %.17g", api.date("TIMERZK", 0),
       ole(2010, 4, 1));

    api.set_drive("X");
    ok(api.free() == 1, "free");
    hits = walk(api, kBoiler, kPump, from, to);
    ok(hits == std::vector<int>({0, 1, 5, 6}), "walk back on X: got %s, expected {0,1,5,6}", list(hits).c_str());
    got = api.next(kObject, nullptr, from, to, -1);
    ok(got == -1, "the P: entry back on X: got %d, expected -1", got);
}

// Periods past the 32-bit time count (2038-01-19) and past 32-bit local
// seconds (2048-01-18), in a plan of their own on P:.
void late_periods(Api& api) {
    const std::vector<Entry> entries = {
        {kBoiler1, kPump1, local_sec(2037, 12, 20), local_sec(2038, 1, 25, 12), "1"},
        {kBoiler1, kPump1, local_sec(2040, 5, 1, 8), local_sec(2040, 5, 31, 17), "1"},
        {kBoiler1, kPump1, 2200000000, 2300000000, "1"},  // 2049-09-16 23:06:40 .. 2052-11-17 08:53:20
        {kBoiler1, kPump1, local_sec(2400, 2, 29), 999999999999, "1"},  // ends past 9999
    };
    if (!write_plan(api, 'P', entries)) return;
    api.set_drive("P");
    api.free();
    struct Walk {
        double from, to;
        std::vector<int> hits;
    } walks[] = {
        {ole(2038, 1, 19), ole(2038, 1, 20), {0}},
        {ole(2037, 11, 1), ole(2038, 2, 1), {0}},
        {ole(2040, 5, 31, 23), ole(2040, 6, 2), {1}},
        {ole(2040, 6, 1), ole(2049, 9, 16), {}},
        {ole(2050, 1, 1), ole(2400, 3, 1), {2, 3}},
    };
    for (const Walk& w : walks) {
        const std::vector<int> got = walk(api, kBoiler, kPump, w.from, w.to);
        ok(got == w.hits, "late walk from %.17g: got %s, expected %s", w.from, list(got).c_str(),
           list(w.hits).c_str());
    }
    const struct {
        int record;
        double start, after_end;
    } dates[] = {
        {0, ole(2037, 12, 20), ole(2038, 1, 26)},
        {1, ole(2040, 5, 1), ole(2040, 6, 1)},
        {2, ole(2049, 9, 16), ole(2052, 11, 18)},
        {3, ole(2400, 2, 29), 0.0},  // no DATE past 9999
    };
    for (const auto& d : dates) {
        const double start = api.date("TIMERZN", d.record), end = api.date("TIMERZK", d.record);
        ok(start == d.start && end == d.after_end, "late dates of %d: got %.17g and %.17g, expected %.17g and %.17g",
           d.record, start, end, d.start, d.after_end);
    }
    api.set_drive("X");
    api.free();
}

void plan() {
    Api api;
    if (!ok(api.next && api.date && api.free && api.set_drive, "plan exports missing")) return;
    clear_log();
    api.free();  // whatever an earlier group left
    if (!write_plan(api, 'X', x_plan())) return;
    // NAMEOBJ of record 0 after a 193-byte header and the record's flag and NCE.
    const std::vector<uint8_t> bytes = read_bytes(plan_path('X'));
    ok(bytes.size() == 193 + 8 * 143 && std::memcmp(&bytes[193 + 9], "\x8A\xAE\xE2", 3) == 0,
       "the plan on X: is not 8 records with names in 866: %u bytes", static_cast<unsigned>(bytes.size()));
    walks_and_dates(api);
    reload_after_change(api);
    drive_override(api);
    late_periods(api);
    api.free();
    const std::vector<std::string> log = log_entries();
    ok(log.empty(), "unexpected messages: %u, the first: %s", static_cast<unsigned>(log.size()),
       log.empty() ? "" : log[0].c_str());
}

}  // namespace

void register_plan_groups(std::vector<Group>& out) { out.push_back({"plan", plan}); }

}  // namespace host
