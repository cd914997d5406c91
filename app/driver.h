// The command-line driver: switches, the search pattern, the renaming loop and its report.
#pragma once

#include "backup/backup.h"

struct RunOptions {
    const char* spec = nullptr;  // the file specification, if one was given
    BackupFormat format = FORMAT_BAK;
    bool hex = false;
    bool verbose = true;
    bool debug = false;
};

enum class ParseResult { RUN, HELP, VERSION, TOO_MANY };

/// Reads the arguments from left to right (a leading '-' becomes '/' in place); stops at a
/// help switch (also --help), --version or a second file specification.
ParseResult parse_command_line(int argc, char** argv, RunOptions& options);

/// Renames every file matching options.spec and reports the run; returns the exit status.
int run_backup(const RunOptions& options);

/// The whole program: returns the exit status (the help screen ends the process itself).
int tavrix_main(int argc, char** argv);
