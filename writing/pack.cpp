// Packing: the live records and their memo entries into new files, backups
// of the old, and the renames that put the new in place.
#include "writing/pack.h"

#include <algorithm>
#include <vector>

#include "lowlevel/lv.h"
#include "tables/interrupted.h"
#include "writing/files.h"
#include "platform/platform.h"

namespace hyl {
namespace {

constexpr int64_t kChunkBytes = 4 << 20;
constexpr uint8_t kEndMarker = 0x1A;

int64_t length_of(const std::string& path) {
    const int32_t handle = platform().file_open(path.c_str(), kModeShareRead);
    if (handle == -1) return -1;
    const int64_t length = platform().file_length(handle);
    platform().file_close(handle);
    return length;
}

// A byte-for-byte copy of FROM at TO, on the disk; false (and no TO) when
// it cannot be made.
bool copy_file(const std::string& from, const std::string& to) {
    const int32_t in = platform().file_open(from.c_str(), kModeShareRead);
    if (in == -1) return false;
    const int32_t out = platform().file_create(to.c_str());
    bool ok = out != -1;
    const int64_t length = std::max<int64_t>(platform().file_length(in), 0);
    std::vector<uint8_t> block;
    for (int64_t at = 0; ok && at < length; at += kChunkBytes) {
        block.resize(static_cast<std::size_t>(std::min(kChunkBytes, length - at)));
        ok = Snapshot_ReadAt(in, length, at, block.data(), static_cast<int64_t>(block.size())) &&
             File_WriteAll(out, at, block.data(), static_cast<int64_t>(block.size()));
    }
    ok = ok && platform().file_sync(out);
    platform().file_close(in);
    if (out != -1) platform().file_close(out);
    if (!ok && out != -1) platform().file_remove(to.c_str());
    return ok;
}

uint32_t entry_type(const TableField& f, MemoEntry entry) {
    if (f.type == 'G') return 2;
    return f.type == 'M' && entry == MemoEntry::kText ? 1 : 0;
}

}  // namespace

WriteOutcome Table_Pack(const std::string& path, const PackOptions& options, PackReport* report) {
    *report = {};
    TableWriter writer;
    WriterOptions open_options;
    open_options.encoding = options.encoding;
    open_options.drop_index = options.drop_index;
    const WriteOutcome opened = writer.open(path, open_options);
    if (!opened.ok()) return opened;
    report->notice = writer.notice();
    const TableReader& table = writer.reader();
    const std::string memo_path = table.memo() ? table.memo()->path() : std::string();
    const std::string table_new = Table_PackingPath(path), memo_new = memo_path.empty() ? "" : Table_PackingPath(memo_path);
    auto refuse = [&](WriteStatus status, const std::string& why) {
        for (const std::string& p : {table_new, memo_new})
            if (!p.empty() && File_Exists(p)) platform().file_remove(p.c_str());
        return WriteOutcome{status, why};
    };
    if (options.backup)
        for (const std::string& p : {path, memo_path})
            if (!p.empty() && File_Exists(p + ".bak"))
                return refuse(WriteStatus::kRefused,
                              p + ".bak already exists: move it away, or pack without a backup; nothing packed");
    report->memo_before = memo_path.empty() ? -1 : length_of(memo_path);

    // The new memo file first, so that a new table beside the old always
    // has its memo file whole beside it.
    MemoWriter memo;
    if (!memo_path.empty()) {
        const MemoFile& old = *table.memo();
        const std::size_t slash = path.find_last_of("/\\");
        const std::string name = Memo_Stem(path).substr(slash == std::string::npos ? 0 : slash + 1).substr(0, 8);
        if (!MemoWriter::create(memo_new, old.format(), old.block_size(), name) || !memo.open(memo_new, old.format()))
            return refuse(WriteStatus::kFailed, "cannot make " + memo_new + "; nothing packed");
    }
    const int32_t out = platform().file_create(table_new.c_str());
    if (out == -1) return refuse(WriteStatus::kFailed, "cannot make " + table_new + "; nothing packed");
    const Snapshot& scan = table.scan();
    const int64_t header_length = scan.header_length(), record_length = scan.record_length();
    std::string problem, chunk, entry;
    int64_t position = header_length;
    const bool read = table.for_each_batch(0, table.record_count(), [&](const RecordBatch& batch) {
        for (int64_t k = 0; k < batch.size(); ++k) {
            if (batch.deleted(k)) {
                ++report->removed;
                continue;
            }
            std::string record(reinterpret_cast<const char*>(batch.record(k)), static_cast<std::size_t>(record_length));
            for (const TableField& f : table.fields()) {
                if (!f.memo || f.offset < 1 || f.offset + f.length > record_length) continue;
                uint64_t block = 0;
                if (MemoPointer_Read(batch.record(k) + f.offset, f.length, &block) != MemoPointerForm::kBlock) continue;
                const MemoEntry got = table.read_memo(block, entry);
                uint64_t moved = 0;
                if ((got != MemoEntry::kText && got != MemoEntry::kBinary) || !memo.add(entry, entry_type(f, got), &moved)) {
                    problem = "record " + std::to_string(batch.first() + k) + ": its " + f.name +
                              " cannot be read from the memo file (hyl check tells more)";
                    return false;
                }
                record.replace(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length), Field_MemoPointer(f, moved));
            }
            chunk += record;
            ++report->kept;
            if (static_cast<int64_t>(chunk.size()) >= kChunkBytes) {
                if (!File_WriteAll(out, position, chunk.data(), static_cast<int64_t>(chunk.size()))) {
                    problem = "cannot write " + table_new;
                    return false;
                }
                position += static_cast<int64_t>(chunk.size());
                chunk.clear();
            }
        }
        return true;
    });
    chunk += static_cast<char>(kEndMarker);
    std::vector<uint8_t> header(static_cast<std::size_t>(header_length));
    bool ok = read && problem.empty() && scan.read(0, header.data(), header_length);
    if (ok) {
        for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<uint8_t>(static_cast<uint64_t>(report->kept) >> (8 * i));
        ok = File_WriteAll(out, position, chunk.data(), static_cast<int64_t>(chunk.size())) &&
             File_WriteAll(out, 0, header.data(), header_length) && platform().file_sync(out) &&
             (memo_path.empty() || memo.flush());
    }
    platform().file_close(out);
    memo.close();
    if (!ok) return refuse(WriteStatus::kFailed, (problem.empty() ? "cannot write " + table_new : problem) + "; nothing packed");

    if (options.backup)
        for (const std::string& p : {path, memo_path}) {
            if (p.empty()) continue;
            if (!copy_file(p, p + ".bak")) return refuse(WriteStatus::kFailed, "cannot make the backup " + p + ".bak; nothing packed");
            report->backups.push_back(p + ".bak");
        }
    // The table is let go before anything is renamed over it.
    writer.close();
    if (!memo_path.empty() &&
        (!platform().file_rename(memo_new.c_str(), memo_path.c_str()) || !platform().folder_sync(memo_path.c_str())))
        return refuse(WriteStatus::kFailed, "cannot put " + memo_new + " in place of " + memo_path + "; nothing packed");
    if (!platform().file_rename(table_new.c_str(), path.c_str()) || !platform().folder_sync(path.c_str()))
        return WriteOutcome{WriteStatus::kFailed, "the memo file is packed but " + table_new + " cannot take the table's place: "
                                                  "hyl repair finishes the pack"};
    report->memo_after = memo_path.empty() ? -1 : length_of(memo_path);
    return {};
}

}  // namespace hyl
