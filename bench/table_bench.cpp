// How fast fields are read and records appended, through the exports,
// beside the same work done with shapelib's DBF API on the same file, and
// field reads also beside a bare positioned read of the same bytes per field:
// the floor under the library's promise that every read sees the file as it
// is at that moment.
//
//   read/hyl:        every field of every record, Hyl_GetFieldText (numbers
//                    through Hyl_GetFieldNumeric)
//   read/floor:      one pread of each field's bytes, nothing else
//   read/shapelib:   DBFReadStringAttribute / DBFReadDoubleAttribute
//   append/hyl:      create, define, 100,000 put-and-append, close
//   append/shapelib: DBFCreate, DBFAddField, DBFWrite*Attribute, DBFClose
//
// Run on demand: build/native/bench/table_bench
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "hyl.h"

#ifdef HYL_BENCH_SHAPELIB
#include <shapefil.h>
#endif

namespace {

constexpr int kRecords = 100000;

struct Field {
    const char* name;
    const char* type;
    int length, decimals;
};
const Field kFields[] = {{"NAME", "C", 20, 0}, {"QTY", "N", 10, 2}, {"DAY", "D", 8, 0}, {"NOTE", "C", 30, 0}};
constexpr int kFieldCount = 4;

std::string g_dir;
std::string table_path(const char* name) { return g_dir + "/" + name; }

// One record's values, different for every record.
void values(int r, std::string out[kFieldCount]) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "object %d", r);
    out[0] = buf;
    std::snprintf(buf, sizeof buf, "%10.2f", r * 0.25);
    out[1] = buf;
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", 1990 + r % 40, 1 + r % 12, 1 + r % 28);
    out[2] = buf;
    std::snprintf(buf, sizeof buf, "note for record number %d", r);
    out[3] = buf;
}

bool append_with_hyl(const std::string& path) {
    if (!Hyl_CreateDbf(kFieldCount, path.c_str())) return false;
    for (int f = 0; f < kFieldCount; ++f)
        if (!Hyl_CreateNewField(f, kFields[f].length, kFields[f].name, kFields[f].type, kFields[f].decimals))
            return false;
    if (!Hyl_OpenTableForAppend(path.c_str())) return false;
    std::string v[kFieldCount];
    for (int r = 0; r < kRecords; ++r) {
        values(r, v);
        for (int f = 0; f < kFieldCount; ++f) Hyl_PutField(v[f].c_str(), f);
        if (!Hyl_AppendRecord()) return false;
    }
    return Hyl_CloseTable() == 1;
}

void BM_AppendHyl(benchmark::State& state) {
    for (auto _ : state)
        if (!append_with_hyl(table_path("append-hyl.dbf"))) state.SkipWithError("append failed");
}

void BM_ReadHyl(benchmark::State& state) {
    const std::string path = table_path("read.dbf");
    if (!Hyl_OpenTableForRead(path.c_str())) {
        state.SkipWithError("open failed");
        return;
    }
    double sum = 0;
    for (auto _ : state) {
        for (int r = 0; r < kRecords; ++r) {
            for (int f = 0; f < kFieldCount; ++f) {
                if (f == 1)
                    sum += Hyl_GetFieldNumeric(r, f);
                else
                    benchmark::DoNotOptimize(Hyl_GetFieldText(r, f));
            }
        }
    }
    benchmark::DoNotOptimize(sum);
    Hyl_CloseTable();
}

void BM_ReadFloor(benchmark::State& state) {
    const std::string path = table_path("read.dbf");
    int fd = open(path.c_str(), O_RDONLY);
    const int header = 32 * kFieldCount + 33;
    int offsets[kFieldCount], record = 1;
    for (int f = 0; f < kFieldCount; ++f) {
        offsets[f] = record;
        record += kFields[f].length;
    }
    char buf[512];
    for (auto _ : state) {
        for (int r = 0; r < kRecords; ++r)
            for (int f = 0; f < kFieldCount; ++f)
                benchmark::DoNotOptimize(
                    pread(fd, buf, kFields[f].length, header + static_cast<off_t>(r) * record + offsets[f]));
    }
    close(fd);
}

#ifdef HYL_BENCH_SHAPELIB
void BM_AppendShapelib(benchmark::State& state) {
    for (auto _ : state) {
        DBFHandle dbf = DBFCreateEx(table_path("append-shp.dbf").c_str(), "LDID/101");
        for (const Field& f : kFields)
            DBFAddNativeFieldType(dbf, f.name, f.type[0], f.length, f.decimals);
        std::string v[kFieldCount];
        for (int r = 0; r < kRecords; ++r) {
            values(r, v);
            DBFWriteStringAttribute(dbf, r, 0, v[0].c_str());
            DBFWriteDoubleAttribute(dbf, r, 1, r * 0.25);
            DBFWriteStringAttribute(dbf, r, 2, v[2].c_str());
            DBFWriteStringAttribute(dbf, r, 3, v[3].c_str());
        }
        DBFClose(dbf);
    }
}

void BM_ReadShapelib(benchmark::State& state) {
    DBFHandle dbf = DBFOpen(table_path("read.dbf").c_str(), "rb");
    if (!dbf) {
        state.SkipWithError("open failed");
        return;
    }
    double sum = 0;
    for (auto _ : state) {
        for (int r = 0; r < kRecords; ++r) {
            benchmark::DoNotOptimize(DBFReadStringAttribute(dbf, r, 0));
            sum += DBFReadDoubleAttribute(dbf, r, 1);
            benchmark::DoNotOptimize(DBFReadStringAttribute(dbf, r, 2));
            benchmark::DoNotOptimize(DBFReadStringAttribute(dbf, r, 3));
        }
    }
    benchmark::DoNotOptimize(sum);
    DBFClose(dbf);
}
#endif

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration) times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    double ratio(const std::string& a, const std::string& b) const {
        auto x = times.find(a), y = times.find(b);
        return x != times.end() && y != times.end() && y->second > 0 ? x->second / y->second : 0.0;
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/hyl-table-bench-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) return 1;
    g_dir = dir;
    if (!append_with_hyl(table_path("read.dbf"))) {
        std::fprintf(stderr, "table_bench: cannot make %s\n", table_path("read.dbf").c_str());
        return 1;
    }
    benchmark::RegisterBenchmark("read/hyl", BM_ReadHyl)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("read/floor", BM_ReadFloor)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("append/hyl", BM_AppendHyl)->Unit(benchmark::kMillisecond);
#ifdef HYL_BENCH_SHAPELIB
    benchmark::RegisterBenchmark("read/shapelib", BM_ReadShapelib)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("append/shapelib", BM_AppendShapelib)->Unit(benchmark::kMillisecond);
#endif
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("ratio read hyl/floor      %.3f\n", reporter.ratio("read/hyl", "read/floor"));
#ifdef HYL_BENCH_SHAPELIB
    std::printf("ratio read hyl/shapelib   %.3f\n", reporter.ratio("read/hyl", "read/shapelib"));
    std::printf("ratio append hyl/shapelib %.3f\n", reporter.ratio("append/hyl", "append/shapelib"));
#endif
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
    return 0;
}
