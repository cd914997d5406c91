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

/// Every call of the fake, each of which a sweep makes fail.
std::vector<Call> every_call() {
    std::vector<Call> calls;
    for (int c = 0; c < static_cast<int>(Call::COUNT); ++c) calls.push_back(static_cast<Call>(c));
    return calls;
}
const std::vector<Call> OPERATIONS = every_call();

/// The ways a run takes its steps: a rename in one call or in steps, a copy with or without
/// a name of its own while it is made.
struct Mode {
    const char* name;
    bool copy, no_noreplace, unnamed_files;
    const char* to;  // /TO, or null
};
const std::vector<Mode> MODES = {{"rename", false, false, true, nullptr},
                                 {"two-step rename", false, true, true, nullptr},
                                 {"copy", true, false, true, nullptr},
                                 {"copy under a private name", true, true, false, nullptr}};
/// The same with the backups in a directory of their own, made by the run.
const std::vector<Mode> ELSEWHERE = {
    {"rename to .bak", false, false, true, ".bak"},
    {"two-step rename to .bak", false, true, true, ".bak"},
    {"copy to .bak", true, false, true, ".bak"},
    {"copy to .bak under a private name", true, true, false, ".bak"}};

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
            const std::string beside = mode.to && n.compare(0, 11, "/work/.bak/") == 0
                                           ? "/work/" + n.substr(11)
                                       : mode.to ? std::string()
                                                 : n;
            EXPECT_TRUE(is_backup_of(beside, e.first, format))
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
    // Every failure, of a file or of the directory, is told on standard error, and only then
    // is the status RUN_FAILED.
    EXPECT_EQ(fs.err.empty() ? 0 : RUN_FAILED, status) << what << ": " << fs.err;
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
    o.to = mode.to;
    return o;
}

/// The operations that change the tree: each may act and then answer an error, as a network
/// file system whose reply was lost does.
const std::vector<Call> ACTING = {Call::RENAME_NO_REPLACE, Call::RENAME, Call::LINK, Call::REMOVE,
                                  Call::LINK_UNNAMED};

/// Runs every mode with each of ops failing at each of its first 30 calls, once and for good
/// (with lie, after doing what it was asked); returns the count of runs.
int sweep(const std::vector<Call>& ops, bool lie, const std::vector<Mode>& modes = MODES) {
    int runs = 0;
    for (const Mode& mode : modes) {
        for (const Call op : ops) {
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
                                        std::string(mode.name) + ", " + call_name(op) + " #" +
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
    EXPECT_EQ(static_cast<int>(4 * OPERATIONS.size() * 2 * 30), sweep(OPERATIONS, false));
}

TEST(Faults, WithTheBackupsElsewhereEachCallFailingLosesNothing) {
    EXPECT_EQ(static_cast<int>(4 * OPERATIONS.size() * 2 * 30),
              sweep(OPERATIONS, false, ELSEWHERE));
    EXPECT_EQ(4 * 5 * 2 * 30, sweep(ACTING, true, ELSEWHERE));
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
        fs->fail_at[Call::TYPE_OF] = 1;
        fs->fail_on = true;
        const int status = run_backup(options_for(mode, 0));
        expect_nothing_lost(before, *fs, 0, mode, status,
                            std::string(mode.name) + ", type_of always errs");
        EXPECT_TRUE(fs->has("/work/c.txt.001.bak"));  // the listing knew .000 was taken
        EXPECT_TRUE(fs->has("/work/b.000.bak"));
    }
}

/// The text after "  name" on the first line of name in out (each after a line end), or
/// null when there is none.
const char* line_of(const std::string& out, const std::string& name, std::string& rest) {
    for (size_t from = 0;;) {
        const size_t found = out.find("\n  " + name, from);
        if (found == std::string::npos) return nullptr;
        const size_t start = found + 3 + name.size();
        if (out[start] == ':' || out[start] == ' ') {
            rest = out.substr(start, out.find('\n', start) - start);
            return rest.c_str();
        }
        from = start;
    }
}

/// Checks what a restore or a /KEEP run left and what it said of each file against what was
/// there before: no content lost but a backup /KEEP may remove; every name a line gives holds
/// what the line says; the status says whether standard error told a failure; no private name
/// left untold.
void expect_told_truly(const std::map<std::string, std::string>& before, const FakePlatform& fs,
                       bool keep, int status, const std::string& label,
                       const std::string& at = std::string()) {
    std::set<std::string> held;
    for (const auto& e : fs.content) {
        held.insert(e.second);
        if (is_private(e.first)) {
            EXPECT_NE(std::string::npos, fs.out.find(e.first.substr(6)))
                << label << ": left " << e.first << " unsaid";
        }
    }
    for (const auto& e : before) {
        // /KEEP:2 may remove what is beyond the newest of r.doc's backups, and nothing else.
        const bool removable = keep && (e.first == "/work/" + at + "r.doc.000.bak" ||
                                        e.first == "/work/" + at + "r.doc.002.bak");
        if (!removable) {
            EXPECT_TRUE(held.count(e.second)) << label << ": lost " << e.first;
        }
    }
    EXPECT_EQ(0, fs.held) << label;
    EXPECT_EQ(fs.err.empty() ? 0 : RUN_FAILED, status) << label << ": " << fs.err;
    auto holds = [&](const std::string& name, const std::string& what) {
        const auto found = fs.content.find("/work/" + name);
        return found != fs.content.end() && found->second == what;
    };
    for (const char* file : {"r.doc", "t.doc"}) {
        std::string rest;
        if (keep || !line_of(fs.out, file, rest)) continue;
        const std::string current = before.at(std::string("/work/") + file);
        const size_t now = rest.find("the current file is now ");
        if (now != std::string::npos) {
            const std::string name = rest.substr(now + 24, rest.find(';', now) - now - 24);
            EXPECT_TRUE(holds(name, current)) << label << ": " << file << rest;
        }
        if (rest.compare(0, 4, " <- ") == 0) {
            const std::string from = rest.substr(4, rest.find(';') - 4);
            EXPECT_TRUE(holds(file, before.at("/work/" + from))) << label << ": " << file << rest;
        } else if (now == std::string::npos && rest.find(" as ") == std::string::npos) {
            EXPECT_TRUE(holds(file, current)) << label << ": " << file << rest;
        }
    }
}

TEST(Faults, EachCallFailingInARestoreOrKeepLosesNothing) {
    // A restore (its exchange, or its two steps, or a copy) and a run that keeps two
    // backups, each call failing, or acting and then answering an error, "taken" or "no such
    // file", with a second fault after it; the listing's identities made up in half of the
    // runs, as a FUSE file system without use_ino gives them; for /KEEP, the backups listed
    // before their files in a third, so that a name freed is taken again by the run; and
    // all of it again with the backups in a directory of their own (/TO:.bak).
    const std::vector<Call>& ops = OPERATIONS;
    int runs = 0;
    for (int where = 0; where < 8; ++where) {
        const int what = where % 4;  // restore, in two steps, by copying; keep
        const std::string at = where < 4 ? "" : ".bak/";
        for (size_t op = 0; op < ops.size(); ++op) {
            for (int n = 1; n <= 6; ++n) {
                for (int lie = 0; lie < 4; ++lie) {  // none; an error, "taken", "no such file"
                    FakePlatform fs;
                    fs.add_dir("/work");
                    if (!at.empty()) fs.add_dir("/work/.bak");
                    for (const char* name : {"r.doc", "t.doc"})
                        fs.add_file(std::string("/work/") + name);
                    for (const char* name : {"r.doc.000.bak", "r.doc.001.bak", "r.doc.002.bak",
                                             "g.doc.000.bak", "t.doc.000.bak"})
                        fs.add_file("/work/" + at + name);
                    fs.changed["/work/" + at + "r.doc.001.bak"] = 5;  // the newest
                    const std::map<std::string, std::string> before = fs.content;
                    fs.no_noreplace = what == 1;
                    fs.fail_at[ops[op]] = n;
                    if (n % 3 == 2) fs.fail_at[ops[(op + 7) % ops.size()]] = n + 1;
                    fs.lie = lie > 0;
                    fs.lie_as = lie > 0 ? lie - 1 : 0;
                    fs.listing_ids = n % 2 == 1;
                    fs.listing_reversed = n % 3 == 0;
                    RunOptions o;
                    o.spec = what == 3 ? "*" : "*.doc";
                    o.debug = true;
                    o.restore = what < 3;
                    o.copy = what == 2;
                    o.keep = what == 3 ? 2 : 0;
                    o.to = at.empty() ? nullptr : ".bak";
                    const int status = run_backup(o);
                    expect_told_truly(before, fs, what == 3, status,
                                      at + std::to_string(what) + " " + call_name(ops[op]) + " #" +
                                          std::to_string(n) + " lie " + std::to_string(lie),
                                      at);
                    ++runs;
                }
            }
        }
    }
    EXPECT_EQ(static_cast<int>(8 * ops.size() * 6 * 4), runs);
    // Two steps of one /COPY restore refused: the exchange, then the removal of the copy
    // under its private name; or the name of a gone file taken meanwhile, then the removal
    // of the copy's private name. Every name left is named.
    for (int which = 0; which < 2; ++which) {
        FakePlatform fs;
        fs.add_dir("/work");
        for (const char* name : {"r.doc", "r.doc.000.bak", "g.doc.000.bak"})
            fs.add_file(std::string("/work/") + name);
        const std::map<std::string, std::string> before = fs.content;
        fs.unnamed_files = false;
        if (which == 0) fs.fail_at[Call::EXCHANGE] = 1;
        fs.fail_at[Call::REMOVE] = 1;
        fs.fail_on = true;
        if (which == 1) fs.move_refused.insert("/work/g.doc");
        RunOptions o;
        o.spec = "*.doc";
        o.debug = true;
        o.restore = o.copy = true;
        const int status = run_backup(o);
        expect_told_truly(before, fs, false, status,
                          which == 0 ? "exchange, remove" : "taken, remove");
        EXPECT_EQ(RUN_FAILED, status);
    }
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
