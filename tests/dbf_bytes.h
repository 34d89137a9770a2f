// Whole tables from values for the table-image and plan tests: each value
// cut or padded to its field (numbers right-aligned, as peers write them),
// and the header bytes a malformed-header test overwrites.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/dbf_builder.h"

namespace hyltest {

inline std::vector<uint8_t> dbf_bytes(const std::vector<FieldSpec>& fields,
                                      const std::vector<std::vector<std::string>>& rows) {
    DbfBuilder b;
    b.fields = fields;
    for (const auto& values : rows) {
        std::string record;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            std::string v = i < values.size() ? values[i] : "";
            const std::size_t n = fields[i].length;
            if (v.size() > n) v.resize(n);
            const std::string pad(n - v.size(), ' ');
            record += fields[i].type == 'N' ? pad + v : v + pad;
        }
        b.records.push_back(record);
    }
    return b.build();
}

// Where record r begins (its deletion flag) in a table made by dbf_bytes.
inline std::size_t dbf_record_position(const std::vector<FieldSpec>& fields, int record) {
    std::size_t record_length = 1;
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
