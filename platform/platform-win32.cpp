// The platform layer on Windows: the kernel32 file calls in their narrow ('A') forms, in the
// UTF-8 code page that the manifest asks for; the console's screen buffer on standard output,
// written in UTF-16; and key events from the console input "CONIN$".
#include <aclapi.h>
#include <windows.h>
#include <winioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/keys.h"
#include "platform/platform.h"

namespace {

HANDLE stdout_handle() {
    return GetStdHandle(STD_OUTPUT_HANDLE);
}

/// True when standard output is a console screen buffer.
bool stdout_is_console() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    return GetConsoleScreenBufferInfo(stdout_handle(), &info) != 0;
}

// ---- Names and the ANSI code page ----
//
// The manifest asks for UTF-8 as the ANSI code page (Windows 10 version 1903 and later, and
// Wine): the narrow calls then carry every name. Where the setting is ignored, a name the code
// page cannot hold exactly would reach the program as another name (best fit, or '?'): such
// names are found in UTF-16 and refused, never turned into a look-alike.

bool acp_is_utf8() {
    return GetACP() == CP_UTF8;
}

/// w in the ANSI code page into out; false when a character has no exact form there (no best
/// fit, no default character, no lone surrogate).
bool narrow_exact(const wchar_t* w, std::string& out) {
    const bool utf8 = acp_is_utf8();
    const UINT cp = utf8 ? CP_UTF8 : CP_ACP;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL used_default = FALSE;
    int n =
        WideCharToMultiByte(cp, flags, w, -1, nullptr, 0, nullptr, utf8 ? nullptr : &used_default);
    if (n <= 0 || used_default) return false;
    out.assign(static_cast<size_t>(n), '\0');
    n = WideCharToMultiByte(cp, flags, w, -1, &out[0], n, nullptr, utf8 ? nullptr : &used_default);
    if (n <= 0 || used_default) return false;
    out.resize(static_cast<size_t>(n) - 1);
    return true;
}

/// Bytes in code page cp as UTF-16.
std::wstring widen(const char* s, size_t len, UINT cp) {
    if (len == 0) return std::wstring();
    int n = MultiByteToWideChar(cp, 0, s, static_cast<int>(len), nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(cp, 0, s, static_cast<int>(len), &w[0], n);
    return w;
}

std::string utf8_of(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                            nullptr);
    return s;
}

/// The arguments as the C runtime split them, in UTF-16.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expand, int* startup);

/// The arguments that reached the program exactly as typed.
const std::vector<std::string>& exact_arguments() {
    static const std::vector<std::string> exact = [] {
        std::vector<std::string> args;
        int argc = 0, startup = 0;
        wchar_t** argv = nullptr;
        wchar_t** env = nullptr;
        if (__wgetmainargs(&argc, &argv, &env, 0, &startup) != 0 || !argv) return args;
        for (int i = 0; i < argc; ++i) {
            std::string s;
            if (narrow_exact(argv[i], s)) args.push_back(s);
        }
        return args;
    }();
    return exact;
}

/// The system's words for an error code, without the final full stop.
std::string system_message(DWORD error) {
    char text[256] = {0};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'))
        text[--n] = 0;
    return n ? std::string(text) : "error " + std::to_string(error);
}

/// True when the program runs under Wine rather than Windows.
bool running_under_wine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version");
    }();
    return wine;
}

/// How much a copy takes at a time: small enough to look at Esc often on a slow disk.
constexpr DWORD COPY_CHUNK = 8 << 20;

/// Whether a rename takes the steps of a new link and the old name's removal: under Wine,
/// whose MoveFileA can replace a name taken in the instant between its own two steps. A test
/// build renames with MoveFileA alone, as Windows does.
bool link_first() {
#ifdef TAVRIX_MOVEFILE_ONLY
    return false;
#else
    return running_under_wine();
#endif
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

/// Whether Windows can reach an entry by this name at all: not when it holds a character that
/// Windows forbids in names (made by another system: WSL, SMB, NFS), a colon naming a stream.
bool reachable_name(const std::string& name) {
    for (unsigned char c : name) {
        if (c < 0x20 || std::strchr("\"*:<>?|", c)) return false;
    }
    return true;
}

/// One search of the system's own, every entry it finds flagged matched or not.
void find_all(const std::string& pattern, bool matched, std::vector<FindEntry>& out) {
    if (!acp_is_utf8()) {  // names in UTF-16, so that none turns into a look-alike
        WIN32_FIND_DATAW data;
        std::wstring wide = widen(pattern.data(), pattern.size(), CP_ACP);
        HANDLE h = FindFirstFileW(wide.c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return;
        do {
            FindEntry e;
            e.exact = narrow_exact(data.cFileName, e.name);
            if (!e.exact) {  // for /DEBUG only: as the narrow search shows it, '?' for what is lost
                char lossy[MAX_PATH * 2] = {0};
                WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data.cFileName, -1, lossy,
                                    sizeof lossy - 1, "?", nullptr);
                e.name = lossy;
            }
            e.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            e.matched = matched;
            e.reachable = reachable_name(e.name);
            out.push_back(std::move(e));
        } while (FindNextFileW(h, &data));
        FindClose(h);
        return;
    }
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        FindEntry e;
        e.name = data.cFileName;
        e.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.matched = matched;
        e.reachable = reachable_name(e.name);
        out.push_back(std::move(e));
    } while (FindNextFileA(h, &data));
    FindClose(h);
}

struct Win32Source : SourceFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info = {};
    std::wstring path;
    ~Win32Source() override {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    EntryType type() const override {
        return info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? EntryType::LINK
               : info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY   ? EntryType::DIRECTORY
                                                                    : EntryType::FILE;
    }
    uint64_t size() const override {
        return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    }
};

/// A copy under its private name, marked for deletion while it is written, so that whatever
/// ends the program meanwhile leaves nothing; flush takes the mark off.
struct Win32Hidden : HiddenFile {
    HANDLE handle = INVALID_HANDLE_VALUE;  // none for the copy of a link
    std::string name;
    bool sparse = false;  // only the allocated ranges are copied
    bool ended = false;   // the whole file is copied
    uint64_t at = 0;      // how far the copy got
    ~Win32Hidden() override {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    const std::string& private_name() const override { return name; }
};

/// A full path in the form Windows takes as it is, without cutting a last part's trailing dots
/// or blanks, and without taking a device's name for the device: "\\?\C:\dir\",
/// "\\?\UNC\server\share\".
std::string long_path(const std::string& full) {
    if (full.compare(0, 4, "\\\\?\\") == 0 || full.compare(0, 4, "\\\\.\\") == 0) return full;
    if (full.compare(0, 2, "\\\\") == 0) return "\\\\?\\UNC\\" + full.substr(2);
    return "\\\\?\\" + full;
}

/// A path in the ANSI code page, in UTF-16.
std::wstring widen_path(const std::string& path) {
    return widen(path.data(), path.size(), CP_ACP);
}

/// The directory of a run, held open without delete sharing, so that it cannot be renamed,
/// removed or replaced while the run goes on; its entries are reached through its prefix.
class Win32Directory : public Directory {
   public:
    /// typed: the directory as typed, for the listing; prefix: its full path and separator.
    Win32Directory(HANDLE held, std::string typed, const std::string& prefix, std::string pattern)
        : held_(held),
          typed_(std::move(typed)),
          pattern_(std::move(pattern)),
          prefix_(widen_path(long_path(prefix))) {}
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

    EntryType type_of(const char* name) override {
        const DWORD attributes = GetFileAttributesW(at(name).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD e = GetLastError();
            return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? EntryType::MISSING
                                                                          : EntryType::UNKNOWN;
        }
        return attributes & FILE_ATTRIBUTE_DIRECTORY       ? EntryType::DIRECTORY
               : attributes & FILE_ATTRIBUTE_REPARSE_POINT ? EntryType::LINK
                                                           : EntryType::FILE;
    }

    FsStatus rename_noreplace(const char* from, const char* to) override {
        return place(at(from), at(to)) ? FsStatus::OK : status_of_error();
    }

    FsStatus rename_private(const char* from, const char* to) override {
        return move_plain(at(from), at(to)) ? FsStatus::OK : status_of_error();
    }

    FsStatus link(const char* from, const char* to) override {
        if (CreateHardLinkW(at(to).c_str(), at(from).c_str(), nullptr)) return FsStatus::OK;
        last_error_ = GetLastError();
        return status_of_error();
    }

    /// A read-only file of ours loses its attribute first, as Windows will not remove it.
    FsStatus remove(const char* name) override {
        const std::wstring path = at(name);
        if (DeleteFileW(path.c_str())) return FsStatus::OK;
        last_error_ = GetLastError();
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (last_error_ != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
            !(attributes & FILE_ATTRIBUTE_READONLY)) {
            return FsStatus::FAILED;
        }
        SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        if (DeleteFileW(path.c_str())) return FsStatus::OK;
        last_error_ = GetLastError();
        SetFileAttributesW(path.c_str(), attributes);
        return FsStatus::FAILED;
    }

    std::string private_name() override {
        char name[64];
        std::snprintf(name, sizeof name, ".tavrix-%lu-%08lx%04x.tmp",
                      static_cast<unsigned long>(GetCurrentProcessId()),
                      static_cast<unsigned long>(GetTickCount()), ++names_made_ & 0xFFFFu);
        return name;
    }

    std::unique_ptr<SourceFile> open_source(const char* name) override {
        std::unique_ptr<Win32Source> source(new Win32Source);
        source->path = at(name);
        source->handle = CreateFileW(
            source->path.c_str(), GENERIC_READ,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (source->handle == INVALID_HANDLE_VALUE ||
            !GetFileInformationByHandle(source->handle, &source->info)) {
            last_error_ = GetLastError();
            return nullptr;
        }
        return std::unique_ptr<SourceFile>(source.release());
    }

    /// A link is copied by the system's own copy, as a link.
    std::unique_ptr<HiddenFile> create_hidden(SourceFile& source) override {
        Win32Source& from = static_cast<Win32Source&>(source);
        std::unique_ptr<Win32Hidden> copy(new Win32Hidden);
        copy->name = private_name();
        const std::wstring made = at(copy->name.c_str());
        if (from.type() == EntryType::LINK) {
            if (CopyFileExW(from.path.c_str(), made.c_str(), nullptr, nullptr, nullptr,
                            COPY_FILE_FAIL_IF_EXISTS | COPY_FILE_COPY_SYMLINK)) {
                return std::unique_ptr<HiddenFile>(copy.release());
            }
            last_error_ = GetLastError();
            return nullptr;
        }
        copy->handle = CreateFileW(made.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (copy->handle == INVALID_HANDLE_VALUE) {
            last_error_ = GetLastError();
            return nullptr;
        }
        FILE_DISPOSITION_INFO gone = {TRUE};
        if (!SetFileInformationByHandle(copy->handle, FileDispositionInfo, &gone, sizeof gone)) {
            last_error_ = GetLastError();
            CloseHandle(copy->handle);
            copy->handle = INVALID_HANDLE_VALUE;
            DeleteFileW(made.c_str());
            return nullptr;
        }
        if (from.info.dwFileAttributes &
            FILE_ATTRIBUTE_SPARSE_FILE) {  // as far as the volume allows
            DWORD bytes = 0;
            copy->sparse = DeviceIoControl(copy->handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0,
                                           &bytes, nullptr) != 0;
        }
        return std::unique_ptr<HiddenFile>(copy.release());
    }

    /// The next part of the data, read and written; of a sparse file, only its allocated
    /// ranges, the rest left a hole.
    FsStatus copy_chunk(SourceFile& source, HiddenFile& copy, uint64_t& copied) override {
        Win32Source& from = static_cast<Win32Source&>(source);
        Win32Hidden& to = static_cast<Win32Hidden&>(copy);
        copied = 0;
        if (to.ended) return FsStatus::OK;
        // One buffer for the run, grown to the largest file copied, up to COPY_CHUNK.
        const uint64_t want =
            from.size() < COPY_CHUNK ? (from.size() > 4096 ? from.size() : 4096) : COPY_CHUNK;
        if (buffer_.size() < want) buffer_.resize(static_cast<size_t>(want));
        uint64_t at = to.at;
        DWORD size = static_cast<DWORD>(buffer_.size());
        if (to.sparse) {
            FILE_ALLOCATED_RANGE_BUFFER rest, range;
            rest.FileOffset.QuadPart = static_cast<LONGLONG>(to.at);
            rest.Length.QuadPart =
                static_cast<LONGLONG>(from.size() > to.at ? from.size() - to.at : 0);
            DWORD bytes = 0;
            const BOOL asked = rest.Length.QuadPart > 0 &&
                               DeviceIoControl(from.handle, FSCTL_QUERY_ALLOCATED_RANGES, &rest,
                                               sizeof rest, &range, sizeof range, &bytes, nullptr);
            if (!asked && GetLastError() != ERROR_MORE_DATA) {
                if (rest.Length.QuadPart > 0) {
                    to.sparse = false;  // the volume does not tell: all of it is data
                } else {
                    return end_of_data(from, to, copied);
                }
            } else if (bytes < sizeof range) {
                return end_of_data(from, to, copied);  // no data left: the rest is a hole
            } else {
                at = static_cast<uint64_t>(range.FileOffset.QuadPart);
                const uint64_t length = static_cast<uint64_t>(range.Length.QuadPart);
                if (length < size) size = static_cast<DWORD>(length);
            }
        }
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(at);
        DWORD got = 0, put = 0;
        if ((to.sparse && (!SetFilePointerEx(from.handle, position, nullptr, FILE_BEGIN) ||
                           !SetFilePointerEx(to.handle, position, nullptr, FILE_BEGIN))) ||
            !ReadFile(from.handle, buffer_.data(), size, &got, nullptr)) {
            last_error_ = GetLastError();
            return FsStatus::FAILED;
        }
        if (got == 0) return end_of_data(from, to, copied);
        if (!WriteFile(to.handle, buffer_.data(), got, &put, nullptr) || put != got) {
            last_error_ =
                put != got && GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : GetLastError();
            return FsStatus::FAILED;
        }
        copied = at + got - to.at;
        to.at = at + got;
        return FsStatus::OK;
    }

    /// Its size or its last write time other than when it was opened.
    bool source_changed(SourceFile& source, HiddenFile&) override {
        const Win32Source& from = static_cast<Win32Source&>(source);
        BY_HANDLE_FILE_INFORMATION now;
        if (!GetFileInformationByHandle(from.handle, &now)) return true;
        return now.nFileSizeHigh != from.info.nFileSizeHigh ||
               now.nFileSizeLow != from.info.nFileSizeLow ||
               now.ftLastWriteTime.dwLowDateTime != from.info.ftLastWriteTime.dwLowDateTime ||
               now.ftLastWriteTime.dwHighDateTime != from.info.ftLastWriteTime.dwHighDateTime;
    }

    /// The three times and the attributes read-only, hidden, system and archive.
    FsStatus keep_attributes(SourceFile& source, HiddenFile& copy) override {
        Win32Hidden& to = static_cast<Win32Hidden&>(copy);
        if (to.handle == INVALID_HANDLE_VALUE) return FsStatus::OK;  // the system's copy kept them
        const BY_HANDLE_FILE_INFORMATION& info = static_cast<Win32Source&>(source).info;
        FILE_BASIC_INFO basic = {};
        basic.CreationTime.LowPart = info.ftCreationTime.dwLowDateTime;
        basic.CreationTime.HighPart = static_cast<LONG>(info.ftCreationTime.dwHighDateTime);
        basic.LastAccessTime.LowPart = info.ftLastAccessTime.dwLowDateTime;
        basic.LastAccessTime.HighPart = static_cast<LONG>(info.ftLastAccessTime.dwHighDateTime);
        basic.LastWriteTime.LowPart = info.ftLastWriteTime.dwLowDateTime;
        basic.LastWriteTime.HighPart = static_cast<LONG>(info.ftLastWriteTime.dwHighDateTime);
        basic.FileAttributes =
            info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        // The streams first: writing them would change the times set after.
        copy_access(static_cast<Win32Source&>(source), to);
        copy_streams(static_cast<Win32Source&>(source), to);
        if (SetFileInformationByHandle(to.handle, FileBasicInfo, &basic, sizeof basic)) {
            return FsStatus::OK;
        }
        last_error_ = GetLastError();
        return FsStatus::FAILED;
    }

    /// The data on the disk, the deletion mark taken off, and the copy closed: Windows
    /// renames no file that is open without sharing.
    FsStatus flush(HiddenFile& copy) override {
        Win32Hidden& to = static_cast<Win32Hidden&>(copy);
        if (to.handle == INVALID_HANDLE_VALUE) return FsStatus::OK;
        FILE_DISPOSITION_INFO kept = {FALSE};
        const bool done =
            FlushFileBuffers(to.handle) &&
            SetFileInformationByHandle(to.handle, FileDispositionInfo, &kept, sizeof kept);
        if (!done) last_error_ = GetLastError();
        CloseHandle(to.handle);  // deleted with it unless kept
        to.handle = INVALID_HANDLE_VALUE;
        return done ? FsStatus::OK : FsStatus::FAILED;
    }

    /// Every copy has a private name here.
    FsStatus name_unnamed(HiddenFile&, const char*) override {
        last_error_ = ERROR_NOT_SUPPORTED;
        return FsStatus::FAILED;
    }

    std::string last_error() override { return system_message(last_error_); }

   private:
    /// No data after the copy's place: the rest, up to the file's size, is a hole.
    FsStatus end_of_data(const Win32Source& from, Win32Hidden& to, uint64_t& copied) {
        to.ended = true;
        if (!to.sparse || to.at >= from.size()) return FsStatus::OK;
        FILE_END_OF_FILE_INFO end;
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(from.size());
        if (!SetFileInformationByHandle(to.handle, FileEndOfFileInfo, &end, sizeof end)) {
            last_error_ = GetLastError();
            return FsStatus::FAILED;
        }
        copied = from.size() - to.at;
        to.at = from.size();
        return FsStatus::OK;
    }

    /// The source's alternate data streams, each to a stream of the same name of the copy.
    void copy_streams(const Win32Source& from, Win32Hidden& to) {
        const std::wstring& source = from.path;
        const std::wstring made = at(to.name.c_str());
        if (buffer_.empty()) buffer_.resize(4096);
        WIN32_FIND_STREAM_DATA stream;
        HANDLE found = FindFirstStreamW(source.c_str(), FindStreamInfoStandard, &stream, 0);
        if (found == INVALID_HANDLE_VALUE) return;  // none, or a volume without streams
        do {
            const std::wstring name = stream.cStreamName;
            if (name == L"::$DATA") continue;  // the file's own data
            HANDLE in =
                CreateFileW((source + name).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            HANDLE out = in == INVALID_HANDLE_VALUE
                             ? INVALID_HANDLE_VALUE
                             : CreateFileW((made + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_NEW, 0, nullptr);
            bool done = out != INVALID_HANDLE_VALUE;
            for (DWORD got = 1, put = 0; done && got > 0;) {
                done = ReadFile(in, buffer_.data(), static_cast<DWORD>(buffer_.size()), &got,
                                nullptr) &&
                       WriteFile(out, buffer_.data(), got, &put, nullptr) && put == got;
            }
            if (!done) {
                char why[64];
                std::snprintf(why, sizeof why, " (error %lu)",
                              static_cast<unsigned long>(GetLastError()));
                add_note(to, "not kept: the stream " + utf8_of(name) + why);
            }
            if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
            if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
        } while (FindNextStreamW(found, &stream));
        FindClose(found);
    }

    /// The source's own access entries (its DACL) to the copy; where they cannot be set, the
    /// copy is left to its owner alone, never open wider than the file.
    /// Not under Wine, which makes up an access list from the file's Unix permissions and
    /// maps one that is set back to wider permissions than the file has.
    void copy_access(const Win32Source& from, Win32Hidden& to) {
        if (running_under_wine()) return;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        DWORD error = GetSecurityInfo(from.handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &dacl, nullptr, &descriptor);
        if (error == ERROR_SUCCESS) {
            SECURITY_DESCRIPTOR_CONTROL control = 0;
            DWORD revision = 0;
            GetSecurityDescriptorControl(descriptor, &control, &revision);
            const SECURITY_INFORMATION what =
                DACL_SECURITY_INFORMATION |
                (control & SE_DACL_PROTECTED ? PROTECTED_DACL_SECURITY_INFORMATION
                                             : UNPROTECTED_DACL_SECURITY_INFORMATION);
            error =
                SetSecurityInfo(to.handle, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
            LocalFree(descriptor);
            if (error == ERROR_SUCCESS) return;
        }
        if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION)
            return;  // a volume without
        add_note(to, "not kept: its access list (error " + std::to_string(error) + ")");
        if (owner_alone(to)) add_note(to, "readable by its owner alone");
    }

    /// A protected access list that grants the process's own user alone.
    bool owner_alone(Win32Hidden& to) {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
        char user[256];
        DWORD length = 0;
        const bool known = GetTokenInformation(token, TokenUser, user, sizeof user, &length) != 0;
        CloseHandle(token);
        if (!known) return false;
        PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
        char list[512];
        PACL acl = reinterpret_cast<PACL>(list);
        return InitializeAcl(acl, sizeof list, ACL_REVISION) &&
               AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) &&
               SetSecurityInfo(to.handle, SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
    }

    static void add_note(HiddenFile& to, const std::string& what) {
        to.note += (to.note.empty() ? "" : "; ") + what;
    }

    FsStatus status_of_error() const {
        return last_error_ == ERROR_ALREADY_EXISTS || last_error_ == ERROR_FILE_EXISTS
                   ? FsStatus::TAKEN
                   : FsStatus::FAILED;
    }

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

    /// Renames from to to, never replacing: MoveFileA, or under Wine, whose MoveFileA is two
    /// steps of its own, the steps below.
    bool place(const std::wstring& from, const std::wstring& to) {
        return link_first() ? move_by_link(from, to) : move_plain(from, to);
    }

    /// Wine's MoveFileA looks for the new name, then renames: a file made under that name in
    /// between is replaced. A new link is refused at once when the name is taken, so under
    /// Wine an ordinary file gets its new name as a link, then loses the old one through a
    /// handle opened before the link, checked to be the same file.
    bool move_by_link(const std::wstring& from_path, const std::wstring& to_path) {
        const wchar_t* from = from_path.c_str();
        const wchar_t* to = to_path.c_str();
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
        if (!CreateHardLinkW(to, from, nullptr)) {
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
            delete_on_close(
                made);  // both names are the one file: dropping the new one loses nothing
        }
        if (made != INVALID_HANDLE_VALUE) CloseHandle(made);
        CloseHandle(old);
        return moved;
    }

    /// MoveFile, in its wide form: the ANSI one cuts a path of MAX_PATH characters or more,
    /// which a long path of a name near the limit is.
    bool move_plain(const std::wstring& from, const std::wstring& to) {
        if (MoveFileW(from.c_str(), to.c_str())) return true;
        last_error_ = GetLastError();
        return false;
    }

    static HANDLE open_for_delete(const wchar_t* path) {
        return CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    }

    static bool same_file(const BY_HANDLE_FILE_INFORMATION& x, HANDLE b) {
        BY_HANDLE_FILE_INFORMATION y;
        return GetFileInformationByHandle(b, &y) &&
               x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
               x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
    }

    /// Marks the file for deletion when its handle closes.
    static bool delete_on_close(HANDLE h) {
        FILE_DISPOSITION_INFO info = {TRUE};
        return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0;
    }

    HANDLE held_;
    /// The entry name's long path, in UTF-16: reached exactly, and past MAX_PATH characters.
    std::wstring at(const char* name) const {
        return prefix_ + widen(name, std::strlen(name), CP_ACP);
    }

    std::string typed_, pattern_;
    std::wstring prefix_;  // the directory's long path and separator
    std::vector<FindEntry> entries_;
    size_t at_ = 0;
    bool listed_ = false;
    DWORD last_error_ = 0;
    unsigned names_made_ = 0;
    std::vector<char> buffer_;  // one for every copy of the run
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
        open_error_ = 0;
        if (!*pattern) return nullptr;
        // No delete sharing: while the run holds it, the directory stays where it is.
        HANDLE held =
            CreateFileA(*dir ? dir : ".", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            open_error_ = GetLastError();
            return nullptr;
        }
        // Entries are reached through the directory's full path, which held keeps in place;
        // one that the code page cannot hold exactly could name a look-alike directory.
        std::wstring typed = widen(*dir ? dir : ".", *dir ? std::strlen(dir) : 1, CP_ACP);
        wchar_t full[32768];
        DWORD len = GetFullPathNameW(typed.c_str(), 32768, full, nullptr);
        std::string prefix;
        if (len == 0 || len >= 32768 || !narrow_exact(full, prefix)) {
            open_error_ = len == 0 ? GetLastError() : ERROR_NO_UNICODE_TRANSLATION;
            CloseHandle(held);
            return nullptr;
        }
        if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/' &&
            prefix.back() != ':') {
            prefix += '\\';
        }
        return std::unique_ptr<Directory>(new Win32Directory(held, dir, prefix, pattern));
    }

    std::string open_error() override {
        return open_error_ ? system_message(open_error_) : std::string();
    }

    bool argument_exact(const char* arg) override {
        for (const std::string& a : exact_arguments()) {
            if (a == arg) return true;
        }
        return false;
    }

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
    DWORD open_error_ = 0;
};

}  // namespace

Platform& platform_native() {
    static Win32Platform p;
    return p;
}
