// Finding a file's first free backup name and renaming the file to it.
#pragma once

/// The shape of a backup name, chosen by /FORMAT1 to /FORMAT4 (values 0 to 3).
using BackupFormat = int;

constexpr BackupFormat FORMAT_BAK = 0;         // name.ext.NNN.bak
constexpr BackupFormat FORMAT_NUMBER = 1;      // name.ext.NNN
constexpr BackupFormat FORMAT_BEFORE_EXT = 2;  // name.NNN.ext

/// Decimal candidates 000 to 998.
constexpr int SEQUENCE_LIMIT_DECIMAL = 999;
/// Hexadecimal candidates 0000 to ffff.
constexpr int SEQUENCE_LIMIT_HEX = 0x10000;

#include <cstdint>
#include <string>
#include <vector>

#include "backup/steps.h"
#include "backup/view.h"
#include "platform/private_name.h"

class Directory;
class Signals;
struct PreparedCopy;

/// How one file is backed up.
struct BackupRequest {
    BackupFormat format = FORMAT_BAK;
    bool hex = false;
    bool copy = false;        // the file stays; its backup is a copy
    bool dry_run = false;     // the backup name is chosen, nothing is changed
    bool foresee = false;     // with dry_run: a refusal that can be known without trying is told
    bool look_ahead = false;  // with dry_run: the name is chosen for a later step, not taken
};

struct BackupResult {
    Outcome outcome = Outcome::NO_FULL_PATH;
    std::string backup;      // the backup's name in the directory, when done
    std::string reason;      // when refused: the step that failed and the system's words
    Step step = Step::NONE;  // the step that failed, when one did
    std::string note;        // what a copy could not keep of the file, when it was made
};

/// The words of an outcome that has words of its own; null for one whose reason tells it.
const char* backup_outcome_words(Outcome outcome);
/// Why a file was not backed up, in full: its outcome's own words, then the reason.
std::string backup_reason(const BackupResult& r);

/// The length of a directory's full path that cannot be had.
constexpr size_t NO_DIRECTORY_PATH = static_cast<size_t>(-1);

/// Where the backups of a run are made: the files' directory opened for it, the length of
/// the backups' directory's full path with its separator (NO_DIRECTORY_PATH when it cannot be
/// had), the listing's view of the backups' directory (null for none), the process's
/// signals, and the backups' directory, when it is another than the files' (on the same
/// file system, for a rename).
struct BackupPlace {
    Directory& dir;
    Signals& signals;
    size_t dir_length;
    DirectoryView* view;
    Directory* backups = nullptr;
    bool elsewhere = false;  // the backups have a directory of their own (/TO), reached through
                             // its handle: only their names must fit (backups is null while
                             // a dry run has yet to make it)
    bool across = false;     // that directory is on another file system: no rename reaches it
    /// The directory the backups are in.
    Directory& into() const { return backups ? *backups : dir; }
};

/// Why a rename into a backups' directory on another file system is refused.
constexpr const char* ACROSS_FILE_SYSTEMS =
    "the backup directory is on another file system (use /COPY)";

/// Renames the entry name of the place's directory to its lowest free backup name (in the
/// backups' directory), or gives
/// that name to the copy prepared of it, or, for a dry run, only chooses the name, as request
/// says. The full path of the file and of its backup must each be shorter than MAX_PATH.
/// Candidates are tested against the view, when there is one, without a call to the file
/// system; when a rename is refused as taken (the view was stale), they are tested on the
/// directory once more. A prepared copy that gets no name is discarded.
/// id is the identity the listing gave the entry, 0 when it gave none. With shape, the
/// backup names tried are shape's, not name's (a file under another name for a moment).
BackupResult backup_file(BackupPlace& place, const char* name, uint64_t id,
                         const BackupRequest& request, PreparedCopy* prepared = nullptr,
                         const char* shape = nullptr);
