// Opening and closing the current table, and the per-field queries.
#include <cstring>

#include "dbf/dbf.h"
#include "lowlevel/lv.h"
#include "platform/codepage.h"

namespace hyl {
namespace {

constexpr auto kOpenFailed = cp1251(u8"Dbf_ReadHead %p handle=%d <%s>");
constexpr auto kHeadUnreadable = cp1251(u8"Dbf_ReadHead::не прочесть голову %s errno=%5d");
constexpr auto kNoHeadMemory = cp1251(u8"Dbf_ReadHead::не выделить %ld под заголовок %s");
constexpr auto kDescriptorsUnreadable = cp1251(u8"Dbf_ReadHead %p LHead=%d <%s>");
constexpr auto kHeadUnwritable = cp1251(u8"Dbf_FlashMainRec::не записать голову %s errno=%5d");

int32_t read_le32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

int16_t read_le16(const uint8_t* p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
}

void write_le16(uint8_t* p, int16_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF);
}

int32_t open_mode_for(const DbfTable& t) {
    return (t.mode & DbfModeWrite) ? kModeUpdate : kModeShareRead;
}

// A failed opening: the file is let go unless the table keeps it open.
int32_t open_failed(DbfTable& t) {
    if (!(t.mode & DbfModeKeepOpen)) Dbf_CloseFile(t);
    t.field_count = 0;
    return 0;
}

}  // namespace

DbfTable g_current_table;

int32_t Dbf_CountFields(const uint8_t* descriptors, int32_t descriptor_bytes) {
    const int32_t slots = descriptor_bytes > 0 ? descriptor_bytes / 32 : 0;
    for (int32_t i = 0; i < slots; ++i)
        if (descriptors[32 * i] == kDbfTerminator) return i;
    return slots;
}

int32_t DbfTable::record_count() const { return read_le32(header + 4); }
void DbfTable::set_record_count(int32_t count) {
    auto v = static_cast<uint32_t>(count);
    for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<uint8_t>(v >> (8 * i));
}
int16_t DbfTable::header_length() const { return read_le16(header + 8); }
void DbfTable::set_header_length(int16_t length) { write_le16(header + 8, length); }
int16_t DbfTable::record_length() const { return read_le16(header + 10); }
void DbfTable::set_record_length(int16_t length) { write_le16(header + 10, length); }

void Dbf_SetDefaults(DbfTable& t) {
    std::memset(t.header, 0, sizeof t.header);
    t.header[29] = kDbfLanguageOem;
    t.descriptors = nullptr;
    t.handle = -1;
    std::memset(t.path, 0, sizeof t.path);
    t.field_count = 0;
    t.appended = 0;
    t.mode = 0;
    t.assembly = nullptr;
    t.assembly_bytes = nullptr;
    t.assembly_record_length = 0;
}

void Dbf_CloseFile(DbfTable& t) {
    if (t.handle != -1) lvv_close(t.handle);
    t.handle = -1;
}

int32_t Dbf_ReadHead(DbfTable& t, const char* path, uint32_t mode) {
    Dbf_Close(t);
    t.mode = mode;
    if (path) {
        if (std::strlen(path) > static_cast<std::size_t>(kDbfPathMax)) {
            // Cutting the path could name another file: refuse it instead,
            // and keep the path remembered, so that a null path still
            // reopens the table last named.
            LVMessage(0x11, kOpenFailed, static_cast<void*>(&t), -1, path);
            LVMessage(0x10, kHeadUnreadable, path, platform().crt_errno());
            return open_failed(t);
        }
        std::memset(t.path, 0, sizeof t.path);
        std::strncpy(t.path, path, kDbfPathMax);
    }
    t.handle = lvv_open(t.path, open_mode_for(t), kOpenAttempts);
    if (t.handle == -1) {
        LVMessage(0x11, kOpenFailed, static_cast<void*>(&t), t.handle, t.path);
        LVMessage(0x10, kHeadUnreadable, t.path, platform().crt_errno());
        return open_failed(t);
    }
    lvv_seek(t.handle, 0, 0);
    // A file shorter than its header reads as zeros rather than as what the
    // previous table left in the copy.
    std::memset(t.header, 0, sizeof t.header);
    if (lvv_read(t.handle, t.header, 32) != 32) {
        LVMessage(0x10, kHeadUnreadable, t.path, platform().crt_errno());
        return open_failed(t);
    }
    int32_t n = t.header_length() - 32;
    if (n >= 0) t.descriptors = LVAlloc(t.descriptors, n);
    if (n < 0 || !t.descriptors) {
        LVMessage(0x10, kNoHeadMemory, static_cast<long>(n), t.path);
        return open_failed(t);
    }
    void* block = LVLock(t.descriptors);
    if (lvv_read(t.handle, block, n) != n) {
        LVUnlock(t.descriptors);
        LVMessage(0x11, kDescriptorsUnreadable, static_cast<void*>(&t), n, t.path);
        LVMessage(0x10, kHeadUnreadable, t.path, platform().crt_errno());
        return open_failed(t);
    }
    LVUnlock(t.descriptors);
    if (!(t.mode & DbfModeKeepOpen)) Dbf_CloseFile(t);
    auto* d = static_cast<uint8_t*>(LVLock(t.descriptors));
    t.field_count = Dbf_CountFields(d, n);
    int16_t offset = 1;
    for (int32_t i = 0; i < t.field_count; ++i) {
        uint8_t* desc = d + 32 * i;
        write_le16(desc + 12, offset);
        offset = static_cast<int16_t>(offset + desc[16]);
    }
    LVUnlock(t.descriptors);
    return 1;
}

void Dbf_Close(DbfTable& t) {
    if (t.assembly) {
        platform().mem_unlock(t.assembly);
        platform().mem_free(t.assembly);
        t.assembly = nullptr;
        t.assembly_bytes = nullptr;
        t.assembly_record_length = 0;
    }
    if (t.appended != 0) Dbf_FlashMainRec(t);
    if (t.descriptors) t.descriptors = LVFree(t.descriptors);
    Dbf_CloseFile(t);
    t.field_count = 0;
}

int32_t Dbf_FlashMainRec(DbfTable& t) {
    if (t.handle == -1) t.handle = lvv_open(t.path, kModeUpdate, kOpenAttempts);
    if (t.handle != -1 && lvv_seek(t.handle, 0, 0) == 0 && lvv_write(t.handle, t.header, 32) == 32) {
        if (!(t.mode & DbfModeKeepOpen)) {
            Dbf_CloseFile(t);
            // Drop whatever follows the last record (an end-of-file byte, or a
            // record whose append failed).  Only for a header that describes
            // records: a broken one must not cut the file short.
            int64_t hl = t.header_length(), rl = t.record_length(), count = t.record_count();
            if (hl >= 32 && rl >= 1 && count >= 0) platform().set_file_size(t.path, hl + rl * count);
        }
        t.appended = 0;
        return 1;
    }
    LVMessage(0, kHeadUnwritable, t.path, platform().crt_errno());
    if (!(t.mode & DbfModeKeepOpen)) Dbf_CloseFile(t);
    return 0;
}

DbfFieldInfo Dbf_GetFieldInfo(const DbfTable& t, int32_t field) {
    DbfFieldInfo info;
    if (field < 0 || field >= t.field_count || !t.descriptors) return info;
    auto* d = static_cast<const uint8_t*>(LVLock(t.descriptors)) + 32 * field;
    info.offset = read_le16(d + 12);
    info.length = d[16];
    info.type = static_cast<char>(d[11]);
    info.decimals = d[17];
    for (int i = 0; i < 11 && d[i]; ++i) info.name[i] = static_cast<char>(d[i]);
    LVUnlock(t.descriptors);
    return info;
}

int32_t Dbf_GetFieldLength(const DbfTable& t, int32_t field) {
    if (field < 0 || field >= t.field_count || !t.descriptors) return 0;
    auto* d = static_cast<const uint8_t*>(LVLock(t.descriptors));
    int32_t length = d[32 * field + 16];
    LVUnlock(t.descriptors);
    return length;
}

}  // namespace hyl
