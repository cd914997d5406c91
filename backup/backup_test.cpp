#include "backup/backup.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/fake_platform.h"

namespace {

struct BackupFile : ::testing::Test {
    FakePlatform fs;
    void SetUp() override { fs.add_dir("/d"); }
};

TEST_F(BackupFile, FirstFreeNumberFillsGaps) {
    fs.add_file("/d/Example.doc");
    EXPECT_EQ(1, backup_file("/d/Example.doc", FORMAT_BAK, false));
    EXPECT_TRUE(fs.has("/d/Example.doc.000.bak"));

    fs.add_file("/d/Example.doc");
    fs.add_dir("/d/Example.doc.001.bak");  // a directory takes the name too
    fs.add_file("/d/Example.doc.003.bak");
    EXPECT_EQ(1, backup_file("/d/Example.doc", FORMAT_BAK, false));
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
        each.add_file(c.file);
        EXPECT_EQ(1, backup_file(c.file, c.format, c.hex)) << c.backup;
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
    EXPECT_EQ(1, backup_file("/d/Example.doc", FORMAT_BEFORE_EXT, true));
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
    EXPECT_EQ(0, backup_file("/d/f", FORMAT_BAK, false));
    EXPECT_TRUE(fs.has("/d/f"));
    EXPECT_FALSE(fs.has("/d/f.999.bak"));  // 998 is the last decimal candidate

    for (int i = 0; i < SEQUENCE_LIMIT_HEX - 1; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/d/f.%04x", i);
        fs.add_file(name);
    }
    EXPECT_EQ(1, backup_file("/d/f", FORMAT_NUMBER, true));
    EXPECT_TRUE(fs.has("/d/f.ffff"));
    fs.add_file("/d/f");
    EXPECT_EQ(0, backup_file("/d/f", FORMAT_NUMBER, true));  // 0000 to ffff all taken
    EXPECT_TRUE(fs.has("/d/f"));
}

TEST_F(BackupFile, FailuresLeaveTheFileUnderItsName) {
    // No extension for name.NNN.ext, in the file's own name or only in its directory.
    fs.add_file("/d/README");
    fs.add_dir("/d/my.dir");
    fs.add_file("/d/my.dir/README");
    EXPECT_EQ(0, backup_file("/d/README", FORMAT_BEFORE_EXT, false));
    EXPECT_EQ(0, backup_file("/d/my.dir/README", FORMAT_BEFORE_EXT, false));
    EXPECT_EQ(0, backup_file("", FORMAT_BAK, false));
    EXPECT_EQ(0, backup_file(nullptr, FORMAT_BAK, false));

    // The chosen name appears between the test and the rename: nothing is replaced.
    fs.move_refused.insert("/d/README.000.bak");
    EXPECT_EQ(0, backup_file("/d/README", FORMAT_BAK, false));
    EXPECT_EQ(0, fs.moves);
    EXPECT_TRUE(fs.has("/d/README"));
    EXPECT_TRUE(fs.has("/d/my.dir/README"));
}

TEST_F(BackupFile, NamesThatDoNotFitAreNeverCut) {
    // The full path itself: 259 characters fit, 260 do not.
    std::string fits = "/d/" + std::string(MAX_PATH - 1 - 3 - 8, 'a');  // room for ".000.bak"
    fs.add_file(fits);
    EXPECT_EQ(1, backup_file(fits.c_str(), FORMAT_BAK, false));
    EXPECT_TRUE(fs.has(fits + ".000.bak"));

    std::string candidate_too_long = fits + "b";
    fs.add_file(candidate_too_long);
    EXPECT_EQ(0, backup_file(candidate_too_long.c_str(), FORMAT_BAK, false));
    EXPECT_TRUE(fs.has(candidate_too_long));
    EXPECT_EQ(0, backup_file(candidate_too_long.c_str(), FORMAT_BAK, true));

    std::string path_too_long = "/d/" + std::string(MAX_PATH - 3, 'c');
    fs.add_file(path_too_long);
    EXPECT_EQ(0, backup_file(path_too_long.c_str(), FORMAT_NUMBER, false));
    EXPECT_EQ(1, fs.moves);
}

TEST_F(BackupFile, RelativePathIsMadeAbsolute) {
    fs.cwd = "/d";
    fs.add_file("/d/x.txt");
    EXPECT_EQ(1, backup_file("x.txt", FORMAT_BAK, false));
    EXPECT_TRUE(fs.has("/d/x.txt.000.bak"));
    fs.cwd_fails = true;
    fs.add_file("/d/y.txt");
    EXPECT_EQ(0, backup_file("y.txt", FORMAT_BAK, false));
}

}  // namespace
