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
