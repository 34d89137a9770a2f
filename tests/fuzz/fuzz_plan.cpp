// Loads a plan image from arbitrary bytes and walks searches and dates over
// it: whatever the header claims, nothing is read outside the image.  The
// fault plan at the front of the input may hold the plan file elsewhere for
// some of the load's attempts, or cut its read short.
#include "hyl.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hylfuzz::start_run_from_input(data, size);
    hylfuzz::put_file("X:\\QUV\\HYL_CE\\zmec.dbf", data, size);
    struct Query {
        const char* object;
        const char* equipment;
        double from, to;
    } queries[] = {{"", "", 0.0, 60000.0}, {nullptr, nullptr, 40247.0, 40250.5}, {"\x8A", "a", 29000.0, 29001.0}};
    for (const auto& q : queries) {
        int found = 0;
        // The first entries found take every path a later one would.
        for (int previous = -1; found < 4;) {
            int r = Hyl_pMonZvkGetNextMesplan(q.object, q.equipment, q.from, q.to, previous);
            if (r < 0 || r <= previous) break;
            (void)Hyl_pMonZvkGetDate("TIMERZN", r);
            (void)Hyl_pMonZvkGetDate("TIMERZK", r);
            previous = r;
            ++found;
        }
    }
    for (int r : {-2, -1, 0, 1, 1 << 30}) (void)Hyl_pMonZvkGetDate("timerzk", r);
    (void)Hyl_pMonZvkGetNextMesplan("", "", 0.0, 1e6, -1000);
    return 0;
}
