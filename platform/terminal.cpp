// What every terminal does alike: standard error, and the check that standard output took
// what was written.
#include "platform/terminal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
