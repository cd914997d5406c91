// Full paths on POSIX, formed as Windows forms them: without a call to the file system.
#pragma once

#include <string>

/// The absolute form of path ('\' in it read as '/') against the directory cwd: repeated
/// separators and "." components are dropped; ".." is kept, since folding it across a
/// symbolic link would name another file.
std::string absolute_path(const std::string& cwd, const std::string& path);

/// Whether the locale's character set is UTF-8, as names are then read (and written to the
/// terminal); looked at once, the program's own locale left as "C".
bool locale_utf8();
