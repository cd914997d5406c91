// What a run tells of each entry, each backup and the directory: in text for people, or in
// JSON Lines for scripts, one form chosen for the whole run. Whatever the form, each thing
// that could not be done is also named on standard error, as text.
#pragma once

#include <memory>
#include <string>

#include "app/switches.h"
#include "backup/backup.h"
#include "backup/catalog.h"
#include "backup/restore.h"

class Report {
   public:
    explicit Report(const RunOptions& options) : options_(options) {}
    virtual ~Report() = default;
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    /// What the run does, and to which pattern: " ■ Renaming "/home/ann/*.doc"".
    virtual void announce(const char* verb, const std::string& pattern) = 0;
    /// An entry passed over, and why (step: the look that failed, where one did).
    virtual void passed_over(const std::string& name, const std::string& why, Step step) = 0;
    /// What became of a file's backup (with /L, what would).
    virtual void backed_up(const std::string& name, const BackupResult& r) = 0;
    /// What became of a backup beyond /KEEP's count (with /L, what would); why it stays, and
    /// the step that failed.
    virtual void kept(const std::string& name, Removal removed, const std::string& why,
                      Step step) = 0;
    /// A backup that a rule of /KEEP keeps, and the rule's words ("one of the 3 newest").
    virtual void kept_by(const std::string& name, const std::string& rule) = 0;
    /// What became of a file's restore (with /L, what would).
    virtual void restored(const std::string& name, const RestoreResult& r) = 0;
    /// /LIST: a file, or that it is gone, and its backups, newest first.
    virtual void listed(const Original& o) = 0;
    /// A directory made for the backups (/TO), or with /L one that would be, as the user finds
    /// it.
    virtual void made(const std::string& directory) = 0;
    /// What could not be done to the directory itself ("opened", "read to its end"), and why.
    virtual void directory(const char* what, const std::string& words) = 0;
    /// Esc ended the run.
    virtual void cancelled() = 0;
    /// A line of the run's summary ("\t\t3 file(s) renamed").
    virtual void summary(const std::string& line) = 0;

   protected:
    const RunOptions& options_;
};

/// The report of the form options choose: JSON Lines with /JSON, else text.
std::unique_ptr<Report> make_report(const RunOptions& options);

/// On standard error, whatever the switches: the line of an entry that could not be backed
/// up, restored, kept or looked at, as /DEBUG words it ("Tavrix: a.log: not renamed, ...").
void tell_failure(const std::string& name, const char* what, const std::string& more);
void tell_failed_backup(const std::string& name, const BackupResult& r, const RunOptions& options);
void tell_failed_restore(const std::string& name, const RestoreResult& r,
                         const RunOptions& options);
