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
    // A run renames files only; /COPY adds copies and keeps every file; /L changes nothing.
    int done = 0;
    for (const auto& e : before) {
        if (!fs.has(e.first)) {
            check(!e.second && !o.copy && !o.list_only);  // never a directory
            ++done;
        }
    }
    check(done == fs.moves);
    if (o.copy) done = static_cast<int>(fs.entries.size() - before.size());
    check(fs.entries.size() == before.size() + (o.copy ? done : 0));
    if (o.list_only) {
        check(fs.entries == before);
        done = 0;  // the lines "  name -> backup"; the announcement begins with one blank
        for (size_t at = 0; at < fs.out.size();) {
            size_t end = fs.out.find('\n', at);
            if (end == std::string::npos) end = fs.out.size();
            const std::string line = fs.out.substr(at, end - at);
            if (line.compare(0, 2, "  ") == 0 && line.find(" -> ") != std::string::npos) ++done;
            at = end + 1;
        }
    }
    if (o.verbose) {
        std::string summary = "\t\t" + std::to_string(done) + " file(s) " +
                              (o.list_only ? "would be " : "") +
                              (o.copy ? "copied\n" : "renamed\n");
        check(fs.out.size() >= summary.size() &&
              fs.out.compare(fs.out.size() - summary.size(), summary.size(), summary) == 0);
    } else if (!o.debug && !o.list_only) {
        check(fs.out.empty());
    }
    return 0;
}
