// What a run works on, settled before anything changes: the pattern, its directory opened
// once, and the directory's listing; and the catalog of files and backups read from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/report.h"
#include "app/switches.h"
#include "backup/catalog.h"
#include "platform/filesys.h"

/// The entries the listing finds, gathered before anything is renamed, so that the backups
/// this run makes are never found and renamed again.
enum EntryKind : char {
    NOT_MATCHED,
    FILE_ENTRY,
    DIRECTORY_ENTRY,
    BACKSLASH_NAME,
    INEXACT_NAME,
    UNREACHABLE_NAME,
    SPECIAL_FILE,
    LEFT_BY_A_RUN  // the private name of an interrupted run
};

struct Listing {
    std::vector<std::string> names;  // every entry, in the order of the listing
    std::vector<char> kind;          // an EntryKind for each
    std::vector<uint64_t> ids;       // the identity of each, 0 where not known
    std::string error;               // why the listing stopped early, if it did
};

/// What a run will work on, settled before anything is renamed.
struct RunPlan {
    std::string pattern;                    // as announced
    size_t name_slot = 0;                   // where each found name goes in the pattern
    size_t dir_length = NO_DIRECTORY_PATH;  // of the directory's full path and separator
    std::unique_ptr<Directory> dir;         // opened once; null when the pattern finds nothing
    Listing listing;                        // every entry of dir; the files among them are renamed
    FsResult opened;                        // why dir could not be opened, when it was tried
    // With /TO, where it is not dir itself: the backups' own directory (its dir null while a
    // dry run has yet to make it), and every entry of it.
    bool elsewhere = false;
    BackupsDirectory to;
    Listing backup_listing;
    std::string to_failure;  // why the backups' directory could not be had, when it could not
    /// The directory the backups are in: with /TO its own (the files' while a dry run has yet
    /// to make it, which then holds none of them), else the files'.
    Directory& backups() const { return to.dir ? *to.dir : *dir; }
    /// A backup's name as the user finds it: with /TO, after the backups' directory.
    std::string shown(const std::string& backup) const {
        return backup.empty() || !elsewhere ? backup : to.shown + backup;
    }
};

/// The pattern, its directory opened, and the listing.
RunPlan plan_run(const RunOptions& options);

/// Where the run's backups are made, with the view of their names and the process's signals.
BackupPlace backup_place(RunPlan& plan, DirectoryView* view);

/// How each file is backed up, as the switches say (with /L, only chosen, and what would be
/// refused foreseen).
BackupRequest request_for(const RunOptions& options);

/// Why the listing passes an entry of kind over, in the words of every mode; null for a
/// file, or for a name the pattern did not match.
const char* passed_words(char kind);

/// The originals of the listing and their backups (with /TO, those of the backups' own
/// directory), each looked at. The entries the listing
/// passes over are passed over here too, with the same words.
std::vector<Original> catalog(const RunPlan& plan, const RunOptions& options,
                              std::vector<PassedOver>& passed);

/// The entries a catalog passed over, told to report with trace_all (those the listing
/// matched alone when matched_told, as a backup run has told them), and those that could not
/// be looked at named on standard error; returns the count of those.
int tell_passed(const RunPlan& plan, const std::vector<PassedOver>& passed, Report& report,
                bool trace_all, bool matched_told);

/// Why the directory could not be opened or read to its end; empty when it was, or when it
/// does not exist (nothing matched).
std::string directory_failure(const RunPlan& plan);
