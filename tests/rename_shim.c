/* Loaded into the program (POSIX) or into Wine's server, this plays the other process of a
 * race at the worst instant, every time:
 *   TAVRIX_TAKE_SUFFIX=S   just before a file is renamed or linked to a name ending in S, a
 *                          file holding "taken" is made under that name;
 *   TAVRIX_GONE_NAME=N     just before the name N is unlinked, it is removed;
 *   TAVRIX_NO_NOREPLACE=1  renameat2 refuses RENAME_NOREPLACE, as some file systems do. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* The function of the same name that the shim stands before. */
#define REAL(name) \
    static __typeof__(name) *real; \
    if (!real) real = (__typeof__(name) *)dlsym(RTLD_NEXT, #name)

static int ends_with(const char *s, const char *suffix) {
    size_t n = strlen(s), m = strlen(suffix);
    return m && n >= m && strcmp(s + n - m, suffix) == 0;
}

static void take(int dir, const char *name) {
    const char *suffix = getenv("TAVRIX_TAKE_SUFFIX");
    if (!suffix || !ends_with(name, suffix)) return;
    int fd = openat(dir, name, O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (fd < 0) return;
    if (write(fd, "taken", 5) != 5) abort();
    close(fd);
}

int rename(const char *from, const char *to) {
    REAL(rename);
    take(AT_FDCWD, to);
    return real(from, to);
}

int renameat2(int from_dir, const char *from, int to_dir, const char *to, unsigned flags) {
    REAL(renameat2);
    if (getenv("TAVRIX_NO_NOREPLACE") && (flags & 1 /* RENAME_NOREPLACE */)) {
        errno = EINVAL;
        return -1;
    }
    take(to_dir, to);
    return real(from_dir, from, to_dir, to, flags);
}

int link(const char *from, const char *to) {
    REAL(link);
    take(AT_FDCWD, to);
    return real(from, to);
}

int linkat(int from_dir, const char *from, int to_dir, const char *to, int flags) {
    REAL(linkat);
    take(to_dir, to);
    return real(from_dir, from, to_dir, to, flags);
}

int unlink(const char *name) {
    REAL(unlink);
    const char *gone = getenv("TAVRIX_GONE_NAME");
    if (gone && ends_with(name, gone) &&
        (strlen(name) == strlen(gone) || name[strlen(name) - strlen(gone) - 1] == '/')) {
        real(name);
    }
    return real(name);
}
