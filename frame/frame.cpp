#include "frame/frame.h"

#include "dbf/dbf.h"
#include "lowlevel/lv.h"
#include "plan/plan.h"

namespace hyl {

void frame_load() {
    lv_reset_last_path();
    Dbf_SetDefaults(g_current_table);
    Plan_LoadDefaults();
}

void frame_unload() {
    Plan_Unload();
    Dbf_Close(g_current_table);
}

}  // namespace hyl
