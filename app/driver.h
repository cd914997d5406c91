// The program: the switches read, the mode they choose run over the plan of the run, the
// report written and the exit status returned, as the manual page's SYNOPSIS and EXIT STATUS.
#pragma once

#include "app/exit_status.h"
#include "app/switches.h"

/// Runs the mode options choose (a backup, /LIST or /RESTORE) over the files matching
/// options.spec and reports it; returns the exit status: EXIT_DONE when nothing failed
/// (nothing matched, or the user cancelled, too); RUN_FAILED when something could not be
/// done, which standard error then tells. With /L, the status the run would have.
int run_backup(const RunOptions& options);

/// The whole program: returns the exit status (the help screen ends the process itself): as
/// the run or the switches say, or EXIT_NO_OUTPUT when standard output could not be written.
int tavrix_main(int argc, char** argv);
