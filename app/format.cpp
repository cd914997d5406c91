#include "app/format.h"

#include <cstdio>

#include "backup/retention.h"
#include "platform/platform.h"

std::string human_size(uint64_t bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    int unit = 0;
    // A value that would print as 1024.0 is shown in the next unit.
    while (value >= 1023.95 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string civil_time(int64_t s) {
    int64_t days = s / 86400, rest = s % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t year = 0;
    int month = 0, day = 0;
    civil_date(days, year, month, day);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02lld:%02lld:%02lld",
                  static_cast<long long>(year), month, day, static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

std::string local_time(const FileTime& t) {
    const int offset = file_system().utc_offset(t.sec);
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, " %c%02d%02d", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return civil_time(t.sec + offset) + zone;
}

std::string iso_time(const FileTime& t) {
    std::string text = civil_time(t.sec);
    text[10] = 'T';
    return text + "Z";
}
