// The signals that end the program, on POSIX: what the file system and the terminal of the
// POSIX layer ask of them. The handler puts the terminal back and removes the private name of
// a copy in the making, reading nothing but what a signal handler may.
#pragma once

#include <signal.h>

#include <vector>

/// The signals whose default action ends the process and that can be caught.
std::vector<int> ending_signal_list();
sigset_t ending_signals();
/// Installs, once, the handlers of the ending signals.
void install_ending_handlers();
/// Has the handler call restore, which must be safe in a signal handler, before the process
/// ends by a signal.
void on_ending_signal(void (*restore)());

/// The handler removes the private name of process pid with random part r from the directory
/// dir, until forget_private_name; one such name at a time.
void remove_on_signal(int dir, long pid, const unsigned (&r)[4]);
void forget_private_name();
