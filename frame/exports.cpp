// The working exports: thin doors onto the current table, the plan lookup
// and the date conversions.  Text results live in the buffers below until
// the next call of the same kind.
#include <cstring>

#include "dbf/dbf.h"
#include "include/hyl.h"
#include "lowlevel/lv.h"
#include "platform/codepage.h"
#include "plan/plan.h"
#include "textime/dates.h"
#include "textime/text.h"

using namespace hyl;

namespace {
char g_field_name[256];
char g_field_type[2];
char g_field_text[512];
}  // namespace

extern "C" {

int HYL_CALL Hyl_OpenTableForRead(const char* path) {
    Dbf_Close(g_current_table);
    return Dbf_ReadHead(g_current_table, path, DbfModeKeepOpen);
}

int HYL_CALL Hyl_OpenTableForAppend(const char* path) {
    Dbf_Close(g_current_table);
    return Dbf_ReadHead(g_current_table, path, DbfModeWrite | DbfModeKeepOpen);
}

int HYL_CALL Hyl_CloseTable(void) {
    Dbf_Close(g_current_table);
    return 1;
}

int HYL_CALL Hyl_GetQRecords(void) { return g_current_table.record_count(); }

int HYL_CALL Hyl_GetQFields(void) { return g_current_table.field_count; }

const char* HYL_CALL Hyl_GetFieldName(int field) {
    std::memset(g_field_name, 0, sizeof g_field_name);
    DbfFieldInfo info = Dbf_GetFieldInfo(g_current_table, field);
    std::memcpy(g_field_name, info.name, sizeof info.name);
    LVTrimRight(g_field_name, 255);
    if (Dbf_LanguageIsOem(g_current_table.language())) oem_to_ansi(g_field_name);
    return g_field_name;
}

const char* HYL_CALL Hyl_GetFieldType(int field) {
    std::memset(g_field_type, 0, sizeof g_field_type);
    g_field_type[0] = Dbf_GetFieldInfo(g_current_table, field).type;
    return g_field_type;
}

int HYL_CALL Hyl_GetFieldLenth(int field) { return Dbf_GetFieldLength(g_current_table, field); }

int HYL_CALL Hyl_GetFieldQuolity(int field) {
    return static_cast<int>(Dbf_GetFieldInfo(g_current_table, field).decimals);
}

const char* HYL_CALL Hyl_GetFieldText(int record, int field) {
    std::memset(g_field_text, 0, sizeof g_field_text);
    Dbf_ReadField(g_current_table, g_field_text, field, 511, record);
    LVTrimRight(g_field_text, 0);
    if (Dbf_LanguageIsOem(g_current_table.language())) oem_to_ansi(g_field_text);
    return g_field_text;
}

double HYL_CALL Hyl_GetFieldNumeric(int record, int field) {
    return LVParseNumber(Hyl_GetFieldText(record, field));
}

HYL_DATE HYL_CALL Hyl_GetFieldDate(int record, int field) {
    return Dt_DateFromFieldText(Hyl_GetFieldText(record, field));
}

int HYL_CALL Hyl_CreateDbf(int field_count, const char* path) {
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
    return Dbf_CreateNewField(g_current_table, index, oem_name, letter, length, decimals);
}

int HYL_CALL Hyl_PutField(const char* value, int field) {
    if (field == 0) Dbf_ClearAssembly(g_current_table);
    return Dbf_PutField(g_current_table, field, value);
}

int HYL_CALL Hyl_AppendRecord(void) {
    if (!g_current_table.assembly) return 0;
    return Dbf_AppendRecord(g_current_table, g_current_table.assembly_bytes);
}

void HYL_CALL Hyl_SetNDisk(const char* drive) { Plan_SetDrive(drive); }

int HYL_CALL Hyl_pMonZvkGetNextMesplan(const char* object, const char* equipment, HYL_DATE from,
                                       HYL_DATE to, int previous) {
    return Plan_GetNextMesplan(object, equipment, from, to, previous);
}

HYL_DATE HYL_CALL Hyl_pMonZvkGetDate(const char* field_name, int record) {
    return Plan_GetDate(field_name, record);
}

int HYL_CALL Hyl_pMonZvkFreeResource(void) { return Plan_FreeResource(); }

HYL_DATE HYL_CALL GMT_To_Local(HYL_DATE gmt) { return Dt_GmtToLocal(gmt); }

HYL_DATE HYL_CALL Local_To_GMT(HYL_DATE local) { return Dt_LocalToGmt(local); }

HYL_DATE HYL_CALL Hyl_GetDateByNsecFrom1970(double seconds) {
    return Dt_DateFromSeconds1970(seconds);
}

}  // extern "C"
