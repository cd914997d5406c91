// Which backups belong to which file: the names of a directory read back into originals and
// their numbered backups, newest first.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "platform/filesys.h"

/// Reads name as a backup name in the shape of format (and of hex numbering): its original's
/// name and its number; false when name is not exactly such a name.
bool parse_backup_name(const std::string& name, BackupFormat format, bool hex,
                       std::string& original, int& number);

/// One backup of an original, as a look found it.
struct BackupEntry {
    std::string name;
    int number = 0;
    EntryInfo info;
};

/// A file and its backups, newest first: by modification time (the version's own time), then
/// change time, then the higher number.
struct Original {
    std::string name;
    bool exists = false;     // whether the file is there under its own name
    EntryInfo info;          // what a look at it found, when it exists
    uint64_t listed_id = 0;  // the identity the listing gave it, 0 where none
    std::vector<BackupEntry> backups;
    bool incomplete = false;  // a backup of it could not be looked at
};

/// The words of an entry passed over in every mode, as the listing or a look tells it.
constexpr const char* PASSED_DIRECTORY = "a directory";
constexpr const char* PASSED_SPECIAL = "a FIFO, socket or device";
constexpr const char* PASSED_UNREACHABLE = "Windows cannot reach it by its name";

/// Why an entry that a look found so is neither original nor backup; null for a file or link
/// that its name reaches.
const char* passed_over_as(const EntryInfo& info);

/// A name passed over, and why; failed when it could not be looked at (why then says so).
struct PassedOver {
    std::string name;
    std::string why;
    bool failed = false;
};

/// One entry of a listing as the catalog takes it: whether the pattern matched it, and why
/// the listing passes it over (null for a file to work on; for a name it did not match, the
/// look decides).
struct CatalogEntry {
    std::string name;
    bool matched = false;
    const char* passed = nullptr;
    uint64_t id = 0;  // the identity the listing gave it, 0 where none
};

/// The originals, in the order of their names, that the pattern of dir names among entries
/// (every entry of the directory): the files that match and are no backup of another such
/// original, and the originals that the backups imply, whether or not they still exist, each
/// looked at. A matched entry that the listing passes over is told in passed, and is neither
/// original nor backup; so is a backup or original that a look finds to be something else
/// than a file or link its name reaches, and one that cannot be looked at (failed). Private
/// names of this program are never originals. With backups_dir, the backups are those of
/// backup_entries (every entry of that directory), looked at there, and every entry of dir
/// that the pattern matches is an original, whatever its name.
std::vector<Original> gather_originals(Directory& dir, const std::vector<CatalogEntry>& entries,
                                       BackupFormat format, bool hex,
                                       std::vector<PassedOver>& passed,
                                       Directory* backups_dir = nullptr,
                                       const std::vector<CatalogEntry>* backup_entries = nullptr);

/// Of backups, newest first, those beyond the keep newest, the backup made just now counted
/// as the newest.
std::vector<BackupEntry> beyond_newest(std::vector<BackupEntry> backups, int keep);

/// Sorts backups newest first.
void sort_newest_first(std::vector<BackupEntry>& backups);

/// How the removal of a listed backup ended. REFUSED: its name no longer holds the file
/// listed, it could not be looked at, or the system refused.
enum class Removal { REMOVED, GONE, REFUSED };

/// Removes the backup b, as a look found it when it was listed, only while a look shows that
/// its name still holds that file; judged by the directory afterwards (gone is removed,
/// whatever the answer). why tells a refusal, and step the step that failed, when one did.
Removal remove_listed(Directory& dir, const BackupEntry& b, std::string& why, Step& step);
