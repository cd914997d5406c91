#include "backup/restore.h"

#include <vector>

#include "backup/rename.h"

namespace {

/// The current file, which now has the name moved, to the first free backup name of
/// original (a rename, whatever the request).
void move_current(BackupPlace& place, const std::string& moved, const std::string& original,
                  uint64_t id, const BackupRequest& request, RestoreResult& r) {
    BackupRequest rename = request;
    rename.copy = false;
    const BackupResult b = backup_file(place, moved.c_str(), id, rename, nullptr, original.c_str());
    if (b.outcome == BackupOutcome::DONE) {
        r.current = b.backup;
    } else {  // nothing lost: it keeps the name it came out under
        r.current = moved;
        r.note =
            "the current file stays as " + moved + (b.reason.empty() ? "" : " (" + b.reason + ")");
    }
}

/// The entry source to the free name, never replacing: restored, or refused with the reason.
void move_into(BackupPlace& place, const std::string& source, const std::string& name,
               RestoreResult& r) {
    EntryMove move(place.dir, place.signals, source.c_str());
    if (move.to(name.c_str()) == StepResult::DONE) {
        r.outcome = RestoreResult::RESTORED;
    } else {
        r.reason = move.reason().empty() ? "its name was taken meanwhile" : move.reason();
    }
}

/// The entry source (the backup, or a named copy of it) into the name of original, which
/// exists: exchanged where the system can, else after the current file was backed up.
void into_existing(BackupPlace& place, const std::string& source, const Original& original,
                   uint64_t id, const BackupRequest& request, RestoreResult& r) {
    Directory& dir = place.dir;
    const FsResult swapped = dir.exchange(source.c_str(), original.name.c_str());
    const bool acted =
        swapped.ok() || (swapped.status == FsStatus::FAILED && dir.is_listed(source.c_str(), id) &&
                         !dir.is_listed(original.name.c_str(), id));
    if (acted) {
        r.outcome = RestoreResult::RESTORED;
        EntryInfo out;
        if (id != 0 && dir.look(source.c_str(), out).ok() && out.id != 0 && out.id != id)
            r.note = "the file under its name had changed since it was listed";
        move_current(place, source, original.name, id, request, r);
        return;
    }
    if (swapped.status != FsStatus::UNSUPPORTED) {
        r.reason = step_failed("the exchange was refused", swapped);
        return;
    }
    // Two steps: the current file to its backup name, then the backup into the free name.
    BackupRequest rename = request;
    rename.copy = false;
    const BackupResult current = backup_file(place, original.name.c_str(), id, rename);
    if (current.outcome != BackupOutcome::DONE) {
        r.reason = "the current file could not be backed up: " + current.reason;
        return;
    }
    r.current = current.backup;
    move_into(place, source, original.name, r);
}

/// With /COPY: a copy of the backup, flushed, takes the original's name; the backup stays.
void restore_copy(BackupPlace& place, const BackupEntry& backup, const Original& original,
                  uint64_t id, const BackupRequest& request, CopyWatcher& watcher,
                  RestoreResult& r) {
    Directory& dir = place.dir;
    PreparedCopy made = prepare_copy(dir, place.signals, backup.name.c_str(), watcher);
    std::vector<PreparedCopy*> one = {&made};
    if (made.result == StepResult::DONE) flush_copies(dir, place.signals, one);
    if (made.result != StepResult::DONE) {
        r.outcome = made.result == StepResult::CANCELLED ? RestoreResult::CANCELLED
                                                         : RestoreResult::REFUSED;
        r.reason = made.reason;
        return;
    }
    // The copy first under a name of its own, which only this process knows.
    const std::string target = original.exists ? dir.private_name() : original.name;
    HeldSignals held(place.signals, original.exists);
    const StepResult named = name_copy(dir, place.signals, made, target.c_str(), r.reason);
    if (named != StepResult::DONE) {
        if (named == StepResult::TAKEN) r.reason = "its name was taken meanwhile";
        discard_copy(dir, place.signals, made);
        return;
    }
    if (!original.exists) {
        r.outcome = RestoreResult::RESTORED;
        return;
    }
    into_existing(place, target, original, id, request, r);
    if (r.outcome != RestoreResult::RESTORED && dir.type_of(target.c_str()) != EntryType::MISSING)
        dir.remove(target.c_str());  // the copy under its private name: the backup is there
}

}  // namespace

RestoreResult restore_file(BackupPlace& place, const Original& original, uint64_t original_id,
                           int number, const BackupRequest& request, CopyWatcher& watcher) {
    RestoreResult r;
    const BackupEntry* chosen = nullptr;
    for (const BackupEntry& b : original.backups) {
        if (number < 0 || b.number == number) {
            chosen = &b;
            break;
        }
    }
    if (!chosen) {
        r.outcome = RestoreResult::NO_BACKUP;
        return r;
    }
    r.from = chosen->name;
    if (request.dry_run) {
        r.outcome = RestoreResult::RESTORED;
        if (original.exists) {  // the name the current file would take, the backup's taken
            const BackupResult b = backup_file(place, original.name.c_str(), original_id, request);
            r.current = b.backup;
        }
        return r;
    }
    if (request.copy) {
        restore_copy(place, *chosen, original, original_id, request, watcher, r);
    } else if (original.exists) {
        into_existing(place, chosen->name, original, original_id, request, r);
    } else {
        move_into(place, chosen->name, original.name, r);
    }
    return r;
}
