#include "platform/sgr.h"

#include <gtest/gtest.h>

TEST(Colours, ConsoleAttributesAsSgr) {
    EXPECT_EQ("\x1b[0m", sgr_for_attr(0x07));
    EXPECT_EQ("\x1b[0;93m", sgr_for_attr(0x0E));
    EXPECT_EQ("\x1b[0;97;44m", sgr_for_attr(0x1F));
    EXPECT_EQ("\x1b[0;93;44m", sgr_for_attr(0x1E));
    EXPECT_EQ("\x1b[0;31;107m", sgr_for_attr(0xF4));
}
