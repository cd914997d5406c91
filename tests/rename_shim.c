/* Loaded into the program (POSIX) or into Wine's server, this plays the other process of a
 * race at the worst instant, every time:
 *   TAVRIX_TAKE_SUFFIX=S   just before a file is renamed or linked to a name ending in S, a
 *                          file holding "taken" is made under that name;
 *   TAVRIX_GONE_NAME=N     just before the name N is unlinked or renamed away, it is removed;
 *   TAVRIX_NO_NOREPLACE=1  renameat2 refuses RENAME_NOREPLACE, as some file systems do;
 *   TAVRIX_SAVE_NAME=N and TAVRIX_SAVE_BEFORE=STEP[,STEP]
 *                          an editor saves N once at each STEP of the rename in steps: just
 *                          before N is renamed to a private name (aside), before the first
 *                          link from that private name (link), or before the first unlink
 *                          after N was renamed (unlink): N, where it exists, is renamed to N~,
 *                          and a new file holding "saved K" (the K-th save) is made under N;
 *                          with TAVRIX_SAVE_DIR=1 the first save makes a directory instead;
 *   TAVRIX_DIR_NAME=N      just before N is renamed or linked, it is renamed to N.moved and a
 *                          directory is made under N;
 *   TAVRIX_SWAP_DIR=D:V    just before the first rename, the directory D is renamed to D.old
 *                          and a symbolic link to V is made under D;
 *   TAVRIX_NO_TMPFILE=1    files without a name (O_TMPFILE) are refused, as some file systems
 *                          do;
 *   TAVRIX_RAISE_AT_COPY=S the program sends itself signal S when it first copies data;
 *   TAVRIX_SLOW_COPY_MS=M  each copy of data by the kernel waits M milliseconds first, as on a
 *                          slow disk;
 *   TAVRIX_CHANGE_NAME=N and TAVRIX_CHANGE_AT_COPY=K
 *                          another process appends a byte "+" to the file N as each of the
 *                          program's first K copies of it begins. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* The function of the same name that the shim stands before. */
#define REAL(name)                        \
    static __typeof__(name)* real_##name; \
    if (!real_##name) real_##name = (__typeof__(name)*)dlsym(RTLD_NEXT, #name)

static int ends_with(const char* s, const char* suffix) {
    size_t n = strlen(s), m = strlen(suffix);
    return m && n >= m && strcmp(s + n - m, suffix) == 0;
}

/* Whether path names the entry N: N itself or a path ending in /N. */
static int names(const char* path, const char* n) {
    return n && ends_with(path, n) &&
           (strlen(path) == strlen(n) || path[strlen(path) - strlen(n) - 1] == '/');
}

static void make_file(int dir, const char* name, const char* text) {
    int fd = openat(dir, name, O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (fd < 0) return;
    if (write(fd, text, strlen(text)) != (ssize_t)strlen(text)) abort();
    close(fd);
}

static void take(int dir, const char* name) {
    const char* suffix = getenv("TAVRIX_TAKE_SUFFIX");
    if (suffix && ends_with(name, suffix)) make_file(dir, name, "taken");
}

static void gone(int dir, const char* name) {
    REAL(unlinkat);
    if (names(name, getenv("TAVRIX_GONE_NAME"))) real_unlinkat(dir, name, 0);
}

static int is_private(const char* name) {
    const char* base = strrchr(name, '/');
    return strncmp(base ? base + 1 : name, ".tavrix-", 8) == 0;
}

/* Whether step is one of the comma-separated steps in list. */
static int listed(const char* list, const char* step) {
    size_t n = strlen(step);
    for (const char* at = list; (at = strstr(at, step)) != NULL; at += n) {
        if ((at == list || at[-1] == ',') && (at[n] == ',' || at[n] == '\0')) return 1;
    }
    return 0;
}

static void save(const char* step, int dir, const char* name) {
    static int saves, aside, done_link, done_unlink;
    REAL(renameat);
    const char *n = getenv("TAVRIX_SAVE_NAME"), *when = getenv("TAVRIX_SAVE_BEFORE");
    if (!n || !when) return;
    if (strcmp(step, "aside") == 0) {
        if (!names(name, n) || aside) return;
        aside = 1;
        if (!listed(when, step)) return;
    } else if (!listed(when, step)) {
        return;
    } else if (strcmp(step, "link") == 0) {
        if (!aside || !is_private(name) || done_link) return;
        done_link = 1;
    } else {
        if (!aside || done_unlink) return;
        done_unlink = 1;
    }
    char moved[4096], text[32];
    snprintf(moved, sizeof moved, "%s~", n);
    real_renameat(dir, n, dir, moved);
    if (++saves == 1 && getenv("TAVRIX_SAVE_DIR")) {
        mkdirat(dir, n, 0755);
        return;
    }
    snprintf(text, sizeof text, "saved %d", saves);
    make_file(dir, n, text);
}

static void become_dir(int dir, const char* name) {
    REAL(renameat);
    const char* n = getenv("TAVRIX_DIR_NAME");
    if (!names(name, n)) return;
    char moved[4096];
    snprintf(moved, sizeof moved, "%s.moved", n);
    if (real_renameat(dir, n, dir, moved) == 0) mkdirat(dir, n, 0755);
}

static void swap_dir(void) {
    static int swapped;
    REAL(rename);
    const char* spec = getenv("TAVRIX_SWAP_DIR");
    if (swapped || !spec || !strchr(spec, ':')) return;
    swapped = 1;
    char d[4096], old[4200];
    snprintf(d, sizeof d, "%.*s", (int)(strchr(spec, ':') - spec), spec);
    snprintf(old, sizeof old, "%s.old", d);
    if (real_rename(d, old) != 0 || symlink(strchr(spec, ':') + 1, d) != 0) abort();
}

/* Every way to rename or link that the program or Wine's server uses. */
static void before_move(int from_dir, const char* from, int to_dir, const char* to) {
    swap_dir();
    become_dir(from_dir, from);
    take(to_dir, to);
}

int rename(const char* from, const char* to) {
    REAL(rename);
    before_move(AT_FDCWD, from, AT_FDCWD, to);
    return real_rename(from, to);
}

int renameat(int from_dir, const char* from, int to_dir, const char* to) {
    REAL(renameat);
    if (is_private(to)) save("aside", from_dir, from);
    gone(from_dir, from);
    before_move(from_dir, from, to_dir, to);
    return real_renameat(from_dir, from, to_dir, to);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
    REAL(renameat2);
    if (getenv("TAVRIX_NO_NOREPLACE") && (flags & 1 /* RENAME_NOREPLACE */)) {
        errno = EINVAL;
        return -1;
    }
    gone(from_dir, from);
    before_move(from_dir, from, to_dir, to);
    return real_renameat2(from_dir, from, to_dir, to, flags);
}

int link(const char* from, const char* to) {
    REAL(link);
    before_move(AT_FDCWD, from, AT_FDCWD, to);
    return real_link(from, to);
}

int linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
    REAL(linkat);
    save("link", from_dir, from);
    before_move(from_dir, from, to_dir, to);
    return real_linkat(from_dir, from, to_dir, to, flags);
}

int unlink(const char* name) {
    REAL(unlink);
    gone(AT_FDCWD, name);
    return real_unlink(name);
}

int unlinkat(int dir, const char* name, int flags) {
    REAL(unlinkat);
    save("unlink", dir, name);
    gone(dir, name);
    return real_unlinkat(dir, name, flags);
}

int openat(int dir, const char* path, int flags, ...) {
    REAL(openat);
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    if (getenv("TAVRIX_NO_TMPFILE") && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return real_openat(dir, path, flags, mode);
}

static void raise_at_copy(void) {
    static int raised;
    const char* sig = getenv("TAVRIX_RAISE_AT_COPY");
    if (sig && !raised) {
        raised = 1;
        raise(atoi(sig));
    }
}

static void change_at_copy(int in, loff_t* at) {
    static int changes;
    const char* k = getenv("TAVRIX_CHANGE_AT_COPY");
    if (!k || changes >= atoi(k) || (at && *at != 0)) return; /* once a copy, at its start */
    char path[64], target[4096];
    snprintf(path, sizeof path, "/proc/self/fd/%d", in);
    ssize_t n = readlink(path, target, sizeof target - 1);
    if (n < 0) return;
    target[n] = '\0';
    if (!names(target, getenv("TAVRIX_CHANGE_NAME"))) return;
    ++changes;
    int fd = open(path, O_WRONLY | O_APPEND);
    if (fd < 0 || write(fd, "+", 1) != 1) abort();
    close(fd);
}

ssize_t copy_file_range(int in, loff_t* in_at, int out, loff_t* out_at, size_t size,
                        unsigned flags) {
    REAL(copy_file_range);
    const char* slow = getenv("TAVRIX_SLOW_COPY_MS");
    if (slow) usleep((useconds_t)atoi(slow) * 1000);
    raise_at_copy();
    change_at_copy(in, in_at);
    return real_copy_file_range(in, in_at, out, out_at, size, flags);
}
