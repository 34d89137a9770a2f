// Reading one field of one record straight from the file: no record cache,
// so every read sees the file as it is at that moment.
#include <cstring>

#include "dbf/dbf.h"
#include "lowlevel/lv.h"

namespace hyl {

int32_t Dbf_ReadField(DbfTable& t, char* dst, int32_t field, int32_t capacity, int32_t record) {
    if (capacity > 0) std::memset(dst, 0, static_cast<std::size_t>(capacity));
    if (t.handle == -1) {
        t.handle = lvv_open(t.path, (t.mode & DbfModeWrite) ? kModeUpdate : kModeShareRead, kOpenAttempts);
        if (t.handle == -1) return 0;
    }
    DbfFieldInfo info = Dbf_GetFieldInfo(t, field);
    int32_t count = static_cast<int32_t>(info.length) < capacity ? static_cast<int32_t>(info.length) : capacity;
    int32_t result = 1;
    const int64_t record_length = t.record_length();
    // Only the table's records are read: a negative record number, a broken
    // record length or a field offset that wrapped below the record's start
    // would otherwise reach into the header or before the file.
    if (count > 0 && record >= 0 && record_length >= 1 && info.offset >= 1) {
        int64_t position = t.header_length() + static_cast<int64_t>(record) * record_length + info.offset;
        result = lvv_read_at(t.handle, position, dst, count) == count;
    }
    if (!(t.mode & DbfModeKeepOpen)) Dbf_CloseFile(t);
    return result;
}

}  // namespace hyl
