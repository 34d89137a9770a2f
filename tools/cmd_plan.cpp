// The plan search.
#include "hyl.h"
#include "tools/tool.h"

namespace hyltool {

int cmd_plan(const Args&) { return usage_error("the plan search is not available in this build"); }

}  // namespace hyltool
