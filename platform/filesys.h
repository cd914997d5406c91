// The file-system side of the platform: a directory opened once for a run, and the few
// operations on its entries that each system makes atomic. The order in which a backup takes
// them, and what it checks between them, is backup/protocol.cpp's, written once for every
// platform; this side only does what one call of the system does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// One entry of a directory listing: its name without a directory, and whether it is a
/// directory (a link to a directory counts as one).
struct FindEntry {
    std::string name;
    bool is_directory = false;  // known for the entries that match
    bool matched = true;        // whether the name matches the search's pattern
    bool exact = true;          // false when the narrow character set cannot hold the name
    bool reachable = true;      // false when the system cannot name the entry exactly
    bool special = false;       // a FIFO, socket or device (known for the entries that match)
};

/// How one operation went. TAKEN: the target name exists, nothing changed. UNSUPPORTED: the
/// file system cannot do it this way, nothing changed. FAILED: anything else; last_error()
/// says why.
enum class FsStatus { OK, TAKEN, UNSUPPORTED, FAILED };

/// What an entry is, not following a link; MISSING when nothing has the name, UNKNOWN when
/// it cannot be looked at.
enum class EntryType { MISSING, FILE, DIRECTORY, LINK, SPECIAL, UNKNOWN };

/// A file opened for reading by open_source.
class SourceFile {
   public:
    virtual ~SourceFile() = default;
    /// What the entry was when it was opened.
    virtual EntryType type() const = 0;
    /// Its size in bytes.
    virtual uint64_t size() const = 0;
};

/// A copy in the making, where no other process sees it. Destroyed before it has a name of
/// its own, it leaves nothing; one under a private name is removed by the protocol, and by
/// the platform should a signal end the process first.
class HiddenFile {
   public:
    virtual ~HiddenFile() = default;
    /// The private name it has in the directory; empty when it has none (an unnamed file).
    virtual const std::string& private_name() const = 0;
    /// What of the source the copy could not keep, in words; empty when it kept everything.
    std::string note;
};

/// A directory opened once for a run. Its entries are listed, looked at and renamed by their
/// names relative to it, never through a path again: renaming or replacing the directory, or
/// one above it, while a run goes on changes nothing about which files are renamed.
class Directory {
   public:
    virtual ~Directory() = default;

    /// Fills e with the next entry, in the order the system gives them, each flagged whether
    /// it matches the pattern the directory was opened with; false when none is left or the
    /// listing failed (listing_error then says why).
    virtual bool next(FindEntry& e) = 0;
    /// Empty while the listing went well; otherwise why it stopped, in the system's words.
    virtual std::string listing_error() { return std::string(); }

    /// What the entry name is, not following a link.
    virtual EntryType type_of(const char* name) = 0;
    /// Renames from to to in one step that never replaces: TAKEN when to exists; UNSUPPORTED
    /// when the file system cannot promise that (then nothing was tried).
    virtual FsStatus rename_noreplace(const char* from, const char* to) = 0;
    /// Renames from to to, which is a private name of this process that no other knows.
    virtual FsStatus rename_private(const char* from, const char* to) = 0;
    /// Gives the entry from (a link as itself) the new name to as well; TAKEN when it exists.
    virtual FsStatus link(const char* from, const char* to) = 0;
    /// Removes the name of a file, a link or a FIFO (never a directory).
    virtual FsStatus remove(const char* name) = 0;
    /// A new name that no other process can guess: ".tavrix-PID-RANDOM.tmp".
    virtual std::string private_name() = 0;
    /// Holds back the signals that end the process until release_signals: a file between
    /// two names is never left there by Ctrl+C. Calls nest.
    virtual void hold_signals() {}
    virtual void release_signals() {}

    /// Opens the entry for copying, never through a link; null when it cannot be opened.
    virtual std::unique_ptr<SourceFile> open_source(const char* name) = 0;
    /// Starts the copy of source: an empty file without a name where the system can make
    /// one, else under a private name (a link: the finished copy of the link, under a private
    /// name); null when it cannot be made.
    virtual std::unique_ptr<HiddenFile> create_hidden(SourceFile& source) = 0;
    /// Copies the next part of a regular file's data, holes left holes; copied is how far
    /// the copy got in the file since the last call, 0 at the end of the file.
    virtual FsStatus copy_chunk(SourceFile& source, HiddenFile& copy, uint64_t& copied) = 0;
    /// True when the source changed since it was opened (its size or its times of change),
    /// so that the data copied may hold no one state of it; false for a clone, a snapshot.
    virtual bool source_changed(SourceFile& source, HiddenFile& copy) = 0;
    /// Gives the copy the source's permissions, times, extended attributes and, where the
    /// process may, owner; what it cannot keep goes to the copy's note, and where that could
    /// widen who may read it, the copy is left readable by its owner alone.
    virtual FsStatus keep_attributes(SourceFile& source, HiddenFile& copy) = 0;
    /// Puts the copy's data on the disk.
    virtual FsStatus flush(HiddenFile& copy) = 0;
    /// Puts the data of all the copies on the disk in one go; FAILED when it cannot say
    /// that all of it is there. Where the system has no such way, each is flushed.
    virtual FsStatus flush_together(const std::vector<HiddenFile*>& copies) {
        for (HiddenFile* c : copies) {
            if (flush(*c) != FsStatus::OK) return FsStatus::FAILED;
        }
        return FsStatus::OK;
    }
    /// How many copies may wait, open, to be flushed together: a share of the files this
    /// process may open (the copies also wait for at most COPY_BYTES_TOGETHER of data).
    virtual size_t copies_together() { return 1; }
    /// Puts the directory's entries, the new names, on the disk.
    virtual FsStatus flush_directory() { return FsStatus::OK; }
    /// Gives an unnamed copy the name to, never replacing: TAKEN when it exists.
    virtual FsStatus name_unnamed(HiddenFile& copy, const char* to) = 0;

    /// Why renaming the entry name (or, with copy, copying it) would be refused, as far as
    /// that can be known without trying, in the words the refusal would have; empty when
    /// nothing says it would be.
    virtual std::string foresee_refusal(const char* name, bool copy) {
        (void)name;
        (void)copy;
        return std::string();
    }

    /// Why the last operation failed, in the system's own words.
    virtual std::string last_error() = 0;
};
