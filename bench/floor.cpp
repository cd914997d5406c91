// The floor a backup run cannot go below: read the directory once, then for each matching
// file compute its backup name in memory and rename it without replacing.
// Usage: floor DIRECTORY PATTERN_SUFFIX [hex]   (files whose names end in PATTERN_SUFFIX)
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string dir = argv[1];
    const std::string suffix = argv[2];
    const bool hex = argc > 3;
    std::unordered_set<std::string> taken;
    std::vector<std::string> files;
    DIR* d = opendir(dir.c_str());
    if (!d) return 1;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        taken.insert(name);
        if (e->d_type == DT_REG && name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            files.push_back(name);
        }
    }
    closedir(d);
    int renamed = 0;
    char candidate[512];
    for (const std::string& f : files) {
        for (int i = 0; i < (hex ? 0x10000 : 999); ++i) {
            std::snprintf(candidate, sizeof candidate, hex ? "%s.%04x.bak" : "%s.%03d.bak",
                          f.c_str(), i);
            if (taken.count(candidate)) continue;
            std::string from = dir + "/" + f, to = dir + "/" + candidate;
            if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
                ++renamed;
            }
            break;
        }
    }
    std::printf("%d renamed\n", renamed);
    return 0;
}
