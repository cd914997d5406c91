#include "platform/path-posix.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

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

bool locale_utf8() {
    static const bool utf8 = [] {
        const bool set = std::setlocale(LC_CTYPE, "") != nullptr;
        const bool is = set && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
        std::setlocale(LC_CTYPE, "C");
        return is;
    }();
    return utf8;
}
