// The command line: the switches, their values, and the combinations refused.
#include "app/switches.h"

#include <cstring>
#include <string>

#include "platform/traits.h"

namespace {

/// Compares without regard to the case of A to Z only.
bool same_ascii_nocase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 'a' + 'A') : *a;
        char y = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 'a' + 'A') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

/// The switches, the long form other tools have taught users (null for none), and what
/// each does to the run's options; a help switch has none, the run ends there.
struct Switch {
    const char* name;
    const char* long_name;
    void (*apply)(RunOptions& options);
};

const Switch switch_table[] = {
    {"/?", nullptr, nullptr},
    {"/H", nullptr, nullptr},
    {"/Q", "--quiet", [](RunOptions& o) { o.verbose = false; }},
    {"/HEX", nullptr, [](RunOptions& o) { o.hex = true; }},
    {"/FORMAT1", nullptr, [](RunOptions& o) { o.format = 0; }},
    {"/FORMAT2", nullptr, [](RunOptions& o) { o.format = 1; }},
    {"/FORMAT3", nullptr, [](RunOptions& o) { o.format = 2; }},
    {"/FORMAT4", nullptr, [](RunOptions& o) { o.format = 3; }},
    {"/DEBUG", nullptr, [](RunOptions& o) { o.debug = true; }},
    {"/L", "--dry-run", [](RunOptions& o) { o.list_only = true; }},
    {"/N", nullptr, [](RunOptions& o) { o.list_only = true; }},
    {"/COPY", nullptr, [](RunOptions& o) { o.copy = true; }},
    {"/LIST", "--list", [](RunOptions& o) { o.list_backups = true; }},
    {"/RESTORE", "--restore", [](RunOptions& o) { o.restore = true; }},
    {"/JSON", "--json", [](RunOptions& o) { o.json = true; }},
    {"/CHANGED", "--changed", [](RunOptions& o) { o.changed = true; }},
};

/// The table's entry for arg, by its name or (with long) its long form; null for none.
const Switch* find_switch(const char* arg, bool long_form = false) {
    for (const Switch& s : switch_table) {
        const char* name = long_form ? s.long_name : s.name;
        if (name && same_ascii_nocase(arg, name)) return &s;
    }
    return nullptr;
}

/// The switches that take a value, and their long forms: any argument that begins with one
/// of them is that switch, whatever follows.
struct ValueSwitch {
    const char* name;
    const char* long_name;
    void (*apply)(RunOptions& options, const char* value);
};

const ValueSwitch value_table[] = {
    {"/KEEP:", "--keep=", [](RunOptions& o, const char* v) { o.keep_text = v; }},
    {"/TO:", "--to=", [](RunOptions& o, const char* v) { o.to = v; }},
    {"/RESTORE:", "--restore=",
     [](RunOptions& o, const char* v) {
         o.restore = true;
         o.restore_number = v;
     }},
};

/// The value switch that arg begins with (with long, in its long form); null for none.
const ValueSwitch* value_switch(const char* arg, bool long_form = false) {
    for (const ValueSwitch& s : value_table) {
        const char* prefix = long_form ? s.long_name : s.name;
        const size_t n = std::strlen(prefix);
        if (std::strlen(arg) >= n && same_ascii_nocase(std::string(arg, n).c_str(), prefix))
            return &s;
    }
    return nullptr;
}

/// Where absolute paths begin with '/', such an argument is a switch only when it is one of
/// ours; an argument that began with '-' always is.
bool is_switch(const char* arg, bool was_dash) {
    if (arg[0] != '/') return false;
    if (PLATFORM_SEPARATOR == '/' && !was_dash)
        return find_switch(arg) != nullptr || value_switch(arg) != nullptr;
    return true;
}

/// The whole of text as a number in base (10 or 16, lowercase or uppercase digits), below
/// limit; -1 when it is not one.
long number_of(const char* text, int base, long limit) {
    if (!*text || std::strlen(text) > 8) return -1;
    long n = 0;
    for (const char* c = text; *c; ++c) {
        const int d = *c >= '0' && *c <= '9'                 ? *c - '0'
                      : base == 16 && *c >= 'a' && *c <= 'f' ? *c - 'a' + 10
                      : base == 16 && *c >= 'A' && *c <= 'F' ? *c - 'A' + 10
                                                             : -1;
        if (d < 0) return -1;
        n = n * base + d;
    }
    return n < limit ? n : -1;
}

/// Why the switches cannot go together or a value is bad, in words; null when all is well.
/// The values are read here, once every switch is known (/HEX may come after /RESTORE:).
const char* refusal_of(RunOptions& o) {
    if (o.keep_text) {
        static std::string why;
        if (!parse_keep_rules(o.keep_text, o.keep_rules, why)) return why.c_str();
        o.keep = o.keep_rules.plain() ? o.keep_rules.newest : 0;
        if (o.format == FORMAT_NUMBER || o.format == FORMAT_BEFORE_EXT)
            return "/KEEP removes only .bak backups: it is refused with /FORMAT2 and /FORMAT3";
        if (o.restore || o.list_backups)
            return "/KEEP goes with a backup run, not with /RESTORE or /LIST";
    }
    if (o.restore_number) {
        o.restore_at =
            static_cast<int>(number_of(o.restore_number, o.hex ? 16 : 10,
                                       o.hex ? SEQUENCE_LIMIT_HEX : SEQUENCE_LIMIT_DECIMAL));
        if (o.restore_at < 0)
            return o.hex ? "/RESTORE: takes a backup's number, 0000 to ffff with /HEX"
                         : "/RESTORE: takes a backup's number, 000 to 998";
    }
    if (o.list_backups && o.restore) return "/LIST and /RESTORE do not go together";
    if (o.changed && (o.restore || o.list_backups))
        return "/CHANGED goes with a backup run, not with /RESTORE or /LIST";
    if (o.to && !*o.to) return "/TO: takes the directory of the backups";
    return nullptr;
}

}  // namespace

ParseResult parse_command_line(int argc, char** argv, RunOptions& options) {
    for (int i = 1; i < argc; ++i) {
        char* arg = argv[i];
        // The long forms other tools have taught users, in any case like every switch; any
        // other is refused, so that a mistyped one never lets a run go ahead.
        if (std::strncmp(arg, "--", 2) == 0) {
            if (same_ascii_nocase(arg, "--help")) return ParseResult::USAGE;
            if (same_ascii_nocase(arg, "--version")) return ParseResult::VERSION;
            if (const Switch* s = find_switch(arg, true)) {
                s->apply(options);
            } else if (const ValueSwitch* v = value_switch(arg, true)) {
                v->apply(options, arg + std::strlen(v->long_name));
            } else {
                options.unknown = arg;
                return ParseResult::UNKNOWN_LONG;
            }
            continue;
        }
        bool was_dash = arg[0] == '-';
        if (was_dash) arg[0] = '/';
        if (!is_switch(arg, was_dash)) {
            if (options.spec) return ParseResult::TOO_MANY;
            options.spec = arg;
            continue;
        }
        if (const ValueSwitch* v = value_switch(arg)) {
            v->apply(options, arg + std::strlen(v->name));
            continue;
        }
        const Switch* s = find_switch(arg);
        if (!s) continue;  // unknown switches are ignored
        if (!s->apply) return ParseResult::HELP;
        s->apply(options);
    }
    options.refusal = refusal_of(options);
    return options.refusal ? ParseResult::REFUSED : ParseResult::RUN;
}
