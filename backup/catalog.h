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

/// A file and its backups, newest first: by change time (the moment it took its name), then
/// modification time, then the higher number.
struct Original {
    std::string name;
    bool exists = false;  // whether the file is there under its own name
    std::vector<BackupEntry> backups;
};

/// A name of the listing passed over, and why ("a directory or special file").
struct PassedOver {
    std::string name;
    const char* why;
};

/// The originals, in the order of their names, that the pattern of dir names among names (every
/// entry of the directory, matched[i] set for the entries that the listing matched): the files that
/// match and are no backup of another such original, and the originals that the backups imply,
/// whether or not they still exist. Private names of this program are never originals; a backup or
/// original that is a directory or a special file goes to passed.
std::vector<Original> gather_originals(Directory& dir, const std::vector<std::string>& names,
                                       const std::vector<bool>& matched, BackupFormat format,
                                       bool hex, std::vector<PassedOver>& passed);

/// The names among names that are backups of each original, in the shape of format and hex.
using BackupIndex = std::map<std::string, std::vector<BackupEntry>>;
BackupIndex index_backups(const std::vector<std::string>& names, BackupFormat format, bool hex);

/// The backups of original in index beyond its keep newest, the backup made just now (which
/// index does not hold) counted as the newest: those that are regular files or links as dir
/// shows them now, oldest last. Each is a name that is exactly a backup of original.
std::vector<BackupEntry> beyond_newest(Directory& dir, const BackupIndex& index,
                                       const std::string& original, int keep);
