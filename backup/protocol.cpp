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
    release();
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
        release();
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
    release();
    return back;
}

void EntryMove::release() {
    if (!held_) return;
    dir_.release_signals();
    held_ = false;
}

namespace {

/// One copy, from opening the file to its attributes.
PreparedCopy copy_once(Directory& dir, const char* name, CopyWatcher& watcher) {
    PreparedCopy made;
    std::unique_ptr<SourceFile> source = dir.open_source(name);
    if (!source) {
        made.reason = dir.last_error();
        return made;
    }
    const EntryType type = source->type();
    if (type == EntryType::SPECIAL) {
        made.result = StepResult::NOT_REGULAR;
        return made;
    }
    if (type == EntryType::DIRECTORY) {  // it became one since the listing
        made.reason = IS_A_DIRECTORY;
        return made;
    }
    made.copy = dir.create_hidden(*source);
    if (!made.copy) {
        made.reason = dir.last_error();
        return made;
    }
    FsStatus status = FsStatus::OK;
    made.result = StepResult::DONE;
    const uint64_t total = made.size = source->size();
    uint64_t done = 0;
    for (uint64_t copied = 1; type == EntryType::FILE && copied > 0;) {
        status = dir.copy_chunk(*source, *made.copy, copied);
        if (status != FsStatus::OK) break;
        done += copied;
        if (!watcher.keep_going(done, total > done ? total : done)) {
            made.result = StepResult::CANCELLED;
            break;
        }
    }
    if (status == FsStatus::OK && made.result == StepResult::DONE) {
        if (type == EntryType::FILE && dir.source_changed(*source, *made.copy)) {
            made.result = StepResult::CHANGED;
        } else {
            status = dir.keep_attributes(*source, *made.copy);
        }
    }
    if (status != FsStatus::OK) {
        made.reason = dir.last_error();
        made.result = StepResult::REFUSED;
    }
    if (made.result != StepResult::DONE) discard_copy(dir, made);
    return made;
}

}  // namespace

PreparedCopy prepare_copy(Directory& dir, const char* name, CopyWatcher& watcher) {
    PreparedCopy made;
    made.result = StepResult::CHANGED;
    for (int attempt = 0; attempt < COPY_ATTEMPTS && made.result == StepResult::CHANGED;
         ++attempt) {
        made = copy_once(dir, name, watcher);
    }
    return made;
}

void flush_copies(Directory& dir, const std::vector<PreparedCopy*>& copies) {
    std::vector<HiddenFile*> ready;
    for (PreparedCopy* c : copies) {
        if (c->result == StepResult::DONE && !c->flushed) ready.push_back(c->copy.get());
    }
    // Together where the system can; where that fails, one by one, to tell which.
    const bool together = ready.size() > 1 && dir.flush_together(ready) == FsStatus::OK;
    for (PreparedCopy* c : copies) {
        if (c->result != StepResult::DONE || c->flushed) continue;
        if (together || dir.flush(*c->copy) == FsStatus::OK) {
            c->flushed = true;
            continue;
        }
        c->reason = dir.last_error();
        c->result = StepResult::REFUSED;
        discard_copy(dir, *c);
    }
}

StepResult name_copy(Directory& dir, PreparedCopy& made, const char* backup, std::string& reason) {
    const std::string hidden = made.copy->private_name();
    FsStatus status;
    {
        // Named never replacing, and a private name gone, in one held-back stretch (an unnamed
        // copy is named in one call).
        HeldSignals held(dir, !hidden.empty());
        if (hidden.empty()) {
            status = dir.name_unnamed(*made.copy, backup);
        } else {
            status = dir.rename_noreplace(hidden.c_str(), backup);
            if (status == FsStatus::UNSUPPORTED) {
                status = dir.link(hidden.c_str(), backup);
                if (status == FsStatus::OK) dir.remove(hidden.c_str());
            }
        }
    }
    if (status == FsStatus::TAKEN) return StepResult::TAKEN;  // kept for the next name
    if (status != FsStatus::OK) {
        reason = dir.last_error();
        discard_copy(dir, made);
        return StepResult::REFUSED;
    }
    made.note = made.copy->note;
    made.copy.reset();
    return StepResult::DONE;
}

void discard_copy(Directory& dir, PreparedCopy& made) {
    if (!made.copy) return;
    const std::string hidden = made.copy->private_name();
    HeldSignals held(dir, !hidden.empty());
    made.note = made.copy->note;
    made.copy.reset();  // closed before its private name goes, as Windows needs
    if (!hidden.empty()) dir.remove(hidden.c_str());
}
