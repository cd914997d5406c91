// The private names this program gives a file for a moment, ".tavrix-PID-RANDOM.tmp" (PID in
// decimal, RANDOM sixteen lowercase hexadecimal digits): their shape, here alone.
#pragma once

#include <cstddef>

/// Room for the longest private name, its terminator included.
constexpr size_t PRIVATE_NAME_SIZE = 64;

/// Writes the private name of process pid with random part r, four pieces of 16 bits, into out
/// (PRIVATE_NAME_SIZE bytes), without any library call, so that a signal handler can make it.
void format_private_name(char* out, long pid, const unsigned (&r)[4]);

/// True when name has exactly the shape of a private name: one that is there when a run lists
/// the directory was left by a run that was interrupted.
bool is_private_name(const char* name);
