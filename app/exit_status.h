// The program's exit statuses, as the manual page's EXIT STATUS gives them.
#pragma once

#include "console/console.h"

/// A run in which nothing failed (nothing matched, or Esc, too), and the help screen.
constexpr int EXIT_DONE = 0;
/// A second file specification: "Too many parameters".
constexpr int EXIT_TOO_MANY = 1;
/// An unknown switch beginning with "--", or a value or combination of switches refused.
constexpr int EXIT_BAD_SWITCH = 2;
/// Standard output could not take what was written to it.
constexpr int EXIT_NO_OUTPUT = CONSOLE_OUTPUT_FAILED;
/// Something could not be done (a file backed up or restored, a backup removed, a name looked
/// at, the directory opened or read): standard error names each, then counts them.
constexpr int RUN_FAILED = 4;
