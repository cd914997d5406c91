// The report for scripts: JSON Lines, one object for each entry, backup and directory line,
// its fields in a fixed order; a name that is not UTF-8 keeps its bytes beside it.
#include <cstring>
#include <string>

#include "app/format.h"
#include "app/report.h"
#include "console/console.h"

std::unique_ptr<Report> make_text_report(const RunOptions& options);

namespace {

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

/// The line with the name of the step that failed, where one did.
JsonLine& step_field(JsonLine& line, Step step) {
    const char* name = step_name(step);
    return name ? line.text("step", name) : line;
}

/// The result of a file's backup, as /JSON names it.
const char* backup_result(const BackupResult& r, const RunOptions& options) {
    const bool would = options.list_only;
    switch (r.outcome) {
        case Outcome::DONE:
            return options.copy ? (would ? "would copy" : "copied")
                                : (would ? "would rename" : "renamed");
        case Outcome::NOT_REGULAR:
            return "passed over";
        case Outcome::UNCHANGED:
            return "unchanged";
        case Outcome::GONE:
            return "gone";
        case Outcome::CANCELLED:
            return "cancelled";
        case Outcome::REFUSED:
            return would ? "would be refused" : "refused";
        default:
            return "refused";
    }
}

class JsonReport : public Report {
   public:
    using Report::Report;
    void announce(const char*, const std::string&) override {}
    void passed_over(const std::string& name, const std::string& why, Step step) override {
        JsonLine line;
        line.text("name", name).text("result", "passed over").text("reason", why);
        step_field(line, step).write();
    }
    void backed_up(const std::string& name, const BackupResult& r) override {
        const std::string reason = r.outcome == Outcome::DONE          ? std::string()
                                   : r.outcome == Outcome::NOT_REGULAR ? "a FIFO, socket or device"
                                                                       : backup_reason(r);
        JsonLine line;
        line.text("name", name).text("backup", r.backup).text("result", backup_result(r, options_));
        line.text("reason", reason);
        step_field(line, r.outcome == Outcome::DONE ? Step::NONE : r.step)
            .text("note", r.note)
            .write();
    }
    void kept(const std::string& name, Removal removed, const std::string& why,
              Step step) override {
        const bool would = options_.list_only;
        const char* result = removed == Removal::REMOVED ? (would ? "would remove" : "removed")
                             : removed == Removal::GONE  ? "gone"
                                                         : (would ? "would be refused" : "refused");
        JsonLine line;
        line.text("name", name).text("result", result).text("reason", why);
        step_field(line, step).write();
    }
    void kept_by(const std::string& name, const std::string& rule) override {
        JsonLine().text("name", name).text("result", "kept").text("rule", rule).write();
    }
    void restored(const std::string& name, const RestoreResult& r) override {
        const bool dry = options_.list_only;
        const char* result = r.outcome == Outcome::DONE ? (dry ? "would restore" : "restored")
                             : r.outcome == Outcome::NO_BACKUP ? "no backup"
                             : r.outcome == Outcome::CANCELLED ? "cancelled"
                             : dry                             ? "would be refused"
                                                               : "refused";
        JsonLine line;
        line.text("name", name).text("backup", r.from);
        line.text("result", result).text("current", r.current);
        line.text("reason", r.reason);
        step_field(line, r.outcome == Outcome::DONE ? Step::NONE : r.step)
            .text("note", r.note)
            .write();
    }
    void listed(const Original& o) override {
        JsonLine()
            .text("original", o.name)
            .flag("exists", o.exists)
            .number("backups", static_cast<long long>(o.backups.size()))
            .write();
        for (size_t i = 0; i < o.backups.size(); ++i) {
            const BackupEntry& b = o.backups[i];
            JsonLine line;
            line.text("original", o.name).text("backup", b.name).number("number", b.number);
            line.number("size", static_cast<long long>(b.info.size));
            line.text("mtime", iso_time(b.info.modified)).text("changed", iso_time(b.info.changed));
            line.flag("newest", i == 0).write();
        }
    }
    void made(const std::string& directory) override {
        JsonLine()
            .text("directory", directory)
            .text("result", options_.list_only ? "would be made" : "made")
            .write();
    }
    void directory(const char* what, const std::string& words) override {
        JsonLine()
            .text("directory", std::string("could not be ") + what)
            .text("reason", words)
            .write();
    }
    void cancelled() override { JsonLine().text("result", "cancelled").write(); }
    void summary(const std::string&) override {}
};

}  // namespace

std::unique_ptr<Report> make_report(const RunOptions& options) {
    if (options.json) return std::unique_ptr<Report>(new JsonReport(options));
    return make_text_report(options);
}
