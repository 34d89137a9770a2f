// How fast a plan search is: a generated plan of 100,000 entries (about
// 13.5 MB, most of the 15,000,000-byte limit of the table image), searched
// through the library's exports, beside the same search written with
// shapelib's DBF API as a user would otherwise write it.
//
//   full pass, no object:  a search whose object no entry has
//   full pass, no dates:   every entry's names match, no period meets the range
//   walk, 1 in 100:        a host's walk over all 1,000 matches (1,001 calls)
//
// shapelib runs twice: reading the file through its own hooks (a seek and
// a read per record, as a user gets it), and through hooks over a copy of
// the file in memory (its work alone, the fairer reference where system
// calls are dear).  After the runs the ratio of our time to each is printed.
// Both sides must find the same entries; the program stops if they do not.
// Run on demand: build/native/bench/plan_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "hyl.h"
#include "platform/codepage.h"

#ifdef HYL_BENCH_SHAPELIB
#include <shapefil.h>
#endif

namespace {

constexpr int kRecords = 100000;
constexpr int kMatchEvery = 100;

// Local seconds (days from 1979-12-31, wall clock) and DATEs of calendar days.
int32_t local_sec(int y, unsigned m, unsigned d, int hh = 0) {
    using namespace std::chrono;
    const auto days = (sys_days{year{y} / month{m} / day{d}} - sys_days{1979y / December / 31}).count();
    return static_cast<int32_t>(days * 86400 + hh * 3600);
}

double ole(int y, unsigned m, unsigned d) {
    using namespace std::chrono;
    return static_cast<double>(
        (sys_days{year{y} / month{m} / day{d}} - sys_days{1899y / December / 30}).count());
}

struct Query {
    const char* name;
    std::string object, equipment;  // Windows-1251
    double from, to;
};

std::string ansi(const char* utf8) { return hyl::utf8_to_ansi(utf8); }

std::string oem(const std::string& utf8) {
    std::string s = hyl::utf8_to_ansi(utf8);
    hyl::ansi_to_oem(s.data());
    return s;
}

std::vector<Query> queries() {
    return {
        {"full pass, no object", ansi("Подстанция"), "", ole(2010, 3, 1), ole(2010, 4, 1)},
        {"full pass, no dates", ansi("котельная"), ansi("КОТ"), ole(2009, 1, 1), ole(2009, 2, 1)},
        {"walk, 1 in 100", ansi("Котельная"), ansi("котёл"), ole(2010, 3, 1), ole(2010, 4, 1)},
    };
}

std::string right(const std::string& value, int width) {
    return std::string(static_cast<std::size_t>(width) - value.size(), ' ') + value;
}

// Writes the plan with the library's own create and append exports.  Every
// entry's names begin "Котельная" and "котёл"; one in 100 has its period in
// March 2010, the others in 2011.
bool make_plan(const std::string& path) {
    struct Field {
        const char* name;
        const char* type;
        int length;
    } fields[] = {{"ID", "N", 6},       {"NCE", "N", 4},      {"NAMEOBJ", "C", 40},
                  {"NAMEEQU", "C", 60}, {"TIMERZN", "N", 12}, {"TIMERZK", "N", 12}};
    if (!Hyl_CreateDbf(6, path.c_str())) return false;
    for (int i = 0; i < 6; ++i)
        if (!Hyl_CreateNewField(i, fields[i].length, fields[i].name, fields[i].type, 0)) return false;
    if (!Hyl_OpenTableForAppend(path.c_str())) return false;
    std::vector<std::string> objects, equipment;
    for (int k = 0; k < 37; ++k)
        objects.push_back(
            oem("Котельная № " + std::to_string(k + 1) + " (район " + std::to_string(k % 7 + 1) + ")"));
    for (int k = 0; k < 5; ++k)
        equipment.push_back(oem("котёл ДКВР-10/13 № " + std::to_string(k + 1) + ", водогрейный контур"));
    unsigned seed = 12345;
    auto next_random = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    for (int i = 0; i < kRecords; ++i) {
        const bool match = i % kMatchEvery == 0;
        const int32_t start = match ? local_sec(2010, 3, 1 + next_random() % 25, 8)
                                    : local_sec(2011, 1 + next_random() % 12, 1 + next_random() % 25, 8);
        const int32_t end = start + static_cast<int32_t>(next_random() % 4) * 86400 + 9 * 3600;
        const std::string values[] = {right(std::to_string(i), 6),      right("1", 4),
                                      objects[i % objects.size()],      equipment[i % equipment.size()],
                                      right(std::to_string(start), 12), right(std::to_string(end), 12)};
        for (int f = 0; f < 6; ++f)
            Hyl_PutField(values[f].c_str(), f);
        if (!Hyl_AppendRecord()) return false;
    }
    Hyl_CloseTable();
    return true;
}

std::vector<int> walk_ours(const Query& q) {
    std::vector<int> hits;
    for (int r = Hyl_pMonZvkGetNextMesplan(q.object.c_str(), q.equipment.c_str(), q.from, q.to, -1); r != -1;
         r = Hyl_pMonZvkGetNextMesplan(q.object.c_str(), q.equipment.c_str(), q.from, q.to, r))
        hits.push_back(r);
    return hits;
}

void BM_Ours(benchmark::State& state, Query q) {
    std::size_t hits = 0;
    for (auto _ : state) {
        hits = walk_ours(q).size();
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = static_cast<double>(hits);
}

#ifdef HYL_BENCH_SHAPELIB
// The search as a user writes it with shapelib: the fields found once when
// the table is opened, each value read through the attribute calls, names
// converted from 866 and compared by prefix without regard to case.
struct ShpPlan {
    DBFHandle dbf = nullptr;
    int count = 0, nce = -1, object = -1, equipment = -1, start = -1, end = -1;
};

unsigned char lower_1251(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDF && c != 0xDA))
        return static_cast<unsigned char>(c + 0x20);
    return c;
}

bool prefix_matches(const char* stored, const char* wanted) {
    if (!*stored) return false;
    for (; *wanted; ++stored, ++wanted)
        if (lower_1251(static_cast<unsigned char>(*stored)) !=
            lower_1251(static_cast<unsigned char>(*wanted)))
            return false;
    return true;
}

bool name_matches(const ShpPlan& p, int record, int field, std::size_t limit, const std::string& wanted) {
    char text[64] = {};
    std::strncpy(text, DBFReadStringAttribute(p.dbf, record, field), limit);
    // shapelib trims the blanks; only the bytes cut at the limit may leave some.
    for (std::size_t n = std::strlen(text); n > 0 && static_cast<unsigned char>(text[n - 1]) <= 0x20; --n)
        text[n - 1] = 0;
    hyl::oem_to_ansi(text);
    return prefix_matches(text, wanted.c_str());
}

int64_t day_start(int32_t v) { return v - v % 86400; }

int shp_next(const ShpPlan& p, const Query& q, int32_t from_sec, int32_t to_sec, int previous) {
    for (int r = previous + 1; r < p.count; ++r) {
        if (DBFReadIntegerAttribute(p.dbf, r, p.nce) == 0) continue;
        if (!name_matches(p, r, p.object, 31, q.object)) continue;
        if (!name_matches(p, r, p.equipment, 63, q.equipment)) continue;
        const auto start = static_cast<int32_t>(DBFReadDoubleAttribute(p.dbf, r, p.start));
        if (start == 0) continue;
        const auto end = static_cast<int32_t>(DBFReadDoubleAttribute(p.dbf, r, p.end));
        if (end == 0) continue;
        if (day_start(start) < to_sec && from_sec < day_start(end) + 86400) return r;
    }
    return -1;
}

int32_t local_sec_of_date(double date) {
    return static_cast<int32_t>(std::llround((date - ole(1979, 12, 31)) * 86400.0));
}

std::vector<int> walk_shapelib(const ShpPlan& p, const Query& q) {
    const int32_t from_sec = local_sec_of_date(q.from), to_sec = local_sec_of_date(q.to);
    std::vector<int> hits;
    for (int r = shp_next(p, q, from_sec, to_sec, -1); r != -1; r = shp_next(p, q, from_sec, to_sec, r))
        hits.push_back(r);
    return hits;
}

// shapelib reading through its file hooks (one seek per record), and
// through hooks over a copy of the file in memory, which leaves only its
// own work: the fairer reference where system calls are dear.
struct MemoryFile {
    std::vector<char> bytes;
    std::size_t position = 0;
};

SAFile memory_open(const char* filename, const char* access) {
    if (std::strchr(access, 'w') || std::strchr(access, '+')) return nullptr;
    std::FILE* f = std::fopen(filename, "rb");
    if (!f) return nullptr;
    auto* m = new MemoryFile;
    char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
        m->bytes.insert(m->bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return reinterpret_cast<SAFile>(m);
}

SAOffset memory_read(void* p, SAOffset size, SAOffset count, SAFile file) {
    auto* m = reinterpret_cast<MemoryFile*>(file);
    const std::size_t available = m->bytes.size() - std::min(m->position, m->bytes.size());
    const std::size_t whole = size ? std::min<std::size_t>(count, available / size) : 0;
    std::memcpy(p, m->bytes.data() + m->position, whole * size);
    m->position += whole * size;
    return whole;
}

SAOffset memory_write(void*, SAOffset, SAOffset, SAFile) { return 0; }

SAOffset memory_seek(SAFile file, SAOffset offset, int whence) {
    auto* m = reinterpret_cast<MemoryFile*>(file);
    const std::size_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? m->bytes.size() : 0;
    m->position = base + offset;
    return 0;
}

SAOffset memory_tell(SAFile file) { return reinterpret_cast<MemoryFile*>(file)->position; }
int memory_flush(SAFile) { return 0; }
int memory_close(SAFile file) {
    delete reinterpret_cast<MemoryFile*>(file);
    return 0;
}
int memory_remove(const char*) { return -1; }
void memory_error(const char* message) { std::fprintf(stderr, "shapelib: %s\n", message); }

ShpPlan open_shapelib(const std::string& path, bool in_memory) {
    ShpPlan p;
    if (in_memory) {
        SAHooks hooks;
        SASetupDefaultHooks(&hooks);
        hooks.FOpen = memory_open;
        hooks.FRead = memory_read;
        hooks.FWrite = memory_write;
        hooks.FSeek = memory_seek;
        hooks.FTell = memory_tell;
        hooks.FFlush = memory_flush;
        hooks.FClose = memory_close;
        hooks.Remove = memory_remove;
        hooks.Error = memory_error;
        p.dbf = DBFOpenLL(path.c_str(), "rb", &hooks);
    } else {
        p.dbf = DBFOpen(path.c_str(), "rb");
    }
    if (!p.dbf) return p;
    p.count = DBFGetRecordCount(p.dbf);
    p.nce = DBFGetFieldIndex(p.dbf, "NCE");
    p.object = DBFGetFieldIndex(p.dbf, "NAMEOBJ");
    p.equipment = DBFGetFieldIndex(p.dbf, "NAMEEQU");
    p.start = DBFGetFieldIndex(p.dbf, "TIMERZN");
    p.end = DBFGetFieldIndex(p.dbf, "TIMERZK");
    return p;
}

struct Reference {
    const char* name;
    bool in_memory;
    ShpPlan plan;
};
Reference g_references[] = {{"shapelib", false, {}}, {"shapelib-memory", true, {}}};

void BM_Shapelib(benchmark::State& state, const ShpPlan* plan, Query q) {
    std::size_t hits = 0;
    for (auto _ : state) {
        hits = walk_shapelib(*plan, q).size();
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = static_cast<double>(hits);
}
#endif

// Keeps each run's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration) times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/hyl-plan-bench-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (!root) return 1;
    const std::filesystem::path dir = std::filesystem::path(root) / "QUV" / "HYL_CE";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "zmec.dbf").string();
    setenv("HYL_DRIVE_X", root, 1);
    setenv("TZ", "UTC0", 1);
    int status = 0;
    if (!make_plan(path)) {
        std::fprintf(stderr, "plan_bench: cannot write %s\n", path.c_str());
        status = 1;
    }
    const auto size = status ? 0 : std::filesystem::file_size(path);
    if (!status) std::printf("plan: %d records, %ju bytes\n", kRecords, static_cast<uintmax_t>(size));

#ifdef HYL_BENCH_SHAPELIB
    for (Reference& ref : g_references) {
        if (status) break;
        ref.plan = open_shapelib(path, ref.in_memory);
        if (!ref.plan.dbf) {
            std::fprintf(stderr, "plan_bench: %s cannot open %s\n", ref.name, path.c_str());
            status = 1;
        }
    }
#else
    std::printf("shapelib was not found when this was built: no reference, no ratios\n");
#endif

    // The first search loads the image; it stays for every run below.
    for (const Query& q : status ? std::vector<Query>{} : queries()) {
        const auto ours = walk_ours(q);
        std::printf("%-22s %zu matches\n", q.name, ours.size());
        benchmark::RegisterBenchmark((std::string("ours/") + q.name).c_str(), BM_Ours, q)
            ->Unit(benchmark::kMillisecond);
#ifdef HYL_BENCH_SHAPELIB
        for (const Reference& ref : g_references) {
            if (walk_shapelib(ref.plan, q) != ours) {
                std::fprintf(stderr, "plan_bench: %s finds other entries for '%s'\n", ref.name, q.name);
                status = 1;
            }
            benchmark::RegisterBenchmark((std::string(ref.name) + "/" + q.name).c_str(), BM_Shapelib,
                                         &ref.plan, q)
                ->Unit(benchmark::kMillisecond);
        }
#endif
    }

    if (!status) {
        benchmark::Initialize(&argc, argv);
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
#ifdef HYL_BENCH_SHAPELIB
        for (const Reference& ref : g_references)
            for (const Query& q : queries()) {
                auto ours = reporter.times.find(std::string("ours/") + q.name);
                auto theirs = reporter.times.find(std::string(ref.name) + "/" + q.name);
                if (ours != reporter.times.end() && theirs != reporter.times.end() && theirs->second > 0)
                    std::printf("ratio ours/%-16s %-22s %.3f\n", ref.name, q.name,
                                ours->second / theirs->second);
            }
#endif
    }
    Hyl_pMonZvkFreeResource();
#ifdef HYL_BENCH_SHAPELIB
    for (Reference& ref : g_references)
        if (ref.plan.dbf) DBFClose(ref.plan.dbf);
#endif
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return status;
}
