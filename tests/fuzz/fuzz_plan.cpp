// Loads a plan image from arbitrary bytes and walks searches and dates over
// it: whatever the header claims, nothing is read outside the image.
#include <cstdlib>
#include <string>

#include "hyl.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hylfuzz::install_quiet_platform();
    static const std::string root = [] {
        std::string plan = hylfuzz::scratch_path("QUV");
        std::string dir = plan.substr(0, plan.size() - 4);
        std::system(("mkdir -p '" + plan + "/HYL_CE'").c_str());
        setenv("HYL_DRIVE_X", dir.c_str(), 1);
        return plan;
    }();
    hylfuzz::write_bytes(root + "/HYL_CE/zmec.dbf", data, size);
    Hyl_pMonZvkFreeResource();
    struct Query {
        const char* object;
        const char* equipment;
        double from, to;
    } queries[] = {{"", "", 0.0, 60000.0}, {nullptr, nullptr, 40247.0, 40250.5}, {"\x8A", "a", 29000.0, 29001.0}};
    for (const auto& q : queries) {
        int found = 0;
        for (int previous = -1; found < 64;) {
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
