// Runs an arbitrary sequence of create, define, put, append, open and close
// calls, then reads the result back: nothing may crash or write outside
// the library's buffers, whatever the order, the values, or the faults the
// plan at the front of the input sets (the table held elsewhere, short
// reads, writes that stop half way, memory that cannot be had).
#include <string>

#include "hyl.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool more() const { return at < size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    int small() { return static_cast<int8_t>(byte()); }
    int wide() { return static_cast<int16_t>(byte() | byte() << 8); }
    std::string text() {
        size_t n = byte() % 40;
        std::string s;
        for (size_t i = 0; i < n && more(); ++i) {
            char c = static_cast<char>(byte());
            s += c ? c : ' ';
        }
        return s;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hylfuzz::start_run_from_input(data, size);
    static const char kPath[] = "C:\\WORK\\SEQ.DBF";
    static const std::string kLongPath = std::string("C:\\WORK\\") + std::string(250, 'L') + ".DBF";
    Reader in{data, size};
    for (int step = 0; step < 64 && in.more(); ++step) {
        switch (in.byte() % 12) {
            case 0: Hyl_CreateDbf(in.wide() % 40, kPath); break;
            case 1: {
                int index = in.small();
                int length = in.wide();
                std::string name = in.text(), type = in.text();
                Hyl_CreateNewField(index, length, name.c_str(), type.c_str(), in.wide());
                break;
            }
            case 2: Hyl_OpenTableForAppend(kPath); break;
            case 3: {
                std::string value = in.text();
                Hyl_PutField(value.c_str(), in.small());
                break;
            }
            case 4: Hyl_AppendRecord(); break;
            case 5: Hyl_CloseTable(); break;
            case 6: Hyl_OpenTableForRead(kPath); break;
            case 7: (void)Hyl_GetFieldText(in.small(), in.small()); break;
            case 8: Hyl_PutField(nullptr, in.small()); break;
            case 9: {
                const int record = in.small(), field = in.small();
                (void)Hyl_GetFieldNumeric(record, field);
                (void)Hyl_GetFieldDate(record, field);
                break;
            }
            // The table last named again, by a null path.
            case 10: (in.byte() & 1 ? Hyl_OpenTableForAppend : Hyl_OpenTableForRead)(nullptr); break;
            // A path too long to keep: refused, the table last named kept.
            case 11:
                if (in.byte() & 1)
                    Hyl_OpenTableForRead(kLongPath.c_str());
                else
                    Hyl_CreateDbf(1, kLongPath.c_str());
                break;
        }
    }
    Hyl_CloseTable();
    if (Hyl_OpenTableForRead(kPath)) {
        int records = Hyl_GetQRecords() < 32 ? Hyl_GetQRecords() : 32;
        for (int r = 0; r < records; ++r)
            for (int f = 0; f < Hyl_GetQFields() && f < 32; ++f) (void)Hyl_GetFieldText(r, f);
        Hyl_CloseTable();
    }
    return 0;
}
