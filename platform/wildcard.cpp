#include "platform/wildcard.h"

#include <cstring>

namespace {

char fold(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool match(const char* pattern, const char* name, bool nocase) {
    if (std::strcmp(pattern, "*.*") == 0) return true;
    const char* star = nullptr;  // the last '*' seen, and where its run may resume
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name ||
                   (nocase && fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

}  // namespace

bool wildcard_match(const char* pattern, const char* name) {
    return match(pattern, name, false);
}

bool wildcard_match_nocase(const char* pattern, const char* name) {
    return match(pattern, name, true);
}
