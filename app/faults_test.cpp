// Every platform call that can fail, failing at each point of a run: the run ends as it
// should, and no file is lost or replaced.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/driver.h"
#include "tests/fake_platform.h"

namespace {

const char* const OPERATIONS[] = {"full_path",
                                  "current_directory",
                                  "open_directory",
                                  "next",
                                  "type_of",
                                  "rename_noreplace",
                                  "rename",
                                  "link",
                                  "remove",
                                  "open_source",
                                  "create_copy",
                                  "copy_range",
                                  "keep_owner",
                                  "keep_group",
                                  "keep_permissions",
                                  "keep_extended",
                                  "owner_alone",
                                  "keep_times",
                                  "flush",
                                  "flush_together",
                                  "flush_directory",
                                  "link_unnamed"};
constexpr int OPERATION_COUNT = sizeof OPERATIONS / sizeof OPERATIONS[0];

/// The ways a run takes its steps: a rename in one call or in steps, a copy with or without
/// a name of its own while it is made.
struct Mode {
    const char* name;
    bool copy, no_noreplace, unnamed_files;
};
const Mode MODES[] = {{"rename", false, false, true},
                      {"two-step rename", false, true, true},
                      {"copy", true, false, true},
                      {"copy under a private name", true, true, false}};

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

bool is_private(const std::string& path) {
    return path.find("/.tavrix-") != std::string::npos;
}

/// Checks what a run left against what was there before it: every file's content is still
/// there, under its own name or a backup name of it (with /COPY, under both); no name that
/// was there holds anything else; the summary counts the backups made, and the status and
/// standard error tell whether any file could not be. A private name remains only where the
/// output names it.
void expect_nothing_lost(const FakePlatform& before, const FakePlatform& fs, int format,
                         const Mode& mode, int status, const std::string& what) {
    std::map<std::string, std::vector<std::string>> names_of;  // content -> names holding it
    for (const auto& e : fs.entries) {
        if (is_private(e.first)) {
            EXPECT_NE(std::string::npos, fs.out.find(e.first.substr(6)))
                << what << ": left " << e.first << " unsaid";
        }
        if (!e.second) names_of[fs.content.at(e.first)].push_back(e.first);
        auto was = before.entries.find(e.first);
        if (was == before.entries.end()) continue;
        EXPECT_EQ(was->second, e.second) << what << ": replaced " << e.first;
        if (!e.second) {
            EXPECT_EQ(before.content.at(e.first), fs.content.at(e.first))
                << what << ": replaced " << e.first;
        }
    }
    int backups = 0, renamed = 0;
    for (const auto& e : before.entries) {
        if (e.second) {
            EXPECT_TRUE(fs.has(e.first)) << what << ": a directory was renamed: " << e.first;
            continue;
        }
        const std::vector<std::string>& names = names_of[before.content.at(e.first)];
        EXPECT_FALSE(names.empty()) << what << ": lost " << e.first;
        bool backed_up = false;
        size_t public_names = 0;  // a private name the output names holds it at most
        for (const std::string& n : names) {
            if (is_private(n)) continue;
            ++public_names;
            if (n == e.first) continue;
            EXPECT_TRUE(is_backup_of(n, e.first, format))
                << what << ": " << e.first << " also under " << n;
            backed_up = true;
            ++backups;
        }
        if (backed_up && !fs.has(e.first)) ++renamed;
        if (mode.copy) {
            EXPECT_TRUE(fs.has(e.first)) << what << ": a copy lost " << e.first;
            EXPECT_LE(public_names, 2u) << what << ": copied twice: " << e.first;
        } else {
            EXPECT_LE(public_names, 1u) << what << ": under two names: " << e.first;
        }
    }
    EXPECT_EQ(0, fs.held) << what << ": signals still held back";
    EXPECT_EQ(mode.copy ? backups : renamed, reported(fs.out)) << what;
    const bool told = fs.err.find("could not be backed up") != std::string::npos;
    EXPECT_EQ(told ? RUN_FAILED : 0, status) << what << ": " << fs.err;
}

FakePlatform* prepared(const Mode& mode) {
    FakePlatform* fs = new FakePlatform;
    populate(*fs);
    fs->no_noreplace = mode.no_noreplace;
    fs->unnamed_files = mode.unnamed_files;
    return fs;
}

RunOptions options_for(const Mode& mode, int format) {
    RunOptions o;
    o.spec = "*";
    o.format = format;
    o.copy = mode.copy;
    o.debug = true;  // names what is left under a private name
    return o;
}

/// The operations that change the tree: each may act and then answer an error, as a network
/// file system whose reply was lost does.
const char* const ACTING[] = {"rename_noreplace", "rename", "link", "remove", "link_unnamed"};

/// Runs every mode with each of ops failing at each of its first 30 calls, once and for good
/// (with lie, after doing what it was asked); returns the count of runs.
template <size_t N>
int sweep(const char* const (&ops)[N], bool lie) {
    int runs = 0;
    for (const Mode& mode : MODES) {
        for (const char* op : ops) {
            for (bool for_good : {false, true}) {
                for (int n = 1; n <= 30; ++n) {
                    FakePlatform before;
                    populate(before);
                    std::unique_ptr<FakePlatform> fs(prepared(mode));
                    fs->fail_at[op] = n;
                    fs->fail_on = for_good;
                    fs->lie = lie;
                    const RunOptions o = options_for(mode, n % 3);
                    const int status = run_backup(o);
                    expect_nothing_lost(before, *fs, o.format, mode, status,
                                        std::string(mode.name) + ", " + op + " #" +
                                            std::to_string(n) + (for_good ? " on" : "") +
                                            (lie ? ", done then failed" : ""));
                    ++runs;
                }
            }
        }
    }
    return runs;
}

}  // namespace

TEST(Faults, EachCallFailingOnceOrForGoodLosesNothing) {
    EXPECT_EQ(4 * OPERATION_COUNT * 2 * 30, sweep(OPERATIONS, false));
}

TEST(Faults, EachChangeDoneThenFailedLosesNothing) {
    EXPECT_EQ(4 * 5 * 2 * 30, sweep(ACTING, true));
}

TEST(Faults, WithoutFaultsEveryFileIsBackedUp) {
    for (const Mode& mode : MODES) {
        FakePlatform before;
        populate(before);
        std::unique_ptr<FakePlatform> fs(prepared(mode));
        const int status = run_backup(options_for(mode, 0));
        expect_nothing_lost(before, *fs, 0, mode, status, mode.name);
        EXPECT_TRUE(fs->has("/work/c.txt.001.bak")) << mode.name;
        EXPECT_TRUE(fs->has("/work/a.doc.001.bak")) << mode.name;
        EXPECT_EQ(mode.copy ? 0 : 8, fs->moves)
            << mode.name;  // every file, none of the directories
    }
}

TEST(Faults, AFailedLookNeverLetsARenameReplace) {
    // Every look at a name says "missing": the non-replacing steps are what keep the backups.
    for (const Mode& mode : MODES) {
        FakePlatform before;
        populate(before);
        std::unique_ptr<FakePlatform> fs(prepared(mode));
        fs->fail_at["type_of"] = 1;
        fs->fail_on = true;
        const int status = run_backup(options_for(mode, 0));
        expect_nothing_lost(before, *fs, 0, mode, status,
                            std::string(mode.name) + ", type_of always errs");
        EXPECT_TRUE(fs->has("/work/c.txt.001.bak"));  // the listing knew .000 was taken
        EXPECT_TRUE(fs->has("/work/b.000.bak"));
    }
}

TEST(Faults, EachCallFailingInARestoreOrKeepLosesNothing) {
    // A restore (its exchange, or its two steps, or a copy) and a run that keeps two
    // backups: every content that was there is still there, and a private name is left only
    // where the output names it.
    const char* const more[] = {"exchange", "look"};
    std::vector<std::string> ops(std::begin(OPERATIONS), std::end(OPERATIONS));
    ops.insert(ops.end(), std::begin(more), std::end(more));
    int runs = 0;
    for (int what = 0; what < 4; ++what) {  // restore, in two steps, by copying; keep
        for (const std::string& op : ops) {
            for (int n = 1; n <= 6; ++n) {
                for (bool lie : {false, true}) {
                    FakePlatform fs;
                    fs.add_dir("/work");
                    for (const char* name : {"r.doc", "r.doc.000.bak", "r.doc.001.bak",
                                             "r.doc.002.bak", "g.doc.000.bak"})
                        fs.add_file(std::string("/work/") + name);
                    fs.changed["/work/r.doc.001.bak"] = 5;  // the newest
                    const std::map<std::string, std::string> before = fs.content;
                    fs.no_noreplace = what == 1;
                    fs.fail_at[op] = n;
                    fs.lie = lie;
                    RunOptions o;
                    o.spec = "*.doc";
                    o.debug = true;
                    o.restore = what < 3;
                    o.copy = what == 2;
                    o.keep = what == 3 ? 2 : 0;
                    const int status = run_backup(o);
                    const std::string label = std::to_string(what) + " " + op + " #" +
                                              std::to_string(n) + (lie ? " lie" : "");
                    std::set<std::string> held;
                    for (const auto& e : fs.content) {
                        held.insert(e.second);
                        if (is_private(e.first)) {
                            EXPECT_NE(std::string::npos, fs.out.find(e.first.substr(6)))
                                << label << ": left " << e.first << " unsaid";
                        }
                    }
                    for (const auto& e : before) {
                        // /KEEP removes backups beyond the two newest: those alone may go.
                        const bool removable = what == 3 && e.first != "/work/r.doc" &&
                                               e.first != "/work/r.doc.001.bak" &&
                                               e.first != "/work/g.doc.000.bak";
                        if (!removable) {
                            EXPECT_TRUE(held.count(e.second)) << label << ": lost " << e.first;
                        }
                    }
                    EXPECT_EQ(0, fs.held) << label;
                    EXPECT_TRUE(status == 0 || status == RUN_FAILED) << label;
                    ++runs;
                }
            }
        }
    }
    EXPECT_EQ(static_cast<int>(4 * ops.size() * 6 * 2), runs);
    // Without a fault: the newest backup is back, the current file under a backup name.
    for (int what = 0; what < 3; ++what) {
        FakePlatform fs;
        fs.add_dir("/work");
        fs.add_file("/work/r.doc");
        fs.add_file("/work/r.doc.000.bak");
        fs.add_file("/work/r.doc.001.bak");
        fs.changed["/work/r.doc.000.bak"] = 5;
        fs.no_noreplace = what == 1;
        RunOptions o;
        o.spec = "r.doc";
        o.restore = true;
        o.copy = what == 2;
        EXPECT_EQ(0, run_backup(o)) << what;
        EXPECT_EQ("/work/r.doc.000.bak", fs.content["/work/r.doc"]) << what;
        EXPECT_EQ("/work/r.doc", fs.content["/work/r.doc.002.bak"]) << what;
        EXPECT_EQ(what == 2, fs.has("/work/r.doc.000.bak")) << what;
    }
}
