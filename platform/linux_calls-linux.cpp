// Linux's own calls behind linux_calls.h.
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/linux_calls.h"

int system_rename_noreplace(int from_dir, const char* from, int to_dir, const char* to) {
    return renameat2(from_dir, from, to_dir, to, RENAME_NOREPLACE);
}

int system_rename_exchange(int a_dir, const char* a, int b_dir, const char* b) {
    return renameat2(a_dir, a, b_dir, b, RENAME_EXCHANGE);
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

namespace {

/// The statx attributes of the entry name of dir (of dir itself for ""), 0 where unknown.
uint64_t attributes(int dir, const char* name, uint64_t wanted) {
    struct statx st;
    const int flags = AT_SYMLINK_NOFOLLOW | (*name ? 0 : AT_EMPTY_PATH);
    if (statx(dir, name, flags, 0, &st) != 0) return 0;
    return st.stx_attributes_mask & st.stx_attributes & wanted;
}

}  // namespace

int system_fixed_file(int dir, const char* name) {
    const uint64_t found = attributes(dir, name, STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND);
    return (found & STATX_ATTR_IMMUTABLE ? FIXED_IMMUTABLE : 0) |
           (found & STATX_ATTR_APPEND ? FIXED_APPEND_ONLY : 0);
}

bool system_look(int dir, const char* name, struct stat& st, struct timespec& made) {
    struct statx x;
    if (statx(dir, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &x) != 0) {
        if (errno != ENOSYS) return false;
        if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
        made = st.st_mtim;
        return true;
    }
    st = {};
    st.st_dev = makedev(x.stx_dev_major, x.stx_dev_minor);
    st.st_ino = static_cast<ino_t>(x.stx_ino);
    st.st_mode = static_cast<mode_t>(x.stx_mode);
    st.st_nlink = static_cast<nlink_t>(x.stx_nlink);
    st.st_uid = static_cast<uid_t>(x.stx_uid);
    st.st_gid = static_cast<gid_t>(x.stx_gid);
    st.st_size = static_cast<off_t>(x.stx_size);
    const auto moment = [](const struct statx_timestamp& t) {
        struct timespec ts {};
        ts.tv_sec = static_cast<time_t>(t.tv_sec);
        ts.tv_nsec = static_cast<long>(t.tv_nsec);
        return ts;
    };
    st.st_mtim = moment(x.stx_mtime);
    st.st_ctim = moment(x.stx_ctime);
    st.st_atim = moment(x.stx_atime);
    made = moment(x.stx_mask & STATX_BTIME ? x.stx_btime : x.stx_mtime);
    return true;
}

bool system_mount_root(int dir, const char* name) {
#ifdef STATX_ATTR_MOUNT_ROOT
    return attributes(dir, name, STATX_ATTR_MOUNT_ROOT) != 0;
#else
    (void)dir;
    (void)name;
    return false;
#endif
}

namespace {

/// Whether the process's user namespace maps the user id uid (as the process sees it): an
/// owner it does not map shows as the overflow id, which no capability reaches.
bool mapped(uid_t uid) {
    std::ifstream map("/proc/self/uid_map");
    if (!map) return true;
    unsigned long inside, outside, count;
    while (map >> inside >> outside >> count) {
        if (uid >= inside && uid - inside < count) return true;
    }
    return false;
}

}  // namespace

bool system_acts_as_owner_of(uid_t owner) {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return geteuid() == 0;
    const bool fowner = (data[CAP_FOWNER / 32].effective & (1u << (CAP_FOWNER % 32))) != 0;
    return fowner && mapped(owner);
}

bool system_random(void* buffer, size_t size) {
    return getrandom(buffer, size, 0) == static_cast<ssize_t>(size);
}

namespace {
const char* const ACCESS_LIST = "system.posix_acl_access";
}  // namespace

bool system_default_access_list(int dir) {
    return fgetxattr(dir, "system.posix_acl_default", nullptr, 0) >= 0 ||
           (errno != ENODATA && errno != ENOTSUP);
}

std::string system_copy_xattrs(int in, int out, bool inherited, bool& narrowing) {
    narrowing = false;
    std::vector<char> names(1024);
    ssize_t len;
    while ((len = flistxattr(in, names.data(), names.size())) < 0 && errno == ERANGE) {
        names.resize(names.size() * 4);
    }
    if (len < 0 && errno == ENOTSUP) return std::string();
    if (len < 0) {
        // What cannot be read may narrow who may read the file (an access list).
        narrowing = true;
        return std::string("its extended attributes could not be read (") + std::strerror(errno) +
               ")";
    }
    std::string failed;
    bool has_access_list = false;
    std::vector<char> value(4096);
    for (const char* name = names.data(); name < names.data() + len;
         name += std::strlen(name) + 1) {
        ssize_t n;
        while ((n = fgetxattr(in, name, value.data(), value.size())) < 0 && errno == ERANGE) {
            value.resize(value.size() * 4);
        }
        if (std::strcmp(name, ACCESS_LIST) == 0) has_access_list = true;
        if (n >= 0 && fsetxattr(out, name, value.data(), static_cast<size_t>(n), 0) == 0) continue;
        const bool narrows =
            std::strcmp(name, ACCESS_LIST) == 0 || std::strncmp(name, "security.", 9) == 0;
        if (narrows) narrowing = true;
        if (!failed.empty()) failed += ", ";
        failed += std::string(name) + " (" + std::strerror(errno) + ")";
    }
    // A file without an access list gets none: not the one the directory's default gave
    // the copy when it was made.
    if (inherited && !has_access_list && fremovexattr(out, ACCESS_LIST) != 0 && errno != ENODATA &&
        errno != ENOTSUP) {
        narrowing = true;
        if (!failed.empty()) failed += ", ";
        failed += std::string("the directory's default access list (") + std::strerror(errno) + ")";
    }
    return failed;
}
