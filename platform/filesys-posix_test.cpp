// The real POSIX platform layer on a real temporary directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "backup/rename.h"
#include "platform/platform.h"

namespace {

struct PosixLayer : ::testing::Test {
    std::string dir;
    FileSystem& os = file_system_native();

    void SetUp() override {
        char name[] = "/tmp/tavrix-layer-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(name));
        dir = name;
    }
    void TearDown() override { ASSERT_EQ(0, std::system(("rm -rf '" + dir + "'").c_str())); }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name) << text;
    }
    std::unique_ptr<Directory> open(const std::string& path, const char* pattern) {
        std::unique_ptr<Directory> d;
        os.open_directory(path.c_str(), pattern, d);
        return d;
    }
    std::string read(const std::string& name) {
        std::ifstream in(dir + "/" + name);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

// Through the protocol, as a run renames: in one call, or in steps in the portable build.
TEST_F(PosixLayer, RenameNeverReplaces) {
    write("a", "first");
    write("b", "second");
    auto d = open(dir, "*");
    ASSERT_NE(nullptr, d);
    auto rename = [&](const char* from, const char* to) {
        return EntryMove(*d, *d, signals_native(), from).to(to);
    };
    EXPECT_EQ(Outcome::TAKEN, rename("a", "b"));
    EXPECT_EQ("first", read("a"));
    EXPECT_EQ("second", read("b"));
    EXPECT_EQ(Outcome::DONE, rename("a", "c"));
    EXPECT_EQ("first", read("c"));
    EXPECT_EQ(EntryType::MISSING, d->type_of("a"));
    EXPECT_EQ(Outcome::GONE, rename("a", "d"));  // vanished
    ASSERT_EQ(0, symlink("nowhere", (dir + "/dangling").c_str()));
    EXPECT_EQ(EntryType::LINK, d->type_of("dangling"));  // a dangling link still takes its name
    EXPECT_EQ(Outcome::TAKEN, rename("c", "dangling"));
    EXPECT_EQ(FsStatus::TAKEN, d->link("c", *d, "b").status);
    // Into another directory of the same file system, never replacing there either.
    ASSERT_EQ(0, mkdir((dir + "/other").c_str(), 0755));
    write("other/b", "theirs");
    auto other = open(dir + "/other", "*");
    ASSERT_NE(nullptr, other);
    EXPECT_EQ(Outcome::TAKEN, EntryMove(*d, *other, signals_native(), "c").to("b"));
    EXPECT_EQ(Outcome::DONE, EntryMove(*d, *other, signals_native(), "c").to("c.000.bak"));
    EXPECT_EQ("first", read("other/c.000.bak"));
    EXPECT_EQ("theirs", read("other/b"));
    EXPECT_EQ(EntryType::MISSING, d->type_of("c"));
    ASSERT_EQ(0, ::rename((dir + "/other/c.000.bak").c_str(), (dir + "/c").c_str()));
    ASSERT_EQ(0, mkdir((dir + "/sub").c_str(), 0755));
    EXPECT_EQ(Outcome::REFUSED, rename("sub", "e"));  // a directory keeps its name
    EXPECT_EQ(EntryType::DIRECTORY, d->type_of("sub"));
    EXPECT_EQ(EntryType::MISSING, d->type_of("e"));
    // Nothing else: no private name is left.
    FindEntry e;
    FsResult failure;
    std::vector<std::string> names;
    while (d->next(e, failure)) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{".", "..", "b", "c", "dangling", "other", "sub"}), names);
}

TEST_F(PosixLayer, ListingClassifiesEntries) {
    write("file", "");
    ASSERT_EQ(0, mkdir((dir + "/sub").c_str(), 0755));
    ASSERT_EQ(0, symlink("sub", (dir + "/dirlink").c_str()));
    ASSERT_EQ(0, symlink("file", (dir + "/filelink").c_str()));
    ASSERT_EQ(0, symlink("nowhere", (dir + "/dangling").c_str()));
    ASSERT_EQ(0, mkfifo((dir + "/fifo").c_str(), 0644));
    std::map<std::string, bool> seen;
    auto d = open(dir + "\\", "*i*");  // '\' separates as '/' does
    ASSERT_NE(nullptr, d);
    FindEntry e;
    FsResult failure;
    while (d->next(e, failure)) {
        if (e.matched) seen[e.name] = e.is_directory;
    }
    std::map<std::string, bool> expected = {{"file", false},
                                            {"dirlink", true},
                                            {"filelink", false},
                                            {"dangling", false},
                                            {"fifo", false}};
    EXPECT_EQ(expected, seen);
    EXPECT_EQ(nullptr, open(dir, ""));
    EXPECT_EQ(nullptr, open(dir + "/missing", "*"));
}

TEST_F(PosixLayer, FullPathAndCurrentDirectoryAnswerWhateverTheirLength) {
    char saved[4096];
    ASSERT_NE(nullptr, getcwd(saved, sizeof saved));
    ASSERT_EQ(0, chdir(dir.c_str()));
    std::string got;
    ASSERT_TRUE(os.current_directory(got).ok());
    EXPECT_EQ(dir, got);
    ASSERT_TRUE(os.full_path("x/./y", got).ok());
    EXPECT_EQ(dir + "/x/y", got);
    // Deeper than PATH_MAX: reached one step at a time.
    std::string deep = dir;
    const std::string step(200, 'd');
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(0, mkdir(step.c_str(), 0700));
        ASSERT_EQ(0, chdir(step.c_str()));
        deep += "/" + step;
    }
    ASSERT_TRUE(os.current_directory(got).ok());
    EXPECT_EQ(deep, got);
    ASSERT_EQ(0, chdir(saved));
    for (int i = 25; i > 0; --i) rmdir((deep.substr(0, dir.size() + 201 * i)).c_str());
}

}  // namespace
