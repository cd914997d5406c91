// Sizes and times as the reports write them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/filesys.h"

/// A size in the largest unit of 1,024 that keeps it at 1 or more: "512 B", "3.5 MiB".
std::string human_size(uint64_t bytes);
/// Seconds since 1970 as "YYYY-MM-DD HH:MM:SS", in the proleptic Gregorian calendar.
std::string civil_time(int64_t seconds);
/// A moment in local time with its offset from UTC, as ls -l's: "2026-12-09 07:14:50 +0100".
std::string local_time(const FileTime& t);
/// A moment in UTC as ISO 8601: "2026-12-09T06:14:50Z".
std::string iso_time(const FileTime& t);
