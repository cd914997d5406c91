// The file-system side of the POSIX layer: a directory opened once for a run and the
// operations on its entries, relative to its descriptor. The calls only Linux has come from
// posix_system.h, which answers that it cannot where the build has none of them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix_layer.h"
#include "platform/posix_system.h"
#include "platform/posix_util.h"

namespace {

/// A copy's private name, removed should a signal end the program before it is done: the
/// directory, the process id and the name's random part in 16-bit pieces, so that the
/// handler reads nothing but volatile sig_atomic_t.
volatile sig_atomic_t temporary_dir = -1;
volatile sig_atomic_t temporary_pid = 0;
volatile sig_atomic_t temporary_random[4];

/// How much a copy takes at a time: small enough to look at Esc often on a slow disk.
constexpr size_t COPY_CHUNK = 8 << 20;

/// The private name of process pid with random part r, written without any library call, so
/// that the signal handler can make it too: ".tavrix-PID-RANDOM.tmp".
void format_private_name(char* out, long pid, const unsigned (&r)[4]) {
    const char* prefix = ".tavrix-";
    while (*prefix) *out++ = *prefix++;
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + pid % 10);
        pid /= 10;
    } while (pid > 0 && n < 20);
    while (n > 0) *out++ = digits[--n];
    *out++ = '-';
    for (unsigned part : r) {
        for (int shift = 12; shift >= 0; shift -= 4)
            *out++ = "0123456789abcdef"[(part >> shift) & 15];
    }
    const char* suffix = ".tmp";
    while (*suffix) *out++ = *suffix++;
    *out = '\0';
}

}  // namespace

/// Removes the copy's private name, if there is one; from the signal handler too.
void remove_temporary() {
    const int dir = temporary_dir;
    if (dir < 0) return;
    const unsigned r[4] = {
        static_cast<unsigned>(temporary_random[0]), static_cast<unsigned>(temporary_random[1]),
        static_cast<unsigned>(temporary_random[2]), static_cast<unsigned>(temporary_random[3])};
    char name[64];
    format_private_name(name, temporary_pid, r);
    unlinkat(dir, name, 0);
}

namespace {

/// ENOTSUP, where it is not EOPNOTSUPP.
bool unsupported(int e) {
#if ENOTSUP != EOPNOTSUPP
    return e == ENOTSUP;
#else
    return e == EOPNOTSUPP;
#endif
}

FsStatus status_of_errno() {
    return errno == EEXIST ? FsStatus::TAKEN : FsStatus::FAILED;
}

EntryType type_of_mode(mode_t mode) {
    return S_ISREG(mode)   ? EntryType::FILE
           : S_ISDIR(mode) ? EntryType::DIRECTORY
           : S_ISLNK(mode) ? EntryType::LINK
                           : EntryType::SPECIAL;
}

class PosixSource : public SourceFile {
   public:
    PosixSource(int fd, const struct stat& st, std::string name)
        : fd_(fd), st_(st), name_(std::move(name)) {}
    ~PosixSource() override {
        if (fd_ >= 0) close(fd_);
    }
    EntryType type() const override { return type_of_mode(st_.st_mode); }
    uint64_t size() const override { return static_cast<uint64_t>(st_.st_size); }

    int fd_;  // -1 for a link, which is not opened
    struct stat st_;
    std::string name_;
};

class PosixHidden : public HiddenFile {
   public:
    PosixHidden(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    ~PosixHidden() override {
        if (fd_ >= 0) close(fd_);
        if (!name_.empty()) temporary_dir = -1;  // the protocol removes the name itself
    }
    const std::string& private_name() const override { return name_; }

    int fd_;  // -1 for the copy of a link
    std::string name_;
    bool clone_tried = false;
    bool cloned = false;
    bool holes_known = true;  // until the file system says it cannot tell
    bool ended = false;       // the whole file is copied
    off_t at = 0;             // how far the copy got
};

class PosixDirectory : public Directory {
   public:
    PosixDirectory(int fd, std::string name_pattern) : fd_(fd), pattern_(std::move(name_pattern)) {}
    ~PosixDirectory() override {
        if (list_) closedir(list_);
        close(fd_);
    }

    bool next(FindEntry& e) override {
        if (!list_) {
            // A description of its own, so that the listing's position is not the descriptor's.
            int fd = openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            list_ = fd < 0 ? nullptr : fdopendir(fd);
            if (!list_) {
                listing_errno_ = errno;
                if (fd >= 0) close(fd);
                return false;
            }
        }
        for (;;) {
            errno = 0;
            dirent* d = readdir(list_);
            if (!d) {
                listing_errno_ = errno;  // 0 at the end of the listing
                return false;
            }
            e.matched = wildcard_match(pattern_.c_str(), d->d_name);
            e.name = d->d_name;
            e.is_directory = false;
            e.special = false;
            if (e.matched && !classify(d, e.is_directory, e.special))
                continue;  // vanished meanwhile
            return true;
        }
    }

    std::string listing_error() override {
        return listing_errno_ ? std::strerror(listing_errno_) : std::string();
    }

    EntryType type_of(const char* name) override {
        struct stat st;
        if (fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) == 0) return type_of_mode(st.st_mode);
        return errno == ENOENT || errno == ENOTDIR ? EntryType::MISSING : EntryType::UNKNOWN;
    }

    FsStatus rename_noreplace(const char* from, const char* to) override {
        if (no_noreplace_) return FsStatus::UNSUPPORTED;
        if (system_rename_noreplace(fd_, from, to) == 0) return FsStatus::OK;
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || unsupported(errno)) {
            no_noreplace_ = true;  // the file system's answer for every name
            return FsStatus::UNSUPPORTED;
        }
        return failed();
    }

    FsStatus rename_private(const char* from, const char* to) override {
        return renameat(fd_, from, fd_, to) == 0 ? FsStatus::OK : failed();
    }

    FsStatus link(const char* from, const char* to) override {
        return linkat(fd_, from, fd_, to, 0) == 0 ? FsStatus::OK : failed();
    }

    FsStatus remove(const char* name) override {
        return unlinkat(fd_, name, 0) == 0 ? FsStatus::OK : failed();
    }

    std::string private_name() override {
        unsigned r[4];
        return private_name(r);
    }

    void hold_signals() override {
        if (held_++ > 0) return;
        sigset_t ending = ending_signals();
        sigaddset(&ending, SIGTSTP);
        sigprocmask(SIG_BLOCK, &ending, &saved_mask_);
    }

    void release_signals() override {
        if (held_ == 0 || --held_ > 0) return;
        sigprocmask(SIG_SETMASK, &saved_mask_, nullptr);
    }

    /// Opened not blocking, should it be a FIFO, and never through a link; what cannot be
    /// opened so is looked at: a link, a socket, or an error.
    std::unique_ptr<SourceFile> open_source(const char* name) override {
        struct stat st;
        int in = openat(fd_, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (in < 0) {
            const int error = errno;
            if (fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode) &&
                !S_ISDIR(st.st_mode)) {
                return std::unique_ptr<SourceFile>(new PosixSource(-1, st, name));
            }
            errno = error;
            return none();
        }
        if (fstat(in, &st) != 0) {
            last_errno_ = errno;
            close(in);
            return nullptr;
        }
        return std::unique_ptr<SourceFile>(new PosixSource(in, st, name));
    }

    std::unique_ptr<HiddenFile> create_hidden(SourceFile& source) override {
        PosixSource& from = static_cast<PosixSource&>(source);
        if (from.fd_ < 0) return copy_link(from);
        int out = system_open_unnamed(fd_);
        if (out >= 0) return std::unique_ptr<HiddenFile>(new PosixHidden(out, std::string()));
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT &&
            errno != ENOSYS && !unsupported(errno)) {
            return none();
        }
        // Under a private name, removed should a signal end the program first.
        install_handlers();
        unsigned r[4];
        const std::string named = private_name(r);
        temporary_pid = static_cast<sig_atomic_t>(getpid());
        for (int i = 0; i < 4; ++i) temporary_random[i] = static_cast<sig_atomic_t>(r[i]);
        temporary_dir = fd_;
        out = openat(fd_, named.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (out < 0) {
            temporary_dir = -1;
            return none();
        }
        return std::unique_ptr<HiddenFile>(new PosixHidden(out, named));
    }

    /// A clone of the whole file where the file system makes one; else, from where the last
    /// part ended, the next run of data, at most COPY_CHUNK of it, by the kernel's copy or by
    /// reads and writes. Holes are passed over, and stay holes in the copy.
    FsStatus copy_chunk(SourceFile& source, HiddenFile& copy, uint64_t& copied) override {
        PosixSource& from = static_cast<PosixSource&>(source);
        PosixHidden& to = static_cast<PosixHidden&>(copy);
        copied = 0;
        if (to.ended) return FsStatus::OK;
        if (!to.clone_tried && !no_clones_) {
            to.clone_tried = true;
            if (system_clone(from.fd_, to.fd_) == 0) {
                to.cloned = to.ended = true;
                copied = from.size();
                return FsStatus::OK;
            }
            // The file system's answer for every file: no clones here.
            no_clones_ = errno == EOPNOTSUPP || errno == EXDEV || errno == EINVAL ||
                         errno == ENOTTY || errno == ENOSYS || unsupported(errno);
        }
        // The size the file had when opened; more would be a change, which is seen after.
        if (to.at >= from.st_.st_size) return end_of_data(from, to, copied);
        off_t at = to.at;
        size_t size = COPY_CHUNK;
#ifdef SEEK_DATA
        // Only a file with fewer blocks than its size can hold holes.
        if (to.holes_known && static_cast<off_t>(from.st_.st_blocks) * 512 < from.st_.st_size) {
            const off_t data = lseek(from.fd_, to.at, SEEK_DATA);
            if (data < 0 && errno == ENXIO) return end_of_data(from, to, copied);
            const off_t hole = data < 0 ? -1 : lseek(from.fd_, data, SEEK_HOLE);
            if (hole < 0) {
                to.holes_known = false;  // the file system does not tell: all of it is data
            } else {
                at = data;
                if (hole - data < static_cast<off_t>(size)) size = static_cast<size_t>(hole - data);
            }
        }
#endif
        ssize_t n;
        do {
            n = system_copy_range(from.fd_, to.fd_, at, size);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && errno == ENOSYS) n = read_write(from.fd_, to.fd_, at, size);
        if (n < 0) return failed();
        if (n == 0) return end_of_data(from, to, copied);
        copied = static_cast<uint64_t>(at + n - to.at);
        to.at = at + n;
        return FsStatus::OK;
    }

    bool source_changed(SourceFile& source, HiddenFile& copy) override {
        PosixSource& from = static_cast<PosixSource&>(source);
        if (from.fd_ < 0 || static_cast<PosixHidden&>(copy).cloned) return false;
        struct stat now;
        if (fstat(from.fd_, &now) != 0) return true;
        const struct stat& was = from.st_;
        return now.st_size != was.st_size || now.st_mtim.tv_sec != was.st_mtim.tv_sec ||
               now.st_mtim.tv_nsec != was.st_mtim.tv_nsec ||
               now.st_ctim.tv_sec != was.st_ctim.tv_sec ||
               now.st_ctim.tv_nsec != was.st_ctim.tv_nsec;
    }

    /// Owner and group where the process may set them (else no set-user or set-group bit),
    /// the permission bits, the extended attributes and the times; for a link, what it may
    /// set of its owner and times.
    FsStatus keep_attributes(SourceFile& source, HiddenFile& copy) override {
        const struct stat& st = static_cast<PosixSource&>(source).st_;
        PosixHidden& to = static_cast<PosixHidden&>(copy);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (to.fd_ < 0) {
            if (fchownat(fd_, to.name_.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
                add_note(to, std::string("not kept: its owner (") + std::strerror(errno) + ")");
            }
            if (utimensat(fd_, to.name_.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
                add_note(to, std::string("not kept: its times (") + std::strerror(errno) + ")");
            }
            return FsStatus::OK;
        }
        // A new file is the process's own, in its group unless the directory gives its own.
        const bool own = st.st_uid == euid_ && st.st_gid == egid_ && !group_from_directory();
        const bool owned = own || fchown(to.fd_, st.st_uid, st.st_gid) == 0;
        mode_t mode = st.st_mode & (owned ? 07777 : 01777);
        if (fchmod(to.fd_, mode) != 0) return failed();
        bool narrowing = false;
        const std::string xattrs =
            system_copy_xattrs(static_cast<PosixSource&>(source).fd_, to.fd_, narrowing);
        if (!xattrs.empty()) add_note(to, "not kept: " + xattrs);
        if (narrowing) {  // never wider than the file: readable by its owner alone
            if (fchmod(to.fd_, mode & 0700) != 0) return failed();
            add_note(to, "readable by its owner alone");
        }
        return futimens(to.fd_, times) == 0 ? FsStatus::OK : failed();
    }

    /// The data on the disk; a copy under a private name is closed too, and the close
    /// checked, since some file systems (NFS) report a failed write only there.
    FsStatus flush(HiddenFile& copy) override {
        PosixHidden& to = static_cast<PosixHidden&>(copy);
        if (to.fd_ < 0) return FsStatus::OK;
        if (fsync(to.fd_) != 0) return failed();
        if (to.name_.empty()) return FsStatus::OK;  // kept open: it is named through it
        const int fd = to.fd_;
        to.fd_ = -1;
        return close(fd) == 0 ? FsStatus::OK : failed();
    }

    /// Unnamed copies: one flush of their file system, which writes what other programs
    /// wrote there too; measured, it costs far less than a flush of each copy
    /// (bench/README.md). Where that cannot be had, each is flushed.
    FsStatus flush_together(const std::vector<HiddenFile*>& copies) override {
        bool unnamed = true;
        for (HiddenFile* c : copies) unnamed = unnamed && c->private_name().empty();
        if (!unnamed || copies.empty()) return Directory::flush_together(copies);
        if (system_sync_fs(static_cast<PosixHidden*>(copies.front())->fd_) == 0)
            return FsStatus::OK;
        if (errno == ENOSYS) return Directory::flush_together(copies);
        return failed();
    }

    /// Half the files this process may open, at most 4,096, wait together.
    size_t copies_together() override {
        struct rlimit limit;
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
        const rlim_t room = limit.rlim_cur == RLIM_INFINITY ? 4096
                            : limit.rlim_cur > 64           ? (limit.rlim_cur - 64) / 2
                                                            : 1;
        return room < 4096 ? static_cast<size_t>(room) : 4096;
    }

    FsStatus flush_directory() override {
        return fsync(fd_) == 0 ? FsStatus::OK : failed();
    }

    FsStatus name_unnamed(HiddenFile& copy, const char* to) override {
        PosixHidden& made = static_cast<PosixHidden&>(copy);
        if (system_link_unnamed(made.fd_, fd_, to) != 0) return failed();
        const int fd = made.fd_;
        made.fd_ = -1;
        if (close(fd) != 0)
            add_note(made, std::string("its close failed (") + std::strerror(errno) + ")");
        return FsStatus::OK;
    }

    /// A file system mounted read-only, a directory this process may not write or search (by
    /// its effective ids), a sticky directory whose entry is another user's, an immutable or
    /// append-only file; with copy, a file it may not read.
    std::string foresee_refusal(const char* name, bool copy) override {
        if (directory_refusal_ < 0) {
            struct statvfs vfs;
            directory_refusal_ = fstatvfs(fd_, &vfs) == 0 && (vfs.f_flag & ST_RDONLY) ? EROFS
                                 : faccessat(fd_, ".", W_OK | X_OK, AT_EACCESS) != 0  ? errno
                                                                                      : 0;
        }
        if (directory_refusal_) return std::strerror(directory_refusal_);
        struct stat st, dir;
        if (fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return std::string();
        if (copy) {
            if (S_ISREG(st.st_mode) && faccessat(fd_, name, R_OK, AT_EACCESS) != 0)
                return std::strerror(errno);
            return std::string();
        }
        if (euid_ != 0 && st.st_uid != euid_ && fstat(fd_, &dir) == 0 && (dir.st_mode & S_ISVTX) &&
            dir.st_uid != euid_) {
            return std::strerror(EPERM);
        }
        return system_fixed_file(fd_, name) ? std::strerror(EPERM) : std::string();
    }

    std::string last_error() override {
        return std::strerror(last_errno_);
    }

   private:
    /// Whether the directory gives new files its own group (set-group-ID), looked at once.
    bool group_from_directory() {
        if (directory_group_ < 0) {
            struct stat st;
            directory_group_ = fstat(fd_, &st) != 0 || (st.st_mode & S_ISGID) ? 1 : 0;
        }
        return directory_group_ == 1;
    }

    FsStatus failed() {
        last_errno_ = errno;
        return status_of_errno();
    }

    std::nullptr_t none() {
        last_errno_ = errno;
        return nullptr;
    }

    /// A private name, its random part in r.
    /// A private name, its random part in r: unpredictable bits drawn once for the run, and
    /// a count of the names made, so that no two of the run's names are the same.
    std::string private_name(unsigned (&r)[4]) {
        if (names_made_++ == 0 && !system_random(&name_bits_, sizeof name_bits_)) {
            name_bits_ = static_cast<uint64_t>(now_ms()) ^ (static_cast<uint64_t>(getpid()) << 40);
        }
        const uint64_t bits = name_bits_ + names_made_;
        for (int i = 0; i < 4; ++i) r[i] = static_cast<unsigned>(bits >> (48 - 16 * i)) & 0xFFFFu;
        char name[64];
        format_private_name(name, static_cast<long>(getpid()), r);
        return name;
    }

    /// The link's copy, finished at once under a private name.
    std::unique_ptr<HiddenFile> copy_link(const PosixSource& from) {
        const struct stat& st = from.st_;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4095) + 1, '\0');
        ssize_t n = readlinkat(fd_, from.name_.c_str(), &target[0], target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) {
            if (n >= 0) errno = ENAMETOOLONG;  // it grew since it was looked at
            return none();
        }
        target.resize(static_cast<size_t>(n));
        const std::string named = private_name();
        if (symlinkat(target.c_str(), fd_, named.c_str()) != 0) return none();
        return std::unique_ptr<HiddenFile>(new PosixHidden(-1, named));
    }

    /// One part by reads and writes at offset at; the count copied, 0 at the end, -1 with
    /// errno.
    static ssize_t read_write(int in, int out, off_t at, size_t size) {
        static char buffer[1 << 16];
        ssize_t got;
        do {
            got = pread(in, buffer, size < sizeof buffer ? size : sizeof buffer, at);
        } while (got < 0 && errno == EINTR);
        for (ssize_t done = 0; got > 0 && done < got;) {
            ssize_t put = pwrite(out, buffer + done, static_cast<size_t>(got - done), at + done);
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) return -1;
            if (put == 0) {
                errno = ENOSPC;
                return -1;
            }
            done += put;
        }
        return got;
    }

    /// No data after the copy's place: the rest of the file, up to the size it had, is a hole.
    FsStatus end_of_data(const PosixSource& from, PosixHidden& to, uint64_t& copied) {
        to.ended = true;
        if (to.at >= from.st_.st_size) return FsStatus::OK;
        if (ftruncate(to.fd_, from.st_.st_size) != 0) return failed();
        copied = static_cast<uint64_t>(from.st_.st_size - to.at);
        to.at = from.st_.st_size;
        return FsStatus::OK;
    }

    static void add_note(PosixHidden& to, const std::string& what) {
        to.note += (to.note.empty() ? "" : "; ") + what;
    }

    /// Whether the entry is a directory (a link counts as what it points to), or a FIFO,
    /// socket or device.
    bool classify(const dirent* d, bool& is_directory, bool& special) {
#if defined(DT_DIR) && !defined(TAVRIX_PORTABLE_POSIX)
        if (d->d_type == DT_DIR || d->d_type == DT_REG) {
            is_directory = d->d_type == DT_DIR;
            return true;
        }
#endif
        struct stat st;
        if (fstatat(fd_, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
        special = !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode);
        if (S_ISLNK(st.st_mode)) {
            struct stat target;
            is_directory = fstatat(fd_, d->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        } else {
            is_directory = S_ISDIR(st.st_mode);
        }
        return true;
    }

    int fd_;
    std::string pattern_;
    DIR* list_ = nullptr;
    int listing_errno_ = 0;
    int last_errno_ = 0;
    bool no_noreplace_ = false;
    bool no_clones_ = false;
    int directory_group_ = -1;    // unknown until asked
    int directory_refusal_ = -1;  // why no entry could be renamed here, 0 for none; -1 unknown
    const uid_t euid_ = geteuid();
    const gid_t egid_ = getegid();
    int held_ = 0;  // nesting of hold_signals
    sigset_t saved_mask_;
    unsigned names_made_ = 0;
    uint64_t name_bits_ = 0;
};

}  // namespace

std::unique_ptr<Directory> open_posix_directory(int fd, const char* pattern) {
    return std::unique_ptr<Directory>(new PosixDirectory(fd, pattern));
}
