#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/format.h"
#include "app/modes.h"
#include "app/progress.h"
#include "backup/batch.h"
#include "console/console.h"
#include "platform/platform.h"

namespace {

/// Whether the file of an outcome could not be backed up: the system refused, no name could
/// be had, or it changed while it was copied. A file passed over (a special file, a name
/// without an extension under /FORMAT3), gone meanwhile or cancelled is no failure.
bool failed(Outcome outcome) {
    switch (outcome) {
        case Outcome::NO_FULL_PATH:
        case Outcome::TOO_LONG:
        case Outcome::TAKEN:
        case Outcome::REFUSED:
        case Outcome::CHANGED:
            return true;
        default:
            return false;
    }
}

/// Each file's result told to the report, and the counts; on a terminal, while copies of some size
/// wait for the disk, a row that says so.
class BackupTally : public BackupReport {
   public:
    BackupTally(const RunPlan& plan, const RunOptions& options, Report& report, bool show)
        : listing_(plan.listing), plan_(plan), options_(options), report_(report), show_(show) {}
    void told(size_t index, const BackupResult& done) override {
        BackupResult r = done;
        r.backup = plan_.shown(done.backup);
        const auto compared = compared_.find(index);
        if (compared != compared_.end()) add_words(r.note, compared->second);
        if (r.outcome == Outcome::DONE) {
            ++count.done;
            if (options_.keeping()) {  // what /KEEP must leave; no cost without it
                backed_up.push_back(index);
                made.push_back(done.backup);
                touched.insert(done.backup);
                if (!options_.copy) touched.insert(listing_.names[index]);
            }
        }
        if (options_.debug || options_.list_only) report_.backed_up(listing_.names[index], r);
        if (failed(r.outcome)) {
            ++count.failed;
            tell_failed_backup(listing_.names[index], r, options_);
        }
    }
    void waiting(size_t copies, uint64_t bytes) override {
        if (!show_ || bytes < SHOWN_WAIT) return;
        const std::string row = "  waiting for the disk to take " + human_size(bytes) + " in " +
                                (copies == 1 ? "1 copy" : std::to_string(copies) + " copies");
        shown_ = fit_columns(row, (console_columns() > 0 ? console_columns() : 80) - 1);
        console_printf("\r%s", shown_.c_str());
    }
    void waited() override {
        if (!shown_.empty()) console_printf("\r%*s\r", text_columns(shown_), "");
        shown_.clear();
    }
    RunCount count;
    std::vector<size_t> backed_up;  // with /KEEP: the listing's indexes of the files backed up
    std::vector<std::string> made;  // with /KEEP: the backup each of them got
    /// With /CHANGED: why the file at index was backed up though it could not be compared.
    void not_compared(size_t index, const std::string& why) { compared_[index] = why; }
    std::set<std::string> touched;  // with /KEEP: the names this run gave or renamed away

   private:
    /// Less data than this is on the disk at once: no row to show.
    static constexpr uint64_t SHOWN_WAIT = 16 << 20;
    const Listing& listing_;
    const RunPlan& plan_;
    const RunOptions& options_;
    Report& report_;
    bool show_;
    std::string shown_;  // the row shown, while it is
    std::map<size_t, std::string> compared_;
};

/// The newest backup of each original that has one, by the original's name.
std::map<std::string, std::string> newest_backups(const std::vector<Original>& listed) {
    std::map<std::string, std::string> newest;
    for (const Original& o : listed) {
        if (!o.backups.empty()) newest[o.name] = o.backups.front().name;
    }
    return newest;
}

/// /CHANGED: true when the file at index holds the same bytes as its newest backup, which
/// the tally is then told of (no failure, not counted); a file that cannot be compared is
/// backed up, and the tally told why. A newest backup that is the file itself (a link of it)
/// is never the same.
bool unchanged(RunPlan& plan, size_t index, const std::map<std::string, std::string>& newest,
               BackupTally& tally) {
    const std::string& name = plan.listing.names[index];
    const auto found = newest.find(name);
    if (found == newest.end()) return false;
    Directory& backups = plan.backups();
    bool same = false;
    const FsResult r =
        file_system().same_content(*plan.dir, name.c_str(), backups, found->second.c_str(), same);
    if (!r.ok()) {
        tally.not_compared(index,
                           "not compared with " + plan.shown(found->second) + ": " + r.words);
        return false;
    }
    if (!same) return false;
    BackupResult u;
    u.outcome = Outcome::UNCHANGED;
    u.backup = found->second;
    tally.told(index, u);
    return true;
}

/// The /DEBUG line of an entry that is passed over; false for an entry to back up.
bool passed_over(const std::string& name, char kind, const RunOptions& options, Report& report) {
    if (kind == FILE_ENTRY ||
        (kind == SPECIAL_FILE && !options.copy && PLATFORM_RENAMES_SPECIAL_FILES))
        return false;  // renamed; a special file is never copied
    const char* words = passed_words(kind);
    if (options.debug || options.list_only) report.passed_over(name, words, Step::NONE);
    return true;
}

/// By the rules of /KEEP: of older, a file's backups as listed, newest first, those that go
/// once made (the backup this run made) counts as the newest; each that stays told, with the
/// rule that keeps it, with /L and /DEBUG.
std::vector<BackupEntry> judged(const RunPlan& plan, const RunOptions& options,
                                const std::string& made, const std::vector<BackupEntry>& older,
                                Report& report) {
    Directory& backups = plan.backups();
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    EntryInfo info;
    std::vector<FileTime> times(1, FileTime{now, 0});
    if (backups.look(made.c_str(), info).ok()) times[0] = info.modified;
    for (const BackupEntry& b : older) times.push_back(b.info.modified);
    const std::vector<Verdict> verdicts = judge_backups(
        times, options.keep_rules, now, [](int64_t t) { return file_system().utc_offset(t); });
    const bool trace_all = options.debug || options.list_only;
    if (trace_all) report.kept_by(plan.shown(made), verdicts[0].why);
    std::vector<BackupEntry> going;
    for (size_t i = 0; i < older.size(); ++i) {
        if (!verdicts[i + 1].kept) {
            going.push_back(older[i]);
        } else if (trace_all) {
            report.kept_by(plan.shown(older[i].name), verdicts[i + 1].why);
        }
    }
    return going;
}

/// The backups of the files at indexes that /KEEP removes, as listed: never a name this run
/// gave or renamed away. /KEEP:N alone: those beyond the newest N.
std::vector<BackupEntry> beyond_the_newest(const RunPlan& plan, const RunOptions& options,
                                           const std::vector<Original>& listed,
                                           const BackupTally& tally, Report& report) {
    std::map<std::string, const Original*> by_name;
    for (const Original& o : listed) by_name[o.name] = &o;
    std::vector<BackupEntry> going;
    for (size_t n = 0; n < tally.backed_up.size(); ++n) {
        const auto found = by_name.find(plan.listing.names[tally.backed_up[n]]);
        if (found == by_name.end()) continue;
        std::vector<BackupEntry> older;
        for (const BackupEntry& b : found->second->backups) {
            if (!tally.touched.count(b.name)) older.push_back(b);
        }
        const std::vector<BackupEntry> gone =
            options.keep > 0 ? beyond_newest(older, options.keep)
                             : judged(plan, options, tally.made[n], older, report);
        going.insert(going.end(), gone.begin(), gone.end());
    }
    return going;
}

/// /KEEP: after the backups of the files at indexes, each file's backups as listed beyond the
/// newest options.keep are removed (with /L, foreseen), once the new names are on the disk;
/// a backup goes only while a look shows that its name still holds the file listed.
void keep_newest(RunPlan& plan, const RunOptions& options, const std::vector<Original>& listed,
                 const BackupTally& tally, Report& report, RunCount& count) {
    Directory& dir = plan.backups();
    const bool trace_all = options.debug || options.list_only;
    const std::vector<BackupEntry> going = beyond_the_newest(plan, options, listed, tally, report);
    if (going.empty()) return;
    if (!options.list_only) {
        const FsResult flushed = dir.flush_directory();
        if (!flushed.ok()) {  // the new names may not be on the disk: no backup goes
            if (trace_all) report.directory("flushed, and no backup was removed", flushed.words);
            console_error(
                "Tavrix: the directory could not be flushed, and no backup was "
                "removed: %s\n",
                console_safe_error(flushed.words.c_str()).c_str());
            count.not_removed += static_cast<int>(going.size());
            return;
        }
    }
    for (const BackupEntry& b : going) {
        std::string why;
        Step step = Step::NONE;
        Removal removed = Removal::REMOVED;
        if (options.list_only) {
            const Refusal foreseen = foresee(dir, b.name.c_str(), false);
            if (foreseen.at != Foreseen::NOTHING) {
                removed = Removal::REFUSED;
                step = Step::REMOVE;
                why = "the removal would be refused: " + foreseen.why.words;
            }
        } else {
            removed = remove_listed(dir, b, why, step);
        }
        if (removed == Removal::REMOVED) ++count.removed;
        if (removed == Removal::REFUSED) {
            ++count.not_removed;
            tell_failure(plan.shown(b.name),
                         options.list_only ? ": would not be removed, " : ": not removed, ", why);
        }
        if (trace_all) report.kept(plan.shown(b.name), removed, why, step);
    }
}

}  // namespace

RunCount backup_mode(RunPlan& plan, const RunOptions& options, Report& report, bool& cancelled) {
    const bool trace_all = options.debug || options.list_only;
    cancelled = false;
    if (!plan.dir) {
        if (trace_all && !plan.opened.words.empty()) report.directory("opened", plan.opened.words);
        return RunCount();
    }
    const BackupRequest request = request_for(options);
    const Listing& listing = plan.listing;
    // A view that misses a name only costs a refused rename and the tests on the disk. With
    // /TO it is the backups' directory's (empty while a dry run has yet to make it).
    Directory& backups = plan.backups();
    DirectoryView view(plan.elsewhere ? plan.backup_listing.names : listing.names,
                       PLATFORM_CASE_INSENSITIVE ? &backups : nullptr);
    const bool show_progress = options.verbose && terminal().output_is_terminal();
    BackupTally tally(plan, options, report, show_progress);
    // What /KEEP may remove is what the listing held, looked at before any name changes.
    std::vector<Original> listed;
    if (options.keeping() || options.changed) {
        std::vector<PassedOver> passed;
        listed = catalog(plan, options, passed);
        tally.count.not_removed += tell_passed(plan, passed, report, trace_all, true);
    }
    const std::map<std::string, std::string> newest =
        options.changed ? newest_backups(listed) : std::map<std::string, std::string>();
    FsResult flushed;
    {
        BackupBatch batch(backup_place(plan, &view), request, tally);
        for (size_t i = 0; i < listing.names.size() && !cancelled; ++i) {
            const std::string& name = listing.names[i];
            if (listing.kind[i] == NOT_MATCHED ||
                passed_over(name, listing.kind[i], options, report))
                continue;
            cancelled = cancel_requested();
            if (cancelled) break;
            if (options.changed && unchanged(plan, i, newest, tally)) continue;
            CopyProgress progress(name, show_progress);
            cancelled = !batch.add(i, name.c_str(), listing.ids[i], progress) || cancel_requested();
        }
        flushed = batch.finish();
    }
    if (trace_all && !flushed.ok() && !flushed.words.empty())
        report.directory("flushed", flushed.words);
    if (options.keeping() && !cancelled && !tally.backed_up.empty())
        keep_newest(plan, options, listed, tally, report, tally.count);
    if (trace_all && !listing.error.empty() && !cancelled)
        report.directory("read to its end", listing.error);
    return tally.count;
}
