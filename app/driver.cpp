#include "app/driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/version.h"
#include "backup/batch.h"
#include "backup/catalog.h"
#include "backup/restore.h"
#include "console/console.h"
#include "console/help.h"
#include "pathstr/pathstr.h"
#include "platform/platform.h"

namespace {

/// True when the user pressed Esc; any other key waiting is consumed.
bool cancel_requested() {
    return key_available() && read_key() == KEY_ESC;
}

/// The entries the listing finds, gathered before anything is renamed, so that the backups
/// this run makes are never found and renamed again.
enum EntryKind : char {
    NOT_MATCHED,
    FILE_ENTRY,
    DIRECTORY_ENTRY,
    BACKSLASH_NAME,
    INEXACT_NAME,
    UNREACHABLE_NAME,
    SPECIAL_FILE,
    LEFT_BY_A_RUN  // the private name of an interrupted run
};

struct Listing {
    std::vector<std::string> names;  // every entry, in the order of the listing
    std::vector<char> kind;          // an EntryKind for each
    std::vector<uint64_t> ids;       // the identity of each, 0 where not known
    std::string error;               // why the listing stopped early, if it did
};

/// What a run will work on, settled before anything is renamed.
struct RunPlan {
    std::string pattern;                    // as announced
    size_t name_slot = 0;                   // where each found name goes in the pattern
    size_t dir_length = NO_DIRECTORY_PATH;  // of the directory's full path and separator
    std::unique_ptr<Directory> dir;         // opened once; null when the pattern finds nothing
    Listing listing;                        // every entry of dir; the files among them are renamed
    FsResult opened;                        // why dir could not be opened, when it was tried
};

/// The full path of dir (as typed; empty for the current directory) with a separator after
/// it, which may be longer than MAX_PATH; empty when it cannot be had.
std::string directory_full_path(const char* dir) {
    FileSystem& os = file_system();
    std::string out(MAX_PATH + 1, '\0');
    for (;;) {
        size_t len = *dir ? os.full_path(dir, &out[0], out.size())
                          : os.current_directory(&out[0], out.size());
        if (len == 0) return std::string();
        if (len < out.size()) {
            out.resize(len);
            break;
        }
        out.assign(len, '\0');
    }
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
        size_t len = file_system().current_directory(cwd, MAX_PATH);
        if (len == 0 || len >= static_cast<size_t>(MAX_PATH)) cwd[0] = '\0';
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
    if (const size_t reached = plan.dir->path_length()) {
        plan.dir_length = reached;
    } else {
        const std::string dir_full = directory_full_path(dir_typed.c_str());
        if (!dir_full.empty()) plan.dir_length = dir_full.size();
    }
    plan.listing = list_entries(*plan.dir);
    return plan;
}

/// The /DEBUG line of one entry: its name and what became of it.
void trace(const std::string& name, const char* what, const std::string& more = std::string()) {
    console_printf("  %s%s%s\n", console_safe(name.c_str()).c_str(), what,
                   console_safe(more.c_str()).c_str());
}

/// The line of an entry that could not be backed up, restored, kept or looked at, on standard
/// error whatever the switches (with /JSON too, as text), as /DEBUG writes it.
void say_failure(const std::string& name, const char* what, const std::string& more) {
    console_error("Tavrix: %s%s%s\n", console_safe_error(name.c_str()).c_str(), what,
                  console_safe_error(more.c_str()).c_str());
}

/// With /JSON, each line is one object of JSON Lines instead (json_lines set for the run).
bool json_lines = false;

/// One object of JSON Lines, its fields in the order given; a text that is not UTF-8 keeps
/// every byte in a field of its own, "<key>_bytes", in hexadecimal.
class JsonLine {
   public:
    JsonLine& text(const char* key, const std::string& value) {
        if (value.empty() && std::strcmp(key, "name") != 0) return *this;
        bool exact = true;
        field(key, json_string(value, exact));
        if (!exact) field((std::string(key) + "_bytes").c_str(), "\"" + hex_bytes(value) + "\"");
        return *this;
    }
    JsonLine& number(const char* key, long long value) {
        field(key, std::to_string(value));
        return *this;
    }
    JsonLine& flag(const char* key, bool value) {
        field(key, value ? "true" : "false");
        return *this;
    }
    void write() const { console_printf("%s}\n", body_.c_str()); }

   private:
    void field(const char* key, const std::string& json) {
        body_ += (body_.size() > 1 ? ",\"" : "\"") + std::string(key) + "\":" + json;
    }
    std::string body_ = "{";
};

/// A line of a name, as text (what and more after the name) or as an object.
void say(const std::string& name, const char* result, const std::string& reason, const char* what,
         const std::string& more = std::string()) {
    if (json_lines) {
        JsonLine().text("name", name).text("result", result).text("reason", reason).write();
    } else {
        trace(name, what, more);
    }
}

/// The line of an entry passed over, and why.
void say_passed_over(const std::string& name, const char* why) {
    say(name, "passed over", why, ": passed over, ", why);
}

/// A file's line as an object of JSON Lines.
void json_result(const std::string& name, const BackupResult& r, bool copy, bool list_only) {
    const char* result = list_only && r.outcome == BackupOutcome::REFUSED ? "would be refused"
                         : r.outcome == BackupOutcome::DONE
                             ? (copy ? (list_only ? "would copy" : "copied")
                                     : (list_only ? "would rename" : "renamed"))
                         : r.outcome == BackupOutcome::NOT_REGULAR ? "passed over"
                         : r.outcome == BackupOutcome::GONE        ? "gone"
                         : r.outcome == BackupOutcome::CANCELLED   ? "cancelled"
                                                                   : "refused";
    const std::string reason =
        r.outcome == BackupOutcome::NOT_REGULAR ? "a FIFO, socket or device" : backup_reason(r);
    JsonLine line;
    line.text("name", name).text("backup", r.backup).text("result", result);
    line.text("reason", r.outcome == BackupOutcome::DONE ? std::string() : reason);
    line.text("note", r.note).write();
}

/// The words of a file's line after its name: what became of it, then the rest.
const char* result_words(const BackupResult& r, bool copy, bool list_only, std::string& more) {
    more.clear();
    if (list_only && r.outcome == BackupOutcome::REFUSED) {  // foreseen
        more = r.reason;
        return ": would be refused: ";
    }
    if (r.outcome == BackupOutcome::DONE) {
        more = r.note.empty() ? r.backup : r.backup + "; " + r.note;
        return " -> ";
    }
    if (r.outcome == BackupOutcome::NOT_REGULAR) return ": passed over, a FIFO, socket or device";
    // What was left of a copy, if anything, follows the outcome's own words.
    more = backup_reason(r);
    return copy ? ": not copied, " : ": not renamed, ";
}

void trace_result(const std::string& name, const BackupResult& r, bool copy, bool list_only) {
    if (json_lines) return json_result(name, r, copy, list_only);
    std::string more;
    const char* what = result_words(r, copy, list_only, more);
    trace(name, what, more);
}

/// A size in the largest unit of 1,024 that keeps it at 1 or more: "512 B", "3.5 MiB".
std::string human_size(uint64_t bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

/// During a long copy: Esc cancels it, and after a second its progress shows on the
/// terminal: one row, written over in place, never wider than the window (a long name is
/// shortened in its middle), erased when the copy is done.
class CopyProgress : public CopyWatcher {
   public:
    CopyProgress(const std::string& name, bool show) : name_(name), show_(show) {}
    ~CopyProgress() override { erase(); }
    void copied() override { erase(); }
    bool keep_going(uint64_t done, uint64_t total) override {
        if (cancel_requested()) return false;
        const auto now = std::chrono::steady_clock::now();
        if (!show_ || now - start_ < std::chrono::seconds(1) ||
            now - shown_ < std::chrono::milliseconds(100)) {
            return true;
        }
        shown_ = now;
        const int window = console_columns();
        const int room = (window > 0 ? window : 80) - 1;  // the last column would wrap the row
        const std::string figures = "  " + std::to_string(total ? done * 100 / total : 100) +
                                    "%  " + human_size(done) + " of " + human_size(total);
        const int name_room = room - 2 - text_columns(figures);
        std::string line = "  " +
                           fit_columns(console_safe(name_.c_str()), name_room > 3 ? name_room : 3) +
                           figures;
        line = fit_columns(line, room);
        const int columns = text_columns(line);
        console_printf("\r%s%*s", line.c_str(),
                       shown_columns_ > columns ? shown_columns_ - columns : 0, "");
        if (columns > shown_columns_) shown_columns_ = columns;
        return true;
    }

   private:
    void erase() {
        if (shown_columns_ > 0) console_printf("\r%*s\r", shown_columns_, "");
        shown_columns_ = 0;
    }

    const std::string& name_;
    bool show_;
    int shown_columns_ = 0;  // of the widest progress row shown
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point shown_;
};

}  // namespace

namespace {

/// Whether the file of an outcome could not be backed up: the system refused, no name could
/// be had, or it changed while it was copied. A file passed over (a special file, a name
/// without an extension under /FORMAT3), gone meanwhile or cancelled is no failure.
bool failed(BackupOutcome outcome) {
    switch (outcome) {
        case BackupOutcome::NO_FULL_PATH:
        case BackupOutcome::TOO_LONG:
        case BackupOutcome::ALL_TAKEN:
        case BackupOutcome::REFUSED:
        case BackupOutcome::CHANGED:
            return true;
        default:
            return false;
    }
}

/// What a run did: the files backed up, and those that could not be.
struct RunCount {
    int done = 0;
    int failed = 0;
    int removed = 0;        // backups beyond /KEEP's count removed (with /L, to be removed)
    int not_removed = 0;    // backups beyond /KEEP's count that could not be removed
    int not_looked_at = 0;  // entries that could not be looked at
};

/// The /DEBUG line of each file, and the counts; on a terminal, while copies of some size wait
/// for the disk, a row that says so.
class RunReport : public BackupReport {
   public:
    RunReport(const Listing& listing, const RunOptions& options, bool show)
        : listing_(listing), options_(options), show_(show) {}
    void told(size_t index, const BackupResult& r) override {
        if (r.outcome == BackupOutcome::DONE) {
            ++count.done;
            backed_up.push_back(index);
            touched.insert(r.backup);
            if (!options_.copy) touched.insert(listing_.names[index]);
        }
        if (options_.debug || options_.list_only)
            trace_result(listing_.names[index], r, options_.copy, options_.list_only);
        if (failed(r.outcome)) {
            ++count.failed;
            std::string more;
            const char* what = result_words(r, options_.copy, options_.list_only, more);
            say_failure(listing_.names[index], what, more);
        }
    }
    void waiting(size_t copies, uint64_t bytes) override {
        if (!show_ || bytes < SHOWN_WAIT) return;
        const std::string row = "  waiting for the disk to take " + human_size(bytes) + " in " +
                                (copies == 1 ? "1 copy" : std::to_string(copies) + " copies");
        shown_ = fit_columns(row, (console_columns() > 0 ? console_columns() : 80) - 1);
        console_printf("\r%s", shown_.c_str());
    }
    void waited() override {
        if (!shown_.empty()) console_printf("\r%*s\r", text_columns(shown_), "");
        shown_.clear();
    }
    RunCount count;
    std::vector<size_t> backed_up;  // the listing's indexes of the files backed up
    std::set<std::string> touched;  // the names this run gave, and those it renamed away

   private:
    /// Less data than this is on the disk at once: no row to show.
    static constexpr uint64_t SHOWN_WAIT = 16 << 20;
    const Listing& listing_;
    const RunOptions& options_;
    bool show_;
    std::string shown_;  // the row shown, while it is
};

/// Why the listing passes an entry of kind over, in the words of every mode; null for a
/// file, or for a name the pattern did not match.
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

/// The /DEBUG line of an entry that is passed over; false for an entry to back up.
bool passed_over(const std::string& name, char kind, const RunOptions& options) {
    if (kind == FILE_ENTRY ||
        (kind == SPECIAL_FILE && !options.copy && PLATFORM_RENAMES_SPECIAL_FILES))
        return false;  // renamed; a special file is never copied
    const char* words = passed_words(kind);
    if (options.debug || options.list_only) say_passed_over(name, words);
    return true;
}

/// A line about the directory itself: what could not be done to it, and why.
void directory_line(const char* what, const std::string& words) {
    if (json_lines) {
        JsonLine()
            .text("directory", std::string("could not be ") + what)
            .text("reason", words)
            .write();
    } else {
        console_printf("  the directory could not be %s: %s\n", what,
                       console_safe(words.c_str()).c_str());
    }
}

/// The /DEBUG lines about the directory itself: why it could not be opened, flushed or read
/// to its end.
void trace_directory(const char* what, const FsResult& r) {
    if (!r.ok() && !r.words.empty()) directory_line(what, r.words);
}

/// The originals of the listing and their backups, each looked at. The entries the listing
/// passes over are passed over here too, with the same words.
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
    return gather_originals(*plan.dir, entries, options.format, options.hex, passed);
}

/// /KEEP: after the backups of the files at indexes, each file's backups as listed beyond the
/// newest options.keep are removed (with /L, listed), once the new names are on the disk. A
/// name this run gave or renamed away is never removed, and a backup goes only while a look
/// shows that its name still holds the file listed.
void keep_newest(RunPlan& plan, const RunOptions& options, const std::vector<Original>& listed,
                 const RunReport& report, RunCount& count) {
    Directory& dir = *plan.dir;
    const bool trace_all = options.debug || options.list_only;
    std::map<std::string, const Original*> by_name;
    for (const Original& o : listed) by_name[o.name] = &o;
    std::vector<BackupEntry> going;
    for (size_t i : report.backed_up) {
        const auto found = by_name.find(plan.listing.names[i]);
        if (found == by_name.end()) continue;
        std::vector<BackupEntry> older;
        for (const BackupEntry& b : found->second->backups) {
            if (!report.touched.count(b.name)) older.push_back(b);
        }
        for (const BackupEntry& b : beyond_newest(older, options.keep)) going.push_back(b);
    }
    if (going.empty()) return;
    if (!options.list_only) {
        const FsResult flushed = dir.flush_directory();
        if (!flushed.ok()) {  // the new names may not be on the disk: no backup goes
            if (trace_all) trace_directory("flushed, and no backup was removed", flushed);
            console_error(
                "Tavrix: the directory could not be flushed, and no backup was "
                "removed: %s\n",
                console_safe_error(flushed.words.c_str()).c_str());
            count.not_removed += static_cast<int>(going.size());
            return;
        }
    }
    for (const BackupEntry& b : going) {
        std::string why;
        if (options.list_only) {
            const FsResult foreseen = dir.foresee_refusal(b.name.c_str(), false);
            if (foreseen.ok()) {
                ++count.removed;
                say(b.name, "would remove", "", ": would be removed");
                continue;
            }
            ++count.not_removed;
            why = step_failed("the removal would be refused", foreseen);
            say(b.name, "would be refused", why, ": would not be removed, ", why);
            say_failure(b.name, ": would not be removed, ", why);
            continue;
        }
        const Removal removed = remove_listed(dir, b, why);
        if (removed == Removal::REMOVED) ++count.removed;
        if (removed == Removal::REFUSED) {
            ++count.not_removed;
            say_failure(b.name, ": not removed, ", why);
        }
        if (!trace_all) continue;
        if (removed == Removal::REMOVED) say(b.name, "removed", "", ": removed");
        if (removed == Removal::GONE) say(b.name, "gone", "", ": gone meanwhile");
        if (removed == Removal::REFUSED) say(b.name, "refused", why, ": not removed, ", why);
    }
}

/// The entries a catalog passed over, told with /DEBUG (those the listing matched alone when
/// matched_told, as a backup run has told them); returns the count that could not be looked
/// at.
int tell_passed(const RunPlan& plan, const std::vector<PassedOver>& passed, bool trace_all,
                bool matched_told) {
    int failed = 0;
    for (const PassedOver& p : passed) {
        if (p.failed) {
            ++failed;
            say_failure(p.name, ": passed over, ", p.why);
        }
        if (trace_all && (p.failed || !matched_told || !plan.dir->matches(p.name.c_str())))
            say_passed_over(p.name, p.why.c_str());
    }
    return failed;
}

/// Backs up the files of the plan, each to its first free backup name, and counts them.
/// Esc, checked before and after each file and during a long copy, ends the loop and sets
/// cancelled. With /L, the names are chosen as the run would choose them, and nothing changes.
RunCount rename_files(RunPlan& plan, const RunOptions& options, bool& cancelled) {
    const bool trace_all = options.debug || options.list_only;
    cancelled = false;
    if (!plan.dir) {
        if (trace_all) trace_directory("opened", plan.opened);
        return RunCount();
    }
    BackupRequest request;
    request.format = options.format;
    request.hex = options.hex;
    request.copy = options.copy;
    request.dry_run = request.foresee = options.list_only;
    const Listing& listing = plan.listing;
    // A view that misses a name only costs a refused rename and the tests on the disk.
    DirectoryView view(listing.names, PLATFORM_CASE_INSENSITIVE ? plan.dir.get() : nullptr);
    const bool show_progress = options.verbose && terminal().output_is_terminal();
    RunReport report(listing, options, show_progress);
    // What /KEEP may remove is what the listing held, looked at before any name changes.
    std::vector<Original> listed;
    if (options.keep > 0) {
        std::vector<PassedOver> passed;
        listed = catalog(plan, options, passed);
        report.count.not_removed += tell_passed(plan, passed, trace_all, true);
    }
    FsResult flushed;
    {
        BackupBatch batch(BackupPlace{*plan.dir, signals(), plan.dir_length, &view}, request,
                          report);
        for (size_t i = 0; i < listing.names.size() && !cancelled; ++i) {
            const std::string& name = listing.names[i];
            if (listing.kind[i] == NOT_MATCHED || passed_over(name, listing.kind[i], options))
                continue;
            cancelled = cancel_requested();
            if (cancelled) break;
            CopyProgress progress(name, show_progress);
            cancelled = !batch.add(i, name.c_str(), listing.ids[i], progress) || cancel_requested();
        }
        flushed = batch.finish();
    }
    if (trace_all) trace_directory("flushed", flushed);
    if (options.keep > 0 && !cancelled && !report.backed_up.empty())
        keep_newest(plan, options, listed, report, report.count);
    if (trace_all && !listing.error.empty() && !cancelled)
        directory_line("read to its end", listing.error);
    return report.count;
}

/// Seconds since 1970 as "YYYY-MM-DD HH:MM:SS" (days to a civil date as in the proleptic
/// Gregorian calendar).
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

/// A moment in local time with its offset from UTC, as ls -l's time: "2026-12-09 07:14:50
/// +0100".
std::string local_time(const FileTime& t) {
    const int offset = file_system().utc_offset(t.sec);
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, " %c%02d%02d", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return civil_time(t.sec + offset) + zone;
}

/// A moment in UTC as ISO 8601: "2026-12-09T06:14:50Z".
std::string iso_time(const FileTime& t) {
    std::string text = civil_time(t.sec);
    text[10] = 'T';
    return text + "Z";
}

/// /LIST: each original, or that it is gone, and its backups, newest first, with size and
/// times; returns the count of backups and of originals, and of the names that could not be
/// looked at. Changes nothing.
void list_originals(const RunPlan& plan, const RunOptions& options, int& backups, int& files,
                    RunCount& count) {
    std::vector<PassedOver> passed;
    const std::vector<Original> originals = catalog(plan, options, passed);
    count.not_looked_at += tell_passed(plan, passed, true, false);
    for (const Original& o : originals) {
        if (json_lines) {
            JsonLine()
                .text("original", o.name)
                .flag("exists", o.exists)
                .number("backups", static_cast<long long>(o.backups.size()))
                .write();
        } else {
            trace(o.name, o.exists ? "" : ": gone");
        }
        for (size_t i = 0; i < o.backups.size(); ++i) {
            const BackupEntry& b = o.backups[i];
            if (json_lines) {
                JsonLine line;
                line.text("original", o.name).text("backup", b.name).number("number", b.number);
                line.number("size", static_cast<long long>(b.info.size));
                line.text("mtime", iso_time(b.info.modified))
                    .text("changed", iso_time(b.info.changed));
                line.flag("newest", i == 0).write();
                continue;
            }
            console_printf("    %s  %s  modified %s  changed %s%s\n",
                           console_safe(b.name.c_str()).c_str(), human_size(b.info.size).c_str(),
                           local_time(b.info.modified).c_str(), local_time(b.info.changed).c_str(),
                           i == 0 ? "  newest" : "");
        }
        backups += static_cast<int>(o.backups.size());
        ++files;
    }
}

/// /LIST's run: the announcement, the lists, the summary.
RunCount list_run(const RunPlan& plan, const RunOptions& options) {
    if (options.verbose)
        console_printf(" \xFE Listing \"%s\"\n", console_safe(plan.pattern.c_str()).c_str());
    int backups = 0, files = 0;
    RunCount count;
    if (plan.dir) list_originals(plan, options, backups, files, count);
    if (!plan.dir) trace_directory("opened", plan.opened);
    if (!plan.listing.error.empty()) directory_line("read to its end", plan.listing.error);
    if (options.verbose) console_printf("\t\t%i backup(s) of %i file(s)\n", backups, files);
    return count;
}

/// The words of a restore's line after the file's name: what became of it, then the rest.
const char* restore_words(const RestoreResult& r, const RunOptions& options, std::string& more) {
    const std::string current = r.current.empty()
                                    ? std::string()
                                    : (options.list_only ? "; the current file would become "
                                                         : "; the current file is now ") +
                                          r.current;
    switch (r.outcome) {
        case RestoreResult::RESTORED:
            more = r.from + current + (r.note.empty() ? "" : "; " + r.note);
            return " <- ";
        case RestoreResult::NO_BACKUP:
            more = options.restore_at < 0 ? "" : options.restore_number;
            return options.restore_at < 0 ? ": not restored, it has no backup"
                                          : ": not restored, it has no backup numbered ";
        case RestoreResult::CANCELLED:
            more.clear();
            return ": not restored, cancelled";
        default:
            more = r.reason + current;
            return options.list_only ? ": would not be restored, " : ": not restored, ";
    }
}

/// The /DEBUG line of one restore.
void trace_restore(const std::string& name, const RestoreResult& r, const RunOptions& options) {
    if (json_lines) {
        static const char* const results[] = {"restored", "no backup", "refused", "cancelled"};
        static const char* const would[] = {"would restore", "no backup", "would be refused",
                                            "cancelled"};
        JsonLine line;
        line.text("name", name).text("backup", r.from);
        line.text("result", (options.list_only ? would : results)[r.outcome])
            .text("current", r.current);
        line.text("reason", r.reason).text("note", r.note).write();
        return;
    }
    std::string more;
    const char* what = restore_words(r, options, more);
    trace(name, what, more);
}

/// The name of another original of originals of which o's name is a backup, or null.
const std::string* backup_of_another(const Original& o, const std::vector<Original>& originals,
                                     const RunOptions& options) {
    std::string of;
    int number = 0;
    if (!parse_backup_name(o.name, options.format, options.hex, of, number)) return nullptr;
    for (const Original& other : originals) {
        if (other.name == of) return &other.name;
    }
    return nullptr;
}

/// The restore of one original, told and counted; false when it was cancelled.
bool restore_one(RunPlan& plan, const Original& o, const RunOptions& options,
                 const BackupRequest& request, bool named, RunCount& count) {
    RestoreResult r;
    if (o.incomplete) {
        r.reason = "a backup of it could not be looked at";
    } else {
        BackupPlace place{*plan.dir, signals(), plan.dir_length, nullptr};
        CopyProgress progress(o.name, options.verbose && terminal().output_is_terminal());
        r = restore_file(place, o, options.restore_at, request, progress);
    }
    if (r.outcome == RestoreResult::RESTORED) ++count.done;
    const bool failure =
        r.outcome == RestoreResult::REFUSED ||
        (r.outcome == RestoreResult::NO_BACKUP && (named || options.restore_at >= 0));
    // Each file restored is told, which backup came back and where the current file went.
    if (options.debug || options.list_only ||
        (options.verbose && r.outcome == RestoreResult::RESTORED))
        trace_restore(o.name, r, options);
    if (failure) {
        ++count.failed;
        std::string more;
        const char* what = restore_words(r, options, more);
        say_failure(o.name, what, more);
    }
    return r.outcome != RestoreResult::CANCELLED;
}

/// /RESTORE: each original's newest backup (or the one numbered options.restore_at) back
/// under its name; Esc between files. Counts the files restored and those that could not be:
/// a file named without wildcards that is not restored is one.
RunCount restore_originals(RunPlan& plan, const RunOptions& options, bool& cancelled) {
    RunCount count;
    const bool trace_all = options.debug || options.list_only;
    // Only a specification without wildcards names a file that must have a backup.
    const char* name_part = path_file_name(options.spec);
    const bool named = name_part && *name_part && !std::strpbrk(name_part, "*?");
    std::vector<Original> originals;
    if (plan.dir) {
        std::vector<PassedOver> passed;
        originals = catalog(plan, options, passed);
        count.not_looked_at += tell_passed(plan, passed, trace_all, false);
    }
    BackupRequest request;
    request.format = options.format;
    request.hex = options.hex;
    request.copy = options.copy;
    request.dry_run = request.foresee = options.list_only;
    bool tried = false;  // a restore of some original was tried
    for (const Original& o : originals) {
        cancelled = cancel_requested();
        if (cancelled) break;
        // Its name is one the restore of the other moves: restoring both would do one.
        if (const std::string* other = backup_of_another(o, originals, options)) {
            if (trace_all)
                say_passed_over(o.name,
                                ("a backup of " + *other + ", which this run restores").c_str());
            continue;
        }
        tried = true;
        cancelled = !restore_one(plan, o, options, request, named, count);
        if (cancelled) break;
    }
    if (named && !tried && !cancelled) {  // nothing of that name, or nothing it could be
        ++count.failed;
        // A name that is there was passed over, and told so.
        const bool there = plan.dir && plan.dir->type_of(name_part) != EntryType::MISSING;
        RestoreResult none;
        none.outcome = RestoreResult::NO_BACKUP;
        if (trace_all && !there) trace_restore(name_part, none, options);
        std::string more;
        const char* what = restore_words(none, options, more);
        if (!there) say_failure(name_part, what, more);
    }
    if (trace_all && plan.dir && !plan.listing.error.empty() && !cancelled)
        directory_line("read to its end", plan.listing.error);
    if (trace_all && !plan.dir) trace_directory("opened", plan.opened);
    return count;
}

/// Why the directory could not be opened or read to its end; empty when it was, or when it
/// does not exist (nothing matched).
std::string directory_failure(const RunPlan& plan) {
    if (!plan.dir && !plan.opened.ok() && plan.opened.status != FsStatus::MISSING)
        return "opened: " + plan.opened.words;
    if (!plan.listing.error.empty()) return "read to its end: " + plan.listing.error;
    return std::string();
}

/// Tells on standard error, whatever the switches, so that a script sees it too, what could
/// not be done; returns the exit status.
int run_status(const RunPlan& plan, const RunCount& count, const RunOptions& options) {
    const bool dry = options.list_only;
    const std::string directory = directory_failure(plan);
    if (!directory.empty())
        console_error("Tavrix: the directory could not be %s\n",
                      console_safe_error(directory.c_str()).c_str());
    const char* action = options.restore ? "restored" : "backed up";
    if (count.failed > 0) {
        console_error(dry ? "Tavrix: %i file(s) would not be %s; /L tells why\n"
                          : "Tavrix: %i file(s) could not be %s; /DEBUG tells why\n",
                      count.failed, action);
    }
    if (count.not_removed > 0) {
        console_error(dry ? "Tavrix: %i backup(s) would not be removed; /L tells why\n"
                          : "Tavrix: %i backup(s) could not be removed; /DEBUG tells why\n",
                      count.not_removed);
    }
    if (count.not_looked_at > 0)
        console_error("Tavrix: %i name(s) could not be looked at; %s tells why\n",
                      count.not_looked_at,
                      options.list_backups ? "/LIST"
                      : dry                ? "/L"
                                           : "/DEBUG");
    const bool failed =
        !directory.empty() || count.failed > 0 || count.not_removed > 0 || count.not_looked_at > 0;
    return failed ? RUN_FAILED : 0;
}

}  // namespace

int run_backup(const RunOptions& given) {
    // With /JSON, every line and no announcement, summary or colour.
    RunOptions options = given;
    json_lines = options.json;
    if (json_lines) {
        options.debug = true;
        options.verbose = false;
    }
    RunPlan plan = plan_run(options);
    if (options.list_backups) return run_status(plan, list_run(plan, options), options);
    // What the run does, or, with /L, would do.
    const bool dry = options.list_only;
    const char* verb = options.restore ? (dry ? "Would restore" : "Restoring")
                       : options.copy  ? (dry ? "Would copy" : "Copying")
                                       : (dry ? "Would rename" : "Renaming");
    if (options.verbose)
        console_printf(" \xFE %s \"%s\"\n", verb, console_safe(plan.pattern.c_str()).c_str());
    bool cancelled = false;
    RunCount count;
    if (options.restore) {
        count = restore_originals(plan, options, cancelled);
    } else {
        count = rename_files(plan, options, cancelled);
    }
    if (cancelled && json_lines) {
        JsonLine().text("result", "cancelled").write();
    } else if (cancelled) {
        console_set_fore(ATTR_NOTICE);
        console_printf(" * Cancelled *");
        console_set_fore(ATTR_NORMAL);
        console_printf("\n");
    }
    const char* done = options.restore ? "restored" : options.copy ? "copied" : "renamed";
    if (options.verbose)
        console_printf("\t\t%i file(s) %s%s\n", count.done, dry ? "would be " : "", done);
    if (options.verbose && options.keep > 0)
        console_printf("\t\t%i backup(s) %sremoved\n", count.removed, dry ? "would be " : "");
    return run_status(plan, count, options);
}

namespace {

int tavrix_run(int argc, char** argv) {
    console_set_attr(ATTR_NORMAL);
    const uint16_t title_back = BACKGROUND_BLUE_BIT;
    if (argc < 2) show_help(title_back, ATTR_NORMAL, 0);
    RunOptions options;
    switch (parse_command_line(argc, argv, options)) {
        case ParseResult::HELP:
            show_help(title_back, ATTR_NORMAL, 0);
        case ParseResult::USAGE:
            print_usage();
            return 0;
        case ParseResult::VERSION:
            console_printf("Tavrix v%s\n", TAVRIX_VERSION);
            return 0;
        case ParseResult::UNKNOWN_LONG:
            // Escaped as standard error's terminal needs, and cut: the hint stays in sight.
            console_error("Unknown switch \"%s\": use %s --help for the switches\n",
                          fit_columns(console_safe_error(options.unknown), 60).c_str(),
                          PLATFORM_PROGRAM);
            return 2;
        case ParseResult::REFUSED:
            console_error("Tavrix: %s\n", options.refusal);
            return 2;
        case ParseResult::TOO_MANY:
            console_printf("Too many parameters");
            console_printf("%s", ": use Tavrix /? for help\n");
            return 1;
        case ParseResult::RUN:
            break;
    }
    return run_backup(options);
}

}  // namespace

int tavrix_main(int argc, char** argv) {
    return console_exit_status(tavrix_run(argc, argv));
}
