#include "console/console.h"

#include <gtest/gtest.h>

#include "tests/fake_platform.h"

TEST(ConsoleColour, SetForeKeepsTheBackground) {
    FakePlatform con;
    con.attr = 0x1F;
    console_set_fore(14);
    EXPECT_EQ(0x1E, con.attr);
    con.attr = 7;
    console_set_fore(14);
    EXPECT_EQ(14, con.attr);
    con.attr = 0x4E;
    console_set_fore(7);
    EXPECT_EQ(0x47, con.attr);
    con.attr = 0;
    console_set_fore(0x1F);
    EXPECT_EQ(0x1F, con.attr);
}

TEST(ConsoleCursor, GotoCountsFromOneAndRaisesLowValues) {
    FakePlatform con;
    struct {
        int col, row, x, y;
    } cases[] = {{0, 0, 0, 0}, {1, 1, 0, 0}, {-5, 1, 0, 0}, {5, -3, 4, 0}, {80, 24, 79, 23}};
    for (auto c : cases) {
        con.cursor_x = con.cursor_y = 9;
        console_goto(c.col, c.row);
        EXPECT_EQ(c.x, con.cursor_x);
        EXPECT_EQ(c.y, con.cursor_y);
        EXPECT_EQ(c.x + 1, console_cursor_col());
        EXPECT_EQ(c.y + 1, console_cursor_row());
    }
    console_goto(81, 1);  // outside the buffer: refused, the cursor stays
    EXPECT_EQ(79, con.cursor_x);
}

TEST(ConsoleFallbacks, NoConsoleGivesZeroAndChangesNothing) {
    FakePlatform con;
    con.console = false;
    EXPECT_EQ(0, console_rows());
    EXPECT_EQ(0, console_get_attr());
    EXPECT_EQ(0, console_cursor_col());
    EXPECT_EQ(0, console_cursor_row());
    console_clear();
    console_set_fore(14);
    EXPECT_EQ(0, con.clears);
    EXPECT_EQ(7, con.attr);
    console_printf("%s %d", "still printed", 5);
    EXPECT_EQ("still printed 5", con.out);
}

TEST(ConsoleClear, BlanksInTheCurrentAttributeAndHomesTheCursor) {
    FakePlatform con;
    con.height = 300;
    EXPECT_EQ(300, console_rows());
    con.cursor_x = 5;
    con.cursor_y = 200;
    console_clear();
    EXPECT_EQ(1, con.clears);
    EXPECT_EQ(0, con.cursor_x);
    EXPECT_EQ(0, con.cursor_y);
}

TEST(ConsoleOutput, LongMessagesArriveWhole) {
    FakePlatform con;
    std::string big(5000, 'x');
    console_printf("<%s>", big.c_str());
    EXPECT_EQ("<" + big + ">", con.out);
}

TEST(Keys, ExtendedKeyGivesPrefixThenPendingCode) {
    FakePlatform con;
    EXPECT_EQ(0, key_available());
    con.press(KEY_EXT_PREFIX, SCAN_PGUP);
    EXPECT_NE(0, key_available());
    EXPECT_NE(0, key_available());  // testing consumes nothing
    EXPECT_EQ(KEY_EXT_PREFIX, read_key());
    EXPECT_NE(0, key_available());  // the pending code, with the queue empty
    EXPECT_EQ(SCAN_PGUP, read_key());
    EXPECT_EQ(0, key_available());
    con.press('a');
    EXPECT_EQ('a', read_key());
    EXPECT_EQ(-1, read_key());  // the fake's console input has nothing more: a failed read
    con.input = false;
    EXPECT_EQ(0, key_available());
}

TEST(PromptKey, DiscardsEarlierKeysWritesPromptAndLineEnd) {
    FakePlatform con;
    con.press('x');
    con.press(KEY_EXT_PREFIX, SCAN_PGUP);
    // Keys typed before the prompt are dropped; the wait then ends with Esc.
    EXPECT_EQ(KEY_ESC, prompt_key("-- more --"));
    EXPECT_EQ("-- more --\n", con.out);
    EXPECT_GT(con.sleeps, 0);

    con.out.clear();
    con.later.push_back(KeyPress{'k', -1});
    EXPECT_EQ('k', prompt_key(nullptr));
    con.later.push_back(KeyPress{0, 59});
    EXPECT_EQ(0, prompt_key(""));
    EXPECT_EQ("\n\n", con.out);
    EXPECT_EQ(59, read_key());
}

TEST(PromptKey, WithoutConsoleInputReturnsAtOnce) {
    FakePlatform con;
    con.input = false;
    EXPECT_EQ(-1, prompt_key("-- more --"));
    EXPECT_EQ("-- more --\n", con.out);
    EXPECT_EQ(0, con.sleeps);
}

TEST(SafeText, ControlCharactersNeverReachATerminal) {
    EXPECT_EQ("a\\x1b[31mb\\x07\\x7f", escape_controls("a\x1b[31mb\x07\x7f", true, false));
    EXPECT_EQ("caf\xc3\xa9 \xe2\x96\xa0", escape_controls("caf\xc3\xa9 \xe2\x96\xa0", true, false));
    EXPECT_EQ("\\xc2\\x9b1m", escape_controls("\xc2\x9b"
                                              "1m",
                                              true, false));  // C1 CSI in UTF-8
    EXPECT_EQ("\\x9b1m caf\\xe9 \\xe2\\x80\\xae", escape_controls("\x9b"
                                                                  "1m caf\xe9 \xe2\x80\xae",
                                                                  false, true));  // C locale
    EXPECT_EQ("\x9b\xe9", escape_controls("\x9b\xe9", false, false));   // a code page's glyphs
    EXPECT_EQ("\\xff\\xc3", escape_controls("\xff\xc3", true, false));  // not UTF-8
    EXPECT_EQ("\\xed\\xa0\\x80", escape_controls("\xed\xa0\x80", true, false));  // a surrogate
    // Characters that reorder or hide what is shown: right-to-left override, isolates, marks,
    // a zero-width space; the joiners scripts need pass.
    EXPECT_EQ("a\\u202egnp.exe \\u2067x\\u2069 \\u200fy\\u200b \\ufeff z\xe2\x80\x8dw",
              escape_controls("a\xe2\x80\xaegnp.exe \xe2\x81\xa7x\xe2\x81\xa9 "
                              "\xe2\x80\x8fy\xe2\x80\x8b \xef\xbb\xbf z\xe2\x80\x8dw",
                              true, false));

    FakePlatform con;
    EXPECT_EQ("x\\x1by", console_safe("x\x1by"));
    con.console = false;  // a file or a pipe gets the bytes as they are
    EXPECT_EQ("x\x1by", console_safe("x\x1by"));
}
