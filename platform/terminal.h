// The terminal's side of the platform: standard output, the console's screen and colours,
// and its keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

/// The terminal's side: standard output, the screen, colours and keys.
class Terminal {
   public:
    virtual ~Terminal() = default;

    // Output.
    /// Writes bytes to standard output; when it is the console they reach it before return.
    virtual void write_out(const char* text, size_t len) = 0;
    /// Writes bytes to standard error, at once (the C library's stream on every platform).
    virtual void write_err(const char* text, size_t len);
    /// Everything written to standard output, out of the program's buffers; false when some
    /// of it could not be written (a full disk, a closed output), why then saying why. A
    /// console takes what it is given; a file or a pipe may refuse it.
    virtual bool output_written(std::string& why);
    /// The program's own text (code page 437) as this console should receive it.
    virtual std::string own_text(const char* text) { return text; }
    /// Text from outside the program (a name, an argument) in the terminal's character set.
    virtual std::string terminal_text(const char* text) { return text; }
    /// True when standard output is a terminal or console, which acts on control characters.
    virtual bool output_is_terminal() = 0;
    /// The same for standard error.
    virtual bool error_is_terminal() { return false; }
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
