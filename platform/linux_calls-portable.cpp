// POSIX.1-2008 alone: none of the calls of linux_calls.h but the random bytes, which come
// from /dev/urandom where there is one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux_calls.h"

namespace {
int cannot() {
    errno = ENOSYS;
    return -1;
}
}  // namespace

int system_rename_noreplace(int, const char*, int, const char*) {
    return cannot();
}
int system_rename_exchange(int, const char*, int, const char*) {
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

/// POSIX.1-2008 has no extended attributes. Where the system says that the file system keeps
/// access lists, none of which can be copied here, the copy narrows to its owner; where it
/// cannot say, the mode is kept and the note tells.
std::string system_copy_xattrs(int in, int, bool, bool& narrowing) {
#ifdef _PC_ACL_EXTENDED
    narrowing = fpathconf(in, _PC_ACL_EXTENDED) > 0;
    return narrowing ? "its access list (this build cannot copy one)" : std::string();
#else
    (void)in;
    narrowing = false;
    return "its access list, which this build cannot look at";
#endif
}

bool system_default_access_list(int) {
    return false;
}

int system_sync_fs(int) {
    return cannot();
}

/// The flags of the BSDs and macOS, where the system has them.
int system_fixed_file(int dir, const char* name) {
#ifdef UF_IMMUTABLE
    struct stat st;
    const int flags = *name ? AT_SYMLINK_NOFOLLOW : 0;
    if (fstatat(dir, *name ? name : ".", &st, flags) != 0) return 0;
    return (st.st_flags & (UF_IMMUTABLE | SF_IMMUTABLE) ? FIXED_IMMUTABLE : 0) |
           (st.st_flags & (UF_APPEND | SF_APPEND) ? FIXED_APPEND_ONLY : 0);
#else
    (void)dir;
    (void)name;
    return 0;
#endif
}

bool system_look(int dir, const char* name, struct stat& st, struct timespec& made) {
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    made = st.st_mtim;
    return true;
}

bool system_mount_root(int, const char*) {
    return false;
}

bool system_acts_as_owner_of(uid_t) {
    return geteuid() == 0;
}

bool system_random(void* buffer, size_t size) {
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n = read(fd, buffer, size);
    close(fd);
    return n == static_cast<ssize_t>(size);
}
