#include "platform/wildcard.h"

#include <cstring>

namespace {

char fold(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

/// The bytes of the character at s: a whole UTF-8 sequence with utf8 where s begins a valid
/// one, else one byte.
size_t character(const char* s, bool utf8) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
    if (!utf8 || u[0] < 0xC2 || u[0] > 0xF4) return 1;
    const size_t n = u[0] < 0xE0 ? 2 : u[0] < 0xF0 ? 3 : 4;
    for (size_t i = 1; i < n; ++i) {
        if ((u[i] & 0xC0) != 0x80) return 1;  // also at the terminator
    }
    return n;
}

bool match(const char* pattern, const char* name, bool nocase, bool utf8) {
    if (std::strcmp(pattern, "*.*") == 0) return true;
    const char* star = nullptr;  // the last '*' seen, and where its run may resume
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?') {
            ++pattern;
            name += character(name, utf8);
        } else if (*pattern == *name || (nocase && fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            resume += character(resume, utf8);  // a run ends between characters
            name = resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

}  // namespace

bool wildcard_match(const char* pattern, const char* name, bool utf8) {
    return match(pattern, name, false, utf8);
}

bool wildcard_match_nocase(const char* pattern, const char* name) {
    return match(pattern, name, true, false);
}
