// Creating a table (header, then one descriptor per call) and appending
// records through the record assembly buffer.
#include <cstring>

#include "dbf/dbf.h"
#include "lowlevel/lv.h"
#include "platform/codepage.h"

namespace hyl {
namespace {

constexpr auto kCreateFailed = cp1251(u8"Dbf_CreateNewBase:: не открыть <%s> %p errno=%d");
constexpr auto kCreateUnwritable = cp1251(u8"Dbf_CreateNewBase:: не записать <%s> %p errno=%d");
constexpr auto kFieldUnwritable = cp1251(u8"Dbf_CreateNewField:: не записать <%s> errno=%5d");
constexpr auto kAppendOpenFailed = cp1251(u8"Dbf_AppendRecord:: не открыть <%s> errno=%5d %p");
constexpr auto kAppendUnwritable = cp1251(u8"Dbf_AppendRecord:: не записать <%s> errno=%5d %p");

bool write_at(int32_t handle, int32_t position, const void* bytes, int32_t count) {
    return lvv_seek(handle, position, 0) == position && lvv_write(handle, bytes, count) == count;
}

}  // namespace

int32_t Dbf_CreateNewBase(DbfTable& t, int32_t field_count, const char* path) {
    Dbf_Close(t);
    // Outside these limits the header length no longer fits its signed 16 bits.
    if (field_count < 0 || field_count > kDbfMaxFields) return 0;
    if (!path) path = "";
    if (std::strlen(path) > static_cast<std::size_t>(kDbfPathMax)) {
        // Cutting the path could create or truncate another file.  The path
        // remembered stays, as a refused open leaves it.
        LVMessage(0, kCreateFailed, path, static_cast<void*>(&t), platform().crt_errno());
        return 0;
    }
    std::memset(t.path, 0, sizeof t.path);
    std::strncpy(t.path, path, kDbfPathMax);
    std::memset(t.header, 0, sizeof t.header);
    t.field_count = field_count;
    t.header[29] = kDbfLanguageOem;
    t.set_record_count(0);
    t.set_record_length(1);
    t.set_header_length(static_cast<int16_t>(32 * field_count + 33));
    t.header[0] = 3;
    t.header[1] = 4;
    t.header[2] = 2;
    t.header[3] = 27;
    Dbf_CloseFile(t);
    t.handle = platform().file_create(t.path);
    if (t.handle == -1) {
        LVMessage(0, kCreateFailed, t.path, static_cast<void*>(&t), platform().crt_errno());
        return 0;
    }
    bool written = write_at(t.handle, 0, t.header, 32);
    Dbf_CloseFile(t);
    if (!written) {
        LVMessage(0, kCreateUnwritable, t.path, static_cast<void*>(&t), platform().crt_errno());
        t.field_count = 0;  // no header on disk to define fields against
        return 0;
    }
    return 1;
}

int32_t Dbf_CreateNewField(DbfTable& t, int32_t index, const char* name, char type, int32_t length,
                           int32_t decimals) {
    if (index < 0 || index >= t.field_count) return 0;
    if (length < 0 || length > 255 || decimals < 0 || decimals > 255) return 0;
    const int32_t record_length = t.record_length();
    if (record_length < 1 || record_length + length > kDbfMaxRecordLength) return 0;

    uint8_t desc[32] = {};
    if (name)
        for (int i = 0; i < 11 && name[i]; ++i) desc[i] = static_cast<uint8_t>(name[i]);
    desc[11] = static_cast<uint8_t>(type);
    desc[12] = static_cast<uint8_t>(record_length & 0xFF);
    desc[13] = static_cast<uint8_t>((record_length >> 8) & 0xFF);
    desc[16] = static_cast<uint8_t>(length);
    desc[17] = static_cast<uint8_t>(decimals);

    Dbf_CloseFile(t);
    t.handle = lvv_open(t.path, kModeUpdate, kOpenAttempts);
    if (t.handle == -1) return 0;
    // The record length grows only once the descriptor is on disk, so a
    // definition retried after a failure gives a correct header.
    uint8_t header[32];
    std::memcpy(header, t.header, sizeof header);
    const int32_t grown = record_length + length;
    header[10] = static_cast<uint8_t>(grown & 0xFF);
    header[11] = static_cast<uint8_t>((grown >> 8) & 0xFF);
    static const uint8_t kTerminator = 0x0D;
    bool written = write_at(t.handle, 32 * (index + 1), desc, 32);
    if (written && index >= t.field_count - 1) written = write_at(t.handle, 32 * (index + 2), &kTerminator, 1);
    if (written) written = write_at(t.handle, 0, header, 32);
    Dbf_CloseFile(t);
    if (!written) {
        LVMessage(0, kFieldUnwritable, t.path, platform().crt_errno());
        return 0;
    }
    std::memcpy(t.header, header, sizeof header);
    return 1;
}

void Dbf_ClearAssembly(DbfTable& t) {
    if (t.assembly_bytes) std::memset(t.assembly_bytes, 0, static_cast<std::size_t>(t.assembly_record_length) + 10);
}

int32_t Dbf_PutField(DbfTable& t, int32_t field, const char* value) {
    int32_t n = value ? static_cast<int32_t>(std::strlen(value)) : 0;
    if (n == 0) return 0;
    DbfFieldInfo info = Dbf_GetFieldInfo(t, field);
    if (n > static_cast<int32_t>(info.length)) n = static_cast<int32_t>(info.length);
    if (!t.assembly) {
        int32_t record_length = t.record_length() > 0 ? t.record_length() : 0;
        MemHandle block = platform().mem_alloc(kGmemFixed | kGmemZeroInit, static_cast<uint32_t>(record_length) + 10);
        if (!block) return 0;
        t.assembly = block;
        t.assembly_bytes = static_cast<uint8_t*>(platform().mem_lock(block));
        t.assembly_record_length = record_length;
    }
    // A value lands only inside the record part of the buffer, whatever the
    // descriptors claim about offsets and lengths.
    if (info.offset >= 1 && info.offset < t.assembly_record_length) {
        if (n > t.assembly_record_length - info.offset) n = t.assembly_record_length - info.offset;
        if (n > 0) std::memcpy(t.assembly_bytes + info.offset, value, static_cast<std::size_t>(n));
    }
    LVNulToBlank(t.assembly_bytes, t.assembly_record_length);
    return 1;
}

int32_t Dbf_AppendRecord(DbfTable& t, const uint8_t* record) {
    const int32_t record_length = t.record_length();
    if (record_length < 1) return 0;
    // A record assembled before the fields grew would be written short.
    if (record == t.assembly_bytes && record_length > t.assembly_record_length) return 0;
    const int32_t count = t.record_count();
    const int64_t position = t.header_length() + static_cast<int64_t>(count) * record_length;
    if (count < 0 || t.header_length() < 32 || position > 0x7FFFFFFF - record_length) return 0;
    // A table opened for appending already holds its file for writing, with
    // other writers kept out: appending through that handle leaves no moment
    // between two records in which another process could take the file.
    const bool held_for_writing = t.handle != -1 && (t.mode & DbfModeKeepOpen) && (t.mode & DbfModeWrite);
    if (!held_for_writing) {
        Dbf_CloseFile(t);
        t.handle = lvv_open(t.path, kModeUpdate, kOpenAttempts);
    }
    if (t.handle == -1) {
        LVMessage(0, kAppendOpenFailed, t.path, platform().crt_errno(), static_cast<void*>(&t));
        return 0;
    }
    // The count on disk follows each record written: a process that dies
    // between two appends leaves a header that counts every record it was
    // told is appended, and at most the one in flight lies uncounted after
    // them.  Only bytes 4-7 are written here; the whole header still goes
    // back at the close.
    uint8_t count_bytes[4];
    const auto new_count = static_cast<uint32_t>(count + 1);
    for (int i = 0; i < 4; ++i) count_bytes[i] = static_cast<uint8_t>(new_count >> (8 * i));
    bool written = lvv_write_at(t.handle, position, record, record_length) == record_length &&
                   lvv_write_at(t.handle, 4, count_bytes, 4) == 4;
    if (!(t.mode & DbfModeKeepOpen)) Dbf_CloseFile(t);
    if (!written) {
        LVMessage(0, kAppendUnwritable, t.path, platform().crt_errno(), static_cast<void*>(&t));
        return 0;
    }
    t.set_record_count(count + 1);
    ++t.appended;
    return 1;
}

}  // namespace hyl
