#include "app/format.h"

#include <cstdio>

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

// Days to a civil date as in the proleptic Gregorian calendar.
std::string civil_time(int64_t s) {
    int64_t days = s / 86400, rest = s % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
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
