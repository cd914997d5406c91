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

/// One search of the system's own: the pattern's matches, or with every_entry all entries.
void find_all(const std::string& pattern, bool matched, std::vector<FindEntry>& out) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        FindEntry e;
        e.name = data.cFileName;
        e.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.matched = matched;
        out.push_back(std::move(e));
    } while (FindNextFileA(h, &data));
    FindClose(h);
}

/// The directory of a run, held open without delete sharing, so that it cannot be renamed,
/// removed or replaced while the run goes on; its entries are reached through its prefix.
class Win32Directory : public Directory {
public:
    /// typed: the directory as typed, for the listing; prefix: its full path and separator.
    Win32Directory(HANDLE held, std::string typed, std::string prefix, std::string pattern)
        : held_(held), typed_(std::move(typed)), prefix_(std::move(prefix)), pattern_(std::move(pattern)) {}
    ~Win32Directory() override { CloseHandle(held_); }

    bool next(FindEntry& e) override {
        if (!listed_) {
            listed_ = true;
            list();
        }
        if (at_ >= entries_.size()) return false;
        e = entries_[at_++];
        return true;
    }

    bool exists(const char* name) override {
        return GetFileAttributesA((prefix_ + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    bool move_file(const char* from_name, const char* to_name) override {
        const std::string from = prefix_ + from_name, to = prefix_ + to_name;
        if (!(running_under_wine() ? move_by_link(from, to) : move_plain(from, to))) return false;
        // An entry that had become a directory since it was listed goes back to its name.
        DWORD attributes = GetFileAttributesA(to.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
        MoveFileA(to.c_str(), from.c_str());  // refused: it stays, nothing is lost
        last_error_ = 336;  // ERROR_DIRECTORY_NOT_SUPPORTED, which older headers lack
        return false;
    }

    std::string last_error() override {
        char text[256] = {0};
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 last_error_, 0, text, sizeof text, nullptr);
        while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) text[--n] = 0;
        return n ? std::string(text) : "error " + std::to_string(last_error_);
    }

private:
    /// Windows matches names its own way (short names, case): search twice, the pattern's
    /// matches first, then every entry of the directory.
    void list() {
        find_all(typed_ + pattern_, true, entries_);
        std::set<std::string> matched;
        for (const FindEntry& e : entries_) matched.insert(e.name);
        std::vector<FindEntry> every;
        find_all(typed_ + "*", false, every);
        for (FindEntry& e : every) {
            if (!matched.count(e.name)) entries_.push_back(std::move(e));
        }
    }

    /// Wine's MoveFileA looks for the new name, then renames: a file made under that name in
    /// between is replaced. A new link is refused at once when the name is taken, so under
    /// Wine an ordinary file gets its new name as a link, then loses the old one.
    bool move_by_link(const std::string& from_path, const std::string& to_path) {
        const char* from = from_path.c_str();
        const char* to = to_path.c_str();
        // Opened for deletion first: a file that cannot lose its old name gets no new one.
        HANDLE old = open_for_delete(from);
        if (old == INVALID_HANDLE_VALUE) return move_plain(from_path, to_path);
        BY_HANDLE_FILE_INFORMATION was;
        // Directories, links of the file system, and read-only files, which Wine will not
        // remove by name, are renamed as they are.
        const DWORD not_ordinary =
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT;
        if (!GetFileInformationByHandle(old, &was) || (was.dwFileAttributes & not_ordinary)) {
            CloseHandle(old);
            return move_plain(from_path, to_path);
        }
        if (!CreateHardLinkA(to, from, nullptr)) {
            DWORD e = GetLastError();
            CloseHandle(old);
            if (e != ERROR_ALREADY_EXISTS && e != ERROR_FILE_EXISTS) {
                return move_plain(from_path, to_path);  // no links on this file system, say
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

    bool move_plain(const std::string& from, const std::string& to) {
        if (MoveFileA(from.c_str(), to.c_str())) return true;
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

    HANDLE held_;
    std::string typed_, prefix_, pattern_;
    std::vector<FindEntry> entries_;
    size_t at_ = 0;
    bool listed_ = false;
    DWORD last_error_ = 0;
};

class Win32Platform : public Platform {
public:
    size_t full_path(const char* path, char* out, size_t out_size) override {
        return GetFullPathNameA(path, static_cast<DWORD>(out_size), out, nullptr);
    }

    size_t current_directory(char* out, size_t out_size) override {
        return GetCurrentDirectoryA(static_cast<DWORD>(out_size), out);
    }

    std::unique_ptr<Directory> open_directory(const char* dir, const char* pattern) override {
        if (!*pattern) return nullptr;
        // No delete sharing: while the run holds it, the directory stays where it is.
        HANDLE held = CreateFileA(*dir ? dir : ".", FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (held == INVALID_HANDLE_VALUE) return nullptr;
        // Entries are reached through the directory's full path, which held keeps in place.
        char full[MAX_PATH + 1] = {0};
        DWORD len = GetFullPathNameA(*dir ? dir : ".", MAX_PATH, full, nullptr);
        std::string prefix = len > 0 && len < MAX_PATH ? full : dir;
        if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/' && prefix.back() != ':') {
            prefix += '\\';
        }
        return std::unique_ptr<Directory>(new Win32Directory(held, dir, prefix, pattern));
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

    bool input_tried_ = false;
    HANDLE input_ = INVALID_HANDLE_VALUE;
};

}  // namespace

Platform& platform_native() {
    static Win32Platform p;
    return p;
}
