// Placeholder until the date subsystem lands: every date reads as no date.
#include "textime/dates.h"

namespace hyl {
double Dt_DateFromFieldText(const char*) { return 0.0; }
double Dt_GmtToLocal(double) { return 0.0; }
double Dt_LocalToGmt(double) { return 0.0; }
double Dt_DateFromSeconds1970(double) { return 0.0; }
}  // namespace hyl
