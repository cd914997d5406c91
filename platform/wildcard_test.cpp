#include "platform/wildcard.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/fake_platform.h"

TEST(Wildcards, StarQuestionAndLiteralBytes) {
    EXPECT_TRUE(wildcard_match("*", "abc"));
    EXPECT_TRUE(wildcard_match("*", ".hidden"));
    EXPECT_TRUE(wildcard_match("*.*", "README"));  // as Windows users expect
    EXPECT_TRUE(wildcard_match("*.doc", "a.b.doc"));
    EXPECT_FALSE(wildcard_match("*.doc", "a.DOC"));  // case counts
    EXPECT_TRUE(wildcard_match("a?c", "abc"));
    EXPECT_FALSE(wildcard_match("a?c", "ac"));
    EXPECT_TRUE(wildcard_match("a*", "a"));
    EXPECT_FALSE(wildcard_match("", "a"));
    EXPECT_TRUE(wildcard_match("[a]", "[a]"));  // no other character is special
    EXPECT_TRUE(wildcard_match("a:b*", "a:bc"));
}

TEST(Wildcards, AgreeWithTheReferenceOnRandomInput) {
    std::mt19937 rng(12345);
    const char alphabet[] = "ab.*?";
    for (int n = 0; n < 20000; ++n) {
        std::string pattern, name;
        for (int i = rng() % 7; i > 0; --i) pattern += alphabet[rng() % 5];
        for (int i = rng() % 8; i > 0; --i) name += alphabet[rng() % 3];
        ASSERT_EQ(reference_match(pattern, name), wildcard_match(pattern.c_str(), name.c_str()))
            << pattern << " ~ " << name;
    }
}
