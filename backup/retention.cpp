#include "backup/retention.h"

#include <cstdio>
#include <cstring>
#include <set>

namespace {

const char* const PERIOD_NAMES[PERIODS] = {"hourly", "daily", "weekly", "monthly", "yearly"};

/// The whole of text as a number from 1 below limit; -1 when it is not one.
long count_of(const std::string& text, long limit) {
    if (text.empty() || text.size() > 6) return -1;
    long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n < limit ? n : -1;
}

int64_t floor_div(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

/// The period of a local moment (seconds since 1970 in local time): its key, which orders
/// the periods, and its label.
int64_t period_of(Period p, int64_t local, std::string& label) {
    const int64_t days = floor_div(local, 86400);
    int64_t year = 0;
    int month = 0, day = 0;
    char text[48];
    switch (p) {
        case Period::HOUR: {
            civil_date(days, year, month, day);
            const int hour = static_cast<int>(floor_div(local, 3600) - days * 24);
            std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:00",
                          static_cast<long long>(year), month, day, hour);
            label = text;
            return floor_div(local, 3600);
        }
        case Period::DAY:
            civil_date(days, year, month, day);
            std::snprintf(text, sizeof text, "%04lld-%02d-%02d", static_cast<long long>(year),
                          month, day);
            label = text;
            return days;
        case Period::WEEK: {
            // ISO weeks begin on Monday; 1970-01-01 was a Thursday. A week is its Thursday's
            // year's, numbered from the week that holds that year's first Thursday.
            const int64_t monday = days - (((days + 3) % 7) + 7) % 7;
            const int64_t thursday = monday + 3;
            civil_date(thursday, year, month, day);
            int64_t y = 0;
            int m = 0, d = 0;
            int64_t jan1 = thursday;
            for (civil_date(jan1, y, m, d); m != 1 || d != 1; civil_date(jan1, y, m, d)) --jan1;
            std::snprintf(text, sizeof text, "%04lld-W%02d", static_cast<long long>(year),
                          static_cast<int>((thursday - jan1) / 7 + 1));
            label = text;
            return floor_div(monday, 7);
        }
        case Period::MONTH:
            civil_date(days, year, month, day);
            std::snprintf(text, sizeof text, "%04lld-%02d", static_cast<long long>(year), month);
            label = text;
            return year * 12 + month;
        default:
            civil_date(days, year, month, day);
            std::snprintf(text, sizeof text, "%04lld", static_cast<long long>(year));
            label = text;
            return year;
    }
}

const char* unit_words(char unit) {
    return unit == 'h' ? "hour" : unit == 'd' ? "day" : "week";
}

}  // namespace

void civil_date(int64_t days, int64_t& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

bool KeepRules::plain() const {
    return newest > 0 && within == 0 && plain_periods() == 0;
}

bool parse_keep_rules(const char* text, KeepRules& rules, std::string& why) {
    rules = KeepRules();
    std::set<std::string> seen;
    const std::string all = text;
    for (size_t from = 0; from <= all.size();) {
        size_t end = all.find(',', from);
        if (end == std::string::npos) end = all.size();
        const std::string rule = all.substr(from, end - from);
        from = end + 1;
        const size_t eq = rule.find('=');
        const std::string kind = eq != std::string::npos              ? rule.substr(0, eq)
                                 : !rule.empty() && rule.back() > '9' ? std::string(1, rule.back())
                                                                      : "N";
        bool known = false;
        if (eq != std::string::npos) {
            for (int p = 0; p < PERIODS; ++p) {
                if (kind != PERIOD_NAMES[p]) continue;
                const long n = count_of(rule.substr(eq + 1), 100000);
                known = n > 0;
                if (known) rules.periods[p] = static_cast<int>(n);
            }
        } else if (kind == "h" || kind == "d" || kind == "w") {
            const long n = count_of(rule.substr(0, rule.size() - 1), 100000);
            known = n > 0;
            rules.within = static_cast<int>(n);
            rules.within_unit = kind[0];
        } else if (kind == "N") {
            const long n = count_of(rule, 100000);
            known = n > 0;
            rules.newest = static_cast<int>(n);
        }
        if (!known) {
            why = "/KEEP: \"" + rule +
                  "\" is no rule: N, Nh, Nd, Nw, hourly=N, daily=N, weekly=N, monthly=N or "
                  "yearly=N, each N from 1 to 99999";
            return false;
        }
        const std::string family = kind == "h" || kind == "d" || kind == "w" ? "age" : kind;
        if (!seen.insert(family).second) {
            why = "/KEEP: \"" + rule + "\" is a rule given twice";
            return false;
        }
    }
    return true;
}

std::vector<Verdict> judge_backups(const std::vector<FileTime>& times, const KeepRules& rules,
                                   int64_t now, const std::function<int(int64_t)>& utc_offset) {
    std::vector<Verdict> verdicts(times.size());
    const int64_t span = static_cast<int64_t>(rules.within) * (rules.within_unit == 'h'   ? 3600
                                                               : rules.within_unit == 'd' ? 86400
                                                                                          : 604800);
    std::set<int64_t> seen[PERIODS];
    for (size_t i = 0; i < times.size(); ++i) {
        Verdict& v = verdicts[i];
        const int64_t t = times[i].sec > now ? now : times[i].sec;
        char words[96];
        if (i == 0) {
            v = {true, "the newest"};
        } else if (rules.newest > 0 && static_cast<int>(i) < rules.newest) {
            std::snprintf(words, sizeof words, "one of the %d newest", rules.newest);
            v = {true, words};
        } else if (rules.within > 0 && now - t < span) {
            std::snprintf(words, sizeof words, "made within %d %s%s", rules.within,
                          unit_words(rules.within_unit), rules.within == 1 ? "" : "s");
            v = {true, words};
        }
        // Each period's first backup, newest first, is its newest; it counts as one of the
        // last N periods that have a backup. The first rule that keeps a backup is told.
        const int64_t local = t + (utc_offset ? utc_offset(t) : 0);
        for (int p = 0; p < PERIODS; ++p) {
            if (rules.periods[p] == 0) continue;
            std::string label;
            const int64_t key = period_of(static_cast<Period>(p), local, label);
            if (!seen[p].insert(key).second) continue;
            const int count = static_cast<int>(seen[p].size());
            if (count > rules.periods[p] || v.kept) continue;
            std::snprintf(words, sizeof words, "newest of %s (%s %d of %d)", label.c_str(),
                          PERIOD_NAMES[p], count, rules.periods[p]);
            v = {true, words};
        }
    }
    return verdicts;
}
