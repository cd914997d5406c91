// The modes of a run, each in a file of its own over one plan of the run: a backup, by
// renaming or copying, with /KEEP (mode-backup.cpp); /LIST (mode-list.cpp); /RESTORE
// (mode-restore.cpp). Each tells the report what became of each entry and counts it.
#pragma once

#include "app/plan.h"
#include "app/report.h"
#include "app/switches.h"

/// What a run did, as its summary and exit status tell it.
struct RunCount {
    int done = 0;           // files backed up or restored; with /LIST, backups listed
    int files = 0;          // with /LIST, the files listed
    int failed = 0;         // files that could not be backed up or restored
    int removed = 0;        // backups beyond /KEEP's count removed (with /L, to be removed)
    int not_removed = 0;    // backups beyond /KEEP's count that could not be removed
    int not_looked_at = 0;  // entries that could not be looked at
};

/// Each mode runs over the plan, tells report, and counts; cancelled is set when Esc ended it.
using ModeRun = RunCount (*)(RunPlan& plan, const RunOptions& options, Report& report,
                             bool& cancelled);

/// Backs up the files of the plan, each to its first free backup name (with /COPY as a copy),
/// then, with /KEEP, removes each one's backups beyond the newest. Esc, checked before and
/// after each file and during a long copy, ends the loop. With /L, the names are chosen as
/// the run would choose them, and nothing changes.
RunCount backup_mode(RunPlan& plan, const RunOptions& options, Report& report, bool& cancelled);
/// /LIST: each original, or that it is gone, and its backups, newest first; changes nothing.
RunCount list_mode(RunPlan& plan, const RunOptions& options, Report& report, bool& cancelled);
/// /RESTORE: each original's newest backup (or the one numbered options.restore_at) back
/// under its name; Esc between files. A file named without wildcards that is not restored is
/// a failure.
RunCount restore_mode(RunPlan& plan, const RunOptions& options, Report& report, bool& cancelled);
