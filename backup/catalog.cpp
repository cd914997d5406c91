#include "backup/catalog.h"

#include <algorithm>
#include <cstring>
#include <map>

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

/// True when b is newer than a.
bool newer(const BackupEntry& a, const BackupEntry& b) {
    if (a.info.changed != b.info.changed) return b.info.changed > a.info.changed;
    if (a.info.modified != b.info.modified) return b.info.modified > a.info.modified;
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

std::vector<Original> gather_originals(Directory& dir, const std::vector<std::string>& names,
                                       const std::vector<bool>& matched, BackupFormat format,
                                       bool hex, std::vector<PassedOver>& passed) {
    std::map<std::string, Original> found;  // in the order of their names
    auto original = [&](const std::string& name) -> Original& {
        Original& o = found[name];
        o.name = name;
        return o;
    };
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        std::string of;
        int number = 0;
        if (name == "." || name == ".." || is_private_name(name.c_str())) continue;
        if (parse_backup_name(name, format, hex, of, number) && dir.matches(of.c_str())) {
            BackupEntry b;
            b.name = name;
            b.number = number;
            if (!dir.look(name.c_str(), b.info).ok()) continue;  // gone meanwhile
            if (regular(b.info.type)) {
                original(of).backups.push_back(b);
            } else {
                passed.push_back({name, "a directory or special file"});
            }
        } else if (matched[i]) {
            original(name);
        }
    }
    std::vector<Original> originals;
    for (auto& entry : found) {
        const std::string& name = entry.first;
        Original& o = entry.second;
        EntryInfo info;
        o.exists = dir.look(name.c_str(), info).ok();
        if (o.exists && !regular(info.type)) {
            passed.push_back({name, "a directory or special file"});
            continue;
        }
        if (!o.exists && o.backups.empty()) continue;
        std::sort(o.backups.begin(), o.backups.end(),
                  [](const BackupEntry& a, const BackupEntry& b) { return newer(b, a); });
        originals.push_back(std::move(o));
    }
    return originals;
}

BackupIndex index_backups(const std::vector<std::string>& names, BackupFormat format, bool hex) {
    BackupIndex index;
    for (const std::string& name : names) {
        std::string of;
        BackupEntry b;
        if (!parse_backup_name(name, format, hex, of, b.number)) continue;
        b.name = name;
        index[of].push_back(b);
    }
    return index;
}

std::vector<BackupEntry> beyond_newest(Directory& dir, const BackupIndex& index,
                                       const std::string& original, int keep) {
    std::vector<BackupEntry> older;
    const auto found = index.find(original);
    if (found == index.end()) return older;
    for (BackupEntry b : found->second) {
        if (dir.look(b.name.c_str(), b.info).ok() && regular(b.info.type)) older.push_back(b);
    }
    std::sort(older.begin(), older.end(),
              [](const BackupEntry& a, const BackupEntry& b) { return newer(b, a); });
    // The backup just made is the newest: keep - 1 of the others stay.
    const size_t stay = keep > 0 ? static_cast<size_t>(keep - 1) : older.size();
    older.erase(older.begin(),
                older.begin() + static_cast<std::ptrdiff_t>(std::min(stay, older.size())));
    return older;
}
