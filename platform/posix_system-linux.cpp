// Linux's own calls behind posix_system.h.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/posix_system.h"

int system_rename_noreplace(int dir, const char* from, const char* to) {
    return renameat2(dir, from, dir, to, RENAME_NOREPLACE);
}

int system_open_unnamed(int dir) {
    return openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
}

int system_link_unnamed(int fd, int dir, const char* to) {
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, proc, dir, to, AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return -1;
    return linkat(fd, "", dir, to, AT_EMPTY_PATH);  // no /proc: the privileged way
}

int system_clone(int in, int out) {
    return ioctl(out, FICLONE, in);
}

ssize_t system_copy_range(int in, int out, size_t size) {
    // copy_file_range clones on some file systems; sendfile copies where it cannot.
    static bool no_range = false;  // a kernel without it
    if (!no_range) {
        ssize_t n = copy_file_range(in, nullptr, out, nullptr, size, 0);
        if (n >= 0 ||
            (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)) {
            return n;
        }
        no_range = errno == ENOSYS;
    }
    return sendfile(out, in, nullptr, size);
}

bool system_random(void* buffer, size_t size) {
    return getrandom(buffer, size, 0) == static_cast<ssize_t>(size);
}
