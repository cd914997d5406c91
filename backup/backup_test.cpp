#include "backup/backup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "backup/catalog.h"
#include "backup/copy.h"
#include "backup/restore.h"
#include "backup/retention.h"
#include "pathstr/pathstr.h"
#include "tests/fake_platform.h"

namespace {

/// Backs up the file at path (made absolute) by the name its directory lists it under;
/// 1 when it was renamed.
int backup_path(const char* path, BackupFormat format, bool hex) {
    if (!path || !*path) return 0;
    std::string absolute;
    if (!file_system().full_path(path, absolute).ok() || absolute.size() >= MAX_PATH) return 0;
    const char* full = absolute.c_str();
    const size_t name_at = path_name_start(full);
    std::unique_ptr<Directory> dir;
    file_system().open_directory(std::string(full, name_at).c_str(), "*", dir);
    if (!dir) return 0;
    BackupRequest request;
    request.format = format;
    request.hex = hex;
    BackupPlace place{*dir, signals(), name_at, nullptr};
    return backup_file(place, full + name_at, 0, request).outcome == Outcome::DONE;
}

struct BackupFile : ::testing::Test {
    FakePlatform fs;
    void SetUp() override { fs.add_dir("/d"); }
};

TEST_F(BackupFile, FirstFreeNumberFillsGaps) {
    fs.add_file("/d/Example.doc");
    EXPECT_EQ(1, backup_path("/d/Example.doc", FORMAT_BAK, false));
    EXPECT_TRUE(fs.has("/d/Example.doc.000.bak"));

    fs.add_file("/d/Example.doc");
    fs.add_dir("/d/Example.doc.001.bak");  // a directory takes the name too
    fs.add_file("/d/Example.doc.003.bak");
    EXPECT_EQ(1, backup_path("/d/Example.doc", FORMAT_BAK, false));
    EXPECT_TRUE(fs.has("/d/Example.doc.002.bak"));
    EXPECT_FALSE(fs.has("/d/Example.doc"));
}

TEST(BackupShapes, EachShapeAndNumbering) {
    struct Case {
        BackupFormat format;
        bool hex;
        const char* file;
        const char* backup;
    } cases[] = {
        {0, false, "/d/Example.doc", "/d/Example.doc.000.bak"},
        {1, false, "/d/Example.doc", "/d/Example.doc.000"},
        {2, false, "/d/Example.doc", "/d/Example.000.doc"},
        {3, false, "/d/Example.doc", "/d/Example.doc.000.bak"},
        {7, false, "/d/Example.doc", "/d/Example.doc.000.bak"},
        {2, false, "/d/archive.tar.gz", "/d/archive.tar.000.gz"},
        {2, false, "/d/.profile", "/d/.000.profile"},
        {0, true, "/d/Example.doc", "/d/Example.doc.0000.bak"},
        {1, true, "/d/Example.doc", "/d/Example.doc.0000"},
        {2, true, "/d/Example.doc", "/d/Example.0000.doc"},
    };
    for (const Case& c : cases) {
        FakePlatform each;
        each.add_dir("/d");
        each.add_file(c.file);
        EXPECT_EQ(1, backup_path(c.file, c.format, c.hex)) << c.backup;
        EXPECT_TRUE(each.has(c.backup)) << c.backup;
        EXPECT_FALSE(each.has(c.file));
    }
}

TEST_F(BackupFile, HexIsLowercaseAndFourWide) {
    fs.add_file("/d/Example.doc");
    for (int i = 0; i < 26; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/d/Example.%04x.doc", i);
        fs.add_file(name);
    }
    EXPECT_EQ(1, backup_path("/d/Example.doc", FORMAT_BEFORE_EXT, true));
    EXPECT_TRUE(fs.has("/d/Example.001a.doc"));
}

TEST_F(BackupFile, EveryCandidateTakenLeavesTheFile) {
    fs.add_file("/d/f");
    for (int i = 0; i < SEQUENCE_LIMIT_DECIMAL; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/d/f.%03d.bak", i);
        fs.add_file(name);
    }
    EXPECT_FALSE(fs.has("/d/f.999.bak"));
    EXPECT_EQ(0, backup_path("/d/f", FORMAT_BAK, false));
    EXPECT_TRUE(fs.has("/d/f"));
    EXPECT_FALSE(fs.has("/d/f.999.bak"));  // 998 is the last decimal candidate

    for (int i = 0; i < SEQUENCE_LIMIT_HEX - 1; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/d/f.%04x", i);
        fs.add_file(name);
    }
    EXPECT_EQ(1, backup_path("/d/f", FORMAT_NUMBER, true));
    EXPECT_TRUE(fs.has("/d/f.ffff"));
    fs.add_file("/d/f");
    EXPECT_EQ(0, backup_path("/d/f", FORMAT_NUMBER, true));  // 0000 to ffff all taken
    EXPECT_TRUE(fs.has("/d/f"));
}

TEST_F(BackupFile, FailuresLeaveTheFileUnderItsName) {
    // No extension for name.NNN.ext, in the file's own name or only in its directory.
    fs.add_file("/d/README");
    fs.add_dir("/d/my.dir");
    fs.add_file("/d/my.dir/README");
    EXPECT_EQ(0, backup_path("/d/README", FORMAT_BEFORE_EXT, false));
    EXPECT_EQ(0, backup_path("/d/my.dir/README", FORMAT_BEFORE_EXT, false));
    EXPECT_EQ(0, backup_path("", FORMAT_BAK, false));
    EXPECT_EQ(0, backup_path(nullptr, FORMAT_BAK, false));

    // The chosen name appears between the test and the rename: nothing is replaced, and the
    // next name is taken.
    fs.move_refused.insert("/d/README.000.bak");
    EXPECT_EQ(1, backup_path("/d/README", FORMAT_BAK, false));
    EXPECT_EQ(1, fs.moves);
    EXPECT_TRUE(fs.has("/d/README.001.bak"));
    EXPECT_TRUE(fs.has("/d/my.dir/README"));
}

TEST_F(BackupFile, NamesThatDoNotFitAreNeverCut) {
    // The full path itself: 259 characters fit, 260 do not.
    std::string fits = "/d/" + std::string(MAX_PATH - 1 - 3 - 8, 'a');  // room for ".000.bak"
    fs.add_file(fits);
    EXPECT_EQ(1, backup_path(fits.c_str(), FORMAT_BAK, false));
    EXPECT_TRUE(fs.has(fits + ".000.bak"));

    std::string candidate_too_long = fits + "b";
    fs.add_file(candidate_too_long);
    EXPECT_EQ(0, backup_path(candidate_too_long.c_str(), FORMAT_BAK, false));
    EXPECT_TRUE(fs.has(candidate_too_long));
    EXPECT_EQ(0, backup_path(candidate_too_long.c_str(), FORMAT_BAK, true));

    std::string path_too_long = "/d/" + std::string(MAX_PATH - 3, 'c');
    fs.add_file(path_too_long);
    EXPECT_EQ(0, backup_path(path_too_long.c_str(), FORMAT_NUMBER, false));
    EXPECT_EQ(1, fs.moves);
}

TEST_F(BackupFile, RelativePathIsMadeAbsolute) {
    fs.cwd = "/d";
    fs.add_file("/d/x.txt");
    EXPECT_EQ(1, backup_path("x.txt", FORMAT_BAK, false));
    EXPECT_TRUE(fs.has("/d/x.txt.000.bak"));
    fs.cwd_fails = true;
    fs.add_file("/d/y.txt");
    EXPECT_EQ(0, backup_path("y.txt", FORMAT_BAK, false));
}

}  // namespace

namespace {

/// Every entry name directly in /d.
std::vector<std::string> names_in(const FakePlatform& fs) {
    return fs.list("/d");
}

/// Backs up /d/name of the installed platform with the candidates tested against view.
int listed_backup(const std::string& name, BackupFormat format, bool hex, DirectoryView& view) {
    std::unique_ptr<Directory> d;
    file_system().open_directory("/d", "*", d);
    BackupRequest request;
    request.format = format;
    request.hex = hex;
    BackupPlace place{*d, signals(), 3, &view};
    BackupResult r = backup_file(place, name.c_str(), 0, request);
    return r.outcome == Outcome::DONE;
}

}  // namespace

TEST(ListedBackup, AgreesWithTheTestOnDiskOnRandomDirectories) {
    std::mt19937 rng(2024);
    const char* bases[] = {"a", "a.txt", "b.tar.gz", ".p", "x.000", "x"};
    int compared = 0;
    for (int round = 0; round < 400; ++round) {
        FakePlatform plain;
        plain.add_dir("/d");
        for (int i = 0; i < 12; ++i) {
            std::string name = bases[rng() % 6];
            int n = static_cast<int>(rng() % 6);
            char number[8];
            std::snprintf(number, sizeof number, rng() % 4 ? "%03d" : "%04x", n);
            switch (rng() % 4) {
                case 0:
                    break;
                case 1:
                    name += std::string(".") + number + ".bak";
                    break;
                case 2:
                    name += std::string(".") + number;
                    break;
                default: {
                    size_t dot = name.rfind('.');
                    if (dot != std::string::npos && dot > 0) {
                        name = name.substr(0, dot) + "." + number + name.substr(dot);
                    }
                }
            }
            if (rng() % 8 == 0)
                plain.add_dir("/d/" + name);
            else
                plain.add_file("/d/" + name);
        }
        const BackupFormat format = static_cast<BackupFormat>(rng() % 4);
        const bool hex = rng() % 3 == 0;
        auto entries = plain.entries;
        std::vector<std::string> names = names_in(plain);

        // The same files in the same order, once through the listing and once on disk.
        std::map<std::string, bool> listed_result;
        {
            FakePlatform listed;
            listed.entries = entries;
            DirectoryView view(names);
            for (const std::string& n : names) {
                if (!entries.at("/d/" + n)) listed_backup(n, format, hex, view);
            }
            listed_result = listed.entries;
        }
        platform_install(&plain);
        for (const std::string& n : names) {
            if (!entries.at("/d/" + n)) backup_path(("/d/" + n).c_str(), format, hex);
        }
        ASSERT_EQ(plain.entries, listed_result) << "round " << round;
        ++compared;
    }
    EXPECT_EQ(400, compared);
}

TEST(ListedBackup, AStaleViewFallsBackToTheTestsOnDisk) {
    FakePlatform fs;
    fs.add_dir("/d");
    fs.add_file("/d/f");
    std::vector<std::string> names = names_in(fs);
    DirectoryView view(names);
    fs.add_file("/d/f.000.bak");  // created after the listing
    fs.add_file("/d/f.001.bak");
    EXPECT_EQ(1, listed_backup("f", FORMAT_BAK, false, view));
    EXPECT_TRUE(fs.has("/d/f.002.bak"));
    EXPECT_TRUE(fs.has("/d/f.000.bak"));

    // The listing's choice and the tests' choice refused as taken: the next name is tried.
    fs.add_file("/d/g");
    names = names_in(fs);
    DirectoryView again(names);
    fs.move_refused.insert("/d/g.000.bak");
    EXPECT_EQ(1, listed_backup("g", FORMAT_BAK, false, again));
    EXPECT_TRUE(fs.has("/d/g.001.bak"));

    // Refused for another reason: the file stays.
    fs.add_file("/d/h");
    names = names_in(fs);
    DirectoryView third(names);
    fs.move_failing.insert("/d/h.000.bak");
    EXPECT_EQ(0, listed_backup("h", FORMAT_BAK, false, third));
    EXPECT_TRUE(fs.has("/d/h"));
}

TEST(ListedBackup, ARenamedNameIsFreeForTheFilesAfterIt) {
    FakePlatform fs;
    fs.add_dir("/d");
    fs.add_file("/d/x.000");
    fs.add_file("/d/x");
    std::vector<std::string> names = {"x.000", "x"};
    DirectoryView view(names);
    EXPECT_EQ(1, listed_backup("x.000", FORMAT_NUMBER, false, view));
    EXPECT_EQ(1, listed_backup("x", FORMAT_NUMBER, false, view));
    EXPECT_TRUE(fs.has("/d/x.000.000"));
    EXPECT_TRUE(fs.has("/d/x.000"));        // x took the name x.000 gave up
    EXPECT_EQ(2, fs.calls[Call::TYPE_OF]);  // no test on disk but the look at each new name
}

TEST(ListedBackup, WhereNamesFoldADryRunTakesWhatTheRunWould) {
    // Names that differ in case only are one name: the second file's first candidate is the
    // first one's backup, and a listed backup in other case is taken, beyond ASCII too.
    FakePlatform fs;
    fs.fold_case = true;
    fs.add_dir("/d");
    std::vector<std::string> names = {"A.doc",
                                      "a.doc",
                                      "\xc3\x84pfel.txt",
                                      "\xc3\xa4PFEL.txt.000.bak",
                                      "\xcf\x83.txt",
                                      "\xce\xa3.TXT.000.bak"};
    for (const std::string& n : names) fs.add_file("/d/" + n);
    platform_install(&fs);
    std::unique_ptr<Directory> d;
    file_system().open_directory("/d", "*", d);
    DirectoryView view(names, d.get());
    BackupRequest request;
    request.dry_run = true;
    BackupPlace place{*d, signals(), 3, &view};
    const char* const wanted[][2] = {{"A.doc", "A.doc.000.bak"},
                                     {"a.doc", "a.doc.001.bak"},
                                     {"\xc3\x84pfel.txt", "\xc3\x84pfel.txt.001.bak"},
                                     {"\xcf\x83.txt", "\xcf\x83.txt.001.bak"}};
    for (const auto& w : wanted) {
        BackupResult r = backup_file(place, w[0], 0, request);
        EXPECT_EQ(Outcome::DONE, r.outcome) << w[0];
        EXPECT_EQ(w[1], r.backup) << w[0];
    }
    EXPECT_EQ(0, fs.moves);  // a dry run
}

TEST(Catalog, ExactShapesOnlyAndNewestByTime) {
    struct Case {
        const char* name;
        BackupFormat format;
        bool hex;
        const char* original;  // null: not a backup in that shape
        int number;
    };
    const Case cases[] = {
        {"Example.doc.000.bak", FORMAT_BAK, false, "Example.doc", 0},
        {"Example.doc.998.bak", 3, false, "Example.doc", 998},
        {"Example.doc.999.bak", FORMAT_BAK, false, nullptr, 0},  // past the numbers
        {"Example.docx.000.bak", FORMAT_BAK, false, "Example.docx", 0},
        {"Example.doc.00a.bak", FORMAT_BAK, false, nullptr, 0},
        {"Example.doc.00ff.bak", FORMAT_BAK, true, "Example.doc", 255},
        {"Example.doc.00FF.bak", FORMAT_BAK, true, nullptr, 0},  // the program writes lowercase
        {"backup.tar.001", FORMAT_NUMBER, false, "backup.tar", 1},
        {"IMG.001.jpg", FORMAT_BEFORE_EXT, false, "IMG.jpg", 1},
        {"IMG.jpg", FORMAT_BEFORE_EXT, false, nullptr, 0},
        {".000.bak", FORMAT_BAK, false, nullptr, 0},
        {".tavrix-7-0123456789abcdef.tmp.000.bak", FORMAT_BAK, false, nullptr, 0},
    };
    for (const Case& c : cases) {
        std::string original;
        int number = -1;
        const bool parsed = parse_backup_name(c.name, c.format, c.hex, original, number);
        EXPECT_EQ(c.original != nullptr, parsed) << c.name;
        if (parsed && c.original) {
            EXPECT_EQ(c.original, original) << c.name;
            EXPECT_EQ(c.number, number) << c.name;
        }
    }
    // The lowest number made last is the newest; a gone original is still listed.
    FakePlatform fs;
    fs.add_dir("/d");
    for (const char* n : {"r.doc.000.bak", "r.doc.001.bak", "r.doc.002.bak", "gone.doc.000.bak"})
        fs.add_file(std::string("/d/") + n);
    fs.add_file("/d/r.doc");
    fs.changed["/d/r.doc.000.bak"] = 30;
    fs.changed["/d/r.doc.001.bak"] = 10;
    fs.changed["/d/r.doc.002.bak"] = 20;
    std::unique_ptr<Directory> d;
    file_system().open_directory("/d", "*.doc", d);
    const std::vector<std::string> names = names_in(fs);
    std::vector<CatalogEntry> entries;
    for (const std::string& n : names) entries.push_back({n, reference_match("*.doc", n)});
    std::vector<PassedOver> passed;
    const std::vector<Original> got = gather_originals(*d, entries, FORMAT_BAK, false, passed);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ("gone.doc", got[0].name);
    EXPECT_FALSE(got[0].exists);
    EXPECT_EQ("r.doc", got[1].name);
    ASSERT_EQ(3u, got[1].backups.size());
    EXPECT_EQ("r.doc.000.bak", got[1].backups[0].name);
    EXPECT_EQ("r.doc.002.bak", got[1].backups[1].name);
    EXPECT_EQ("r.doc.001.bak", got[1].backups[2].name);
}

TEST(OtherDirectory, BackupsGoThereAndRestoresComeBack) {
    // A rename in one call, in steps, a copy, and a copy without a name while it is made:
    // the backup is made in the other directory, and restored from it under the file's name.
    struct Quiet : CopyWatcher {
        bool keep_going(uint64_t, uint64_t) override { return true; }
    } quiet;
    for (int mode = 0; mode < 4; ++mode) {
        FakePlatform fs;
        fs.add_dir("/d");
        fs.add_dir("/d/.bak");
        fs.add_file("/d/x", "NEW");
        fs.add_file("/d/.bak/x.000.bak", "OLD");
        fs.no_noreplace = mode == 1;
        fs.unnamed_files = mode != 3;
        std::unique_ptr<Directory> d, b;
        file_system().open_directory("/d", "x", d);
        file_system().open_directory("/d/.bak", "*", b);
        BackupPlace place{*d, signals(), 3, nullptr, b.get()};
        BackupRequest request;
        request.copy = mode >= 2;
        PreparedCopy made;
        if (request.copy) {
            made = prepare_copy(*d, *b, signals(), "x", quiet);
            flush_copies(*b, signals(), {&made});
        }
        const BackupResult r = backup_file(place, "x", 0, request, request.copy ? &made : nullptr);
        EXPECT_EQ(Outcome::DONE, r.outcome) << mode << r.reason;
        EXPECT_EQ("NEW", fs.content["/d/.bak/x.001.bak"]) << mode;
        EXPECT_EQ(request.copy, fs.has("/d/x")) << mode;
        // The older backup back; the current file, if any, to the other directory.
        Original o;
        o.name = "x";
        o.exists = fs.has("/d/x");
        if (o.exists) d->look("x", o.info);
        BackupEntry old;
        old.name = "x.000.bak";
        b->look("x.000.bak", old.info);
        o.backups.push_back(old);
        const RestoreResult back = restore_file(place, o, 0, request, quiet);
        EXPECT_EQ(Outcome::DONE, back.outcome) << mode << back.reason;
        EXPECT_EQ("OLD", fs.content["/d/x"]) << mode;
        EXPECT_EQ(request.copy ? "NEW" : "", o.exists ? fs.content["/d/.bak/x.002.bak"] : "")
            << mode;
        for (const std::string& n : fs.list("/d")) EXPECT_FALSE(is_private_name(n.c_str())) << n;
        for (const std::string& n : fs.list("/d/.bak")) EXPECT_FALSE(is_private_name(n.c_str()));
    }
}

TEST(Retention, EachRuleKeepsWhatItSays) {
    // Days since 1970 as seconds at noon UTC; each case's backups newest first.
    auto day = [](int64_t d, int hour = 12) { return FileTime{d * 86400 + hour * 3600, 0}; };
    const int64_t dec_31_2025 = 20453, jan_1_2026 = 20454;  // a Wednesday and a Thursday
    struct Case {
        const char* rules;
        std::vector<FileTime> times;
        std::vector<bool> kept;
    };
    const Case cases[] = {
        {"2", {day(10), day(9), day(8)}, {true, true, false}},
        // daily: the newest of each of the last 2 days that have a backup, from the newest.
        {"daily=2", {day(10, 20), day(10, 8), day(7), day(6)}, {true, false, true, false}},
        // hourly at an hour's boundary; 3h from "now" (day 10, 12:00) keeps 09:00:01 on.
        {"hourly=2",
         {day(10, 11), FileTime{day(10, 11).sec - 1, 0}, day(10, 9)},
         {true, true, false}},
        {"3h", {day(10, 12), FileTime{day(10, 9).sec + 1, 0}, day(10, 9)}, {true, true, false}},
        // ISO weeks: Wednesday 2025-12-31 and Thursday 2026-01-01 are one week (2026-W01).
        {"weekly=2",
         {day(jan_1_2026), day(dec_31_2025), day(dec_31_2025 - 7)},
         {true, false, true}},
        {"monthly=2,yearly=1",
         {day(jan_1_2026), day(dec_31_2025), day(dec_31_2025 - 1)},
         {true, true, false}},
        // Rules combined: a backup stays when any rule keeps it; the newest always.
        {"1,daily=2", {day(3), day(10), day(9)}, {true, true, false}},
    };
    for (const Case& c : cases) {
        KeepRules rules;
        std::string why;
        ASSERT_TRUE(parse_keep_rules(c.rules, rules, why)) << c.rules << why;
        const int64_t now = std::max(day(10).sec, c.times[0].sec);
        const std::vector<Verdict> v = judge_backups(c.times, rules, now, nullptr);
        std::vector<bool> kept;
        for (const Verdict& x : v) kept.push_back(x.kept);
        EXPECT_EQ(c.kept, kept) << c.rules;
        EXPECT_EQ("the newest", v[0].why) << c.rules;
    }
    // Local time: at +01:00 from that moment on, 23:30 UTC is the next day; its label too.
    KeepRules daily;
    std::string why;
    ASSERT_TRUE(parse_keep_rules("daily=2", daily, why));
    const int64_t switched = day(9, 23).sec;
    const auto offset = [switched](int64_t t) { return t >= switched ? 3600 : 0; };
    const std::vector<Verdict> v = judge_backups(
        {FileTime{day(9, 23).sec + 1800, 0}, day(9, 10), day(8)}, daily, day(10).sec, offset);
    EXPECT_EQ("newest of 1970-01-10 (daily 2 of 2)", v[1].why);
    EXPECT_FALSE(v[2].kept);
    // Refused: an unknown rule, 0, past the bound, given twice.
    for (const char* bad : {"0", "daily=0", "100000", "3,4", "7d,2w", "fortnightly=2", "3,", "d"})
        EXPECT_FALSE(parse_keep_rules(bad, daily, why)) << bad;
}
