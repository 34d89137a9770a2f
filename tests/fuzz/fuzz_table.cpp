// Opens a table made of arbitrary bytes and reads its fields as text,
// number and date, kept open and opened per read, while the fault plan at
// the front of the input holds the file elsewhere, cuts reads short or
// fails them.  Each kind of place is read once a run: the first records
// and fields, the last ones, and those just outside on either side.
#include <vector>

#include "dbf/dbf.h"
#include "hyl.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

// -1, 0 .. limit - 1, count - 1 and count: every index a host may pass that
// takes another path through the library.
std::vector<int> places(int count, int limit) {
    std::vector<int> out{-1};
    for (int i = 0; i < count && i < limit; ++i) out.push_back(i);
    if (count > limit) out.push_back(count - 1);  // a header may claim any count at all
    out.push_back(count);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hylfuzz::start_run_from_input(data, size);
    static const char kPath[] = "C:\\DATA\\TABLE.DBF";
    hylfuzz::put_file(kPath, data, size);
    for (uint32_t mode : {hyl::DbfModeKeepOpen, 0u}) {
        if (!hyl::Dbf_ReadHead(hyl::g_current_table, kPath, mode)) continue;
        // Opened per read, a table costs an open for every field: read less of it.
        const std::vector<int> records = places(Hyl_GetQRecords(), mode ? 2 : 1);
        const std::vector<int> fields = places(Hyl_GetQFields(), mode ? 8 : 2);
        for (int f : fields) {
            (void)Hyl_GetFieldName(f);
            (void)Hyl_GetFieldType(f);
            (void)Hyl_GetFieldLenth(f);
            (void)Hyl_GetFieldQuolity(f);
        }
        for (int r : records) {
            for (int f : fields) {
                (void)Hyl_GetFieldText(r, f);
                (void)Hyl_GetFieldNumeric(r, f);
                (void)Hyl_GetFieldDate(r, f);
            }
        }
        Hyl_CloseTable();
    }
    return 0;
}
