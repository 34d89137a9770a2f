/*
 * hyl: dBASE III tables, the monthly plan lookup and date conversions.
 *
 * On 32-bit Windows the library is hyl.dll and every function below is
 * exported with the standard call convention under its decorated name: a
 * leading underscore, the name, '@' and the bytes of its arguments
 * (Hyl_GetFieldText becomes _Hyl_GetFieldText@8), at the ordinals listed in
 * hyl.def (1 to 44).  A host may also find them with GetProcAddress by that
 * decorated name or by ordinal.
 *
 * On 64-bit Windows hyl.dll exports each function under its plain name
 * (Hyl_GetFieldText) at the same ordinal, x64 having one calling convention
 * and no decoration (HYL_CALL means nothing there), and under the decorated
 * name as an alias of the same function at that ordinal plus 44, so a host
 * moved to 64 bits finds every export by the names and ordinals it used.
 *
 * Built natively (libhyl.so) the same 44 functions are exported under the
 * undecorated names declared here: drop the leading underscore and the
 * '@' suffix (_Hyl_GetFieldText@8 is Hyl_GetFieldText, _GMT_To_Local@8 is
 * GMT_To_Local), with the platform's own calling convention.
 *
 * Text in both directions is Windows-1251.  Text results point into buffers
 * of the library, each thread's own, that the same thread's next call of the
 * same kind overwrites; the host copies them and never frees them.  Any
 * thread may call any function; those that use the current table or the
 * plan take turns on one process-wide lock (see docs/reference.md).  Dates
 * are OLE Automation DATE values (days since 1899-12-30 00:00, the fraction
 * the time of day), local time unless the name says GMT.  Record and field
 * numbers count from 0.
 */
#ifndef HYL_H
#define HYL_H

#if defined(_WIN32)
#define HYL_CALL __stdcall
#define HYL_API
#else
#define HYL_CALL
#define HYL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef double HYL_DATE;

/* --- The current table ------------------------------------------------ */
/* Closes the current table and opens PATH for reading; 1 opened, 0 not. */
HYL_API int HYL_CALL Hyl_OpenTableForRead(const char* path);
/* Closes the current table and opens PATH for appending; 1 opened, 0 not. */
HYL_API int HYL_CALL Hyl_OpenTableForAppend(const char* path);
/* Closes the current table (writing its header back after appends); 1. */
HYL_API int HYL_CALL Hyl_CloseTable(void);
HYL_API int HYL_CALL Hyl_GetQRecords(void);
HYL_API int HYL_CALL Hyl_GetQFields(void);
HYL_API const char* HYL_CALL Hyl_GetFieldName(int field);
HYL_API const char* HYL_CALL Hyl_GetFieldType(int field);
HYL_API int HYL_CALL Hyl_GetFieldLenth(int field);
HYL_API int HYL_CALL Hyl_GetFieldQuolity(int field);
/* A field's text, trailing blanks removed, in Windows-1251. */
HYL_API const char* HYL_CALL Hyl_GetFieldText(int record, int field);
HYL_API double HYL_CALL Hyl_GetFieldNumeric(int record, int field);
HYL_API HYL_DATE HYL_CALL Hyl_GetFieldDate(int record, int field);
/* Creates PATH with a header for FIELD_COUNT fields (0 to 1022); 1 or 0. */
HYL_API int HYL_CALL Hyl_CreateDbf(int field_count, const char* path);
/* Defines field INDEX of the table being created; 1 or 0. */
HYL_API int HYL_CALL Hyl_CreateNewField(int index, int length, const char* name, const char* type,
                                        int decimals);
/* Puts VALUE into FIELD of the record being assembled; field 0 starts a new record. */
HYL_API int HYL_CALL Hyl_PutField(const char* value, int field);
HYL_API int HYL_CALL Hyl_AppendRecord(void);

/* --- The monthly plan ------------------------------------------------- */
HYL_API void HYL_CALL Hyl_SetNDisk(const char* drive);
HYL_API int HYL_CALL Hyl_pMonZvkGetNextMesplan(const char* object, const char* equipment,
                                               HYL_DATE from, HYL_DATE to, int previous);
HYL_API HYL_DATE HYL_CALL Hyl_pMonZvkGetDate(const char* field_name, int record);
HYL_API int HYL_CALL Hyl_pMonZvkFreeResource(void);

/* --- Time conversions ------------------------------------------------- */
HYL_API HYL_DATE HYL_CALL GMT_To_Local(HYL_DATE gmt);
HYL_API HYL_DATE HYL_CALL Local_To_GMT(HYL_DATE local);
HYL_API HYL_DATE HYL_CALL Hyl_GetDateByNsecFrom1970(double seconds);

/* --- Kept for older hosts: fixed results, arguments ignored ------------ */
HYL_API void HYL_CALL FillBufCodVdr(void);
HYL_API int HYL_CALL Freew1w2w3DbfFile(void);
HYL_API int HYL_CALL GetTextVdr14(int a);
HYL_API int HYL_CALL GetTextVdr2(int a);
HYL_API int HYL_CALL Readw1w2w3DbfFile(void);
HYL_API void HYL_CALL Hyl_GPRST_FreeRsource(void);
HYL_API double HYL_CALL Hyl_GetPrst(int a, int b, int c, int d);
HYL_API int HYL_CALL w1GetField(int a, int b);
HYL_API int HYL_CALL w1GetFieldByNum(int a, int b);
HYL_API int HYL_CALL w1GetNextHylNumerByType(int a, int b); /* -32000 */
HYL_API int HYL_CALL w1GetRekvByNum(int a, int b);
HYL_API int HYL_CALL w1GetRekvisit(int a, int b, int c);
HYL_API int HYL_CALL w1GetTimePrst(int a);
HYL_API int HYL_CALL w1GetTypeField(int a);
HYL_API int HYL_CALL w1GetHylNumber(int a, int b);
HYL_API int HYL_CALL w1GetHylNumberByCom(int a); /* 10000 */
HYL_API int HYL_CALL w1TestReaded(void);
HYL_API double HYL_CALL w2GetRekvisit(int a, int b);
HYL_API int HYL_CALL w2TestReaded(void);
HYL_API double HYL_CALL w3GetRekvisit(int a, int b);
HYL_API int HYL_CALL w3TestReaded(void);

#ifdef __cplusplus
}
#endif

#endif /* HYL_H */
