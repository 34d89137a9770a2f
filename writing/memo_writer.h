// Writing memo files: a new one beside a new table, and entries added at the
// end of one, never over another entry (an entry a record no longer points
// to is left where it is, for pack to leave behind).
//
//   dBASE III .dbt   512-byte blocks; next free block at 0-3; 0x03 at 16;
//                    an entry is its text and 1A 1A.
//   dBASE IV .dbt    its block size at 20-21 (512); next free block at 0-3;
//                    an entry is FF FF 08 00, its length (the 8 bytes of
//                    that lead counted), its bytes, and one 0x1F after them,
//                    where a reader that takes the length for the text's
//                    alone stops.
//   FoxPro .fpt      next free block at 0-3 and the block size at 6-7, both
//                    big-endian (64 unless told); an entry is its kind (1
//                    text, 0 picture, 2 object) and its length, big-endian,
//                    then its bytes.
// Every entry starts a block; the rest of its last block is zeros.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tables/memo.h"

namespace hyl {

class MemoWriter {
public:
    MemoWriter() = default;
    ~MemoWriter();
    MemoWriter(const MemoWriter&) = delete;
    MemoWriter& operator=(const MemoWriter&) = delete;

    // Makes PATH an empty memo file of FORMAT, replacing what is there;
    // BLOCK_SIZE 0 takes the format's own (512, or 64 for FoxPro).  TABLE_NAME
    // goes in a dBASE IV header.  Flushed.  False when it cannot be made.
    static bool create(const std::string& path, MemoFormat format, int64_t block_size, const std::string& table_name);

    // Opens PATH for adding entries, held as an append holds a table.
    bool open(const std::string& path, MemoFormat format);
    bool is_open() const { return handle_ != -1; }
    const std::string& path() const { return path_; }
    int64_t block_size() const { return block_size_; }
    // The file's length in bytes as the entries added leave it.
    int64_t length() const { return next_block_ * block_size_; }

    // Writes BYTES as a new entry (TYPE: FoxPro's kind of entry) at the end;
    // its block in *BLOCK.  Not on the disk until flush.
    bool add(std::string_view bytes, uint32_t type, uint64_t* block);
    // The header's next free block written, and the file flushed.
    bool flush();
    void close();

private:
    int32_t handle_ = -1;
    std::string path_;
    MemoFormat format_ = MemoFormat::kDbase3;
    int64_t block_size_ = 512;
    uint64_t next_block_ = 1;
};

// The memo file a new table of PATH gets: its name with .dbt or .fpt, in the
// letter case of its own extension (T.DBF, T.DBT).
std::string Memo_NewPath(const std::string& table_path, MemoFormat format);

}  // namespace hyl
