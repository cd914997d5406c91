#include "backup/restore.h"

#include <vector>

#include "backup/rename.h"

// Every step that may have acted though it answered an error is judged by what the names
// hold afterwards, by the identities that looks gave (never the listing's, which some file
// systems make up); where that cannot be told, nothing is removed and each name left is told.

namespace {

enum class Holds { YES, NO, UNKNOWN };

/// Whether the entry name is now the file of identity id, as a look shows; UNKNOWN when the
/// look fails for another reason than a missing name, or when id is not known.
Holds holds(Directory& dir, const std::string& name, uint64_t id) {
    EntryInfo info;
    if (dir.look(name.c_str(), info).ok()) {
        if (id == 0) return Holds::UNKNOWN;
        return info.id == id ? Holds::YES : Holds::NO;
    }
    return dir.type_of(name.c_str()) == EntryType::MISSING ? Holds::NO : Holds::UNKNOWN;
}

void add_note(RestoreResult& r, const std::string& note) {
    if (!note.empty()) r.note += (r.note.empty() ? "" : "; ") + note;
}

/// The request for a rename of the current file, whatever the restore's own.
BackupRequest renaming(const BackupRequest& request) {
    BackupRequest rename = request;
    rename.copy = false;
    return rename;
}

/// Ends the moves of an entry that did not get its name, and tells where it is kept.
void tell_kept(EntryMove& move, RestoreResult& r) {
    r.reason += told(move.finish());
}

/// The current file, which now has the name moved in at (the backups' directory, or the
/// files'), to the first free backup name of original (a rename, whatever the request).
void move_current(BackupPlace& place, Directory& at, const std::string& moved,
                  const std::string& original, uint64_t id, const BackupRequest& request,
                  RestoreResult& r) {
    BackupPlace from{at, place.signals, place.dir_length, place.view, &place.into()};
    const BackupResult b =
        backup_file(from, moved.c_str(), id, renaming(request), nullptr, original.c_str());
    if (b.outcome == Outcome::DONE) {
        r.current = b.backup;
        add_note(r, b.note);
    } else {  // nothing lost: it keeps the name it came out under
        r.current = moved;
        r.current_beside = &at == &place.dir;
        add_note(r, "the current file stays as " + moved +
                        (b.reason.empty() ? "" : " (" + b.reason + ")"));
    }
}

/// The entry source of at, of identity id, to the free name of the files' directory, never
/// replacing: restored, or refused with the reason.
void move_into(BackupPlace& place, Directory& at, const std::string& source, uint64_t id,
               const std::string& name, RestoreResult& r) {
    EntryMove move(at, place.dir, place.signals, source.c_str(), id);
    const Outcome moved = move.to(name.c_str());
    if (moved == Outcome::DONE) {
        r.outcome = Outcome::DONE;
        add_note(r, move.note());
        return;
    }
    if (moved != Outcome::TAKEN) r.step = move.step();
    r.reason = moved == Outcome::TAKEN || move.reason().empty() ? "its name was taken meanwhile"
                                                                : move.reason();
    tell_kept(move, r);
}

/// Where the system has no exchange: the current file, of identity id, to its backup name,
/// then source (of at) into the free name; should that fail, the current file goes back.
void in_two_steps(BackupPlace& place, Directory& at, const std::string& source, uint64_t source_id,
                  const std::string& name, uint64_t id, const BackupRequest& request,
                  RestoreResult& r) {
    const BackupResult current = backup_file(place, name.c_str(), id, renaming(request));
    if (current.outcome != Outcome::DONE) {
        r.reason = "the current file could not be backed up: " + backup_reason(current);
        r.step = current.step;
        return;
    }
    r.current = current.backup;
    move_into(place, at, source, source_id, name, r);
    if (r.outcome == Outcome::DONE) return;
    EntryMove back(place.into(), place.dir, place.signals, current.backup.c_str(), id);
    if (back.to(name.c_str()) == Outcome::DONE) {
        r.current.clear();
        r.reason += "; the current file is back under its name";
    } else {
        tell_kept(back, r);
    }
}

/// The entry source of at (the backup, or a named copy of it in the files' directory), of
/// identity source_id, into the name of original: exchanged with the current file where the system
/// can, else after the current file was backed up. A directory that took the name meanwhile is
/// never moved.
void into_existing(BackupPlace& place, Directory& at, const std::string& source, uint64_t source_id,
                   const Original& original, const BackupRequest& request, RestoreResult& r) {
    Directory& dir = place.dir;
    const std::string& name = original.name;
    EntryInfo now;
    const FsResult looked = dir.look(name.c_str(), now);
    if (!looked.ok()) {
        if (dir.type_of(name.c_str()) == EntryType::MISSING)
            return move_into(place, at, source, source_id, name, r);  // gone meanwhile
        r.reason = step_failed(r.step = Step::LOOK_CURRENT, looked);
        return;
    }
    if (now.type == EntryType::DIRECTORY || !now.reachable) {
        r.step = Step::EXCHANGE;
        r.reason = std::string(step_words(Step::EXCHANGE)) + ": " +
                   (now.reachable ? IS_A_DIRECTORY : PASSED_UNREACHABLE);
        return;
    }
    if (now.id != original.info.id)
        add_note(r, "the file under its name had changed since it was listed");
    const uint64_t id = now.id;
    const FsResult swapped = at.exchange(source.c_str(), dir, name.c_str());
    if (swapped.status == FsStatus::UNSUPPORTED)
        return in_two_steps(place, at, source, source_id, name, id, request, r);
    if (!swapped.ok()) {
        // Identities tell what a name holds only where the listing and a look agree on them:
        // a file system that gives each name a number of its own (FUSE without use_ino)
        // keeps the numbers with the names whatever the exchange did.
        const bool known = id != 0 && id == original.listed_id;
        const Holds in = known ? holds(dir, name, source_id) : Holds::UNKNOWN;
        const Holds out = known ? holds(at, source, id) : Holds::UNKNOWN;
        if (in == Holds::YES && out == Holds::YES) {
            add_note(r, "exchanged, though the system answered: " + swapped.words);
        } else {
            r.reason = step_failed(r.step = Step::EXCHANGE, swapped);
            const bool unchanged = known && holds(at, source, source_id) == Holds::YES &&
                                   holds(dir, name, id) == Holds::YES;
            if (!unchanged) {
                r.uncertain = true;
                r.reason += "; what " + name + " and " + source +
                            " hold could not be told, and both are left as they are";
            }
            return;
        }
    }
    // Whatever had the name at that instant came out: a directory goes back.
    if (at.type_of(source.c_str()) == EntryType::DIRECTORY) {
        at.exchange(source.c_str(), dir, name.c_str());
        r.reason = std::string(step_words(r.step = Step::EXCHANGE)) + ": " + IS_A_DIRECTORY;
        return;
    }
    r.outcome = Outcome::DONE;
    move_current(place, at, source, name, id, request, r);
}

/// With /COPY: a copy of the backup, flushed, takes the original's name; the backup stays.
void restore_copy(BackupPlace& place, const BackupEntry& backup, const Original& original,
                  const BackupRequest& request, CopyWatcher& watcher, RestoreResult& r) {
    Directory& dir = place.dir;
    PreparedCopy made =
        prepare_copy(place.into(), dir, place.signals, backup.name.c_str(), watcher);
    std::vector<PreparedCopy*> one = {&made};
    if (made.result == Outcome::DONE) flush_copies(dir, place.signals, one);
    if (made.result != Outcome::DONE) {
        r.outcome = made.result == Outcome::CANCELLED ? Outcome::CANCELLED : Outcome::REFUSED;
        r.reason = made.reason;
        r.step = made.step;
        return;
    }
    // The copy first under a name of its own, which only this process knows.
    const std::string target = original.exists ? dir.private_name() : original.name;
    HeldSignals held(place.signals, original.exists);
    const Outcome named = name_copy(dir, place.signals, made, target.c_str(), r.reason);
    if (named != Outcome::DONE) {
        if (named == Outcome::TAKEN) r.reason = "its name was taken meanwhile";
        r.step = made.step;
        r.reason += told(discard_copy(dir, place.signals, made));
        return;
    }
    add_note(r, made.note);
    if (!original.exists) {
        r.outcome = Outcome::DONE;
        return;
    }
    EntryInfo copy;
    const uint64_t copy_id = dir.look(target.c_str(), copy).ok() ? copy.id : 0;
    into_existing(place, dir, target, copy_id, original, request, r);
    if (r.outcome == Outcome::DONE) return;
    // The copy goes only while its private name is seen to hold it: the backup is there.
    const bool ours = !r.uncertain && holds(dir, target, copy_id) == Holds::YES;
    if (ours && remove_and_look(dir, target.c_str()).ok()) return;
    if (dir.type_of(target.c_str()) != EntryType::MISSING && !r.uncertain)
        r.reason += "; " + target + " is left as it is";
}

/// With a dry run: what the run would find refused, as far as that can be known without
/// trying, and the name the current file would take.
void foresee_restore(BackupPlace& place, const BackupEntry& chosen, const Original& original,
                     const BackupRequest& request, RestoreResult& r) {
    const Refusal moved =
        request.foresee ? foresee(place.into(), chosen.name.c_str(), request.copy) : Refusal();
    if (moved.at != Foreseen::NOTHING) {
        r.step = request.copy ? Step::OPEN : Step::RENAME;
        r.reason = std::string(request.copy ? "the backup could not be copied"
                                            : "the backup could not be moved") +
                   ": " + moved.why.words;
        return;
    }
    if (original.exists) {
        const BackupResult b =
            backup_file(place, original.name.c_str(), original.info.id, renaming(request));
        if (b.outcome != Outcome::DONE) {
            r.reason = "the current file could not be backed up: " + backup_reason(b);
            r.step = b.step;
            return;
        }
        r.current = b.backup;
    }
    r.outcome = Outcome::DONE;
}

}  // namespace

RestoreResult restore_file(BackupPlace& place, const Original& original, int number,
                           const BackupRequest& request, CopyWatcher& watcher) {
    RestoreResult r;
    const BackupEntry* chosen = nullptr;
    for (const BackupEntry& b : original.backups) {
        if (number < 0 || b.number == number) {
            chosen = &b;
            break;
        }
    }
    if (!chosen) {
        r.outcome = Outcome::NO_BACKUP;
        return r;
    }
    r.from = chosen->name;
    // A rename cannot reach the files' directory, nor the current file's backup the other.
    if (place.across && (!request.copy || original.exists)) {
        r.step = Step::RENAME;
        r.reason = ACROSS_FILE_SYSTEMS;
        return r;
    }
    if (request.dry_run) {
        foresee_restore(place, *chosen, original, request, r);
        return r;
    }
    // The backup restored is the one listed.
    const Holds listed = holds(place.into(), chosen->name, chosen->info.id);
    if (listed != Holds::YES) {
        if (listed == Holds::UNKNOWN) r.step = Step::LOOK;
        r.reason = listed == Holds::NO ? "the backup changed or went since it was listed"
                                       : "the backup could not be looked at";
        return r;
    }
    if (request.copy) {
        restore_copy(place, *chosen, original, request, watcher, r);
    } else if (original.exists) {
        into_existing(place, place.into(), chosen->name, chosen->info.id, original, request, r);
    } else {
        move_into(place, place.into(), chosen->name, chosen->info.id, original.name, r);
    }
    return r;
}
