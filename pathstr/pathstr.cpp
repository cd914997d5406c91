#include "pathstr/pathstr.h"

#include <cstring>

#include "platform/traits.h"

namespace {

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

/// A drive letter and its colon, with at most a separator after them ("C:", "C:\").
bool is_bare_drive(const char* p) {
    return PLATFORM_DRIVES && p[0] != '\0' && p[1] == ':' && std::strlen(p) < 4;
}

}  // namespace

char* str_copy_max(char* dst, const char* src, size_t n) {
    if (!dst || !src) return dst;
    size_t i = 0;
    for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
    dst[i] = '\0';
    return dst;
}

char* str_append_char(char* s, char c) {
    size_t len = std::strlen(s);
    s[len] = c;
    s[len + 1] = '\0';
    return s;
}

size_t str_last_pos(const char* s, char c) {
    if (!s) return 0;
    size_t len = std::strlen(s);
    if (c == '\0') return len + 1;
    for (size_t i = len; i > 0; --i) {
        if (s[i - 1] == c) return i;
    }
    return 0;
}

char* str_strip_trailing(char* s, char c) {
    size_t len = std::strlen(s);
    while (len > 0 && s[len - 1] == c) s[--len] = '\0';
    return s;
}

void str_concat_max(char* dst, const char* src, size_t n) {
    if (!dst || !src) return;
    str_copy_max(dst + std::strlen(dst), src, n);
}

size_t path_last_separator(const char* s) {
    size_t back = str_last_pos(s, '\\');
    size_t slash = str_last_pos(s, '/');
    return back > slash ? back : slash;
}

size_t path_name_start(const char* s) {
    size_t sep = path_last_separator(s);
    if (sep == 0 && PLATFORM_DRIVES && s[0] != '\0' && s[1] == ':') return 2;
    return sep;
}

char* path_extension(const char* p) {
    static char buffer[MAX_PATH + 1];
    buffer[0] = '\0';
    if (!p || !*p) return buffer;
    for (size_t i = std::strlen(p); i > 0; --i) {
        char c = p[i - 1];
        if (c == '.') {
            str_copy_max(buffer, p + i - 1, MAX_PATH);
            break;
        }
        // A full path on POSIX separates with '/': the extension never reaches past it.
        if (c == '\\' || (PLATFORM_SLASH_IN_FULL_PATHS && c == '/')) break;
    }
    return buffer;
}

char* path_directory(const char* p) {
    static char buffer[MAX_PATH + 1];
    if (!p || !*p) return nullptr;
    buffer[0] = '\0';
    if (std::strlen(p) >= static_cast<size_t>(MAX_PATH)) return buffer;

    size_t sep = str_last_pos(p, '\\');
    if (sep == 0) sep = str_last_pos(p, '/');
    if (sep > 0) {
        str_copy_max(buffer, p, sep);
    } else if (PLATFORM_DRIVES && p[1] == ':') {
        // A drive and a pattern ("C:*.doc"): the directory is that drive's current one.
        str_copy_max(buffer, p, 2);
    } else if (PLATFORM_DRIVES && std::strchr(p, ':')) {
        str_copy_max(buffer, p, MAX_PATH);
    } else {
        return buffer;
    }

    if (is_bare_drive(buffer)) return buffer;
    if (std::strcmp(buffer, "\\") == 0 || std::strcmp(buffer, "/") == 0) return buffer;

    // A directory part made only of separators is the root: keep its first one.
    char first = buffer[0];
    str_strip_trailing(buffer, '\\');
    str_strip_trailing(buffer, '/');
    if (buffer[0] == '\0') {
        buffer[0] = first;
        buffer[1] = '\0';
    }
    return buffer;
}

char* path_file_name(const char* p) {
    static char buffer[MAX_PATH + 1];
    buffer[0] = '\0';
    if (!p) return buffer;
    size_t sep = str_last_pos(p, '\\');
    if (sep == 0) sep = str_last_pos(p, '/');
    str_copy_max(buffer, p + sep, MAX_PATH);
    return buffer;
}

const char* path_strip_extension(const char* p) {
    static char buffer[MAX_PATH + 1];
    if (!p || !*p) return p;
    size_t dot = str_last_pos(p, '.');
    if (dot == 0) return p;
    str_copy_max(buffer, p, dot - 1 < static_cast<size_t>(MAX_PATH) ? dot - 1 : MAX_PATH);
    return buffer;
}

char* path_add_separator(char* p, char c) {
    if (!p || !*p) return p;
    if (PLATFORM_DRIVES && p[1] == ':' && p[2] == '\0') return p;
    if (is_separator(p[std::strlen(p) - 1])) return p;
    return str_append_char(p, c);
}
