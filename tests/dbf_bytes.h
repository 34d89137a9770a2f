// dBASE III files written byte by byte for the tests, so that a test can say
// exactly what lies where, malformed headers included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hyltest {

struct FieldSpec {
    std::string name;  // code page 866, at most 11 bytes
    char type = 'C';
    int length = 0;
};

// A header (language byte 'e'), the descriptors, the 0x0D terminator and the
// records: a blank deletion flag, then each value cut or padded to its
// field's length (left-aligned, numbers right-aligned); no end-of-file byte.
inline std::vector<uint8_t> dbf_bytes(const std::vector<FieldSpec>& fields,
                                      const std::vector<std::vector<std::string>>& records) {
    int record_length = 1;
    for (const auto& f : fields) record_length += f.length;
    const int header_length = 32 * static_cast<int>(fields.size()) + 33;
    std::vector<uint8_t> out(32, 0);
    out[0] = 3;
    const auto count = static_cast<uint32_t>(records.size());
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(count >> (8 * i));
    out[8] = static_cast<uint8_t>(header_length & 0xFF);
    out[9] = static_cast<uint8_t>(header_length >> 8);
    out[10] = static_cast<uint8_t>(record_length & 0xFF);
    out[11] = static_cast<uint8_t>(record_length >> 8);
    out[29] = 0x65;
    for (const auto& f : fields) {
        std::vector<uint8_t> d(32, 0);
        for (std::size_t i = 0; i < f.name.size() && i < 11; ++i) d[i] = static_cast<uint8_t>(f.name[i]);
        d[11] = static_cast<uint8_t>(f.type);
        d[16] = static_cast<uint8_t>(f.length);
        out.insert(out.end(), d.begin(), d.end());
    }
    out.push_back(0x0D);
    for (const auto& values : records) {
        out.push_back(' ');
        for (std::size_t i = 0; i < fields.size(); ++i) {
            std::string v = i < values.size() ? values[i] : "";
            const auto n = static_cast<std::size_t>(fields[i].length);
            if (v.size() > n) v.resize(n);
            std::string pad(n - v.size(), ' ');
            std::string cell = fields[i].type == 'N' ? pad + v : v + pad;
            out.insert(out.end(), cell.begin(), cell.end());
        }
    }
    return out;
}

// Where record r begins in such a file (its deletion flag).
inline std::size_t dbf_record_position(const std::vector<FieldSpec>& fields, int record) {
    int record_length = 1;
    for (const auto& f : fields) record_length += f.length;
    return 32 * fields.size() + 33 + static_cast<std::size_t>(record) * record_length;
}

inline void put_le16(std::vector<uint8_t>& bytes, std::size_t at, int value) {
    bytes[at] = static_cast<uint8_t>(value & 0xFF);
    bytes[at + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

inline void put_le32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace hyltest
