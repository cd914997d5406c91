// How one entry gets a backup name by a rename: the order of the file system's steps, what is
// looked at between them, and how each failure is undone. Written once, over the operations
// of platform/filesys.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "backup/steps.h"
#include "platform/filesys.h"
#include "platform/signals.h"

/// Moves one entry of a directory to backup names, one attempt at a time, never replacing a
/// name, in one of three ways, as the file system allows:
/// - in one call, where the file system renames without replacing;
/// - through a link, where the system's rename may replace a name taken in an instant of its
///   own (Wine): the entry, held open, gets the backup name as a link, then loses its own
///   name through the handle, once the link is seen to be the same file;
/// - in steps, where it cannot: the entry is first moved to a private name that no other
///   process knows, and each attempt links that name to the backup name; the private name is
///   removed once the link is made, or the entry goes back to its own name when no attempt
///   succeeds.
/// Whatever another process puts under the entry's name meanwhile is never touched. An entry
/// that is a directory by the time it is moved goes back to its name.
class EntryMove {
   public:
    /// The entry name of dir, to backup names in into (dir itself, or another directory on
    /// its file system). id: the identity the listing gave the entry, 0 when it gave none.
    EntryMove(Directory& dir, Directory& into, Signals& signals, const char* name, uint64_t id = 0)
        : dir_(dir), into_(into), signals_(signals), name_(name), id_(id) {}
    /// Puts the entry back when it is still under its private name.
    ~EntryMove();
    EntryMove(const EntryMove&) = delete;
    EntryMove& operator=(const EntryMove&) = delete;

    Outcome to(const char* backup);
    /// Ends the attempts: an entry still under its private name goes back to its own name.
    /// Nothing when all is well; otherwise the private name that is left, its own having been
    /// taken meanwhile.
    [[nodiscard]] std::optional<Leftover> finish();
    /// Why the last attempt was refused: the step and the system's words.
    const std::string& reason() const { return reason_; }
    /// The step that failed, when one did.
    Step step() const { return step_; }
    /// What the attempt that succeeded did not do as asked, in words; empty when all went.
    const std::string& note() const { return note_; }

   private:
    Outcome in_one_call(const char* backup);
    Outcome through_link(const char* backup);
    Outcome in_steps(const char* backup);
    Outcome refused(Step step, const std::string& why, bool look = false);
    Outcome move_aside();
    /// False when the entry stays under its private name.
    bool put_back();
    /// Lets the signals held back while the entry was aside through.
    void release();

    Directory& dir_;   // the entry's, where its private name is too
    Directory& into_;  // the backup names'
    Signals& signals_;
    std::string name_;
    uint64_t id_;
    std::string aside_;  // the private name the entry is under, while it is
    std::string reason_;
    Step step_ = Step::NONE;
    std::string note_;
    bool held_ = false;  // signals held back while the entry is aside
};
