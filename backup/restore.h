// A file's backup back under the file's own name: the current file, if there is one, first
// gets its own first free backup name, so that no version is lost and no name replaced.
#pragma once

#include <cstdint>
#include <string>

#include "backup/backup.h"
#include "backup/catalog.h"
#include "backup/copy.h"

/// What became of one restore.
struct RestoreResult {
    Outcome outcome = Outcome::REFUSED;  // DONE, NO_BACKUP, REFUSED or CANCELLED
    std::string from;                    // the backup restored
    std::string current;                 // the name the current file took, when there was one
    bool current_beside = false;         // current is in the files' directory, not the backups' own
    std::string reason;      // when refused: the step that failed and the system's words
    Step step = Step::NONE;  // the step that failed, when one did
    std::string note;        // what went otherwise than asked
    bool uncertain = false;  // refused, and what the names hold could not be told
};

/// Restores original from its backup numbered number (-1: its newest), each as the catalog's
/// looks found them. Where the system exchanges two names in one step (Linux), the current
/// file and the backup (with request.copy, a finished copy of it) exchange names, then the
/// current file moves to its own first free backup name; elsewhere the current file is first
/// backed up, then the backup renamed into the free name, and should that fail the current
/// file goes back. With request.dry_run, only the names are chosen (and, with
/// request.foresee, what would be refused is told).
RestoreResult restore_file(BackupPlace& place, const Original& original, int number,
                           const BackupRequest& request, CopyWatcher& watcher);
