// The POSIX foresight of a directory's refusals.
#pragma once

#include <memory>

#include "platform/filesys.h"

/// The foresight for the directory open as dir, a descriptor that outlives it.
std::unique_ptr<Foresight> posix_foresight(int dir);
