// An in-memory platform for the unit tests: a file tree, a console screen with a cursor, and
// a queue of key presses.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

/// The fake's calls, by which a test makes them fail (FakePlatform::fail_at): the paths',
/// the directory's and a copy's.
enum class Call {
    FULL_PATH,
    CURRENT_DIRECTORY,
    OPEN_DIRECTORY,
    NEXT,
    TYPE_OF,
    LOOK,
    RENAME_NO_REPLACE,
    EXCHANGE,
    RENAME,
    LINK,
    REMOVE,
    HOLD_ENTRY,
    OPEN_SOURCE,
    CREATE_COPY,
    FLUSH_TOGETHER,
    FLUSH_DIRECTORY,
    FORESEE,
    COPY_RANGE,
    KEEP_OWNER,
    KEEP_GROUP,
    KEEP_PERMISSIONS,
    KEEP_EXTENDED,
    OWNER_ALONE,
    KEEP_TIMES,
    FLUSH,
    LINK_UNNAMED,
    COUNT
};

/// The call's name, as a failing test names it: "rename_noreplace".
const char* call_name(Call call);

class FakePlatform : public Platform {
   public:
    FakePlatform();
    ~FakePlatform() override;

    // The file tree: absolute '/'-separated paths. Each file holds a content, its original
    // path unless told otherwise; a link shares it, a copy repeats it.
    void add_file(const std::string& path, const std::string& text = std::string()) {
        entries[path] = false;
        content[path] = text.empty() ? path : text;
    }
    void add_dir(const std::string& path) { entries[path] = true; }
    bool has(const std::string& path) const { return entries.count(path) != 0; }
    /// The names directly in dir, in order.
    std::vector<std::string> list(const std::string& dir) const;

    std::map<std::string, bool> entries;         // path -> is a directory
    std::map<std::string, std::string> content;  // path -> what the file holds
    std::map<std::string, int64_t> modified;     // path -> its modification time in s, 0 unless set
    std::map<std::string, int64_t> changed;      // path -> its change time in s, 0 unless set
    int offset = 0;                              // of the local time from UTC, in seconds
    std::string cwd = "/work";
    bool cwd_fails = false;
    std::set<std::string> move_refused;   // targets refused as if taken meanwhile
    std::set<std::string> move_failing;   // targets refused for another reason
    int moves = 0;                        // files renamed to a backup name
    bool no_noreplace = false;            // rename_noreplace unsupported: the two-step rename
    bool unnamed_files = true;            // create_hidden makes files without a name
    int held = 0;                         // nesting of the held-back signals
    std::map<std::string, int> changing;  // path -> how many of its copies see it change

    // Faults: the call whose number is fail_at[call] fails, and so does every later one when
    // fail_on is set. A failed type_of reports the name missing; a failed keep_extended
    // reports a narrowing attribute not kept; a failed foresight foresees a refused rename
    // (or with a copy, a refused opening).
    std::map<Call, int> fail_at;
    bool fail_on = false;
    bool lie = false;         // a failing operation that changes the tree acts first, then fails
    int lie_as = 0;           // what such a lie answers: 0 an error, 1 "taken", 2 "no such file"
    bool listing_ids = true;  // false: the listing gives every entry one made-up identity,
                              // which no look agrees with (FUSE without use_ino)
    bool listing_reversed = false;  // the listing gives the names last first
    size_t longest_name = 4096;     // of a name in a directory
    bool fold_case = false;         // name_key folds ASCII, Ä, Ö, Ü and Σ, as Windows would
    bool may_replace = false;       // rename_noreplace may replace, as Wine's may: the Windows
                                    // rename through a link and held names
    std::map<Call, int> calls;
    bool fault(Call call);

    // The console.
    bool console = true;
    int width = 80, height = 24;
    uint16_t attr = 7;
    int cursor_x = 0, cursor_y = 0;
    int clears = 0;
    std::string out;  // everything written, with markers such as {attr 1f} when marks is on
    bool marks = false;

    // Keys.
    bool input = true;
    std::deque<KeyPress> keys;
    void press(int code1, int code2 = -1) { keys.push_back(KeyPress{code1, code2}); }
    std::deque<KeyPress> later;  // pressed one at a time while the program sleeps
    int sleeps = 0;

    FsResult full_path(const char* path, std::string& out) override;
    FsResult current_directory(std::string& out) override;
    FsResult open_directory(const char* dir, const char* pattern,
                            std::unique_ptr<Directory>& opened) override;
    FsResult open_backups(Directory& files, const char* to, bool make,
                          BackupsDirectory& out) override;
    FsResult same_content(Directory& a_dir, const char* a, Directory& b_dir, const char* b,
                          bool& same) override;
    int utc_offset(int64_t) override { return offset; }
    void hold_signals() override { ++held; }
    void release_signals() override { --held; }
    void write_out(const char* text, size_t len) override;
    void write_err(const char* text, size_t len) override { err.append(text, len); }
    bool output_written(std::string& why) override {
        why = "refused by the test";
        return !output_fails;
    }
    std::string err;            // written to standard error
    bool output_fails = false;  // standard output refuses what is written
    bool screen_info(ScreenInfo& info) override;
    void set_attr(uint16_t a) override;
    bool cursor_position(int& x, int& y) override;
    void set_cursor(int x, int y) override;
    void blank_screen(uint16_t a) override;
    void sleep_ms(int) override;
    bool output_is_terminal() override { return console; }
    bool error_is_terminal() override { return err_console; }
    bool err_console = false;  // standard error is a terminal
    bool output_utf8() override { return utf8; }
    bool output_c1_controls() override { return !utf8; }
    bool utf8 = true;
    bool key_input() override { return input; }
    bool key_waiting() override { return input && !keys.empty(); }
    bool key_next(KeyPress& k) override;
};

/// Slow, obviously right wildcard matching ('*' and '?'), for checking the fast one.
bool reference_match(const std::string& pattern, const std::string& name);
