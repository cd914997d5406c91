// POSIX.1-2008 alone: none of the calls of linux_calls.h but the random bytes, which come
// from /dev/urandom where there is one.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux_calls.h"

namespace {
int cannot() {
    errno = ENOSYS;
    return -1;
}
}  // namespace

int system_rename_noreplace(int, const char*, const char*) {
    return cannot();
}
int system_open_unnamed(int) {
    return cannot();
}
int system_link_unnamed(int, int, const char*) {
    return cannot();
}
int system_clone(int, int) {
    return cannot();
}
ssize_t system_copy_range(int, int, off_t, size_t) {
    return cannot();
}

/// POSIX.1-2008 has no extended attributes.
std::string system_copy_xattrs(int, int, bool& narrowing) {
    narrowing = false;
    return std::string();
}

int system_sync_fs(int) {
    return cannot();
}

bool system_fixed_file(int, const char*) {
    return false;
}

bool system_random(void* buffer, size_t size) {
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n = read(fd, buffer, size);
    close(fd);
    return n == static_cast<ssize_t>(size);
}
