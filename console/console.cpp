#include "console/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {
/// The second code of the last extended key whose prefix was read; -1 when empty.
int pending_code = -1;
}  // namespace

void console_printf(const char* fmt, ...) {
    std::string own = platform().own_text(fmt);
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    char small[512];
    int len = std::vsnprintf(small, sizeof small, own.c_str(), args);
    va_end(args);
    if (len < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(len) < sizeof small) {
        platform().write_out(small, static_cast<size_t>(len));
    } else {
        std::vector<char> big(static_cast<size_t>(len) + 1);
        std::vsnprintf(big.data(), big.size(), own.c_str(), again);
        platform().write_out(big.data(), static_cast<size_t>(len));
    }
    va_end(again);
}

void console_clear() {
    ScreenInfo info;
    if (!platform().screen_info(info)) return;
    platform().blank_screen(info.attributes);
    platform().set_cursor(0, 0);
}

int16_t console_rows() {
    ScreenInfo info;
    if (!platform().screen_info(info)) return 0;
    return static_cast<int16_t>(info.window_bottom - info.window_top + 1);
}

void console_set_attr(uint16_t attr) { platform().set_attr(attr); }

uint16_t console_get_attr() {
    ScreenInfo info;
    if (!platform().screen_info(info)) return 0;
    return info.attributes;
}

void console_set_fore(uint16_t fore) {
    console_set_attr(static_cast<uint16_t>((console_get_attr() & BACKGROUND_MASK_BITS) | fore));
}

int console_cursor_col() {
    int x, y;
    return platform().cursor_position(x, y) ? x + 1 : 0;
}

int console_cursor_row() {
    int x, y;
    return platform().cursor_position(x, y) ? y + 1 : 0;
}

void console_goto(int col, int row) {
    int x = col - 1 < 0 ? 0 : col - 1;
    int y = row - 1 < 0 ? 0 : row - 1;
    platform().set_cursor(x, y);
}

int key_available() {
    if (pending_code >= 0) return 1;
    return platform().key_waiting() ? 1 : 0;
}

int read_key() {
    if (pending_code >= 0) {
        int code = pending_code;
        pending_code = -1;
        return code;
    }
    KeyPress k;
    if (!platform().key_next(k)) return -1;
    if (k.code2 >= 0) pending_code = k.code2;
    return k.code1;
}

int prompt_key(const char* prompt) {
    while (key_available()) read_key();
    if (prompt && *prompt) console_printf("%s", prompt);
    if (platform().key_input()) {
        while (!key_available()) platform().sleep_ms(KEY_POLL_MS);
    }
    console_printf("\n");
    return read_key();
}

void console_reset_keys() { pending_code = -1; }
