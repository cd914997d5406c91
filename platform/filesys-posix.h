// What the POSIX file system's files share: the descriptor of a directory of a run, and a run's
// directory over a descriptor.
#pragma once

#include <memory>

#include "platform/filesys.h"

/// The descriptor of a directory that this platform opened.
int posix_directory_fd(Directory& dir);
/// A directory of a run over the descriptor fd, which it takes, listing every name.
std::unique_ptr<Directory> posix_directory(int fd);
/// FileSystem::open_backups on POSIX (platform/backups-posix.cpp).
FsResult posix_open_backups(Directory& files, const char* to, bool make, BackupsDirectory& out);
