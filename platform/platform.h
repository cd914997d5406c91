// The operating system as Tavrix sees it, in three interfaces: the file system (filesys.h),
// the terminal (terminal.h) and the signals that end the process (signals.h). Everything
// above this header is written once for every platform; each platform implements them in its
// own files (filesys-posix.cpp, terminal-posix.cpp, signals-posix.cpp; filesys-win32.cpp,
// terminal-win32.cpp), and tests install a fake of all three.
#pragma once

#include "platform/filesys.h"
#include "platform/signals.h"
#include "platform/terminal.h"
#include "platform/traits.h"

/// The three interfaces in one object, as a test installs them.
class Platform : public FileSystem, public Terminal, public Signals {};

/// The interfaces in use: the real ones unless a test installed a platform of its own.
FileSystem& file_system();
Terminal& terminal();
Signals& signals();
/// Installs p (null restores the real platform); for tests.
void platform_install(Platform* p);

/// The real interfaces of this build, each defined in its platform's file.
FileSystem& file_system_native();
Terminal& terminal_native();
Signals& signals_native();
