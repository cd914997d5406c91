// What the two files of the POSIX layer share: the signals that end the program, whose
// handler puts the terminal back (platform-posix.cpp) and removes a copy's private name
// (filesys-posix.cpp), and the directory of a run.
#pragma once

#include <signal.h>

#include <memory>
#include <vector>

#include "platform/filesys.h"

/// Milliseconds of a steady clock.
long long now_ms();
/// The signals whose default action ends the process and that can be caught.
std::vector<int> ending_signal_list();
sigset_t ending_signals();
/// Installs, once, the handlers of the ending signals and of the stop signals.
void install_handlers();
/// Removes a copy's private name, if there is one; safe in a signal handler.
void remove_temporary();
/// The directory open as fd, for a run over the entries whose names match pattern.
std::unique_ptr<Directory> open_posix_directory(int fd, const char* pattern);
