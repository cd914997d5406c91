#include "backup/rename.h"

#include <memory>

#include "backup/identity.h"

// Every step that may have acted though it answered an error is followed by a look at the
// directory (backup/identity.h).

EntryMove::~EntryMove() {
    // Every caller finishes the moves and tells what is left; this is for an end unforeseen.
    static_cast<void>(finish());
}

std::optional<Leftover> EntryMove::finish() {
    if (aside_.empty() || put_back()) return std::nullopt;
    if (same_file(dir_, aside_.c_str(), dir_, name_.c_str()))
        return Leftover{aside_, "it is back under its name, and also under " + aside_};
    return Leftover{aside_, "its name was taken meanwhile, and it is kept as " + aside_};
}

/// A refusal ends the attempts: the entry goes back to its name first. When the entry's name
/// is missing by then, with look set, the file is gone: another process removed or renamed it.
Outcome EntryMove::refused(Step step, const std::string& why, bool look) {
    reason_ = why;
    step_ = step;
    const std::optional<Leftover> kept = finish();
    reason_ += told(kept);
    if (!kept && look && dir_.type_of(name_.c_str()) == EntryType::MISSING) return Outcome::GONE;
    return Outcome::REFUSED;
}

Outcome EntryMove::to(const char* backup) {
    if (!aside_.empty()) return in_steps(backup);
    if (dir_.traits().rename_may_replace) return through_link(backup);
    return in_one_call(backup);
}

Outcome EntryMove::in_one_call(const char* backup) {
    const FsResult r = dir_.rename_noreplace(name_.c_str(), into_, backup);
    // Taken, unless the rename was made all the same: the entry's name is free and the backup
    // name is the file the listing gave.
    const auto made_all_the_same = [&] {
        return id_ != 0 && renamed_all_the_same(dir_, name_.c_str(), into_, backup, id_);
    };
    if (r.status == FsStatus::TAKEN && !made_all_the_same()) return Outcome::TAKEN;
    if (r.status == FsStatus::UNSUPPORTED) {
        const Outcome aside = move_aside();
        return aside == Outcome::DONE ? in_steps(backup) : aside;
    }
    if (!r.ok()) {
        // Made all the same when the entry's name is free and the backup name is the file
        // the listing gave (as a TAKEN that comes this far was seen to be).
        if (r.status != FsStatus::TAKEN && !made_all_the_same()) {
            return refused(Step::RENAME, step_failed(Step::RENAME, r), true);
        }
        note_ = "renamed, though the system answered: " + r.words;
    }
    // Whatever had the name at that instant was renamed: a directory goes back.
    if (into_.type_of(backup) != EntryType::DIRECTORY) return Outcome::DONE;
    note_.clear();
    into_.rename_noreplace(backup, dir_, name_.c_str());  // refused: it stays, nothing is lost
    return refused(Step::RENAME, std::string(step_words(Step::RENAME)) + ": " + IS_A_DIRECTORY);
}

/// The file is held open before it gets the new name: a file that cannot lose its old name
/// through a handle gets no new one. Directories, links of the file system and read-only files,
/// which Wine will not remove through a handle, and file systems without links are renamed
/// in one call, as Windows itself renames them.
Outcome EntryMove::through_link(const char* backup) {
    std::unique_ptr<HeldEntry> old;
    if (!dir_.hold_entry(name_.c_str(), old).ok() || !old->ordinary()) {
        old.reset();
        return in_one_call(backup);
    }
    const FsResult linked = dir_.link(name_.c_str(), into_, backup);
    if (linked.status == FsStatus::TAKEN) return Outcome::TAKEN;
    if (!linked.ok()) {
        old.reset();
        return in_one_call(backup);
    }
    std::unique_ptr<HeldEntry> made;
    const FsResult opened = into_.hold_entry(backup, made);
    if (!opened.ok()) {
        // Both names stay, the one file's: nothing is lost.
        return refused(Step::HOLD_BACKUP_NAME, step_failed(Step::HOLD_BACKUP_NAME, opened));
    }
    if (!made->same_file(*old)) {
        // Another process gave the old name to another file meanwhile: that file keeps it,
        // and the backup name, which is its, goes again.
        made->remove_on_close();
        return refused(Step::NONE, "the file was replaced meanwhile");
    }
    const FsResult dropped = old->remove_on_close();
    if (dropped.ok()) return Outcome::DONE;
    made->remove_on_close();  // both names are the one file: dropping the new one loses nothing
    return refused(Step::REMOVE_OLD_NAME, step_failed(Step::REMOVE_OLD_NAME, dropped));
}

Outcome EntryMove::in_steps(const char* backup) {
    const char* aside = aside_.c_str();
    const FsResult linked = dir_.link(aside, into_, backup);
    // Still aside, for the next name, unless the link was made all the same.
    if (linked.status == FsStatus::TAKEN && !linked_all_the_same(dir_, aside, into_, backup))
        return Outcome::TAKEN;
    if (!linked.ok()) {
        // A link made all the same is used only when the backup name is seen to be the entry;
        // a name that cannot be told apart from another file's counts as taken.
        if (into_.type_of(backup) == EntryType::MISSING)
            return refused(Step::LINK, step_failed(Step::LINK, linked));
        if (!linked_all_the_same(dir_, aside, into_, backup)) return Outcome::TAKEN;
        note_ = "linked, though the system answered: " + linked.words;
    }
    const FsResult removed = remove_private_name(dir_, aside);
    if (!removed.ok()) {
        // The entry has its backup name; the private name is one more name of it.
        note_ = "its private name " + aside_ + " could not be removed: " + removed.words;
    }
    aside_.clear();
    release();
    return Outcome::DONE;
}

/// The entry to a private name, which only this process knows: from then on, nothing that
/// another process does under the entry's own name reaches what this one links or removes.
Outcome EntryMove::move_aside() {
    signals_.hold_signals();
    held_ = true;
    const std::string aside = dir_.private_name();
    const FsResult moved = dir_.rename(name_.c_str(), aside.c_str());
    // Only this process knows the private name: whatever is there, it moved there.
    if (!moved.ok() && dir_.type_of(aside.c_str()) == EntryType::MISSING) {
        // Gone, or not ours to move: nothing changed.
        const bool gone = dir_.type_of(name_.c_str()) == EntryType::MISSING;
        reason_ = step_failed(step_ = Step::MOVE_ASIDE, moved);
        release();
        return gone ? Outcome::GONE : Outcome::REFUSED;
    }
    aside_ = aside;
    if (dir_.type_of(aside_.c_str()) == EntryType::DIRECTORY)
        return refused(Step::RENAME, std::string(step_words(Step::RENAME)) + ": " + IS_A_DIRECTORY);
    return Outcome::DONE;
}

/// The entry back under its own name, never over what another process put there meanwhile;
/// should that name be taken, it stays under the private name. True when the private name
/// is gone.
bool EntryMove::put_back() {
    const char* aside = aside_.c_str();
    const char* name = name_.c_str();
    bool back = false;
    if (dir_.type_of(aside) != EntryType::DIRECTORY) {
        back = dir_.link(aside, dir_, name).ok() || linked_all_the_same(dir_, aside, dir_, name);
        // Back under its name; the private name then goes, or stays one more name of it.
        if (back && !remove_private_name(dir_, aside).ok()) back = false;
    }
    if (!back && dir_.type_of(name) == EntryType::MISSING) {
        // A directory, or a file system without links: renamed back into the free name.
        back = dir_.rename(aside, name).ok() || dir_.type_of(aside) == EntryType::MISSING;
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
