// Memo files written: headers of new ones, entries added at the end.
#include "writing/memo_writer.h"

#include <algorithm>
#include <vector>

#include "lowlevel/lv.h"
#include "writing/files.h"
#include "platform/platform.h"
#include "tables/fieldtypes.h"

namespace hyl {
namespace {

constexpr int64_t kHeaderBytes = 512;

void put_le32(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put_be32(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

int64_t own_block_size(MemoFormat format) { return format == MemoFormat::kFoxPro ? 64 : 512; }

}  // namespace

std::string Memo_NewPath(const std::string& table_path, MemoFormat format) {
    const std::string stem = Memo_Stem(table_path);
    const std::string extension = table_path.substr(stem.size());
    const bool upper = extension.size() > 1 && extension[1] >= 'A' && extension[1] <= 'Z';
    const char* name = format == MemoFormat::kFoxPro ? (upper ? ".FPT" : ".fpt") : (upper ? ".DBT" : ".dbt");
    return stem + name;
}

MemoWriter::~MemoWriter() { close(); }

void MemoWriter::close() {
    if (handle_ != -1) lvv_close(handle_);
    handle_ = -1;
}

bool MemoWriter::create(const std::string& path, MemoFormat format, int64_t block_size, const std::string& table_name) {
    if (block_size <= 0) block_size = own_block_size(format);
    // dBASE keeps its header in block 0; FoxPro's header is 512 bytes,
    // which its blocks follow.
    const int64_t header = format == MemoFormat::kFoxPro ? kHeaderBytes : std::max(block_size, int64_t{32});
    std::vector<uint8_t> bytes(static_cast<std::size_t>(header), 0);
    const uint64_t first_free = static_cast<uint64_t>((header + block_size - 1) / block_size);
    switch (format) {
        case MemoFormat::kDbase3:
            put_le32(bytes.data(), first_free);
            bytes[16] = 0x03;
            break;
        case MemoFormat::kDbase4:
            put_le32(bytes.data(), first_free);
            for (std::size_t i = 0; i < 8; ++i) bytes[8 + i] = i < table_name.size() ? static_cast<uint8_t>(table_name[i]) : ' ';
            bytes[20] = static_cast<uint8_t>(block_size & 0xFF);
            bytes[21] = static_cast<uint8_t>(block_size >> 8);
            break;
        case MemoFormat::kFoxPro:
            put_be32(bytes.data(), first_free);
            bytes[6] = static_cast<uint8_t>(block_size >> 8);
            bytes[7] = static_cast<uint8_t>(block_size & 0xFF);
            break;
    }
    bytes.resize(static_cast<std::size_t>(first_free * block_size), 0);
    const int32_t handle = platform().file_create(path.c_str());
    if (handle == -1) return false;
    const bool ok = File_WriteAll(handle, 0, bytes.data(), static_cast<int64_t>(bytes.size())) && platform().file_sync(handle);
    lvv_close(handle);
    return ok;
}

bool MemoWriter::open(const std::string& path, MemoFormat format) {
    close();
    handle_ = platform().file_open(path.c_str(), kModeUpdate);
    if (handle_ == -1) return false;
    path_ = path;
    format_ = format;
    const int64_t length = std::max<int64_t>(platform().file_length(handle_), 0);
    uint8_t header[32] = {};
    platform().file_read_at(handle_, 0, header, sizeof header);
    uint64_t next = 0;
    block_size_ = 512;
    if (format == MemoFormat::kFoxPro) {
        next = Bytes_Be32(header);
        block_size_ = header[6] << 8 | header[7];
    } else {
        next = Bytes_Le32(header);
        if (format == MemoFormat::kDbase4) block_size_ = header[20] | header[21] << 8;
    }
    if (block_size_ < 1) block_size_ = own_block_size(format);
    // A header not brought up to date (a cut short write) is no reason to
    // write over what lies past it: new entries go after the end of the file.
    const uint64_t header_blocks = static_cast<uint64_t>(
        ((format == MemoFormat::kFoxPro ? kHeaderBytes : block_size_) + block_size_ - 1) / block_size_);
    next_block_ = std::max({next, static_cast<uint64_t>((length + block_size_ - 1) / block_size_), header_blocks});
    return true;
}

bool MemoWriter::add(std::string_view bytes, uint32_t type, uint64_t* block) {
    if (handle_ == -1) return false;
    std::string entry;
    switch (format_) {
        case MemoFormat::kDbase3:
            entry.assign(bytes);
            entry += "\x1A\x1A";
            break;
        case MemoFormat::kDbase4: {
            uint8_t lead[8] = {0xFF, 0xFF, 0x08, 0x00};
            put_le32(lead + 4, bytes.size() + 8);
            entry.assign(reinterpret_cast<const char*>(lead), 8);
            entry += bytes;
            entry += '\x1F';
            break;
        }
        case MemoFormat::kFoxPro: {
            uint8_t lead[8];
            put_be32(lead, type);
            put_be32(lead + 4, bytes.size());
            entry.assign(reinterpret_cast<const char*>(lead), 8);
            entry += bytes;
            break;
        }
    }
    const auto blocks = static_cast<uint64_t>((static_cast<int64_t>(entry.size()) + block_size_ - 1) / block_size_);
    entry.resize(static_cast<std::size_t>(blocks * static_cast<uint64_t>(block_size_)), '\0');
    if (!File_WriteAll(handle_, static_cast<int64_t>(next_block_) * block_size_, reinterpret_cast<const uint8_t*>(entry.data()),
                   static_cast<int64_t>(entry.size())))
        return false;
    *block = next_block_;
    next_block_ += blocks;
    return true;
}

bool MemoWriter::flush() {
    if (handle_ == -1) return false;
    uint8_t next[4];
    if (format_ == MemoFormat::kFoxPro)
        put_be32(next, next_block_);
    else
        put_le32(next, next_block_);
    return lvv_write_at(handle_, 0, next, 4) == 4 && platform().file_sync(handle_);
}

}  // namespace hyl
