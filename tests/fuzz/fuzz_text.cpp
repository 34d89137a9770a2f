// Reads arbitrary text as a date, a time of day and a number, and converts
// arbitrary doubles between GMT, local time and seconds since 1970, in a
// zone with daylight saving.
#include <cstring>
#include <string>

#include "hyl.h"
#include "tests/fuzz/fuzz_common.h"
#include "textime/datetext.h"
#include "textime/dates.h"
#include "textime/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hylfuzz::install_memory_platform();
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)hyl::Dt_DateFromFieldText(text.c_str());
    (void)hyl::Dt_ParseTimeOfDay(text.c_str());
    (void)hyl::LVParseNumber(text.c_str());
    double value = 0.0;
    if (size >= sizeof value) {
        std::memcpy(&value, data, sizeof value);
        (void)GMT_To_Local(value);
        (void)Local_To_GMT(value);
        (void)Hyl_GetDateByNsecFrom1970(value);
    }
    return 0;
}
