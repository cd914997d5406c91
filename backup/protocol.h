// How one entry gets a backup name: the order of the file system's steps, what is looked at
// between them, and how each failure is undone. Written once, over the operations of
// platform/filesys.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/filesys.h"

/// Told how a long copy goes; keep_going returns false to cancel it.
class CopyWatcher {
   public:
    virtual ~CopyWatcher() = default;
    /// done of total bytes copied so far; called after each part of the data.
    virtual bool keep_going(uint64_t done, uint64_t total) = 0;
};

/// What became of one attempt at one backup name.
enum class StepResult {
    DONE,         // the entry (or its copy) has the name
    TAKEN,        // the name exists: nothing changed, the next one may be tried
    REFUSED,      // the system refused; reason says why
    NOT_REGULAR,  // a FIFO, socket or device, which is never copied
    CANCELLED,    // Esc during a copy
    CHANGED       // the file changed during each of its copies
};

/// How many times a file that changes while it is copied is copied in all.
constexpr int COPY_ATTEMPTS = 4;
/// How much data copies made may hold before they are flushed together: the memory that
/// waits to be written is bounded.
constexpr uint64_t COPY_BYTES_TOGETHER = 64 << 20;

/// Moves one entry of a directory to backup names, one attempt at a time, never replacing a
/// name. Where the file system renames without replacing, each attempt is that one rename.
/// Where it cannot, the entry is first moved to a private name that no other process knows,
/// and each attempt links that name to the backup name; the private name is removed once the
/// link is made, or the entry goes back to its own name when no attempt succeeds. Whatever
/// another process puts under the entry's name meanwhile is never touched. An entry that is
/// a directory by the time it is moved goes back to its name.
class EntryMove {
   public:
    EntryMove(Directory& dir, const char* name) : dir_(dir), name_(name) {}
    /// Puts the entry back when it is still under its private name.
    ~EntryMove();
    EntryMove(const EntryMove&) = delete;
    EntryMove& operator=(const EntryMove&) = delete;

    StepResult to(const char* backup);
    /// Ends the attempts: an entry still under its private name goes back to its own name.
    /// Empty when all is well; otherwise where the entry is kept, its name having been taken
    /// meanwhile.
    std::string finish();
    const std::string& reason() const { return reason_; }

   private:
    StepResult refused(const std::string& why);
    StepResult move_aside();
    /// False when the entry stays under its private name.
    bool put_back();
    /// Lets the signals held back while the entry was aside through.
    void release();

    Directory& dir_;
    std::string name_;
    std::string aside_;  // the private name the entry is under, while it is
    std::string reason_;
    bool held_ = false;  // signals held back while the entry is aside
};

/// A copy of an entry made up to its flush and its name: complete, with the file's
/// attributes, where no name shows it.
struct PreparedCopy {
    StepResult result = StepResult::REFUSED;  // DONE while it is ready to be flushed and named
    std::unique_ptr<HiddenFile> copy;         // none once named or discarded
    bool flushed = false;
    uint64_t size = 0;   // of the file's data
    std::string reason;  // why there is no copy
    std::string note;    // what the copy could not keep of the file
};

/// Copies the entry name up to, not including, its flush and its name. A copy during which
/// the file changed is made again, COPY_ATTEMPTS times in all, then CHANGED; a copy that is
/// not DONE has left nothing.
PreparedCopy prepare_copy(Directory& dir, const char* name, CopyWatcher& watcher);
/// Puts the data of the ready copies on the disk, together where the system can; a copy whose
/// data cannot be said to be there is discarded, REFUSED.
void flush_copies(Directory& dir, const std::vector<PreparedCopy*>& copies);
/// Gives a flushed copy the name backup, never replacing: TAKEN when it exists (the copy is
/// kept for another name); REFUSED with the reason, the copy discarded.
StepResult name_copy(Directory& dir, PreparedCopy& copy, const char* backup, std::string& reason);
/// Drops a copy that will get no name: nothing of it is left.
void discard_copy(Directory& dir, PreparedCopy& copy);
