// The calls that only some POSIX systems have, each used where the build has it: Linux's in
// posix_system-linux.cpp; every other system, and the portable build, get
// posix_system-portable.cpp, where each answers that it cannot (-1 with errno ENOSYS).
#pragma once

#include <sys/types.h>

#include <cstddef>

/// Renames from to to relative to dir, never replacing; -1 with errno as the system gives it.
int system_rename_noreplace(int dir, const char* from, const char* to);
/// Opens a new file without a name in dir, for writing; -1 with errno.
int system_open_unnamed(int dir);
/// Gives the unnamed file fd the name to in dir, never replacing; -1 with errno.
int system_link_unnamed(int fd, int dir, const char* to);
/// Makes out a clone of the whole of in; -1 with errno where the file system cannot.
int system_clone(int in, int out);
/// Copies up to size bytes from in to out at their positions, in the kernel; the count
/// copied, 0 at the end of in, -1 with errno.
ssize_t system_copy_range(int in, int out, size_t size);
/// Fills buffer with unpredictable bytes; false when the system has none to give.
bool system_random(void* buffer, size_t size);
