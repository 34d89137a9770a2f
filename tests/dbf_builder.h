// Builds dBASE III table files byte by byte for tests, malformed ones too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hyltest {

struct FieldSpec {
    std::string name;  // bytes as stored (code page 866 for Cyrillic)
    char type = 'C';
    uint8_t length = 10;
    uint8_t decimals = 0;
    uint8_t flags = 0;  // descriptor byte 18: Visual FoxPro's 0x02 nullable
};

struct DbfBuilder {
    std::vector<FieldSpec> fields;
    std::vector<std::string> records;  // each without the deletion flag, padded by build()
    uint8_t version = 3;
    uint8_t language = 0x65;
    int header_length = -1;   // -1: 32 * fields + 33
    int record_length = -1;   // -1: 1 + sum of lengths
    int record_count = -1;    // -1: records.size()
    bool eof_byte = false;
    bool terminator = true;      // false: no 0x0D after the descriptors
    uint16_t stored_offset = 0;  // written into every descriptor's bytes 12-13

    std::vector<uint8_t> build() const {
        int hl = header_length >= 0 ? header_length : 32 * static_cast<int>(fields.size()) + 33;
        int rl = 1;
        for (const auto& f : fields) rl += f.length;
        if (record_length >= 0) rl = record_length;
        std::vector<uint8_t> out(32, 0);
        out[0] = version;
        out[1] = 110;
        out[2] = 3;
        out[3] = 25;
        uint32_t count = record_count >= 0 ? static_cast<uint32_t>(record_count)
                                           : static_cast<uint32_t>(records.size());
        for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(count >> (8 * i));
        out[8] = static_cast<uint8_t>(hl & 0xFF);
        out[9] = static_cast<uint8_t>((hl >> 8) & 0xFF);
        out[10] = static_cast<uint8_t>(rl & 0xFF);
        out[11] = static_cast<uint8_t>((rl >> 8) & 0xFF);
        out[29] = language;
        for (const auto& f : fields) {
            uint8_t d[32] = {};
            for (size_t i = 0; i < f.name.size() && i < 11; ++i) d[i] = static_cast<uint8_t>(f.name[i]);
            d[11] = static_cast<uint8_t>(f.type);
            d[12] = static_cast<uint8_t>(stored_offset & 0xFF);
            d[13] = static_cast<uint8_t>(stored_offset >> 8);
            d[16] = f.length;
            d[17] = f.decimals;
            d[18] = f.flags;
            out.insert(out.end(), d, d + 32);
        }
        out.push_back(terminator ? 0x0D : 0x00);
        while (static_cast<int>(out.size()) < hl) out.push_back(0);
        if (static_cast<int>(out.size()) > hl && hl >= 0) out.resize(static_cast<size_t>(hl < 32 ? 32 : hl));
        for (const auto& r : records) {
            std::string rec = " " + r;
            rec.resize(static_cast<size_t>(rl > 0 ? rl : 0), ' ');
            out.insert(out.end(), rec.begin(), rec.end());
        }
        if (eof_byte) out.push_back(0x1A);
        return out;
    }
};

}  // namespace hyltest
