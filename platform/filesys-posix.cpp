// The file system on POSIX: paths, a directory opened once for a run and the operations on
// its entries, relative to its descriptor, and the copy in the making. The calls only Linux has
// come from linux_calls.h, which answers that it cannot where the build has none of them.
#include "platform/filesys-posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/foresight-posix.h"
#include "platform/linux_calls.h"
#include "platform/path-posix.h"
#include "platform/platform.h"
#include "platform/private_name.h"
#include "platform/signals-posix.h"
#include "platform/traits.h"
#include "platform/wildcard.h"

namespace {

/// ENOTSUP, where it is not EOPNOTSUPP.
bool unsupported(int e) {
#if ENOTSUP != EOPNOTSUPP
    return e == ENOTSUP;
#else
    return e == EOPNOTSUPP;
#endif
}

/// The failure that errno tells: TAKEN for a name that exists.
FsResult failed(int error = errno) {
    return FsResult{error == EEXIST ? FsStatus::TAKEN : FsStatus::FAILED, error,
                    std::strerror(error)};
}

/// OK when the call answered 0, else its failure.
FsResult result_of(int answer) {
    return answer == 0 ? FsResult() : failed();
}

/// Now, by the clock the kernel stamps files with where it has one (a file made after this
/// moment never bears an earlier time); elsewhere a second before now.
struct timespec coarse_now() {
    struct timespec now {};
#ifdef CLOCK_REALTIME_COARSE
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
#else
    clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec -= 1;
#endif
    return now;
}

EntryType type_of_mode(mode_t mode) {
    return S_ISREG(mode)   ? EntryType::FILE
           : S_ISDIR(mode) ? EntryType::DIRECTORY
           : S_ISLNK(mode) ? EntryType::LINK
                           : EntryType::SPECIAL;
}

class PosixSource : public SourceFile {
   public:
    PosixSource(int fd, const struct stat& st, int dir, std::string name)
        : fd_(fd), st_(st), dir_(dir), name_(std::move(name)) {}
    ~PosixSource() override {
        if (fd_ >= 0) close(fd_);
    }
    EntryType type() const override { return type_of_mode(st_.st_mode); }
    uint64_t size() const override { return static_cast<uint64_t>(st_.st_size); }

    int fd_;  // -1 for a link, which is not opened
    struct stat st_;
    int dir_;  // the descriptor of the directory it was opened in, which outlives it
    std::string name_;
};

/// What a copy needs to know of its directory.
struct CopyPlace {
    int dir;                 // the directory's descriptor
    bool gives_group;        // new files take the directory's group (set-group-ID)
    bool gives_access_list;  // new files take the directory's default access list
    uid_t euid;              // the process's effective ids
    gid_t egid;
    bool* no_clones;            // the file system makes no clones, as found by a first try
    std::vector<char>* buffer;  // for reads and writes, one for the run
};

class PosixCopy : public NewCopy {
   public:
    PosixCopy(const CopyPlace& place, int fd, std::string name)
        : place_(place), fd_(fd), name_(std::move(name)) {}
    ~PosixCopy() override {
        if (fd_ >= 0) close(fd_);
        if (!name_.empty()) forget_private_name();  // backup/ removes the name itself
    }
    const std::string& private_name() const override { return name_; }

    /// A clone of the whole file where the file system makes one; else, from where the last
    /// part ended, the next run of data, at most COPY_CHUNK of it, by the kernel's copy or by
    /// reads and writes. Holes are passed over, and stay holes in the copy.
    FsResult copy_range(SourceFile& source, uint64_t& copied) override {
        PosixSource& from = static_cast<PosixSource&>(source);
        copied = 0;
        if (ended_) return FsResult();
        if (!clone_tried_ && !*place_.no_clones) {
            clone_tried_ = true;
            if (system_clone(from.fd_, fd_) == 0) {
                cloned_ = ended_ = true;
                copied = from.size();
                return FsResult();
            }
            // The file system's answer for every file: no clones here.
            *place_.no_clones = errno == EOPNOTSUPP || errno == EXDEV || errno == EINVAL ||
                                errno == ENOTTY || errno == ENOSYS || unsupported(errno);
        }
        // The size the file had when opened; more would be a change, which is seen after.
        if (at_ >= from.st_.st_size) return end_of_data(from, copied);
        off_t at = at_;
        size_t size = COPY_CHUNK;
        if (!next_data(from, at, size)) return end_of_data(from, copied);
        ssize_t n;
        do {
            n = system_copy_range(from.fd_, fd_, at, size);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && errno == ENOSYS) n = read_write(from, at, size);
        if (n < 0) return failed();
        if (n == 0) return end_of_data(from, copied);
        copied = static_cast<uint64_t>(at + n - at_);
        at_ = at + n;
        return FsResult();
    }

    bool source_changed(SourceFile& source) override {
        const PosixSource& from = static_cast<PosixSource&>(source);
        if (from.fd_ < 0 || cloned_) return false;
        struct stat now;
        if (fstat(from.fd_, &now) != 0) return true;
        const struct stat& was = from.st_;
        return now.st_size != was.st_size || now.st_mtim.tv_sec != was.st_mtim.tv_sec ||
               now.st_mtim.tv_nsec != was.st_mtim.tv_nsec ||
               now.st_ctim.tv_sec != was.st_ctim.tv_sec ||
               now.st_ctim.tv_nsec != was.st_ctim.tv_nsec;
    }

    /// A new file is the process's own, in its group unless the directory gives its own: the
    /// call is needed only when the file's owner or group is another.
    FsResult keep_owner(SourceFile& source) override {
        const struct stat& st = static_cast<PosixSource&>(source).st_;
        if (fd_ < 0) {
            return result_of(
                fchownat(place_.dir, name_.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW));
        }
        if (st.st_uid == place_.euid && st.st_gid == place_.egid && !place_.gives_group)
            return FsResult();
        return result_of(fchown(fd_, st.st_uid, st.st_gid));
    }

    FsResult keep_group(SourceFile& source) override {
        const struct stat& st = static_cast<PosixSource&>(source).st_;
        if (fd_ < 0) {
            return result_of(fchownat(place_.dir, name_.c_str(), static_cast<uid_t>(-1), st.st_gid,
                                      AT_SYMLINK_NOFOLLOW));
        }
        return result_of(fchown(fd_, static_cast<uid_t>(-1), st.st_gid));
    }

    FsResult keep_permissions(SourceFile& source, bool owner_kept, bool group_kept,
                              std::string& lost_words) override {
        if (fd_ < 0) return FsResult();  // a link has no permissions of its own
        const mode_t mode = static_cast<PosixSource&>(source).st_.st_mode & 07777;
        const mode_t lost = (owner_kept ? 0 : S_ISUID) | (group_kept ? 0 : S_ISGID | S_IRWXG);
        if (mode & lost & S_ISUID) add_words(lost_words, "not kept: its set-user-ID bit");
        if (mode & lost & S_ISGID) add_words(lost_words, "not kept: its set-group-ID bit");
        return result_of(fchmod(fd_, mode & ~lost));
    }

    FsResult keep_extended(SourceFile& source, bool& narrowing, std::string& lost_words) override {
        narrowing = false;
        if (fd_ < 0) return FsResult();
        const std::string lost = system_copy_xattrs(static_cast<PosixSource&>(source).fd_, fd_,
                                                    place_.gives_access_list, narrowing);
        if (!lost.empty()) add_words(lost_words, "not kept: " + lost);
        return FsResult();
    }

    FsResult owner_alone(SourceFile& source) override {
        if (fd_ < 0) return FsResult();
        const struct stat& st = static_cast<PosixSource&>(source).st_;
        return result_of(fchmod(fd_, st.st_mode & 0700));
    }

    FsResult keep_times(SourceFile& source) override {
        const struct stat& st = static_cast<PosixSource&>(source).st_;
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (fd_ < 0) {
            return result_of(utimensat(place_.dir, name_.c_str(), times, AT_SYMLINK_NOFOLLOW));
        }
        return result_of(futimens(fd_, times));
    }

    /// The data on the disk; a copy under a private name is closed too, and the close
    /// checked, since some file systems (NFS) report a failed write only there.
    FsResult flush() override {
        if (fd_ < 0) return FsResult();
        if (fsync(fd_) != 0) return failed();
        if (name_.empty()) return FsResult();  // kept open: it is named through it
        const int fd = fd_;
        fd_ = -1;
        return result_of(close(fd));
    }

    bool is(const char* to) override {
        struct stat mine, named;
        return fd_ >= 0 && fstat(fd_, &mine) == 0 &&
               fstatat(place_.dir, to, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
               mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
    }

    FsResult link_unnamed(const char* to, std::string& note) override {
        if (system_link_unnamed(fd_, place_.dir, to) != 0) return failed();
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0)
            add_words(note, std::string("its close failed (") + std::strerror(errno) + ")");
        return FsResult();
    }

    int fd() const { return fd_; }

   private:
    /// Where the next run of data begins from at on, and how much of it to take at most;
    /// false when no data is left. Only a file with fewer blocks than its size has holes.
    bool next_data(const PosixSource& from, off_t& at, size_t& size) {
#ifdef SEEK_DATA
        const struct stat& st = from.st_;
        if (!holes_known_ || static_cast<off_t>(st.st_blocks) * 512 >= st.st_size) return true;
        const off_t data = lseek(from.fd_, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO) return false;
        const off_t hole = data < 0 ? -1 : lseek(from.fd_, data, SEEK_HOLE);
        if (hole < 0) {
            holes_known_ = false;  // the file system does not tell: all of it is data
            return true;
        }
        at = data;
        if (hole - data < static_cast<off_t>(size)) size = static_cast<size_t>(hole - data);
#else
        (void)from;
        (void)at;
        (void)size;
#endif
        return true;
    }

    /// One part by reads and writes at offset at; the count copied, 0 at the end, -1 with
    /// errno.
    ssize_t read_write(const PosixSource& from, off_t at, size_t size) {
        std::vector<char>& buffer = *place_.buffer;
        if (buffer.empty()) buffer.resize(1 << 16);
        ssize_t got;
        do {
            got = pread(from.fd_, buffer.data(), size < buffer.size() ? size : buffer.size(), at);
        } while (got < 0 && errno == EINTR);
        for (ssize_t done = 0; got > 0 && done < got;) {
            ssize_t put =
                pwrite(fd_, buffer.data() + done, static_cast<size_t>(got - done), at + done);
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
    FsResult end_of_data(const PosixSource& from, uint64_t& copied) {
        ended_ = true;
        if (at_ >= from.st_.st_size) return FsResult();
        if (ftruncate(fd_, from.st_.st_size) != 0) return failed();
        copied = static_cast<uint64_t>(from.st_.st_size - at_);
        at_ = from.st_.st_size;
        return FsResult();
    }

    CopyPlace place_;
    int fd_;  // -1 for the copy of a link
    std::string name_;
    bool clone_tried_ = false;
    bool cloned_ = false;
    bool holes_known_ = true;  // until the file system says it cannot tell
    bool ended_ = false;       // the whole file is copied
    off_t at_ = 0;             // how far the copy got
};

class PosixDirectory : public Directory {
   public:
    /// utf8: names are read in UTF-8, as the locale's character set is.
    PosixDirectory(int fd, std::string name_pattern, bool utf8)
        : Directory(std::move(name_pattern)), fd_(fd), opened_(coarse_now()) {
        traits_.match = utf8 ? NameMatch::UTF8 : NameMatch::BYTES;
        traits_.opened = {static_cast<int64_t>(opened_.tv_sec),
                          static_cast<int32_t>(opened_.tv_nsec)};
        const long longest = fpathconf(fd_, _PC_NAME_MAX);
        traits_.longest_name = longest > 0 ? static_cast<size_t>(longest) : 255;
        traits_.copies_together = copies_together();
        foresight_ = posix_foresight(fd_);
    }
    /// The descriptor of a directory of the run, which is this platform's.
    static int fd_of(Directory& other) { return static_cast<PosixDirectory&>(other).fd_; }

    ~PosixDirectory() override {
        if (list_) closedir(list_);
        close(fd_);
    }

    bool next(FindEntry& e, FsResult& failure) override {
        if (!list_) {
            // Every file made from now on bears a later time than opened_ (is_listed).
            wait_for_the_clock();
            // A description of its own, so that the listing's position is not the descriptor's.
            int fd = openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            list_ = fd < 0 ? nullptr : fdopendir(fd);
            if (!list_) {
                failure = failed();
                if (fd >= 0) close(fd);
                return false;
            }
        }
        for (;;) {
            errno = 0;
            dirent* d = readdir(list_);
            if (!d) {
                if (errno != 0) failure = failed();  // 0 at the end of the listing
                return false;
            }
            e.matched = matches(d->d_name);
            e.name = d->d_name;
            e.id = static_cast<uint64_t>(d->d_ino);
            e.is_directory = false;
            e.special = false;
            if (e.matched && !classify(d, e.is_directory, e.special))
                continue;  // vanished meanwhile
            return true;
        }
    }

    EntryType type_of(const char* name) override {
        struct stat st;
        if (fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) == 0) return type_of_mode(st.st_mode);
        return errno == ENOENT || errno == ENOTDIR ? EntryType::MISSING : EntryType::UNKNOWN;
    }

    FsResult look(const char* name, EntryInfo& info) override {
        struct stat st;
        struct timespec made {};
        if (!system_look(fd_, name, st, made)) return failed();
        info.type = type_of_mode(st.st_mode);
        info.size = static_cast<uint64_t>(st.st_size);
        info.modified = {static_cast<int64_t>(st.st_mtim.tv_sec),
                         static_cast<int32_t>(st.st_mtim.tv_nsec)};
        info.changed = {static_cast<int64_t>(st.st_ctim.tv_sec),
                        static_cast<int32_t>(st.st_ctim.tv_nsec)};
        info.id = static_cast<uint64_t>(st.st_ino);
        info.device = static_cast<uint64_t>(st.st_dev);
        info.born = {static_cast<int64_t>(made.tv_sec), static_cast<int32_t>(made.tv_nsec)};
        info.born_known = true;
        return FsResult();
    }

    FsResult rename_noreplace(const char* from, Directory& into, const char* to) override {
        if (no_noreplace_) return FsResult{FsStatus::UNSUPPORTED, 0, ""};
        if (system_rename_noreplace(fd_, from, fd_of(into), to) == 0) return FsResult();
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || unsupported(errno)) {
            no_noreplace_ = true;  // the file system's answer for every name
            return FsResult{FsStatus::UNSUPPORTED, errno, std::strerror(errno)};
        }
        return failed();
    }

    FsResult exchange(const char* a, Directory& b_dir, const char* b) override {
        if (system_rename_exchange(fd_, a, fd_of(b_dir), b) == 0) return FsResult();
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || unsupported(errno))
            return FsResult{FsStatus::UNSUPPORTED, errno, std::strerror(errno)};
        return failed();
    }

    FsResult rename(const char* from, const char* to) override {
        return result_of(renameat(fd_, from, fd_, to));
    }

    FsResult link(const char* from, Directory& into, const char* to) override {
        return result_of(linkat(fd_, from, fd_of(into), to, 0));
    }

    FsResult remove(const char* name) override { return result_of(unlinkat(fd_, name, 0)); }

    std::string private_name() override {
        unsigned r[4];
        return private_name(r);
    }

    /// Opened not blocking, should it be a FIFO, and never through a link; what cannot be
    /// opened so is looked at: a link, a socket, or an error.
    FsResult open_source(const char* name, std::unique_ptr<SourceFile>& source) override {
        struct stat st;
        int in = openat(fd_, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (in < 0) {
            const int error = errno;
            if (fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode) &&
                !S_ISDIR(st.st_mode)) {
                source.reset(new PosixSource(-1, st, fd_, name));
                return FsResult();
            }
            return failed(error);
        }
        if (fstat(in, &st) != 0) {
            FsResult r = failed();
            close(in);
            return r;
        }
        source.reset(new PosixSource(in, st, fd_, name));
        return FsResult();
    }

    FsResult create_copy(SourceFile& source, std::unique_ptr<NewCopy>& copy) override {
        PosixSource& from = static_cast<PosixSource&>(source);
        if (from.fd_ < 0) return copy_link(from, copy);
        int out = system_open_unnamed(fd_);
        if (out >= 0) {
            copy.reset(new PosixCopy(place(), out, std::string()));
            return FsResult();
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT &&
            errno != ENOSYS && !unsupported(errno)) {
            return failed();
        }
        // Under a private name, removed should a signal end the program first.
        unsigned r[4];
        const std::string named = private_name(r);
        remove_on_signal(fd_, static_cast<long>(getpid()), r);
        out = openat(fd_, named.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (out < 0) {
            FsResult refused = failed();
            forget_private_name();
            return refused;
        }
        copy.reset(new PosixCopy(place(), out, named));
        return FsResult();
    }

    /// Unnamed copies: one flush of their file system, which writes what other programs
    /// wrote there too; measured, it costs far less than a flush of each copy
    /// (bench/README.md). Where that cannot be had, each is flushed.
    FsResult flush_together(const std::vector<NewCopy*>& copies) override {
        bool unnamed = true;
        for (NewCopy* c : copies) unnamed = unnamed && c->private_name().empty();
        if (!unnamed || copies.empty()) return Directory::flush_together(copies);
        if (system_sync_fs(static_cast<PosixCopy*>(copies.front())->fd()) == 0) return FsResult();
        if (errno == ENOSYS) return Directory::flush_together(copies);
        return failed();
    }

    /// Half the files this process may open, at most 4,096.
    static size_t copies_together() {
        struct rlimit limit;
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
        const rlim_t room = limit.rlim_cur == RLIM_INFINITY ? 4096
                            : limit.rlim_cur > 64           ? (limit.rlim_cur - 64) / 2
                                                            : 1;
        return room < 4096 ? static_cast<size_t>(room) : 4096;
    }

    FsResult flush_directory() override { return result_of(fsync(fd_)); }

   private:
    /// What a copy needs to know of the directory, looked at once.
    CopyPlace place() {
        if (gives_group_ < 0) {
            struct stat st;
            gives_group_ = fstat(fd_, &st) != 0 || (st.st_mode & S_ISGID) ? 1 : 0;
            gives_access_list_ = system_default_access_list(fd_);
        }
        return CopyPlace{fd_,         gives_group_ == 1, gives_access_list_, geteuid_, getegid_,
                         &no_clones_, &buffer_};
    }

    /// A private name, its random part in r: unpredictable bits drawn once for the run, and
    /// a count of the names made, so that no two of the run's names are the same.
    std::string private_name(unsigned (&r)[4]) {
        if (names_made_++ == 0 && !system_random(&name_bits_, sizeof name_bits_)) {
            name_bits_ = static_cast<uint64_t>(std::time(nullptr)) ^
                         (static_cast<uint64_t>(getpid()) << 40) ^
                         static_cast<uint64_t>(std::clock());
        }
        const uint64_t bits = name_bits_ + names_made_;
        for (int i = 0; i < 4; ++i) r[i] = static_cast<unsigned>(bits >> (48 - 16 * i)) & 0xFFFFu;
        char name[PRIVATE_NAME_SIZE];
        format_private_name(name, static_cast<long>(getpid()), r);
        return name;
    }

    /// The link's copy, finished at once under a private name.
    FsResult copy_link(PosixSource& from, std::unique_ptr<NewCopy>& copy) {
        const struct stat& st = from.st_;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4095) + 1, '\0');
        ssize_t n = readlinkat(from.dir_, from.name_.c_str(), &target[0], target.size());
        if (n < 0) return failed();
        if (static_cast<size_t>(n) >= target.size())
            return failed(ENAMETOOLONG);  // it grew since it was looked at
        target.resize(static_cast<size_t>(n));
        unsigned r[4];
        const std::string named = private_name(r);
        remove_on_signal(fd_, static_cast<long>(getpid()), r);  // should a signal end the run
        if (symlinkat(target.c_str(), fd_, named.c_str()) != 0) {
            FsResult refused = failed();
            forget_private_name();
            return refused;
        }
        copy.reset(new PosixCopy(place(), -1, named));
        return FsResult();
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
        if (fstatat(fd_, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // Vanished meanwhile, or not to be looked at: then backed up as a file, and what
            // refuses it is told.
            return errno != ENOENT;
        }
        special = !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode);
        if (S_ISLNK(st.st_mode)) {
            struct stat target;
            is_directory = fstatat(fd_, d->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        } else {
            is_directory = S_ISDIR(st.st_mode);
        }
        return true;
    }

    /// Until the clock that stamps files has passed opened_: at most one of its ticks.
    void wait_for_the_clock() {
        for (;;) {
            const struct timespec now = coarse_now();
            if (now.tv_sec != opened_.tv_sec || now.tv_nsec != opened_.tv_nsec) return;
            const struct timespec pause = {0, 100000};
            nanosleep(&pause, nullptr);
        }
    }

    int fd_;
    struct timespec opened_;  // by the clock that stamps files, or a second early
    DIR* list_ = nullptr;
    bool no_noreplace_ = false;
    bool no_clones_ = false;
    int gives_group_ = -1;  // unknown until asked
    bool gives_access_list_ = false;
    const uid_t geteuid_ = geteuid();
    const gid_t getegid_ = getegid();
    unsigned names_made_ = 0;
    uint64_t name_bits_ = 0;
    std::vector<char> buffer_;  // for copies by reads and writes
};

std::string backslash_to_slash(const char* path) {
    std::string s = path;
    for (char& c : s) {
        if (c == '\\') c = '/';
    }
    return s;
}

bool read_cwd(std::string& cwd) {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return false;
        buffer.resize(buffer.size() * 2);
    }
    cwd = buffer.data();
    return true;
}

/// Whether the open files x and y hold the same bytes, one file never counting as the same.
FsResult compare_open(int x, int y, bool& same) {
    struct stat sx, sy;
    if (fstat(x, &sx) != 0 || fstat(y, &sy) != 0) return failed();
    if (!S_ISREG(sx.st_mode) || !S_ISREG(sy.st_mode) || sx.st_size != sy.st_size ||
        (sx.st_dev == sy.st_dev && sx.st_ino == sy.st_ino))
        return FsResult();
    std::vector<char> bx(256 << 10), by(256 << 10);
    for (;;) {
        const ssize_t n = read(x, bx.data(), bx.size());
        if (n < 0) return failed();
        size_t got = 0;
        while (got < static_cast<size_t>(n)) {
            const ssize_t m = read(y, by.data() + got, static_cast<size_t>(n) - got);
            if (m < 0) return failed();
            if (m == 0) return FsResult();  // it grew shorter meanwhile: it differs
            got += static_cast<size_t>(m);
        }
        if (std::memcmp(bx.data(), by.data(), got) != 0) return FsResult();
        if (n == 0) {
            char one;
            same = read(y, &one, 1) == 0;
            return FsResult();
        }
    }
}

class PosixFileSystem : public FileSystem {
   public:
    FsResult full_path(const char* path, std::string& out) override {
        std::string cwd;
        if (path[0] != '/' && path[0] != '\\' && !read_cwd(cwd)) return failed();
        out = absolute_path(cwd, path);
        return FsResult();
    }

    FsResult current_directory(std::string& out) override {
        return read_cwd(out) ? FsResult() : failed();
    }

    /// The directory as the user typed it, where '\' separates too; the current directory is
    /// opened as itself, whatever its own name holds.
    int utc_offset(int64_t sec) override {
        const time_t t = static_cast<time_t>(sec);
        struct tm local {};
        if (static_cast<int64_t>(t) != sec || !localtime_r(&t, &local)) return 0;
        return static_cast<int>(local.tm_gmtoff);
    }

    FsResult open_directory(const char* dir, const char* pattern,
                            std::unique_ptr<Directory>& opened) override {
        if (!*pattern) return FsResult();
        // A file larger than the process may write is refused (EFBIG), not the end of the run.
        signal(SIGXFSZ, SIG_IGN);
        std::string path = *dir ? backslash_to_slash(dir) : ".";
        int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            FsResult r = failed();
            if (r.code == ENOENT || r.code == ENOTDIR) r.status = FsStatus::MISSING;
            return r;
        }
        opened.reset(new PosixDirectory(fd, pattern, locale_utf8()));
        return FsResult();
    }

    FsResult open_backups(Directory& files, const char* to, bool make,
                          BackupsDirectory& out) override {
        return posix_open_backups(files, to, make, out);
    }

    FsResult same_content(Directory& a_dir, const char* a, Directory& b_dir, const char* b,
                          bool& same) override {
        same = false;
        const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        const int x = openat(posix_directory_fd(a_dir), a, flags);
        if (x < 0) return failed();
        const int y = openat(posix_directory_fd(b_dir), b, flags);
        if (y < 0) {
            FsResult r = failed();
            close(x);
            return r;
        }
        FsResult r = compare_open(x, y, same);
        close(x);
        close(y);
        return r;
    }
};

}  // namespace

int posix_directory_fd(Directory& dir) {
    return PosixDirectory::fd_of(dir);
}

std::unique_ptr<Directory> posix_directory(int fd) {
    return std::unique_ptr<Directory>(new PosixDirectory(fd, "*", locale_utf8()));
}

FileSystem& file_system_native() {
    static PosixFileSystem fs;
    return fs;
}
