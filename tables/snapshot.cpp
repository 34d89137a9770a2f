// The whole-table snapshot: the header and descriptors once, then the
// records in large blocks through positioned reads.
#include "tables/snapshot.h"

#include <algorithm>
#include <cstring>

#include "dbf/dbf.h"
#include "lowlevel/lv.h"
#include "platform/codepage.h"
#include "platform/platform.h"

namespace hyl {
namespace {

constexpr int64_t kBlockBytes = 4 << 20;

int16_t le16(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8)); }

}  // namespace

Snapshot::~Snapshot() { close(); }

void Snapshot::close() {
    if (handle_ != -1) lvv_close(handle_);
    handle_ = -1;
}

int32_t Snapshot::record_count() const {
    return static_cast<int32_t>(static_cast<uint32_t>(header_[4]) | static_cast<uint32_t>(header_[5]) << 8 |
                                static_cast<uint32_t>(header_[6]) << 16 | static_cast<uint32_t>(header_[7]) << 24);
}
int32_t Snapshot::header_length() const { return le16(header_ + 8); }
int32_t Snapshot::record_length() const { return le16(header_ + 10); }
bool Snapshot::oem() const { return Dbf_LanguageIsOem(language()); }

int64_t Snapshot::record_position(int64_t record) const {
    return header_length() + record * stride_;
}

SnapshotStatus Snapshot::open(const char* path, bool for_update) {
    close();
    handle_ = platform().file_open(path ? path : "", for_update ? kModeUpdate : kModeShareRead);
    if (handle_ == -1) {
        const int32_t error = platform().last_error();
        if (error == kErrorFileNotFound || error == 3 /* no such folder */) return SnapshotStatus::kMissing;
        return error == kErrorSharingViolation ? SnapshotStatus::kInUse : SnapshotStatus::kUnreadable;
    }
    file_length_ = platform().file_length(handle_);
    if (file_length_ < 0 || !read(0, header_, 32)) {
        close();
        return SnapshotStatus::kUnreadable;
    }
    // Another program may be appending: it writes each record before the
    // count that includes it, so the length taken after the header was read
    // holds every record that header counts.  Taken before, the last of
    // them could lie past the snapshot's end and read as zeros.
    file_length_ = std::max(file_length_, platform().file_length(handle_));
    if (header_length() < 32) {
        close();
        return SnapshotStatus::kNotATable;
    }
    descriptors_.assign(static_cast<std::size_t>(header_length() - 32), 0);
    if (!read(32, descriptors_.data(), static_cast<int64_t>(descriptors_.size()))) {
        close();
        return SnapshotStatus::kUnreadable;
    }
    const int32_t count = Dbf_CountFields(descriptors_.data(), static_cast<int32_t>(descriptors_.size()));
    fields_.clear();
    int16_t offset = 1;
    stride_ = record_length();
    reach_ = std::max(record_length(), 0);
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* d = descriptors_.data() + 32 * i;
        SnapshotField f;
        f.name.assign(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 11));
        f.type = static_cast<char>(d[11]);
        f.length = d[16];
        f.decimals = d[17];
        f.offset = offset;
        offset = static_cast<int16_t>(offset + d[16]);
        if (f.offset >= 1) reach_ = std::max(reach_, f.offset + f.length);
        fields_.push_back(f);
    }
    return SnapshotStatus::kOpened;
}

bool Snapshot::read(int64_t position, uint8_t* dst, int64_t length) const {
    return Snapshot_ReadAt(handle_, file_length_, position, dst, length);
}

bool Snapshot_ReadAt(int32_t handle, int64_t file_length, int64_t position, uint8_t* dst, int64_t length) {
    if (length <= 0) return true;  // a header of 32 bytes has no descriptors to read
    // The snapshot ends where the file ended when it was opened; what lies
    // outside the file reads as zeros.
    const int64_t end = std::min(position + length, file_length);
    const int64_t first = std::clamp<int64_t>(end - position, 0, length);
    std::memset(dst + first, 0, static_cast<std::size_t>(length - first));
    if (position < 0) std::memset(dst, 0, static_cast<std::size_t>(std::min(-position, length)));
    for (int64_t at = std::max<int64_t>(position, 0); at < end;) {
        const auto piece = static_cast<uint32_t>(std::min<int64_t>(end - at, kMaxPiece));
        const int32_t got = platform().file_read_at(handle, at, dst + (at - position), piece);
        // Nothing where the file had bytes when it was opened: it shrank
        // since, or the read went wrong.  Either way these are not its bytes.
        if (got <= 0) return false;
        at += got;
    }
    return true;
}

bool Snapshot::for_each_block(int64_t first, int64_t end, const BlockVisitor& visit, std::vector<uint8_t>* into) const {
    const int64_t length = stride_;
    if (length < 1 || first >= end) return true;
    const int64_t per_block = std::max<int64_t>(1, kBlockBytes / length);
    std::vector<uint8_t> own;
    std::vector<uint8_t>& block = into ? *into : own;
    for (int64_t record = first; record < end; record += per_block) {
        const int64_t count = std::min(per_block, end - record);
        const int64_t bytes = (count - 1) * length + reach_;
        block.resize(static_cast<std::size_t>(bytes));
        if (!read(record_position(record), block.data(), bytes)) return false;
        if (!visit(record, count, block.data())) return true;
    }
    return true;
}

std::string Snapshot::field_name(int32_t field) const {
    if (field < 0 || field >= static_cast<int32_t>(fields_.size())) return {};
    std::string name = fields_[static_cast<std::size_t>(field)].name;
    while (!name.empty() && static_cast<uint8_t>(name.back()) <= 0x20) name.pop_back();
    if (oem())
        for (char& c : name) c = static_cast<char>(oem_to_ansi_byte(static_cast<uint8_t>(c)));
    return name;
}

int32_t Snapshot::field_text(const uint8_t* record_bytes, int32_t field, char* out) const {
    out[0] = '\0';
    if (field < 0 || field >= static_cast<int32_t>(fields_.size()) || record_length() < 1) return 0;
    const SnapshotField& f = fields_[static_cast<std::size_t>(field)];
    if (f.offset < 1) return 0;
    const auto* bytes = reinterpret_cast<const char*>(record_bytes + f.offset);
    int32_t n = static_cast<int32_t>(strnlen(bytes, static_cast<std::size_t>(f.length)));
    while (n > 0 && static_cast<uint8_t>(bytes[n - 1]) <= 0x20) --n;
    if (oem())
        for (int32_t i = 0; i < n; ++i) out[i] = static_cast<char>(oem_to_ansi_byte(static_cast<uint8_t>(bytes[i])));
    else
        std::memcpy(out, bytes, static_cast<std::size_t>(n));
    out[n] = '\0';
    return n;
}

}  // namespace hyl
