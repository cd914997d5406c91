#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
Platform* installed = nullptr;
}

Platform& platform() {
    return installed ? *installed : platform_native();
}

void platform_install(Platform* p) {
    installed = p;
}

size_t platform_give_back(const std::string& s, char* out, size_t out_size) {
    if (s.size() + 1 > out_size) return s.size() + 1;
    std::memcpy(out, s.c_str(), s.size() + 1);
    return s.size();
}

void Terminal::write_err(const char* text, size_t len) {
    std::fwrite(text, 1, len, stderr);
    std::fflush(stderr);
}

bool Terminal::output_written(std::string& why) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    why = std::strerror(errno ? errno : EIO);
    return false;
}
