#include "platform/posix_util.h"

#include <cstring>

bool wildcard_match(const char* pattern, const char* name) {
    if (std::strcmp(pattern, "*.*") == 0) return true;
    const char* star = nullptr;  // the last '*' seen, and where its run may resume
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
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

std::string absolute_path(const std::string& cwd, const std::string& path) {
    std::string given = path;
    for (char& c : given) {
        if (c == '\\') c = '/';
    }
    std::string whole = (!given.empty() && given[0] == '/') ? given : cwd + "/" + given;
    std::string out;
    size_t i = 0;
    while (i < whole.size()) {
        while (i < whole.size() && whole[i] == '/') ++i;
        size_t start = i;
        while (i < whole.size() && whole[i] != '/') ++i;
        if (i == start || (i - start == 1 && whole[start] == '.')) continue;
        out += '/';
        out.append(whole, start, i - start);
    }
    return out.empty() ? "/" : out;
}

namespace {
/// Console colour bits (blue 1, green 2, red 4) as an ANSI colour index (red 1, green 2, blue 4).
int ansi_colour(int bits) {
    return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2);
}
}  // namespace

std::string sgr_for_attr(uint16_t attr) {
    int fore = attr & 0x0F;
    int back = (attr >> 4) & 0x0F;
    std::string s = "\x1b[0";
    if (fore != 0x07) {
        int base = (fore & 0x08) ? 90 : 30;
        s += ";" + std::to_string(base + ansi_colour(fore & 7));
    }
    if (back != 0) {
        int base = (back & 0x08) ? 100 : 40;
        s += ";" + std::to_string(base + ansi_colour(back & 7));
    }
    return s + "m";
}
