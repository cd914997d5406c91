#include "app/switches.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/traits.h"
#include "tests/command_line.h"

TEST(Switches, DashSlashAndCaseAllWork) {
    RunOptions o;
    EXPECT_EQ(ParseResult::RUN, parse({"-q", "-hex", "/format3", "x"}, o));
    EXPECT_FALSE(o.verbose);
    EXPECT_TRUE(o.hex);
    EXPECT_EQ(2, o.format);
    EXPECT_STREQ("x", o.spec);

    RunOptions later;
    EXPECT_EQ(ParseResult::RUN,
              parse({"/FORMAT2", "-Format1", "-X", "-nonsense", "/debug"}, later));
    EXPECT_EQ(0, later.format);
    EXPECT_TRUE(later.verbose);
    EXPECT_EQ(nullptr, later.spec);  // unknown switches are ignored, not taken as the file
}

TEST(Switches, HelpAndTooManyDependOnWhichComesFirst) {
    RunOptions o;
    EXPECT_EQ(ParseResult::TOO_MANY, parse({"a", "b", "/?"}, o));
    RunOptions h;
    EXPECT_EQ(ParseResult::HELP, parse({"/?", "a", "b"}, h));
    RunOptions dash;
    EXPECT_EQ(ParseResult::HELP, parse({"a", "-H"}, dash));
}

TEST(Switches, SlashPathsOnPosix) {
    if (PLATFORM_SEPARATOR != '/') GTEST_SKIP() << "absolute paths begin with '/' only on POSIX";
    RunOptions o;
    EXPECT_EQ(ParseResult::RUN, parse({"/tmp/*.doc", "/Q"}, o));
    EXPECT_STREQ("/tmp/*.doc", o.spec);
    EXPECT_FALSE(o.verbose);
    RunOptions two;
    EXPECT_EQ(ParseResult::TOO_MANY, parse({"/tmp/a", "/x"}, two));
    RunOptions dash;
    EXPECT_EQ(ParseResult::RUN, parse({"-tmp/a"}, dash));  // a dash always makes a switch
    EXPECT_EQ(nullptr, dash.spec);
}
