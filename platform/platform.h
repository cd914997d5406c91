// The operating system as Tavrix sees it, in two sides: the file system (filesys.h, and
// FileSystem here) and the terminal (terminal.h). Everything above this header is written
// once for every platform; the POSIX layer (platform-posix.cpp, filesys-posix.cpp) and the
// Windows one (platform-win32.cpp) implement it, and tests install a fake of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/filesys.h"
#include "platform/terminal.h"

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
/// Keys come from the console even when standard output goes to a pipe.
constexpr bool PLATFORM_KEYS_WITH_PIPED_OUTPUT = true;
#else
constexpr char PLATFORM_SEPARATOR = '/';
constexpr bool PLATFORM_DRIVES = false;
constexpr bool PLATFORM_SLASH_IN_FULL_PATHS = true;
constexpr bool PLATFORM_CASE_INSENSITIVE = false;
constexpr bool PLATFORM_KEYS_WITH_PIPED_OUTPUT = false;
#endif

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
    /// Why the last open_directory found no directory, in the system's words.
    virtual std::string open_error() { return std::string(); }
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
