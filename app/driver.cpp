#include "app/driver.h"

#include <cstring>
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

const char* const known_switches[] = {"/?",       "/H",       "/Q",       "/HEX",     "/FORMAT1",
                                      "/FORMAT2", "/FORMAT3", "/FORMAT4", "/DEBUG"};

bool is_known_switch(const char* arg) {
    for (const char* s : known_switches) {
        if (same_ascii_nocase(arg, s)) return true;
    }
    return false;
}

/// Where absolute paths begin with '/', such an argument is a switch only when it is one of
/// ours; an argument that began with '-' always is.
bool is_switch(const char* arg, bool was_dash) {
    if (arg[0] != '/') return false;
    if (PLATFORM_SEPARATOR == '/' && !was_dash) return is_known_switch(arg);
    return true;
}

/// True when the user pressed Esc; any other key waiting is consumed.
bool cancel_requested() { return key_available() && read_key() == KEY_ESC; }

/// The entries the search finds, gathered before anything is renamed, so that the backups
/// this run makes are never found and renamed again.
enum EntryKind : char { NOT_MATCHED, FILE_ENTRY, DIRECTORY_ENTRY, BACKSLASH_NAME };

struct Listing {
    std::vector<std::string> names;  // every entry, in the order of the search
    std::vector<char> kind;          // an EntryKind for each
};

/// Every entry of the pattern's directory; the files among them that match are the ones to
/// rename, and all of them stand in for the existence tests of the candidates.
Listing list_entries(const char* pattern) {
    Listing listing;
    std::unique_ptr<DirSearch> search = platform().find_first(pattern, true);
    if (!search) return listing;
    FindEntry entry;
    while (search->next(entry)) {
        // A name holding '\' could not be written back as the one entry it is.
        char kind = !entry.matched                              ? NOT_MATCHED
                    : entry.is_directory                        ? DIRECTORY_ENTRY
                    : std::strchr(entry.name.c_str(), '\\') ? BACKSLASH_NAME
                                                                : FILE_ENTRY;
        listing.names.push_back(std::move(entry.name));
        listing.kind.push_back(kind);
    }
    return listing;
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
        if (same_ascii_nocase(arg, "/?") || same_ascii_nocase(arg, "/H")) return ParseResult::HELP;
        if (same_ascii_nocase(arg, "/Q")) options.verbose = false;
        if (same_ascii_nocase(arg, "/HEX")) options.hex = true;
        if (same_ascii_nocase(arg, "/DEBUG")) options.debug = true;
        if (same_ascii_nocase(arg, "/FORMAT1")) options.format = 0;
        if (same_ascii_nocase(arg, "/FORMAT2")) options.format = 1;
        if (same_ascii_nocase(arg, "/FORMAT3")) options.format = 2;
        if (same_ascii_nocase(arg, "/FORMAT4")) options.format = 3;
    }
    return ParseResult::RUN;
}

int run_backup(const RunOptions& options) {
    const char* spec = options.spec;
    char search_path[MAX_PATH + 1] = {0};
    // The pattern as announced; it differs from search_path only when it is too long to search.
    std::string pattern;

    const char* dir = path_directory(spec);
    const bool too_long = spec && std::strlen(spec) >= static_cast<size_t>(MAX_PATH);
    if (too_long || (dir && *dir)) {
        pattern = spec;  // searched as typed
    } else {
        char cwd[MAX_PATH + 1] = {0};
        size_t len = platform().current_directory(cwd, MAX_PATH);
        if (len == 0 || len >= static_cast<size_t>(MAX_PATH)) cwd[0] = '\0';
        path_add_separator(cwd, PLATFORM_SEPARATOR);
        pattern = std::string(cwd) + path_file_name(spec);
    }
    // A pattern that does not fit is refused, never cut: a cut one could match other files.
    bool searchable = pattern.size() < static_cast<size_t>(MAX_PATH);
    if (searchable) str_copy_max(search_path, pattern.c_str(), MAX_PATH);
    // Each found name goes after the last separator of either kind (or a drive's colon).
    const size_t name_slot = path_name_start(search_path);

    if (options.verbose) {
        console_printf(" \xFE Renaming \"%s\"\n", console_safe(pattern.c_str()).c_str());
    }

    int renamed = 0;
    bool cancelled = false;
    Listing listing;
    if (searchable) listing = list_entries(search_path);
    // A view that misses a name only costs a refused rename and the tests on the disk.
    DirectoryView view(listing.names);
    for (size_t i = 0; i < listing.names.size(); ++i) {
        const std::string& name = listing.names[i];
        const char kind = listing.kind[i];
        if (kind == NOT_MATCHED) continue;
        if (kind != FILE_ENTRY) {
            if (options.debug) {
                trace(name, kind == DIRECTORY_ENTRY ? ": passed over, a directory"
                                                    : ": passed over, its name holds a backslash");
            }
            continue;
        }
        if (cancel_requested()) {
            cancelled = true;
            break;
        }
        if (name_slot + name.size() < static_cast<size_t>(MAX_PATH)) {
            str_copy_max(search_path + name_slot, name.c_str(), MAX_PATH - name_slot);
            BackupResult r = backup_file_report(search_path, name.c_str(), options.format,
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
