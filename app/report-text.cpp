// The report for people: one line for each entry, in the words /DEBUG and the manual page
// use, and the lines of what could not be done on standard error.
#include <string>

#include "app/format.h"
#include "app/report.h"
#include "console/console.h"

namespace {

/// The line of one entry: its name, what became of it, and the rest.
void trace(const std::string& name, const char* what, const std::string& more = std::string()) {
    console_printf("  %s%s%s\n", console_safe(name.c_str()).c_str(), what,
                   console_safe(more.c_str()).c_str());
}

/// The words of a file's line after its name: what became of it, then the rest.
const char* backup_words(const BackupResult& r, const RunOptions& options, std::string& more) {
    more.clear();
    if (options.list_only && r.outcome == Outcome::REFUSED) {  // foreseen
        more = r.reason;
        return ": would be refused: ";
    }
    if (r.outcome == Outcome::DONE) {
        more = r.note.empty() ? r.backup : r.backup + "; " + r.note;
        return " -> ";
    }
    if (r.outcome == Outcome::NOT_REGULAR) return ": passed over, a FIFO, socket or device";
    if (r.outcome == Outcome::UNCHANGED) {
        more = r.backup;
        return ": unchanged since ";
    }
    // What was left of a copy, if anything, follows the outcome's own words.
    more = backup_reason(r);
    return options.copy ? ": not copied, " : ": not renamed, ";
}

/// The words of a restore's line after the file's name: what became of it, then the rest.
const char* restore_words(const RestoreResult& r, const RunOptions& options, std::string& more) {
    const std::string current = r.current.empty()
                                    ? std::string()
                                    : (options.list_only ? "; the current file would become "
                                                         : "; the current file is now ") +
                                          r.current;
    switch (r.outcome) {
        case Outcome::DONE:
            more = r.from + current + (r.note.empty() ? "" : "; " + r.note);
            return " <- ";
        case Outcome::NO_BACKUP:
            more = options.restore_at < 0 ? "" : options.restore_number;
            return options.restore_at < 0 ? ": not restored, it has no backup"
                                          : ": not restored, it has no backup numbered ";
        case Outcome::CANCELLED:
            more.clear();
            return ": not restored, cancelled";
        default:
            more = r.reason + current;
            return options.list_only ? ": would not be restored, " : ": not restored, ";
    }
}

class TextReport : public Report {
   public:
    using Report::Report;
    void announce(const char* verb, const std::string& pattern) override {
        console_printf(" \xFE %s \"%s\"\n", verb, console_safe(pattern.c_str()).c_str());
    }
    void passed_over(const std::string& name, const std::string& why, Step) override {
        trace(name, ": passed over, ", why);
    }
    void backed_up(const std::string& name, const BackupResult& r) override {
        std::string more;
        const char* what = backup_words(r, options_, more);
        trace(name, what, more);
    }
    void kept(const std::string& name, Removal removed, const std::string& why, Step) override {
        const bool would = options_.list_only;
        if (removed == Removal::REMOVED) trace(name, would ? ": would be removed" : ": removed");
        if (removed == Removal::GONE) trace(name, ": gone meanwhile");
        if (removed == Removal::REFUSED)
            trace(name, would ? ": would not be removed, " : ": not removed, ", why);
    }
    void kept_by(const std::string& name, const std::string& rule) override {
        trace(name, ": kept: ", rule);
    }
    void restored(const std::string& name, const RestoreResult& r) override {
        std::string more;
        const char* what = restore_words(r, options_, more);
        trace(name, what, more);
    }
    void listed(const Original& o) override {
        trace(o.name, o.exists ? "" : ": gone");
        for (size_t i = 0; i < o.backups.size(); ++i) {
            const BackupEntry& b = o.backups[i];
            console_printf("    %s  %s  modified %s  changed %s%s\n",
                           console_safe(b.name.c_str()).c_str(), human_size(b.info.size).c_str(),
                           local_time(b.info.modified).c_str(), local_time(b.info.changed).c_str(),
                           i == 0 ? "  newest" : "");
        }
    }
    void made(const std::string& directory) override {
        trace(directory, options_.list_only ? ": would be made" : ": made");
    }
    void directory(const char* what, const std::string& words) override {
        console_printf("  the directory could not be %s: %s\n", what,
                       console_safe(words.c_str()).c_str());
    }
    void cancelled() override {
        console_set_fore(ATTR_NOTICE);
        console_printf(" * Cancelled *");
        console_set_fore(ATTR_NORMAL);
        console_printf("\n");
    }
    void summary(const std::string& line) override { console_printf("%s\n", line.c_str()); }
};

}  // namespace

std::unique_ptr<Report> make_text_report(const RunOptions& options) {
    return std::unique_ptr<Report>(new TextReport(options));
}

void tell_failure(const std::string& name, const char* what, const std::string& more) {
    console_error("Tavrix: %s%s%s\n", console_safe_error(name.c_str()).c_str(), what,
                  console_safe_error(more.c_str()).c_str());
}

void tell_failed_backup(const std::string& name, const BackupResult& r, const RunOptions& options) {
    std::string more;
    const char* what = backup_words(r, options, more);
    tell_failure(name, what, more);
}

void tell_failed_restore(const std::string& name, const RestoreResult& r,
                         const RunOptions& options) {
    std::string more;
    const char* what = restore_words(r, options, more);
    tell_failure(name, what, more);
}
