// The working exports: thin doors onto the current table, the plan lookup
// and the date conversions.
//
// Any thread may call any export.  Those that touch the current table, the
// table image or the drive override hold the library's lock for their whole
// work; the three conversions between GMT, local time and seconds since 1970
// touch only their arguments and the zone, and run without it, so a thread
// that converts dates is never held up by another's message box.
//
// Text results live in the calling thread's own buffers, one for each kind,
// until that thread's next call of the same kind (reading a field as a number
// or a date fills the field-text buffer too).  A thread whose buffers cannot
// be had gets an empty text.
#include <cstring>

#include "dbf/dbf.h"
#include "include/hyl.h"
#include "lowlevel/lv.h"
#include "platform/codepage.h"
#include "platform/threads.h"
#include "plan/plan.h"
#include "textime/dates.h"
#include "textime/text.h"

using namespace hyl;

namespace {

struct TextResults {
    char field_name[256];
    char field_type[2];
    char field_text[512];
};

// The calling thread's buffers, made at its first text call; null when
// there is no memory for them.
TextResults* text_results() { return static_cast<TextResults*>(thread_block(sizeof(TextResults))); }

const char kNoText[] = "";

}  // namespace

extern "C" {

int HYL_CALL Hyl_OpenTableForRead(const char* path) {
    LibraryLock hold;
    Dbf_Close(g_current_table);
    return Dbf_ReadHead(g_current_table, path, DbfModeKeepOpen);
}

int HYL_CALL Hyl_OpenTableForAppend(const char* path) {
    LibraryLock hold;
    Dbf_Close(g_current_table);
    return Dbf_ReadHead(g_current_table, path, DbfModeWrite | DbfModeKeepOpen);
}

int HYL_CALL Hyl_CloseTable(void) {
    LibraryLock hold;
    Dbf_Close(g_current_table);
    return 1;
}

int HYL_CALL Hyl_GetQRecords(void) {
    LibraryLock hold;
    return g_current_table.record_count();
}

int HYL_CALL Hyl_GetQFields(void) {
    LibraryLock hold;
    return g_current_table.field_count;
}

const char* HYL_CALL Hyl_GetFieldName(int field) {
    TextResults* results = text_results();
    if (!results) return kNoText;
    char* name = results->field_name;
    std::memset(name, 0, sizeof results->field_name);
    LibraryLock hold;
    DbfFieldInfo info = Dbf_GetFieldInfo(g_current_table, field);
    std::memcpy(name, info.name, sizeof info.name);
    LVTrimRight(name, 255);
    if (Dbf_LanguageIsOem(g_current_table.language())) oem_to_ansi(name);
    return name;
}

const char* HYL_CALL Hyl_GetFieldType(int field) {
    TextResults* results = text_results();
    if (!results) return kNoText;
    char* type = results->field_type;
    std::memset(type, 0, sizeof results->field_type);
    LibraryLock hold;
    type[0] = Dbf_GetFieldInfo(g_current_table, field).type;
    return type;
}

int HYL_CALL Hyl_GetFieldLenth(int field) {
    LibraryLock hold;
    return Dbf_GetFieldLength(g_current_table, field);
}

int HYL_CALL Hyl_GetFieldQuolity(int field) {
    LibraryLock hold;
    return static_cast<int>(Dbf_GetFieldInfo(g_current_table, field).decimals);
}

const char* HYL_CALL Hyl_GetFieldText(int record, int field) {
    TextResults* results = text_results();
    if (!results) return kNoText;
    char* text = results->field_text;
    std::memset(text, 0, sizeof results->field_text);
    LibraryLock hold;
    Dbf_ReadField(g_current_table, text, field, 511, record);
    LVTrimRight(text, 0);
    if (Dbf_LanguageIsOem(g_current_table.language())) oem_to_ansi(text);
    return text;
}

double HYL_CALL Hyl_GetFieldNumeric(int record, int field) {
    return LVParseNumber(Hyl_GetFieldText(record, field));
}

HYL_DATE HYL_CALL Hyl_GetFieldDate(int record, int field) {
    return Dt_DateFromFieldText(Hyl_GetFieldText(record, field));
}

int HYL_CALL Hyl_CreateDbf(int field_count, const char* path) {
    LibraryLock hold;
    Dbf_Close(g_current_table);
    return Dbf_CreateNewBase(g_current_table, field_count, path);
}

int HYL_CALL Hyl_CreateNewField(int index, int length, const char* name, const char* type,
                                int decimals) {
    char oem_name[12] = {};
    if (name) {
        std::size_t n = std::strlen(name);
        std::memcpy(oem_name, name, n < 11 ? n : 11);
    }
    ansi_to_oem(oem_name);
    char letter = type ? type[0] : '\0';
    LibraryLock hold;
    return Dbf_CreateNewField(g_current_table, index, oem_name, letter, length, decimals);
}

int HYL_CALL Hyl_PutField(const char* value, int field) {
    LibraryLock hold;
    if (field == 0) Dbf_ClearAssembly(g_current_table);
    return Dbf_PutField(g_current_table, field, value);
}

int HYL_CALL Hyl_AppendRecord(void) {
    LibraryLock hold;
    if (!g_current_table.assembly) return 0;
    return Dbf_AppendRecord(g_current_table, g_current_table.assembly_bytes);
}

void HYL_CALL Hyl_SetNDisk(const char* drive) {
    LibraryLock hold;
    Plan_SetDrive(drive);
}

int HYL_CALL Hyl_pMonZvkGetNextMesplan(const char* object, const char* equipment, HYL_DATE from,
                                       HYL_DATE to, int previous) {
    LibraryLock hold;
    return Plan_GetNextMesplan(object, equipment, from, to, previous);
}

HYL_DATE HYL_CALL Hyl_pMonZvkGetDate(const char* field_name, int record) {
    LibraryLock hold;
    return Plan_GetDate(field_name, record);
}

int HYL_CALL Hyl_pMonZvkFreeResource(void) {
    LibraryLock hold;
    return Plan_FreeResource();
}

HYL_DATE HYL_CALL GMT_To_Local(HYL_DATE gmt) { return Dt_GmtToLocal(gmt); }

HYL_DATE HYL_CALL Local_To_GMT(HYL_DATE local) { return Dt_LocalToGmt(local); }

HYL_DATE HYL_CALL Hyl_GetDateByNsecFrom1970(double seconds) {
    return Dt_DateFromSeconds1970(seconds);
}

}  // extern "C"
