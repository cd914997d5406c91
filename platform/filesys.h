// The file-system side of the platform: paths, a directory opened once for a run, its
// entries, and a copy in the making. Each operation is one step of the system's; the order of
// the steps and what is looked at between them are backup/'s, written once for every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/wildcard.h"

/// One entry of a directory listing: its name without a directory, and whether it is a
/// directory (a link to a directory counts as one).
struct FindEntry {
    std::string name;
    bool is_directory = false;  // known for the entries that match
    bool matched = true;        // whether the name matches the search's pattern
    bool exact = true;          // false when the narrow character set cannot hold the name
    bool reachable = true;      // false when the system cannot name the entry exactly
    bool special = false;       // a FIFO, socket or device (known for the entries that match)
    uint64_t id = 0;            // the file's identity in its file system, 0 where not known
};

/// How an operation ended. TAKEN: the target name exists, nothing changed. UNSUPPORTED: the
/// file system cannot do it this way, nothing changed. MISSING (open_directory alone): the
/// directory, or one on its path, does not exist or is no directory. FAILED: anything else.
enum class FsStatus { OK, TAKEN, UNSUPPORTED, MISSING, FAILED };

/// How one operation went: its status, and when it failed, the system's code (errno, or a
/// Windows error) and the system's words for it. The step that failed is the caller's to name.
struct FsResult {
    FsStatus status = FsStatus::OK;
    int code = 0;
    std::string words;
    bool ok() const { return status == FsStatus::OK; }
};

/// The most data that one copy_range copies: small enough to look at Esc often on a slow disk.
constexpr uint32_t COPY_CHUNK = 8 << 20;

/// What an entry is, not following a link; MISSING when nothing has the name, UNKNOWN when
/// it cannot be looked at.
enum class EntryType { MISSING, FILE, DIRECTORY, LINK, SPECIAL, UNKNOWN };

/// A moment: seconds since 1970 (UTC) and the nanoseconds of that second, so that every year
/// to 9999 and beyond fits. Moments compare as the pairs do.
struct FileTime {
    int64_t sec = 0;
    int32_t nsec = 0;
    bool operator==(const FileTime& o) const { return sec == o.sec && nsec == o.nsec; }
    bool operator!=(const FileTime& o) const { return !(*this == o); }
    bool operator<(const FileTime& o) const {
        return sec < o.sec || (sec == o.sec && nsec < o.nsec);
    }
};

/// What a look at an entry finds, not following a link.
struct EntryInfo {
    EntryType type = EntryType::MISSING;
    uint64_t size = 0;
    FileTime modified;        // when its data last changed
    FileTime changed;         // when its name or attributes last changed (its change time, ctime)
    uint64_t id = 0;          // its identity in its file system, 0 where not known
    uint64_t device = 0;      // the file system's, where the system tells it
    FileTime born;            // when it was made (POSIX: its birth time, else its modification
    bool born_known = false;  // time); not known on Windows, which gives a new file the
                              // creation time of one just removed under its name
    bool reachable = true;    // false where the name does not reach the entry itself (Wine: a
                              // symbolic link, which it follows; a name it shows otherwise)
};

/// A file opened for reading by open_source.
class SourceFile {
   public:
    virtual ~SourceFile() = default;
    /// What the entry was when it was opened.
    virtual EntryType type() const = 0;
    /// Its size in bytes.
    virtual uint64_t size() const = 0;
};

/// The copy of a source in the making (each operation is given the source it was created
/// from), not yet under a name that any other process looks for: without a name where the system
/// can make such a file, else under a private name. Destroyed without a name, an unnamed copy
/// leaves nothing; a private name is removed by backup/, and by the platform should a signal end
/// the process first.
class NewCopy {
   public:
    virtual ~NewCopy() = default;
    /// The private name it has in the directory; empty when it has none.
    virtual const std::string& private_name() const = 0;
    /// Copies the next part of a regular file's data, at most COPY_CHUNK, holes left holes;
    /// copied is how far the copy got in the file since the last call, 0 at the end of it.
    virtual FsResult copy_range(SourceFile& source, uint64_t& copied) = 0;
    /// True when the source changed since it was opened (its size or its times of change),
    /// so that the data copied may hold no one state of it; false for a clone.
    virtual bool source_changed(SourceFile& source) = 0;
    /// The source's owner and group; FAILED where the process may not give them both.
    virtual FsResult keep_owner(SourceFile& source) = 0;
    /// The source's group alone; FAILED where the process may not give it.
    virtual FsResult keep_group(SourceFile& source) = 0;
    /// The source's permission bits: the set-user-ID bit only with owner_kept, the
    /// set-group-ID bit and the group's bits only with group_kept. A set-ID bit not kept is
    /// added to lost, in words.
    virtual FsResult keep_permissions(SourceFile& source, bool owner_kept, bool group_kept,
                                      std::string& lost) = 0;
    /// Every extended attribute, access list and stream of the source that the process can
    /// read and set; what it could not keep is added to lost, in words, and narrowing is set
    /// when something that narrows who may read the file is not kept.
    virtual FsResult keep_extended(SourceFile& source, bool& narrowing, std::string& lost) = 0;
    /// Makes the copy readable by its owner alone, without its set-ID bits.
    virtual FsResult owner_alone(SourceFile& source) = 0;
    /// The source's times (and on Windows its attributes).
    virtual FsResult keep_times(SourceFile& source) = 0;
    /// Puts the copy's data on the disk.
    virtual FsResult flush() = 0;
    /// True when the entry to of its directory is this copy.
    virtual bool is(const char* to) {
        (void)to;
        return false;
    }
    /// Gives an unnamed copy the name to, never replacing: TAKEN when it exists. What went
    /// otherwise once it was named (its close) is added to note, in words.
    virtual FsResult link_unnamed(const char* to, std::string& note) {
        (void)to;
        (void)note;
        return FsResult{FsStatus::UNSUPPORTED, 0, "not supported"};
    }
};

/// Adds what to the words of a note, after a "; " where it has some already.
inline void add_words(std::string& note, const std::string& what) {
    if (!what.empty()) note += (note.empty() ? "" : "; ") + what;
}

/// An entry held open, so that its name can be removed through it (Windows).
class HeldEntry {
   public:
    virtual ~HeldEntry() = default;
    /// An ordinary file: neither a directory, a link of the file system, nor read-only.
    virtual bool ordinary() = 0;
    /// True when both hold the same file.
    virtual bool same_file(HeldEntry& other) = 0;
    /// The name it was held by goes once every handle of it is closed.
    virtual FsResult remove_on_close() = 0;
};

/// What a directory's platform and file system are like, as the platform finds them once,
/// when it opens the directory.
struct DirectoryTraits {
    /// Whether rename_noreplace may replace a name that is taken in an instant of its own
    /// (Wine's MoveFile).
    bool rename_may_replace = false;
    /// The length in bytes of the path through which the entries are reached, with its
    /// separator, as the limit of a full path counts it; 0 where it is the directory's full
    /// path as typed.
    size_t path_length = 0;
    /// The longest name an entry may have, in bytes (on Windows in UTF-16 units).
    size_t longest_name = 255;
    /// How many copies may wait, open, to be flushed together.
    size_t copies_together = 1;
    /// When the directory was opened, by the clock that stamps files: an entry born later
    /// was made since.
    FileTime opened;
    /// How the listing matches names against the directory's pattern.
    NameMatch match = NameMatch::BYTES;
};

/// The step at which a foreseen refusal would stop.
enum class Foreseen { NOTHING, RENAME, OPEN, CREATE_COPY, COPY_DATA };

/// A refusal foreseen: the step, and the system's code and words.
struct Refusal {
    Foreseen at = Foreseen::NOTHING;
    FsResult why;
};

/// What a platform can tell, without trying, of what its system would refuse in a directory
/// (POSIX: platform/foresight-posix.cpp); /L tells it as the run would meet it.
class Foresight {
   public:
    virtual ~Foresight() = default;
    /// Why renaming or removing the entry name (or, with copy, copying it) would be refused,
    /// as far as that can be known without trying; NOTHING when nothing says it would.
    virtual Refusal refusal(const char* name, bool copy) = 0;
};

/// A directory opened once for a run. Its entries are listed, looked at and renamed by their
/// names relative to it, never through a path again: renaming or replacing the directory, or
/// one above it, while a run goes on changes nothing about which files are renamed.
class Directory {
   public:
    virtual ~Directory() = default;
    /// What the directory's platform and file system are like.
    const DirectoryTraits& traits() const { return traits_; }
    /// True when name matches the pattern the directory was opened with, as the listing
    /// matches names.
    bool matches(const char* name) const {
        return wildcard_match(pattern_.c_str(), name, traits_.match);
    }

    /// Fills e with the next entry, in the order the system gives them, flagged whether it
    /// matches the pattern the directory was opened with; false when none is left, with
    /// failure set when the listing failed.
    virtual bool next(FindEntry& e, FsResult& failure) = 0;
    /// What the entry name is, not following a link.
    virtual EntryType type_of(const char* name) = 0;
    /// What the entry name is, its size and its times, not following a link.
    virtual FsResult look(const char* name, EntryInfo& info) = 0;
    // A step that gives an entry a name takes the directory of that name, into: this one, or
    // another directory of the run (of this platform, on the same file system).

    /// Renames from to the name to of into in one step that never replaces: TAKEN when to
    /// exists; UNSUPPORTED when the file system cannot promise that (then nothing was tried).
    virtual FsResult rename_noreplace(const char* from, Directory& into, const char* to) = 0;
    /// Exchanges the names a and b (of b_dir) in one step: each entry takes the other's name,
    /// and no moment shows either name missing; UNSUPPORTED where the system has no such call.
    virtual FsResult exchange(const char* a, Directory& b_dir, const char* b) {
        (void)a;
        (void)b_dir;
        (void)b;
        return FsResult{FsStatus::UNSUPPORTED, 0, "not supported"};
    }
    /// Renames from to to as the system's plain rename does, which replaces a file named to:
    /// only for a name that no other process knows, or one just seen missing.
    virtual FsResult rename(const char* from, const char* to) = 0;
    /// Gives the entry from (a link as itself) the new name to of into as well; TAKEN when it
    /// exists.
    virtual FsResult link(const char* from, Directory& into, const char* to) = 0;
    /// Removes the name of a file, a link or a FIFO (never a directory).
    virtual FsResult remove(const char* name) = 0;
    /// A new name, ".tavrix-PID-RANDOM.tmp", whose random part is drawn from the system's
    /// unpredictable bits.
    virtual std::string private_name() = 0;
    /// The form of name under which the file system compares names: names with one key are
    /// one name. The name itself where names compare byte for byte.
    virtual std::string name_key(const char* name) { return name; }
    /// Whether an entry of the directory may have the name.
    virtual bool name_fits(const char* name) { return std::strlen(name) <= traits_.longest_name; }
    /// Holds the entry name open for removal through it, and refuses while another program
    /// has the file open to read or write it (its name would stay until that program closes
    /// it); while held, no other program opens it so. UNSUPPORTED where there is no such way.
    virtual FsResult hold_entry(const char* name, std::unique_ptr<HeldEntry>& held) {
        (void)name;
        (void)held;
        return FsResult{FsStatus::UNSUPPORTED, 0, "not supported"};
    }

    /// Opens the entry for copying, never through a link.
    virtual FsResult open_source(const char* name, std::unique_ptr<SourceFile>& source) = 0;
    /// Starts the copy of source (opened in this directory or another) in this directory: an
    /// empty file without a name where
    /// the system can make one, else under a private name (a link: the finished copy of the
    /// link, under a private name).
    virtual FsResult create_copy(SourceFile& source, std::unique_ptr<NewCopy>& copy) = 0;
    /// Puts the data of all the copies on the disk in one go, where the system has a way;
    /// else each is flushed.
    virtual FsResult flush_together(const std::vector<NewCopy*>& copies) {
        for (NewCopy* c : copies) {
            FsResult r = c->flush();
            if (!r.ok()) return r;
        }
        return FsResult();
    }
    /// Puts the directory's entries, the new names, on the disk.
    virtual FsResult flush_directory() { return FsResult(); }

    /// Where the user finds the directory's entries, before their names, as the run tells them:
    /// empty for the files' directory, ".bak/" or a full path for the backups' own (/TO).
    const std::string& shown() const { return shown_; }
    void show_as(std::string shown) { shown_ = std::move(shown); }

    /// What foresees the directory's refusals; null where nothing does.
    Foresight* foresight() const { return foresight_.get(); }

   protected:
    explicit Directory(std::string pattern) : pattern_(std::move(pattern)) {}
    const std::string pattern_;  // of the names the listing matches
    DirectoryTraits traits_;     // filled by the platform when it opens the directory
    std::unique_ptr<Foresight> foresight_;
    std::string shown_;
};

/// The directory of a run's backups, where the user asked for one of its own (/TO).
struct BackupsDirectory {
    std::unique_ptr<Directory> dir;  // opened; null while it is yet to be made (a dry run)
    std::vector<std::string> made;   // the directories made, or with a dry run to be made
    std::string shown;    // where the user finds it, with a separator: ".bak/", or a full path
    bool same = false;    // it is the files' directory itself
    bool across = false;  // it is on another file system than the files' directory
};

/// The file system's side that is not a directory of a run: paths and opening directories.
class FileSystem {
   public:
    virtual ~FileSystem() = default;
    /// The absolute form of path, whatever its length.
    virtual FsResult full_path(const char* path, std::string& out) = 0;
    /// The current directory's absolute path, whatever its length.
    virtual FsResult current_directory(std::string& out) = 0;
    /// False when a command-line argument reached the program as another text than the one
    /// typed (a character its code page cannot hold).
    virtual bool argument_exact(const char*) { return true; }
    /// The local time's offset from UTC, in seconds, at the moment sec (seconds since 1970):
    /// as the C library reads TZ on POSIX, as the time zone set on Windows; 0 where unknown.
    virtual int utc_offset(int64_t sec) = 0;
    /// Opens directory dir (as typed, or empty for the current directory) for a run over the
    /// entries whose names match the wildcard pattern (* and ?); an empty pattern opens none.
    virtual FsResult open_directory(const char* dir, const char* pattern,
                                    std::unique_ptr<Directory>& opened) = 0;
    /// Whether the file a of a_dir holds the same bytes as the file b of b_dir: sizes first,
    /// then the bytes, to the first difference. Never the same when they are one file (a link
    /// of the other), or when either is no regular file; FAILED when either cannot be read.
    virtual FsResult same_content(Directory& a_dir, const char* a, Directory& b_dir, const char* b,
                                  bool& same) = 0;
    /// Opens the directory of the backups of the files' directory files, to as the user typed
    /// it: a relative one from files, an absolute one with files' canonical path below it,
    /// each component of that path a directory. With make, what is missing is made, each
    /// with no more access than the directory it stands for; every component below an
    /// absolute to, and every one made, is entered without following a link, and one below
    /// an absolute to that another user (not root) owns is refused.
    virtual FsResult open_backups(Directory& files, const char* to, bool make,
                                  BackupsDirectory& out) = 0;
};
