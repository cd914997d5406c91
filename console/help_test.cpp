#include "console/help.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "tests/fake_platform.h"

namespace {

const KeyPress ANY{'x', -1};
const KeyPress PGUP{KEY_EXT_PREFIX, SCAN_PGUP};
const KeyPress ESC{KEY_ESC, -1};

struct HelpRun {
    std::string out;
    int clears = 0;
};

HelpRun run_help(int rows, std::vector<KeyPress> answers) {
    FakePlatform con;
    con.height = rows;
    con.later.assign(answers.begin(), answers.end());
    help_page(16, 7, 0);
    EXPECT_TRUE(con.later.empty()) << "keys left unread";
    return HelpRun{con.out, con.clears};
}

/// The output of a help run that showed these pieces of text (line indexes), one pause
/// between each two.
std::string shown(const std::vector<std::vector<int>>& pieces) {
    std::string out;
    for (size_t p = 0; p < pieces.size(); ++p) {
        if (p > 0) out += std::string(MORE_PROMPT) + "\n";
        for (int i : pieces[p]) {
            if (i == 0) {
                std::string title = help_lines[0];
                title.resize(80, ' ');
                out += title;
            } else {
                out += std::string(help_lines[i]) + "\r\n";
            }
        }
    }
    return out;
}

std::vector<int> lines(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
}

}  // namespace

TEST(HelpText, TitleAndLinesAsGiven) {
    EXPECT_EQ(0, std::string(help_lines[0]).find("           Tavrix v1.00"));
    EXPECT_LE(std::string(help_lines[0]).size(), 80u);
    for (int i : {1, 4, 7, 9, 11, 13}) EXPECT_STREQ("", help_lines[i]);
    EXPECT_EQ(75u, std::string(help_lines[2]).size());
    EXPECT_EQ(62u, std::string(help_lines[21]).size());
}

TEST(HelpPager, TallWindowShowsEverythingWithoutPause) {
    HelpRun run = run_help(25, {});
    EXPECT_EQ(shown({lines(0, 21)}), run.out);
    EXPECT_EQ(1, run.clears);
}

TEST(HelpPager, TwentyFourRowsPausesOnceAtTheEnd) {
    EXPECT_EQ(shown({lines(0, 21), {}}), run_help(24, {ANY}).out);
    EXPECT_EQ(shown({lines(0, 21), {}}), run_help(24, {ESC}).out);
    HelpRun back = run_help(24, {PGUP, ANY});
    EXPECT_EQ(shown({lines(0, 21), lines(0, 21), {}}), back.out);  // from the title again
    EXPECT_EQ(2, back.clears);
}

TEST(HelpPager, TwentyRowsWritesLineEighteenOverThePrompt) {
    EXPECT_EQ(shown({lines(0, 17), lines(18, 21)}), run_help(20, {ANY}).out);

    FakePlatform con;
    con.height = 20;
    con.marks = true;
    con.later.push_back(ANY);
    help_page(16, 7, 0);
    // After the prompt's line end the cursor goes back up to the prompt's own row.
    std::string prompt = std::string(MORE_PROMPT) + "\n";
    EXPECT_NE(std::string::npos, con.out.find(prompt + "{goto 0,18}" + help_lines[18]));
}

TEST(HelpPager, PageBackFromTheThirdPageOfFive) {
    // Eight rows: pages of five. PgUp at the pause after line 15 shows line 5 alone and
    // pauses again; the next key shows 6 to 10, where PgUp starts again from the title.
    HelpRun run = run_help(8, {ANY, ANY, PGUP, ANY, PGUP, ESC});
    EXPECT_EQ(shown({lines(0, 5), lines(6, 10), lines(11, 15), {5}, lines(6, 10), lines(0, 5), {}}),
              run.out);
    EXPECT_EQ(3, run.clears);
}

TEST(HelpPager, FourRowsPausesAfterEveryLine) {
    std::vector<KeyPress> keys(23, ANY);
    keys.insert(keys.begin() + 2, PGUP);  // at line 3: on from line 1
    std::vector<std::vector<int>> pieces = {lines(0, 1), {2}, {3}};
    for (int i = 1; i <= 21; ++i) pieces.push_back({i});
    pieces.push_back({});
    EXPECT_EQ(shown(pieces), run_help(4, keys).out);
}

TEST(HelpPager, NoConsolePausesAfterEveryThirdLine) {
    // Output to a file: page size -3; without console input each pause goes on at once.
    FakePlatform con;
    con.console = false;
    con.input = false;
    help_page(16, 7, 0);
    std::vector<std::vector<int>> pieces = {lines(0, 3)};
    for (int i = 4; i <= 19; i += 3) pieces.push_back(lines(i, i + 2));
    pieces.push_back({});
    EXPECT_EQ(shown(pieces), con.out);
    EXPECT_EQ(0, con.clears);
}

TEST(HelpPager, NegativePageSizesJumpForwardOnPageUp) {
    // One row: page size -2. PgUp at line 18 goes on from line 22: the help ends there.
    std::vector<KeyPress> keys(8, ANY);
    keys.push_back(PGUP);
    std::vector<std::vector<int>> pieces = {lines(0, 2)};
    for (int i = 3; i <= 17; i += 2) pieces.push_back(lines(i, i + 1));
    pieces.push_back({});
    HelpRun run = run_help(1, keys);
    EXPECT_EQ(shown(pieces), run.out);
    EXPECT_EQ(2, run.clears);

    // Two rows: page size -1; PgUp at line 1 goes on from line 3.
    std::vector<std::vector<int>> two = {lines(0, 1), {3}, {}};
    EXPECT_EQ(shown(two), run_help(2, {PGUP, ESC}).out);
}

TEST(HelpPager, ThreeRowsRunToTheEndWithoutPause) {
    EXPECT_EQ(shown({lines(0, 21)}), run_help(3, {}).out);
}

TEST(HelpPager, EscEndsAtOnce) {
    EXPECT_EQ(shown({lines(0, 17), {}}), run_help(20, {ESC}).out);
}

TEST(HelpPager, OtherExtendedKeysGoOn) {
    // Keypad PgUp (0, 73) and Alt+PgUp (0, 153) go on, their second code dropped by the
    // next pause; Ctrl+PgUp (224, 134) goes on; the character 224 and then 'I' pages back.
    HelpRun run = run_help(8, {KeyPress{0, 73}, KeyPress{KEY_EXT_PREFIX, 134}, KeyPress{0, 153},
                               KeyPress{KEY_EXT_PREFIX, -1}, KeyPress{'I', -1}, ESC});
    EXPECT_EQ(shown({lines(0, 5), lines(6, 10), lines(11, 15), lines(16, 20), {10}, {}}), run.out);
}

TEST(HelpPager, TitleBarColoursThenBody) {
    FakePlatform con;
    con.height = 30;
    con.marks = true;
    help_page(16, 7, 0);
    EXPECT_EQ(0u, con.out.find("{clear}{goto 0,0}{attr 1f}           Tavrix"));
    EXPECT_NE(std::string::npos, con.out.find("{attr 07}\r\n"));
}
