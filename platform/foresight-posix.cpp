// What the kernel would refuse a rename or a copy in a directory, judged from what can be
// looked at without trying: /L tells it as the run would meet it.
#include "platform/foresight-posix.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux_calls.h"

namespace {

Refusal refused(Foreseen at, int error) {
    return Refusal{at, FsResult{FsStatus::FAILED, error, std::strerror(error)}};
}

class PosixForesight : public Foresight {
   public:
    explicit PosixForesight(int dir) : fd_(dir) {}

    /// A file system mounted read-only, a directory this process may not write or search (by
    /// its effective ids) or that is immutable, or append-only for a rename; a sticky
    /// directory whose entry is another user's, where the process may not act as its owner;
    /// an immutable or append-only file, or a mount point; with copy, a file it may not read
    /// or one larger than the files it may write.
    Refusal refusal(const char* name, bool copy) override {
        const Foreseen whole_step = copy ? Foreseen::CREATE_COPY : Foreseen::RENAME;
        const int whole = directory_refusal(copy);
        if (whole) return refused(whole_step, whole);
        struct stat st;
        if (fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Refusal();
        if (!copy) {
            const int error = rename_refusal(name, st);
            return error ? refused(Foreseen::RENAME, error) : Refusal();
        }
        if (!S_ISREG(st.st_mode)) return Refusal();
        if (faccessat(fd_, name, R_OK, AT_EACCESS) != 0) return refused(Foreseen::OPEN, errno);
        struct rlimit limit;
        if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
            static_cast<rlim_t>(st.st_size) > limit.rlim_cur) {
            return refused(Foreseen::COPY_DATA, EFBIG);
        }
        return Refusal();
    }

   private:
    /// Why no entry could be renamed (or, with copy, copied) here, looked at once; 0 for none.
    int directory_refusal(bool copy) {
        if (directory_refusal_ < 0) {
            struct statvfs vfs;
            directory_refusal_ = fstatvfs(fd_, &vfs) == 0 && (vfs.f_flag & ST_RDONLY) ? EROFS
                                 : faccessat(fd_, ".", W_OK | X_OK, AT_EACCESS) != 0  ? errno
                                                                                      : 0;
            directory_fixed_ = system_fixed_file(fd_, "");
        }
        if (directory_refusal_) return directory_refusal_;
        // An append-only directory takes new names but gives none up.
        const int fixed = copy ? FIXED_IMMUTABLE : FIXED_IMMUTABLE | FIXED_APPEND_ONLY;
        return directory_fixed_ & fixed ? EPERM : 0;
    }

    /// Why the rename of the entry name, of status st, would be refused; 0 for no reason.
    int rename_refusal(const char* name, const struct stat& st) {
        struct stat dir;
        if (st.st_uid != euid_ && fstat(fd_, &dir) == 0 && (dir.st_mode & S_ISVTX) &&
            dir.st_uid != euid_ && !system_acts_as_owner_of(st.st_uid)) {
            return EPERM;
        }
        if (system_fixed_file(fd_, name)) return EPERM;
        return system_mount_root(fd_, name) ? EBUSY : 0;
    }

    int fd_;  // the directory's, owned by it
    const uid_t euid_ = geteuid();
    int directory_refusal_ = -1;  // why no entry could be renamed here, 0 for none; -1 unknown
    int directory_fixed_ = 0;     // FIXED_ bits of the directory itself
};

}  // namespace

std::unique_ptr<Foresight> posix_foresight(int dir) {
    return std::unique_ptr<Foresight>(new PosixForesight(dir));
}
