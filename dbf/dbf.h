// The dBASE III table engine: the file layout, the current table, field
// values, and creating and appending tables.
//
// Layout (little-endian): a 32-byte header (version, last-update date, record
// count at 4-7, header length at 8-9, record length at 10-11, language byte at
// 29), 32-byte field descriptors (name 0-10, type 11, offset 12-13, length 16,
// decimals 17), a 0x0D terminator, then the records: a deletion-flag byte and
// the fields in order with no separators.  Header and record lengths are read
// as signed 16-bit values; field offsets are always recomputed from the
// lengths, never taken from the file.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace hyl {

constexpr uint32_t DbfModeWrite = 1;     // open the file for reading and writing
constexpr uint32_t DbfModeKeepOpen = 2;  // keep it open between operations
constexpr uint8_t kDbfLanguageOem = 0x65;  // names and text in code page 866
// Code page 866 as dBASE IV, Visual FoxPro and python-dbf mark it.
constexpr uint8_t kDbfLanguageOemDbase4 = 0x26;
constexpr uint8_t kDbfTerminator = 0x0D;
constexpr int kDbfPathMax = 254;
constexpr int32_t kDbfMaxFields = 1022;     // keeps 32 * n + 33 below 32768
constexpr int32_t kDbfMaxRecordLength = 32767;

struct DbfFieldInfo {
    int32_t offset = -1;  // within the record; -1 for an invalid field number
    uint32_t length = 0;
    char type = '\0';
    uint32_t decimals = 0;
    char name[12] = {};
};

struct DbfTable {
    uint8_t header[32] = {};
    MemHandle descriptors = nullptr;  // header length - 32 bytes after the header
    int32_t handle = -1;
    char path[kDbfPathMax + 1] = {};
    int32_t field_count = 0;
    int32_t appended = 0;  // records appended since the header was last written
    uint32_t mode = 0;
    // The record assembly buffer: one record as it will be written, then 10
    // spare zero bytes.  A fixed block, its size taken when it was made.
    MemHandle assembly = nullptr;
    uint8_t* assembly_bytes = nullptr;
    int32_t assembly_record_length = 0;

    int32_t record_count() const;
    void set_record_count(int32_t count);
    int16_t header_length() const;
    void set_header_length(int16_t length);
    int16_t record_length() const;
    void set_record_length(int16_t length);
    uint8_t language() const { return header[29]; }
};

// Whether a table's names and texts are in code page 866 and so are handed
// to the host converted to 1251.
constexpr bool Dbf_LanguageIsOem(uint8_t language) {
    return language == kDbfLanguageOem || language == kDbfLanguageOemDbase4;
}

// The fields a header describes, given the DESCRIPTOR_BYTES bytes that
// follow its first 32: the descriptors before the 0x0D terminator (dBASE IV
// and Visual FoxPro put bytes after it), or every whole 32-byte descriptor
// when none of them is the terminator.  A header of 32 x n + 33 bytes holds n.
int32_t Dbf_CountFields(const uint8_t* descriptors, int32_t descriptor_bytes);

// The current table, on which every table export works.
extern DbfTable g_current_table;

// The state at load: no file, language byte 'e', everything else zero.
void Dbf_SetDefaults(DbfTable& t);

int32_t Dbf_ReadHead(DbfTable& t, const char* path, uint32_t mode);
void Dbf_Close(DbfTable& t);
int32_t Dbf_FlashMainRec(DbfTable& t);
void Dbf_CloseFile(DbfTable& t);
DbfFieldInfo Dbf_GetFieldInfo(const DbfTable& t, int32_t field);
int32_t Dbf_GetFieldLength(const DbfTable& t, int32_t field);

int32_t Dbf_ReadField(DbfTable& t, char* dst, int32_t field, int32_t capacity, int32_t record);

int32_t Dbf_CreateNewBase(DbfTable& t, int32_t field_count, const char* path);
int32_t Dbf_CreateNewField(DbfTable& t, int32_t index, const char* name, char type, int32_t length,
                           int32_t decimals);
int32_t Dbf_PutField(DbfTable& t, int32_t field, const char* value);
int32_t Dbf_AppendRecord(DbfTable& t, const uint8_t* record);
// Empties the record assembly buffer (a new record begins with field 0).
void Dbf_ClearAssembly(DbfTable& t);

}  // namespace hyl
