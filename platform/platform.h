// The operating system as Tavrix sees it, in two sides: the file system (this header and
// filesys.h) and the terminal (the console's output and its key input). Everything above
// this header is written once for every platform; platform-posix.cpp (and, on Windows,
// platform-win32.cpp) implement it, and tests install a fake of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/filesys.h"

/// Longest path buffer: MAX_PATH characters and a terminator. A path fits when it is shorter
/// than MAX_PATH, leaving room for the terminator as the Windows calls require.
#ifndef MAX_PATH
constexpr int MAX_PATH = 260;
#endif

#ifdef _WIN32
constexpr char PLATFORM_SEPARATOR = '\\';
/// Drive letters with a colon are part of a path ("C:", "C:\").
constexpr bool PLATFORM_DRIVES = true;
/// Full paths may hold '/' as a separator.
constexpr bool PLATFORM_SLASH_IN_FULL_PATHS = false;
/// Names that differ only in the case of their letters name the same file.
constexpr bool PLATFORM_CASE_INSENSITIVE = true;
#else
constexpr char PLATFORM_SEPARATOR = '/';
constexpr bool PLATFORM_DRIVES = false;
constexpr bool PLATFORM_SLASH_IN_FULL_PATHS = true;
constexpr bool PLATFORM_CASE_INSENSITIVE = false;
#endif

/// What the console's screen buffer reports, in cells counted from 0.
struct ScreenInfo {
    int width = 0, height = 0;              // the whole buffer
    int window_top = 0, window_bottom = 0;  // rows of the visible window, inclusive
    uint16_t attributes = 0;
};

/// One key press as the key contract delivers it: a character (code2 < 0), or an
/// extended key as a prefix (0 or 224) in code1 and its second code in code2.
struct KeyPress {
    int code1 = 0;
    int code2 = -1;
};

/// The prefix of the dedicated navigation keys' two codes.
constexpr int KEY_EXT_PREFIX = 224;

/// The file system's side that is not a directory of a run: paths and opening directories.
class FileSystem {
   public:
    virtual ~FileSystem() = default;
    /// Writes the absolute form of path into out (out_size bytes with the terminator); returns
    /// its length, the size it needs (terminator included) when that exceeds out_size, or 0
    /// when it fails.
    virtual size_t full_path(const char* path, char* out, size_t out_size) = 0;
    /// Same convention as full_path, for the current directory.
    virtual size_t current_directory(char* out, size_t out_size) = 0;
    /// False when a command-line argument reached the program as another text than the one
    /// typed (a character its code page cannot hold).
    virtual bool argument_exact(const char*) { return true; }
    /// Opens directory dir (as typed, or empty for the current directory) for a run over the
    /// entries whose names match the wildcard pattern (* and ?); null when it cannot be opened
    /// or the pattern is empty.
    virtual std::unique_ptr<Directory> open_directory(const char* dir, const char* pattern) = 0;
};

/// The terminal's side: standard output, the screen, colours and keys.
class Terminal {
   public:
    virtual ~Terminal() = default;

    // Output.
    /// Writes bytes to standard output; when it is the console they reach it before return.
    virtual void write_out(const char* text, size_t len) = 0;
    /// The program's own text (code page 437) as this console should receive it.
    virtual std::string own_text(const char* text) { return text; }
    /// Text from outside the program (a name, an argument) in the terminal's character set.
    virtual std::string terminal_text(const char* text) { return text; }
    /// True when standard output is a terminal or console, which acts on control characters.
    virtual bool output_is_terminal() = 0;
    /// How that terminal reads bytes of 0x80 and above: as UTF-8, or as single bytes of
    /// which 0x80 to 0x9F are control characters (c1_controls), or as a code page's glyphs.
    virtual bool output_utf8() { return false; }
    virtual bool output_c1_controls() { return false; }

    // The console's output side; each fails without effect when output is not a console.
    virtual bool screen_info(ScreenInfo& info) = 0;
    virtual void set_attr(uint16_t attr) = 0;
    /// The cursor's cell; false when it cannot be read.
    virtual bool cursor_position(int& x, int& y) = 0;
    /// Moves the cursor; a cell outside the buffer is refused and the cursor stays.
    virtual void set_cursor(int x, int y) = 0;
    /// Blanks every cell of the buffer in attribute attr (the cursor is left alone).
    virtual void blank_screen(uint16_t attr) = 0;
    virtual void sleep_ms(int ms) = 0;

    // The console's key input, opened on first use.
    /// True when there is console input to read keys from.
    virtual bool key_input() = 0;
    /// True when key_next would deliver a key at once; never waits.
    virtual bool key_waiting() = 0;
    /// Waits for the next key press and fills k; false with no console input or on failure.
    virtual bool key_next(KeyPress& k) = 0;
};

/// The operating system: its file system and its terminal, kept apart as two interfaces and
/// installed together.
class Platform : public FileSystem, public Terminal {};

/// Copies s into out (out_size bytes) the way the Windows calls give a path back: returns its
/// length, or, when it does not fit, the size it needs with the terminator (out unchanged).
size_t platform_give_back(const std::string& s, char* out, size_t out_size);

/// The platform in use: the real one unless a test installed another.
Platform& platform();
/// Installs p (null restores the real platform); for tests.
void platform_install(Platform* p);
/// The real platform of this build.
Platform& platform_native();
