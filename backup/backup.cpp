#include "backup/backup.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pathstr/pathstr.h"
#include "platform/platform.h"

namespace {

/// Formats one candidate; false when it does not fit in MAX_PATH.
bool format_candidate(char* out, BackupFormat format, bool hex, const char* base, int n,
                      const char* ext) {
    int len;
    if (format == FORMAT_NUMBER) {
        len = hex ? std::snprintf(out, MAX_PATH + 1, "%s.%4.4x", base, n)
                  : std::snprintf(out, MAX_PATH + 1, "%s.%3.3i", base, n);
    } else if (format == FORMAT_BEFORE_EXT) {
        len = hex ? std::snprintf(out, MAX_PATH + 1, "%s.%4.4x%s", base, n, ext)
                  : std::snprintf(out, MAX_PATH + 1, "%s.%3.3i%s", base, n, ext);
    } else {
        len = hex ? std::snprintf(out, MAX_PATH + 1, "%s.%4.4x.bak", base, n)
                  : std::snprintf(out, MAX_PATH + 1, "%s.%3.3i.bak", base, n);
    }
    return len >= 0 && len < MAX_PATH;
}

/// Splits full path p for the name.NNN.ext shape; false when its last component has no dot.
bool split_extension(const char* p, char* base, char* ext) {
    str_copy_max(ext, path_extension(p), MAX_PATH);
    if (ext[0] == '\0') return false;
    str_copy_max(base, path_strip_extension(p), MAX_PATH);
    return true;
}

}  // namespace

int backup_file(const char* path, BackupFormat format, bool hex) {
    if (!path || !*path) return 0;
    Platform& os = platform();

    char full[MAX_PATH + 1] = {0};
    size_t len = os.full_path(path, full, MAX_PATH);
    if (len == 0 || len >= static_cast<size_t>(MAX_PATH)) return 0;

    char base[MAX_PATH + 1] = {0};
    char ext[MAX_PATH + 1] = {0};
    const char* name_base = full;
    if (format == FORMAT_BEFORE_EXT) {
        if (!split_extension(full, base, ext)) return 0;
        name_base = base;
    }

    const int limit = hex ? SEQUENCE_LIMIT_HEX : SEQUENCE_LIMIT_DECIMAL;
    char candidate[MAX_PATH + 1] = {0};
    for (int i = 0; i < limit; ++i) {
        if (!format_candidate(candidate, format, hex, name_base, i, ext)) return 0;
        if (!os.exists(candidate)) return os.move_file(full, candidate) ? 1 : 0;
    }
    return 0;
}

namespace {

int compare_names(const char* a, const char* b) {
    if (!PLATFORM_CASE_INSENSITIVE) return std::strcmp(a, b);
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
        if (x != y || x == 0) return x - y;
    }
}

}  // namespace

DirectoryView::DirectoryView(const std::vector<std::string>& names)
    : names_(names), order_(names.size()), gone_(names.size(), 0) {
    for (size_t i = 0; i < names.size(); ++i) order_[i] = static_cast<uint32_t>(i);
    std::sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) {
        return compare_names(names_[a].c_str(), names_[b].c_str()) < 0;
    });
}

size_t DirectoryView::find(const char* name) const {
    auto at = std::lower_bound(order_.begin(), order_.end(), name, [&](uint32_t i, const char* n) {
        return compare_names(names_[i].c_str(), n) < 0;
    });
    // Equal names may stand side by side (a case-insensitive view): the first present one.
    for (; at != order_.end() && compare_names(names_[*at].c_str(), name) == 0; ++at) {
        if (!gone_[*at]) return *at;
    }
    return names_.size();
}

bool DirectoryView::taken(const char* name) const { return find(name) != names_.size(); }

void DirectoryView::forget(const char* name) {
    size_t i = find(name);
    if (i != names_.size()) gone_[i] = 1;
}

int backup_file_listed(const char* path, const char* name, BackupFormat format, bool hex,
                       DirectoryView& view) {
    if (!path || !*path || !name || !*name) return 0;
    Platform& os = platform();
    char full[MAX_PATH + 1] = {0};
    size_t len = os.full_path(path, full, MAX_PATH);
    if (len == 0 || len >= static_cast<size_t>(MAX_PATH)) return 0;
    // The view knows the entry only when the full path still ends in its own name.
    const size_t name_len = std::strlen(name);
    const size_t prefix = len - name_len;
    if (len <= name_len || std::strcmp(full + prefix, name) != 0 ||
        (full[prefix - 1] != '/' && full[prefix - 1] != '\\')) {
        return backup_file(path, format, hex);
    }

    char base[MAX_PATH + 1] = {0};
    char ext[MAX_PATH + 1] = {0};
    const char* name_base = full;
    if (format == FORMAT_BEFORE_EXT) {
        if (!split_extension(full, base, ext)) return 0;
        name_base = base;
    }
    const int limit = hex ? SEQUENCE_LIMIT_HEX : SEQUENCE_LIMIT_DECIMAL;
    char candidate[MAX_PATH + 1] = {0};
    for (int i = 0; i < limit; ++i) {
        if (!format_candidate(candidate, format, hex, name_base, i, ext)) return 0;
        if (view.taken(candidate + prefix)) continue;
        int renamed = os.move_file(full, candidate) ? 1 : backup_file(path, format, hex);
        if (renamed) view.forget(name);
        return renamed;
    }
    return 0;
}
