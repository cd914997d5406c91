#include "backup/backup.h"

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
    return backup_file_report(path, nullptr, format, hex, nullptr).outcome == BackupOutcome::RENAMED;
}

int backup_file_listed(const char* path, const char* name, BackupFormat format, bool hex,
                       DirectoryView& view) {
    return backup_file_report(path, name, format, hex, &view).outcome == BackupOutcome::RENAMED;
}

namespace {

constexpr uint32_t EMPTY = 0xFFFFFFFFu;

unsigned char fold(unsigned char c) {
    return PLATFORM_CASE_INSENSITIVE && c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
}

/// FNV-1a over the name, letters folded where case does not count.
uint32_t hash_name(const char* s) {
    uint32_t h = 2166136261u;
    for (; *s; ++s) h = (h ^ fold(static_cast<unsigned char>(*s))) * 16777619u;
    return h;
}

bool same_name(const char* a, const char* b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    while (*x && fold(*x) == fold(*y)) ++x, ++y;
    return fold(*x) == fold(*y);
}

}  // namespace

DirectoryView::DirectoryView(const std::vector<std::string>& names)
    : names_(names), gone_(names.size(), 0) {
    size_t size = 16;
    while (size < 2 * names.size()) size *= 2;
    slots_.assign(size, EMPTY);
    for (size_t i = 0; i < names.size(); ++i) {
        size_t at = hash_name(names[i].c_str()) & (size - 1);
        while (slots_[at] != EMPTY) at = (at + 1) & (size - 1);
        slots_[at] = static_cast<uint32_t>(i);
    }
}

size_t DirectoryView::find(const char* name) const {
    const size_t mask = slots_.size() - 1;
    // Equal names may both be there (a case-insensitive view): the first present one.
    for (size_t at = hash_name(name) & mask; slots_[at] != EMPTY; at = (at + 1) & mask) {
        uint32_t i = slots_[at];
        if (!gone_[i] && same_name(names_[i].c_str(), name)) return i;
    }
    return names_.size();
}

bool DirectoryView::taken(const char* name) const { return find(name) != names_.size(); }

void DirectoryView::forget(const char* name) {
    size_t i = find(name);
    if (i != names_.size()) gone_[i] = 1;
}

BackupResult backup_file_report(const char* path, const char* name, BackupFormat format, bool hex,
                                DirectoryView* view) {
    BackupResult result;
    if (!path || !*path) return result;
    Platform& os = platform();
    char full[MAX_PATH + 1] = {0};
    size_t len = os.full_path(path, full, MAX_PATH);
    if (len == 0) return result;
    if (len >= static_cast<size_t>(MAX_PATH)) {
        result.outcome = BackupOutcome::TOO_LONG;
        return result;
    }
    // The view knows the entry only when the full path still ends in its own name.
    const size_t name_len = name ? std::strlen(name) : 0;
    const size_t prefix = len - name_len;
    if (view && (name_len == 0 || len <= name_len || std::strcmp(full + prefix, name) != 0 ||
                 (full[prefix - 1] != '/' && full[prefix - 1] != '\\'))) {
        view = nullptr;
    }

    char base[MAX_PATH + 1] = {0};
    char ext[MAX_PATH + 1] = {0};
    const char* name_base = full;
    if (format == FORMAT_BEFORE_EXT) {
        if (!split_extension(full, base, ext)) {
            result.outcome = BackupOutcome::NO_EXTENSION;
            return result;
        }
        name_base = base;
    }
    const int limit = hex ? SEQUENCE_LIMIT_HEX : SEQUENCE_LIMIT_DECIMAL;
    char candidate[MAX_PATH + 1] = {0};
    for (int i = 0; i < limit; ++i) {
        if (!format_candidate(candidate, format, hex, name_base, i, ext)) {
            result.outcome = BackupOutcome::TOO_LONG;
            return result;
        }
        if (view ? view->taken(candidate + prefix) : os.exists(candidate)) continue;
        if (os.move_file(full, candidate)) {
            result.outcome = BackupOutcome::RENAMED;
            result.backup = candidate;
        } else if (view) {
            result = backup_file_report(path, nullptr, format, hex, nullptr);  // a stale view
        } else {
            result.outcome = BackupOutcome::REFUSED;
            result.reason = os.last_error();
        }
        if (view && result.outcome == BackupOutcome::RENAMED) view->forget(name);
        return result;
    }
    result.outcome = BackupOutcome::ALL_TAKEN;
    return result;
}
