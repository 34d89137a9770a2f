// Placeholder until the plan lookup lands: nothing is ever found.
#include "plan/plan.h"

namespace hyl {
void Plan_LoadDefaults() {}
void Plan_Unload() {}
void Plan_SetDrive(const char*) {}
int32_t Plan_GetNextMesplan(const char*, const char*, double, double, int32_t) { return -1; }
double Plan_GetDate(const char*, int32_t) { return 0.0; }
int32_t Plan_FreeResource() { return 1; }
}  // namespace hyl
