// The table image: a copy of a whole dBASE III file in one memory block,
// loaded once and then read in place, for the plan lookup that reads many
// fields of many records on every call.
//
// The image is read-only and does not follow the file: it holds the file as
// it was when loaded until it is freed.  The accessors hand out raw field
// bytes (no trimming, no code-page conversion) and never look at a record's
// deletion flag, so deleted records read like the others.
//
// Whatever the header claims (record count, header length, record length,
// field count, field lengths), nothing is read outside the block: a record or
// field whose bytes would lie outside it reads as empty, and the pointer
// accessors answer null for it.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace hyl {

constexpr int32_t kDbfImgPathMax = 511;
constexpr int kDbfImgLoadAttempts = 10;
constexpr uint32_t kDbfImgRetryPauseMs = 2000;
// Files of this many bytes or more are refused: it bounds the memory held.
constexpr int32_t kDbfImgLengthLimit = 15000000;

struct DbfImage {
    // The file's bytes from its byte 0, then zero bytes up to block_size;
    // null while no image is loaded.
    uint8_t* block = nullptr;
    int32_t file_length = 0;
    int32_t block_size = 0;  // file length * 3 / 2 + 32768
    char path[kDbfImgPathMax + 1] = {};  // the path of the last load
    MemHandle memory = nullptr;          // the platform's handle of block
};

// The table image of the plan lookup.
extern DbfImage g_table_image;

// Opens the file (ten attempts, a beep and a 2-second pause after each
// failed one: the plan may live on a slow network drive), refuses lengths
// outside 1 .. 14,999,999 and copies the whole file into a new block.  The
// image is expected empty (a held block is released first).  Returns the
// block, or null with no image held.
uint8_t* DbfImg_Load(DbfImage& image, const char* path);
// Releases the block; the lengths become 0, the path stays.  Always 1.
int32_t DbfImg_Free(DbfImage& image);

int32_t DbfImg_GetQRecords(const DbfImage& image);
// (header length - 32) / 32, truncated toward zero: -1 for a header length of 0.
int32_t DbfImg_GetQFields(const DbfImage& image);
// Field i's 32-byte descriptor; null for a field number outside the table.
const uint8_t* DbfImg_GetFieldDesc(const DbfImage& image, int32_t field);
// 0 to 255; 0 for a field number outside the table.
int32_t DbfImg_GetFieldLength(const DbfImage& image, int32_t field);
// 1 + the lengths of the fields before it; -1 for a field number outside the table.
int32_t DbfImg_GetFieldOffset(const DbfImage& image, int32_t field);
// Null when the record would begin outside the block.
const uint8_t* DbfImg_GetRecordPtr(const DbfImage& image, int32_t record);
// Null when any byte of the field would lie outside the block.
const uint8_t* DbfImg_GetFieldPtr(const DbfImage& image, int32_t record, int32_t field);
// The field whose name equals NAME, ASCII letters compared without regard
// to case (as _stricmp in the C locale); -1 when none.
int32_t DbfImg_FindField(const DbfImage& image, const char* name);
// Copies min(field length, capacity) raw bytes, then a NUL when they fall
// short of the capacity and TERMINATE is set.  A field outside the block
// copies nothing.  Always 1.
int32_t DbfImg_GetField(const DbfImage& image, int32_t field, int32_t record, char* dst,
                        int32_t capacity, int32_t terminate);
// 0 and DST untouched when no field has that name; otherwise DbfImg_GetField.
int32_t DbfImg_GetFieldByName(const DbfImage& image, const char* name, int32_t record, char* dst,
                              int32_t capacity, int32_t terminate);
// The number in the field's first 254 bytes, at full precision; 0 when the
// field is absent, empty or holds no number.
double DbfImg_GetNumericByName(const DbfImage& image, const char* name, int32_t record);

// Where one field lies in every record, found once for a pass over many
// records: the per-record reads below cost no descriptor walk.
struct DbfImgColumn {
    int32_t offset = -1;  // -1: no such field
    int32_t length = 0;
};
DbfImgColumn DbfImg_GetColumn(const DbfImage& image, int32_t field);
// How many of the counted records can hold anything: those that begin inside
// the file.  The rest read as empty whatever the header claims, and a
// record length below 1 leaves no room for a field at all.
int32_t DbfImg_RecordsWithin(const DbfImage& image);
// The column's bytes in a record, empty when they would lie outside the block.
std::string_view DbfImg_ColumnBytes(const DbfImage& image, int32_t record, DbfImgColumn column);

}  // namespace hyl
