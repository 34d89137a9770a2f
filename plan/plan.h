// The monthly plan lookup over the whole-file table image.
#pragma once

#include <cstdint>

namespace hyl {

// The table image at load: cleared, nothing held.
void Plan_LoadDefaults();
// At unload: the table image is released.
void Plan_Unload();

void Plan_SetDrive(const char* text);
int32_t Plan_GetNextMesplan(const char* object, const char* equipment, double from, double to,
                            int32_t previous);
double Plan_GetDate(const char* field_name, int32_t record);
int32_t Plan_FreeResource();

}  // namespace hyl
