// Console services: formatted output, colour, cursor, screen and keys. No routine reports a
// failure: where the console cannot be read each returns its fallback (0) and the caller
// carries on.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

constexpr uint16_t FOREGROUND_BLUE_BIT = 0x01;
constexpr uint16_t FOREGROUND_GREEN_BIT = 0x02;
constexpr uint16_t FOREGROUND_RED_BIT = 0x04;
constexpr uint16_t FOREGROUND_INTENSITY_BIT = 0x08;
constexpr uint16_t BACKGROUND_BLUE_BIT = 0x10;
constexpr uint16_t BACKGROUND_MASK_BITS = 0xF0;

constexpr uint16_t ATTR_NORMAL =
    FOREGROUND_RED_BIT | FOREGROUND_GREEN_BIT | FOREGROUND_BLUE_BIT;  // light grey on black
constexpr uint16_t ATTR_NOTICE =
    FOREGROUND_RED_BIT | FOREGROUND_GREEN_BIT | FOREGROUND_INTENSITY_BIT;  // yellow

constexpr int KEY_ESC = 27;
constexpr int SCAN_PGUP = 73;
constexpr int KEY_POLL_MS = 50;

/// printf-style output to standard output; fmt is the program's own text, the arguments
/// pass through as bytes. On the console it has arrived when the call returns.
void console_printf(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/// printf-style output to standard error, at once.
void console_error(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/// The exit status when standard output could not take all that was written to it.
constexpr int CONSOLE_OUTPUT_FAILED = 3;

/// The exit status once every output is written: status, or CONSOLE_OUTPUT_FAILED (told on
/// standard error) when standard output could not take all of it.
int console_exit_status(int status);

/// Text from outside the program (a name, an argument) as it may be printed: on a terminal,
/// control characters are written as \xHH, so that none reaches the terminal; elsewhere the
/// bytes as they are.
std::string console_safe(const char* text);
/// The same for standard error, as its own terminal, if it is one, reads it.
std::string console_safe_error(const char* text);
/// Writes the control characters of text as \xHH: bytes below 0x20 and 0x7F; with utf8, the
/// C1 controls U+0080 to U+009F and bytes that are not UTF-8, and the characters that reorder
/// or hide text as \uHHHH; with c1 (single bytes of a character set not known to be UTF-8,
/// such as the C locale's), every byte of 0x80 and above; otherwise (a code page's glyphs)
/// those bytes as they are.
std::string escape_controls(const char* text, bool utf8, bool c1);

/// text as a JSON string, quotes included, that every JSON parser reads back: valid UTF-8 as
/// it is, quotes, backslashes and control characters escaped, and the characters that
/// reorder or hide text (U+202E and its kin) as \u escapes; a byte that begins no UTF-8
/// sequence becomes U+FFFD and clears exact.
std::string json_string(const std::string& text, bool& exact);
/// Each byte of text as two lowercase hexadecimal digits.
std::string hex_bytes(const std::string& text);

/// Blanks the whole screen buffer in the current attribute and puts the cursor top left.
void console_clear();
/// Rows of the visible window; 0 if unreadable.
int16_t console_rows();
/// Columns of the screen buffer, where a longer row wraps; 0 if unreadable.
int console_columns();
/// The columns text takes on a terminal: two for a wide character, one for any other
/// character of UTF-8 or byte that is not.
int text_columns(const std::string& text);
/// text cut in its middle to at most columns columns, the cut shown as an ellipsis.
std::string fit_columns(const std::string& text, int columns);
void console_set_attr(uint16_t attr);
/// The current text attribute; 0 if unreadable.
uint16_t console_get_attr();
/// Keeps the current background, ORs fore's background bits onto it, takes fore's foreground.
void console_set_fore(uint16_t fore);
/// Cursor column and row counted from 1; 0 if unreadable.
int console_cursor_col();
int console_cursor_row();
/// Moves the cursor to col and row counted from 1 (values below 1 become 1).
void console_goto(int col, int row);

/// Nonzero when read_key would return at once.
int key_available();
/// Waits for a key without echo: its character, or the prefix of an extended key whose
/// second code the next call returns; -1 with no console input or when reading fails.
int read_key();
/// Drops waiting keys, writes prompt (if any), waits for a key, writes a line end and returns
/// the key's first code; -1 at once with no console input.
int prompt_key(const char* prompt);

/// Forgets a pending second code; for tests.
void console_reset_keys();
