// Every platform call that can fail, failing at each point of a run: the run ends as it
// should, and no file is lost or replaced.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "app/driver.h"
#include "tests/fake_platform.h"

namespace {

const char* const OPERATIONS[] = {"full_path", "current_directory", "open_directory", "next",
                                  "exists", "move_file"};

void populate(FakePlatform& fs) {
    fs.add_dir("/work");
    fs.add_dir("/work/sub");
    for (const char* name : {"a.doc", "b", "c.txt", "c.txt.000.bak", "c.txt.002.bak", "d.e.f",
                             "e.000.bak", "sub.000.bak"}) {
        fs.add_file(std::string("/work/") + name);
    }
    fs.add_dir("/work/a.doc.000.bak");  // a directory takes a candidate too
}

int reported(const std::string& out) {
    int count = -1;
    size_t at = out.find("\t\t");
    if (at != std::string::npos) std::sscanf(out.c_str() + at, "\t\t%d", &count);
    return count;
}

/// Whether name is one of the backup names of file in the given shape.
bool is_backup_of(const std::string& name, const std::string& file, int format) {
    std::string base = file, ext;
    if (format == 2) {
        size_t dot = file.rfind('.');
        if (dot == std::string::npos || dot < file.rfind('/')) return false;
        base = file.substr(0, dot);
        ext = file.substr(dot);
    }
    for (int i = 0; i < 999; ++i) {
        char n[8];
        std::snprintf(n, sizeof n, ".%03d", i);
        std::string candidate = base + n + (format == 1 ? "" : format == 2 ? ext : ".bak");
        if (candidate == name) return true;
    }
    return false;
}

/// Checks what a run left against what was there before it.
void expect_nothing_lost(const std::map<std::string, bool>& before, const FakePlatform& fs,
                         int format, const std::string& what) {
    // Everything that was there is still there, or was renamed to a new name of its own.
    std::set<std::string> new_names;
    for (const auto& e : fs.entries) {
        if (!before.count(e.first)) new_names.insert(e.first);
    }
    EXPECT_EQ(before.size(), fs.entries.size()) << what;
    int gone = 0;
    for (const auto& e : before) {
        if (fs.has(e.first)) continue;
        ++gone;
        EXPECT_FALSE(e.second) << what << ": a directory was renamed: " << e.first;
        bool backed_up = false;
        for (const std::string& n : new_names) {
            if (is_backup_of(n, e.first, format)) backed_up = true;
        }
        EXPECT_TRUE(backed_up) << what << ": lost " << e.first;
    }
    EXPECT_EQ(gone, fs.moves) << what;
    EXPECT_EQ(static_cast<int>(new_names.size()), fs.moves) << what;
    int count = reported(fs.out);
    EXPECT_EQ(fs.moves, count) << what << ": the summary says " << count;
}

}  // namespace

TEST(Faults, EachCallFailingOnceOrForGoodLosesNothing) {
    int runs = 0;
    for (const char* op : OPERATIONS) {
        for (bool for_good : {false, true}) {
            for (int n = 1; n <= 40; ++n) {
                FakePlatform fs;
                populate(fs);
                const auto before = fs.entries;
                fs.fail_at[op] = n;
                fs.fail_on = for_good;
                RunOptions o;
                o.spec = "*";
                o.format = n % 3;
                EXPECT_EQ(0, run_backup(o));
                expect_nothing_lost(before, fs, o.format, std::string(op) + " #" + std::to_string(n) +
                                                    (for_good ? " on" : ""));
                ++runs;
            }
        }
    }
    EXPECT_EQ(480, runs);
}

TEST(Faults, WithoutFaultsEveryFileIsRenamed) {
    FakePlatform fs;
    populate(fs);
    const auto before = fs.entries;
    RunOptions o;
    o.spec = "*";
    run_backup(o);
    expect_nothing_lost(before, fs, 0, "no fault");
    EXPECT_EQ(8, fs.moves);  // every file, none of the directories
    EXPECT_TRUE(fs.has("/work/c.txt.001.bak"));
    EXPECT_TRUE(fs.has("/work/a.doc.001.bak"));
}

TEST(Faults, AFailedExistenceTestNeverLetsARenameReplace) {
    // Every existence test says "free": the non-replacing rename is what keeps the backups.
    FakePlatform fs;
    populate(fs);
    const auto before = fs.entries;
    fs.fail_at["exists"] = 1;
    fs.fail_on = true;
    RunOptions o;
    o.spec = "*";
    run_backup(o);
    expect_nothing_lost(before, fs, 0, "exists always errs");
    EXPECT_TRUE(fs.has("/work/c.txt.001.bak"));  // the listing knew .000 was taken
    EXPECT_TRUE(fs.has("/work/b.000.bak"));
}
