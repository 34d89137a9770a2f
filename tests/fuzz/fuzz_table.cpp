// Opens a table made of arbitrary bytes and reads every field of every
// record as text, number and date, kept open and opened per read.
#include "hyl.h"
#include "tests/fuzz/fuzz_common.h"
#include "dbf/dbf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hylfuzz::install_quiet_platform();
    static const std::string path = hylfuzz::scratch_path("table.dbf");
    hylfuzz::write_bytes(path, data, size);
    for (uint32_t mode : {hyl::DbfModeKeepOpen, 0u}) {
        if (!hyl::Dbf_ReadHead(hyl::g_current_table, path.c_str(), mode)) continue;
        // Opened per read, a table costs an open for every field: read less of it.
        const int limit = mode ? 64 : 4;
        int records = Hyl_GetQRecords();
        if (records > limit) records = limit;
        const int fields = Hyl_GetQFields();
        for (int f = -1; f <= fields; ++f) {
            (void)Hyl_GetFieldName(f);
            (void)Hyl_GetFieldType(f);
            (void)Hyl_GetFieldLenth(f);
            (void)Hyl_GetFieldQuolity(f);
        }
        for (int r = -1; r <= records; ++r) {
            for (int f = 0; f < fields && f < limit; ++f) {
                (void)Hyl_GetFieldText(r, f);
                (void)Hyl_GetFieldNumeric(r, f);
                (void)Hyl_GetFieldDate(r, f);
            }
        }
        Hyl_CloseTable();
    }
    return 0;
}
