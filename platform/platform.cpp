#include "platform/platform.h"

namespace {
Platform* installed = nullptr;
}

Platform& platform() { return installed ? *installed : platform_native(); }

void platform_install(Platform* p) { installed = p; }
