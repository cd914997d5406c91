#include "platform/platform.h"

#include <cstring>

namespace {
Platform* installed = nullptr;
}

FileSystem& file_system() {
    return installed ? static_cast<FileSystem&>(*installed) : file_system_native();
}

Terminal& terminal() {
    return installed ? static_cast<Terminal&>(*installed) : terminal_native();
}

Signals& signals() {
    return installed ? static_cast<Signals&>(*installed) : signals_native();
}

void platform_install(Platform* p) {
    installed = p;
}
