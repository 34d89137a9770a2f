// Journals and pack leftovers: made, read, settled.
#include "tables/interrupted.h"

#include <cstring>

#include "lowlevel/lv.h"
#include "platform/platform.h"
#include "tables/snapshot.h"

namespace hyl {
namespace {

constexpr char kMagic[8] = {'H', 'Y', 'L', 'U', 'N', 'D', 'O', '2'};
constexpr int64_t kLongestJournal = int64_t{1} << 32;

// FNV-1a taken eight bytes at a time (little-endian words, the last one
// short): a journal of a megabyte is hashed in a fraction of the flush
// that follows it.
uint64_t fnv1a(const uint8_t* p, std::size_t n) {
    uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < n; i += 8) {
        uint64_t word = 0;
        for (std::size_t k = 0; k < 8 && i + k < n; ++k) word |= static_cast<uint64_t>(p[i + k]) << (8 * k);
        hash = (hash ^ word) * 1099511628211ull;
    }
    return hash;
}

void put_le(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
}

uint64_t le(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

}  // namespace

std::string Table_JournalPath(const std::string& path) { return path + ".undo"; }
std::string Table_PackingPath(const std::string& path) { return path + ".packing"; }

bool File_Exists(const std::string& path) {
    const int32_t handle = platform().file_open(path.c_str(), kModeShareRead);
    if (handle == -1) return false;
    platform().file_close(handle);
    return true;
}

std::string Journal_Make(int64_t record_length, const std::vector<JournalRecord>& pieces) {
    std::size_t size = 16 + 8;
    for (const JournalRecord& p : pieces) size += 12 + p.bytes.size();
    std::string out(kMagic, sizeof kMagic);
    out.reserve(size);
    put_le(out, static_cast<uint64_t>(record_length), 4);
    put_le(out, pieces.size(), 4);
    for (const JournalRecord& p : pieces) {
        put_le(out, static_cast<uint64_t>(p.record), 8);
        put_le(out, static_cast<uint64_t>(p.offset), 2);
        put_le(out, p.bytes.size(), 2);
        out += p.bytes;
    }
    put_le(out, fnv1a(reinterpret_cast<const uint8_t*>(out.data()), out.size()), 8);
    return out;
}

JournalState Journal_Read(const std::string& path, int64_t* record_length, std::vector<JournalRecord>* records) {
    records->clear();
    const int32_t handle = platform().file_open(Table_JournalPath(path).c_str(), kModeShareRead);
    if (handle == -1) return JournalState::kNone;
    const int64_t length = platform().file_length(handle);
    std::string bytes;
    bool read = length >= 0 && length < kLongestJournal;
    if (read) {
        bytes.resize(static_cast<std::size_t>(length));
        read = Snapshot_ReadAt(handle, length, 0, reinterpret_cast<uint8_t*>(bytes.data()), length);
    }
    platform().file_close(handle);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    if (read && bytes.empty()) return JournalState::kEmpty;
    if (!read || bytes.size() < 24 || std::memcmp(p, kMagic, sizeof kMagic) != 0) return JournalState::kTorn;
    *record_length = static_cast<int64_t>(le(p + 8, 4));
    const uint64_t count = le(p + 12, 4);
    if (*record_length < 1 || fnv1a(p, bytes.size() - 8) != le(p + bytes.size() - 8, 8)) return JournalState::kTorn;
    const std::size_t end = bytes.size() - 8;
    std::size_t at = 16;
    for (uint64_t i = 0; i < count; ++i) {
        if (at + 12 > end) return JournalState::kTorn;
        JournalRecord piece{static_cast<int64_t>(le(p + at, 8)), static_cast<int32_t>(le(p + at + 8, 2)), {}};
        const std::size_t length = static_cast<std::size_t>(le(p + at + 10, 2));
        if (at + 12 + length > end || piece.offset + static_cast<int64_t>(length) > *record_length) return JournalState::kTorn;
        piece.bytes = bytes.substr(at + 12, length);
        records->push_back(std::move(piece));
        at += 12 + length;
    }
    return at == end ? JournalState::kWhole : JournalState::kTorn;
}

PackLeftover Pack_Leftover(const std::string& path, const std::string& memo_path) {
    const bool table_new = File_Exists(Table_PackingPath(path));
    const bool memo_new = !memo_path.empty() && File_Exists(Table_PackingPath(memo_path));
    // The memo file's new copy is made first and renamed first: a new table
    // without it means the memo file is the new one already.
    if (table_new && !memo_path.empty() && !memo_new) return PackLeftover::kBetweenRenames;
    return table_new || memo_new ? PackLeftover::kBeforeRenames : PackLeftover::kNone;
}

bool Pack_Settle(const std::string& path, const std::string& memo_path, PackLeftover leftover) {
    bool ok = true;
    if (leftover == PackLeftover::kBetweenRenames) {
        ok = platform().file_rename(Table_PackingPath(path).c_str(), path.c_str()) != 0;
    } else if (leftover == PackLeftover::kBeforeRenames) {
        for (const std::string& p : {path, memo_path})
            if (!p.empty() && File_Exists(Table_PackingPath(p))) ok = platform().file_remove(Table_PackingPath(p).c_str()) && ok;
    }
    return ok && platform().folder_sync(path.c_str());
}

}  // namespace hyl
