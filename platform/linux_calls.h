// The calls that only some POSIX systems have, each used where the build has it: Linux's in
// linux_calls-linux.cpp; every other system, and the portable build, get
// linux_calls-portable.cpp, where each answers that it cannot (-1 with errno ENOSYS).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

/// Renames from (relative to from_dir) to to (relative to to_dir), never replacing; -1 with
/// errno as the system gives it.
int system_rename_noreplace(int from_dir, const char* from, int to_dir, const char* to);
/// Exchanges the names a (relative to a_dir) and b (relative to b_dir) in one step; -1 with
/// errno.
int system_rename_exchange(int a_dir, const char* a, int b_dir, const char* b);
/// Opens a new file without a name in dir, for writing; -1 with errno.
int system_open_unnamed(int dir);
/// Gives the unnamed file fd the name to in dir, never replacing; -1 with errno.
int system_link_unnamed(int fd, int dir, const char* to);
/// Makes out a clone of the whole of in; -1 with errno where the file system cannot.
int system_clone(int in, int out);
/// Copies up to size bytes from in at offset at to out at the same offset, in the kernel; the
/// count copied, 0 at the end of in, -1 with errno.
ssize_t system_copy_range(int in, int out, off_t at, size_t size);
/// Copies every extended attribute of in that the process can read to out: the access list
/// (system.posix_acl_access), user.*, security.* and trusted.* where permitted. Returns those
/// it could not copy with the reason of each, empty when all went; narrowing is set when an
/// attribute that can narrow
/// who may read the file (an access list, a security label) could not be set. Where the
/// system has no extended attributes, there is nothing to copy.
/// With inherited (a directory whose default access list new files take), an access list
/// that in does not have is removed from out.
std::string system_copy_xattrs(int in, int out, bool inherited, bool& narrowing);
/// True when the directory dir gives new files a default access list (or cannot tell).
bool system_default_access_list(int dir);
/// Puts everything written to the file system that holds fd on the disk, in one call, and
/// tells of a failed write there since fd was opened; -1 with errno.
int system_sync_fs(int fd);
/// What system_fixed_file finds: an entry that cannot be changed, or only added to.
constexpr int FIXED_IMMUTABLE = 1;
constexpr int FIXED_APPEND_ONLY = 2;
/// Whether the entry name of dir (dir itself for "") is immutable or append-only, as
/// FIXED_ bits; 0 where the system cannot tell.
int system_fixed_file(int dir, const char* name);
/// The status of the entry name of dir, not following a link, and when the file was made: its
/// birth time where the file system keeps one, else its modification time; false (errno set)
/// when it cannot be looked at. One call where the system has statx.
bool system_look(int dir, const char* name, struct stat& st, struct timespec& made);
/// True when the entry name of dir is the root of a mount, which no rename moves; false where
/// the system cannot tell.
bool system_mount_root(int dir, const char* name);
/// True when the process may act as the owner of a file of owner, as in a sticky directory:
/// it has CAP_FOWNER and its user namespace maps owner; where the system cannot tell, when
/// it runs as root.
bool system_acts_as_owner_of(uid_t owner);
/// Fills buffer with unpredictable bytes; false when the system has none to give.
bool system_random(void* buffer, size_t size);
