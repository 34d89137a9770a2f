// Memo files: the text of M fields (and the bytes of binary memos) that live
// beside a table, found by the table's name with .dbt or .fpt in any letter
// case.
//
//   dBASE III .dbt   512-byte blocks; an entry is text up to the first 0x1A.
//   dBASE IV .dbt    the block size in bytes 20-21 of the header; an entry
//                    begins FF FF 08 00 and its length (little-endian, the
//                    8 bytes of that lead included).
//   FoxPro .fpt      the block size in bytes 6-7 of the header (big-endian);
//                    an entry begins with its type (0 picture, 1 text,
//                    2 object) and its length, both big-endian.
//
// A memo file is untrusted input full of offsets and lengths: every entry is
// checked against the end of the file, and an entry that is not whole is
// said to be so, never read past.  Entries are read through a window of a
// megabyte or more, so reading the memos of consecutive records costs a read
// per window, not a read per record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hyl {

enum class MemoFormat { kDbase3, kDbase4, kFoxPro };

enum class MemoEntry {
    kText,
    kBinary,          // a FoxPro picture or object entry
    kPastEnd,         // the block lies past the end of the file
    kLengthPastEnd,   // the entry's length runs past the end of the file
    kUnreadable,      // a read of the file failed
};

class MemoFile {
public:
    MemoFile() = default;
    ~MemoFile();
    MemoFile(const MemoFile&) = delete;
    MemoFile& operator=(const MemoFile&) = delete;

    // Looks for TABLE_PATH's memo file (the name without its extension, then
    // .fpt or .dbt in any letter case) and opens it shared for reading.
    // False when there is none, or it cannot be opened.  VERSION is the
    // table's version byte: a .dbt of a table marked 0x83 is dBASE III's.
    bool open(const std::string& table_path, uint8_t version);
    void close();

    bool is_open() const { return handle_ != -1; }
    const std::string& path() const { return path_; }
    MemoFormat format() const { return format_; }
    int64_t block_size() const { return block_size_; }
    int64_t length() const { return length_; }
    // "FoxPro .fpt, 64-byte blocks".
    std::string describe() const;

    // The entry at BLOCK (at least 1): its bytes in OUT (the text without
    // its end marker).  OUT is left empty when the entry cannot be read.
    MemoEntry read(uint64_t block, std::string& out);

private:
    // Makes [POSITION, POSITION + SIZE) lie in the window (as much of it as
    // the file holds); false when a read failed.
    bool window(int64_t position, int64_t size);
    const uint8_t* at(int64_t position) const { return window_.data() + (position - window_start_); }

    int32_t handle_ = -1;
    std::string path_;
    MemoFormat format_ = MemoFormat::kDbase3;
    int64_t block_size_ = 512;
    int64_t length_ = 0;
    std::vector<uint8_t> window_;
    int64_t window_start_ = 0;
};

// Where TABLE_PATH's memo file would be: the name with its extension cut off.
std::string Memo_Stem(const std::string& table_path);
// TABLE_PATH's memo file as open finds it (.fpt, then .dbt, in any letter
// case), and whether it is FoxPro's; empty when there is none.
std::string Memo_Find(const std::string& table_path, bool* foxpro = nullptr);

}  // namespace hyl
