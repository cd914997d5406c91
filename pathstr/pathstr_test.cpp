#include "pathstr/pathstr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {
std::string dir_of(const char* p) {
    const char* d = path_directory(p);
    return d ? d : "(null)";
}
}  // namespace

TEST(StrRoutines, BoundedCopyAndConcatenateWriteAtMostNAndATerminator) {
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    str_copy_max(buf, "abcde", 3);
    EXPECT_STREQ("abc", buf);
    EXPECT_EQ('x', buf[4]);  // nothing past the terminator

    char cat[8] = "ab";
    std::memset(cat + 3, 'x', 5);
    str_concat_max(cat, "cdefg", 2);
    EXPECT_STREQ("abcd", cat);
    EXPECT_EQ('x', cat[5]);

    EXPECT_EQ(buf, str_copy_max(buf, nullptr, 3));
    str_concat_max(nullptr, "a", 1);  // tolerated
}

TEST(StrRoutines, LastPositionCountsFromOne) {
    EXPECT_EQ(0u, str_last_pos("abc", 'z'));
    EXPECT_EQ(1u, str_last_pos("abc", 'a'));
    EXPECT_EQ(4u, str_last_pos("abca", 'a'));
    EXPECT_EQ(0u, str_last_pos(nullptr, 'a'));
    EXPECT_EQ(4u, str_last_pos("abc", '\0'));
    EXPECT_EQ(6u, path_last_separator("a\\b/c\\d"));
}

TEST(StrRoutines, StripTrailingAndAppend) {
    char s[16] = "a//";
    EXPECT_STREQ("a", str_strip_trailing(s, '/'));
    char only[16] = "///";
    EXPECT_STREQ("", str_strip_trailing(only, '/'));
    EXPECT_STREQ("ab", str_append_char(s, 'b'));
}

TEST(PathSplitters, Extension) {
    EXPECT_STREQ(".gz", path_extension("archive.tar.gz"));
    EXPECT_STREQ("", path_extension("README"));
    EXPECT_STREQ(".profile", path_extension(".profile"));
    EXPECT_STREQ(".doc", path_extension("C:\\dir\\Example.doc"));
    EXPECT_STREQ("", path_extension("C:\\my.dir\\file"));
    EXPECT_STREQ("", path_extension(nullptr));
    // Full paths here separate with '/': a dot in a directory is never the extension.
    EXPECT_STREQ(PLATFORM_SLASH_IN_FULL_PATHS ? "" : ".dir/README",
                 path_extension("/my.dir/README"));
}

TEST(PathSplitters, Directory) {
    EXPECT_EQ("(null)", dir_of(""));
    EXPECT_EQ("(null)", dir_of(nullptr));
    EXPECT_EQ("", dir_of("*.doc"));
    EXPECT_EQ("docs", dir_of("docs\\*.doc"));
    EXPECT_EQ("docs", dir_of("docs\\\\*.doc"));
    EXPECT_EQ("/", dir_of("/x"));
    EXPECT_EQ("\\", dir_of("\\x"));
    EXPECT_EQ("/", dir_of("//x"));  // only separators: the root
    EXPECT_EQ("\\", dir_of("\\\\\\x"));
    EXPECT_EQ("a/b", dir_of("a/b/*"));
    EXPECT_EQ("a", dir_of("a\\b/c"));  // the last backslash wins over a later slash
    EXPECT_EQ("", dir_of(std::string(MAX_PATH, 'a').c_str()));
    EXPECT_EQ("a", dir_of(("a/" + std::string(MAX_PATH - 3, 'b')).c_str()));
    if (PLATFORM_DRIVES) {
        EXPECT_EQ("C:", dir_of("C:"));
        EXPECT_EQ("C:\\", dir_of("C:\\x"));
        EXPECT_EQ("C:", dir_of("C:*.doc"));  // that drive's current directory
        EXPECT_EQ(2u, path_name_start("C:*.doc"));
    } else {
        EXPECT_EQ("", dir_of("a:b*"));  // a colon is an ordinary character
        EXPECT_EQ(0u, path_name_start("a:b*"));
    }
}

TEST(PathSplitters, FileNameAndStripExtension) {
    EXPECT_STREQ("Example.doc", path_file_name("Example.doc"));
    EXPECT_STREQ("c", path_file_name("a/b\\c"));
    EXPECT_STREQ("b/c", path_file_name("a\\b/c"));
    EXPECT_STREQ("", path_file_name(nullptr));
    EXPECT_STREQ("C:\\dir\\Example", path_strip_extension("C:\\dir\\Example.doc"));
    const char* readme = "C:\\dir\\README";
    EXPECT_EQ(readme, path_strip_extension(readme));
}

TEST(PathSplitters, SecondCallOverwritesTheFirst) {
    char* first = path_file_name("a/one");
    char* second = path_file_name("a/two");
    EXPECT_EQ(first, second);
    EXPECT_STREQ("two", first);
}

TEST(PathSplitters, AddSeparator) {
    char docs[16] = "C:\\docs";
    EXPECT_STREQ("C:\\docs\\", path_add_separator(docs, '\\'));
    char root[16] = "/";
    EXPECT_STREQ("/", path_add_separator(root, '/'));
    char empty[16] = "";
    EXPECT_STREQ("", path_add_separator(empty, '/'));
    char drive[16] = "C:";
    EXPECT_STREQ(PLATFORM_DRIVES ? "C:" : "C:/", path_add_separator(drive, '/'));
}
