// Checks and repairs a table made of arbitrary bytes.  Without faults the
// whole-table snapshot must read every field as the exports read it; then,
// with the fault plan at the front of the input holding the file elsewhere,
// cutting reads short and stopping writes, check and repair must never
// read outside what they were given, a backup must hold the bytes repair
// began from, a repair that could not work must have written nothing when
// it made no backup, and the header any other repair leaves must count no
// record the file lacks unless it is the count the table came with.
//
// A memo file may follow the table: the bytes after the last "#MEMO" in the
// input are TABLE.FPT when the byte after the marker is odd, TABLE.DBT when
// it is even, and every value of the first records is read through the typed
// reader, memo entries and all.  Repair must leave the memo file as it was.
#include <cstring>
#include <string>
#include <string_view>

#include "tables/check.h"
#include "tables/repair.h"
#include "tables/snapshot.h"
#include "tables/table.h"
#include "hyl.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

constexpr char kPath[] = "C:\\DATA\\TABLE.DBF";
constexpr char kBackup[] = "C:\\DATA\\TABLE.DBF.bak";
constexpr char kMemoMarker[] = "#MEMO";

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
int16_t le16(const uint8_t* p) { return static_cast<int16_t>(p[0] | p[1] << 8); }

void must(bool condition) {
    if (!condition) __builtin_trap();
}

// A few records and fields of the snapshot against the exports.
void snapshot_reads_as_the_exports(const uint8_t* data, std::size_t size) {
    hylfuzz::put_file(kPath, data, size);
    hyl::Snapshot scan;
    const bool scanned = scan.open(kPath, false) == hyl::SnapshotStatus::kOpened;
    must(scanned == (Hyl_OpenTableForRead(kPath) == 1));
    if (!scanned) return;
    const int fields = Hyl_GetQFields();
    must(fields == static_cast<int>(scan.fields().size()));
    for (int f = 0; f < fields && f < 16; ++f) must(scan.field_name(f) == Hyl_GetFieldName(f));
    const int records = Hyl_GetQRecords() < 4 ? Hyl_GetQRecords() : 4;
    char text[256];
    scan.for_each_block(0, records, [&](int64_t first, int64_t count, const uint8_t* bytes) {
        for (int64_t k = 0; k < count; ++k)
            for (int f = 0; f < fields && f < 16; ++f) {
                scan.field_text(bytes + k * scan.record_length(), f, text);
                must(std::strcmp(text, Hyl_GetFieldText(static_cast<int>(first + k), f)) == 0);
            }
        return true;
    });
    Hyl_CloseTable();
}

// Every value of the first records, with their memos.
void read_values() {
    hyl::TableReader table;
    if (table.open(kPath) != hyl::ReaderStatus::kOpened) return;
    hyl::Value v;
    table.for_each_batch(0, std::min<int64_t>(table.record_count(), 8), [&](const hyl::RecordBatch& batch) {
        for (int64_t k = 0; k < batch.size(); ++k)
            for (int f = 0; f < table.field_count(); ++f) batch.value(k, f, v);
        return true;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const hylfuzz::FaultPlan plan = hylfuzz::take_fault_plan(data, size);
    // The memo file, when the input has one, is cut off the table's bytes.
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t marker = input.rfind(kMemoMarker);
    std::string_view memo;
    const char* memo_path = nullptr;
    if (marker != std::string_view::npos && marker + sizeof kMemoMarker <= size) {
        memo = input.substr(marker + sizeof kMemoMarker);
        memo_path = input[marker + sizeof kMemoMarker - 1] & 1 ? "C:\\DATA\\TABLE.FPT" : "C:\\DATA\\TABLE.DBT";
        size = marker;
    }
    hylfuzz::start_run({});
    snapshot_reads_as_the_exports(data, size);

    hylfuzz::reset_files(plan);
    hylfuzz::put_file(kPath, data, size);
    if (memo_path) hylfuzz::put_file(memo_path, reinterpret_cast<const uint8_t*>(memo.data()), memo.size());
    read_values();
    (void)hyl::Check_Table(kPath);
    const hyl::RepairResult result = hyl::Repair_Table(kPath, {});
    if (result.outcome == hyl::RepairOutcome::kMended) must(result.after.sound());
    if (memo_path) {
        const auto* kept = hylfuzz::file_bytes(memo_path);
        must(kept && kept->size() == memo.size() && (memo.empty() || std::memcmp(kept->data(), memo.data(), memo.size()) == 0));
    }
    if (const auto* backup = hylfuzz::file_bytes(kBackup); backup && !result.backup_path.empty())
        must(backup->size() == size && (size == 0 || std::memcmp(backup->data(), data, size) == 0));
    const auto* after = hylfuzz::file_bytes(kPath);
    must(after != nullptr);
    if (result.outcome == hyl::RepairOutcome::kCannotWork) {
        // A write that stopped half way may leave any bytes where it was
        // writing; the backup holds the table as it was.  With no backup
        // made, nothing was written at all.
        if (result.backup_path.empty())
            must(after->size() == size && (size == 0 || std::memcmp(after->data(), data, size) == 0));
    } else if (after->size() >= 32 && size >= 32 && le32(after->data() + 4) != le32(data + 4)) {
        const int64_t header = le16(after->data() + 8), record = le16(after->data() + 10);
        must(header + static_cast<int64_t>(le32(after->data() + 4)) * record <= static_cast<int64_t>(after->size()));
    }
    return 0;
}
