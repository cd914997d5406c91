#include "app/driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "tests/command_line.h"
#include "tests/fake_platform.h"

namespace {

/// The announcement and the summary of a run.
std::string announced(const std::string& pattern, int renamed) {
    return " \xFE Renaming \"" + pattern + "\"\n\t\t" + std::to_string(renamed) +
           " file(s) renamed\n";
}

/// A name in the fake's current directory as the driver writes it.
std::string here(const std::string& name) {
    return std::string("/work") + PLATFORM_SEPARATOR + name;
}

struct Driver : ::testing::Test {
    FakePlatform fs;
    void SetUp() override {
        fs.add_dir("/work");
        fs.cwd = "/work";
    }
    std::string run(const char* spec, bool verbose = true, int status = 0) {
        RunOptions o;
        o.spec = spec;
        o.verbose = verbose;
        EXPECT_EQ(status, run_backup(o)) << spec;
        return fs.out;
    }
};

}  // namespace

TEST_F(Driver, BarePatternSearchesTheCurrentDirectoryAndAnnouncesItAbsolute) {
    fs.add_file("/work/Example.doc");
    fs.add_file("/work/Example.doc.000.bak");
    EXPECT_EQ(announced(here("Example.doc"), 1), run("Example.doc"));
    EXPECT_TRUE(fs.has("/work/Example.doc.001.bak"));
}

TEST_F(Driver, BackupsMadeByTheRunAreNotRenamedAgain) {
    fs.add_file("/work/a");
    fs.add_file("/work/b.doc");
    fs.add_dir("/work/sub");
    EXPECT_EQ(announced(here("*"), 2), run("*"));
    EXPECT_EQ((std::vector<std::string>{"a.000.bak", "b.doc.000.bak", "sub"}), fs.list("/work"));
}

TEST_F(Driver, RelativeAbsoluteAndRootDirectories) {
    fs.add_dir("/work/docs");
    fs.add_file("/work/docs/x.txt");
    fs.add_file("/work/x.txt");
    fs.add_file("/top.txt");
    EXPECT_EQ(announced("docs\\*.txt", 1), run("docs\\*.txt"));
    EXPECT_TRUE(fs.has("/work/docs/x.txt.000.bak"));
    EXPECT_TRUE(fs.has("/work/x.txt"));

    fs.out.clear();
    EXPECT_EQ(announced("//top*", 1), run("//top*"));
    EXPECT_TRUE(fs.has("/top.txt.000.bak"));
}

TEST_F(Driver, MixedSeparatorsRenameTheFilesThatMatched) {
    fs.add_dir("/work/a");
    fs.add_dir("/work/a/b");
    fs.add_file("/work/a/b/f");
    fs.add_file("/work/a/f");  // same name, shallower: must stay
    EXPECT_EQ(announced("a\\b/f", 1), run("a\\b/f"));
    EXPECT_TRUE(fs.has("/work/a/b/f.000.bak"));
    EXPECT_TRUE(fs.has("/work/a/f"));
}

TEST_F(Driver, NothingToMatch) {
    fs.add_dir("/work/docs");
    EXPECT_EQ(announced(here(""), 0), run(nullptr));
    fs.out.clear();
    EXPECT_EQ(announced(here("docs"), 0), run("docs"));  // a directory
    fs.out.clear();
    EXPECT_EQ(announced(here("none*"), 0), run("none*"));
    fs.out.clear();
    EXPECT_EQ("", run("none*", false));
}

TEST_F(Driver, OverlongPatternsAreRefusedNeverCut) {
    // 260 characters: nothing is searched, not even its file-name part in the current directory.
    std::string spec = "d/" + std::string(MAX_PATH - 2, 'x');
    fs.add_file("/work/" + std::string(MAX_PATH - 2, 'x'));
    fs.add_file("/work/" + std::string(MAX_PATH - 1 - 6 - 8, 'y'));
    EXPECT_EQ(announced(spec, 0), run(spec.c_str()));
    EXPECT_EQ(0, fs.moves);

    // The current directory and the name together do not fit: refused too.
    fs.out.clear();
    std::string name(MAX_PATH - 6, 'y');
    EXPECT_EQ(announced(here(name), 0), run(name.c_str()));

    // A found name that does not fit behind the directory is not backed up.
    fs.out.clear();
    EXPECT_EQ(announced(here("*"), 1), run("*", true, RUN_FAILED));
    EXPECT_TRUE(fs.has("/work/" + std::string(MAX_PATH - 2, 'x')));
}

TEST_F(Driver, UnreadableCurrentDirectorySearchesTheNameAlone) {
    fs.cwd_fails = true;
    fs.add_file("/work/f");
    EXPECT_EQ(announced("f", 0), run("f", true, RUN_FAILED));
}

TEST_F(Driver, NameHoldingABackslashIsPassedOver) {
    fs.add_file("/work/a\\b");
    fs.add_file("/work/c");
    EXPECT_EQ(announced(here("*"), 1), run("*"));
    EXPECT_TRUE(fs.has("/work/a\\b"));
}

TEST_F(Driver, EscCancelsInYellowAndReportsWhatWasDone) {
    fs.marks = true;
    for (const char* n : {"a", "b", "c", "d"}) fs.add_file(std::string("/work/") + n);
    // Checks before a, after a, before b (other keys are dropped), after b: Esc.
    RunOptions o;
    o.spec = "*";
    fs.press('x');
    fs.press('y');
    fs.press('z');
    fs.press(KEY_ESC);
    EXPECT_EQ(0, run_backup(o));
    EXPECT_EQ(" \xFE Renaming \"" + here("*") +
                  "\"\n{attr 0e} * Cancelled *{attr 07}\n\t\t2 file(s) renamed\n",
              fs.out);
    EXPECT_TRUE(fs.has("/work/c"));
}

TEST_F(Driver, SecondCodeOfAnExtendedKeyCanCancel) {
    fs.add_file("/work/a");
    fs.add_file("/work/b");
    fs.press(0, KEY_ESC);  // the prefix at one check, the 27 at the next
    EXPECT_EQ(" \xFE Renaming \"" + here("*") + "\"\n * Cancelled *\n\t\t1 file(s) renamed\n",
              run("*"));
    fs.out.clear();
    fs.press(KEY_ESC);
    EXPECT_EQ(" * Cancelled *\n", run("*", false));  // the notice shows even when quiet
}

TEST(Main, TooManyParametersIsOneLineAndStatusOne) {
    FakePlatform con;
    con.add_dir("/work");
    con.add_file("/work/a");
    Args args({"a", "b"});
    EXPECT_EQ(1, tavrix_main(static_cast<int>(args.argv.size()), args.argv.data()));
    EXPECT_EQ("Too many parameters: use Tavrix /? for help\n", con.out);
    EXPECT_TRUE(con.has("/work/a"));
    EXPECT_EQ(7, con.attr);
}

TEST(Switches, LongHelpAndVersion) {
    RunOptions h;
    EXPECT_EQ(ParseResult::USAGE, parse({"a", "--help", "b", "c"}, h));
    RunOptions d;
    EXPECT_EQ(ParseResult::RUN, parse({"--dry-run", "-copy", "a"}, d));
    EXPECT_TRUE(d.list_only && d.copy);
    RunOptions v;
    EXPECT_EQ(ParseResult::VERSION, parse({"--version"}, v));
    RunOptions late;
    EXPECT_EQ(ParseResult::TOO_MANY, parse({"a", "b", "--version"}, late));
    RunOptions other;  // any case; an unknown long switch is refused before anything else
    EXPECT_EQ(ParseResult::USAGE, parse({"--HELP", "--nonsense"}, other));
    EXPECT_EQ(ParseResult::UNKNOWN_LONG, parse({"--nonsense", "--HELP"}, other));
    EXPECT_STREQ("--nonsense", other.unknown);
    RunOptions n;
    EXPECT_EQ(ParseResult::RUN, parse({"-N", "a", "--DRY-RUN"}, n));
    EXPECT_TRUE(n.list_only);

    FakePlatform refused;  // told on standard error, status 2, nothing else
    Args dry({"a", "--dryrun"});
    EXPECT_EQ(2, tavrix_main(static_cast<int>(dry.argv.size()), dry.argv.data()));
    EXPECT_EQ("", refused.out);
    EXPECT_EQ(std::string("Unknown switch \"--dryrun\": use ") + PLATFORM_PROGRAM +
                  " --help for the switches\n",
              refused.err);

    FakePlatform con;
    Args args({"--version"});
    EXPECT_EQ(0, tavrix_main(static_cast<int>(args.argv.size()), args.argv.data()));
    EXPECT_EQ("Tavrix v1.00\n", con.out);

    FakePlatform usage;  // the whole usage at once: no pause, no screen drawn, status 0
    usage.marks = true;
    Args help({"--help"});
    EXPECT_EQ(0, tavrix_main(static_cast<int>(help.argv.size()), help.argv.data()));
    EXPECT_EQ(0, usage.clears);
    EXPECT_EQ(std::string::npos, usage.out.find("-- more --"));
    for (const char* s :
         {"/FORMAT3", "Example.000.doc", "/COPY", "/L", "259 bytes", "Exit status"}) {
        EXPECT_NE(std::string::npos, usage.out.find(s)) << s;
    }
}

TEST_F(Driver, DebugTellsWhatBecameOfEachEntry) {
    fs.add_file("/work/a.txt");
    fs.add_dir("/work/sub");
    fs.add_file("/work/b\\c");
    fs.add_file("/work/full");
    for (int i = 0; i < SEQUENCE_LIMIT_DECIMAL; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/work/full.%03d", i);
        fs.add_dir(name);  // directories: passed over, and they take every candidate
    }
    fs.add_file("/work/\x1b[1mbold");
    fs.move_failing.insert("/work/\x1b[1mbold.000");
    RunOptions o;
    o.spec = "*";
    o.format = FORMAT_NUMBER;
    o.debug = true;
    o.verbose = false;  // the trace shows even when quiet
    run_backup(o);
    const std::string& out = fs.out;
    EXPECT_NE(std::string::npos, out.find("  a.txt -> a.txt.000\n"));
    EXPECT_NE(std::string::npos, out.find("  sub: passed over, a directory\n"));
    EXPECT_NE(std::string::npos, out.find("  b\\c: passed over, its name holds a backslash\n"));
    EXPECT_NE(std::string::npos, out.find("  full: not renamed, every candidate is taken\n"));
    EXPECT_NE(std::string::npos, out.find("  full.000: passed over, a directory\n"));
    EXPECT_NE(
        std::string::npos,
        out.find("  \\x1b[1mbold: not renamed, the rename was refused: refused by the test\n"));
    EXPECT_EQ(std::string::npos, out.find("Renaming"));

    // A listing that fails midway says so; what it listed is still backed up.
    fs.out.clear();
    fs.fail_at[Call::NEXT] = fs.calls[Call::NEXT] + 2;
    o.list_only = true;
    run_backup(o);
    EXPECT_NE(std::string::npos,
              fs.out.find("  the directory could not be read to its end: refused by the test\n"))
        << fs.out;
    fs.fail_at.clear();
    o.list_only = false;

    fs.out.clear();
    fs.add_file("/work/NOEXT");
    o.format = FORMAT_BEFORE_EXT;
    o.spec = "NOEXT";
    run_backup(o);
    EXPECT_EQ("  NOEXT: not renamed, no extension for /FORMAT3\n", fs.out);

    fs.out.clear();
    std::string long_name(MAX_PATH - 6 - 3, 'n');  // fits the search, not with ".000"
    fs.add_file("/work/" + long_name);
    o.format = FORMAT_NUMBER;
    o.spec = "nnn*";
    run_backup(o);
    EXPECT_EQ("  " + long_name + ": not renamed, the name would be too long\n", fs.out);
}

TEST(FailedSteps, DebugNamesTheStepThatFailed) {
    struct Case {
        Call call;
        int at;  // the call's number that fails, and every later one
        bool copy, no_noreplace, unnamed_files, may_replace, list_only;
        const char* line;  // after "  f"
    };
    const Case cases[] = {
        {Call::RENAME, 1, false, true, true, false, false,
         ": not renamed, the move to a private name failed"},
        {Call::LINK, 1, false, true, true, false, false,
         ": not renamed, the link to the backup name failed"},
        {Call::REMOVE, 1, false, true, true, false, false,
         " -> f.000.bak; its private name .tavrix-1-0000000000000001.tmp could not be removed"},
        {Call::OPEN_SOURCE, 1, true, false, true, false, false,
         ": not copied, the file could not be opened"},
        {Call::CREATE_COPY, 1, true, false, true, false, false,
         ": not copied, the copy could not be made"},
        {Call::COPY_RANGE, 1, true, false, true, false, false,
         ": not copied, the data could not be copied"},
        {Call::KEEP_PERMISSIONS, 1, true, false, true, false, false,
         ": not copied, its permissions could not be kept"},
        {Call::KEEP_TIMES, 1, true, false, true, false, false,
         ": not copied, its times could not be kept"},
        {Call::FLUSH, 1, true, false, false, false, false,
         ": not copied, the copy could not be flushed"},
        {Call::LINK_UNNAMED, 1, true, false, true, false, false,
         ": not copied, the copy could not be named"},
        // Where a rename may replace (Wine): the file held, linked, then its new name held.
        {Call::HOLD_ENTRY, 2, false, false, true, true, false,
         ": not renamed, the backup name could not be opened"},
        {Call::FORESEE, 1, false, false, true, false, true, ": would be refused"},
        {Call::FORESEE, 1, true, false, true, false, true, ": would be refused"},
    };
    for (const Case& c : cases) {
        FakePlatform steps;
        steps.add_dir("/work");
        steps.add_file("/work/f");
        steps.no_noreplace = c.no_noreplace;
        steps.unnamed_files = c.unnamed_files;
        steps.may_replace = c.may_replace;
        steps.fail_at[c.call] = c.at;
        steps.fail_on = true;
        RunOptions o;
        o.spec = "f";
        o.copy = c.copy;
        o.debug = true;
        o.verbose = false;
        o.list_only = c.list_only;
        const int status = run_backup(o);
        const std::string call = call_name(c.call);
        EXPECT_EQ(std::string("  f") + c.line + ": refused by the test\n", steps.out) << call;
        EXPECT_TRUE(steps.has("/work/f") || steps.has("/work/f.000.bak")) << call;
        // A refusal is a status, the file's line on standard error and the count, even with /Q.
        const bool done = c.line[1] == '-';
        EXPECT_EQ(done ? 0 : RUN_FAILED, status) << call;
        EXPECT_EQ(done ? ""
                       : std::string("Tavrix: f") + c.line +
                             ": refused by the test\nTavrix: 1 file(s) " +
                             (c.list_only ? "would not be backed up; /L tells why\n"
                                          : "could not be backed up; /DEBUG tells why\n"),
                  steps.err)
            << call;
    }
}

TEST(FailedSteps, JsonNamesTheStepOfARefusedLinkAndRemoval) {
    for (const Call call : {Call::LINK, Call::REMOVE}) {
        const std::string op = call_name(call);
        FakePlatform fs;
        fs.add_dir("/work");
        fs.add_file("/work/f");
        fs.add_file("/work/f.000.bak");
        fs.no_noreplace = op == "link";  // the rename in steps links the backup name
        fs.fail_at[call] = 1;
        fs.fail_on = true;
        RunOptions o;
        o.spec = "f";
        o.json = true;
        o.keep = op == "remove" ? 1 : 0;
        EXPECT_EQ(RUN_FAILED, run_backup(o)) << op;
        EXPECT_NE(std::string::npos, fs.out.find("\"step\":\"" + op + "\"")) << fs.out;
    }
}
