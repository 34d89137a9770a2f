// Table layouts: the format a header is in, its fields, and the length its
// records are laid by.
#include "tables/layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace hyl {
namespace {

constexpr int32_t kDbase7HeaderBytes = 68;
constexpr int32_t kDbase7DescriptorBytes = 48;
constexpr uint8_t kTerminator = 0x0D;
constexpr uint8_t kEndMarker = 0x1A;

int le16(const uint8_t* p) { return p[0] | p[1] << 8; }

std::string hex(uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

bool dbase7_version(uint8_t v) { return v == 0x04 || v == 0x8C || v == 0x44; }

// dBASE 7's fields: 48-byte descriptors from byte 68 (name 0-31, type 32,
// length 33, decimals 34), up to the 0x0D that ends them; what follows the
// terminator (the field properties) is skipped, as the records begin at
// the header length.
void read_dbase7_fields(const Snapshot& snapshot, TableLayout& layout) {
    const std::vector<uint8_t>& d = snapshot.descriptors();  // the bytes from 32 on
    const auto name = reinterpret_cast<const char*>(d.data());
    if (d.size() >= 32) layout.language_driver.assign(name, strnlen(name, 32));
    layout.descriptors_at = kDbase7HeaderBytes;
    layout.descriptor_size = kDbase7DescriptorBytes;
    int64_t offset = 1;
    for (std::size_t at = kDbase7HeaderBytes - 32; at < d.size(); at += kDbase7DescriptorBytes) {
        if (d[at] == kTerminator) {
            layout.terminated = true;
            break;
        }
        if (at + kDbase7DescriptorBytes > d.size()) break;
        LayoutField f;
        f.name.assign(reinterpret_cast<const char*>(&d[at]), strnlen(reinterpret_cast<const char*>(&d[at]), 32));
        f.type = static_cast<char>(d[at + 32]);
        f.length = d[at + 33];
        f.decimals = d[at + 34];
        // A record is at most 65,535 bytes: a field past that is unreadable.
        f.offset = offset + f.length <= 0xFFFF ? static_cast<int32_t>(offset) : -1;
        offset += f.length;
        layout.fields.push_back(std::move(f));
    }
}

void read_fields(const Snapshot& snapshot, TableLayout& layout) {
    const std::vector<uint8_t>& d = snapshot.descriptors();
    const auto& fields = snapshot.fields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const SnapshotField& s = fields[i];
        layout.fields.push_back({s.name, s.type, s.length, s.decimals, s.offset, d[32 * i + 18]});
    }
    layout.terminated = d.size() > 32 * fields.size() && d[32 * fields.size()] == kTerminator;
}

// Whether the records lie by LENGTH: the file holds COUNT of them after the
// header, and nothing more but one end marker.
bool lies_by(int64_t length, int64_t count, int64_t data, bool marker_last) {
    return length >= 1 && (data == count * length || (data == count * length + 1 && marker_last));
}

}  // namespace

TableFormat Layout_FormatOf(uint8_t version) {
    switch (version) {
        case 0x30:
        case 0x31:
        case 0x32: return TableFormat::kVisualFoxPro;
        case 0xF5:
        case 0xFB: return TableFormat::kFoxPro;
        case 0x7B:
        case 0x8B:
        case 0x8E:
        case 0xCB: return TableFormat::kDbase4;
        default: return TableFormat::kDbase3;
    }
}

bool Layout_IsDbase7(const uint8_t* head, int64_t length) {
    if (length < 32 || !dbase7_version(head[0])) return false;
    const int header_length = le16(head + 8);
    for (int64_t at = kDbase7HeaderBytes; at < std::min<int64_t>(header_length, length); at += kDbase7DescriptorBytes)
        if (head[at] == kTerminator) return true;
    return false;
}

std::string Layout_Refusal(const uint8_t* head, int64_t length) {
    if (length < 32 || head[0] != 0x02) return {};
    // dBASE II: a 16-bit record count, 16-byte descriptors from byte 8.  A
    // header that reads whole as dBASE III's is FoxBASE's, which shares the byte.
    const int header_length = le16(head + 8);
    const bool dbase3 = header_length >= 33 && (header_length - 33) % 32 == 0 && header_length <= length &&
                        head[header_length - 1] == kTerminator;
    for (int64_t at = 8; !dbase3 && at <= std::min<int64_t>(8 + 16 * 32, length - 1); at += 16)
        if (head[at] == kTerminator)
            return "a dBASE II table (version byte " + hex(head[0]) + ", 16-byte field descriptors), which hyl does not read";
    return {};
}

TableLayout Layout_Read(const Snapshot& snapshot) {
    TableLayout layout;
    layout.header_length = snapshot.header_length();
    layout.record_length = snapshot.record_length();
    std::vector<uint8_t> head(snapshot.header(), snapshot.header() + 32);
    head.insert(head.end(), snapshot.descriptors().begin(), snapshot.descriptors().end());
    if (Layout_IsDbase7(head.data(), static_cast<int64_t>(head.size()))) {
        layout.format = TableFormat::kDbase7;
        read_dbase7_fields(snapshot, layout);
    } else {
        layout.format = Layout_FormatOf(snapshot.version());
        read_fields(snapshot, layout);
    }
    for (const LayoutField& f : layout.fields) layout.fields_length += f.length;
    layout.stride = layout.record_length;
    const int64_t count = static_cast<uint32_t>(snapshot.record_count());
    const int64_t data = snapshot.file_length() - layout.header_length;
    // A header that gives no record length at all describes no records.
    if (layout.record_length >= 1 && layout.record_length != layout.fields_length && count >= 1 && data > 0 &&
        !layout.fields.empty()) {
        uint8_t last = 0;
        const bool marker_last = snapshot.read(snapshot.file_length() - 1, &last, 1) && last == kEndMarker;
        if (lies_by(layout.fields_length, count, data, marker_last) &&
            !lies_by(layout.record_length, count, data, marker_last)) {
            layout.stride = layout.fields_length;
            layout.laid_by_fields = true;
        }
    }
    layout.reach = static_cast<int32_t>(std::max<int64_t>(layout.stride, 0));
    for (const LayoutField& f : layout.fields)
        if (f.offset >= 1) layout.reach = std::max(layout.reach, f.offset + f.length);
    return layout;
}

}  // namespace hyl
