// Which of a file's backups /KEEP keeps, by its rules: the N newest, those made within an age,
// and the newest of each of the last N hours, days, ISO weeks, months or years that have a
// backup, in local time. A backup stays when any rule keeps it; the newest always stays.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/filesys.h"

/// The periods of the calendar rules, in the order they are told.
enum class Period { HOUR, DAY, WEEK, MONTH, YEAR };
constexpr int PERIODS = 5;

/// The rules of one /KEEP value; 0 is a rule not given.
struct KeepRules {
    int newest = 0;        // N: the N newest
    int within = 0;        // Nh, Nd, Nw: made within the last `within` of within_unit
    char within_unit = 0;  // 'h', 'd' or 'w'
    int periods[PERIODS] = {0, 0, 0, 0, 0};  // hourly=N, daily=N, weekly=N, monthly=N, yearly=N
    /// Only N, today's /KEEP:N, whose words have no reasons.
    bool plain() const;
    bool any() const { return newest > 0 || within > 0 || plain_periods() > 0; }
    int plain_periods() const {
        int n = 0;
        for (int p : periods) n += p;
        return n;
    }
};

/// Reads rules separated by commas ("3,7d,daily=30"); false with why naming the rule that is
/// unknown, 0, past its bound or given twice.
bool parse_keep_rules(const char* text, KeepRules& rules, std::string& why);

/// Days since 1970-01-01 as a date of the proleptic Gregorian calendar.
void civil_date(int64_t days, int64_t& year, int& month, int& day);

/// What a rule said of one backup: kept (and why, in words), or not kept.
struct Verdict {
    bool kept = false;
    std::string why;  // "the newest", "one of the 3 newest", "made within 7 days",
                      // "newest of 2026-12-07 (daily 2 of 7)"
};

/// For the times of a file's backups, newest first (the first is the newest, whatever its
/// time), which of them the rules keep; now in seconds since 1970, utc_offset the local
/// time's offset at a moment. A time in the future counts as now.
std::vector<Verdict> judge_backups(const std::vector<FileTime>& times, const KeepRules& rules,
                                   int64_t now, const std::function<int(int64_t)>& utc_offset);
