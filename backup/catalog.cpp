#include "backup/catalog.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "backup/steps.h"

namespace {

/// The number written as the shape writes it: three decimal digits up to 998, or four
/// lowercase hexadecimal digits; -1 for anything else.
int read_number(const std::string& digits, bool hex) {
    if (digits.size() != (hex ? 4u : 3u)) return -1;
    int n = 0;
    for (char c : digits) {
        const int d = c >= '0' && c <= '9'          ? c - '0'
                      : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                    : -1;
        if (d < 0) return -1;
        n = n * (hex ? 16 : 10) + d;
    }
    return n < (hex ? SEQUENCE_LIMIT_HEX : SEQUENCE_LIMIT_DECIMAL) ? n : -1;
}

/// True when b is newer than a: its version is newer, as its modification time tells (what
/// chmod, links and copies that keep times leave alone); of two copies of one version, the
/// one that took its name later, then the higher number.
bool newer(const BackupEntry& a, const BackupEntry& b) {
    if (a.info.modified != b.info.modified) return a.info.modified < b.info.modified;
    if (a.info.changed != b.info.changed) return a.info.changed < b.info.changed;
    return b.number > a.number;
}

bool regular(EntryType type) {
    return type == EntryType::FILE || type == EntryType::LINK;
}

}  // namespace

bool parse_backup_name(const std::string& name, BackupFormat format, bool hex,
                       std::string& original, int& number) {
    const size_t width = hex ? 4 : 3;
    std::string rest = name;  // the name without the shape's fixed ending
    std::string ext;
    if (format == FORMAT_BEFORE_EXT) {
        const size_t dot = name.rfind('.');
        if (dot == std::string::npos || dot == 0) return false;
        ext = name.substr(dot);
        rest = name.substr(0, dot);
    } else if (format != FORMAT_NUMBER) {
        if (rest.size() < 4 || rest.compare(rest.size() - 4, 4, ".bak") != 0) return false;
        rest.resize(rest.size() - 4);
    }
    if (rest.size() < width + 2 || rest[rest.size() - width - 1] != '.') return false;
    number = read_number(rest.substr(rest.size() - width), hex);
    if (number < 0) return false;
    original = rest.substr(0, rest.size() - width - 1) + ext;
    return !is_private_name(original.c_str());
}

const char* passed_over_as(const EntryInfo& info) {
    if (info.type == EntryType::DIRECTORY) return PASSED_DIRECTORY;
    if (!regular(info.type)) return PASSED_SPECIAL;
    return info.reachable ? nullptr : PASSED_UNREACHABLE;
}

void sort_newest_first(std::vector<BackupEntry>& backups) {
    std::sort(backups.begin(), backups.end(),
              [](const BackupEntry& a, const BackupEntry& b) { return newer(b, a); });
}

namespace {

/// What a look at a name found: a file or link its name reaches (with its info), nothing
/// (gone meanwhile, untold), something passed over, or a look that failed (both told in
/// passed).
enum class Looked { USABLE, GONE, PASSED_OVER, FAILED };

Looked look_at(Directory& dir, const std::string& name, EntryInfo& info,
               std::vector<PassedOver>& passed) {
    const FsResult looked = dir.look(name.c_str(), info);
    if (!looked.ok()) {
        if (dir.type_of(name.c_str()) == EntryType::MISSING) return Looked::GONE;
        passed.push_back({name, step_failed(Step::LOOK, looked), true});
        return Looked::FAILED;
    }
    const char* why = passed_over_as(info);
    if (!why) return Looked::USABLE;
    passed.push_back({name, why});
    return Looked::PASSED_OVER;
}

}  // namespace

std::vector<Original> gather_originals(Directory& dir, const std::vector<CatalogEntry>& entries,
                                       BackupFormat format, bool hex,
                                       std::vector<PassedOver>& passed, Directory* backups_dir,
                                       const std::vector<CatalogEntry>* backup_entries) {
    std::map<std::string, Original> found;  // in the order of their names
    std::set<std::string> passed_names;     // matched names the listing passes over
    for (const CatalogEntry& e : entries) {
        if (e.matched && e.passed) {
            passed.push_back({e.name, e.passed});
            passed_names.insert(e.name);
        }
    }
    auto original = [&](const std::string& name) -> Original& {
        Original& o = found[name];
        o.name = name;
        return o;
    };
    // A backup of an original the pattern names, looked at in where; false for a name of
    // another shape.
    auto add_backup = [&](Directory& where, const CatalogEntry& e) {
        std::string of;
        int number = 0;
        if (!parse_backup_name(e.name, format, hex, of, number) || !dir.matches(of.c_str()) ||
            passed_names.count(of))
            return false;
        BackupEntry b;
        b.name = e.name;
        b.number = number;
        const Looked looked = look_at(where, e.name, b.info, passed);
        if (looked == Looked::USABLE) original(of).backups.push_back(b);
        if (looked == Looked::FAILED) original(of).incomplete = true;
        return true;
    };
    auto skipped = [](const CatalogEntry& e) {
        return e.passed || e.name == "." || e.name == ".." || is_private_name(e.name.c_str());
    };
    for (const CatalogEntry& e : entries) {
        if (skipped(e)) continue;
        if ((backups_dir || !add_backup(dir, e)) && e.matched) original(e.name).listed_id = e.id;
    }
    if (backups_dir && backup_entries) {
        for (const CatalogEntry& e : *backup_entries) {
            if (!skipped(e)) add_backup(*backups_dir, e);
        }
    }
    std::vector<Original> originals;
    for (auto& entry : found) {
        Original& o = entry.second;
        const Looked looked = look_at(dir, o.name, o.info, passed);
        if (looked == Looked::PASSED_OVER || looked == Looked::FAILED) continue;  // told
        o.exists = looked == Looked::USABLE;
        if (!o.exists && o.backups.empty()) continue;
        sort_newest_first(o.backups);
        originals.push_back(std::move(o));
    }
    return originals;
}

std::vector<BackupEntry> beyond_newest(std::vector<BackupEntry> backups, int keep) {
    // The backup just made is the newest: keep - 1 of the others stay.
    const size_t stay = keep > 0 ? static_cast<size_t>(keep - 1) : backups.size();
    backups.erase(backups.begin(),
                  backups.begin() + static_cast<std::ptrdiff_t>(std::min(stay, backups.size())));
    return backups;
}

Removal remove_listed(Directory& dir, const BackupEntry& b, std::string& why, Step& step) {
    EntryInfo now;
    const FsResult looked = dir.look(b.name.c_str(), now);
    if (!looked.ok()) {
        if (dir.type_of(b.name.c_str()) == EntryType::MISSING) return Removal::GONE;
        why = step_failed(step = Step::LOOK, looked);
        return Removal::REFUSED;
    }
    if (now.id != b.info.id || now.type != b.info.type || now.changed != b.info.changed ||
        !now.reachable) {
        why = "its name holds another file than the one listed";
        return Removal::REFUSED;
    }
    const FsResult removed = remove_and_look(dir, b.name.c_str());
    if (removed.ok()) return Removal::REMOVED;
    why = step_failed(step = Step::REMOVE, removed);
    return Removal::REFUSED;
}
