#include <cstring>
#include <string>
#include <vector>

#include "app/modes.h"
#include "app/progress.h"
#include "pathstr/pathstr.h"
#include "platform/platform.h"

namespace {

/// The name of another original of originals of which o's name is a backup, or null.
const std::string* backup_of_another(const Original& o, const std::vector<Original>& originals,
                                     const RunOptions& options) {
    std::string of;
    int number = 0;
    if (!parse_backup_name(o.name, options.format, options.hex, of, number)) return nullptr;
    for (const Original& other : originals) {
        if (other.name == of) return &other.name;
    }
    return nullptr;
}
/// The restore of one original, told and counted; false when it was cancelled.
bool restore_one(RunPlan& plan, const Original& o, const RunOptions& options,
                 const BackupRequest& request, bool named, Report& report, RunCount& count) {
    RestoreResult r;
    if (o.incomplete) {
        r.reason = "a backup of it could not be looked at";
    } else {
        BackupPlace place = backup_place(plan, nullptr);
        CopyProgress progress(o.name, options.verbose && terminal().output_is_terminal());
        r = restore_file(place, o, options.restore_at, request, progress);
    }
    if (r.outcome == Outcome::DONE) ++count.done;
    r.from = plan.shown(r.from);
    if (!r.current_beside) r.current = plan.shown(r.current);
    const bool failure = r.outcome == Outcome::REFUSED ||
                         (r.outcome == Outcome::NO_BACKUP && (named || options.restore_at >= 0));
    // Each file restored is told, which backup came back and where the current file went.
    if (options.debug || options.list_only || (options.verbose && r.outcome == Outcome::DONE))
        report.restored(o.name, r);
    if (failure) {
        ++count.failed;
        tell_failed_restore(o.name, r, options);
    }
    return r.outcome != Outcome::CANCELLED;
}
}  // namespace

RunCount restore_mode(RunPlan& plan, const RunOptions& options, Report& report, bool& cancelled) {
    cancelled = false;
    RunCount count;
    const bool trace_all = options.debug || options.list_only;
    // Only a specification without wildcards names a file that must have a backup.
    const char* name_part = path_file_name(options.spec);
    const bool named = name_part && *name_part && !std::strpbrk(name_part, "*?");
    std::vector<Original> originals;
    if (plan.dir) {
        std::vector<PassedOver> passed;
        originals = catalog(plan, options, passed);
        count.not_looked_at += tell_passed(plan, passed, report, trace_all, false);
    }
    const BackupRequest request = request_for(options);
    bool tried = false;  // a restore of some original was tried
    for (const Original& o : originals) {
        cancelled = cancel_requested();
        if (cancelled) break;
        // Its name is one the restore of the other moves: restoring both would do one. With
        // /TO no file of the directory is a backup.
        const std::string* other =
            plan.elsewhere ? nullptr : backup_of_another(o, originals, options);
        if (other) {
            if (trace_all)
                report.passed_over(o.name, "a backup of " + *other + ", which this run restores",
                                   Step::NONE);
            continue;
        }
        tried = true;
        cancelled = !restore_one(plan, o, options, request, named, report, count);
        if (cancelled) break;
    }
    if (named && !tried && !cancelled) {  // nothing of that name, or nothing it could be
        ++count.failed;
        // A name that is there was passed over, and told so.
        const bool there = plan.dir && plan.dir->type_of(name_part) != EntryType::MISSING;
        RestoreResult none;
        none.outcome = Outcome::NO_BACKUP;
        if (trace_all && !there) report.restored(name_part, none);
        if (!there) tell_failed_restore(name_part, none, options);
    }
    if (trace_all && plan.dir && !plan.listing.error.empty() && !cancelled)
        report.directory("read to its end", plan.listing.error);
    if (trace_all && !plan.dir && !plan.opened.words.empty())
        report.directory("opened", plan.opened.words);
    return count;
}
