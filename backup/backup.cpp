#include "backup/backup.h"

#include <cstdio>
#include <cstring>
#include <memory>

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
    const size_t name_at = path_name_start(full);
    const std::string dir_full(full, name_at);
    std::unique_ptr<Directory> dir = os.open_directory(dir_full.c_str(), full + name_at);
    if (!dir) return 0;
    BackupRequest request;
    request.format = format;
    request.hex = hex;
    BackupResult r = backup_file_report(*dir, dir_full.c_str(), full + name_at, request, nullptr);
    return r.outcome == BackupOutcome::DONE;
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

namespace {

/// Renames or copies name to candidate; TAKEN when the name was taken meanwhile.
CopyStatus take_name(Directory& dir, const char* name, const char* candidate,
                     const BackupRequest& request) {
    if (request.dry_run) return CopyStatus::COPIED;
    if (!request.copy) return dir.move_file(name, candidate) ? CopyStatus::COPIED : CopyStatus::TAKEN;
    struct IgnoreProgress : CopyWatcher {
        bool keep_going(uint64_t, uint64_t) override { return true; }
    } ignore;
    return dir.copy_file(name, candidate, request.watcher ? *request.watcher : ignore);
}

}  // namespace

BackupResult backup_file_report(Directory& dir, const char* dir_full, const char* name,
                                const BackupRequest& request, DirectoryView* view) {
    const BackupFormat format = request.format;
    const bool hex = request.hex;
    BackupResult result;
    if (!dir_full) return result;
    const size_t prefix = std::strlen(dir_full);
    if (prefix + std::strlen(name) >= static_cast<size_t>(MAX_PATH)) {
        result.outcome = BackupOutcome::TOO_LONG;
        return result;
    }
    char full[MAX_PATH + 1] = {0};
    str_copy_max(full, dir_full, MAX_PATH);
    str_concat_max(full, name, MAX_PATH);

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
    bool listed = view != nullptr;  // whether the listing still answers for the names
    for (int i = 0; i < limit; ++i) {
        if (!format_candidate(candidate, format, hex, name_base, i, ext)) {
            result.outcome = BackupOutcome::TOO_LONG;
            return result;
        }
        const char* candidate_name = candidate + prefix;
        if (listed ? view->taken(candidate_name) : dir.exists(candidate_name)) continue;
        const CopyStatus status = take_name(dir, name, candidate_name, request);
        if (status == CopyStatus::COPIED) {
            result.outcome = BackupOutcome::DONE;
            result.backup = candidate;
            if (view && !request.copy) view->forget(name);  // a rename frees the name
            return result;
        }
        if (status == CopyStatus::NOT_REGULAR || status == CopyStatus::CANCELLED) {
            result.outcome = status == CopyStatus::CANCELLED ? BackupOutcome::CANCELLED
                                                             : BackupOutcome::NOT_REGULAR;
            return result;
        }
        // A rename's refusal may be a stale listing; a copy's only when the name was taken.
        if (!listed || status == CopyStatus::REFUSED) {
            result.outcome = BackupOutcome::REFUSED;
            result.reason = dir.last_error();
            return result;
        }
        // The listing was stale: the candidates are tested on the directory from the first.
        listed = false;
        i = -1;
    }
    result.outcome = BackupOutcome::ALL_TAKEN;
    return result;
}
