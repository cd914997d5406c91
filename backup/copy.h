// How one entry gets a backup by copying: the copy made where no name shows it, with the
// file's attributes, flushed, and only then named, never replacing. Written once, over the
// operations of platform/filesys.h.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backup/steps.h"
#include "platform/filesys.h"
#include "platform/signals.h"

/// Told how a long copy goes; keep_going returns false to cancel it.
class CopyWatcher {
   public:
    virtual ~CopyWatcher() = default;
    /// done of total bytes copied so far; called after each part of the data.
    virtual bool keep_going(uint64_t done, uint64_t total) = 0;
    /// The copy's data is all there (or it ended): what was shown of it goes.
    virtual void copied() {}
};

/// How many times a file that changes while it is copied is copied in all.
constexpr int COPY_ATTEMPTS = 4;

/// A copy of an entry made up to its flush and its name: complete, with the file's
/// attributes, where no name shows it.
struct PreparedCopy {
    Outcome result = Outcome::REFUSED;  // DONE while it is ready to be flushed and named
    std::unique_ptr<NewCopy> copy;      // none once named or discarded
    bool flushed = false;
    uint64_t size = 0;       // of the file's data
    std::string reason;      // why there is no copy: the step and the system's words
    Step step = Step::NONE;  // the step that failed
    std::string note;        // what the copy could not keep of the file
};

/// Copies the entry name of dir into a new file of into (dir itself, or another directory),
/// up to, not including, its flush and its name. A copy during which the file changed is made
/// again, COPY_ATTEMPTS times in all, then CHANGED; a copy that is not DONE has left nothing.
/// Every later step of the copy is given into.
PreparedCopy prepare_copy(Directory& dir, Directory& into, Signals& signals, const char* name,
                          CopyWatcher& watcher);
/// Puts the data of the ready copies on the disk, together where the system can; a copy whose
/// data cannot be said to be there is discarded, REFUSED.
void flush_copies(Directory& dir, Signals& signals, const std::vector<PreparedCopy*>& copies);
/// Gives a flushed copy the name backup, never replacing: TAKEN when it exists (the copy is
/// kept for another name); REFUSED with the reason, the copy discarded.
Outcome name_copy(Directory& dir, Signals& signals, PreparedCopy& copy, const char* backup,
                  std::string& reason);
/// Drops a copy that will get no name: nothing of it is left, or what is left comes back
/// ("its copy is left as NAME (why)").
[[nodiscard]] std::optional<Leftover> discard_copy(Directory& dir, Signals& signals,
                                                   PreparedCopy& copy);
