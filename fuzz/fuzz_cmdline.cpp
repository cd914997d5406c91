// Any command line, parsed and run over an in-memory directory: the parse ends in one of its
// outcomes, and the run renames only files, never loses one, and reports what it did.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/driver.h"
#include "tests/fake_platform.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words = {"tavrix"};
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);

    FakePlatform fs;
    fs.add_dir("/work");
    fs.add_dir("/work/sub");
    for (const char* n : {"a.doc", "a.doc.000.bak", "b", ".c", "sub/d.txt", "e.f.g"}) {
        fs.add_file(std::string("/work/") + n);
    }
    const auto before = fs.entries;

    RunOptions o;
    ParseResult r = parse_command_line(static_cast<int>(argv.size()), argv.data(), o);
    if (r != ParseResult::RUN) return 0;
    check(o.format >= 0 && o.format <= 3);
    check(run_backup(o) == 0);
    check(fs.entries.size() == before.size());
    int renamed = 0;
    for (const auto& e : before) {
        if (!fs.has(e.first)) {
            check(!e.second);  // never a directory
            ++renamed;
        }
    }
    check(renamed == fs.moves);
    if (o.verbose) {
        std::string summary = "\t\t" + std::to_string(renamed) + " file(s) renamed\n";
        check(fs.out.size() >= summary.size() &&
              fs.out.compare(fs.out.size() - summary.size(), summary.size(), summary) == 0);
    } else {
        check(fs.out.empty());
    }
    return 0;
}
