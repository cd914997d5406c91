// The traits of the platform a build is for, which the program's logic needs without its
// interface: the longest path, and how paths and names behave. A directory's own traits, found
// when it is opened, are DirectoryTraits (filesys.h).
#pragma once

/// Longest path buffer: MAX_PATH characters and a terminator. A path fits when it is shorter
/// than MAX_PATH, leaving room for the terminator as the Windows calls require.
#ifndef MAX_PATH
constexpr int MAX_PATH = 260;
#endif

#ifdef _WIN32
/// The program's name as a user types it.
constexpr const char* PLATFORM_PROGRAM = "Tavrix";
constexpr char PLATFORM_SEPARATOR = '\\';
/// Drive letters with a colon are part of a path ("C:", "C:\").
constexpr bool PLATFORM_DRIVES = true;
/// Full paths may hold '/' as a separator.
constexpr bool PLATFORM_SLASH_IN_FULL_PATHS = false;
/// Names that differ only in the case of their letters name the same file.
constexpr bool PLATFORM_CASE_INSENSITIVE = true;
/// Keys come from the console even when standard output goes to a pipe.
constexpr bool PLATFORM_KEYS_WITH_PIPED_OUTPUT = true;
/// A FIFO, socket or device can be renamed (Wine, the one Windows that shows them, cannot).
constexpr bool PLATFORM_RENAMES_SPECIAL_FILES = false;
#else
constexpr const char* PLATFORM_PROGRAM = "tavrix";
constexpr char PLATFORM_SEPARATOR = '/';
constexpr bool PLATFORM_DRIVES = false;
constexpr bool PLATFORM_SLASH_IN_FULL_PATHS = true;
constexpr bool PLATFORM_CASE_INSENSITIVE = false;
constexpr bool PLATFORM_KEYS_WITH_PIPED_OUTPUT = false;
constexpr bool PLATFORM_RENAMES_SPECIAL_FILES = true;
#endif
