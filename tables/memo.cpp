// Memo files: finding one beside its table, its header, and its entries.
#include "tables/memo.h"

#include <algorithm>
#include <cstring>

#include "lowlevel/lv.h"
#include "platform/platform.h"
#include "tables/snapshot.h"

namespace hyl {
namespace {

constexpr int64_t kWindowBytes = 1 << 20;
constexpr uint8_t kEndMarker = 0x1A;

uint32_t be32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

std::string Memo_Stem(const std::string& table_path) {
    const std::size_t slash = table_path.find_last_of("/\\");
    const std::size_t dot = table_path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return table_path;
    return table_path.substr(0, dot);
}

MemoFile::~MemoFile() { close(); }

void MemoFile::close() {
    if (handle_ != -1) lvv_close(handle_);
    handle_ = -1;
    window_.clear();
}

std::string Memo_Find(const std::string& table_path, bool* foxpro) {
    const std::string stem = Memo_Stem(table_path);
    // FoxPro's name first, as FoxPro tables are the ones that have both.
    for (const char* extension : {"fpt", "dbt"}) {
        for (int letters = 0; letters < 8; ++letters) {
            std::string path = stem + '.';
            for (int k = 0; k < 3; ++k)
                path += static_cast<char>(letters >> k & 1 ? extension[k] - 'a' + 'A' : extension[k]);
            const int32_t handle = platform().file_open(path.c_str(), kModeShareRead);
            if (handle == -1) continue;
            platform().file_close(handle);
            if (foxpro) *foxpro = extension[0] == 'f';
            return path;
        }
    }
    return {};
}

bool MemoFile::open(const std::string& table_path, uint8_t version) {
    close();
    bool foxpro = false;
    path_ = Memo_Find(table_path, &foxpro);
    if (path_.empty()) return false;
    handle_ = platform().file_open(path_.c_str(), kModeShareRead);
    if (handle_ == -1) return false;
    format_ = foxpro ? MemoFormat::kFoxPro : version == 0x83 ? MemoFormat::kDbase3 : MemoFormat::kDbase4;
    length_ = std::max<int64_t>(platform().file_length(handle_), 0);
    uint8_t header[32] = {};
    if (!Snapshot_ReadAt(handle_, length_, 0, header, sizeof header)) {
        close();
        return false;
    }
    block_size_ = 512;
    if (format_ == MemoFormat::kFoxPro) {
        block_size_ = header[6] << 8 | header[7];
    } else if (format_ == MemoFormat::kDbase4) {
        block_size_ = header[20] | header[21] << 8;
    }
    // A block size of 0 would put every entry at the header; FoxPro's
    // smallest is 1 (entries at byte offsets), dBASE's 512.
    if (block_size_ < 1) block_size_ = 512;
    return true;
}

std::string MemoFile::describe() const {
    const char* what = format_ == MemoFormat::kFoxPro ? "FoxPro" : format_ == MemoFormat::kDbase3 ? "dBASE III" : "dBASE IV";
    return std::string(what) + ", " + std::to_string(block_size_) + "-byte blocks";
}

bool MemoFile::window(int64_t position, int64_t size) {
    const int64_t end = std::min(position + size, length_);
    if (position >= window_start_ && end <= window_start_ + static_cast<int64_t>(window_.size())) return true;
    const int64_t bytes = std::max<int64_t>(0, std::min(std::max(size, kWindowBytes), length_ - position));
    window_.resize(static_cast<std::size_t>(bytes));
    window_start_ = position;
    if (Snapshot_ReadAt(handle_, length_, position, window_.data(), bytes)) return true;
    window_.clear();
    return false;
}

MemoEntry MemoFile::read(uint64_t block, std::string& out) {
    out.clear();
    if (handle_ == -1) return MemoEntry::kUnreadable;
    if (block > static_cast<uint64_t>(length_ / block_size_)) return MemoEntry::kPastEnd;
    const int64_t position = static_cast<int64_t>(block) * block_size_;
    if (position >= length_) return MemoEntry::kPastEnd;
    if (format_ == MemoFormat::kFoxPro) {
        if (length_ - position < 8) return MemoEntry::kLengthPastEnd;
        if (!window(position, 8)) return MemoEntry::kUnreadable;
        const uint32_t type = be32(at(position));
        const int64_t length = be32(at(position) + 4);
        if (length > length_ - position - 8) return MemoEntry::kLengthPastEnd;
        if (!window(position, 8 + length)) return MemoEntry::kUnreadable;
        out.assign(reinterpret_cast<const char*>(at(position + 8)), static_cast<std::size_t>(length));
        return type == 1 ? MemoEntry::kText : MemoEntry::kBinary;
    }
    if (!window(position, 8)) return MemoEntry::kUnreadable;
    static constexpr uint8_t kDbase4Lead[4] = {0xFF, 0xFF, 0x08, 0x00};
    if (length_ - position >= 8 && std::memcmp(at(position), kDbase4Lead, 4) == 0) {
        // The length counts the 8 bytes of the lead.
        const int64_t length = le32(at(position) + 4);
        if (length < 8 || length - 8 > length_ - position - 8) return MemoEntry::kLengthPastEnd;
        if (!window(position, length)) return MemoEntry::kUnreadable;
        out.assign(reinterpret_cast<const char*>(at(position + 8)), static_cast<std::size_t>(length - 8));
        return MemoEntry::kText;
    }
    // Text up to the first end marker, read on window by window.
    for (int64_t from = position;;) {
        if (!window(from, kWindowBytes)) return MemoEntry::kUnreadable;
        const int64_t end = window_start_ + static_cast<int64_t>(window_.size());
        const uint8_t* begin = at(from);
        const auto* found = static_cast<const uint8_t*>(std::memchr(begin, kEndMarker, static_cast<std::size_t>(end - from)));
        if (found) {
            out.append(reinterpret_cast<const char*>(begin), static_cast<std::size_t>(found - begin));
            return MemoEntry::kText;
        }
        out.append(reinterpret_cast<const char*>(begin), static_cast<std::size_t>(end - from));
        if (end >= length_) return MemoEntry::kLengthPastEnd;  // no end marker before the end of the file
        from = end;
    }
}

}  // namespace hyl
