// The pure parts of the POSIX platform layer: what the Windows calls do for us there, we do
// here, and test without a terminal or a file system.
#pragma once

#include <cstdint>
#include <string>

/// True when name matches pattern: '*' any run (also empty), '?' one byte, case-sensitive;
/// "*.*" matches every name.
bool wildcard_match(const char* pattern, const char* name);

/// The absolute form of path ('\' in it read as '/') against the directory cwd: repeated
/// separators and "." components are dropped; ".." is kept, since folding it across a
/// symbolic link would name another file.
std::string absolute_path(const std::string& cwd, const std::string& path);

/// The SGR sequence that shows a console attribute. Light grey on black, the console's
/// normal colours, are the terminal's own default colours.
std::string sgr_for_attr(uint16_t attr);
