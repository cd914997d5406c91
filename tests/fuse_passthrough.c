/* A pass-through file system on libfuse's high-level API, without use_ino: like sshfs, it
 * gives every name its own inode number and refuses RENAME_NOREPLACE (and unnamed files). It
 * shows extended attributes but cannot set them, as many network file systems do. With
 * FUSE_LIE_ON_UNLINK set, the removal of a private name of Tavrix's is done, then answered
 * with EIO, as a network file system whose reply was lost answers.
 * Usage: fuse_passthrough DIRECTORY MOUNTPOINT -f */
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

static char root[4096];
static int lie_on_unlink;
#define REAL(p)      \
    char real[8192]; \
    snprintf(real, sizeof real, "%s%s", root, p)
#define CHECK(call) return (call) < 0 ? -errno : 0

static int fs_getattr(const char* p, struct stat* st, struct fuse_file_info* fi) {
    (void)fi;
    REAL(p);
    CHECK(lstat(real, st));
}
static int fs_readlink(const char* p, char* buf, size_t size) {
    REAL(p);
    ssize_t n = readlink(real, buf, size - 1);
    if (n < 0) return -errno;
    buf[n] = '\0';
    return 0;
}
static int fs_readdir(const char* p, void* buf, fuse_fill_dir_t fill, off_t off,
                      struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
    (void)off;
    (void)fi;
    (void)flags;
    REAL(p);
    DIR* d = opendir(real);
    if (!d) return -errno;
    for (struct dirent* e; (e = readdir(d)) != NULL;) fill(buf, e->d_name, NULL, 0, 0);
    closedir(d);
    return 0;
}
static int fs_mkdir(const char* p, mode_t m) {
    REAL(p);
    CHECK(mkdir(real, m));
}
static int fs_unlink(const char* p) {
    REAL(p);
    if (unlink(real) < 0) return -errno;
    return lie_on_unlink && strncmp(p, "/.tavrix-", 9) == 0 ? -EIO : 0;
}
static int fs_rmdir(const char* p) {
    REAL(p);
    CHECK(rmdir(real));
}
static int fs_symlink(const char* to, const char* p) {
    REAL(p);
    CHECK(symlink(to, real));
}
static int fs_rename(const char* from, const char* to, unsigned flags) {
    if (flags) return -EINVAL; /* no RENAME_NOREPLACE, as sshfs */
    char a[8192], b[8192];
    snprintf(a, sizeof a, "%s%s", root, from);
    snprintf(b, sizeof b, "%s%s", root, to);
    CHECK(rename(a, b));
}
static int fs_link(const char* from, const char* to) {
    char a[8192], b[8192];
    snprintf(a, sizeof a, "%s%s", root, from);
    snprintf(b, sizeof b, "%s%s", root, to);
    CHECK(link(a, b));
}
static int fs_chmod(const char* p, mode_t m, struct fuse_file_info* fi) {
    (void)fi;
    REAL(p);
    CHECK(chmod(real, m));
}
static int fs_chown(const char* p, uid_t u, gid_t g, struct fuse_file_info* fi) {
    (void)fi;
    REAL(p);
    CHECK(lchown(real, u, g));
}
static int fs_truncate(const char* p, off_t n, struct fuse_file_info* fi) {
    (void)fi;
    REAL(p);
    CHECK(truncate(real, n));
}
static int fs_utimens(const char* p, const struct timespec t[2], struct fuse_file_info* fi) {
    (void)fi;
    REAL(p);
    CHECK(utimensat(AT_FDCWD, real, t, AT_SYMLINK_NOFOLLOW));
}
static int fs_open(const char* p, struct fuse_file_info* fi) {
    REAL(p);
    int fd = open(real, fi->flags);
    if (fd < 0) return -errno;
    fi->fh = (uint64_t)fd;
    return 0;
}
static int fs_create(const char* p, mode_t m, struct fuse_file_info* fi) {
    REAL(p);
    int fd = open(real, fi->flags, m);
    if (fd < 0) return -errno;
    fi->fh = (uint64_t)fd;
    return 0;
}
static int fs_read(const char* p, char* buf, size_t n, off_t off, struct fuse_file_info* fi) {
    (void)p;
    ssize_t r = pread((int)fi->fh, buf, n, off);
    return r < 0 ? -errno : (int)r;
}
static int fs_write(const char* p, const char* buf, size_t n, off_t off,
                    struct fuse_file_info* fi) {
    (void)p;
    ssize_t r = pwrite((int)fi->fh, buf, n, off);
    return r < 0 ? -errno : (int)r;
}
static int fs_release(const char* p, struct fuse_file_info* fi) {
    (void)p;
    close((int)fi->fh);
    return 0;
}
static int fs_fsync(const char* p, int data, struct fuse_file_info* fi) {
    (void)p;
    (void)data;
    CHECK(fsync((int)fi->fh));
}

static int fs_listxattr(const char* p, char* list, size_t size) {
    REAL(p);
    ssize_t n = llistxattr(real, list, size);
    return n < 0 ? -errno : (int)n;
}
static int fs_getxattr(const char* p, const char* name, char* value, size_t size) {
    REAL(p);
    ssize_t n = lgetxattr(real, name, value, size);
    return n < 0 ? -errno : (int)n;
}

static const struct fuse_operations ops = {
    .listxattr = fs_listxattr,
    .getxattr = fs_getxattr,
    .getattr = fs_getattr,
    .readlink = fs_readlink,
    .mkdir = fs_mkdir,
    .unlink = fs_unlink,
    .rmdir = fs_rmdir,
    .symlink = fs_symlink,
    .rename = fs_rename,
    .link = fs_link,
    .chmod = fs_chmod,
    .chown = fs_chown,
    .truncate = fs_truncate,
    .open = fs_open,
    .read = fs_read,
    .write = fs_write,
    .release = fs_release,
    .fsync = fs_fsync,
    .readdir = fs_readdir,
    .create = fs_create,
    .utimens = fs_utimens,
};

int main(int argc, char* argv[]) {
    if (argc < 3 || !realpath(argv[1], root)) return 2;
    lie_on_unlink = getenv("FUSE_LIE_ON_UNLINK") != NULL;
    argv[1] = argv[0];
    return fuse_main(argc - 1, argv + 1, &ops, NULL);
}
