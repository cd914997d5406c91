#include "app/format.h"

#include <gtest/gtest.h>

#include "tests/fake_platform.h"

TEST(Format, CivilTimesFromTheEpochToTheYear9999) {
    EXPECT_EQ("1970-01-01 00:00:00", civil_time(0));
    EXPECT_EQ("1969-12-31 23:59:59", civil_time(-1));
    EXPECT_EQ("2024-02-29 00:00:00", civil_time(1709164800));
    EXPECT_EQ("2300-01-01 00:00:00", civil_time(10413792000));
    EXPECT_EQ("9999-12-31 23:59:59", civil_time(253402300799));
}

TEST(Format, LocalTimesCarryTheirOffsetAndIsoTimesAreUtc) {
    FakePlatform fs;
    fs.offset = 3600;
    EXPECT_EQ("2024-02-29 01:00:00 +0100", local_time(FileTime{1709164800, 5}));
    fs.offset = -5400;
    EXPECT_EQ("2024-02-28 22:30:00 -0130", local_time(FileTime{1709164800, 0}));
    EXPECT_EQ("1969-12-31T23:59:59Z", iso_time(FileTime{-1, 999999999}));
}

TEST(Format, SizesAtTheBoundariesOfTheirUnits) {
    EXPECT_EQ("0 B", human_size(0));
    EXPECT_EQ("1023 B", human_size(1023));
    EXPECT_EQ("1.0 KiB", human_size(1024));
    EXPECT_EQ("1.0 MiB", human_size((1 << 20) - 1));  // never "1024.0 KiB"
    EXPECT_EQ("3.5 MiB", human_size(3670016));
    EXPECT_EQ("16384.0 TiB", human_size(UINT64_C(1) << 54));
}
