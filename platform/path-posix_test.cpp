#include "platform/path-posix.h"

#include <gtest/gtest.h>

TEST(AbsolutePath, JoinsFoldsAndKeepsDotDot) {
    EXPECT_EQ("/w/x", absolute_path("/w", "x"));
    EXPECT_EQ("/w/d/x", absolute_path("/w", "d\\x"));
    EXPECT_EQ("/x", absolute_path("/w", "//x"));
    EXPECT_EQ("/w/x", absolute_path("/w", "./x"));
    EXPECT_EQ("/w/../x", absolute_path("/w", "../x"));
    EXPECT_EQ("/a\\b/x", absolute_path("/a\\b", "x"));  // the directory's own name is kept
    EXPECT_EQ("/", absolute_path("/", "."));
}
