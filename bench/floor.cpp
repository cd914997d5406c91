// The floor a backup run cannot go below: read the directory once, then for each matching
// file compute its backup name in memory and rename it without replacing; or, with "copy",
// make its backup a copy with the same guarantees as the program's: the data copied by the
// kernel (a clone where it can), flushed to the disk in a file without a name, then linked
// into place without replacing. With "nosync" too, the limit a copy cannot go below: the same
// copies, flushed not at all but for the directory once at the end.
// Usage: floor DIRECTORY PATTERN_SUFFIX [hex] [copy [nosync]]
// (files whose names end in PATTERN_SUFFIX)
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

bool copy_into_place(int dir, const std::string& from, const std::string& to, bool sync) {
    int in = openat(dir, from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int out = openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    bool ok = out >= 0;
    if (ok && ioctl(out, FICLONE, in) != 0) {
        for (;;) {
            ssize_t n = copy_file_range(in, nullptr, out, nullptr, 8 << 20, 0);
            if (n <= 0) {
                ok = n == 0;
                break;
            }
        }
    }
    if (ok && sync) ok = fsync(out) == 0;
    if (ok) {
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", out);
        ok = linkat(AT_FDCWD, proc, dir, to.c_str(), AT_SYMLINK_FOLLOW) == 0;
    }
    if (out >= 0) close(out);
    close(in);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string dir = argv[1];
    const std::string suffix = argv[2];
    bool hex = false, copy = false, sync = true;
    for (int i = 3; i < argc; ++i) {
        hex = hex || std::strcmp(argv[i], "hex") == 0;
        copy = copy || std::strcmp(argv[i], "copy") == 0;
        sync = sync && std::strcmp(argv[i], "nosync") != 0;
    }
    std::unordered_set<std::string> taken;
    std::vector<std::string> files;
    DIR* d = opendir(dir.c_str());
    if (!d) return 1;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        taken.insert(name);
        if (e->d_type == DT_REG && name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            files.push_back(name);
        }
    }
    const int dir_fd = dirfd(d);
    int done = 0;
    char candidate[512];
    for (const std::string& f : files) {
        for (int i = 0; i < (hex ? 0x10000 : 999); ++i) {
            std::snprintf(candidate, sizeof candidate, hex ? "%s.%04x.bak" : "%s.%03d.bak",
                          f.c_str(), i);
            if (taken.count(candidate)) continue;
            if (copy) {
                done += copy_into_place(dir_fd, f, candidate, sync) ? 1 : 0;
            } else if (renameat2(dir_fd, f.c_str(), dir_fd, candidate, RENAME_NOREPLACE) == 0) {
                ++done;
            }
            break;
        }
    }
    if (copy && !sync) fsync(dir_fd);
    closedir(d);
    std::printf("%d %s\n", done, copy ? "copied" : "renamed");
    return 0;
}
