// The directory of a run's backups on POSIX (/TO): found, and made where it is missing, through
// the directories' descriptors, never through a link that the user did not type.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/filesys-posix.h"

namespace {

/// A refusal that names the directory it is about.
FsResult refused(const std::string& shown, int error, const char* why = nullptr) {
    return FsResult{FsStatus::FAILED, error, shown + ": " + (why ? why : std::strerror(error))};
}

/// The components of path, '\' separating too; empty ones and "." left out.
std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/' || path[i] == '\\') {
            if (!part.empty() && part != ".") parts.push_back(part);
            part.clear();
        } else {
            part += path[i];
        }
    }
    return parts;
}

/// The canonical path of the directory open as fd (links and ".." resolved), as the kernel
/// names it: the current directory's path while the process stands in it.
bool canonical_path(int fd, std::string& path) {
    const int back = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (back < 0 || fchdir(fd) != 0) {
        if (back >= 0) close(back);
        return false;
    }
    std::vector<char> buffer(4096);
    bool got;
    while (!(got = getcwd(buffer.data(), buffer.size()) != nullptr) && errno == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    const bool returned = fchdir(back) == 0;
    close(back);
    if (!got || !returned || buffer[0] != '/') return false;
    path = buffer.data();
    return true;
}

/// The mode a directory made for one of mode gets: its read and search bits and write for
/// the owner alone, no set-ID or sticky bit; mkdir takes the umask off.
mode_t made_mode(mode_t of) {
    return (of & 0555) | 0200;
}

/// One step of the walk down to the backups' directory.
struct Walk {
    int fd = -1;           // the directory reached so far
    bool pending = false;  // a directory on the way is yet to be made (a dry run)
    bool make = false;
    BackupsDirectory* out = nullptr;
    ~Walk() {
        if (fd >= 0) close(fd);
    }

    /// Enters the component name, shown as shown, following a link where follow (the user
    /// typed it), making it for one of mode like where it is missing; below an absolute
    /// directory, one that another user owns is refused.
    FsResult enter(const std::string& name, const std::string& shown, bool follow, mode_t like,
                   bool owner_checked) {
        if (pending) {
            out->made.push_back(shown);
            return FsResult();
        }
        const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
        int next = openat(fd, name.c_str(), flags);
        if (next < 0 && errno == ENOENT) {
            if (!make) {
                pending = true;
                out->made.push_back(shown);
                return FsResult();
            }
            const bool made_now = mkdirat(fd, name.c_str(), made_mode(like)) == 0;
            if (!made_now && errno != EEXIST) return refused(shown, errno);
            if (made_now) out->made.push_back(shown);
            // Never through a link, whoever made it meanwhile.
            next = openat(fd, name.c_str(), flags | O_NOFOLLOW);
        }
        if (next < 0) {
            return errno == ELOOP || errno == ENOTDIR
                       ? refused(shown, errno, "a link or no directory")
                       : refused(shown, errno);
        }
        struct stat st;
        if (fstat(next, &st) != 0) {
            const int error = errno;
            close(next);
            return refused(shown, error);
        }
        if (owner_checked && st.st_uid != geteuid() && st.st_uid != 0) {
            close(next);
            return refused(shown, EPERM, "owned by another user");
        }
        close(fd);
        fd = next;
        return FsResult();
    }
};

std::string without_trailing_separators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

/// Down from the files' directory along to, as typed; what is missing stands for the
/// files' directory.
FsResult walk_relative(int files, const std::string& to, mode_t like, Walk& walk) {
    walk.fd = dup(files);
    if (walk.fd < 0) return refused(to, errno);
    std::string shown;
    for (const std::string& part : components(to)) {
        shown += (shown.empty() ? "" : "/") + part;
        FsResult r = walk.enter(part, shown, true, like, false);
        if (!r.ok()) return r;
    }
    walk.out->shown = shown.empty() ? std::string() : shown + "/";
    return FsResult();
}

/// Down from to, as typed (links followed), along the files' canonical path, each component
/// entered without following a link; what is missing stands for the component it mirrors.
FsResult walk_absolute(int files, const std::string& to, Walk& walk) {
    std::string canonical;
    if (!canonical_path(files, canonical))
        return refused("the files' directory", errno ? errno : EINVAL, "its path cannot be had");
    walk.fd = open(to.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (walk.fd < 0) return refused(to, errno);
    std::string shown = to == "/" ? std::string() : to, mirrored;
    for (const std::string& part : components(canonical)) {
        mirrored += "/" + part;
        shown += "/" + part;
        struct stat source;
        if (lstat(mirrored.c_str(), &source) != 0) return refused(mirrored, errno);
        FsResult r = walk.enter(part, shown, false, source.st_mode, true);
        if (!r.ok()) return r;
    }
    walk.out->shown = shown + "/";
    return FsResult();
}

}  // namespace

FsResult posix_open_backups(Directory& files, const char* to_typed, bool make,
                            BackupsDirectory& out) {
    const int files_fd = posix_directory_fd(files);
    struct stat here;
    if (fstat(files_fd, &here) != 0) return refused("the files' directory", errno);
    std::string to = without_trailing_separators(to_typed);
    for (char& c : to) {
        if (c == '\\') c = '/';
    }
    Walk walk;
    walk.make = make;
    walk.out = &out;
    FsResult r = to[0] == '/' ? walk_absolute(files_fd, to, walk)
                              : walk_relative(files_fd, to, here.st_mode, walk);
    if (!r.ok() || walk.pending) return r;
    struct stat there;
    if (fstat(walk.fd, &there) != 0) return refused(to, errno);
    out.same = there.st_dev == here.st_dev && there.st_ino == here.st_ino;
    out.across = there.st_dev != here.st_dev;
    out.dir = posix_directory(walk.fd);
    walk.fd = -1;
    return FsResult();
}
