#include "backup/rename.h"

#include <memory>

EntryMove::~EntryMove() {
    finish();
}

std::string EntryMove::finish() {
    if (!aside_.empty() && !put_back()) {
        return "its name was taken meanwhile, and it is kept as " + aside_;
    }
    return std::string();
}

/// A refusal ends the attempts: the entry goes back to its name first.
StepResult EntryMove::refused(const std::string& why) {
    reason_ = why;
    const std::string kept = finish();
    if (!kept.empty()) reason_ += "; " + kept;
    return StepResult::REFUSED;
}

StepResult EntryMove::to(const char* backup) {
    if (!aside_.empty()) return in_steps(backup);
    if (dir_.rename_may_replace()) return through_link(backup);
    return in_one_call(backup);
}

StepResult EntryMove::in_one_call(const char* backup) {
    const FsResult r = dir_.rename_noreplace(name_.c_str(), backup);
    switch (r.status) {
        case FsStatus::OK:
            // Whatever had the name at that instant was renamed: a directory goes back.
            if (dir_.type_of(backup) != EntryType::DIRECTORY) return StepResult::DONE;
            dir_.rename_noreplace(backup, name_.c_str());  // refused: it stays, nothing is lost
            return refused(std::string("the rename was refused: ") + IS_A_DIRECTORY);
        case FsStatus::TAKEN:
            return StepResult::TAKEN;
        case FsStatus::FAILED:
            return refused(step_failed("the rename was refused", r));
        case FsStatus::UNSUPPORTED:
            break;
    }
    const StepResult aside = move_aside();
    return aside == StepResult::DONE ? in_steps(backup) : aside;
}

/// The file is held open before it gets the new name: a file that cannot lose its old name
/// through a handle gets no new one. Directories, links of the file system and read-only files,
/// which Wine will not remove through a handle, and file systems without links are renamed
/// in one call, as Windows itself renames them.
StepResult EntryMove::through_link(const char* backup) {
    std::unique_ptr<HeldEntry> old;
    if (!dir_.hold_entry(name_.c_str(), old).ok() || !old->ordinary()) {
        old.reset();
        return in_one_call(backup);
    }
    const FsResult linked = dir_.link(name_.c_str(), backup);
    if (linked.status == FsStatus::TAKEN) return StepResult::TAKEN;
    if (!linked.ok()) {
        old.reset();
        return in_one_call(backup);
    }
    std::unique_ptr<HeldEntry> made;
    const FsResult opened = dir_.hold_entry(backup, made);
    if (!opened.ok()) {
        // Both names stay, the one file's: nothing is lost.
        return refused(step_failed("the backup name could not be opened", opened));
    }
    if (!made->same_file(*old)) {
        // Another process gave the old name to another file meanwhile: that file keeps it,
        // and the backup name, which is its, goes again.
        made->remove_on_close();
        return refused("the file was replaced meanwhile");
    }
    const FsResult dropped = old->remove_on_close();
    if (dropped.ok()) return StepResult::DONE;
    made->remove_on_close();  // both names are the one file: dropping the new one loses nothing
    return refused(step_failed("the old name could not be removed", dropped));
}

StepResult EntryMove::in_steps(const char* backup) {
    const FsResult linked = dir_.link(aside_.c_str(), backup);
    if (linked.status == FsStatus::TAKEN) return StepResult::TAKEN;  // still aside, for the next
    if (!linked.ok()) return refused(step_failed("the link to the backup name failed", linked));
    const FsResult removed = dir_.remove(aside_.c_str());
    if (!removed.ok()) {
        // Cannot happen where the entry could be moved in: the backup name goes again.
        dir_.remove(backup);
        return refused(step_failed("the private name could not be removed", removed));
    }
    aside_.clear();
    release();
    return StepResult::DONE;
}

/// The entry to a private name, which only this process knows: from then on, nothing that
/// another process does under the entry's own name reaches what this one links or removes.
StepResult EntryMove::move_aside() {
    signals_.hold_signals();
    held_ = true;
    const std::string aside = dir_.private_name();
    const FsResult moved = dir_.rename(name_.c_str(), aside.c_str());
    if (!moved.ok()) {
        // Gone, or not ours to move: nothing changed.
        reason_ = step_failed("the move to a private name failed", moved);
        release();
        return StepResult::REFUSED;
    }
    aside_ = aside;
    if (dir_.type_of(aside_.c_str()) == EntryType::DIRECTORY)
        return refused(std::string("the rename was refused: ") + IS_A_DIRECTORY);
    return StepResult::DONE;
}

/// The entry back under its own name, never over what another process put there meanwhile;
/// should that name be taken, it stays under the private name.
bool EntryMove::put_back() {
    const char* aside = aside_.c_str();
    const char* name = name_.c_str();
    bool back = false;
    if (dir_.type_of(aside) != EntryType::DIRECTORY && dir_.link(aside, name).ok()) {
        // Back under its name; should the private one not go, it is one more name of it.
        dir_.remove(aside);
        back = true;
    } else if (dir_.type_of(name) == EntryType::MISSING) {
        // A directory, or a file system without links: renamed back into the free name.
        back = dir_.rename(aside, name).ok();
    }
    if (back) aside_.clear();
    release();
    return back;
}

void EntryMove::release() {
    if (!held_) return;
    signals_.release_signals();
    held_ = false;
}
