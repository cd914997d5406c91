// The terminal on Windows: the console's screen buffer on standard output, written in UTF-16,
// and key events from the console input "CONIN$".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/keys.h"
#include "platform/platform.h"
#include "platform/win32_common.h"

namespace {

HANDLE stdout_handle() {
    return GetStdHandle(STD_OUTPUT_HANDLE);
}

/// True when standard output is a console screen buffer.
bool stdout_is_console() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    return GetConsoleScreenBufferInfo(stdout_handle(), &info) != 0;
}

/// Wine's console on a terminal flags no key as enhanced.
bool console_flags_enhanced_keys() {
    return !running_under_wine();
}

/// The key press an input event delivers; false for events that deliver none.
bool decode_event(const INPUT_RECORD& r, KeyPress& k) {
    if (r.EventType != KEY_EVENT) return false;
    const KEY_EVENT_RECORD& e = r.Event.KeyEvent;
    ConsoleKeyEvent event;
    event.key_down = e.bKeyDown != 0;
    event.character = static_cast<unsigned char>(e.uChar.AsciiChar);
    event.virtual_key = e.wVirtualKeyCode;
    event.scan_code = e.wVirtualScanCode;
    event.control_state = e.dwControlKeyState;
    return console_key_press(event, console_flags_enhanced_keys(), k);
}

class Win32Terminal : public Terminal {
   public:
    /// To the console as UTF-16, whatever its code page: the text is UTF-8 there (own_text
    /// and terminal_text make it so); each line end as CR LF, as text mode writes it.
    void write_out(const char* text, size_t len) override {
        HANDLE h = stdout_handle();
        if (!stdout_is_console()) {
            std::fwrite(text, 1, len, stdout);
            return;
        }
        std::fflush(stdout);
        std::string lines;
        for (size_t i = 0; i < len; ++i) {
            if (text[i] == '\n') lines += '\r';
            lines += text[i];
        }
        std::wstring w = widen(lines.data(), lines.size(), CP_UTF8);
        for (size_t done = 0; done < w.size();) {
            DWORD wrote = 0;
            if (!WriteConsoleW(h, w.data() + done, static_cast<DWORD>(w.size() - done), &wrote,
                               nullptr) ||
                wrote == 0) {
                break;
            }
            done += wrote;
        }
    }

    /// The program's own texts are code page 437; they go out as UTF-8 where the console is
    /// written or the code page is UTF-8, and as their bytes of old elsewhere.
    std::string own_text(const char* text) override {
        if (!acp_is_utf8() && !stdout_is_console()) return text;
        return utf8_of(widen(text, std::strlen(text), 437));
    }

    std::string terminal_text(const char* text) override {
        return acp_is_utf8() ? std::string(text) : utf8_of(widen(text, std::strlen(text), CP_ACP));
    }

    bool output_is_terminal() override { return stdout_is_console(); }
    bool error_is_terminal() override {
        DWORD mode = 0;
        return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    }
    bool output_utf8() override { return true; }

    bool screen_info(ScreenInfo& info) override {
        CONSOLE_SCREEN_BUFFER_INFO csbi;
        if (!GetConsoleScreenBufferInfo(stdout_handle(), &csbi)) return false;
        info.width = csbi.dwSize.X;
        info.height = csbi.dwSize.Y;
        info.window_top = csbi.srWindow.Top;
        info.window_bottom = csbi.srWindow.Bottom;
        info.attributes = csbi.wAttributes;
        return true;
    }

    void set_attr(uint16_t attr) override { SetConsoleTextAttribute(stdout_handle(), attr); }

    bool cursor_position(int& x, int& y) override {
        CONSOLE_SCREEN_BUFFER_INFO csbi;
        if (!GetConsoleScreenBufferInfo(stdout_handle(), &csbi)) return false;
        x = csbi.dwCursorPosition.X;
        y = csbi.dwCursorPosition.Y;
        return true;
    }

    void set_cursor(int x, int y) override {
        HANDLE h = stdout_handle();
        if (h == INVALID_HANDLE_VALUE) return;
        COORD at;
        at.X = static_cast<SHORT>(x);
        at.Y = static_cast<SHORT>(y);
        SetConsoleCursorPosition(h, at);
    }

    void blank_screen(uint16_t attr) override {
        HANDLE h = stdout_handle();
        CONSOLE_SCREEN_BUFFER_INFO csbi;
        if (!GetConsoleScreenBufferInfo(h, &csbi)) return;
        DWORD cells = static_cast<DWORD>(csbi.dwSize.X) * static_cast<DWORD>(csbi.dwSize.Y);
        COORD origin = {0, 0};
        DWORD done;
        FillConsoleOutputCharacterA(h, ' ', cells, origin, &done);
        FillConsoleOutputAttribute(h, attr, cells, origin, &done);
    }

    void sleep_ms(int ms) override { Sleep(static_cast<DWORD>(ms)); }

    bool key_input() override { return input() != INVALID_HANDLE_VALUE; }

    bool key_waiting() override {
        HANDLE in = input();
        if (in == INVALID_HANDLE_VALUE) return false;
        // A wait that returns at once; it also lets Wine's console take in what its terminal
        // has sent, which it otherwise does only during a read.
        WaitForSingleObject(in, 0);
        DWORD count = 0;
        if (!GetNumberOfConsoleInputEvents(in, &count) || count == 0) {
            return false;
        }
        std::unique_ptr<INPUT_RECORD[]> events(new INPUT_RECORD[count]);
        DWORD got = 0;
        if (!PeekConsoleInputA(in, events.get(), count, &got)) return false;
        KeyPress k;
        for (DWORD i = 0; i < got; ++i) {
            if (decode_event(events[i], k)) return true;
        }
        return false;
    }

    bool key_next(KeyPress& k) override {
        HANDLE in = input();
        if (in == INVALID_HANDLE_VALUE) return false;
        DWORD saved = 0;
        bool have_mode = GetConsoleMode(in, &saved) != 0;
        SetConsoleMode(in, 0);  // no echo, no line input, Ctrl+C as a character
        bool ok = false;
        for (;;) {
            INPUT_RECORD r;
            DWORD got = 0;
            if (!ReadConsoleInputA(in, &r, 1, &got) || got == 0) break;
            if (decode_event(r, k)) {
                ok = true;
                break;
            }
        }
        if (have_mode) SetConsoleMode(in, saved);
        return ok;
    }

   private:
    /// The console input, opened on first use and kept open.
    HANDLE input() {
        if (!input_tried_) {
            input_tried_ = true;
            input_ =
                CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        }
        return input_;
    }

    bool input_tried_ = false;
    HANDLE input_ = INVALID_HANDLE_VALUE;
};

}  // namespace

Terminal& terminal_native() {
    static Win32Terminal t;
    return t;
}
