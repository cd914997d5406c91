// The file system on Windows: the kernel32 file calls, names in the ANSI code page (UTF-8, as
// the manifest asks) and every entry reached through the directory's long path in UTF-16.
#define _CRT_RAND_S  // rand_s, the system's unpredictable bits
#include <aclapi.h>
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/private_name.h"
#include "platform/traits.h"
#include "platform/wildcard.h"
#include "platform/win32_common.h"

/// The arguments as the C runtime split them, in UTF-16.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expand, int* startup);

namespace {

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

/// Whether Wine's MoveFile may replace a name: it looks for the new name, then renames, so a
/// file made under that name in between is replaced. A test build renames with MoveFile
/// alone, as Windows does.
bool rename_may_replace_here() {
#ifdef TAVRIX_MOVEFILE_ONLY
    return false;
#else
    return running_under_wine();
#endif
}

/// The failure of op that the Windows error tells: TAKEN for a name that exists.
FsResult failed(DWORD error = GetLastError()) {
    const bool taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return FsResult{taken ? FsStatus::TAKEN : FsStatus::FAILED, static_cast<int>(error),
                    system_message(error)};
}

/// OK when the call succeeded, else its failure.
FsResult result_of(BOOL done) {
    return done ? FsResult() : failed();
}

/// A FILETIME's count of 100 ns from 1601 as a moment since 1970: 11,644,473,600 s lie
/// between the two.
FileTime unix_time(int64_t ticks) {
    int64_t sec = ticks / 10000000;
    int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --sec;
    }
    return FileTime{sec - INT64_C(11644473600), static_cast<int32_t>(rest * 100)};
}

/// Whether Windows can reach an entry by this name at all: not when it holds a character that
/// Windows forbids in names (made by another system: WSL, SMB, NFS), a colon naming a stream.
bool reachable_name(const std::string& name) {
    for (unsigned char c : name) {
        if (c < 0x20 || std::strchr("\"*:<>?|", c)) return false;
    }
    return true;
}

/// An entry as the system's search gives it, in UTF-16, with its short name.
struct Found {
    FindEntry entry;
    std::wstring name, short_name;
};

/// One search of the system's own, in UTF-16: a name the code page cannot hold is flagged
/// inexact, never turned into a look-alike.
void find_all(const std::wstring& pattern, std::vector<Found>& out) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        Found f;
        f.name = data.cFileName;
        f.short_name = data.cAlternateFileName;
        FindEntry& e = f.entry;
        e.exact = narrow_exact(data.cFileName, e.name);
        if (!e.exact) {  // for /DEBUG only: as the narrow search shows it, '?' for what is lost
            char lossy[MAX_PATH * 2] = {0};
            WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data.cFileName, -1, lossy,
                                sizeof lossy - 1, "?", nullptr);
            e.name = lossy;
        }
        e.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.reachable = reachable_name(e.name);
        out.push_back(std::move(f));
    } while (FindNextFileW(h, &data));
    FindClose(h);
}

/// Whether a and b are one name to the file system: compared as NTFS does, by the system's
/// own upper case of each character.
bool same_name(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

/// The name as Windows takes a typed last part of a path: its trailing dots and blanks cut.
std::wstring trimmed(std::wstring name) {
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
    return name;
}

/// The path that the handle h reaches, as "\\?\C:\..." or "\\?\UNC\...", or empty.
std::wstring final_path(HANDLE h) {
    std::wstring path(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(h, &path[0], static_cast<DWORD>(path.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= path.size()) return std::wstring();
    path.resize(n);
    return path;
}

/// The path of the file that handle h holds within its volume ("\\dir\\name"), or empty.
std::wstring name_in_volume(HANDLE h) {
    std::vector<char> buffer(sizeof(FILE_NAME_INFO) + 65536);
    FILE_NAME_INFO* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!GetFileInformationByHandleEx(h, FileNameInfo, info, static_cast<DWORD>(buffer.size())))
        return std::wstring();
    return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

/// The volume and index of the file that handle h holds, which tell one file from another;
/// false when the system does not say.
bool identity_of(HANDLE h, uint64_t& volume, uint64_t& index) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    volume = info.dwVolumeSerialNumber;
    index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

/// True when a and b are handles of one file; false too where the system does not say.
bool one_file(HANDLE a, HANDLE b) {
    uint64_t v1 = 0, i1 = 0, v2 = 0, i2 = 0;
    return a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE && identity_of(a, v1, i1) &&
           identity_of(b, v2, i2) && v1 == v2 && i1 == i2;
}

/// The entry at path opened to look at it, not through a link, every kind of sharing allowed.
HANDLE open_to_look(const std::wstring& path) {
    return CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

/// True when path reaches the file that the handle held holds.
bool path_reaches(const std::wstring& path, HANDLE held) {
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool same = one_file(h, held);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return same;
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

/// Marks the file of handle h for deletion when its last handle closes, or takes the mark off.
bool delete_on_close(HANDLE h, bool remove = true) {
    FILE_DISPOSITION_INFO info = {static_cast<BOOLEAN>(remove ? TRUE : FALSE)};
    return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0;
}

/// A copy under its private name, marked for deletion while it is written, so that whatever
/// ends the program meanwhile leaves nothing; flush takes the mark off.
class Win32Copy : public NewCopy {
   public:
    Win32Copy(std::string name, std::wstring path, std::vector<char>& buffer)
        : name_(std::move(name)), path_(std::move(path)), buffer_(buffer) {}
    ~Win32Copy() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    const std::string& private_name() const override { return name_; }

    /// An empty file, marked for deletion; of a sparse file, sparse as far as the volume
    /// allows.
    FsResult create(const Win32Source& from) {
        handle_ = CreateFileW(path_.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) return failed();
        if (!delete_on_close(handle_)) {
            FsResult r = failed();
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
            DeleteFileW(path_.c_str());
            return r;
        }
        if (from.info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) {
            DWORD bytes = 0;
            sparse_ = DeviceIoControl(handle_, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &bytes,
                                      nullptr) != 0;
        }
        return FsResult();
    }

    /// The next part of the data, read and written; of a sparse file, only its allocated
    /// ranges, the rest left a hole.
    FsResult copy_range(SourceFile& source, uint64_t& copied) override {
        Win32Source& from = static_cast<Win32Source&>(source);
        copied = 0;
        if (ended_) return FsResult();
        // One buffer for the run, grown to the largest file copied, up to COPY_CHUNK.
        const uint64_t want =
            from.size() < COPY_CHUNK ? (from.size() > 4096 ? from.size() : 4096) : COPY_CHUNK;
        if (buffer_.size() < want) buffer_.resize(static_cast<size_t>(want));
        uint64_t at = at_;
        DWORD size = static_cast<DWORD>(buffer_.size());
        if (sparse_ && !next_range(from, at, size)) return end_of_data(from, copied);
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(at);
        DWORD got = 0, put = 0;
        if ((sparse_ && (!SetFilePointerEx(from.handle, position, nullptr, FILE_BEGIN) ||
                         !SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN))) ||
            !ReadFile(from.handle, buffer_.data(), size, &got, nullptr)) {
            return failed();
        }
        if (got == 0) return end_of_data(from, copied);
        if (!WriteFile(handle_, buffer_.data(), got, &put, nullptr) || put != got) {
            const DWORD error = GetLastError();
            return failed(put != got && error == ERROR_SUCCESS ? ERROR_DISK_FULL : error);
        }
        copied = at + got - at_;
        at_ = at + got;
        return FsResult();
    }

    /// Its size or its last write time other than when it was opened.
    bool source_changed(SourceFile& source) override {
        const Win32Source& from = static_cast<Win32Source&>(source);
        BY_HANDLE_FILE_INFORMATION now;
        if (!GetFileInformationByHandle(from.handle, &now)) return true;
        return now.nFileSizeHigh != from.info.nFileSizeHigh ||
               now.nFileSizeLow != from.info.nFileSizeLow ||
               now.ftLastWriteTime.dwLowDateTime != from.info.ftLastWriteTime.dwLowDateTime ||
               now.ftLastWriteTime.dwHighDateTime != from.info.ftLastWriteTime.dwHighDateTime;
    }

    /// A new file is its creator's; the permissions are the access list's.
    FsResult keep_owner(SourceFile&) override { return FsResult(); }
    FsResult keep_group(SourceFile&) override { return FsResult(); }
    FsResult keep_permissions(SourceFile&, bool, bool, std::string&) override { return FsResult(); }

    /// The access list, then the streams; the link copied by the system kept them.
    FsResult keep_extended(SourceFile& source, bool& narrowing, std::string& lost) override {
        narrowing = false;
        if (handle_ == INVALID_HANDLE_VALUE) return FsResult();
        const Win32Source& from = static_cast<Win32Source&>(source);
        narrowing = !copy_access(from, lost);
        copy_streams(from, lost);
        return FsResult();
    }

    /// A protected access list that grants the process's own user alone.
    FsResult owner_alone(SourceFile&) override {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return failed();
        char user[256];
        DWORD length = 0;
        const bool known = GetTokenInformation(token, TokenUser, user, sizeof user, &length) != 0;
        const DWORD error = GetLastError();
        CloseHandle(token);
        if (!known) return failed(error);
        PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
        char list[512];
        PACL acl = reinterpret_cast<PACL>(list);
        if (!InitializeAcl(acl, sizeof list, ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid)) {
            return failed();
        }
        const DWORD set =
            SetSecurityInfo(handle_, SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, acl, nullptr);
        return set == ERROR_SUCCESS ? FsResult() : failed(set);
    }

    /// The three times and the attributes read-only, hidden, system and archive.
    FsResult keep_times(SourceFile& source) override {
        if (handle_ == INVALID_HANDLE_VALUE) return FsResult();  // the system's copy kept them
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
        return result_of(SetFileInformationByHandle(handle_, FileBasicInfo, &basic, sizeof basic));
    }

    /// The data on the disk, the deletion mark taken off, and the copy closed: Windows
    /// renames no file that is open without sharing.
    FsResult flush() override {
        if (handle_ == INVALID_HANDLE_VALUE) return FsResult();
        const bool done = FlushFileBuffers(handle_) && delete_on_close(handle_, false);
        FsResult r = done ? FsResult() : failed();
        CloseHandle(handle_);  // deleted with it unless kept
        handle_ = INVALID_HANDLE_VALUE;
        return r;
    }

   private:
    /// The next allocated range of a sparse file from at on, at most size of it; false when
    /// no data is left.
    bool next_range(const Win32Source& from, uint64_t& at, DWORD& size) {
        FILE_ALLOCATED_RANGE_BUFFER rest, range;
        rest.FileOffset.QuadPart = static_cast<LONGLONG>(at_);
        rest.Length.QuadPart = static_cast<LONGLONG>(from.size() > at_ ? from.size() - at_ : 0);
        if (rest.Length.QuadPart == 0) return false;
        DWORD bytes = 0;
        const BOOL asked = DeviceIoControl(from.handle, FSCTL_QUERY_ALLOCATED_RANGES, &rest,
                                           sizeof rest, &range, sizeof range, &bytes, nullptr);
        if (!asked && GetLastError() != ERROR_MORE_DATA) {
            sparse_ = false;  // the volume does not tell: all of it is data
            return true;
        }
        if (bytes < sizeof range) return false;  // no data left: the rest is a hole
        at = static_cast<uint64_t>(range.FileOffset.QuadPart);
        const uint64_t length = static_cast<uint64_t>(range.Length.QuadPart);
        if (length < size) size = static_cast<DWORD>(length);
        return true;
    }

    /// No data after the copy's place: the rest, up to the file's size, is a hole.
    FsResult end_of_data(const Win32Source& from, uint64_t& copied) {
        ended_ = true;
        if (!sparse_ || at_ >= from.size()) return FsResult();
        FILE_END_OF_FILE_INFO end;
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(from.size());
        if (!SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end, sizeof end))
            return failed();
        copied = from.size() - at_;
        at_ = from.size();
        return FsResult();
    }

    /// The source's alternate data streams, each to a stream of the same name of the copy.
    void copy_streams(const Win32Source& from, std::string& lost) {
        if (buffer_.empty()) buffer_.resize(4096);
        WIN32_FIND_STREAM_DATA stream;
        HANDLE found = FindFirstStreamW(from.path.c_str(), FindStreamInfoStandard, &stream, 0);
        if (found == INVALID_HANDLE_VALUE) return;  // none, or a volume without streams
        do {
            const std::wstring name = stream.cStreamName;
            if (name != L"::$DATA" && !copy_stream(from.path + name, path_ + name)) {
                char why[64];
                std::snprintf(why, sizeof why, " (error %lu)",
                              static_cast<unsigned long>(GetLastError()));
                add_words(lost, "not kept: the stream " + utf8_of(name) + why);
            }
        } while (FindNextStreamW(found, &stream));
        FindClose(found);
    }

    bool copy_stream(const std::wstring& source, const std::wstring& made) {
        HANDLE in = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
        HANDLE out = in == INVALID_HANDLE_VALUE ? INVALID_HANDLE_VALUE
                                                : CreateFileW(made.c_str(), GENERIC_WRITE, 0,
                                                              nullptr, CREATE_NEW, 0, nullptr);
        bool done = out != INVALID_HANDLE_VALUE;
        for (DWORD got = 1, put = 0; done && got > 0;) {
            done =
                ReadFile(in, buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr) &&
                WriteFile(out, buffer_.data(), got, &put, nullptr) && put == got;
        }
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
        if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
        return done;
    }

    /// The source's own access entries (its DACL) to the copy; false when they could not be
    /// set. Not under Wine, which makes up an access list from the file's Unix permissions and
    /// maps one that is set back to wider permissions than the file has.
    bool copy_access(const Win32Source& from, std::string& lost) {
        if (running_under_wine()) return true;
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
            error = SetSecurityInfo(handle_, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
            LocalFree(descriptor);
            if (error == ERROR_SUCCESS) return true;
        }
        // A volume without access lists has none to keep.
        if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) return true;
        add_words(lost, "not kept: its access list (error " + std::to_string(error) + ")");
        return false;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;  // none for the copy of a link
    std::string name_;
    std::wstring path_;
    std::vector<char>& buffer_;
    bool sparse_ = false;  // only the allocated ranges are copied
    bool ended_ = false;   // the whole file is copied
    uint64_t at_ = 0;      // how far the copy got
};

/// An entry opened for its deletion, every kind of sharing allowed.
class Win32Held : public HeldEntry {
   public:
    explicit Win32Held(HANDLE h) : handle_(h) {
        known_ = GetFileInformationByHandle(handle_, &info_) != 0;
    }
    ~Win32Held() override { CloseHandle(handle_); }
    bool ordinary() override {
        const DWORD not_ordinary =
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT;
        return known_ && !(info_.dwFileAttributes & not_ordinary);
    }
    bool same_file(HeldEntry& other) override {
        const Win32Held& o = static_cast<Win32Held&>(other);
        return known_ && o.known_ && info_.dwVolumeSerialNumber == o.info_.dwVolumeSerialNumber &&
               info_.nFileIndexHigh == o.info_.nFileIndexHigh &&
               info_.nFileIndexLow == o.info_.nFileIndexLow;
    }
    FsResult remove_on_close() override { return result_of(delete_on_close(handle_)); }

   private:
    HANDLE handle_;
    BY_HANDLE_FILE_INFORMATION info_ = {};
    bool known_ = false;
};

/// A full path in the form Windows takes as it is, without cutting a last part's trailing dots
/// or blanks, and without taking a device's name for the device: "\\?\C:\dir\",
/// "\\?\UNC\server\share\"; a typed "\\.\" is taken as "\\?\".
std::wstring long_path(const std::wstring& full) {
    if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
    if (full.compare(0, 4, L"\\\\.\\") == 0) return L"\\\\?\\" + full.substr(4);
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

/// The long path through which the entries of the directory held are reached, with its
/// separator: the path the handle reaches, else the typed one made full (as typed, when it is
/// a long path already). Each is taken only when it is seen to reach the directory held:
/// Wine gives a name with trailing dots without them. Empty when none does.
std::wstring directory_prefix(HANDLE held, const std::wstring& typed) {
    std::vector<std::wstring> paths;
    const std::wstring reached = final_path(held);
    if (reached.size() > 6 && reached.compare(0, 4, L"\\\\?\\") == 0 &&
        (reached[5] == L':' || reached.compare(4, 4, L"UNC\\") == 0)) {
        paths.push_back(reached);
    }
    if (typed.compare(0, 4, L"\\\\?\\") == 0 || typed.compare(0, 4, L"\\\\.\\") == 0) {
        paths.push_back(long_path(typed));
    } else {
        std::wstring full(32768, L'\0');
        const DWORD n = GetFullPathNameW(typed.c_str(), 32768, &full[0], nullptr);
        if (n > 0 && n < 32768) paths.push_back(long_path(full.substr(0, n)));
    }
    uint64_t volume = 0, index = 0;
    const bool known = identity_of(held, volume, index);
    for (std::wstring& p : paths) {
        if (known && !path_reaches(p, held)) continue;
        if (p.back() != L'\\') p += L'\\';
        return p;
    }
    return std::wstring();
}

/// The directory of a run, held open without delete sharing, so that it cannot be renamed,
/// removed or replaced while the run goes on; its entries are reached through its prefix.
class Win32Directory : public Directory {
   public:
    /// typed: the directory as typed, for the listing; prefix: the long path that reaches it,
    /// with its separator.
    Win32Directory(HANDLE held, std::wstring typed, std::wstring prefix, std::string pattern)
        : Directory(std::move(pattern)),
          held_(held),
          typed_(std::move(typed)),
          prefix_(std::move(prefix)),
          name_in_volume_(name_in_volume(held)) {
        if (!name_in_volume_.empty() && name_in_volume_.back() != L'\\') name_in_volume_ += L'\\';
        traits_.rename_may_replace = rename_may_replace_here();
        traits_.match = NameMatch::ANY_CASE;
        traits_.path_length = reached_length();
        DWORD longest = 0;
        traits_.longest_name = GetVolumeInformationByHandleW(held_, nullptr, 0, nullptr, &longest,
                                                             nullptr, nullptr, 0) &&
                                       longest > 0
                                   ? longest
                                   : 255;
    }
    ~Win32Directory() override { CloseHandle(held_); }
    /// The directory's handle, and the long path that reaches its entries, with a separator.
    HANDLE held() const { return held_; }
    const std::wstring& prefix() const { return prefix_; }
    /// The long path of the entry name.
    std::wstring entry_path(const char* name) const { return at(name); }

    bool next(FindEntry& e, FsResult&) override {
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

    /// The times as FileBasicInfo gives them (the change time too), the size as
    /// FileStandardInfo does.
    /// The identity is the file's index in its volume; under Wine, a FIFO, socket or device,
    /// which it opens but cannot look at, is SPECIAL, and a link, which it follows, or a name
    /// it shows otherwise, is not reachable.
    FsResult look(const char* name, EntryInfo& info) override {
        const std::wstring path = at(name);
        HANDLE h = open_to_look(path);
        if (h == INVALID_HANDLE_VALUE) return failed();
        FILE_BASIC_INFO basic;
        FILE_STANDARD_INFO standard;
        const bool known =
            GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) &&
            GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard);
        FsResult r = known ? FsResult() : failed();
        uint64_t volume = 0, index = 0;
        if (known && identity_of(h, volume, index)) {
            info.id = index;
            info.device = volume;
        }
        info.reachable = reachable_name(name);
        if (known && running_under_wine()) {
            const std::wstring own = path.substr(prefix_.size());
            info.reachable =
                info.reachable && own.find(L'\xFFFD') == std::wstring::npos && holds_itself(h, own);
        }
        CloseHandle(h);
        if (!known && running_under_wine()) {
            info.type = EntryType::SPECIAL;
            return FsResult();
        }
        if (!known) return r;
        auto unix_ns = [](LARGE_INTEGER t) { return unix_time(t.QuadPart); };
        info.type = basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY       ? EntryType::DIRECTORY
                    : basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? EntryType::LINK
                                                                          : EntryType::FILE;
        info.size = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
        info.modified = unix_ns(basic.LastWriteTime);
        info.changed = unix_ns(basic.ChangeTime);
        return r;
    }

    /// MoveFileEx, in its wide form (the ANSI one cuts a path of MAX_PATH characters or more,
    /// which a long path of a name near the limit is), without MOVEFILE_COPY_ALLOWED: MoveFile
    /// moves a file to another volume by copying it and removing the original. It never
    /// replaces a name, but under Wine may (rename_may_replace).
    FsResult rename_noreplace(const char* from, Directory& into, const char* to) override {
        return result_of(MoveFileExW(at(from).c_str(), other(into).at(to).c_str(), 0));
    }

    FsResult rename(const char* from, const char* to) override {
        return rename_noreplace(from, *this, to);
    }

    FsResult link(const char* from, Directory& into, const char* to) override {
        return result_of(CreateHardLinkW(other(into).at(to).c_str(), at(from).c_str(), nullptr));
    }

    /// A read-only file of ours loses its attribute first, as Windows will not remove it.
    FsResult remove(const char* name) override {
        const std::wstring path = at(name);
        if (DeleteFileW(path.c_str())) return FsResult();
        FsResult refused = failed();
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (refused.code != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
            !(attributes & FILE_ATTRIBUTE_READONLY)) {
            return refused;
        }
        SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        if (DeleteFileW(path.c_str())) return FsResult();
        FsResult again = failed();
        SetFileAttributesW(path.c_str(), attributes);
        return again;
    }

    /// Unpredictable bits drawn once for the run, and a count of the names made.
    std::string private_name() override {
        if (names_made_++ == 0) {
            unsigned int high = 0, low = 0;
            if (rand_s(&high) != 0 || rand_s(&low) != 0) {
                high = GetTickCount();
                low = GetCurrentProcessId() ^ static_cast<unsigned>(GetTickCount64() >> 32);
            }
            name_bits_ = (static_cast<uint64_t>(high) << 32) | low;
        }
        const uint64_t bits = name_bits_ + names_made_;
        unsigned r[4];
        for (int i = 0; i < 4; ++i) r[i] = static_cast<unsigned>(bits >> (48 - 16 * i)) & 0xFFFFu;
        char name[PRIVATE_NAME_SIZE];
        format_private_name(name, static_cast<long>(GetCurrentProcessId()), r);
        return name;
    }

    /// The prefix without the "\\\\?\\" that only long paths have, in the code page's bytes
    /// as names are counted; 0 where the code page cannot hold it.
    size_t reached_length() const {
        const bool unc = prefix_.compare(0, 8, L"\\\\?\\UNC\\") == 0;
        const std::wstring path = unc ? L"\\\\" + prefix_.substr(8) : prefix_.substr(4);
        std::string narrow;
        return narrow_exact(path.c_str(), narrow) ? narrow.size() : 0;
    }

    /// Counted in UTF-16 units, as the volume's limit is (255 on NTFS).
    bool name_fits(const char* name) override {
        return widen(name, std::strlen(name), CP_ACP).size() <= traits_.longest_name;
    }

    /// Each character in the system's own upper case, as NTFS compares names.
    std::string name_key(const char* name) override {
        const std::wstring wide = widen(name, std::strlen(name), CP_ACP);
        std::wstring upper(wide.size(), L'\0');
        const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                                    static_cast<int>(wide.size()), &upper[0],
                                    static_cast<int>(upper.size()), nullptr, nullptr, 0);
        if (n <= 0) return name;
        upper.resize(static_cast<size_t>(n));
        return utf8_of(upper);
    }

    /// Shared for deletion alone: a file that another program holds open (with every kind of
    /// sharing, its name would stay until that program closes it) is refused, as a sharing
    /// violation.
    FsResult hold_entry(const char* name, std::unique_ptr<HeldEntry>& held) override {
        HANDLE h = CreateFileW(at(name).c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return failed();
        held.reset(new Win32Held(h));
        return FsResult();
    }

    FsResult open_source(const char* name, std::unique_ptr<SourceFile>& source) override {
        std::unique_ptr<Win32Source> opened(new Win32Source);
        opened->path = at(name);
        opened->handle = CreateFileW(
            opened->path.c_str(), GENERIC_READ,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (opened->handle == INVALID_HANDLE_VALUE ||
            !GetFileInformationByHandle(opened->handle, &opened->info)) {
            return failed();
        }
        source = std::move(opened);
        return FsResult();
    }

    /// Always under a private name; a link is copied by the system's own copy, as a link.
    FsResult create_copy(SourceFile& source, std::unique_ptr<NewCopy>& copy) override {
        const Win32Source& from = static_cast<Win32Source&>(source);
        const std::string name = private_name();
        std::unique_ptr<Win32Copy> made(new Win32Copy(name, at(name.c_str()), buffer_));
        if (from.type() == EntryType::LINK) {
            if (!CopyFileExW(from.path.c_str(), at(name.c_str()).c_str(), nullptr, nullptr, nullptr,
                             COPY_FILE_FAIL_IF_EXISTS | COPY_FILE_COPY_SYMLINK)) {
                return failed();
            }
        } else {
            const FsResult r = made->create(from);
            if (!r.ok()) return r;
        }
        copy = std::move(made);
        return FsResult();
    }

   private:
    /// Every entry, the pattern's matches first. Windows matches names its own way (short
    /// names, case): a pattern with wildcards is searched as typed; one without matches the
    /// entries listed under that name or short name alone, never a device that the search
    /// makes up for it ("con.txt" finds the console).
    void list() {
        std::vector<Found> every;
        find_all(typed_ + L"*", every);
        std::map<std::wstring, int> seen;  // a name given twice names neither entry exactly
        for (const Found& f : every) ++seen[f.name];
        const std::wstring pattern = widen(pattern_.data(), pattern_.size(), CP_ACP);
        std::set<std::wstring> matched;
        if (pattern.find_first_of(L"*?") != std::wstring::npos) {
            std::vector<Found> found;
            find_all(typed_ + pattern, found);
            for (const Found& f : found) matched.insert(f.name);
        } else {
            const bool as_typed = typed_.compare(0, 4, L"\\\\?\\") == 0;
            const std::wstring name = as_typed ? pattern : trimmed(pattern);
            for (const Found& f : every) {
                if (same_name(f.name, name) ||
                    (!f.short_name.empty() && same_name(f.short_name, name)))
                    matched.insert(f.name);
            }
        }
        for (int pass = 0; pass < 2; ++pass) {
            for (Found& f : every) {
                FindEntry& e = f.entry;
                e.matched = matched.count(f.name) != 0;
                if (e.matched != (pass == 0)) continue;
                if (e.matched && e.reachable) e.reachable = seen[f.name] == 1 && reaches_itself(f);
                entries_.push_back(std::move(e));
            }
        }
    }

    /// Whether the entry's name reaches the entry itself. Under Wine: not for a name another
    /// system made that Windows cannot show (Wine shows bytes that are not UTF-8 as U+FFFD, and
    /// reaches the entry by a name that holds other bytes), nor for a symbolic link, which
    /// shows as a file and whose name reaches its target. A FIFO, socket or device, which Wine
    /// opens but cannot look at, is flagged special.
    bool reaches_itself(Found& f) {
        if (!running_under_wine() || f.entry.is_directory) return true;
        if (f.name.find(L'\xFFFD') != std::wstring::npos) return false;
        HANDLE h = open_to_look(prefix_ + f.name);
        if (h == INVALID_HANDLE_VALUE) return true;  // the run says why
        FILE_BASIC_INFO basic;
        f.entry.special = !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic);
        const bool itself = f.entry.special || holds_itself(h, f.name);
        CloseHandle(h);
        return itself;
    }

    /// Whether the handle h, opened by the entry's name own, holds that entry and not what a
    /// link of it leads to.
    bool holds_itself(HANDLE h, const std::wstring& own) {
        const std::wstring reached = name_in_volume(h);
        // Wine gives names without their trailing dots and blanks.
        return reached.empty() || name_in_volume_.empty() ||
               same_name(trimmed(reached), trimmed(name_in_volume_ + own));
    }

    /// The entry name's long path, in UTF-16: reached exactly, and past MAX_PATH characters.
    /// Another directory of the run, which is this platform's too.
    static const Win32Directory& other(Directory& d) { return static_cast<Win32Directory&>(d); }

    std::wstring at(const char* name) const {
        return prefix_ + widen(name, std::strlen(name), CP_ACP);
    }

    HANDLE held_;
    std::wstring typed_;           // the directory as typed, for the system's search
    std::wstring prefix_;          // the directory's long path and separator
    std::wstring name_in_volume_;  // the directory's path in its volume, and a separator
    std::vector<FindEntry> entries_;
    size_t at_ = 0;
    bool listed_ = false;
    unsigned names_made_ = 0;
    uint64_t name_bits_ = 0;
    std::vector<char> buffer_;  // one for every copy of the run
};

/// What a call that gives a path back into a buffer (its length; the size it needs when the
/// buffer is short; 0 when it fails) gives, whatever its length.
template <typename Call>
FsResult given_back(std::string& out, Call call) {
    std::vector<char> buffer(MAX_PATH + 1);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD n = call(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n == 0) return failed();
        if (n < buffer.size()) {
            out.assign(buffer.data(), n);
            return FsResult();
        }
        buffer.resize(n + 1);
    }
    return failed(ERROR_BUFFER_OVERFLOW);
}

/// A directory held open, as a run's directory is, so that it stays where it is while held;
/// with follow false, a link of the file system (a reparse point) is refused.
HANDLE hold_directory(const std::wstring& path, bool follow) {
    HANDLE h = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    BY_HANDLE_FILE_INFORMATION info;
    const bool directory = GetFileInformationByHandle(h, &info) &&
                           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                           (follow || !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT));
    if (directory) return h;
    CloseHandle(h);
    SetLastError(ERROR_DIRECTORY);
    return INVALID_HANDLE_VALUE;
}

/// Whether the directory held as h is owned by another user than the process's own, the
/// Administrators or the system; false where the owner cannot be read.
bool foreign_owner(HANDLE h) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool foreign = owner && !IsWellKnownSid(owner, WinBuiltinAdministratorsSid) &&
                   !IsWellKnownSid(owner, WinLocalSystemSid);
    HANDLE token = nullptr;
    if (foreign && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        char user[256];
        DWORD length = 0;
        if (GetTokenInformation(token, TokenUser, user, sizeof user, &length))
            foreign = !EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return foreign;
}

/// A refusal that names the directory it is about.
FsResult refused_at(const std::wstring& shown, DWORD error, const char* why = nullptr) {
    FsResult r = failed(error);
    r.words = utf8_of(shown) + ": " + (why ? std::string(why) : r.words);
    return r;
}

/// The components of the long path of a directory below which an absolute /TO mirrors it:
/// "\\?\C:\work" gives C and work, "\\?\UNC\server\share\x" server, share and x.
std::vector<std::wstring> mirrored_components(const std::wstring& full) {
    std::wstring rest = full.compare(0, 8, LR"(\\?\UNC\)") == 0 ? full.substr(8)
                        : full.compare(0, 4, LR"(\\?\)") == 0   ? full.substr(4)
                                                                : full;
    if (rest.size() >= 2 && rest[1] == L':') rest.erase(1, 1);  // the drive's letter alone
    std::vector<std::wstring> parts;
    std::wstring part;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || rest[i] == L'\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += rest[i];
        }
    }
    return parts;
}

/// The walk of win32_open_backups: the path reached so far, as the system and as the user
/// name it, and the directories held on the way.
struct Win32Walk {
    std::wstring path, shown;
    std::vector<std::wstring> parts;  // the components still to enter
    bool absolute = false, make = false, pending = false;
    std::vector<HANDLE> held;
    BackupsDirectory* out = nullptr;
    ~Win32Walk() {
        for (HANDLE h : held) CloseHandle(h);
    }

    /// Where the walk starts: an absolute to, which must exist, and the files' canonical
    /// path's components; else the files' directory and to's own.
    FsResult start(const Win32Directory& files, const std::wstring& to) {
        if (!absolute) {
            path = files.prefix();
            for (size_t i = 0, from = 0; i <= to.size(); ++i) {
                if (i < to.size() && to[i] != L'\\') continue;
                const std::wstring part = to.substr(from, i - from);
                if (!part.empty() && part != L".") parts.push_back(part);
                from = i + 1;
            }
            return FsResult();
        }
        std::wstring full(32768, L'\0');
        const DWORD n = GetFullPathNameW(to.c_str(), 32768, &full[0], nullptr);
        if (n == 0 || n >= 32768) return refused_at(to, GetLastError());
        path = long_path(full.substr(0, n));
        HANDLE root = hold_directory(path, true);
        if (root == INVALID_HANDLE_VALUE) return refused_at(to, GetLastError());
        held.push_back(root);
        const std::wstring canonical = final_path(files.held());
        if (canonical.empty()) return refused_at(L"the files' directory", GetLastError());
        parts = mirrored_components(canonical);
        shown = to;
        return FsResult();
    }

    /// Enters the component part, making it where it is missing; what the user typed may be
    /// a link, what the program makes or mirrors never is.
    FsResult enter(const std::wstring& part) {
        if (!path.empty() && path.back() != L'\\') path += L'\\';
        path += part;
        shown += (shown.empty() || shown.back() == L'\\' ? L"" : L"\\") + part;
        if (pending) {
            out->made.push_back(utf8_of(shown));
            return FsResult();
        }
        bool made_now = false;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            const DWORD e = GetLastError();
            if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND) return refused_at(shown, e);
            if (!make) {
                pending = true;
                out->made.push_back(utf8_of(shown));
                return FsResult();
            }
            made_now = CreateDirectoryW(path.c_str(), nullptr) != 0;
            if (!made_now && GetLastError() != ERROR_ALREADY_EXISTS)
                return refused_at(shown, GetLastError());
            if (made_now) out->made.push_back(utf8_of(shown));
        }
        HANDLE h = hold_directory(path, !absolute && !made_now);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            return e == ERROR_DIRECTORY ? refused_at(shown, e, "a link or no directory")
                                        : refused_at(shown, e);
        }
        held.push_back(h);
        // Another user could later remove the backups kept in a directory of theirs.
        if (absolute && foreign_owner(h))
            return refused_at(shown, ERROR_ACCESS_DENIED, "owned by another user");
        return FsResult();
    }
};

/// FileSystem::open_backups on Windows: each directory on the way held open while the walk
/// goes on, so that none is renamed or replaced meanwhile; a directory made takes the access
/// list its parent passes on.
FsResult win32_open_backups(Win32Directory& files, const char* to_typed, bool make,
                            BackupsDirectory& out) {
    std::wstring to = widen(to_typed, std::strlen(to_typed), CP_ACP);
    for (wchar_t& c : to) {
        if (c == L'/') c = L'\\';
    }
    while (to.size() > 1 && to.back() == L'\\' && !(to.size() == 3 && to[1] == L':')) to.pop_back();
    Win32Walk walk;
    walk.absolute = to.size() >= 2 && (to[1] == L':' || (to[0] == L'\\' && to[1] == L'\\'));
    walk.make = make;
    walk.out = &out;
    FsResult r = walk.start(files, to);
    for (size_t i = 0; r.ok() && i < walk.parts.size(); ++i) r = walk.enter(walk.parts[i]);
    if (!r.ok()) return r;
    out.shown = walk.shown.empty() ? std::string() : utf8_of(walk.shown) + "\\";
    if (walk.pending) return FsResult();
    HANDLE h = hold_directory(walk.path, true);
    if (h == INVALID_HANDLE_VALUE) return refused_at(to, GetLastError());
    std::wstring prefix = directory_prefix(h, walk.path);
    if (prefix.empty()) {
        CloseHandle(h);
        return refused_at(to, ERROR_PATH_NOT_FOUND);
    }
    uint64_t v1 = 0, i1 = 0, v2 = 0, i2 = 0;
    const bool known = identity_of(h, v1, i1) && identity_of(files.held(), v2, i2);
    out.same = known && v1 == v2 && i1 == i2;
    out.across = known && v1 != v2;
    out.dir.reset(new Win32Directory(h, prefix, prefix, "*"));
    return FsResult();
}

/// Whether the open files x and y hold the same bytes, one file never counting as the same.
FsResult compare_open(HANDLE x, HANDLE y, bool& same) {
    BY_HANDLE_FILE_INFORMATION ix, iy;
    if (!GetFileInformationByHandle(x, &ix) || !GetFileInformationByHandle(y, &iy)) return failed();
    const DWORD odd = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((ix.dwFileAttributes & odd) || (iy.dwFileAttributes & odd) ||
        ix.nFileSizeHigh != iy.nFileSizeHigh || ix.nFileSizeLow != iy.nFileSizeLow ||
        (ix.dwVolumeSerialNumber == iy.dwVolumeSerialNumber &&
         ix.nFileIndexHigh == iy.nFileIndexHigh && ix.nFileIndexLow == iy.nFileIndexLow))
        return FsResult();
    std::vector<char> bx(256 << 10), by(256 << 10);
    for (;;) {
        DWORD n = 0, m = 0;
        if (!ReadFile(x, bx.data(), static_cast<DWORD>(bx.size()), &n, nullptr)) return failed();
        for (DWORD got = 0; got < n; got += m) {
            if (!ReadFile(y, by.data() + got, n - got, &m, nullptr)) return failed();
            if (m == 0) return FsResult();
        }
        if (std::memcmp(bx.data(), by.data(), n) != 0) return FsResult();
        if (n == 0) {
            char one;
            same = ReadFile(y, &one, 1, &m, nullptr) && m == 0;
            return FsResult();
        }
    }
}

class Win32FileSystem : public FileSystem {
   public:
    /// The calls answer the size they need when the buffer is short: asked again with it,
    /// for a path that may have changed meanwhile.
    FsResult full_path(const char* path, std::string& out) override {
        return given_back(out, [path](DWORD size, char* buffer) {
            return GetFullPathNameA(path, size, buffer, nullptr);
        });
    }

    FsResult current_directory(std::string& out) override {
        return given_back(
            out, [](DWORD size, char* buffer) { return GetCurrentDirectoryA(size, buffer); });
    }

    /// The offset of the local time that Windows' time zone gives the moment, in its own
    /// calendar (to the year 30827).
    int utc_offset(int64_t sec) override {
        const int64_t ticks = (sec + INT64_C(11644473600)) * 10000000;
        FILETIME utc_time = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        SYSTEMTIME utc, local;
        FILETIME local_time;
        if (sec < 0 || !FileTimeToSystemTime(&utc_time, &utc) ||
            !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
            !SystemTimeToFileTime(&local, &local_time))
            return 0;
        ULARGE_INTEGER a, b;
        a.LowPart = local_time.dwLowDateTime;
        a.HighPart = local_time.dwHighDateTime;
        b.LowPart = utc_time.dwLowDateTime;
        b.HighPart = utc_time.dwHighDateTime;
        return static_cast<int>(
            (static_cast<int64_t>(a.QuadPart) - static_cast<int64_t>(b.QuadPart)) / 10000000);
    }

    /// Held without delete sharing: while the run holds it, the directory stays where it is.
    /// Entries are reached through a long path seen to reach the directory held, which the
    /// handle keeps in place: never a neighbour whose name differs in trailing dots or blanks.
    FsResult open_directory(const char* dir, const char* pattern,
                            std::unique_ptr<Directory>& opened) override {
        if (!*pattern) return FsResult();
        const std::wstring typed = widen(dir, std::strlen(dir), CP_ACP);
        HANDLE held = CreateFileW(*dir ? typed.c_str() : L".", FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            FsResult r = failed();
            if (r.code == ERROR_FILE_NOT_FOUND || r.code == ERROR_PATH_NOT_FOUND ||
                r.code == ERROR_DIRECTORY || r.code == ERROR_INVALID_NAME)
                r.status = FsStatus::MISSING;
            return r;
        }
        std::wstring prefix = directory_prefix(held, *dir ? typed : L".");
        if (prefix.empty()) {
            CloseHandle(held);
            FsResult r = failed(ERROR_PATH_NOT_FOUND);
            r.status = FsStatus::MISSING;
            return r;
        }
        opened.reset(new Win32Directory(held, typed, std::move(prefix), pattern));
        return FsResult();
    }

    FsResult open_backups(Directory& files, const char* to, bool make,
                          BackupsDirectory& out) override {
        return win32_open_backups(static_cast<Win32Directory&>(files), to, make, out);
    }

    FsResult same_content(Directory& a_dir, const char* a, Directory& b_dir, const char* b,
                          bool& same) override {
        same = false;
        auto open = [](const std::wstring& path) {
            return CreateFileW(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        };
        HANDLE x = open(static_cast<Win32Directory&>(a_dir).entry_path(a));
        if (x == INVALID_HANDLE_VALUE) return failed();
        HANDLE y = open(static_cast<Win32Directory&>(b_dir).entry_path(b));
        if (y == INVALID_HANDLE_VALUE) {
            FsResult r = failed();
            CloseHandle(x);
            return r;
        }
        FsResult r = compare_open(x, y, same);
        CloseHandle(x);
        CloseHandle(y);
        return r;
    }

    bool argument_exact(const char* arg) override {
        for (const std::string& a : exact_arguments()) {
            if (a == arg) return true;
        }
        return false;
    }
};

}  // namespace

FileSystem& file_system_native() {
    static Win32FileSystem fs;
    return fs;
}

/// Windows ends a console process on Ctrl+C without running its code: there are no signals
/// to hold back.
Signals& signals_native() {
    static Signals s;
    return s;
}
