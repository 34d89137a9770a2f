#include "platform/platform.h"

namespace hyl {

PlatformOps install_platform(const PlatformOps& ops) {
    PlatformOps previous = g_platform_ops;
    g_platform_ops = ops;
    return previous;
}

}  // namespace hyl
