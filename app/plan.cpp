#include "app/plan.h"

#include <cstring>

#include "pathstr/pathstr.h"
#include "platform/platform.h"

namespace {

/// The full path of dir (as typed; empty for the current directory) with a separator after
/// it, which may be longer than MAX_PATH; empty when it cannot be had.
std::string directory_full_path(const char* dir) {
    FileSystem& os = file_system();
    std::string out;
    const FsResult r = *dir ? os.full_path(dir, out) : os.current_directory(out);
    if (!r.ok()) return std::string();
    if (!out.empty() && out.back() != '/' && out.back() != '\\') out += PLATFORM_SEPARATOR;
    return out;
}

/// Every entry of the directory; the files among them that match are the ones to rename, and
/// all of them stand in for the existence tests of the candidates.
Listing list_entries(Directory& dir) {
    Listing listing;
    FindEntry entry;
    FsResult failure;
    while (dir.next(entry, failure)) {
        // A name holding '\' could not be written back as the one entry it is.
        char kind = !entry.matched                          ? NOT_MATCHED
                    : entry.is_directory                    ? DIRECTORY_ENTRY
                    : !entry.exact                          ? INEXACT_NAME
                    : !entry.reachable                      ? UNREACHABLE_NAME
                    : std::strchr(entry.name.c_str(), '\\') ? BACKSLASH_NAME
                    : is_private_name(entry.name.c_str())   ? LEFT_BY_A_RUN
                    : entry.special                         ? SPECIAL_FILE
                                                            : FILE_ENTRY;
        listing.names.push_back(std::move(entry.name));
        listing.kind.push_back(kind);
        listing.ids.push_back(entry.id);
    }
    listing.error = failure.words;
    return listing;
}

/// The backups' own directory (/TO), opened once the files' listing is read (so that a
/// directory made for them is not in it), and listed; made where it is missing by a run that
/// changes names. The files' directory itself is no other directory.
void open_backups(RunPlan& plan, const RunOptions& options) {
    const bool make = !options.list_only && !options.list_backups;
    BackupsDirectory to;
    const FsResult r = file_system().open_backups(*plan.dir, options.to, make, to);
    if (!r.ok()) {
        plan.to_failure = r.words.empty() ? std::string("it cannot be had") : r.words;
        plan.dir.reset();  // nothing is done
        return;
    }
    if (to.same) return;
    plan.elsewhere = true;
    plan.to = std::move(to);
    if (!plan.to.dir) return;
    plan.to.dir->show_as(plan.to.shown);
    plan.backup_listing = list_entries(*plan.to.dir);
}

}  // namespace

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
        // A current directory whose path does not fit is searched as itself.
        std::string current;
        char cwd[MAX_PATH + 1] = {0};
        if (file_system().current_directory(current).ok() &&
            current.size() < static_cast<size_t>(MAX_PATH))
            str_copy_max(cwd, current.c_str(), MAX_PATH);
        path_add_separator(cwd, PLATFORM_SEPARATOR);
        plan.name_slot = std::strlen(cwd);
        plan.pattern = std::string(cwd) + path_file_name(spec);
    }
    // A pattern that does not fit is refused, never cut: a cut one could match other files.
    // So is one that reached the program altered: it could match look-alikes.
    if (too_long || plan.pattern.size() >= static_cast<size_t>(MAX_PATH)) return plan;
    if (spec && !file_system().argument_exact(spec)) return plan;
    plan.opened = file_system().open_directory(dir_typed.c_str(),
                                               plan.pattern.c_str() + plan.name_slot, plan.dir);
    if (!plan.dir) return plan;
    // The limit counts the path through which the entries are reached, where it is known.
    if (const size_t reached = plan.dir->traits().path_length) {
        plan.dir_length = reached;
    } else {
        const std::string dir_full = directory_full_path(dir_typed.c_str());
        if (!dir_full.empty()) plan.dir_length = dir_full.size();
    }
    plan.listing = list_entries(*plan.dir);
    if (options.to) open_backups(plan, options);
    return plan;
}

BackupPlace backup_place(RunPlan& plan, DirectoryView* view) {
    BackupPlace place{*plan.dir, signals(), plan.dir_length, view, plan.to.dir.get()};
    place.elsewhere = plan.elsewhere;
    place.across = plan.to.across;
    return place;
}

BackupRequest request_for(const RunOptions& options) {
    BackupRequest request;
    request.format = options.format;
    request.hex = options.hex;
    request.copy = options.copy;
    request.dry_run = request.foresee = options.list_only;
    return request;
}

const char* passed_words(char kind) {
    static const char* const why[] = {
        nullptr,
        nullptr,
        PASSED_DIRECTORY,
        "its name holds a backslash",
        "the code page cannot hold its name",
        PASSED_UNREACHABLE,
        PASSED_SPECIAL,
        "left by an interrupted run",
    };
    return why[static_cast<unsigned char>(kind)];
}

std::vector<Original> catalog(const RunPlan& plan, const RunOptions& options,
                              std::vector<PassedOver>& passed) {
    const Listing& listing = plan.listing;
    std::vector<CatalogEntry> entries(listing.names.size());
    for (size_t i = 0; i < listing.names.size(); ++i) {
        // The listing's own "." and ".." are no entries to tell of.
        const std::string& name = listing.names[i];
        const bool own = name == "." || name == "..";
        entries[i].name = name;
        entries[i].matched = !own && listing.kind[i] != NOT_MATCHED;
        entries[i].passed = own ? nullptr : passed_words(listing.kind[i]);
        entries[i].id = listing.ids[i];
    }
    if (!plan.elsewhere)
        return gather_originals(*plan.dir, entries, options.format, options.hex, passed);
    // A backups' directory yet to be made holds no backup.
    Directory& there = plan.backups();
    // The backups are the backups' directory's; in the files' directory every name is a file.
    const Listing& other = plan.backup_listing;
    std::vector<CatalogEntry> backups;
    for (size_t i = 0; i < other.names.size(); ++i) {
        const std::string& name = other.names[i];
        if (name == "." || name == ".." || other.kind[i] == NOT_MATCHED) continue;
        backups.push_back({name, false, nullptr, other.ids[i]});  // the look decides
    }
    return gather_originals(*plan.dir, entries, options.format, options.hex, passed, &there,
                            &backups);
}

int tell_passed(const RunPlan& plan, const std::vector<PassedOver>& passed, Report& report,
                bool trace_all, bool matched_told) {
    int failed = 0;
    for (const PassedOver& p : passed) {
        if (p.failed) {
            ++failed;
            tell_failure(p.name, ": passed over, ", p.why);
        }
        if (trace_all && (p.failed || !matched_told || !plan.dir->matches(p.name.c_str())))
            report.passed_over(p.name, p.why, p.failed ? Step::LOOK : Step::NONE);
    }
    return failed;
}

std::string directory_failure(const RunPlan& plan) {
    if (!plan.dir && !plan.opened.ok() && plan.opened.status != FsStatus::MISSING)
        return "opened: " + plan.opened.words;
    if (!plan.listing.error.empty()) return "read to its end: " + plan.listing.error;
    return std::string();
}
