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

size_t platform_give_back(const std::string& s, char* out, size_t out_size) {
    if (s.size() + 1 > out_size) return s.size() + 1;
    std::memcpy(out, s.c_str(), s.size() + 1);
    return s.size();
}
