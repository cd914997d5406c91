// Linux's own calls behind linux_calls.h.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/linux_calls.h"

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

ssize_t system_copy_range(int in, int out, off_t at, size_t size) {
    // copy_file_range clones on some file systems; sendfile copies where it cannot.
    static bool no_range = false;  // a kernel without it
    if (!no_range) {
        loff_t from = at, to = at;
        ssize_t n = copy_file_range(in, &from, out, &to, size, 0);
        if (n >= 0 ||
            (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)) {
            return n;
        }
        no_range = errno == ENOSYS;
    }
    if (lseek(out, at, SEEK_SET) < 0) return -1;
    off_t from = at;
    return sendfile(out, in, &from, size);
}

int system_sync_fs(int fd) {
    return syncfs(fd);
}

bool system_fixed_file(int dir, const char* name) {
    struct statx st;
    if (statx(dir, name, AT_SYMLINK_NOFOLLOW, 0, &st) != 0) return false;
    const uint64_t fixed = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
    return (st.stx_attributes_mask & fixed) && (st.stx_attributes & fixed);
}

bool system_random(void* buffer, size_t size) {
    return getrandom(buffer, size, 0) == static_cast<ssize_t>(size);
}

std::string system_copy_xattrs(int in, int out, bool& narrowing) {
    narrowing = false;
    std::vector<char> names(1024);
    ssize_t len;
    while ((len = flistxattr(in, names.data(), names.size())) < 0 && errno == ERANGE) {
        names.resize(names.size() * 4);
    }
    if (len < 0)
        return errno == ENOTSUP ? std::string()
                                : std::string("its extended attributes could not be read (") +
                                      std::strerror(errno) + ")";
    std::string failed;
    std::vector<char> value(4096);
    for (const char* name = names.data(); name < names.data() + len;
         name += std::strlen(name) + 1) {
        ssize_t n;
        while ((n = fgetxattr(in, name, value.data(), value.size())) < 0 && errno == ERANGE) {
            value.resize(value.size() * 4);
        }
        if (n >= 0 && fsetxattr(out, name, value.data(), static_cast<size_t>(n), 0) == 0) continue;
        const bool narrows = std::strcmp(name, "system.posix_acl_access") == 0 ||
                             std::strncmp(name, "security.", 9) == 0;
        if (narrows) narrowing = true;
        if (!failed.empty()) failed += ", ";
        failed += std::string(name) + " (" + std::strerror(errno) + ")";
    }
    return failed;
}
