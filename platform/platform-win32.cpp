// The platform layer on Windows: the kernel32 file calls in their narrow ('A') forms, the
// console's screen buffer on standard output, and key events from the console input "CONIN$".
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/keys.h"
#include "platform/platform.h"

namespace {

HANDLE stdout_handle() { return GetStdHandle(STD_OUTPUT_HANDLE); }

/// True when standard output is a console screen buffer.
bool stdout_is_console() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    return GetConsoleScreenBufferInfo(stdout_handle(), &info) != 0;
}

class Win32Search : public DirSearch {
public:
    Win32Search(HANDLE h, const WIN32_FIND_DATAA& first) : handle_(h), data_(first) {}
    ~Win32Search() override { FindClose(handle_); }

    bool next(FindEntry& e) override {
        if (!have_) {
            if (!FindNextFileA(handle_, &data_)) return false;
        }
        have_ = false;
        e.name = data_.cFileName;
        e.is_directory = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.matched = true;
        return true;
    }

private:
    HANDLE handle_;
    WIN32_FIND_DATAA data_;
    bool have_ = true;  // the entry FindFirstFileA gave is not yet delivered
};

/// A search whose entries were gathered beforehand.
class ListSearch : public DirSearch {
public:
    explicit ListSearch(std::vector<FindEntry> entries) : entries_(std::move(entries)) {}
    bool next(FindEntry& e) override {
        if (at_ >= entries_.size()) return false;
        e = entries_[at_++];
        return true;
    }

private:
    std::vector<FindEntry> entries_;
    size_t at_ = 0;
};

/// True when the program runs under Wine rather than Windows.
bool running_under_wine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version");
    }();
    return wine;
}

/// Wine's console on a terminal flags no key as enhanced.
bool console_flags_enhanced_keys() { return !running_under_wine(); }

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

class Win32Platform : public Platform {
public:
    size_t full_path(const char* path, char* out, size_t out_size) override {
        return GetFullPathNameA(path, static_cast<DWORD>(out_size), out, nullptr);
    }

    size_t current_directory(char* out, size_t out_size) override {
        return GetCurrentDirectoryA(static_cast<DWORD>(out_size), out);
    }

    std::unique_ptr<DirSearch> find_first(const char* pattern, bool every_entry) override {
        WIN32_FIND_DATAA data;
        HANDLE h = FindFirstFileA(pattern, &data);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        std::unique_ptr<DirSearch> matches(new Win32Search(h, data));
        if (!every_entry) return matches;
        // Windows matches names its own way (short names, case): search twice, the pattern's
        // matches first, then every entry of the directory.
        std::set<std::string> matched;
        std::vector<FindEntry> entries;
        FindEntry e;
        while (matches->next(e)) {
            matched.insert(e.name);
            entries.push_back(e);
        }
        std::string all = pattern;
        size_t cut = all.find_last_of("\\/:");
        all = (cut == std::string::npos ? std::string() : all.substr(0, cut + 1)) + "*";
        HANDLE every = FindFirstFileA(all.c_str(), &data);
        if (every != INVALID_HANDLE_VALUE) {
            Win32Search rest(every, data);
            while (rest.next(e)) {
                if (matched.count(e.name)) continue;
                e.matched = false;
                entries.push_back(e);
            }
        }
        return std::unique_ptr<DirSearch>(new ListSearch(std::move(entries)));
    }

    bool exists(const char* path) override {
        return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    }

    bool move_file(const char* from, const char* to) override {
        if (running_under_wine()) return move_by_link(from, to);
        return move_plain(from, to);
    }

    std::string last_error() override {
        char text[256] = {0};
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 last_error_, 0, text, sizeof text, nullptr);
        while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) text[--n] = 0;
        return n ? std::string(text) : "error " + std::to_string(last_error_);
    }

    void write_out(const char* text, size_t len) override {
        std::fwrite(text, 1, len, stdout);
        if (stdout_is_console()) std::fflush(stdout);
    }

    bool output_is_terminal() override { return stdout_is_console(); }
    bool output_utf8() override { return GetConsoleOutputCP() == CP_UTF8; }

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
    /// Wine's MoveFileA looks for the new name, then renames: a file made under that name in
    /// between is replaced. A new link is refused at once when the name is taken, so under
    /// Wine an ordinary file gets its new name as a link, then loses the old one.
    bool move_by_link(const char* from, const char* to) {
        // Opened for deletion first: a file that cannot lose its old name gets no new one.
        HANDLE old = open_for_delete(from);
        if (old == INVALID_HANDLE_VALUE) return move_plain(from, to);
        BY_HANDLE_FILE_INFORMATION was;
        // Directories, links of the file system, and read-only files, which Wine will not
        // remove by name, are renamed as they are.
        const DWORD not_ordinary =
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT;
        if (!GetFileInformationByHandle(old, &was) || (was.dwFileAttributes & not_ordinary)) {
            CloseHandle(old);
            return move_plain(from, to);
        }
        if (!CreateHardLinkA(to, from, nullptr)) {
            DWORD e = GetLastError();
            CloseHandle(old);
            if (e != ERROR_ALREADY_EXISTS && e != ERROR_FILE_EXISTS) {
                return move_plain(from, to);  // no links on this file system, say
            }
            last_error_ = e;
            return false;
        }
        bool moved = false;
        HANDLE made = open_for_delete(to);
        if (made == INVALID_HANDLE_VALUE) {
            last_error_ = GetLastError();  // both names stay: nothing is lost
        } else if (!same_file(was, made)) {
            // Another process gave the old name to another file meanwhile: that file keeps it
            // and loses the new name again.
            last_error_ = ERROR_FILE_NOT_FOUND;
            delete_on_close(made);
        } else if (delete_on_close(old)) {
            moved = true;
        } else {
            last_error_ = GetLastError();
            delete_on_close(made);  // both names are the one file: dropping the new one loses nothing
        }
        if (made != INVALID_HANDLE_VALUE) CloseHandle(made);
        CloseHandle(old);
        return moved;
    }

    bool move_plain(const char* from, const char* to) {
        if (MoveFileA(from, to)) return true;
        last_error_ = GetLastError();
        return false;
    }

    static HANDLE open_for_delete(const char* path) {
        return CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    }

    static bool same_file(const BY_HANDLE_FILE_INFORMATION& x, HANDLE b) {
        BY_HANDLE_FILE_INFORMATION y;
        return GetFileInformationByHandle(b, &y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
               x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
    }

    /// Marks the file for deletion when its handle closes.
    static bool delete_on_close(HANDLE h) {
        FILE_DISPOSITION_INFO info = {TRUE};
        return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0;
    }

    /// The console input, opened on first use and kept open.
    HANDLE input() {
        if (!input_tried_) {
            input_tried_ = true;
            input_ = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
        }
        return input_;
    }

    DWORD last_error_ = 0;
    bool input_tried_ = false;
    HANDLE input_ = INVALID_HANDLE_VALUE;
};

}  // namespace

Platform& platform_native() {
    static Win32Platform p;
    return p;
}
