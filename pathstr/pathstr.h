// Bounded byte-string routines and the path splitters. Strings are terminated byte strings in
// the narrow character set; every buffer holds MAX_PATH characters and a terminator.
#pragma once

#include <cstddef>

/// Copies at most n characters of src and a terminator into dst; returns dst. Absent
/// pointers write nothing.
char* str_copy_max(char* dst, const char* src, size_t n);
/// Writes c over the terminator of s and terminates again; returns s.
char* str_append_char(char* s, char c);
/// 1-based position of the last c in s; 0 when c does not occur or s is absent.
size_t str_last_pos(const char* s, char c);
/// Removes every trailing c from s; returns s.
char* str_strip_trailing(char* s, char c);
/// Appends at most n characters of src and a terminator to dst. Absent pointers do nothing.
void str_concat_max(char* dst, const char* src, size_t n);

/// 1-based position of the last directory separator ('\' or '/') in s; 0 when there is none.
size_t path_last_separator(const char* s);
/// Where the file-name part of s begins: after its last separator, or after a drive's colon
/// ("C:*.doc"); 0 for a bare name.
size_t path_name_start(const char* s);

/// The extension of the last path component, dot included; empty when it has none.
/// Returns a static buffer, overwritten by the next call.
char* path_extension(const char* p);
/// The directory part without its trailing separators (a root keeps its one separator);
/// empty for a bare name or a path of MAX_PATH characters or more; null for an absent or
/// empty p. Static buffer.
char* path_directory(const char* p);
/// The text after the last separator, or the whole of p. Static buffer.
char* path_file_name(const char* p);
/// p without its last extension (static buffer), or p itself when it has no dot.
const char* path_strip_extension(const char* p);
/// Appends separator c unless p is absent, empty, a bare drive or already ends in a
/// separator; returns p.
char* path_add_separator(char* p, char c);
