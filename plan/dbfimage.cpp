// Loading the table image and finding records, descriptors and field bytes
// in it by the dBASE III layout.  Field offsets are summed from the
// descriptors' lengths, never taken from the file; every address is checked
// against the block before it is handed out.
#include "plan/dbfimage.h"

#include <algorithm>
#include <cstring>

#include "lowlevel/lv.h"
#include "platform/codepage.h"
#include "textime/text.h"

namespace hyl {
namespace {

constexpr auto kCannotOpen = cp1251(u8"Не открыть <%s>");
constexpr auto kBadLength = cp1251(u8"Нев длина %ld <%s>");
constexpr auto kTooLong =
    cp1251(u8"Слишком большая длина %ld <%s>\n Редактируйте такие файлы другими средствами");
constexpr int32_t kImageMsgFlags = 0x11;  // ten beeps, then a message box

constexpr int32_t kNumberCapacity = 254;  // what a number is read from
constexpr int kNameBytes = 11;            // descriptor bytes 0-10

int32_t read_le32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

int16_t read_le16(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8)); }

// The header is always inside the block: the smallest block is 32,769 bytes.
int32_t header_length(const DbfImage& image) { return read_le16(image.block + 8); }
int32_t record_length(const DbfImage& image) { return read_le16(image.block + 10); }

// Where a record begins, counted from the block's start; may lie anywhere.
int64_t record_position(const DbfImage& image, int32_t record) {
    return header_length(image) + static_cast<int64_t>(record) * record_length(image);
}

bool within_block(const DbfImage& image, int64_t position, int64_t length) {
    return position >= 0 && length >= 0 && position + length <= image.block_size;
}

uint8_t ascii_lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 0x20) : c; }

// Descriptor name (at most 11 bytes, up to its NUL) against a NUL-terminated
// name, as _stricmp compares in the C locale.
bool same_field_name(const uint8_t* descriptor, const char* name) {
    int i = 0;
    for (; i < kNameBytes && descriptor[i]; ++i) {
        const auto c = static_cast<uint8_t>(name[i]);
        if (c == 0 || ascii_lower(descriptor[i]) != ascii_lower(c)) return false;
    }
    return name[i] == '\0';
}

void release_block(DbfImage& image) {
    if (image.memory) {
        platform().mem_unlock(image.memory);
        platform().mem_free(image.memory);
    }
    image.memory = nullptr;
    image.block = nullptr;
}

int32_t open_with_retries(const char* path) {
    for (int attempt = 0; attempt < kDbfImgLoadAttempts; ++attempt) {
        int32_t handle = lvv_open(path, kModeShareRead, kOpenAttempts);
        if (handle != -1) return handle;
        platform().beep();
        platform().sleep_ms(kDbfImgRetryPauseMs);
    }
    return -1;
}

}  // namespace

DbfImage g_table_image;

uint8_t* DbfImg_Load(DbfImage& image, const char* path) {
    // Callers load only an empty image; a held block is let go, not leaked.
    if (image.block) DbfImg_Free(image);
    if (!path) path = "";
    std::memset(image.path, 0, sizeof image.path);
    std::strncpy(image.path, path, kDbfImgPathMax);

    const int32_t handle = open_with_retries(path);
    if (handle == -1) {
        LVMessage(kImageMsgFlags, kCannotOpen, path);
        return nullptr;
    }
    const int32_t length = lvv_seek(handle, 0, 2);
    image.file_length = length;
    if (length <= 0 || length >= kDbfImgLengthLimit) {
        LVMessage(kImageMsgFlags, length <= 0 ? kBadLength.c_str() : kTooLong.c_str(),
                  static_cast<long>(length), path);
        lvv_close(handle);
        return nullptr;
    }
    const int32_t block_size = length * 3 / 2 + 32768;  // below 22,532,767
    MemHandle memory = platform().mem_alloc(kGmemFixed | kGmemZeroInit, static_cast<uint32_t>(block_size));
    auto* block = memory ? static_cast<uint8_t*>(platform().mem_lock(memory)) : nullptr;
    if (!block) {
        // Nothing to read into: no image rather than a read into nowhere.
        if (memory) platform().mem_free(memory);
        lvv_close(handle);
        return nullptr;
    }
    lvv_seek(handle, 0, 0);
    // A failed read has shown its own message; the image is kept, zero
    // where nothing was read, and then reads as a table with no records.
    lvv_read(handle, block, length);
    lvv_close(handle);

    image.block_size = block_size;
    image.memory = memory;
    image.block = block;
    return block;
}

int32_t DbfImg_Free(DbfImage& image) {
    release_block(image);
    image.file_length = 0;
    image.block_size = 0;
    return 1;
}

int32_t DbfImg_GetQRecords(const DbfImage& image) { return image.block ? read_le32(image.block + 4) : 0; }

int32_t DbfImg_GetQFields(const DbfImage& image) {
    return image.block ? (header_length(image) - 32) / 32 : 0;
}

const uint8_t* DbfImg_GetFieldDesc(const DbfImage& image, int32_t field) {
    if (!image.block || field < 0 || field >= DbfImg_GetQFields(image)) return nullptr;
    const int64_t position = 32 * (static_cast<int64_t>(field) + 1);
    return within_block(image, position, 32) ? image.block + position : nullptr;
}

int32_t DbfImg_GetFieldLength(const DbfImage& image, int32_t field) {
    const uint8_t* descriptor = DbfImg_GetFieldDesc(image, field);
    return descriptor ? descriptor[16] : 0;
}

int32_t DbfImg_GetFieldOffset(const DbfImage& image, int32_t field) {
    if (field < 0 || field >= DbfImg_GetQFields(image)) return -1;
    int32_t offset = 1;
    for (int32_t i = 0; i < field; ++i)
        offset += DbfImg_GetFieldLength(image, i);
    return offset;
}

const uint8_t* DbfImg_GetRecordPtr(const DbfImage& image, int32_t record) {
    if (!image.block) return nullptr;
    const int64_t position = record_position(image, record);
    return within_block(image, position, 1) ? image.block + position : nullptr;
}

int32_t DbfImg_RecordsWithin(const DbfImage& image) {
    const int32_t count = DbfImg_GetQRecords(image);
    const int64_t length = image.block ? record_length(image) : 0;
    if (count <= 0 || length < 1) return 0;
    // A record that begins past the file's end is the block's zero padding:
    // it holds no name and no count, so no search can match it.  Counting
    // only the records the file reaches keeps a broken header (records of
    // one byte, say) from making every search walk the whole padding.
    const int64_t room = static_cast<int64_t>(image.file_length) - header_length(image);
    if (room <= 0) return 0;
    return static_cast<int32_t>(std::min<int64_t>(count, (room + length - 1) / length));
}

DbfImgColumn DbfImg_GetColumn(const DbfImage& image, int32_t field) {
    DbfImgColumn column;
    column.offset = DbfImg_GetFieldOffset(image, field);
    if (column.offset >= 0) column.length = DbfImg_GetFieldLength(image, field);
    return column;
}

std::string_view DbfImg_ColumnBytes(const DbfImage& image, int32_t record, DbfImgColumn column) {
    if (!image.block || column.offset < 0) return {};
    const int64_t position = record_position(image, record) + column.offset;
    if (!within_block(image, position, column.length)) return {};
    return {reinterpret_cast<const char*>(image.block + position), static_cast<std::size_t>(column.length)};
}

const uint8_t* DbfImg_GetFieldPtr(const DbfImage& image, int32_t record, int32_t field) {
    const DbfImgColumn column = DbfImg_GetColumn(image, field);
    if (!image.block || column.offset < 0) return nullptr;
    const int64_t position = record_position(image, record) + column.offset;
    return within_block(image, position, column.length) ? image.block + position : nullptr;
}

int32_t DbfImg_FindField(const DbfImage& image, const char* name) {
    if (!name) name = "";
    const int32_t count = DbfImg_GetQFields(image);
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* descriptor = DbfImg_GetFieldDesc(image, i);
        if (descriptor && same_field_name(descriptor, name)) return i;
    }
    return -1;
}

int32_t DbfImg_GetField(const DbfImage& image, int32_t field, int32_t record, char* dst, int32_t capacity,
                        int32_t terminate) {
    if (!dst || capacity <= 0) return 1;
    const std::string_view bytes = DbfImg_ColumnBytes(image, record, DbfImg_GetColumn(image, field));
    const int32_t n = std::min(static_cast<int32_t>(bytes.size()), capacity);
    if (n > 0) std::memcpy(dst, bytes.data(), static_cast<std::size_t>(n));
    if (n < capacity && terminate) dst[n] = '\0';
    return 1;
}

int32_t DbfImg_GetFieldByName(const DbfImage& image, const char* name, int32_t record, char* dst,
                              int32_t capacity, int32_t terminate) {
    const int32_t field = DbfImg_FindField(image, name);
    if (field < 0) return 0;
    return DbfImg_GetField(image, field, record, dst, capacity, terminate);
}

double DbfImg_GetNumericByName(const DbfImage& image, const char* name, int32_t record) {
    const int32_t field = DbfImg_FindField(image, name);
    if (field < 0) return 0.0;
    const std::string_view bytes = DbfImg_ColumnBytes(image, record, DbfImg_GetColumn(image, field));
    // Read in place: the number ends at the field's end or at a NUL, as it
    // would in a cleared copy of the field's first 254 bytes.
    return LVParseNumberN(bytes.data(), std::min(static_cast<int32_t>(bytes.size()), kNumberCapacity));
}

}  // namespace hyl
