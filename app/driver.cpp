#include "app/driver.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/version.h"
#include "console/console.h"
#include "console/help.h"
#include "pathstr/pathstr.h"
#include "platform/platform.h"

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

/// The switches and what each does to the run's options; a help switch has none, the run
/// ends there.
struct Switch {
    const char* name;
    void (*apply)(RunOptions& options);
};

const Switch switch_table[] = {
    {"/?", nullptr},
    {"/H", nullptr},
    {"/Q", [](RunOptions& o) { o.verbose = false; }},
    {"/HEX", [](RunOptions& o) { o.hex = true; }},
    {"/FORMAT1", [](RunOptions& o) { o.format = 0; }},
    {"/FORMAT2", [](RunOptions& o) { o.format = 1; }},
    {"/FORMAT3", [](RunOptions& o) { o.format = 2; }},
    {"/FORMAT4", [](RunOptions& o) { o.format = 3; }},
    {"/DEBUG", [](RunOptions& o) { o.debug = true; }},
};

/// The table's entry for arg; null for a switch of no known name.
const Switch* find_switch(const char* arg) {
    for (const Switch& s : switch_table) {
        if (same_ascii_nocase(arg, s.name)) return &s;
    }
    return nullptr;
}

/// Where absolute paths begin with '/', such an argument is a switch only when it is one of
/// ours; an argument that began with '-' always is.
bool is_switch(const char* arg, bool was_dash) {
    if (arg[0] != '/') return false;
    if (PLATFORM_SEPARATOR == '/' && !was_dash) return find_switch(arg) != nullptr;
    return true;
}

/// True when the user pressed Esc; any other key waiting is consumed.
bool cancel_requested() { return key_available() && read_key() == KEY_ESC; }

/// The entries the listing finds, gathered before anything is renamed, so that the backups
/// this run makes are never found and renamed again.
enum EntryKind : char { NOT_MATCHED, FILE_ENTRY, DIRECTORY_ENTRY, BACKSLASH_NAME, INEXACT_NAME };

struct Listing {
    std::vector<std::string> names;  // every entry, in the order of the listing
    std::vector<char> kind;          // an EntryKind for each
};

/// What a run will work on, settled before anything is renamed.
struct RunPlan {
    std::string pattern;              // as announced
    size_t name_slot = 0;             // where each found name goes in the pattern
    std::string dir_full;             // the directory's full path and separator, for the names
    bool dir_full_known = false;
    std::unique_ptr<Directory> dir;   // opened once; null when the pattern finds nothing
    Listing listing;                  // every entry of dir; the files among them are renamed
};

/// Into out, the full path of dir (as typed; empty for the current directory) with a
/// separator after it; false when it cannot be had. It may be longer than MAX_PATH.
bool directory_full_path(const char* dir, std::string& out) {
    Platform& os = platform();
    out.assign(MAX_PATH + 1, '\0');
    for (;;) {
        size_t len = *dir ? os.full_path(dir, &out[0], out.size()) : os.current_directory(&out[0], out.size());
        if (len == 0) return false;
        if (len < out.size()) {
            out.resize(len);
            break;
        }
        out.assign(len, '\0');
    }
    if (out.empty()) return false;
    if (out.back() != '/' && out.back() != '\\') out += PLATFORM_SEPARATOR;
    return true;
}

/// Every entry of the directory; the files among them that match are the ones to rename, and
/// all of them stand in for the existence tests of the candidates.
Listing list_entries(Directory& dir) {
    Listing listing;
    FindEntry entry;
    while (dir.next(entry)) {
        // A name holding '\' could not be written back as the one entry it is.
        char kind = !entry.matched                              ? NOT_MATCHED
                    : entry.is_directory                        ? DIRECTORY_ENTRY
                    : !entry.exact                              ? INEXACT_NAME
                    : std::strchr(entry.name.c_str(), '\\') ? BACKSLASH_NAME
                                                                : FILE_ENTRY;
        listing.names.push_back(std::move(entry.name));
        listing.kind.push_back(kind);
    }
    return listing;
}

/// The pattern, its directory opened, and the listing.
RunPlan plan_run(const RunOptions& options) {
    RunPlan plan;
    const char* spec = options.spec;
    const char* dir = path_directory(spec);
    const bool too_long = spec && std::strlen(spec) >= static_cast<size_t>(MAX_PATH);
    std::string dir_typed;  // the directory as the user typed it; empty for the current one
    if (too_long || (dir && *dir)) {
        plan.pattern = spec;  // searched as typed
        // Each found name goes after the last separator of either kind (or a drive's colon).
        plan.name_slot = too_long ? 0 : path_name_start(spec);
        dir_typed.assign(spec, plan.name_slot);
    } else {
        char cwd[MAX_PATH + 1] = {0};
        size_t len = platform().current_directory(cwd, MAX_PATH);
        if (len == 0 || len >= static_cast<size_t>(MAX_PATH)) cwd[0] = '\0';
        path_add_separator(cwd, PLATFORM_SEPARATOR);
        plan.name_slot = std::strlen(cwd);
        plan.pattern = std::string(cwd) + path_file_name(spec);
    }
    // A pattern that does not fit is refused, never cut: a cut one could match other files.
    // So is one that reached the program altered: it could match look-alikes.
    if (too_long || plan.pattern.size() >= static_cast<size_t>(MAX_PATH)) return plan;
    if (spec && !platform().argument_exact(spec)) return plan;
    plan.dir = platform().open_directory(dir_typed.c_str(), plan.pattern.c_str() + plan.name_slot);
    if (!plan.dir) return plan;
    plan.dir_full_known = directory_full_path(dir_typed.c_str(), plan.dir_full);
    plan.listing = list_entries(*plan.dir);
    return plan;
}

/// The /DEBUG line of one entry: its name and what became of it.
void trace(const std::string& name, const char* what, const std::string& more = std::string()) {
    console_printf("  %s%s%s\n", console_safe(name.c_str()).c_str(), what,
                   console_safe(more.c_str()).c_str());
}

void trace_result(const std::string& name, const BackupResult& r) {
    switch (r.outcome) {
        case BackupOutcome::RENAMED:
            trace(name, " -> ", r.backup.substr(path_last_separator(r.backup.c_str())));
            break;
        case BackupOutcome::NO_EXTENSION: trace(name, ": not renamed, no extension for /FORMAT3"); break;
        case BackupOutcome::TOO_LONG: trace(name, ": not renamed, the name would be too long"); break;
        case BackupOutcome::ALL_TAKEN: trace(name, ": not renamed, every candidate is taken"); break;
        case BackupOutcome::REFUSED: trace(name, ": not renamed, the rename was refused: ", r.reason); break;
        case BackupOutcome::NO_FULL_PATH: trace(name, ": not renamed, its full path cannot be had"); break;
    }
}

}  // namespace

ParseResult parse_command_line(int argc, char** argv, RunOptions& options) {
    for (int i = 1; i < argc; ++i) {
        char* arg = argv[i];
        // The long forms other tools have taught users.
        if (std::strcmp(arg, "--help") == 0) return ParseResult::HELP;
        if (std::strcmp(arg, "--version") == 0) return ParseResult::VERSION;
        bool was_dash = arg[0] == '-';
        if (was_dash) arg[0] = '/';
        if (!is_switch(arg, was_dash)) {
            if (options.spec) return ParseResult::TOO_MANY;
            options.spec = arg;
            continue;
        }
        const Switch* s = find_switch(arg);
        if (!s) continue;  // unknown switches are ignored
        if (!s->apply) return ParseResult::HELP;
        s->apply(options);
    }
    return ParseResult::RUN;
}

namespace {

/// Renames the files of the plan, each to its first free backup name; returns the count.
/// Esc, checked before and after each file, ends the loop and sets cancelled.
int rename_files(RunPlan& plan, const RunOptions& options, bool& cancelled) {
    int renamed = 0;
    cancelled = false;
    if (!plan.dir) return 0;
    const Listing& listing = plan.listing;
    // A view that misses a name only costs a refused rename and the tests on the disk.
    DirectoryView view(listing.names);
    const char* dir_full = plan.dir_full_known ? plan.dir_full.c_str() : nullptr;
    for (size_t i = 0; i < listing.names.size(); ++i) {
        const std::string& name = listing.names[i];
        const char kind = listing.kind[i];
        if (kind == NOT_MATCHED) continue;
        if (kind != FILE_ENTRY) {
            if (options.debug) {
                trace(name, kind == DIRECTORY_ENTRY  ? ": passed over, a directory"
                            : kind == BACKSLASH_NAME ? ": passed over, its name holds a backslash"
                                                     : ": passed over, the code page cannot hold its name");
            }
            continue;
        }
        if (cancel_requested()) {
            cancelled = true;
            break;
        }
        if (plan.name_slot + name.size() < static_cast<size_t>(MAX_PATH)) {
            BackupResult r = backup_file_report(*plan.dir, dir_full, name.c_str(), options.format,
                                                options.hex, &view);
            if (r.outcome == BackupOutcome::RENAMED) ++renamed;
            if (options.debug) trace_result(name, r);
        } else if (options.debug) {
            trace(name, ": not renamed, the name would be too long");
        }
        if (cancel_requested()) {
            cancelled = true;
            break;
        }
    }
    return renamed;
}

}  // namespace

int run_backup(const RunOptions& options) {
    RunPlan plan = plan_run(options);
    if (options.verbose) {
        console_printf(" \xFE Renaming \"%s\"\n", console_safe(plan.pattern.c_str()).c_str());
    }
    bool cancelled = false;
    const int renamed = rename_files(plan, options, cancelled);
    if (cancelled) {
        console_set_fore(ATTR_NOTICE);
        console_printf(" * Cancelled *");
        console_set_fore(ATTR_NORMAL);
        console_printf("\n");
    }
    if (options.verbose) console_printf("\t\t%i file(s) renamed\n", renamed);
    return 0;
}

int tavrix_main(int argc, char** argv) {
    console_set_attr(ATTR_NORMAL);
    const uint16_t title_back = BACKGROUND_BLUE_BIT;
    if (argc < 2) show_help(title_back, ATTR_NORMAL, 0);
    RunOptions options;
    switch (parse_command_line(argc, argv, options)) {
        case ParseResult::HELP:
            show_help(title_back, ATTR_NORMAL, 0);
        case ParseResult::VERSION:
            console_printf("Tavrix v%s\n", TAVRIX_VERSION);
            return 0;
        case ParseResult::TOO_MANY:
            console_printf("Too many parameters");
            console_printf("%s", ": use Tavrix /? for help\n");
            return 1;
        case ParseResult::RUN:
            break;
    }
    return run_backup(options);
}
