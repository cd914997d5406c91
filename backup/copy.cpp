#include "backup/copy.h"

#include <memory>

#include "backup/identity.h"

namespace {

/// The copy's data, part after part, Esc looked at after each.
Outcome copy_data(SourceFile& source, PreparedCopy& made, CopyWatcher& watcher) {
    NewCopy& copy = *made.copy;
    const uint64_t total = source.size();
    uint64_t done = 0;
    for (uint64_t copied = 1; copied > 0;) {
        const FsResult r = copy.copy_range(source, copied);
        if (!r.ok()) {
            made.reason = step_failed(made.step = Step::COPY_DATA, r);
            return Outcome::REFUSED;
        }
        done += copied;
        if (!watcher.keep_going(done, total > done ? total : done)) return Outcome::CANCELLED;
    }
    return Outcome::DONE;
}

/// What of a link's attributes cannot be kept is told, never a refusal: a link has no
/// permissions of its own, and its owner and times change nothing of what it gives access to.
void keep_link_attributes(SourceFile& source, NewCopy& copy, std::string& note) {
    const FsResult owner = copy.keep_owner(source);
    if (!owner.ok()) add_words(note, "not kept: its owner (" + owner.words + ")");
    const FsResult times = copy.keep_times(source);
    if (!times.ok()) add_words(note, "not kept: its times (" + times.words + ")");
}

/// The file's owner and group on the copy, each where the process may give it; what it may
/// not give is told.
void keep_owner_and_group(SourceFile& source, NewCopy& copy, bool& owner, bool& group,
                          std::string& note) {
    const FsResult r = copy.keep_owner(source);
    owner = group = r.ok();
    if (owner) return;
    add_words(note, "not kept: its owner (" + r.words + ")");
    const FsResult g = copy.keep_group(source);
    group = g.ok();
    if (!group) add_words(note, "not kept: its group (" + g.words + "), which may not read it");
}

/// The file's attributes on the copy, never leaving it readable by more than the file is.
Outcome keep_attributes(SourceFile& source, PreparedCopy& made) {
    NewCopy& copy = *made.copy;
    if (source.type() == EntryType::LINK) {
        keep_link_attributes(source, copy, made.note);
        return Outcome::DONE;
    }
    // The owner and group first: a change of owner afterwards would clear the set-ID bits.
    // What the process may not give stays the runner's, and a set-ID bit would run the
    // program with the runner's rights, or the group's bits open it to the runner's group:
    // those go.
    bool owner = false, group = false;
    keep_owner_and_group(source, copy, owner, group, made.note);
    // The extended attributes and the access list while the copy is still its owner's alone
    // and writable (Linux sets no user.* attribute of a read-only file), and before the
    // permission bits, so that no moment shows the file's bits without its access list. One
    // that narrows who may read the file and cannot be kept leaves the copy to its owner
    // alone: never wider than the file.
    bool narrowing = false;
    FsResult r = copy.keep_extended(source, narrowing, made.note);
    if (r.ok()) {
        r = narrowing ? copy.owner_alone(source)
                      : copy.keep_permissions(source, owner, group, made.note);
        if (r.ok() && narrowing) add_words(made.note, "readable by its owner alone");
    }
    if (!r.ok()) {
        made.reason = step_failed(made.step = Step::KEEP_PERMISSIONS, r);
        return Outcome::REFUSED;
    }
    // The times last: every step before writes to the copy and would change them.
    r = copy.keep_times(source);
    if (!r.ok()) {
        made.reason = step_failed(made.step = Step::KEEP_TIMES, r);
        return Outcome::REFUSED;
    }
    return Outcome::DONE;
}

/// The file opened for copying: a FIFO, socket or device, or an entry that is a directory by
/// now, is not copied.
Outcome open_for_copy(Directory& dir, const char* name, std::unique_ptr<SourceFile>& source,
                      PreparedCopy& made) {
    const FsResult opened = dir.open_source(name, source);
    if (!opened.ok()) {
        made.reason = step_failed(made.step = Step::OPEN, opened);
        return Outcome::REFUSED;
    }
    if (source->type() == EntryType::SPECIAL) return Outcome::NOT_REGULAR;
    if (source->type() == EntryType::DIRECTORY) {  // it became one since the listing
        made.reason = std::string(step_words(made.step = Step::OPEN)) + ": " + IS_A_DIRECTORY;
        return Outcome::REFUSED;
    }
    return Outcome::DONE;
}

/// One copy, from opening the file to its attributes.
PreparedCopy copy_once(Directory& dir, Directory& into, Signals& signals, const char* name,
                       CopyWatcher& watcher) {
    PreparedCopy made;
    std::unique_ptr<SourceFile> source;
    made.result = open_for_copy(dir, name, source, made);
    if (made.result != Outcome::DONE) return made;
    const FsResult created = into.create_copy(*source, made.copy);
    if (!created.ok()) {
        made.reason = step_failed(made.step = Step::CREATE_COPY, created);
        made.result = Outcome::REFUSED;
        return made;
    }
    made.size = source->size();
    if (source->type() == EntryType::FILE) {
        made.result = copy_data(*source, made, watcher);
        if (made.result == Outcome::DONE && made.copy->source_changed(*source))
            made.result = Outcome::CHANGED;
    }
    if (made.result == Outcome::DONE) made.result = keep_attributes(*source, made);
    if (made.result != Outcome::DONE) made.reason += told(discard_copy(into, signals, made));
    return made;
}

}  // namespace

PreparedCopy prepare_copy(Directory& dir, Directory& into, Signals& signals, const char* name,
                          CopyWatcher& watcher) {
    PreparedCopy made;
    made.result = Outcome::CHANGED;
    for (int attempt = 0; attempt < COPY_ATTEMPTS && made.result == Outcome::CHANGED; ++attempt) {
        made = copy_once(dir, into, signals, name, watcher);
    }
    watcher.copied();
    return made;
}

void flush_copies(Directory& dir, Signals& signals, const std::vector<PreparedCopy*>& copies) {
    std::vector<NewCopy*> ready;
    for (PreparedCopy* c : copies) {
        if (c->result == Outcome::DONE && !c->flushed) ready.push_back(c->copy.get());
    }
    // Together where the system can; where that fails, one by one, to tell which.
    const bool together = ready.size() > 1 && dir.flush_together(ready).ok();
    for (PreparedCopy* c : copies) {
        if (c->result != Outcome::DONE || c->flushed) continue;
        const FsResult r = together ? FsResult() : c->copy->flush();
        if (r.ok()) {
            c->flushed = true;
            continue;
        }
        c->reason = step_failed(c->step = Step::FLUSH, r);
        c->result = Outcome::REFUSED;
        c->reason += told(discard_copy(dir, signals, *c));
    }
}

namespace {

/// Names a copy under a private name backup, never replacing: in one call, or by a link and
/// the private name's removal. Each step that answered an error is looked at: the copy is
/// named when its private name went and the backup name is there, or when the backup name is
/// seen to be the copy.
FsResult name_private_copy(Directory& dir, const std::string& hidden, const char* backup,
                           std::string& note) {
    FsResult r = dir.rename_noreplace(hidden.c_str(), dir, backup);
    if (r.status == FsStatus::UNSUPPORTED) {
        r = dir.link(hidden.c_str(), dir, backup);
        if (!r.ok() && linked_all_the_same(dir, hidden.c_str(), dir, backup)) {
            note = "linked, though the system answered: " + r.words;
            r = FsResult();
        }
        if (r.ok()) {
            const FsResult removed = remove_private_name(dir, hidden.c_str());
            if (!removed.ok())
                note = "its private name " + dir.shown() + hidden +
                       " could not be removed: " + removed.words;
        }
    } else if (r.status == FsStatus::FAILED &&
               renamed_all_the_same(dir, hidden.c_str(), dir, backup, 0)) {
        note = "named, though the system answered: " + r.words;
        r = FsResult();
    }
    return r;
}

}  // namespace

Outcome name_copy(Directory& dir, Signals& signals, PreparedCopy& made, const char* backup,
                  std::string& reason) {
    const std::string hidden = made.copy->private_name();
    std::string note;
    FsResult r;
    {
        // Named never replacing, and a private name gone, in one held-back stretch (an unnamed
        // copy is named in one call).
        HeldSignals held(signals, !hidden.empty());
        if (!hidden.empty()) {
            r = name_private_copy(dir, hidden, backup, note);
        } else {
            r = made.copy->link_unnamed(backup, note);
            if (!r.ok() && made.copy->is(backup)) {
                note = "named, though the system answered: " + r.words;
                r = FsResult();
            }
        }
    }
    if (r.status == FsStatus::TAKEN) return Outcome::TAKEN;  // kept for the next name
    if (!r.ok()) {
        reason = step_failed(made.step = Step::NAME_COPY, r);
        reason += told(discard_copy(dir, signals, made));
        return Outcome::REFUSED;
    }
    add_words(made.note, note);
    made.copy.reset();
    return Outcome::DONE;
}

std::optional<Leftover> discard_copy(Directory& dir, Signals& signals, PreparedCopy& made) {
    if (!made.copy) return std::nullopt;
    const std::string hidden = made.copy->private_name();
    HeldSignals held(signals, !hidden.empty());
    made.copy.reset();  // closed before its private name goes, as Windows needs
    if (hidden.empty()) return std::nullopt;
    const FsResult removed = remove_private_name(dir, hidden.c_str());
    if (removed.ok()) return std::nullopt;
    return Leftover{hidden,
                    "its copy is left as " + dir.shown() + hidden + " (" + removed.words + ")"};
}
