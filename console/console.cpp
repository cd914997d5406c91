#include "console/console.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {
/// The second code of the last extended key whose prefix was read; -1 when empty.
int pending_code = -1;
}  // namespace

void console_error(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started just above
    int len = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    if (len < 0) return;
    std::vector<char> text(static_cast<size_t>(len) + 1);
    va_start(args, fmt);
    std::vsnprintf(text.data(), text.size(), fmt, args);
    va_end(args);
    terminal().write_err(text.data(), static_cast<size_t>(len));
}

int console_exit_status(int status) {
    std::string why;
    if (terminal().output_written(why)) return status;
    console_error("Tavrix: standard output could not be written: %s\n", why.c_str());
    return CONSOLE_OUTPUT_FAILED;
}

void console_printf(const char* fmt, ...) {
    std::string own = terminal().own_text(fmt);
    char small[512];
    va_list args;
    va_start(args, fmt);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started just above
    int len = std::vsnprintf(small, sizeof small, own.c_str(), args);
    va_end(args);
    if (len < 0) return;
    if (static_cast<size_t>(len) < sizeof small) {
        terminal().write_out(small, static_cast<size_t>(len));
        return;
    }
    std::vector<char> big(static_cast<size_t>(len) + 1);
    va_start(args, fmt);
    std::vsnprintf(big.data(), big.size(), own.c_str(), args);
    va_end(args);
    terminal().write_out(big.data(), static_cast<size_t>(len));
}

namespace {

void append_escaped(std::string& out, unsigned char c) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 15];
}

/// Characters that show nothing yet change what is shown around them: the bidirectional
/// controls, which can make a name read backwards, the zero-width spaces and joiners that can
/// hide a character, and the line and paragraph separators. Joiners that scripts and emoji
/// need (U+200C, U+200D) are not among them.
bool is_hidden_format(uint32_t cp) {
    return cp == 0x061C || cp == 0x200B || cp == 0x200E || cp == 0x200F ||
           (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x2064) ||
           (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF || (cp >= 0xFFF9 && cp <= 0xFFFB);
}

/// The code point of the n-byte UTF-8 sequence at s.
uint32_t utf8_decode(const unsigned char* s, size_t n) {
    if (n == 1) return s[0];
    uint32_t cp = s[0] & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) cp = (cp << 6) | (s[i] & 0x3F);
    return cp;
}

/// The length of the UTF-8 sequence at s (1 to 4), or 0 when s does not begin one.
size_t utf8_length(const unsigned char* s) {
    auto cont = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    if (s[0] >= 0xC2 && s[0] <= 0xDF && cont(s[1])) return 2;
    if (s[0] >= 0xE0 && s[0] <= 0xEF && cont(s[1]) && cont(s[2])) {
        if (s[0] == 0xE0 && s[1] < 0xA0) return 0;   // overlong
        if (s[0] == 0xED && s[1] >= 0xA0) return 0;  // surrogates
        return 3;
    }
    if (s[0] >= 0xF0 && s[0] <= 0xF4 && cont(s[1]) && cont(s[2]) && cont(s[3])) {
        if (s[0] == 0xF0 && s[1] < 0x90) return 0;
        if (s[0] == 0xF4 && s[1] >= 0x90) return 0;
        return 4;
    }
    return 0;
}

}  // namespace

std::string json_string(const std::string& text, bool& exact) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    exact = true;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.c_str());
    const unsigned char* end = s + text.size();
    auto escape = [&](uint32_t cp) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += digits[(cp >> shift) & 15];
    };
    while (s < end) {
        const unsigned char c = *s;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++s;
        } else if (c < 0x20 || c == 0x7F) {
            escape(c);
            ++s;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++s;
        } else {
            const size_t n = utf8_length(s);  // a NUL ends a sequence: text's terminator
            if (n == 0) {
                exact = false;  // the byte itself goes to a field of its own
                escape(0xFFFD);
                ++s;
            } else {
                const uint32_t cp = utf8_decode(s, n);
                if (is_hidden_format(cp)) {
                    escape(cp);
                } else {
                    out.append(reinterpret_cast<const char*>(s), n);
                }
                s += n;
            }
        }
    }
    return out + "\"";
}

std::string hex_bytes(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string escape_controls(const char* text, bool utf8, bool c1) {
    std::string out;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        unsigned char c = *s;
        if (c < 0x20 || c == 0x7F) {
            append_escaped(out, c);
            ++s;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++s;
        } else if (utf8) {
            size_t n = utf8_length(s);
            bool c1_control = n == 2 && c == 0xC2 && s[1] < 0xA0;
            if (n == 0 || c1_control) {
                append_escaped(out, c);
                ++s;
            } else if (is_hidden_format(utf8_decode(s, n))) {
                char escaped[16];
                std::snprintf(escaped, sizeof escaped, "\\u%04x",
                              static_cast<unsigned>(utf8_decode(s, n)));
                out += escaped;
                s += n;
            } else {
                out.append(reinterpret_cast<const char*>(s), n);
                s += n;
            }
        } else {
            if (c1) {  // a character set not known to be UTF-8: no byte of it is trusted
                append_escaped(out, c);
            } else {
                out += static_cast<char>(c);
            }
            ++s;
        }
    }
    return out;
}

std::string console_safe(const char* text) {
    Terminal& os = terminal();
    if (!os.output_is_terminal()) return text;
    return escape_controls(os.terminal_text(text).c_str(), os.output_utf8(),
                           os.output_c1_controls());
}

std::string console_safe_error(const char* text) {
    Terminal& os = terminal();
    if (!os.error_is_terminal()) return text;
    return escape_controls(os.terminal_text(text).c_str(), os.output_utf8(),
                           os.output_c1_controls());
}

void console_clear() {
    ScreenInfo info;
    if (!terminal().screen_info(info)) return;
    terminal().blank_screen(info.attributes);
    terminal().set_cursor(0, 0);
}

int16_t console_rows() {
    ScreenInfo info;
    if (!terminal().screen_info(info)) return 0;
    return static_cast<int16_t>(info.window_bottom - info.window_top + 1);
}

int console_columns() {
    ScreenInfo info;
    return terminal().screen_info(info) ? info.width : 0;
}

namespace {

/// The code point of the UTF-8 sequence at text[at], and its length in len; a byte that
/// begins no sequence is itself.
uint32_t code_point_at(const std::string& text, size_t at, size_t& len) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.c_str()) + at;
    len = utf8_length(s);
    if (len == 0) len = 1;
    return utf8_decode(s, len);
}

/// East Asian wide characters and emoji, which take two columns.
bool is_wide(uint32_t cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
           (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) ||
           (cp >= 0x20000 && cp <= 0x3FFFD);
}

/// The columns of each character of text, in order, with the bytes each takes.
std::vector<std::pair<size_t, int>> characters(const std::string& text) {
    std::vector<std::pair<size_t, int>> out;
    const bool utf8 = terminal().output_utf8();
    for (size_t at = 0, len = 1; at < text.size(); at += len) {
        const uint32_t cp =
            utf8 ? code_point_at(text, at, len) : static_cast<unsigned char>(text[at]);
        if (!utf8) len = 1;
        out.emplace_back(len, is_wide(cp) ? 2 : 1);
    }
    return out;
}

}  // namespace

int text_columns(const std::string& text) {
    int columns = 0;
    for (const auto& c : characters(text)) columns += c.second;
    return columns;
}

std::string fit_columns(const std::string& text, int columns) {
    if (text_columns(text) <= columns) return text;
    const std::string ellipsis = terminal().output_utf8() ? "\xE2\x80\xA6" : "...";
    const int room = columns - text_columns(ellipsis);
    if (room <= 0) return ellipsis.substr(0, columns > 0 ? static_cast<size_t>(columns) : 0);
    const auto chars = characters(text);
    // The head takes half the room, the tail the rest.
    std::string head, tail;
    int used = 0;
    size_t at = 0, i = 0;
    for (; i < chars.size() && used + chars[i].second <= room - room / 2; ++i) {
        used += chars[i].second;
        at += chars[i].first;
    }
    head = text.substr(0, at);
    size_t end = text.size();
    for (size_t j = chars.size(); j > i && used + chars[j - 1].second <= room; --j) {
        used += chars[j - 1].second;
        end -= chars[j - 1].first;
    }
    tail = text.substr(end);
    return head + ellipsis + tail;
}

void console_set_attr(uint16_t attr) {
    terminal().set_attr(attr);
}

uint16_t console_get_attr() {
    ScreenInfo info;
    if (!terminal().screen_info(info)) return 0;
    return info.attributes;
}

void console_set_fore(uint16_t fore) {
    console_set_attr(static_cast<uint16_t>((console_get_attr() & BACKGROUND_MASK_BITS) | fore));
}

int console_cursor_col() {
    int x, y;
    return terminal().cursor_position(x, y) ? x + 1 : 0;
}

int console_cursor_row() {
    int x, y;
    return terminal().cursor_position(x, y) ? y + 1 : 0;
}

void console_goto(int col, int row) {
    int x = col - 1 < 0 ? 0 : col - 1;
    int y = row - 1 < 0 ? 0 : row - 1;
    terminal().set_cursor(x, y);
}

int key_available() {
    if (pending_code >= 0) return 1;
    return terminal().key_waiting() ? 1 : 0;
}

int read_key() {
    if (pending_code >= 0) {
        int code = pending_code;
        pending_code = -1;
        return code;
    }
    KeyPress k;
    if (!terminal().key_next(k)) return -1;
    if (k.code2 >= 0) pending_code = k.code2;
    return k.code1;
}

int prompt_key(const char* prompt) {
    while (key_available()) read_key();
    if (prompt && *prompt) console_printf("%s", prompt);
    if (terminal().key_input()) {
        while (!key_available()) terminal().sleep_ms(KEY_POLL_MS);
    }
    console_printf("\n");
    return read_key();
}

void console_reset_keys() {
    pending_code = -1;
}
