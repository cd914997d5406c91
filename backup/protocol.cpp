#include "backup/protocol.h"

#include <memory>

namespace {

/// What an entry that has become a directory is refused with, on every platform.
const char* const IS_A_DIRECTORY = "Is a directory";

/// Holds back the ending signals for as long as it lives, when hold is set.
class HeldSignals {
   public:
    HeldSignals(Directory& dir, bool hold) : dir_(dir), hold_(hold) {
        if (hold_) dir_.hold_signals();
    }
    ~HeldSignals() {
        if (hold_) dir_.release_signals();
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

   private:
    Directory& dir_;
    bool hold_;
};

}  // namespace

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
    if (aside_.empty()) {
        switch (dir_.rename_noreplace(name_.c_str(), backup)) {
            case FsStatus::OK:
                // Whatever had the name at that instant was renamed: a directory goes back.
                if (dir_.type_of(backup) != EntryType::DIRECTORY) return StepResult::DONE;
                dir_.rename_noreplace(backup, name_.c_str());  // refused: it stays, nothing is lost
                return refused(IS_A_DIRECTORY);
            case FsStatus::TAKEN:
                return StepResult::TAKEN;
            case FsStatus::FAILED:
                return refused(dir_.last_error());
            case FsStatus::UNSUPPORTED:
                break;
        }
        const StepResult aside = move_aside();
        if (aside != StepResult::DONE) return aside;
    }
    switch (dir_.link(aside_.c_str(), backup)) {
        case FsStatus::OK:
            break;
        case FsStatus::TAKEN:
            return StepResult::TAKEN;  // still aside, for the next name
        case FsStatus::FAILED:
        case FsStatus::UNSUPPORTED:
            return refused(dir_.last_error());
    }
    if (dir_.remove(aside_.c_str()) != FsStatus::OK) {
        // Cannot happen where the entry could be moved in: the backup name goes again.
        const std::string why = dir_.last_error();
        dir_.remove(backup);
        return refused(why);
    }
    aside_.clear();
    dir_.release_signals();
    held_ = false;
    return StepResult::DONE;
}

/// The entry to a private name, which only this process knows: from then on, nothing that
/// another process does under the entry's own name reaches what this one links or removes.
StepResult EntryMove::move_aside() {
    dir_.hold_signals();
    held_ = true;
    const std::string aside = dir_.private_name();
    if (dir_.rename_private(name_.c_str(), aside.c_str()) != FsStatus::OK) {
        reason_ = dir_.last_error();  // gone, or not ours to move: nothing changed
        dir_.release_signals();
        held_ = false;
        return StepResult::REFUSED;
    }
    aside_ = aside;
    if (dir_.type_of(aside_.c_str()) == EntryType::DIRECTORY) return refused(IS_A_DIRECTORY);
    return StepResult::DONE;
}

/// The entry back under its own name, never over what another process put there meanwhile;
/// should that name be taken, it stays under the private name.
bool EntryMove::put_back() {
    const char* aside = aside_.c_str();
    const char* name = name_.c_str();
    bool back = false;
    if (dir_.type_of(aside) != EntryType::DIRECTORY && dir_.link(aside, name) == FsStatus::OK) {
        // Back under its name; should the private one not go, it is one more name of it.
        dir_.remove(aside);
        back = true;
    } else if (dir_.type_of(name) == EntryType::MISSING) {
        // A directory, or a file system without links: renamed back into the free name.
        back = dir_.rename_private(aside, name) == FsStatus::OK;
    }
    if (back) aside_.clear();
    if (held_) {
        dir_.release_signals();
        held_ = false;
    }
    return back;
}

StepResult copy_entry(Directory& dir, const char* name, const char* backup, CopyWatcher& watcher,
                      std::string& reason) {
    std::unique_ptr<SourceFile> source = dir.open_source(name);
    if (!source) {
        reason = dir.last_error();
        return StepResult::REFUSED;
    }
    const EntryType type = source->type();
    if (type == EntryType::SPECIAL) return StepResult::NOT_REGULAR;
    if (type == EntryType::DIRECTORY) {  // it became one since the listing
        reason = IS_A_DIRECTORY;
        return StepResult::REFUSED;
    }
    std::unique_ptr<HiddenFile> copy = dir.create_hidden(*source);
    if (!copy) {
        reason = dir.last_error();
        return StepResult::REFUSED;
    }
    const std::string made = copy->private_name();
    StepResult result = StepResult::DONE;
    FsStatus status = FsStatus::OK;
    const uint64_t total = source->size();
    uint64_t done = 0;
    for (uint64_t copied = 1; type == EntryType::FILE && copied > 0;) {
        status = dir.copy_chunk(*source, *copy, copied);
        if (status != FsStatus::OK) break;
        done += copied;
        if (!watcher.keep_going(done, total > done ? total : done)) {
            result = StepResult::CANCELLED;
            break;
        }
    }
    const bool copied = status == FsStatus::OK && result == StepResult::DONE;
    if (copied) status = dir.keep_attributes(*source, *copy);
    if (copied && status == FsStatus::OK) status = dir.flush(*copy);
    const bool complete = copied && status == FsStatus::OK;
    {
        // Named never replacing, and a private name gone, in one held-back stretch (an unnamed
        // copy is named in one call).
        HeldSignals held(dir, !made.empty());
        if (complete && made.empty()) {
            status = dir.name_unnamed(*copy, backup);
        } else if (complete) {
            status = dir.rename_noreplace(made.c_str(), backup);
            if (status == FsStatus::UNSUPPORTED) status = dir.link(made.c_str(), backup);
        }
        if (status == FsStatus::FAILED || status == FsStatus::UNSUPPORTED) {
            reason = dir.last_error();
            result = StepResult::REFUSED;
        } else if (status == FsStatus::TAKEN) {
            result = StepResult::TAKEN;
        }
        copy.reset();  // closed before its private name goes, as Windows needs
        if (!made.empty()) dir.remove(made.c_str());  // already gone where a rename named it
    }
    return result;
}
